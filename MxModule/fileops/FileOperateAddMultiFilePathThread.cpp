#include "MxModule/fileops/FileOperateAddMultiFilePathThread.h"

#include "MxModule/foundation/MxPublic.h"
#include "platform/files.h"

int CFileOperateAddMultiFilePathThread::Run(int bOwnThread) {
    if (IsStopped()) return 0;
    if (m_strDestDirectory.IsEmpty()) return Failed(bOwnThread, FOR_NO_DEST_DIRECTORY);
    if (m_listFiles.IsEmpty() && m_listFolders.IsEmpty()) return Failed(bOwnThread, FOR_NO_VALID_PATH);

    CStringList sources;
    int count = 0;
    ULONGLONG total = 0;
    for (POSITION pos = m_listFiles.GetHeadPosition(); pos;) {
        const CString& path = m_listFiles.GetNext(pos);
        if (IsStopped()) return 0;
        DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) || !IsAudioFile(path)) continue;
        DWORD size = CMxPublic::GetFileLen(path);
        if (size == 0) continue;
        ++count;
        total += size;
        sources.AddTail(path);
    }
    CList<OPERATEFILEINFO, OPERATEFILEINFO&> found;
    CWalkedFolders walked;  // a folder given inside another is not copied twice
    for (POSITION pos = m_listFolders.GetHeadPosition(); pos;) {
        const CString& folder = m_listFolders.GetNext(pos);
        if (IsStopped()) return 0;
        DWORD attributes = GetFileAttributesA(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (!WalkAudioFolder(walked, folder, count, total, &found)) return 0;
    }
    for (POSITION pos = found.GetHeadPosition(); pos;) sources.AddTail(found.GetNext(pos).strPath);
    if (count == 0) return Failed(bOwnThread, FOR_NO_FILES_FOUND);

    // All or nothing: the whole total against the free space, once, before any copy. A drive that
    // cannot be asked is not tested (its copies fail on their own).
    int colon = m_strDestDirectory.Find(':');
    ULARGE_INTEGER available{};
    if (colon >= 0 && GetDiskFreeSpaceExA(m_strDestDirectory.Left(colon) + ":\\", &available, nullptr, nullptr) &&
        total > available.QuadPart)
        return Failed(bOwnThread, FOR_DISK_FULL, m_strDestDirectory);

    if (bOwnThread) m_pCallBack->OnBeginCopyMultiFiles(m_nID, static_cast<unsigned long>(count));
    int i = 0;
    for (POSITION pos = sources.GetHeadPosition(); pos;) {
        const CString& source = sources.GetNext(pos);
        if (IsStopped()) return 0;
        int percent = int(++i * 100.0 / count);
        CString dest = MakeOwnDestFileName(source);
        if (dest.IsEmpty()) {
            m_pCallBack->OnFileOperateError(m_nID, source, "", FOR_NO_DEST_NAME, "", "");
            continue;
        }
        if (!CreateMultiDirectory(dest)) {
            m_pCallBack->OnFileOperateError(m_nID, source, dest, FOR_CREATE_FOLDER_FAILED, "", "");
            continue;
        }
        if (bOwnThread) m_pCallBack->OnBeginCopyOneOfMultiFiles(m_nID, source, dest);
        // Never over a file: another copy (this process's or another's) may take the name first; the
        // next free name is taken then.
        BOOL copied = CopyFileA(source, dest, TRUE);
        for (int retry = 0; !copied && GetLastError() == ERROR_FILE_EXISTS && retry < 100; ++retry) {
            CString next = MakeOwnDestFileName(source);
            if (next.IsEmpty() || next == dest) break;  // e.g. a dangling link holds the name
            dest = next;
            copied = CopyFileA(source, dest, TRUE);
        }
        if (!copied) m_pCallBack->OnFileOperateError(m_nID, source, dest, FOR_COPY_FAILED, "", "");
        if (bOwnThread) m_pCallBack->OnEndCopyOneOfMultiFiles(m_nID, source, dest, percent);
    }
    if (bOwnThread) m_pCallBack->OnEndCopyMultiFiles(m_nID);
    return 0;
}
