#include "MxModule/fileops/FileOperateAddOtherPlayerInfosThread.h"

#include "MxModule/fileops/FileAnalysis.h"
#include "MxModule/fileops/SongImport.h"
#include "MxModule/foundation/MxPublic.h"
#include "platform/files.h"

namespace {
const char kDefaultList[] = "\xC4\xAC\xC8\xCF\xC1\xD0\xB1\xED";  // 默认列表, the default list
}  // namespace

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

    int nCount = 0;
    for (POSITION pos = m_lstPlayList.GetHeadPosition(); pos;)
        nCount += m_lstPlayList.GetNext(pos).lstFilePath.GetCount();
    CList<OPERATEFILEINFO, OPERATEFILEINFO&> found;
    CWalkedFolders walked;
    for (POSITION pos = m_lstFolder.GetHeadPosition(); pos;) {
        CString folder = m_lstFolder.GetNext(pos);
        folder.TrimRight('\\');
        DWORD attributes = GetFileAttributesA(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        ULONGLONG qwTotal = 0;
        if (!WalkAudioFolder(walked, folder, nCount, qwTotal, &found)) return 0;
    }

    m_pCallBack->OnBeginImport(m_nID, static_cast<unsigned long>(nCount));
    int nDone = 0;
    for (POSITION pos = m_lstPlayList.GetHeadPosition(); pos;) {
        const PLAYLISTINFO& playlist = m_lstPlayList.GetNext(pos);
        m_pCallBack->OnBeginImportOneOfPlayList(m_nID, playlist.strPLName);
        for (POSITION file = playlist.lstFilePath.GetHeadPosition(); file;) {
            if (!ImportSong(playlist.lstFilePath.GetNext(file), playlist.strPLName, nDone, nCount)) return 0;
        }
        m_pCallBack->OnEndImportOneOfPlayList(m_nID, playlist.strPLName);
    }
    CString defaultList = CMxPublic::GbkLiteral(kDefaultList);
    for (POSITION pos = found.GetHeadPosition(); pos;) {
        if (!ImportSong(found.GetNext(pos).strPath, defaultList, nDone, nCount)) return 0;
    }
    m_pCallBack->OnEndImport(m_nID);
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
        mxfileops::SONGTAGS song = mxfileops::ReadSongTags(strPath);
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
