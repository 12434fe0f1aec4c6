#include "MxModule/fileops/FileOperateMoveLyricPathThread.h"

#include "platform/files.h"

int CFileOperateMoveLyricPathThread::Run(int bOwnThread) {
    if (IsStopped()) return 0;
    CString old;
    FileOperateResultCode nCode = CheckFolderMove(m_strOldPath, old, FOR_FOLDER_NOT_FOUND);
    if (nCode != FOR_NONE) return Failed(bOwnThread, nCode);

    // Only the folder's own lyrics: its sub-folders may belong to something else.
    CList<OPERATEFILEINFO, OPERATEFILEINFO&> lyrics;
    ULONGLONG total = 0;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(old + "\\*.lrc", &data);
    if (find != INVALID_HANDLE_VALUE) {
        bool stopped = false;
        do {
            if (IsStopped()) {
                stopped = true;
                break;
            }
            CString name = data.cFileName;
            if (name == "." || name == ".." || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
            ULONGLONG size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            if (size == 0) continue;
            // A name the code page cannot hold cannot be opened, so it is not counted.
            if (NameNotInCodePage(name)) {
                m_pCallBack->OnFileOperateError(m_nID, old + "\\" + name, "", FOR_NAME_NOT_IN_CODE_PAGE, "", "");
                continue;
            }
            OPERATEFILEINFO lyric;
            lyric.strPath = name;
            lyrics.AddTail(lyric);
            total += size;
        } while (FindNextFileA(find, &data));
        FindClose(find);
        if (stopped) return 0;
    }
    if (lyrics.IsEmpty()) return Failed(bOwnThread, FOR_NO_FILES_FOUND);
    if (TooLittleSpaceForMove(old, total)) return Failed(bOwnThread, FOR_DISK_FULL, m_strDestDirectory);

    const int count = int(lyrics.GetCount());
    if (bOwnThread) m_pCallBack->OnBeginMoveMultiFiles(m_nID, static_cast<unsigned long>(count));
    int i = 0;
    for (POSITION pos = lyrics.GetHeadPosition(); pos;) {
        const CString& name = lyrics.GetNext(pos).strPath;
        if (IsStopped()) return 0;
        int percent = int(++i * 100.0 / count);
        CString source = old + "\\" + name;
        CString dest = m_strDestDirectory + "\\" + name;
        if (!CreateMultiDirectory(dest)) {
            m_pCallBack->OnFileOperateError(m_nID, source, dest, FOR_CREATE_FOLDER_FAILED, "", "");
            continue;
        }
        if (bOwnThread) m_pCallBack->OnBeginMoveOneOfMultiFiles(m_nID, source, dest);
        // A lyric already in the new folder is the user's: it is never overwritten.
        if (!MoveFileA(source, dest)) m_pCallBack->OnFileOperateError(m_nID, source, dest, FOR_MOVE_FAILED, "", "");
        if (bOwnThread) m_pCallBack->OnEndMoveOneOfMultiFiles(m_nID, source, dest, percent);
    }
    RemoveDirectoryA(old);  // only when the move emptied it
    if (bOwnThread) m_pCallBack->OnEndMoveMultiFiles(m_nID);
    return 0;
}
