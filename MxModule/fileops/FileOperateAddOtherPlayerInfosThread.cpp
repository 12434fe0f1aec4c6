#include "MxModule/fileops/FileOperateAddOtherPlayerInfosThread.h"

#include "MxModule/fileops/FileAnalysis.h"
#include "MxModule/fileops/SongImport.h"
#include "MxModule/foundation/MxPublic.h"
#include "platform/files.h"

CFileOperateAddOtherPlayerInfosThread::CFileOperateAddOtherPlayerInfosThread(
    const CList<PLAYLISTINFO, PLAYLISTINFO&>* pPlaylists, const CStringList* pFolders) {
    if (pPlaylists) {
        for (POSITION pos = pPlaylists->GetHeadPosition(); pos;) {
            PLAYLISTINFO copy = pPlaylists->GetNext(pos);
            m_lstPlayList.AddTail(copy);
        }
    }
    if (pFolders) m_lstFolder.AddTail(const_cast<CStringList*>(pFolders));
}

int CFileOperateAddOtherPlayerInfosThread::Run(int bOwnThread) {
    if (IsStopped()) return 0;
    if (m_strDestDirectory.IsEmpty()) return Failed(bOwnThread, FOR_NO_DEST_DIRECTORY);
    if (m_lstPlayList.IsEmpty() && m_lstFolder.IsEmpty()) return Failed(bOwnThread, FOR_NO_FILE);

    ImportPlaylistsAndFolders(m_lstPlayList, m_lstFolder, [this](const CString& strPath, const CString& strPLName, int& nDone, int nCount) {
        return ImportSong(strPath, strPLName, nDone, nCount);
    });
    return 0;
}

bool CFileOperateAddOtherPlayerInfosThread::ImportSong(const CString& strPath, const CString& strPLName,
                                                       int& nDone, int nCount) {
    if (IsStopped()) return false;
    ++nDone;
    int nPercent = nCount > 0 ? static_cast<int>(static_cast<long long>(nDone) * 100 / nCount) : 100;
    m_pCallBack->OnBeginImportOneOfFile(m_nID, strPath);
    CString path = strPath;
    // A playlist may name a file that is gone or lies on a drive this machine does not have: it is
    // reported as not found (no tags can be read from it), never passed over in silence.
    if (GetFileAttributesA(strPath) == INVALID_FILE_ATTRIBUTES) {
        m_pCallBack->OnFileOperateError(m_nID, strPath, "", FOR_FILE_NOT_FOUND, strPLName, "");
    } else {
        mxfileops::SONGTAGS song = mxfileops::ReadSongTags(strPath, 0);
        path = song.strPath;
        if (!song.bRead) {
            m_pCallBack->OnFileOperateError(m_nID, path, "", mxfileops::UnreadableReason(path), strPLName,
                                            "");
        } else if (song.bDRM) {
            m_pCallBack->OnFileOperateError(m_nID, path, "", FOR_DRM_PROTECTED, strPLName, "");
        } else {
            if (song.bScriptCommand)
                m_pCallBack->OnFileOperateError(m_nID, path, "", FOR_SCRIPT_COMMANDS, strPLName, "");
            CString imported = GetImportedPath(path);
            if (!imported.IsEmpty())
                m_pCallBack->OnFileOperateError(m_nID, path, imported, FOR_ALREADY_IMPORTED, strPLName, "");
            else if (!mxfileops::AddSongRecord(song))
                m_pCallBack->OnFileOperateError(m_nID, path, path, FOR_DB_WRITE_FAILED, strPLName, "");
        }
    }
    m_pCallBack->OnEndImportOneOfFile(m_nID, path, strPLName, nPercent);
    return true;
}
