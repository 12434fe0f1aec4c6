// What the readers of other players share: listing a folder, reading a file whole or line by line,
// walking an XML element's children, COM for the calling thread and the "installed but no playlist" message.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "MxModule/foundation/MxFile.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/XmlReader.h"
#include "MxModule/importers/OtherPlayerInfo.h"
#include "platform/files.h"
#include "platform/msxml.h"
#include "platform/shell.h"

namespace mxplayers {

// COM for the duration of a read; the platform counts nested initialisations.
struct CComScope {
    CComScope() { CoInitialize(nullptr); }
    ~CComScope() { CoUninitialize(); }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;
};

// Calls fn with the full path of each file (not folder) matching strFolder + "\" + strPattern.
inline void ForEachFile(const CString& strFolder, LPCSTR pszPattern, const std::function<void(const CString&, const CString&)>& fn) {
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(strFolder + "\\" + pszPattern, &data);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do {
        CString strName(data.cFileName);
        if (strName == "." || strName == ".." || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        fn(strFolder + "\\" + strName, strName);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
}

// The child elements of a node in document order, text and comments passed over.
inline void ForEachChildElement(IXMLDOMNode* pNode, const std::function<void(IXMLDOMNode*, const CString&)>& fn) {
    if (!pNode) return;
    CXmlPtr<IXMLDOMNodeList> children;
    if (pNode->get_childNodes(children.Out()) != S_OK || !children) return;
    long nCount = 0;
    children->get_length(&nCount);
    for (long i = 0; i < nCount; ++i) {
        CXmlNodePtr child;
        if (children->get_item(i, child.Out()) != S_OK || !child) continue;
        CString strName = XmlReader::Name(child.Get());
        if (strName.IsEmpty() || strName[0] == '#') continue;
        fn(child.Get(), strName);
    }
}

// Whether the path names an existing file (not a folder).
inline bool IsExistingFile(const CString& strPath) {
    DWORD dwAttributes = GetFileAttributesA(strPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether a path ends in a separator of its own (a GBK character's second byte may be 0x5C).
inline bool EndsWithBackslash(const CString& strPath) {
    return !strPath.IsEmpty() && strPath.ReverseFind('\\') == strPath.GetLength() - 1;
}

// A path of a list resolved as from the list's folder (a relative one never names a file near the
// program that reads the list).
inline CString ResolveListPath(const CString& strFolder, const CString& strSrc) {
    if (strSrc.IsEmpty()) return CString();
    CString strPath;
    if ((strSrc.GetLength() >= 2 && strSrc[1] == ':') || strSrc.Left(2) == "\\\\")
        strPath = strSrc;
    else if (strSrc[0] == '\\' || strSrc[0] == '/')
        strPath = strFolder.Left(2) + strSrc;
    else
        strPath = strFolder + "\\" + strSrc;
    char szFull[MAX_PATH];
    DWORD dwLength = GetFullPathNameA(strPath, MAX_PATH, szFull, nullptr);
    return dwLength == 0 || dwLength >= MAX_PATH ? CString() : CString(szFull);
}

// Player files are small; anything larger is not one of them and is not read.
const DWORD kMaxPlayerFile = 64u * 1024u * 1024u;

// The entries of one list looked at: more than any player's list holds, and a hostile list names the
// same file millions of times.
const int kMaxListEntries = 200000;

// Takes the paths of one list that the check (CMxPublic::CheckValidFile) accepts, checking each file once.
class CListPathTaker {
public:
    CListPathTaker(PLAYLISTINFO& info, int (*pfnValid)(CString)) : m_info(info), m_pfnValid(pfnValid) {}
    void operator()(const CString& strPath) {
        if (m_nLooked++ >= kMaxListEntries) return;
        auto it = m_mapChecked.find(strPath.str());
        if (it == m_mapChecked.end()) it = m_mapChecked.emplace(strPath.str(), m_pfnValid(strPath) != 0).first;
        if (it->second) m_info.lstFilePath.AddTail(strPath);
    }

private:
    PLAYLISTINFO& m_info;
    int (*m_pfnValid)(CString);
    int m_nLooked = 0;
    std::unordered_map<std::string, bool> m_mapChecked;
};

// The names in strFolder matching the pattern ("*", "*.ttbl"), "." and ".." left out; folders only or
// files only.
inline std::vector<CString> ListFolder(const CString& strFolder, LPCSTR pszPattern, bool bFolders) {
    std::vector<CString> names;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA(strFolder + "\\" + pszPattern, &data);
    if (hFind == INVALID_HANDLE_VALUE) return names;
    do {
        CString strName = data.cFileName;
        if (strName == "." || strName == "..") continue;
        if (((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == bFolders) names.push_back(strName);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return names;
}

// The whole file; false when it cannot be opened or read, or is too large to be a player's file.
inline bool ReadWholeFile(const CString& strPath, std::string& bytes) {
    bytes.clear();
    CMxFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) return false;
    DWORD dwLength = file.GetLength();
    if (dwLength == DWORD(-1) || dwLength > kMaxPlayerFile) return false;
    bytes.resize(dwLength);
    if (dwLength && file.Read(&bytes[0], dwLength) != dwLength) return false;
    return true;
}

// Calls onLine for each line of a text file, without its line end.
inline void ForEachLine(const CString& strPath, const std::function<void(const CString&)>& onLine) {
    CMxFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeText)) return;
    if (file.GetLength() > kMaxPlayerFile) return;  // no player's file: maybe one endless line
    CString strLine;
    while (file.ReadString(strLine)) {
        if (!strLine.IsEmpty() && strLine[strLine.GetLength() - 1] == '\r') strLine = strLine.Left(strLine.GetLength() - 1);
        onLine(strLine);
    }
}

// The path up to its last backslash; the path itself when it has none.
inline CString FolderOf(const CString& strPath) {
    int nSlash = strPath.ReverseFind('\\');
    return nSlash < 0 ? strPath : strPath.Left(nSlash);
}

// The player is installed but gave no playlist: its name and version go to the window, which deletes them.
inline void PostNoPlayList(HWND hWnd, LPCSTR pszGbkName, const CString& strVersion) {
    if (!hWnd) return;
    CString* pBlock = new CString[2];
    pBlock[0] = CMxPublic::GbkLiteral(pszGbkName);
    pBlock[1] = strVersion;
    if (!PostMessageA(hWnd, WM_MX_FIND_PLAYER_NO_LIST, 0, reinterpret_cast<LPARAM>(pBlock))) delete[] pBlock;
}

}  // namespace mxplayers
