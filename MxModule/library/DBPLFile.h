// One playlist's ".upl" file: 10-byte entries (position number, song ID, state), kept open for the
// life of the object. The playlist order is ascending position number, not file order; freed entries
// are reused lowest offset first.
#pragma once

#include <map>
#include <set>
#include <vector>

#include "MxModule/MxExport.h"
#include "MxModule/foundation/MxFile.h"
#include "platform/collections.h"

class CDBCore;

class MX_TESTABLE CDBPLFile {
public:
    // strFolder is the user database folder, ending in "\".
    explicit CDBPLFile(const CString& strFolder);
    ~CDBPLFile();
    CDBPLFile(const CDBPLFile&) = delete;
    CDBPLFile& operator=(const CDBPLFile&) = delete;

    // Opens and indexes the playlist; entries of songs the store no longer has are freed on disk at once.
    int Load(const CString& strName, const CDBCore& store);
    // The song IDs in playlist order (the list is emptied first).
    int GetSongIds(CList<int, int>& ids) const;
    int AddSong(int nSongId);
    // The song ID at a 1-based place, or -1.
    int GetSongIdAt(int nIndex) const;
    int RemoveAt(int nIndex, int nSongId);
    // Removes every entry of the song; the free entries at the end of the file are cut off.
    int RemoveSong(int nSongId);
    int Contains(int nSongId) const;
    // 1-based places; the song at nFrom takes place nTo and the songs between shift toward nFrom.
    int MoveSong(int nFrom, int nTo);
    // 0 when the file cannot be moved; it then stays open under the old name.
    int Rename(const CString& strOld, const CString& strNew);
    int GetCount() const { return int(m_arrPositions.size()); }

private:
    CString FilePath(const CString& strName) const;
    // False when the bytes did not reach the system (a full disk).
    bool WriteAt(DWORD dwOffset, const void* pData, UINT nSize);
    void FreeEntry(DWORD dwPosition);

    CString m_strFolder;
    CMxFile m_file;
    std::vector<DWORD> m_arrPositions;        // live position numbers, ascending
    std::map<DWORD, int> m_mapPositionToId;
    std::multimap<int, DWORD> m_mapIdToPositions;
    std::map<DWORD, DWORD> m_mapPositionToOffset;
    std::set<DWORD> m_setFree;                // offsets of free entries
    DWORD m_dwHighestPosition;
};
