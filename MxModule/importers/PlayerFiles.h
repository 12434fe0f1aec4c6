// Small tools the readers of other players share: listing a folder, walking an XML element's children,
// COM for the calling thread and the "installed but nothing found" message.
#pragma once

#include <functional>

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

// Tells the window that the player is installed but gave no playlist; the receiver deletes the block.
inline void PostNoPlayList(HWND hWnd, LPCSTR pszPlayer, const CString& strVersion) {
    if (!hWnd) return;
    CString* pBlock = new CString[2];
    pBlock[0] = pszPlayer;
    pBlock[1] = strVersion;
    if (!PostMessageA(hWnd, WM_MX_FIND_PLAYER_NO_LIST, 0, reinterpret_cast<LPARAM>(pBlock))) delete[] pBlock;
}

// Whether the path names an existing file (not a folder).
inline bool IsExistingFile(const CString& strPath) {
    DWORD dwAttributes = GetFileAttributesA(strPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace mxplayers
