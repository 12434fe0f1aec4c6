// The library store: one record per song file in "LocalSearch.smdb", mirrored byte for byte in
// "LocalSearch.bkk". Both files stay open; every change is written in place to both before the call
// returns, under the state byte of each file, so that an interrupted write is repaired at the next open
// from whichever file is consistent. Memory holds a few fixed-size numbers per song (hashes of its path
// and song key, its ID and place); every text is read from the file when needed, and a hash that
// matches is confirmed by reading the path or key back from the song's block.
//
// Not thread-safe: the facade serialises every call under its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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
    // AddRecord, then one entry of the song at the end of the open playlist file with position nPosition:
    // 1 stored, 0 passed over (no path, or a path the library holds), -1 when the library or the
    // playlist could not be written (last error set).
    int AddImportedRecord(DBRECORD* pRecord, CMxFile* pPlaylist, int nPosition);

    // True when the song ID names a record (the playlists drop entries of vanished songs).
    bool HasSongId(int nId) const;
    int GetHighestId() const { return m_nHighestId; }
    int GetRecordCount() const { return int(m_nSongs); }

    // For tests: called after every write and flush of a marked write and after every truncation,
    // with the number of the step (from 1, counted over the life of the object).
    static void (*s_pfnWriteStepHook)(int nStep);
    // For tests: every path and song-key hash is masked with it; 0 makes them all collide.
    static uint64_t s_qwHashMask;

private:
    // One song: a path met at load or added, and the block that holds its record.
    struct SongEntry {
        uint64_t qwPathHash;  // of the lower path
        uint64_t qwKeyHash;   // of the song key it was last indexed under, while bKeyed
        DWORD dwOffset;       // its block
        int nId;
        signed char nAnalyzed;  // -1 until an add, update or search tells; then 0, 1 or kAnalyzedUnread
        bool bKeyed;    // the song key index names it (met since the open, and no later record of its key)
        bool bAliases;  // further IDs of the same path were met at load
        bool bLive;     // false: the slot is free for the next song
    };
    // A song ID and the slot of its song; kNoSlot once the ID has left (the entry stays until the
    // next compaction, so that the IDs stay sorted).
    struct SONGID {
        int nId;
        DWORD dwSlot;
    };
    // Open addressing over slots of m_arrEntries, found by one of the entry's hashes.
    struct HASHINDEX {
        std::vector<uint64_t> arrBuckets;
        DWORD dwCount = 0;
    };
    static constexpr size_t kNoBucket = ~size_t(0);
    static constexpr signed char kAnalyzedUnread = 2;  // met by a search: the record tells when asked
    static constexpr DWORD kNoSlot = 0xFFFFFFFF;

    // Writes the ranges to the main file and then the mirror, each between its busy and clean marks;
    // false (last error set) when the change is not in the library because a write failed.
    bool WriteMarked(const std::vector<std::pair<DWORD, std::string>>& ranges);
    // Copies the good file over one a failed write left busy; false while that copy fails too.
    bool Heal();
    void Step();
    bool WriteFreshPair();
    // A new pair of files, filled from a legacy library when one lies beside them; 0 when not written.
    int StartFresh();
    // Imports a legacy library being imported ("LocalSearch.mdb.importing"): deleted when its table was
    // read to the end, else set aside as "LocalSearch.mdb.unimported".
    void FinishLegacyImport();
    // ImportLegacyDatabase's work, the position numbers after the playlist's highest: false, with the
    // reason, when the table was not read to its end or a song could not be stored.
    bool ImportLegacyRows(const CString& strPath, CString& strWhy);
    CString Folder() const { return m_strMainPath.Left(m_strMainPath.ReverseFind('\\') + 1); }
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

    // The slot of the song whose lower path is strLower, or kNoSlot.
    DWORD FindLower(const CString& strLower);
    DWORD Find(const CString& strPath);
    // The hash of the path's lower case (ASCII folded here, other text through LowerPath).
    uint64_t LowerPathHash(const char* pText, size_t nLength);
    // The lower path read back from the block at dwOffset; false when it cannot be read.
    bool LowerPathAt(DWORD dwOffset, CString& strLower);
    // The song key of the record at the slot, as its last indexing saw it.
    std::string SongKeyAt(DWORD dwSlot);
    DWORD NewSlot(uint64_t qwPathHash, DWORD dwOffset, int nId, int nAnalyzed);
    void RemoveEntry(DWORD dwSlot);
    int DeleteSlot(DWORD dwSlot);
    // Indexes the slot under the song key (its hash given); another record's entry of the same key
    // gives way, as the last record met answers for a key.
    void IndexSongKey(DWORD dwSlot, uint64_t qwHash, const std::string& key);
    void IndexSongKey(DWORD dwSlot, const DBRECORD& rec);
    void UnindexSongKey(DWORD dwSlot);

    // Room for nCount slots without growing.
    void HashReserve(HASHINDEX& index, size_t nCount);
    void HashInsert(HASHINDEX& index, uint64_t SongEntry::*pHash, DWORD dwSlot);
    // The bucket of the first slot of that hash that accept takes, or kNoBucket.
    size_t HashFind(const HASHINDEX& index, uint64_t SongEntry::*pHash, uint64_t qwHash,
                    const std::function<bool(DWORD)>& accept);
    void HashErase(HASHINDEX& index, uint64_t SongEntry::*pHash, DWORD dwSlot);
    // The position in m_arrIds of the live ID, or -1.
    ptrdiff_t FindId(int nId) const;
    void SetId(int nId, DWORD dwSlot);
    void DropIdAt(size_t nPos);
    void TrimTail();

    CString m_strMainPath;
    CString m_strBackupPath;
    CMxFile m_fileMain;
    CMxFile m_fileBackup;

    std::vector<SongEntry> m_arrEntries;     // by slot
    std::vector<DWORD> m_arrFreeSlots;       // slots of deleted songs, for reuse
    DWORD m_nSongs;                          // live slots
    HASHINDEX m_indexPath;                   // slots by lower-path hash
    HASHINDEX m_indexKey;                    // slots by song-key hash, of the records met since the open
    std::vector<SONGID> m_arrIds;            // sorted by ID; aliases of a path point at its slot too
    size_t m_nIdHoles;                       // entries of m_arrIds whose ID has left
    std::map<DWORD, DWORD> m_mapFreeBlocks;  // block offset -> capacity
    std::vector<DWORD> m_arrBlocks;          // every block's offset, in file order
    int m_nHighestId;
    DWORD m_dwFileEnd;  // the main file's length
    int m_nSteps;
    CMxFile* m_pStale;            // a file a failed write left busy, or null
    std::vector<char> m_scratch;  // a record's payload while it is decoded
    std::string m_strFold;        // a path while it is folded for its hash
};

// The path's name without folder and extension: the title a record gets when it has none.
MX_TESTABLE CString TitleFromPath(const CString& strPath);
// What a new record shows for texts left empty: the title from the file name, 未知 as artist and album,
// Unknow as genre name. Analysis fills a record it rewrites by the same rule.
MX_TESTABLE void FillEmptyTexts(DBRECORD& rec);
// Lower case, multibyte-aware: the form in which paths are compared.
MX_TESTABLE CString LowerPath(const CString& strPath);
