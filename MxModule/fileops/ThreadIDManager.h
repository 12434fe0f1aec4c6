// The module-wide pool of operation identifiers: 1 to 999, handed out and taken back first in, first
// out, so an identifier is unique among all running operations of the module.
#pragma once

#include <memory>

#include "MxModule/MxExport.h"
#include "platform/collections.h"
#include "platform/threads.h"

class MX_TESTABLE CThreadIDManager {
public:
    static constexpr int kIDCount = 999;

    CThreadIDManager();
    static CThreadIDManager* Instance();
    // The head of the free list, or 0 when every identifier is in use.
    int GetID();
    // Appends the identifier at the tail of the free list.
    void ReleaseID(int nID);

private:
    static CCriticalSection m_csGuard;
    static std::unique_ptr<CThreadIDManager> m_pInstance;
    CList<int, int> m_listFree;
};

// Stopping an operation's thread, for every manager. The thread closes its own handle when it ends, so
// a stopper waits on a copy of its own, taken while the thread is known to be alive (null without a
// thread), then closes it. With bPump, messages other threads send to the caller's windows are handled
// while it waits, so a worker blocked sending to them can end.
HANDLE WaitableThreadCopy(HANDLE hThread);
void WaitForThreadAndClose(HANDLE hCopy, bool bPump);
