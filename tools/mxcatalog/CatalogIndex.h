// The catalog: songs, videos and the lyric and picture files beside them, in one SQLite file with a
// full-text index over titles, artists, albums and file names. One writer (the refresh), any number of
// readers (the request threads), each reader on a connection of its own.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "CatalogRequest.h"

namespace mxcatalog {

// What the index holds of one file.
enum CatalogKind { KIND_UNREADABLE = 0, KIND_MP3 = 1, KIND_WMA = 2, KIND_VIDEO = 3, KIND_LYRIC = 4, KIND_PICTURE = 5 };

struct CATALOGROW {
    std::string strPath;  // host path
    int nKind = KIND_UNREADABLE;
    int64_t nSize = 0;
    int64_t nMtime = 0;   // nanoseconds
    std::string strTitle, strArtist, strAlbum;  // UTF-8; for a lyric file the title is its preview
    int nBitrate = 0, nDuration = 0, nWidth = 0, nHeight = 0;
};

struct REFRESHCOUNT {
    int nAdded = 0, nUpdated = 0, nRemoved = 0, nUnchanged = 0, nUnreadable = 0;
    int nFailed = 0;  // folders and entries that could not be read
    int nKept = 0;    // files not found again but kept, being below one of those
    std::vector<std::string> vecFailed;  // the first few, with their reasons
};

class CCatalogIndex {
public:
    CCatalogIndex() = default;
    ~CCatalogIndex();
    CCatalogIndex(const CCatalogIndex&) = delete;
    CCatalogIndex& operator=(const CCatalogIndex&) = delete;

    // Opens (creating) the index file; false with a reason.
    bool Open(const std::string& strDbPath, std::string& strError);
    // The folders served; each kept as its real path. False when one does not exist.
    bool SetRoots(const std::vector<std::string>& roots, std::string& strError);
    // Brings the index up to the folders: files whose size and modification time are unchanged are not
    // read again; new and changed files are read; files gone are dropped, unless they lie below something
    // the walk could not read. Stops early when *pStop.
    REFRESHCOUNT Refresh(const std::atomic<bool>* pStop = nullptr);
    // Puts rows as they are (the refresh's own step; benchmarks fill an index with it).
    bool PutRows(const std::vector<CATALOGROW>& rows);
    int64_t Count();

    std::vector<SONGITEM> SearchSongs(const std::string& strKeyword, int nLimit);
    // The indexed artist or title closest to a keyword that found nothing; empty when none is close.
    std::string Correction(const std::string& strKeyword);
    std::vector<LYRICITEM> FindLyrics(const std::string& strQuery, int nLimit);
    std::vector<VIDEOITEM> SearchVideos(const std::string& strKeyword, int nLimit);
    // Opens an indexed file for reading when its real path lies under a served folder: a file descriptor
    // (the caller closes it), its size and its real path; -1 otherwise.
    int OpenServable(int64_t nId, int64_t& nSize, std::string& strRealPath);
    // The other indexed files with the same name relative to their served folder as nId's file, one
    // folder after the other (copies of it when their size is the same; the caller checks that on the
    // files it opens).
    std::vector<int64_t> SameNameIds(int64_t nId);

    // Reads one file into a row (its metadata through the module's readers); false when the kind is not
    // one the catalog holds.
    static bool ReadFileRow(const std::string& strPath, int64_t nSize, int64_t nMtime, CATALOGROW& row);

private:
    sqlite3* Reader();
    void Release(sqlite3* db);
    bool UnderRoot(const std::string& strRealPath) const;
    bool PutRowsLocked(const std::vector<CATALOGROW>& rows);
    std::string ReadLyricFile(const std::string& strPath);

    std::string m_strDbPath;
    std::vector<std::string> m_vecRoots;
    std::mutex m_csWriter;
    sqlite3* m_pWriter = nullptr;
    std::mutex m_csReaders;
    std::vector<sqlite3*> m_vecIdle;
    std::vector<sqlite3*> m_vecAll;
    // Names for the correction, built when first needed and again after the index changed.
    std::mutex m_csNames;
    std::vector<std::string> m_vecNames;
    std::atomic<int> m_nGeneration{0};
    int m_nNamesGeneration = -1;
};

}  // namespace mxcatalog
