// The music library as the front end and the workers see it: one process-wide object that owns the
// song store and the playlists. Every operation holds m_csDBGuard for its whole length, so any thread
// may call it. Results: non-zero for success, 0 for failure; nothing throws.
#pragma once

#include <map>
#include <memory>

#include "MxModule/MxExport.h"
#include "MxModule/library/DBRecord.h"
#include "platform/threads.h"

class CDBCore;
class CDBPLInfo;
class CDBPLFile;

class MX_EXPORT CDBOperater {
public:
    static CDBOperater* Instance();
    virtual ~CDBOperater();
    CDBOperater(const CDBOperater&) = delete;
    CDBOperater& operator=(const CDBOperater&) = delete;

    // Opens the library and the playlists in the user database folder, creating what is missing.
    int InitLocalDataBase();

    // nUnused is not looked at.
    int AddSongInfo(DBRECORD* pRecord, int nUnused);
    int GetSongInfo(CString strPath, DBRECORD* pRecord);
    // Bit k of dwMask selects field k of DBRECORD.
    int UpdateSongInfo(CString strPath, DBRECORD* pRecord, DWORD dwMask);
    // Removes the song from every playlist and from the library; the first argument is not used.
    int DeleteSongInfo(CString strUnused, CString strPath);
    int CheckFileImportedByFileName(CString strPath);
    int CheckFileImportedBySongInfo(CString strArtist, CString strAlbum, DWORD dwFileLength);
    int CheckFileImportedBySongInfo2(CString strSong, CString strArtist, CString strAlbum, DWORD dwFileLength,
                                     CString& strPath);
    int IsFileAnalyzed(CString strPath);
    // An empty playlist name searches the whole library in song ID order; otherwise the playlist's songs
    // in its order with the limit and mode rules (limit -1: all; mode 1: the first nLimit matches; other
    // modes: the matches after the first nLimit). 0 for an unknown playlist (results untouched).
    int LocalSearch(CString strPlaylist, CList<CString, CString>* pKeywords, DBRECORDLIST& results, int nLimit, int nMode);

    int AddPlayList(CString strName);
    int RenamePlayList(CString strOld, CString strNew);
    int DeletePlayList(CString strName);
    int GetAllPlaylists(CList<CString, CString>* pList);
    // 0-based; the default playlist at 0 stays first.
    int MovePlaylist(int nFrom, int nTo);
    int AddSongInfo2Playlist(CString strPlaylist, CString strPath);
    // 1-based places.
    int MoveSongInfo(CString strPlaylist, int nFrom, int nTo);
    // Removes the song at a 1-based place; a song that leaves its last playlist leaves the library too.
    int RemoveSongInfoFromPlaylist(CString strPlaylist, int nIndex);
    // The same; nDeleted becomes 1 when the song left the library with it.
    int RemoveSongInfoFromPlaylist(CString strPlaylist, int nIndex, int& nDeleted);
    // Adds the songs of a legacy Access library ("LocalSearch.mdb" kept elsewhere) that the library does
    // not hold yet, at the end of the default playlist. The number added, or -1 when the table could not
    // be read to its end (strWhy: the driver's reason; the songs added before stay).
    int ImportLegacyDatabase(CString strPath, CString& strWhy);

    // The user database folder: application data + "\Tamborinebox\user_musicDB\".
    CString GetCurrentUserPath();

protected:
    CDBOperater();
    // Creates every level of a folder text that ends in "\"; 0 without ":" or when a level cannot be made.
    int CreateMultiDirectory(CString strFolder);

    static CCriticalSection m_csDBGuard;
    static std::unique_ptr<CDBOperater> m_pInstance;

private:
    int RemoveFromPlaylist(const CString& strPlaylist, int nIndex, int& nDeleted);
    CDBPLFile* FindPlaylist(const CString& strName);
    bool PlaylistNameTaken(const CString& strName, const CDBPLFile* pExcept) const;

    std::unique_ptr<CDBCore> m_pStore;
    std::unique_ptr<CDBPLInfo> m_pPlaylistInfo;
    std::map<CString, CDBPLFile*> m_mapPlaylists;
};
