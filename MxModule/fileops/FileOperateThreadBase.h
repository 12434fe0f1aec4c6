// The base of every file-operation worker: it runs its body on its own thread, reports through the
// manager's callback, and deletes itself when the body has returned.
#pragma once

#include <atomic>

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateCallBack.h"
#include "platform/text.h"
#include "platform/threads.h"

class MX_EXPORT CFileOperateThreadBase {
public:
    CFileOperateThreadBase();
    virtual ~CFileOperateThreadBase();
    CFileOperateThreadBase(const CFileOperateThreadBase&) = delete;
    CFileOperateThreadBase& operator=(const CFileOperateThreadBase&) = delete;

    // The worker's body. bOwnThread is 1 on its own thread (failures are reported, the result is 0) and
    // 0 in the caller (failures are returned as a FileOperateResultCode, not reported).
    virtual int Run(int bOwnThread) = 0;
    // Starts the thread; a non-zero priority is applied. -1 when the thread cannot be made, else 0.
    virtual int Start(int nPriority);
    // Suspension parks the worker at its next stop check. -1 without a thread, else 0.
    virtual int Suspend();
    virtual int Resume();
    // Resumes a suspended worker, then raises the stop flag; the body ends at its next stop check.
    virtual int Stop();
    virtual int RunInCaller();

    // Creates every folder of the path up to its last backslash; 1 on success, 0 otherwise.
    int CreateMultiDirectory(CString strPath);
    // The path when the library holds it and the file exists; "" otherwise. A record whose file has
    // vanished is removed from the library.
    CString GetImportedPath(CString strPath);

    CFileOperateCallBack* m_pCallBack;  // a silent one until the manager sets itself
    CString m_strDestDirectory;
    int m_nID;
    HANDLE m_hThread;
    std::atomic<int> m_bSuspended;
    std::atomic<int> m_bStop;

protected:
    // True when the body must end. A suspended worker parks here first, outside every lock.
    bool IsStopped();

private:
    static DWORD ThreadProc(LPVOID pParam);
};
