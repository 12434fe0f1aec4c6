// The library store: one record per song file in "LocalSearch.smdb", mirrored byte for byte in
// "LocalSearch.bkk". Both files stay open; every change is written in place to both before the call
// returns, under the state byte of each file, so that an interrupted write is repaired at the next open
// from whichever file is consistent. Only each record's path, ID and place are kept in memory; its text
// is read from the file when needed.
//
// Not thread-safe: the facade serialises every call under its lock.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "MxModule/MxExport.h"
#include "MxModule/foundation/MxFile.h"
#include "MxModule/library/DBRecord.h"

// A piece of a library file that could not be read, kept for recovery: where it was and its bytes.
struct DAMAGE {
    DWORD dwOffset;
    std::string bytes;
};

class MX_TESTABLE CDBCore {
public:
    // strFolder is the user database folder, ending in "\".
    explicit CDBCore(const CString& strFolder);
    ~CDBCore();
    CDBCore(const CDBCore&) = delete;
    CDBCore& operator=(const CDBCore&) = delete;

    // Opens, repairs and loads both files; 0 when a file cannot be opened or the main file is shorter
    // than its header.
    int OpenLibrary();
    // 1 added; 0 for an empty FileName or a path already present (in any letter case).
    int AddRecord(DBRECORD* pRecord);
    // 1 with every field (Type lower-cased); 0 for an empty or unknown path or an unreadable block.
    int GetRecord(CString strPath, DBRECORD* pRecord);
    // Rewrites the fields whose mask bit is set; 0 for an unknown path, or an empty new FileName.
    int UpdateRecord(CString strPath, DBRECORD* pRecord, DWORD dwMask);
    int DeleteRecord(CString strPath);
    int DeleteRecordById(int nId);
    int GetRecordId(CString strPath, int* pId);
    // Keyword search over the whole library (pIds null) or over the given song IDs with the limit and
    // mode rules; the results list is emptied first. Always 1.
    int Search(const CList<int, int>* pIds, CList<CString, CString>* pKeywords, DBRECORDLIST& results, int nLimit,
               int nMode);
    int IsImportedByFileName(CString strPath);
    int IsImportedBySongInfo(CString strArtist, CString strAlbum, DWORD dwFileLength);
    int IsImportedBySongKey(CString strSong, CString strArtist, CString strAlbum, DWORD dwFileLength, CString& strPath);
    int IsAnalyzed(CString strPath);
    // Decodes the block at dwOffset into pRecord (fields that cannot be decoded keep their values);
    // 1 when all 19 fields were decoded.
    int ReadRecord(DWORD dwOffset, DBRECORD* pRecord, int* pId = nullptr, DWORD* pL = nullptr, DWORD* pS = nullptr);

    // Stores the rows of a legacy Access library ("LocalSearch.mdb") and lists them in the default
    // playlist, the first position number 1. Always 1.
    int ImportLegacyDatabase(CString strPath);
    // AddRecord, then one entry of the song in the open playlist file at position nPosition; 0 (no entry)
    // when the record was not added.
    int AddImportedRecord(DBRECORD* pRecord, CMxFile* pPlaylist, int nPosition);

    // True when the song ID names a record (the playlists drop entries of vanished songs).
    bool HasSongId(int nId) const;
    int GetHighestId() const { return m_nHighestId; }
    int GetRecordCount() const { return int(m_mapByPath.size()); }

    // For tests: called after every write and flush of a marked write and after every truncation,
    // with the number of the step (from 1, counted over the life of the object).
    static void (*s_pfnWriteStepHook)(int nStep);

private:
    struct SongEntry {
        CString strPath;     // FileName as stored
        DWORD dwOffset;      // its block
        int nId;
        int nAnalyzed;       // -1 until an add, update or search tells; then 0 or 1
        int nAliases;        // further IDs and offsets of the same path met at load
    };
    typedef std::map<CString, SongEntry>::iterator EntryIt;

    // Writes the ranges to the main file and then the mirror, each between its busy and clean marks;
    // false (last error set) when the change is not in the library because a write failed.
    bool WriteMarked(const std::vector<std::pair<DWORD, std::string>>& ranges);
    // Copies the good file over one a failed write left busy; false while that copy fails too.
    bool Heal();
    void Step();
    bool WriteFreshPair();
    // A new pair of files, filled from a legacy library when one lies beside them; 0 when not written.
    int StartFresh();
    // ImportLegacyDatabase's work: false, with the reason, when the table was not read to its end.
    bool ImportLegacyRows(const CString& strPath, CString& strWhy);
    bool OpenPair();
    void ClosePair();
    int Load();
    // Makes the missing file of the pair from the lone one's checked blocks.
    bool RestoreMissingFile(const CString& strLone, const CString& strMissing);
    // Brings the open pair to the same bytes from whichever file is clean.
    bool RepairPair();
    bool CopyInto(CMxFile& src, CMxFile& dst);
    // A clean library image of data's blocks: impossible sizes end it, live blocks that do not decode
    // become free; what is taken out goes to damage.
    static std::string SalvagedImage(const std::string& data, std::vector<DAMAGE>& damage);
    // Appends the pieces of strFile that could not be kept in the library to the side file and logs
    // them; false when they could not be kept (nothing may then be written over them).
    bool KeepDamage(const CString& strFile, const std::vector<DAMAGE>& damage);
    // Keeps the bytes from dwFrom to the end, which loading could not read, in a side file, then cuts
    // both files there, so that blocks added later are reached by the next load.
    bool SetAsideDamage(DWORD dwFrom, DWORD dwLength);
    void ClearIndexes();
    // Finds room for a payload of N bytes: first free block by offset with enough capacity, else the end
    // of the file; fills the offset and the slack.
    void PlaceBlock(DWORD N, DWORD& dwOffset, DWORD& dwSlack, bool& bReused);
    std::string BuildBlock(int nId, const DBRECORD& rec, DWORD dwSlack) const;
    void IndexSongKey(const DBRECORD& rec, DWORD dwOffset);
    void UnindexSongKey(DWORD dwOffset);
    void RemoveEntry(EntryIt it);
    void TrimTail();
    EntryIt Find(const CString& strPath);

    CString m_strMainPath;
    CString m_strBackupPath;
    CMxFile m_fileMain;
    CMxFile m_fileBackup;

    std::map<CString, SongEntry> m_mapByPath;             // lower path: path, offset, ID, analysed flag
    std::map<DWORD, const CString*> m_mapOffsetToPath;    // block offset -> lower path (a key of m_mapByPath)
    std::map<int, const CString*> m_mapIdToPath;          // song ID -> lower path
    std::map<CString, DWORD> m_mapSongKey;                // song key -> block offset (filled as records are met)
    std::map<DWORD, CString> m_mapOffsetToKey;            // block offset -> song key
    std::map<DWORD, DWORD> m_mapFreeBlocks;               // block offset -> capacity
    std::vector<DWORD> m_arrBlocks;                       // every block's offset, in file order
    int m_nHighestId;
    DWORD m_dwFileEnd;                                    // the main file's length
    int m_nSteps;
    CMxFile* m_pStale;                                    // a file a failed write left busy, or null
    std::vector<char> m_scratch;                          // a record's payload while it is decoded
};

// The path's name without folder and extension: the title a record gets when it has none.
MX_TESTABLE CString TitleFromPath(const CString& strPath);
// What a new record shows for texts left empty: the title from the file name, 未知 as artist and album,
// Unknow as genre name. Analysis fills a record it rewrites by the same rule.
MX_TESTABLE void FillEmptyTexts(DBRECORD& rec);
// Lower case, multibyte-aware: the form in which paths are compared.
MX_TESTABLE CString LowerPath(const CString& strPath);
