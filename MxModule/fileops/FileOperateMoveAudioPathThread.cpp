#include "MxModule/fileops/FileOperateMoveAudioPathThread.h"

#include <cstdlib>

#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/metadata/AudioFileInfo.h"
#include "platform/files.h"

int CFileOperateMoveAudioPathThread::Run(int bOwnThread) {
    if (IsStopped()) return 0;
    CString old;
    FileOperateResultCode nCode = CheckFolderMove(m_strOldPath, old, FOR_NOT_A_FOLDER);
    if (nCode != FOR_NONE) return Failed(bOwnThread, nCode);

    // The backslash belongs to the prefix: D:\Music2 is not inside D:\Music.
    const CString prefix = old + "\\";
    const CString destPrefix = m_strDestDirectory + "\\";
    CDBOperater* db = CDBOperater::Instance();
    DBRECORDLIST all, songs;
    db->LocalSearch("", nullptr, all, -1, 1);
    ULONGLONG total = 0;
    for (POSITION pos = all.GetHeadPosition(); pos;) {
        const DBRECORD& song = all.GetNext(pos);
        if (CMxPublic::FindNoCase(song.FileName, prefix) != 0) continue;
        // A song already in the new folder (one inside the old) stays as it is, under its own name.
        if (CMxPublic::FindNoCase(song.FileName, destPrefix) == 0) continue;
        total += std::strtoull(song.FileLength, nullptr, 10);
        songs.AddTail(song);
    }
    if (songs.IsEmpty()) {
        if (!bOwnThread) return FOR_NO_FILES_FOUND;
        m_pCallBack->OnFileOperateError(m_nID, old, "", FOR_NO_FILES_FOUND, "", "");
        return 0;
    }
    if (TooLittleSpaceForMove(old, total)) return Failed(bOwnThread, FOR_DISK_FULL, m_strDestDirectory);

    const int count = int(songs.GetCount());
    if (bOwnThread) m_pCallBack->OnBeginMoveMultiFiles(m_nID, static_cast<unsigned long>(count));
    // Emptied folders are removed up to the old folder itself, never above it.
    const CString top = old.ReverseFind('\\') < 0 ? CString() : old.Left(old.ReverseFind('\\'));
    int i = 0;
    for (POSITION pos = songs.GetHeadPosition(); pos;) {
        const DBRECORD& song = songs.GetNext(pos);
        if (IsStopped()) return 0;
        int percent = int(++i * 100.0 / count);
        const CString& source = song.FileName;
        AUDIOFILEINFO tags;
        tags.strTitle = song.Song;
        tags.strArtist = song.Artist;
        CString dest = MakeDestFileName(source, &tags, nullptr);
        if (dest.IsEmpty()) {
            m_pCallBack->OnFileOperateError(m_nID, source, "", FOR_NO_DEST_NAME, "", "");
            continue;
        }
        if (!CreateMultiDirectory(dest)) {
            m_pCallBack->OnFileOperateError(m_nID, source, dest, FOR_CREATE_FOLDER_FAILED, "", "");
            continue;
        }
        if (bOwnThread) m_pCallBack->OnBeginMoveOneOfMultiFiles(m_nID, source, dest);
        FileOperateResultCode failure = MoveFileA(source, dest) ? FOR_NONE : FOR_MOVE_FAILED;
        // The record follows the file at once, so that a stop or a crash further on leaves the two
        // agreeing. A library that refuses the new path keeps the old one, and the file goes back there.
        bool recorded = false;
        if (failure == FOR_NONE) {
            DBRECORD change;
            change.FileName = dest;
            recorded = db->UpdateSongInfo(source, &change, 1) != 0;
            if (!recorded && MoveFileA(dest, source)) failure = FOR_DB_WRITE_FAILED;
        }
        if (failure != FOR_NONE) {
            m_pCallBack->OnFileOperateError(m_nID, source, dest, failure, "", "");
            if (bOwnThread) m_pCallBack->OnEndMoveOneOfMultiFiles(m_nID, source, dest, percent);
            continue;
        }
        int slash = source.ReverseFind('\\');
        if (slash > 0) CMxPublic::RemoveMultiDirectory(top, source.Left(slash));
        if (bOwnThread) m_pCallBack->OnEndMoveOneOfMultiFiles(m_nID, source, dest, percent);

        // The share companion serves files by path and needs to know the tag blocks around the audio.
        ShareMovedFile(source, dest);
        if (!recorded) m_pCallBack->OnFileOperateError(m_nID, source, dest, FOR_DB_WRITE_FAILED, "", "");
    }
    if (bOwnThread) m_pCallBack->OnEndMoveMultiFiles(m_nID);
    return 0;
}
