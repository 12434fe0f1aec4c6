#include "MxModule/library/DBOperater.h"

#include "MxModule/foundation/CriticalSectionGuard.h"
#include "MxModule/foundation/MxFile.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/DBCore.h"
#include "MxModule/library/DBPLFile.h"
#include "MxModule/library/DBPLInfo.h"
#include "MxModule/library/LibraryFormat.h"
#include "platform/shell.h"

CCriticalSection CDBOperater::m_csDBGuard;
std::unique_ptr<CDBOperater> CDBOperater::m_pInstance;

namespace {
// The user database folder; computed before the store exists, so the constructor can name its files.
CString UserDatabaseFolder() {
    CString folder;
    LPITEMIDLIST pidl = nullptr;
    if (SUCCEEDED(SHGetFolderLocation(nullptr, CSIDL_APPDATA, nullptr, 0, &pidl)) && pidl) {
        char path[MAX_PATH] = {};
        if (SHGetPathFromIDListA(pidl, path)) folder = path;
        LPMALLOC malloc = nullptr;
        if (SUCCEEDED(SHGetMalloc(&malloc)) && malloc) {
            malloc->Free(pidl);
            malloc->Release();
        }
    }
    return folder + mxlib::kUserDbFolder;
}

bool FileExists(const CString& path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }
}  // namespace

CDBOperater* CDBOperater::Instance() {
    CCriticalSectionGuard guard(&m_csDBGuard);
    if (!m_pInstance) m_pInstance.reset(new CDBOperater());
    return m_pInstance.get();
}

CDBOperater::CDBOperater() {
    CString folder = UserDatabaseFolder();
    m_pStore.reset(new CDBCore(folder));
    m_pPlaylistInfo.reset(new CDBPLInfo(folder));
}

CDBOperater::~CDBOperater() {
    for (auto& playlist : m_mapPlaylists) delete playlist.second;
    m_mapPlaylists.clear();
    m_pPlaylistInfo.reset();
    m_pStore.reset();
}

CString CDBOperater::GetCurrentUserPath() { return UserDatabaseFolder(); }

int CDBOperater::CreateMultiDirectory(CString strFolder) {
    int colon = strFolder.Find(':');
    if (colon < 0) return 0;
    for (int slash = strFolder.Find('\\', colon + 2); slash >= 0; slash = strFolder.Find('\\', slash + 1)) {
        if (!CreateDirectoryA(strFolder.Left(slash), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return 0;
    }
    return 1;
}

int CDBOperater::InitLocalDataBase() {
    CCriticalSectionGuard guard(&m_csDBGuard);
    CString folder = GetCurrentUserPath();
    CreateMultiDirectory(folder);
    // The store's files are held exclusively while the library is open: they keep a second process
    // (which fails here with error 32) away from the playlists too.
    // The default playlist exists before the store opens: a legacy library's import fills it.
    CString defaultList = folder + CMxPublic::GbkLiteral(mxlib::kDefaultPlaylist) + mxlib::kPlaylistExtension;
    if (!FileExists(defaultList)) {
        CMxFile file;
        if (file.Open(defaultList, CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary)) file.Close();
    }
    if (!m_pStore->OpenLibrary()) return 0;
    if (!m_pPlaylistInfo->Load()) return 0;
    for (auto& playlist : m_mapPlaylists) delete playlist.second;
    m_mapPlaylists.clear();
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA(folder + "*" + mxlib::kPlaylistExtension, &fd);
    if (find == INVALID_HANDLE_VALUE) return 1;
    do {
        CString file = fd.cFileName;
        if (file == "." || file == "..") continue;
        int dot = file.ReverseFind('.');
        CString name = dot >= 0 ? file.Left(dot) : file;
        auto playlist = std::make_unique<CDBPLFile>(folder);
        if (playlist->Load(name, *m_pStore) && !m_mapPlaylists.count(name)) m_mapPlaylists[name] = playlist.release();
    } while (FindNextFileA(find, &fd));
    FindClose(find);
    return 1;
}

int CDBOperater::AddSongInfo(DBRECORD* pRecord, int) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    return m_pStore->AddRecord(pRecord);
}

int CDBOperater::GetSongInfo(CString strPath, DBRECORD* pRecord) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    return m_pStore->GetRecord(strPath, pRecord);
}

int CDBOperater::UpdateSongInfo(CString strPath, DBRECORD* pRecord, DWORD dwMask) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    return m_pStore->UpdateRecord(strPath, pRecord, dwMask);
}

int CDBOperater::DeleteSongInfo(CString, CString strPath) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    int id = 0;
    if (!m_pStore->GetRecordId(strPath, &id)) return 0;
    for (auto& playlist : m_mapPlaylists) playlist.second->RemoveSong(id);
    return m_pStore->DeleteRecord(strPath);
}

int CDBOperater::CheckFileImportedByFileName(CString strPath) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    return m_pStore->IsImportedByFileName(strPath);
}

int CDBOperater::CheckFileImportedBySongInfo(CString strArtist, CString strAlbum, DWORD dwFileLength) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    return m_pStore->IsImportedBySongInfo(strArtist, strAlbum, dwFileLength);
}

int CDBOperater::CheckFileImportedBySongInfo2(CString strSong, CString strArtist, CString strAlbum, DWORD dwFileLength,
                                              CString& strPath) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    return m_pStore->IsImportedBySongKey(strSong, strArtist, strAlbum, dwFileLength, strPath);
}

int CDBOperater::IsFileAnalyzed(CString strPath) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    return m_pStore->IsAnalyzed(strPath);
}

int CDBOperater::LocalSearch(CString strPlaylist, CList<CString, CString>* pKeywords, DBRECORDLIST& results, int nLimit,
                             int nMode) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    if (strPlaylist.IsEmpty()) return m_pStore->Search(nullptr, pKeywords, results, -1, 1);
    CDBPLFile* playlist = FindPlaylist(strPlaylist);
    if (!playlist) return 0;
    CList<int, int> ids(10);
    if (!playlist->GetSongIds(ids)) return 0;
    return m_pStore->Search(&ids, pKeywords, results, nLimit, nMode);
}

CDBPLFile* CDBOperater::FindPlaylist(const CString& strName) {
    auto it = m_mapPlaylists.find(strName);
    return it == m_mapPlaylists.end() ? nullptr : it->second;
}

// Names that differ only in letter case ("Кино", "кино") name the same ".upl" file.
bool CDBOperater::PlaylistNameTaken(const CString& strName, const CDBPLFile* pExcept) const {
    CString folded = MxFoldCase(strName);
    for (const auto& playlist : m_mapPlaylists) {
        if (playlist.second != pExcept && MxFoldCase(playlist.first) == folded) return true;
    }
    return false;
}

int CDBOperater::AddPlayList(CString strName) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    if (!CDBPLInfo::IsValidName(strName) || PlaylistNameTaken(strName, nullptr)) return 0;
    CString path = GetCurrentUserPath() + strName + mxlib::kPlaylistExtension;
    // A file of that name that did not load is someone's songs: it is never emptied nor deleted here.
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_FILE_NOT_FOUND) return 0;
    CMxFile file;
    if (!file.Open(path, CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary)) return 0;
    file.Close();
    auto playlist = std::make_unique<CDBPLFile>(GetCurrentUserPath());
    if (!playlist->Load(strName, *m_pStore) || !m_pPlaylistInfo->Add(strName)) {
        playlist.reset();  // closes the file before it goes
        DeleteFileA(path);
        return 0;
    }
    m_mapPlaylists[strName] = playlist.release();
    return 1;
}

int CDBOperater::RenamePlayList(CString strOld, CString strNew) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    CDBPLFile* playlist = FindPlaylist(strOld);
    // The default list keeps its name; a name in use is refused: its file cannot be replaced, and two
    // lists would share one file.
    if (!playlist || strOld == CMxPublic::GbkLiteral(mxlib::kDefaultPlaylist) || !CDBPLInfo::IsValidName(strNew) ||
        PlaylistNameTaken(strNew, playlist) || !playlist->Rename(strOld, strNew)) {
        return 0;
    }
    if (!m_pPlaylistInfo->Rename(strOld, strNew)) {
        playlist->Rename(strNew, strOld);
        return 0;
    }
    m_mapPlaylists.erase(strOld);
    m_mapPlaylists[strNew] = playlist;
    return 1;
}

int CDBOperater::DeletePlayList(CString strName) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    CDBPLFile* playlist = FindPlaylist(strName);
    // A name of the index without a file (left by an earlier failure) can still be removed.
    if (strName == CMxPublic::GbkLiteral(mxlib::kDefaultPlaylist) || !m_pPlaylistInfo->Delete(strName)) return 0;
    if (!playlist) return 1;
    delete playlist;
    m_mapPlaylists.erase(strName);
    DeleteFileA(GetCurrentUserPath() + strName + mxlib::kPlaylistExtension);
    return 1;
}

int CDBOperater::GetAllPlaylists(CList<CString, CString>* pList) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    return m_pPlaylistInfo->GetAll(pList);
}

int CDBOperater::MovePlaylist(int nFrom, int nTo) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    return m_pPlaylistInfo->Move(nFrom, nTo);
}

int CDBOperater::AddSongInfo2Playlist(CString strPlaylist, CString strPath) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    int id = 0;
    CDBPLFile* playlist = FindPlaylist(strPlaylist);
    if (!m_pStore->GetRecordId(strPath, &id) || !playlist) return 0;
    return playlist->AddSong(id);
}

int CDBOperater::MoveSongInfo(CString strPlaylist, int nFrom, int nTo) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    CDBPLFile* playlist = FindPlaylist(strPlaylist);
    return playlist ? playlist->MoveSong(nFrom, nTo) : 0;
}

int CDBOperater::RemoveFromPlaylist(const CString& strPlaylist, int nIndex, int& nDeleted) {
    nDeleted = 0;
    CDBPLFile* playlist = strPlaylist.IsEmpty() ? nullptr : FindPlaylist(strPlaylist);
    if (!playlist) return 0;
    int id = playlist->GetSongIdAt(nIndex);
    if (id == -1) return 0;
    playlist->RemoveAt(nIndex, id);
    for (auto& other : m_mapPlaylists) {
        if (other.second->Contains(id)) return 1;
    }
    // The song has left its last playlist: it leaves the library too.
    nDeleted = m_pStore->DeleteRecordById(id);
    return nDeleted;
}

int CDBOperater::RemoveSongInfoFromPlaylist(CString strPlaylist, int nIndex) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    int deleted = 0;
    return RemoveFromPlaylist(strPlaylist, nIndex, deleted);
}

int CDBOperater::RemoveSongInfoFromPlaylist(CString strPlaylist, int nIndex, int& nDeleted) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    return RemoveFromPlaylist(strPlaylist, nIndex, nDeleted);
}
