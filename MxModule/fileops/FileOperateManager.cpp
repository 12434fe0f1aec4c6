// The manager's operations: starting workers, stopping and suspending them, and posting their reports.
#include "MxModule/fileops/FileOperateManager.h"

#include <vector>

#include "MxModule/fileops/FileOperateAddDownloadThread.h"
#include "MxModule/fileops/FileOperateAddMultiFilePathThread.h"
#include "MxModule/fileops/FileOperateAddOtherPlayerInfosThread.h"
#include "MxModule/fileops/FileOperateAddSelfDircFilesThread.h"
#include "MxModule/fileops/FileOperateAutoAddSongsThread.h"
#include "MxModule/fileops/FileOperateImportMultiFilePathThread.h"
#include "MxModule/fileops/FileOperateMoveAudioPathThread.h"
#include "MxModule/fileops/FileOperateMoveLyricPathThread.h"
#include "MxModule/fileops/ThreadIDManager.h"
#include "MxModule/foundation/CriticalSectionGuard.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/search/SearchResult.h"

namespace {
bool IsHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
}  // namespace

CFileOperateManager::CFileOperateManager() : m_hDefaultWnd(nullptr) { m_mapThreads.InitHashTable(17); }

CFileOperateManager::~CFileOperateManager() { StopAllFileOperateThread(1); }

void CFileOperateManager::SetFileOperateDestDirectory(CString strFolder) {
    if (strFolder.IsEmpty()) return;
    if (strFolder.Right(1) == "\\") strFolder = strFolder.Left(strFolder.GetLength() - 1);
    CCriticalSectionGuard guard(&m_csLock);
    m_strDestDirectory = strFolder;
}

void CFileOperateManager::SetDefaultFileOperateCallBackHWND(HWND hWnd) {
    CCriticalSectionGuard guard(&m_csLock);
    m_hDefaultWnd = hWnd;
}

HWND CFileOperateManager::WindowFor(HWND hWnd) const { return hWnd ? hWnd : m_hDefaultWnd; }

int CFileOperateManager::Launch(CFileOperateThreadBase* pThread, HWND hWnd, int nPriority) {
    CThreadIDManager* ids = CThreadIDManager::Instance();
    int id = ids->GetID();
    if (id == 0) {
        delete pThread;
        return -1;
    }
    FILEOPERATETHREADINFO info;
    info.pThread = pThread;
    info.hWnd = hWnd;
    m_mapThreads.SetAt(id, info);
    pThread->m_nID = id;
    pThread->m_pCallBack = this;
    pThread->m_strDestDirectory = m_strDestDirectory;
    if (pThread->Start(nPriority) == -1) {
        m_mapThreads.RemoveKey(id);
        ids->ReleaseID(id);
        delete pThread;
        return -1;
    }
    return id;
}

int CFileOperateManager::AsynAddMultiFilePaths(CStringList* pPaths, HWND hWnd, int bImport, int, int nQuota) {
    CCriticalSectionGuard guard(&m_csLock);
    HWND window = WindowFor(hWnd);
    if (!window || !pPaths || pPaths->IsEmpty()) return -1;
    if (!bImport) {
        auto* copier = new CFileOperateAddMultiFilePathThread;
        copier->SetPaths(*pPaths);
        return Launch(copier, window, THREAD_PRIORITY_NORMAL);
    }
    auto* thread = new CFileOperateImportMultiFilePathThread;
    thread->SetPaths(*pPaths);
    thread->m_nQuota = nQuota;
    return Launch(thread, window, THREAD_PRIORITY_HIGHEST);
}

int CFileOperateManager::AsynMoveAudioPath(CString strOldPath, HWND hWnd) {
    CCriticalSectionGuard guard(&m_csLock);
    HWND window = WindowFor(hWnd);
    if (!window || strOldPath.IsEmpty()) return -1;
    auto* thread = new CFileOperateMoveAudioPathThread;
    thread->m_strOldPath = strOldPath;
    return Launch(thread, window, THREAD_PRIORITY_NORMAL);
}

int CFileOperateManager::AsynMoveLyricPath(CString strOldPath, HWND hWnd) {
    CCriticalSectionGuard guard(&m_csLock);
    HWND window = WindowFor(hWnd);
    if (!window || strOldPath.IsEmpty()) return -1;
    auto* thread = new CFileOperateMoveLyricPathThread;
    thread->m_strOldPath = strOldPath;
    return Launch(thread, window, THREAD_PRIORITY_NORMAL);
}

int CFileOperateManager::AsynAutoAddSongs(HWND hWnd) {
    CCriticalSectionGuard guard(&m_csLock);
    HWND window = WindowFor(hWnd);
    if (!window) return -1;
    return Launch(new CFileOperateAutoAddSongsThread, window, THREAD_PRIORITY_NORMAL);
}

int CFileOperateManager::AsynAddSelfDircFiles(HWND hWnd, CStringList* pPaths) {
    CCriticalSectionGuard guard(&m_csLock);
    HWND window = WindowFor(hWnd);
    if (!window || m_strDestDirectory.IsEmpty()) return -1;
    return Launch(new CFileOperateAddSelfDircFilesThread(pPaths), window, THREAD_PRIORITY_NORMAL);
}

int CFileOperateManager::AsynAddOtherPlayerInfos(CList<PLAYLISTINFO, PLAYLISTINFO&>* pPlaylists, CStringList* pFolders,
                                                 HWND hWnd) {
    CCriticalSectionGuard guard(&m_csLock);
    HWND window = WindowFor(hWnd);
    if (!window || (!pPlaylists && !pFolders)) return -1;
    return Launch(new CFileOperateAddOtherPlayerInfosThread(pPlaylists, pFolders), window, THREAD_PRIORITY_NORMAL);
}

int CFileOperateManager::AsynAddDownloadFile(CString strPath, AUDIOFILEINFO* pInfo, HWND hWnd, CString str1, CString str2) {
    CCriticalSectionGuard guard(&m_csLock);
    HWND window = WindowFor(hWnd);
    if (!window || strPath.IsEmpty()) return -1;
    return Launch(new CFileOperateAddDownloadThread(strPath, pInfo, str1, str2), window, THREAD_PRIORITY_NORMAL);
}

int CFileOperateManager::CheckFileImported(AUDIORESULTUINT* pResult) {
    if (!pResult) return 0;
    return CDBOperater::Instance()->CheckFileImportedBySongInfo(pResult->strArtist, pResult->strAlbum,
                                                               pResult->dwFileLength);
}

int CFileOperateManager::StopFileOperateThread(int nID, int bWait) {
    return nID == 0 ? StopAllFileOperateThread(bWait) : StopSingalFileOperateThread(nID, bWait);
}

int CFileOperateManager::SuspendFileOperateThread(int nID) {
    return nID == 0 ? SuspendAllFileOperateThread() : SuspendSingalFileOperateThread(nID);
}

int CFileOperateManager::ResumeFileOperateThread(int nID) {
    return nID == 0 ? ResumeAllFileOperateThread() : ResumeSingalFileOperateThread(nID);
}

int CFileOperateManager::StopSingalFileOperateThread(int nID, int bWait) {
    HANDLE h = nullptr;
    POSITION waiter = nullptr;
    {
        CCriticalSectionGuard guard(&m_csLock);
        FILEOPERATETHREADINFO info;
        if (!m_mapThreads.Lookup(nID, info) || !info.pThread) return -1;
        if (!IsHandle(info.pThread->m_hThread)) return -1;
        if (bWait) {
            h = WaitableThreadCopy(info.pThread->m_hThread);
            waiter = NoteWaiter(nID);
        }
        info.pThread->Stop();
        info.bNotifyOff = 0;
        m_mapThreads.SetAt(nID, info);
    }
    if (bWait) {
        WaitForThreadAndClose(h, false);
        ForgetWaiters(&waiter, 1);
    }
    return 0;
}

int CFileOperateManager::StopAllFileOperateThread(int bWait) {
    std::vector<HANDLE> handles;
    std::vector<POSITION> waiters;
    {
        CCriticalSectionGuard guard(&m_csLock);
        POSITION pos = m_mapThreads.GetStartPosition();
        while (pos) {
            int id;
            FILEOPERATETHREADINFO info;
            m_mapThreads.GetNextAssoc(pos, id, info);
            if (!info.pThread) continue;
            if (bWait && IsHandle(info.pThread->m_hThread)) {
                handles.push_back(WaitableThreadCopy(info.pThread->m_hThread));
                waiters.push_back(NoteWaiter(id));
            }
            info.pThread->Stop();
            info.bNotifyOff = 0;
            m_mapThreads.SetAt(id, info);
        }
    }
    for (HANDLE h : handles) WaitForThreadAndClose(h, false);
    ForgetWaiters(waiters.data(), waiters.size());
    return 0;
}

int CFileOperateManager::SuspendSingalFileOperateThread(int nID) {
    CCriticalSectionGuard guard(&m_csLock);
    FILEOPERATETHREADINFO info;
    if (m_mapThreads.Lookup(nID, info) && info.pThread) info.pThread->Suspend();
    return 0;
}

int CFileOperateManager::SuspendAllFileOperateThread() {
    CCriticalSectionGuard guard(&m_csLock);
    POSITION pos = m_mapThreads.GetStartPosition();
    while (pos) {
        int id;
        FILEOPERATETHREADINFO info;
        m_mapThreads.GetNextAssoc(pos, id, info);
        if (info.pThread) info.pThread->Suspend();
    }
    return 0;
}

int CFileOperateManager::ResumeSingalFileOperateThread(int nID) {
    CCriticalSectionGuard guard(&m_csLock);
    FILEOPERATETHREADINFO info;
    if (m_mapThreads.Lookup(nID, info) && info.pThread) info.pThread->Resume();
    return 0;
}

int CFileOperateManager::ResumeAllFileOperateThread() {
    CCriticalSectionGuard guard(&m_csLock);
    POSITION pos = m_mapThreads.GetStartPosition();
    while (pos) {
        int id;
        FILEOPERATETHREADINFO info;
        m_mapThreads.GetNextAssoc(pos, id, info);
        if (info.pThread) info.pThread->Resume();
    }
    return 0;
}

HWND CFileOperateManager::ReportWindow(int nID) {
    CCriticalSectionGuard guard(&m_csLock);
    FILEOPERATETHREADINFO info;
    if (!m_mapThreads.Lookup(nID, info) || info.bNotifyOff) return nullptr;
    return info.hWnd;
}

bool CFileOperateManager::Post(int nID, UINT nMsg, LPARAM lParam) {
    HWND window = ReportWindow(nID);  // the lock is not held while posting
    return window && PostMessageA(window, nMsg, WPARAM(nID), lParam);
}

void CFileOperateManager::PostBlock(int nID, UINT nMsg, const CString& s1, const CString& s2, int nValue,
                                   FileOperateResultCode nCode, const CString& s3, const CString& s4) {
    auto* block = new FILEOPERATEMSGINFO{s1, s2, s3, s4, nValue, nCode};
    if (!Post(nID, nMsg, reinterpret_cast<LPARAM>(block))) delete block;
}

void CFileOperateManager::PostList(int nID, UINT nMsg, CStringList* pList) {
    if (!Post(nID, nMsg, reinterpret_cast<LPARAM>(pList))) delete pList;
}

void CFileOperateManager::OnImportSearching(int nID, CString strText) { PostBlock(nID, WM_MX_IMPORT_SEARCHING, strText, ""); }
void CFileOperateManager::OnBeginImport(int nID, unsigned long nCount) { Post(nID, WM_MX_BEGIN_IMPORT, LPARAM(nCount)); }
void CFileOperateManager::OnBeginImportOneOfPlayList(int nID, CString strName) {
    PostBlock(nID, WM_MX_BEGIN_IMPORT_ONE_OF_PLAYLIST, strName, "");
}
void CFileOperateManager::OnEndImportOneOfPlayList(int nID, CString strName) {
    PostBlock(nID, WM_MX_END_IMPORT_ONE_OF_PLAYLIST, strName, "");
}
void CFileOperateManager::OnBeginImportOneOfFile(int nID, CString strPath) {
    PostBlock(nID, WM_MX_BEGIN_IMPORT_ONE_OF_FILE, strPath, "");
}
void CFileOperateManager::OnEndImportOneOfFile(int nID, CString str1, CString str2, int nValue) {
    PostBlock(nID, WM_MX_END_IMPORT_ONE_OF_FILE, str1, str2, nValue);
}
void CFileOperateManager::OnEndImport(int nID) { Post(nID, WM_MX_END_IMPORT, 0); }
void CFileOperateManager::OnBeginCopySingleFile(int nID, CString str1, CString str2) {
    PostBlock(nID, WM_MX_BEGIN_COPY_SINGLE_FILE, str1, str2);
}
void CFileOperateManager::OnCopyingSingleFile(int nID, CString str1, CString str2, int nValue) {
    PostBlock(nID, WM_MX_COPYING_SINGLE_FILE, str1, str2, nValue);
}
void CFileOperateManager::OnEndCopySingleFile(int nID, CString str1, CString str2) {
    PostBlock(nID, WM_MX_END_COPY_SINGLE_FILE, str1, str2);
}
void CFileOperateManager::OnBeginCopyMultiFiles(int nID, unsigned long nCount) {
    Post(nID, WM_MX_BEGIN_COPY_MULTI_FILES, LPARAM(nCount));
}
void CFileOperateManager::OnBeginCopyOneOfMultiPath(int nID, CString strPath) {
    PostBlock(nID, WM_MX_BEGIN_COPY_ONE_OF_MULTI_PATH, strPath, "");
}
void CFileOperateManager::OnBeginCopyOneOfMultiFiles(int nID, CString str1, CString str2) {
    PostBlock(nID, WM_MX_BEGIN_COPY_ONE_OF_MULTI_FILES, str1, str2);
}
void CFileOperateManager::OnEndCopyOneOfMultiFiles(int nID, CString str1, CString str2, int nValue) {
    PostBlock(nID, WM_MX_END_COPY_ONE_OF_MULTI_FILES, str1, str2, nValue);
}
void CFileOperateManager::OnEndCopyOneOfMultiPath(int nID, CString strPath) {
    PostBlock(nID, WM_MX_END_COPY_ONE_OF_MULTI_PATH, strPath, "");
}
void CFileOperateManager::OnEndCopyAnalyzedMultiFiles(int nID, CStringList* pList) {
    PostList(nID, WM_MX_END_COPY_ANALYZED_MULTI_FILES, pList);
}
void CFileOperateManager::OnEndCopyNotAnalyzedMultiFiles(int nID, CStringList* pList) {
    PostList(nID, WM_MX_END_COPY_NOT_ANALYZED_MULTI_FILES, pList);
}
void CFileOperateManager::OnEndCopyMultiFiles(int nID) { Post(nID, WM_MX_END_COPY_MULTI_FILES, 0); }
void CFileOperateManager::OnBeginMoveSingleFile(int nID, CString str1, CString str2) {
    PostBlock(nID, WM_MX_BEGIN_MOVE_SINGLE_FILE, str1, str2);
}
void CFileOperateManager::OnMovingSingleFile(int nID, CString str1, CString str2, int nValue) {
    PostBlock(nID, WM_MX_MOVING_SINGLE_FILE, str1, str2, nValue);
}
void CFileOperateManager::OnEndMoveSingleFile(int nID, CString str1, CString str2) {
    PostBlock(nID, WM_MX_END_MOVE_SINGLE_FILE, str1, str2);
}
void CFileOperateManager::OnBeginMoveMultiFiles(int nID, unsigned long nCount) {
    Post(nID, WM_MX_BEGIN_MOVE_MULTI_FILES, LPARAM(nCount));
}
void CFileOperateManager::OnBeginMoveOneOfMultiPath(int nID, CString strPath) {
    PostBlock(nID, WM_MX_BEGIN_MOVE_ONE_OF_MULTI_PATH, strPath, "");
}
void CFileOperateManager::OnBeginMoveOneOfMultiFiles(int nID, CString str1, CString str2) {
    PostBlock(nID, WM_MX_BEGIN_MOVE_ONE_OF_MULTI_FILES, str1, str2);
}
void CFileOperateManager::OnEndMoveOneOfMultiFiles(int nID, CString str1, CString str2, int nValue) {
    PostBlock(nID, WM_MX_END_MOVE_ONE_OF_MULTI_FILES, str1, str2, nValue);
}
void CFileOperateManager::OnEndMoveOneOfMultiPath(int nID, CString strPath) {
    PostBlock(nID, WM_MX_END_MOVE_ONE_OF_MULTI_PATH, strPath, "");
}
void CFileOperateManager::OnEndMoveMultiFiles(int nID) { Post(nID, WM_MX_END_MOVE_MULTI_FILES, 0); }
void CFileOperateManager::OnBeginDeleteSingleFile(int nID, CString strPath) {
    PostBlock(nID, WM_MX_BEGIN_DELETE_SINGLE_FILE, strPath, "");
}
void CFileOperateManager::OnEndDeleteSingleFile(int nID, CString strPath) {
    PostBlock(nID, WM_MX_END_DELETE_SINGLE_FILE, strPath, "");
}
void CFileOperateManager::OnBeginDeleteMultiFiles(int nID) { Post(nID, WM_MX_BEGIN_DELETE_MULTI_FILES, 0); }
void CFileOperateManager::OnBeginDeleteOneOfMultiFiles(int nID, CString strPath) {
    PostBlock(nID, WM_MX_BEGIN_DELETE_ONE_OF_MULTI_FILES, strPath, "");
}
void CFileOperateManager::OnEndDeleteOneOfMultiFiles(int nID, CString strPath, int nValue) {
    PostBlock(nID, WM_MX_END_DELETE_ONE_OF_MULTI_FILES, strPath, "", nValue);
}
void CFileOperateManager::OnEndDeleteMultiFiles(int nID) { Post(nID, WM_MX_END_DELETE_MULTI_FILES, 0); }

void CFileOperateManager::OnDownloadSetNewAudioInfo(int nID, CString str1, CString str2, CString str3) {
    auto* block = new NEWAUDIOINFOMSG{str1, str2, str3};
    if (!Post(nID, WM_MX_DOWNLOAD_NEW_AUDIO_INFO, reinterpret_cast<LPARAM>(block))) delete block;
}

void CFileOperateManager::OnFileOperateError(int nID, CString s1, CString s2, FileOperateResultCode nCode, CString s3,
                                             CString s4) {
    PostBlock(nID, WM_MX_FILEOPERATE_ERROR, s1, s2, 0, nCode, s3, s4);
}

void CFileOperateManager::OnThreadExit(int nID) {
    HWND window = nullptr;
    {
        CCriticalSectionGuard guard(&m_csLock);
        FILEOPERATETHREADINFO info;
        if (!m_mapThreads.Lookup(nID, info)) return;
        window = info.hWnd;
    }
    // The front end waits for this message above all others: a full queue is waited out while the window
    // lives, without the lock, unless the window's own thread waits for this operation to end, and for
    // a minute at most (a window whose thread does not pump at all would keep the worker for ever).
    const DWORD start = GetTickCount();
    while (!PostMessageA(window, WM_MX_FILEOPERATE_THREAD_EXIT, WPARAM(nID), 0) &&
           GetLastError() == ERROR_NOT_ENOUGH_QUOTA && !WindowThreadWaitsFor(window, nID) && GetTickCount() - start < 60000) {
        Sleep(10);
    }
    // The identifier is free only once its exit message is queued (or can never be).
    CCriticalSectionGuard guard(&m_csLock);
    CThreadIDManager::Instance()->ReleaseID(nID);
    m_mapThreads.RemoveKey(nID);
}

POSITION CFileOperateManager::NoteWaiter(int nID) { return m_listWaiters.AddTail(STOPWAITER{GetCurrentThreadId(), nID}); }

void CFileOperateManager::ForgetWaiters(const POSITION* pPositions, size_t nCount) {
    CCriticalSectionGuard guard(&m_csLock);
    for (size_t i = 0; i < nCount; ++i) m_listWaiters.RemoveAt(pPositions[i]);
}

bool CFileOperateManager::WindowThreadWaitsFor(HWND hWnd, int nID) {
    DWORD owner = GetWindowThreadProcessId(hWnd, nullptr);
    CCriticalSectionGuard guard(&m_csLock);
    for (POSITION pos = m_listWaiters.GetHeadPosition(); pos;) {
        const STOPWAITER& w = m_listWaiters.GetNext(pos);
        if (w.dwThread == owner && w.nID == nID) return true;
    }
    return false;
}
