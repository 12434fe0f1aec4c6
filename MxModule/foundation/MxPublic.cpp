#include "MxModule/foundation/MxPublic.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MxModule/fileops/FileOperateManager.h"
#include "MxModule/foundation/MxFile.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/version.h"

namespace {
bool IsUrlSafe(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return c != 0 && std::strchr("!$()*,-._", c) != nullptr;
}

// Code page round trip of a zero-terminated text: the dangling lead byte of a cut character disappears.
std::string RoundTrip(const std::string& text) {
    std::string in = text;
    in += '\0';
    int wide = MultiByteToWideChar(CP_ACP, 0, in.c_str(), -1, nullptr, 0);
    if (wide <= 0) return text;
    std::u16string w(size_t(wide), u'\0');
    MultiByteToWideChar(CP_ACP, 0, in.c_str(), -1, &w[0], wide);
    int narrow = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0) return text;
    std::string out(size_t(narrow), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, &out[0], narrow, nullptr, nullptr);
    return out;  // with its terminator
}

// The fixed file information of a program's version resource.
bool FixedFileInfo(const CString& strPath, VS_FIXEDFILEINFO& info) {
    DWORD dwHandle = 0;
    DWORD dwSize = GetFileVersionInfoSizeA(strPath, &dwHandle);
    if (dwSize == 0) return false;
    std::unique_ptr<BYTE[]> block(new BYTE[dwSize]);
    LPVOID pValue = nullptr;
    UINT uLen = 0;
    if (!GetFileVersionInfoA(strPath, dwHandle, dwSize, block.get()) ||
        !VerQueryValueA(block.get(), "\\", &pValue, &uLen) || uLen < sizeof info) {
        return false;
    }
    std::memcpy(&info, pValue, sizeof info);
    return true;
}

CString FourPartVersion(DWORD dwMS, DWORD dwLS) {
    CString strVersion;
    strVersion.Format("%d.%d.%d.%d", HIWORD(dwMS), LOWORD(dwMS), HIWORD(dwLS), LOWORD(dwLS));
    return strVersion;
}

// Each entry of a folder other than "." and "..", in the order the system lists them.
template <typename Visit>
void ForEachEntry(const CString& strFolder, Visit visit) {
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(strFolder + "\\*.*", &data);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do {
        if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) visit(data);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
}

// Links are not entered: a link to one of its own parents would make the walk endless.
bool IsFolderToEnter(const WIN32_FIND_DATAA& data) {
    const DWORD kProtected = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;  // the host's /proc and its like
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (data.dwFileAttributes & kProtected) != kProtected;
}

bool IsAudioByContent(const CString& strPath) {
    VelaPlayerFileType nClass = FILETYPE_UNKNOWN, nFormat = FILETYPE_UNKNOWN;
    CFileOperateManager::GetFileType(strPath, nClass, nFormat, 1);
    return nClass == FILETYPE_AUDIO;
}
}  // namespace

int CMxPublic::HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

CString CMxPublic::URLEncode(const CString& strText) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(size_t(strText.GetLength()) * 3);
    for (unsigned char c : strText.str()) {
        if (IsUrlSafe(c)) {
            out += char(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return CString(std::move(out));
}

CString CMxPublic::URLDecode(CString strText) {
    strText.Replace('+', ' ');
    const std::string& in = strText.str();
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '%' && i + 2 < in.size() && HexDigit(in[i + 1]) >= 0 && HexDigit(in[i + 2]) >= 0) {
            out += char(HexDigit(in[i + 1]) * 16 + HexDigit(in[i + 2]));
            i += 2;
        } else {
            out += in[i];
        }
    }
    return CString(std::move(out));
}

CString CMxPublic::UTF82GBDecode(CString& strText) {
    const std::string& in = strText.str();
    std::string bytes;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            bytes += in[i];
        } else if (i + 2 < in.size()) {
            char hex[3] = {in[i + 1], in[i + 2], '\0'};
            unsigned int value = 0;
            if (std::sscanf(hex, "%x", &value) == 1) bytes += char(value);
            i += 2;
        } else {
            break;  // a "%" without two bytes after it ends the text
        }
    }
    WCHAR wide[256];
    if (MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, wide, 256) == 0) return CString();
    char narrow[512];
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr) == 0 &&
        WideCharToMultiByte(936, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr) == 0) {
        return CString();
    }
    return CString(narrow);
}

CString CMxPublic::GetFileMD5(CString strPath) {
    CMxFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) return CString();
    const UINT kChunk = 102400;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kChunk]);
    if (!buffer) return CString();
    CMD5Digest md5;
    UINT n = 0;
    do {
        n = file.Read(buffer.get(), kChunk);
        md5.Update(buffer.get(), n);
    } while (n == kChunk);
    file.Close();
    BYTE digest[16];
    md5.Final(digest);
    CString hex;
    for (BYTE b : digest) hex.AppendFormat("%02X", b);
    return hex;
}

DWORD CMxPublic::GetFileLen(CString strPath) {
    CMxFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) return 0;
    DWORD length = file.GetLength();
    file.Close();
    return length == DWORD(-1) ? 0 : length;
}

int CMxPublic::FindNoCase(CString strText, CString strPart) {
    strText.MakeUpper();
    strPart.MakeUpper();
    return strText.Find(strPart);
}

int CMxPublic::MemCmpNoCase(const char* a, const char* b, int n) {
    for (int i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 32);
        if (y >= 'a' && y <= 'z') y = char(y - 32);
        if (x != y) return -1;
    }
    return 0;
}

void CMxPublic::CheckStringValidTail(char* pBuffer, int nLength) {
    if (!pBuffer || nLength <= 0) return;
    std::string repaired = RoundTrip(std::string(pBuffer, strnlen(pBuffer, size_t(nLength))));
    if (repaired.size() < size_t(nLength) + 1) std::memcpy(pBuffer, repaired.data(), repaired.size());
}

void CMxPublic::CheckStringValidTail(CString& strText) {
    std::string repaired = RoundTrip(strText.str());
    strText = repaired.c_str();
}

int CMxPublic::IsWebLink(CString strText) {
    strText.TrimLeft();
    if (strText.GetLength() < 3) return 0;
    char c = strText[0];
    if (((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && strText[1] == ':') return 0;
    return 1;
}

CString CMxPublic::GbkLiteral(const char* pszGbk) {
    if (!pszGbk) return CString();
    UINT acp = GetACP();
    if (acp == 936 || acp == 54936) return CString(pszGbk);
    static std::mutex lock;
    static auto* converted = new std::map<std::pair<const char*, UINT>, CString>();  // used until exit
    std::lock_guard<std::mutex> guard(lock);
    auto it = converted->find({pszGbk, acp});
    if (it != converted->end()) return it->second;
    CString text;
    int n = MultiByteToWideChar(936, 0, pszGbk, -1, nullptr, 0);
    if (n > 0) {
        std::u16string wide(size_t(n), u'\0');
        MultiByteToWideChar(936, 0, pszGbk, -1, &wide[0], n);
        int m = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
        if (m > 0) {
            LPSTR buffer = text.GetBuffer(m);
            WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, buffer, m, nullptr, nullptr);
            text.ReleaseBuffer();
        }
    }
    return converted->emplace(std::make_pair(pszGbk, acp), text).first->second;
}

CString CMxPublic::GetExeVersion(CString strPath) {
    VS_FIXEDFILEINFO info;
    return FixedFileInfo(strPath, info) ? FourPartVersion(info.dwFileVersionMS, info.dwFileVersionLS) : CString();
}

CString CMxPublic::GetInternalProductVersion(CString strPath) {
    VS_FIXEDFILEINFO info;
    return FixedFileInfo(strPath, info) ? FourPartVersion(info.dwProductVersionMS, info.dwProductVersionLS) : CString();
}

int CMxPublic::IsEmptyDirectory(CString strFolder) {
    int bEmpty = 1;
    ForEachEntry(strFolder, [&bEmpty](const WIN32_FIND_DATAA& data) {
        if (!(data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) bEmpty = 0;
    });
    return bEmpty;
}

int CMxPublic::RemoveMultiDirectory(CString strTop, CString strFolder) {
    if (strFolder.Find(':') < 0) return 0;
    while (strFolder.CompareNoCase(strTop) != 0) {
        if (!RemoveDirectoryA(strFolder)) return 0;
        int nSlash = strFolder.ReverseFind('\\');
        if (nSlash < 0) break;
        strFolder = strFolder.Left(nSlash);
    }
    return 1;
}

CString CMxPublic::GetMusicBoxDir(int nFolder) {
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(SHGetFolderLocation(nullptr, nFolder, nullptr, 0, &pidl)) || !pidl) {
        char szModule[MAX_PATH] = {0};
        GetModuleFileNameA(nullptr, szModule, MAX_PATH);
        CString strModule(szModule);
        int nSlash = strModule.ReverseFind('\\');
        return nSlash < 0 ? strModule : strModule.Left(nSlash);
    }
    char szPath[MAX_PATH] = {0};
    CString strPath;
    if (SHGetPathFromIDListA(pidl, szPath)) strPath = szPath;
    LPMALLOC pMalloc = nullptr;
    if (SUCCEEDED(SHGetMalloc(&pMalloc)) && pMalloc) {
        pMalloc->Free(pidl);
        pMalloc->Release();
    }
    // ReverseFind sees whole characters, so a trail byte 0x5C is never taken for the separator.
    if (!strPath.IsEmpty() && strPath.ReverseFind('\\') == strPath.GetLength() - 1) strPath = strPath.Left(strPath.GetLength() - 1);
    return strPath;
}

BOOL CMxPublic::GetDisksProperty(HANDLE hDevice, PSTORAGE_DEVICE_DESCRIPTOR pDevDesc) {
    if (!pDevDesc) return FALSE;
    STORAGE_PROPERTY_QUERY query;
    std::memset(&query, 0, sizeof query);
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    DWORD dwReturned = 0;
    return DeviceIoControl(hDevice, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, pDevDesc, pDevDesc->Size,
                           &dwReturned, nullptr);
}

int CMxPublic::IsLocalDriver(CString strDrive) {
    if (strDrive.IsEmpty()) return 0;
    char szRoot[] = {strDrive[0], ':', '\0'};
    if (GetDriveTypeA(szRoot) != DRIVE_FIXED) return 0;
    CString strVolume;
    strVolume.Format("\\\\?\\%c:", strDrive[0]);
    HANDLE hDevice = CreateFileA(strVolume, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hDevice == INVALID_HANDLE_VALUE) return 0;
    const DWORD kDescSize = 0x227;
    std::unique_ptr<BYTE[]> buffer(new BYTE[kDescSize]());
    auto* pDesc = reinterpret_cast<PSTORAGE_DEVICE_DESCRIPTOR>(buffer.get());
    pDesc->Size = kDescSize;
    int bLocal = GetDisksProperty(hDevice, pDesc) && pDesc->BusType != BusTypeUsb ? 1 : 0;
    CloseHandle(hDevice);
    return bLocal;
}

void CMxPublic::GetNeedSearchPaths(CList<CString, CString>* pList) {
    if (!pList) return;
    pList->RemoveAll();
    pList->AddTail(GetMusicBoxDir(CSIDL_DESKTOP));
    pList->AddTail(GetMusicBoxDir(CSIDL_MYMUSIC));
    for (char cLetter = 'A'; cLetter <= 'Z'; ++cLetter) {
        CString strDrive;
        strDrive.Format("%c:", cLetter);
        if (IsLocalDriver(strDrive) == 1) GetNeedSearchPaths(strDrive, pList);
    }
}

void CMxPublic::GetNeedSearchPaths(CString strFolder, CList<CString, CString>* pList) {
    if (!pList) return;
    // "music", "song", "album" in GBK, then in capitals
    static const char* const kKeywords[] = {"\xD2\xF4\xC0\xD6", "\xB8\xE8", "\xD7\xA8\xBC\xAD", "MUSIC", "SONG", "ALBUM"};
    ForEachEntry(strFolder, [&](const WIN32_FIND_DATAA& data) {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;
        CString strPath = strFolder + "\\" + data.cFileName;
        for (const char* pszKeyword : kKeywords) {
            if (std::strstr(data.cFileName, GbkLiteral(pszKeyword)) != nullptr) {
                pList->AddTail(strPath);
                return;
            }
        }
        if (IsFolderToEnter(data)) GetNeedSearchPaths(strPath, pList);
    });
}

int CMxPublic::CheckValidFile(CString strPath) {
    DWORD dwAttributes = GetFileAttributesA(strPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    return IsAudioByContent(strPath) ? 1 : 0;
}

bool CMxPublic::HoldsAudioBelow(CString strFolder) {
    std::vector<CString> pending{strFolder};
    int nBudget = 100000;
    bool bFound = false;
    while (!pending.empty() && !bFound && nBudget > 0) {
        CString strDir = pending.back();
        pending.pop_back();
        ForEachEntry(strDir, [&](const WIN32_FIND_DATAA& data) {
            if (bFound || --nBudget < 0) return;
            CString strPath = strDir + "\\" + data.cFileName;
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) bFound = IsAudioByContent(strPath);
            else if (IsFolderToEnter(data)) pending.push_back(strPath);
        });
    }
    return bFound;
}

void CMxPublic::CheckDownloadPathInfo(CString strFolder, DWORD& nCount) {
    ForEachEntry(strFolder, [&](const WIN32_FIND_DATAA& data) {
        CString strPath = strFolder + "\\" + data.cFileName;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (IsAudioByContent(strPath)) ++nCount;
        } else if (IsFolderToEnter(data)) {
            CheckDownloadPathInfo(strPath, nCount);
        }
    });
}
