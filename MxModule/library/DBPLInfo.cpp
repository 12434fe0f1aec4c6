#include "MxModule/library/DBPLInfo.h"

#include "MxModule/foundation/MxFile.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/LibraryFormat.h"

CDBPLInfo::CDBPLInfo(const CString& strFolder) : m_strPath(strFolder + mxlib::kPlaylistIndexFile), m_listNames(10) {}

int CDBPLInfo::Load() {
    m_listNames.RemoveAll();
    CMxFile file;
    if (GetFileAttributesA(m_strPath) != INVALID_FILE_ATTRIBUTES) {
        if (!file.Open(m_strPath, CFile::modeReadWrite | CFile::typeText)) return 0;
        CString line;
        while (file.ReadString(line)) m_listNames.AddTail(line);
        file.Close();
        return 1;
    }
    if (!file.Open(m_strPath, CFile::modeCreate | CFile::modeReadWrite | CFile::typeText)) return 0;
    m_listNames.AddTail(CMxPublic::GbkLiteral(mxlib::kDefaultPlaylist));
    file.WriteString(CMxPublic::GbkLiteral(mxlib::kDefaultPlaylist) + "\n");
    file.Flush();
    file.Close();
    return 1;
}

int CDBPLInfo::Save() {
    CMxFile file;
    if (!file.Open(m_strPath, CFile::modeCreate | CFile::modeReadWrite | CFile::typeText)) return 0;
    for (POSITION pos = m_listNames.GetHeadPosition(); pos;) file.WriteString(m_listNames.GetNext(pos) + "\n");
    file.Flush();
    file.Close();
    return 1;
}

int CDBPLInfo::GetAll(CList<CString, CString>* pList) const {
    if (!pList) return 0;
    for (POSITION pos = m_listNames.GetHeadPosition(); pos;) pList->AddTail(m_listNames.GetNext(pos));
    return 1;
}

int CDBPLInfo::Add(const CString& strName) {
    if (strName.IsEmpty()) return 0;
    m_listNames.AddTail(strName);
    return Save();
}

int CDBPLInfo::Delete(const CString& strName) {
    POSITION pos = strName.IsEmpty() ? nullptr : m_listNames.Find(strName);
    if (!pos) return 0;
    m_listNames.RemoveAt(pos);
    return Save();
}

int CDBPLInfo::Rename(const CString& strOld, const CString& strNew) {
    if (strOld.IsEmpty() || strNew.IsEmpty()) return 0;
    POSITION pos = m_listNames.Find(strOld);
    if (!pos) return 0;
    m_listNames.SetAt(pos, strNew);
    return Save();
}

int CDBPLInfo::Move(int nFrom, int nTo) {
    int count = m_listNames.GetCount();
    if (nFrom <= 0 || nTo <= 0 || nFrom == nTo || nFrom >= count) return 0;
    POSITION from = m_listNames.FindIndex(nFrom);
    CString name = m_listNames.GetAt(from);
    if (nFrom > nTo) m_listNames.InsertBefore(m_listNames.FindIndex(nTo), name);
    else if (nTo >= count) m_listNames.AddTail(name);
    else m_listNames.InsertAfter(m_listNames.FindIndex(nTo), name);
    m_listNames.RemoveAt(from);
    return Save();
}
