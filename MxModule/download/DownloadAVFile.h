// The module's one gateway to the download engine and its share companion: it starts the engine on
// demand, starts download jobs for lists of addresses, and pauses, cancels and polls them. Each job runs
// on its own thread (DownloadJobThread) and reports through its status window (CDownloadManagerWnd).
#pragma once

#include <atomic>
#include <list>
#include <memory>

#include "MxModule/MxExport.h"
#include "platform/collections.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/windows.h"

class CDownloadManagerWnd;

class MX_EXPORT CDownloadAVFile {
public:
    virtual ~CDownloadAVFile();
    CDownloadAVFile(const CDownloadAVFile&) = delete;
    CDownloadAVFile& operator=(const CDownloadAVFile&) = delete;

    // The single object; the engine is started by InitMira or the first download.
    static CDownloadAVFile* Instance();
    // Starts the share companion and the engine; non-zero when the engine is ready.
    int InitMira();
    void SetDefaultCallBackHWND(HWND hWnd);
    // Starts a job downloading one file from the addresses (a single download-address link is resolved
    // first) to the target: its identifier, or -1. The job's messages go to hWnd, else the default window.
    int AddMultiDownload(void** ppTask, std::list<CString>* pUrls, CString strTarget, HWND hWnd, CString strCaller);
    // nID 0 acts on every job.
    void PauseMultiDownload(int nID);
    // Destroys the job's status window (nothing is relayed afterwards) and cancels its transfer.
    void DelMultiDownload(int nID);
    // 0 to 100 (0 while the size is unknown); -1 when not started or for an unknown job.
    int GetDownloadPercent(int nID);
    int GetSharePort();
    int GetHTTPPort();
    // Passed through to the share companion once the engine is ready.
    bool CommitFile(const char* pszText, const char* pszPath, const char* pszMD5);
    int ShareSetID3(const char* pszMD5, const char* pTail, int nTailLen, const char* pHeader, int nHeaderLen);
    int ShareEditID3(const char* pszOldPath, const char* pszNewPath, int nTailLen, int nHeaderLen);

    void AddDownloadIDTaskPair(int nID, void* pTask, CDownloadManagerWnd* pWnd);
    void DelDownloadIDTaskPair(int nID);

protected:
    CDownloadAVFile();

    HWND m_hDefaultWnd = nullptr;
    // Read by the file-operation threads that register downloaded files.
    std::atomic<int> m_nSharePort{0};
    std::atomic<int> m_nHTTPPort{0};
    std::atomic<int> m_bInitialized{0};
    CMap<int, int, void*, void*> m_mapTasks{10};
    CMap<int, int, void*, void*> m_mapWindows{10};

    static CCriticalSection m_csGuard;
    static std::unique_ptr<CDownloadAVFile> m_pInstance;

private:
    // The engine task of a job, or null.
    void* TaskOf(int nID);
};
