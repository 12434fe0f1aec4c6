#include "MxModule/fileops/FileOperateAddSelfDircFilesThread.h"

#include <string>
#include <unordered_set>

#include "MxModule/fileops/SongImport.h"
#include "platform/files.h"

CFileOperateAddSelfDircFilesThread::CFileOperateAddSelfDircFilesThread(const CStringList* pExcluded) {
    if (pExcluded) m_lstExcludePath.AddTail(const_cast<CStringList*>(pExcluded));
}

int CFileOperateAddSelfDircFilesThread::Run(int bOwnThread) {
    if (IsStopped()) return 0;
    if (m_strDestDirectory.IsEmpty()) return Failed(bOwnThread, FOR_NO_DEST_DIRECTORY);
    DWORD attributes = GetFileAttributesA(m_strDestDirectory);
    if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(bOwnThread, FOR_FOLDER_NOT_FOUND);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return Failed(bOwnThread, FOR_NOT_A_FOLDER);

    int nWalked = 0;
    ULONGLONG qwTotal = 0;
    CList<OPERATEFILEINFO, OPERATEFILEINFO&> walked;
    if (!WalkAudioFolder(m_strDestDirectory, nWalked, qwTotal, &walked)) return 0;
    std::unordered_set<std::string> excluded;  // folded once: the library folder may hold many thousands
    for (POSITION pos = m_lstExcludePath.GetHeadPosition(); pos;) excluded.insert(MxFoldCase(m_lstExcludePath.GetNext(pos)).str());
    CStringList files;
    for (POSITION pos = walked.GetHeadPosition(); pos;) {
        const CString& path = walked.GetNext(pos).strPath;
        if (!excluded.count(MxFoldCase(path).str())) files.AddTail(path);
    }
    if (files.IsEmpty()) return Failed(bOwnThread, FOR_NO_FILES_FOUND);

    int nCount = files.GetCount();
    m_pCallBack->OnBeginCopyMultiFiles(m_nID, static_cast<unsigned long>(nCount));
    int nDone = 0;
    for (POSITION pos = files.GetHeadPosition(); pos;) {
        const CString& path = files.GetNext(pos);
        if (IsStopped()) return 0;
        ++nDone;
        mxfileops::SONGTAGS song = mxfileops::ReadSongTags(path, 1);
        if (song.bDRM) {
            m_pCallBack->OnFileOperateError(m_nID, song.strPath, "", FOR_DRM_PROTECTED, "", "");
            continue;
        }
        if (song.bScriptCommand)
            m_pCallBack->OnFileOperateError(m_nID, song.strPath, "", FOR_SCRIPT_COMMANDS, "", "");
        CString imported = GetImportedPath(song.strPath);
        if (!imported.IsEmpty()) {
            m_pCallBack->OnFileOperateError(m_nID, song.strPath, imported, FOR_ALREADY_IMPORTED, "", "");
            continue;
        }
        // The song stays where it lies: source and place in the library are the same path.
        m_pCallBack->OnBeginCopyOneOfMultiFiles(m_nID, song.strPath, song.strPath);
        m_pCallBack->OnEndCopyOneOfMultiFiles(m_nID, song.strPath, song.strPath,
                                              static_cast<int>(nDone * 100.0 / nCount));
        if (!mxfileops::AddSongRecord(song))
            m_pCallBack->OnFileOperateError(m_nID, song.strPath, song.strPath, FOR_DB_WRITE_FAILED, "", "");
    }
    m_pCallBack->OnEndCopyMultiFiles(m_nID);
    return 0;
}
