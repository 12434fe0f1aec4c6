#include "MxModule/library/DBPLInfo.h"

#include <cstring>

#include "MxModule/foundation/MxFile.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/LibraryFormat.h"

CDBPLInfo::CDBPLInfo(const CString& strFolder) : m_strPath(strFolder + mxlib::kPlaylistIndexFile), m_listNames(10) {}

int CDBPLInfo::Load() {
    m_listNames.RemoveAll();
    CMxFile file;
    // A save killed between putting the old index away and the new one in place left the new one beside.
    CString fresh = m_strPath + mxlib::kNewFileSuffix;
    if (GetFileAttributesA(m_strPath) == INVALID_FILE_ATTRIBUTES && GetFileAttributesA(fresh) != INVALID_FILE_ATTRIBUTES) {
        MoveFileA(fresh, m_strPath);
    }
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
    if (file.GetFailure()) {
        file.Close();
        DeleteFileA(m_strPath);  // the next start makes it again
        return 0;
    }
    file.Close();
    return 1;
}

int CDBPLInfo::Save() {
    // The index is written whole beside the old one and put in its place only then, so a full disk or a
    // kill never leaves it empty or cut.
    CString fresh = m_strPath + mxlib::kNewFileSuffix;
    {
        CMxFile file;
        if (!file.Open(fresh, CFile::modeCreate | CFile::modeReadWrite | CFile::typeText)) return 0;
        for (POSITION pos = m_listNames.GetHeadPosition(); pos;) file.WriteString(m_listNames.GetNext(pos) + "\n");
        file.Flush();
        if (file.GetFailure()) {
            file.Close();
            DeleteFileA(fresh);
            return 0;
        }
    }
    if (!DeleteFileA(m_strPath) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        DeleteFileA(fresh);
        return 0;
    }
    return MoveFileA(fresh, m_strPath) ? 1 : 0;
}

BOOL CDBPLInfo::IsValidName(const CString& strName) {
    int length = strName.GetLength();
    if (length == 0) return FALSE;
    // Trailing dots and spaces are dropped from file names, so the file would carry another name.
    if (strName[length - 1] == '.' || strName[length - 1] == ' ') return FALSE;
    for (int i = 0; i < length; ++i) {
        BYTE c = BYTE(strName[i]);
        if (IsDBCSLeadByte(c) && i + 1 < length) {
            ++i;  // a trail byte may be '\' or '|' and is part of the character
            continue;
        }
        if (c < 0x20 || std::strchr("\\/:*?\"<>|", c)) return FALSE;
    }
    // Device names, which Windows keeps for its devices whatever extension follows.
    CString upper = strName;
    upper.MakeUpper();
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
        if (upper == device) return FALSE;
    }
    if (length == 4 && (upper.Left(3) == "COM" || upper.Left(3) == "LPT") && upper[3] >= '1' && upper[3] <= '9') return FALSE;
    return TRUE;
}

int CDBPLInfo::GetAll(CList<CString, CString>* pList) const {
    if (!pList) return 0;
    for (POSITION pos = m_listNames.GetHeadPosition(); pos;) pList->AddTail(m_listNames.GetNext(pos));
    return 1;
}

int CDBPLInfo::Add(const CString& strName) {
    if (!IsValidName(strName)) return 0;
    m_listNames.AddTail(strName);
    if (Save()) return 1;
    m_listNames.RemoveTail();
    return 0;
}

int CDBPLInfo::Delete(const CString& strName) {
    POSITION pos = strName.IsEmpty() ? nullptr : m_listNames.Find(strName);
    if (!pos || pos == m_listNames.GetHeadPosition()) return 0;  // the default playlist always exists
    POSITION before = pos;
    m_listNames.GetPrev(before);
    m_listNames.RemoveAt(pos);
    if (Save()) return 1;
    m_listNames.InsertAfter(before, strName);
    return 0;
}

int CDBPLInfo::Rename(const CString& strOld, const CString& strNew) {
    if (strOld.IsEmpty() || !IsValidName(strNew)) return 0;
    POSITION pos = m_listNames.Find(strOld);
    if (!pos || pos == m_listNames.GetHeadPosition()) return 0;
    m_listNames.SetAt(pos, strNew);
    if (Save()) return 1;
    m_listNames.SetAt(pos, strOld);
    return 0;
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
