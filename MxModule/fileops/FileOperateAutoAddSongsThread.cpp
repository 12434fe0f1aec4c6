#include "MxModule/fileops/FileOperateAutoAddSongsThread.h"

#include "MxModule/fileops/FileAnalysis.h"
#include "MxModule/fileops/SongImport.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/importers/OtherPlayerInfo.h"
#include "platform/files.h"
#include "platform/shell.h"

namespace {
// System and program folders hold no music of the user's, and skipping them keeps a disk's search short.
bool IsExcludedFolder(const CString& strName) {
    static const char* const kExcluded[] = {"windows", "winnt", "Program Files", "Documents and Settings"};
    for (const char* pszName : kExcluded) {
        if (strName.CompareNoCase(pszName) == 0) return true;
    }
    return false;
}

bool IsMusicName(const CString& strName) {
    // music, song, album
    static const char* const kParts[] = {
        "\xD2\xF4\xC0\xD6", "\xB8\xE8", "\xD7\xA8\xBC\xAD", "MUSIC", "SONG", "ALBUM"};
    for (const char* pszPart : kParts) {
        if (CMxPublic::FindNoCase(strName, CMxPublic::GbkLiteral(pszPart)) >= 0) return true;
    }
    return false;
}
}  // namespace

int CFileOperateAutoAddSongsThread::Run(int bOwnThread) {
    if (IsStopped()) return 0;
    if (m_strDestDirectory.IsEmpty()) return Failed(bOwnThread, FOR_NO_DEST_DIRECTORY);

    CList<OTHERPLAYERINFO, OTHERPLAYERINFO&> players;
    CMxPublic::FindOtherPlayerInfo(&players, nullptr, nullptr);
    if (IsStopped()) return 0;
    CStringList folders;
    CList<PLAYLISTINFO, PLAYLISTINFO&> playlists;
    for (POSITION pos = players.GetHeadPosition(); pos;) {
        OTHERPLAYERINFO& player = players.GetNext(pos);
        folders.AddTail(&player.lstMusicPath);
        for (POSITION list = player.lstPlayList.GetHeadPosition(); list;)
            playlists.AddTail(player.lstPlayList.GetNext(list));
        if (IsStopped()) return 0;
    }

    // Both special folders go in even when missing, so that there is always something to walk.
    folders.AddTail(CMxPublic::GetMusicBoxDir(CSIDL_DESKTOP));
    folders.AddTail(CMxPublic::GetMusicBoxDir(CSIDL_MYMUSIC));
    CWalkedFolders searched;
    for (char cLetter = 'A'; cLetter <= 'Z' && !IsStopped(); ++cLetter) {
        CString drive;
        drive.Format("%c:", cLetter);
        if (CMxPublic::IsLocalDriver(drive) == 1 && searched.Enter(drive + "\\")) SearchMusicFolders(searched, drive, folders, bOwnThread);
    }

    ImportPlaylistsAndFolders(playlists, folders, [this](const CString& strPath, const CString& strPLName, int& nDone, int nCount) {
        return ImportSong(strPath, strPLName, nDone, nCount);
    });
    return 0;
}

void CFileOperateAutoAddSongsThread::SearchMusicFolders(CWalkedFolders& searched, const CString& strFolder,
                                                        CStringList& folders, int bOwnThread) {
    if (IsStopped()) return;
    if (bOwnThread) m_pCallBack->OnImportSearching(m_nID, strFolder);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(strFolder + "\\*.*", &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        CString name = data.cFileName;
        if (name == "." || name == "..") continue;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        // Links are not followed: one may lead back up, or to a whole other disk.
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        if (IsExcludedFolder(name)) continue;
        CString path = strFolder + "\\" + name;
        if (!searched.Enter(path)) continue;  // a folder reached again (a mounted folder seen twice)
        if (IsMusicName(name))
            folders.AddTail(path);
        else
            SearchMusicFolders(searched, path, folders, bOwnThread);
    } while (!IsStopped() && FindNextFileA(find, &data));
    FindClose(find);
}

bool CFileOperateAutoAddSongsThread::ImportSong(const CString& strPath, const CString& strPLName, int& nDone,
                                                int nCount) {
    if (IsStopped()) return false;
    ++nDone;
    int nPercent = nCount > 0 ? static_cast<int>(nDone * 100.0 / nCount) : 100;
    // A playlist may name a file that is gone or lies on a drive this machine does not have: reported,
    // as no record can be made of it.
    DWORD attributes = GetFileAttributesA(strPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        m_pCallBack->OnFileOperateError(m_nID, strPath, "", FOR_FILE_NOT_FOUND, strPLName, "");
        return true;
    }
    mxfileops::SONGTAGS song = mxfileops::ReadSongTags(strPath, 0);
    if (!song.bRead) {  // a playlist may name anything: only a song gets a record
        m_pCallBack->OnFileOperateError(m_nID, song.strPath, "", mxfileops::UnreadableReason(song.strPath), strPLName, "");
        return true;
    }
    if (song.bDRM) {
        m_pCallBack->OnFileOperateError(m_nID, song.strPath, "", FOR_DRM_PROTECTED, strPLName, "");
        return true;
    }
    if (song.bScriptCommand)
        m_pCallBack->OnFileOperateError(m_nID, song.strPath, "", FOR_SCRIPT_COMMANDS, strPLName, "");
    CString imported = GetImportedPath(song.strPath);
    if (!imported.IsEmpty()) {
        m_pCallBack->OnFileOperateError(m_nID, song.strPath, imported, FOR_ALREADY_IMPORTED, strPLName, "");
        return true;
    }
    m_pCallBack->OnBeginImportOneOfFile(m_nID, song.strPath);
    if (!mxfileops::AddSongRecord(song))
        m_pCallBack->OnFileOperateError(m_nID, song.strPath, song.strPath, FOR_DB_WRITE_FAILED, strPLName,
                                        "");
    m_pCallBack->OnEndImportOneOfFile(m_nID, song.strPath, strPLName, nPercent);
    return true;
}
