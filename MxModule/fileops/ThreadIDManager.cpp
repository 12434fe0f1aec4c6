#include "MxModule/fileops/ThreadIDManager.h"

#include "platform/windows.h"

#include "MxModule/foundation/CriticalSectionGuard.h"

CCriticalSection CThreadIDManager::m_csGuard;
std::unique_ptr<CThreadIDManager> CThreadIDManager::m_pInstance;

CThreadIDManager::CThreadIDManager() {
    for (int id = 1; id <= kIDCount; ++id) m_listFree.AddTail(id);
}

CThreadIDManager* CThreadIDManager::Instance() {
    CCriticalSectionGuard guard(&m_csGuard);
    if (!m_pInstance) m_pInstance.reset(new CThreadIDManager);
    return m_pInstance.get();
}

int CThreadIDManager::GetID() {
    CCriticalSectionGuard guard(&m_csGuard);
    return m_listFree.IsEmpty() ? 0 : m_listFree.RemoveHead();
}

void CThreadIDManager::ReleaseID(int nID) {
    if (nID < 1 || nID > kIDCount) return;  // never an identifier of the pool
    CCriticalSectionGuard guard(&m_csGuard);
    m_listFree.AddTail(nID);
}

HANDLE WaitableThreadCopy(HANDLE hThread) {
    HANDLE copy = nullptr;
    if (hThread == nullptr || hThread == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), hThread, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

void WaitForThreadAndClose(HANDLE hCopy, bool bPump) {
    if (!hCopy) return;
    if (bPump) {
        MSG msg;
        while (WaitForSingleObject(hCopy, 10) == WAIT_TIMEOUT) PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    } else {
        WaitForSingleObject(hCopy, INFINITE);
    }
    CloseHandle(hCopy);
}
