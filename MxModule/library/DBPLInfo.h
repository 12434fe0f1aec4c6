// The playlist index "playlist.idx": the playlist names in display order, one per line (CR LF on disk).
// The default playlist is always first and cannot be moved or displaced.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/collections.h"
#include "platform/text.h"

class MX_TESTABLE CDBPLInfo {
public:
    // strFolder is the user database folder, ending in "\".
    explicit CDBPLInfo(const CString& strFolder);
    // Reads the index, or creates it holding the default playlist; 0 if it can be neither read nor made.
    int Load();
    // A name that can be a playlist: it names its ".upl" file and is one line of the index.
    static BOOL IsValidName(const CString& strName);
    // Appends the names in order to *pList (not emptied first); 0 for a null list.
    int GetAll(CList<CString, CString>* pList) const;
    // Add and Rename refuse an invalid name; Delete and Rename refuse the default playlist. A change
    // that cannot be saved is undone.
    int Add(const CString& strName);
    int Delete(const CString& strName);
    int Rename(const CString& strOld, const CString& strNew);
    // 0-based indices; index 0 neither moves nor is displaced.
    int Move(int nFrom, int nTo);

private:
    int Save();

    CString m_strPath;
    CList<CString, CString> m_listNames;
};
