// TTPlayer's playlists, for the discovery of other players: one .ttbl file per playlist. Its entries are
// not parsed field by field: the paths are found by their extensions, in single-byte and UTF-16 text.
#include <cstring>
#include <string>
#include <unordered_map>

#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/RegistryValue.h"
#include "MxModule/importers/PlayerFiles.h"

namespace {

const char kTTPlayer[] = "\xC7\xA7\xC7\xA7\xBE\xB2\xCC\xFD";  // TTPlayer's own name
const char kPrefix[] = "\xC7\xA7\xC7\xA7\xBE\xB2\xCC\xFD_";
const size_t kNameAt = 20;

// Whether the bytes at p spell ".mp3" or ".wma" in any case, one byte per character (nStep 1) or two
// (nStep 2, UTF-16 little-endian, the high bytes zero).
bool IsSongExtension(const unsigned char* p, size_t nStep) {
    static const char* const kExtensions[] = {".mp3", ".wma"};
    for (const char* pszExt : kExtensions) {
        bool bMatch = true;
        for (size_t i = 0; i < 4 && bMatch; ++i) {
            unsigned char c = p[i * nStep];
            if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
            bMatch = c == static_cast<unsigned char>(pszExt[i]) && (nStep == 1 || p[i * nStep + 1] == 0);
        }
        if (bMatch) return true;
    }
    return false;
}

// A path that is a drive letter's: its second character is ':'.
bool OnDrive(const CString& strPath) { return strPath.GetLength() > 1 && strPath[1] == ':'; }

}  // namespace

void CMxPublic::FindTTPlayer(OTHERPLAYERMAP* pMap, HWND hWnd) {
    if (!pMap) return;
    CString strProgram(std::string(registry_string<std::string>(
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\TTPlayer.exe\\", HKEY_LOCAL_MACHINE)));
    if (strProgram.IsEmpty()) return;
    CString strVersion = GetInternalProductVersion(strProgram);
    CList<CString, CString> lstFiles;
    GetTTPlayerPlayListFiles(mxplayers::FolderOf(strProgram) + "\\PlayList", &lstFiles);
    OTHERPLAYERINFO info;
    for (POSITION pos = lstFiles.GetHeadPosition(); pos;) ParseTTBLFile(lstFiles.GetNext(pos), &info.lstPlayList);
    if (info.lstPlayList.IsEmpty()) {
        mxplayers::PostNoPlayList(hWnd, kTTPlayer, strVersion);
        return;
    }
    pMap->SetAt(OPK_TTPLAYER, info);
}

void CMxPublic::GetTTPlayerPlayListFiles(CString strFolder, CList<CString, CString>* pList) {
    if (!pList) return;
    for (const CString& strName : mxplayers::ListFolder(strFolder, "*.ttbl", false)) pList->AddTail(strFolder + "\\" + strName);
}

void CMxPublic::ParseTTBLFile(CString strFile, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    std::string bytes;
    if (!pList || !mxplayers::ReadWholeFile(strFile, bytes) || bytes.size() < kNameAt) return;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t nSize = bytes.size();
    if (MemCmpNoCase(bytes.data(), "TTBL", 4) != 0) return;
    const size_t nNameBytes = size_t(p[16]) | size_t(p[17]) << 8 | size_t(p[18]) << 16 | size_t(p[19]) << 24;
    if (nNameBytes > nSize - kNameAt) return;
    std::u16string name;
    for (size_t i = 0; i + 1 < nNameBytes; i += 2) name += char16_t(p[kNameAt + i] | p[kNameAt + i + 1] << 8);
    std::string strName = MxWideToAnsi(name);
    strName.resize(std::strlen(strName.c_str()));
    PLAYLISTINFO info;
    info.strPLName = GetUniquePLName(GbkLiteral(kPrefix) + CString(strName));

    // Single-byte paths run from the byte after the previous zero through the extension. A path longer
    // than a Windows path cannot name a file and is not taken (nor copied).
    size_t nStart = 0;
    const auto full = [&info] { return info.lstFilePath.GetCount() >= mxplayers::kMaxListEntries; };
    for (size_t at = 0; at + 4 <= nSize && !full(); ++at) {
        if (at > 0 && p[at - 1] == 0) nStart = at;
        if (!IsSongExtension(p + at, 1) || at + 4 - nStart > MAX_PATH) continue;
        CString strPath(bytes.data() + nStart, int(at + 4 - nStart));
        if (OnDrive(strPath)) info.lstFilePath.AddTail(strPath);
    }
    // UTF-16 paths: the same, two bytes a character, from the character after the previous zero one;
    // each byte position starts a character sequence of its own parity.
    size_t nStarts[2] = {0, 1};
    std::unordered_map<std::string, bool> mapExists;  // each file looked up once
    for (size_t at = 0; at + 8 <= nSize && !full() && mapExists.size() < size_t(mxplayers::kMaxListEntries); ++at) {
        if (at >= 2 && p[at - 2] == 0 && p[at - 1] == 0) nStarts[at % 2] = at;
        if (!IsSongExtension(p + at, 2)) continue;
        size_t nFrom = nStarts[at % 2];
        if ((at + 8 - nFrom) / 2 > MAX_PATH) continue;
        std::u16string path;
        for (size_t i = nFrom; i < at + 8; i += 2) path += char16_t(p[i] | p[i + 1] << 8);
        CString strPath(MxWideToAnsi(path));
        if (!OnDrive(strPath)) continue;
        auto it = mapExists.find(strPath.str());
        if (it == mapExists.end()) it = mapExists.emplace(strPath.str(), GetFileAttributesA(strPath) != INVALID_FILE_ATTRIBUTES).first;
        if (it->second) info.lstFilePath.AddTail(strPath);
    }
    if (!info.lstFilePath.IsEmpty()) pList->AddTail(info);
}
