// Windows Media Player's playlists, for the discovery of other players: the WPL files of the user's
// application data, and the WPL files its library databases (".wmdb") mention. The databases are not
// parsed: they are searched for text ending in ".wpl", in single-byte and in UTF-16 form.
#include <memory>
#include <new>
#include <string>
#include <unordered_set>

#include "MxModule/foundation/MxFile.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/RegistryValue.h"
#include "MxModule/importers/PlayerFiles.h"

namespace {

const char kVersionValue[] = "SOFTWARE\\Microsoft\\MediaPlayer\\Installation Directory";
const char kDefaultListName[] = "WMP_[\xC4\xAC\xC8\xCF]";  // WMP_[默认]
const DWORD kMaxDatabase = 256u << 20;  // a larger file is no library database of a player

CString PlayerFolder(int nShellFolder) { return CMxPublic::GetMusicBoxDir(nShellFolder) + "\\Microsoft\\Media Player"; }

// The paths the databases mention: each looked at once; a user has dozens of playlists, a hostile
// database could name millions, so the mentions looked at and the list kept are bounded.
const int kMaxPlayListFiles = 1024;
struct MENTIONS {
    CList<CString, CString>* pList;
    std::unordered_set<std::string> seen;  // folded
};

// Kept: on a drive, no sample list of the player, an existing file, new.
void KeepMentionedPath(const CString& strPath, MENTIONS& m) {
    if (m.pList->GetCount() >= kMaxPlayListFiles || m.seen.size() >= size_t(mxplayers::kMaxListEntries)) return;
    if (strPath.GetLength() < 3 || strPath[1] != ':' || !m.seen.insert(MxFoldCase(strPath).str()).second) return;
    if (CMxPublic::FindNoCase(strPath, "\\Sample Playlists\\") >= 0) return;
    if (mxplayers::IsExistingFile(strPath)) m.pList->AddTail(strPath);
}

bool IsLetter(BYTE b, char c) { return b == BYTE(c) || b == BYTE(c - 'a' + 'A'); }

// Every text ending in ".wpl" that starts after a zero byte; a path never runs past MAX_PATH, so a
// longer run without a zero is no path.
void ScanSingleByte(const BYTE* p, DWORD n, MENTIONS& m) {
    for (DWORD i = 0; i + 4 <= n; ++i) {
        if (p[i] != '.' || !IsLetter(p[i + 1], 'w') || !IsLetter(p[i + 2], 'p') || !IsLetter(p[i + 3], 'l')) continue;
        DWORD nStart = i;
        while (nStart > 0 && p[nStart - 1] != 0 && i - nStart < MAX_PATH) --nStart;
        if (nStart > 0 && p[nStart - 1] != 0) continue;
        KeepMentionedPath(CString(std::string(reinterpret_cast<const char*>(p + nStart), i + 4 - nStart)), m);
    }
}

// The same for UTF-16 text, at any byte offset.
void ScanWide(const BYTE* p, DWORD n, MENTIONS& m) {
    for (DWORD i = 0; i + 8 <= n; ++i) {
        if (p[i] != '.' || p[i + 1] || !IsLetter(p[i + 2], 'w') || p[i + 3] || !IsLetter(p[i + 4], 'p') || p[i + 5] ||
            !IsLetter(p[i + 6], 'l') || p[i + 7])
            continue;
        DWORD nStart = i;
        while (nStart >= 2 && (p[nStart - 2] || p[nStart - 1]) && (i - nStart) / 2 < MAX_PATH) nStart -= 2;
        if (nStart >= 2 && (p[nStart - 2] || p[nStart - 1])) continue;
        std::u16string wide;
        for (DWORD k = nStart; k < i + 8; k += 2) wide += char16_t(p[k] | (p[k + 1] << 8));
        KeepMentionedPath(CString(MxWideToAnsi(wide)), m);
    }
}


}  // namespace

void CMxPublic::GetWMDBFiles(CList<CString, CString>* pList) {
    if (!pList) return;
    mxplayers::ForEachFile(PlayerFolder(CSIDL_LOCAL_APPDATA), "*.wmdb", [pList](const CString& strPath, const CString& strName) {
        if (strName.CompareNoCase("wmpfolders.wmdb") != 0) pList->AddTail(strPath);
    });
}

// The player may hold its databases open: they are read in place, shared, and never written.
void CMxPublic::GetWMPUserPlayListFiles(CList<CString, CString>* pDBFiles, CList<CString, CString>* pPLFiles) {
    if (!pDBFiles || !pPLFiles) return;
    MENTIONS mentions{pPLFiles, {}};
    for (POSITION pos = pPLFiles->GetHeadPosition(); pos;) mentions.seen.insert(MxFoldCase(pPLFiles->GetNext(pos)).str());
    for (POSITION pos = pDBFiles->GetHeadPosition(); pos;) {
        CMxFile file;
        if (!file.Open(pDBFiles->GetNext(pos), CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) continue;
        DWORD dwLength = file.GetLength();
        if (dwLength == DWORD(-1) || dwLength > kMaxDatabase) continue;
        std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[dwLength + 1]);
        if (!buffer) continue;
        DWORD dwRead = file.ReadHuge(buffer.get(), dwLength);
        file.Close();
        if (dwRead == DWORD(-1) || dwRead > dwLength) continue;
        ScanSingleByte(buffer.get(), dwRead, mentions);
        ScanWide(buffer.get(), dwRead, mentions);
    }
}

void CMxPublic::GetWMPDefaultPlayListFiles(CList<CString, CString>* pList) {
    if (!pList) return;
    mxplayers::ForEachFile(PlayerFolder(CSIDL_APPDATA), "*.wpl",
                           [pList](const CString& strPath, const CString&) { pList->AddTail(strPath); });
}

void CMxPublic::GetWMPPlayList(CString strFile, CList<PLAYLISTINFO, PLAYLISTINFO&>* pList) {
    if (!pList) return;
    mxplayers::CComScope com;
    CXmlPtr<IXMLDOMDocument> doc = XmlReader::CreateDocument();
    if (!doc || !XmlReader::Load(doc.Get(), strFile)) return;
    CXmlNodePtr smil = XmlReader::Select(doc.Get(), "smil");
    if (!smil) return;
    CXmlNodePtr head = XmlReader::Select(smil.Get(), "head");
    CXmlNodePtr title = XmlReader::Select(head.Get(), "title");
    CString strTitle = title ? XmlReader::Text(title.Get()) : CString();
    CXmlNodePtr body = XmlReader::Select(smil.Get(), "body");
    CXmlNodePtr seq = XmlReader::Select(body.Get(), "seq");
    if (!seq) return;

    PLAYLISTINFO info;
    info.strPLName = GetUniquePLName(strTitle.IsEmpty() ? GbkLiteral(kDefaultListName) : "WMP_" + strTitle);
    int nSlash = strFile.ReverseFind('\\');
    CString strFolder = nSlash < 0 ? CString() : strFile.Left(nSlash);
    mxplayers::CListPathTaker take(info, &CheckValidFile);
    mxplayers::ForEachChildElement(seq.Get(), [&](IXMLDOMNode* pNode, const CString& strName) {
        CString strSrc;
        if (strName != "media" || !XmlReader::Attribute(pNode, "src", strSrc)) return;
        CString strPath = mxplayers::ResolveListPath(strFolder, strSrc);
        if (!strPath.IsEmpty()) take(strPath);
    });
    if (!info.lstFilePath.IsEmpty()) pList->AddTail(info);
}

void CMxPublic::FindWMP(OTHERPLAYERMAP* pMap, HWND hWnd) {
    if (!pMap) return;
    CList<CString, CString> lstDatabases(10);
    GetWMDBFiles(&lstDatabases);
    if (lstDatabases.IsEmpty()) return;  // the player was never used

    CList<CString, CString> lstFiles(10);
    GetWMPUserPlayListFiles(&lstDatabases, &lstFiles);
    CList<CString, CString> lstDefault(10);
    GetWMPDefaultPlayListFiles(&lstDefault);
    for (POSITION pos = lstDefault.GetHeadPosition(); pos;) {
        CString strPath = lstDefault.GetNext(pos);
        bool bKnown = false;
        for (POSITION known = lstFiles.GetHeadPosition(); known && !bKnown;) bKnown = lstFiles.GetNext(known).CompareNoCase(strPath) == 0;
        if (!bKnown) lstFiles.AddTail(strPath);
    }

    OTHERPLAYERINFO info;
    for (POSITION pos = lstFiles.GetHeadPosition(); pos;) GetWMPPlayList(lstFiles.GetNext(pos), &info.lstPlayList);
    if (info.lstPlayList.IsEmpty()) {
        CString strFolder(std::string(registry_string<std::string>(kVersionValue, HKEY_LOCAL_MACHINE)).c_str());
        mxplayers::PostNoPlayList(hWnd, "Windows Media Player", GetInternalProductVersion(strFolder + "\\wmplayer.exe"));
        return;
    }
    pMap->SetAt(OPK_WMP, info);
}
