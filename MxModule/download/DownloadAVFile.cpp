#include "MxModule/download/DownloadAVFile.h"

#include <cstdio>

#include "MxModule/download/DownloadJobThread.h"
#include "MxModule/download/DownloadManagerWnd.h"
#include "MxModule/fileops/ThreadIDManager.h"
#include "MxModule/foundation/CriticalSectionGuard.h"
#include "MxModule/foundation/MxPublic.h"
#include "mira/MiraLib.h"
#include "platform/files.h"

CCriticalSection CDownloadAVFile::m_csGuard;
std::unique_ptr<CDownloadAVFile> CDownloadAVFile::m_pInstance;

namespace {

// The user identity the engine and the share companion are given: the machine's, as hexadecimal text.
CString UserIdentity() {
    DWORD id[4] = {};
    GenHWID(id);
    CString text;
    text.Format("%08X%08X%08X%08X", id[0], id[1], id[2], id[3]);
    return text;
}

}  // namespace

CDownloadAVFile::CDownloadAVFile() = default;

CDownloadAVFile::~CDownloadAVFile() {
    MiraFiniLibrary();
    MiraShareFinish();
    int nID = 0;
    void* pWnd = nullptr;
    for (POSITION pos = m_mapWindows.GetStartPosition(); pos;) {
        m_mapWindows.GetNextAssoc(pos, nID, pWnd);
        static_cast<CDownloadManagerWnd*>(pWnd)->DestroyWindow();
    }
}

CDownloadAVFile* CDownloadAVFile::Instance() {
    CCriticalSectionGuard guard(&m_csGuard);
    if (!m_pInstance) m_pInstance.reset(new CDownloadAVFile);
    return m_pInstance.get();
}

int CDownloadAVFile::InitMira() {
    try {
        MiraShareSetRegPath(HKEY_CURRENT_USER, "Software\\Tamborinebox\\MIRA");
        MiraShareSetUserID(UserIdentity());
        MiraShareStart();
        m_nSharePort = MiraShareGetIPCPort();
        m_bInitialized = MiraInitLibrary() & 0xFF;
        MiraSetIPCPort(m_nSharePort);
        MiraSetUserID(UserIdentity());
        m_nHTTPPort = MiraGetPort();
        CString folder = CMxPublic::GetMusicBoxDir(26) + "\\Tamborinebox";
        CreateDirectoryA(folder, nullptr);
        folder += "\\shareid3";
        CreateDirectoryA(folder, nullptr);
        MiraShareSetID3Path(folder);
    } catch (...) {
        m_bInitialized = 0;
    }
    return m_bInitialized;
}

void CDownloadAVFile::SetDefaultCallBackHWND(HWND hWnd) { m_hDefaultWnd = hWnd; }

int CDownloadAVFile::AddMultiDownload(void** ppTask, std::list<CString>* pUrls, CString strTarget, HWND hWnd,
                                      CString strCaller) {
    if (!hWnd) hWnd = m_hDefaultWnd;
    if (!hWnd || !pUrls || pUrls->empty()) return -1;
    if (!m_bInitialized && !InitMira()) {
        PostMessageA(hWnd, WM_MX_DOWNLOAD_ENGINE_FAILED, 0, 0);
        return -1;
    }
    void* pTask = CreateMiraTask();
    if (!pTask) return -1;
    int nID = CThreadIDManager::Instance()->GetID();
    if (nID == 0) {
        DestroyMiraTask(pTask);
        return -1;
    }
    auto* pWnd = new CDownloadManagerWnd;
    if (!pWnd->CreateEx(WS_EX_TOOLWINDOW, nullptr, "", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE, nullptr)) {
        delete pWnd;
        DestroyMiraTask(pTask);
        CThreadIDManager::Instance()->ReleaseID(nID);
        return -1;
    }
    pWnd->ShowWindow(SW_HIDE);
    pWnd->m_hFrontWnd = hWnd;
    pWnd->m_pTask = pTask;
    pWnd->m_nID = nID;

    auto* pJob = new DOWNLOADJOBINFO;
    pJob->pOwner = this;
    pJob->pTask = pTask;
    pJob->pWnd = pWnd;
    for (const CString& url : *pUrls) pJob->listUrls.AddTail(url);
    pJob->strTarget = strTarget;
    pJob->nID = nID;
    pJob->strCaller = strCaller;
    pJob->hWnd = hWnd;
    pJob->hStatusWnd = pWnd->m_hWnd;

    AddDownloadIDTaskPair(nID, pTask, pWnd);
    if (ppTask) *ppTask = pTask;
    HANDLE hThread = CreateThread(nullptr, 0, DownloadJobThread, pJob, 0, nullptr);
    if (!hThread) {
        delete pJob;
        DelDownloadIDTaskPair(nID);
        DestroyMiraTask(pTask);
        CThreadIDManager::Instance()->ReleaseID(nID);
        return -1;
    }
    CloseHandle(hThread);
    return nID;
}

void* CDownloadAVFile::TaskOf(int nID) {
    void* pTask = nullptr;
    return m_mapTasks.Lookup(nID, pTask) ? pTask : nullptr;
}

void CDownloadAVFile::PauseMultiDownload(int nID) {
    if (!m_bInitialized) return;
    if (nID != 0) {
        if (void* pTask = TaskOf(nID)) MiraPauseDownloadUrllist(pTask);
        return;
    }
    int nKey = 0;
    void* pTask = nullptr;
    for (POSITION pos = m_mapTasks.GetStartPosition(); pos;) {
        m_mapTasks.GetNextAssoc(pos, nKey, pTask);
        MiraPauseDownloadUrllist(pTask);
    }
}

void CDownloadAVFile::DelMultiDownload(int nID) {
    if (!m_bInitialized) return;
    try {
        if (nID != 0) {
            void* pTask = TaskOf(nID);
            if (!pTask) return;
            DelDownloadIDTaskPair(nID);
            MiraCancelDownloadUrllist(pTask);
            return;
        }
        while (!m_mapTasks.IsEmpty()) {
            POSITION pos = m_mapTasks.GetStartPosition();
            int nKey = 0;
            void* pTask = nullptr;
            m_mapTasks.GetNextAssoc(pos, nKey, pTask);
            DelDownloadIDTaskPair(nKey);
            MiraCancelDownloadUrllist(pTask);
        }
    } catch (...) {
    }
}

int CDownloadAVFile::GetDownloadPercent(int nID) {
    if (!m_bInitialized || nID == 0) return -1;
    void* pTask = TaskOf(nID);
    return pTask ? DownloadPercentOf(pTask) : -1;
}

int CDownloadAVFile::GetSharePort() { return m_bInitialized ? m_nSharePort.load() : 0; }
int CDownloadAVFile::GetHTTPPort() { return m_bInitialized ? m_nHTTPPort.load() : 0; }

bool CDownloadAVFile::CommitFile(const char* pszText, const char* pszPath, const char* pszMD5) {
    return m_bInitialized && MiraShareCommitFile(pszText, pszPath, pszMD5);
}

int CDownloadAVFile::ShareSetID3(const char* pszMD5, const char* pTail, int nTailLen, const char* pHeader,
                                 int nHeaderLen) {
    return m_bInitialized ? MiraShareSetID3(pszMD5, pTail, nTailLen, pHeader, nHeaderLen) : -1;
}

int CDownloadAVFile::ShareEditID3(const char* pszOldPath, const char* pszNewPath, int nTailLen, int nHeaderLen) {
    return m_bInitialized ? MiraShareEditID3(pszOldPath, pszNewPath, nTailLen, nHeaderLen) : -1;
}

void CDownloadAVFile::AddDownloadIDTaskPair(int nID, void* pTask, CDownloadManagerWnd* pWnd) {
    // A job that ended gave its identifier back, and the front end may never have deleted it: its
    // window goes now, and the identifier names the new job alone.
    void* pOld = nullptr;
    if (m_mapWindows.Lookup(nID, pOld) && pOld != pWnd) static_cast<CDownloadManagerWnd*>(pOld)->DestroyWindow();
    m_mapTasks.SetAt(nID, pTask);
    m_mapWindows.SetAt(nID, pWnd);
}

void CDownloadAVFile::DelDownloadIDTaskPair(int nID) {
    m_mapTasks.RemoveKey(nID);
    void* pWnd = nullptr;
    if (m_mapWindows.Lookup(nID, pWnd)) {
        m_mapWindows.RemoveKey(nID);
        static_cast<CDownloadManagerWnd*>(pWnd)->DestroyWindow();
    }
}
