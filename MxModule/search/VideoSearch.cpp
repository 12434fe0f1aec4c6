#include "MxModule/search/VideoSearch.h"

#include <vector>

#include "MxModule/fileops/ThreadIDManager.h"
#include "MxModule/foundation/CriticalSectionGuard.h"
#include "MxModule/search/SearchCommon.h"
#include "MxModule/search/VideoSearchThread.h"

CVideoSearch::CVideoSearch() { m_mapThreads.InitHashTable(17, FALSE); }

CVideoSearch::~CVideoSearch() { StopAllVideoSearchThread(); }

void CVideoSearch::SetDefaultVideoSearchCallBackHWND(HWND hWnd) {
    CCriticalSectionGuard guard(&m_csLock);
    m_hDefaultWnd = hWnd;
}

int CVideoSearch::StartNewSearch(CString strKeyword, HWND hWnd) {
    CCriticalSectionGuard guard(&m_csLock);
    if (!hWnd && !m_hDefaultWnd) return -1;
    if (strKeyword.IsEmpty()) return -1;
    int id = CThreadIDManager::Instance()->GetID();
    if (id == 0) return -1;
    auto* worker = new CVideoSearchThread;
    VIDEOSEARCHTHREADINFO info;
    info.pThread = worker;
    info.hWnd = hWnd ? hWnd : m_hDefaultWnd;
    m_mapThreads.SetAt(id, info);
    worker->m_nID = id;
    worker->m_pCallBack = this;
    worker->m_strKeyword = strKeyword;
    if (worker->Start() != 0) {  // no thread, no message: the identifier goes back
        m_mapThreads.RemoveKey(id);
        CThreadIDManager::Instance()->ReleaseID(id);
        delete worker;
    }
    return id;
}

void CVideoSearch::Send(int nID, UINT nMsg, LPARAM lParam) {
    HWND window = nullptr;
    {
        CCriticalSectionGuard guard(&m_csLock);
        VIDEOSEARCHTHREADINFO info;
        if (!m_mapThreads.Lookup(nID, info) || !info.hWnd) return;
        window = info.hWnd;
        m_mapSending[nID] = GetWindowThreadProcessId(window, nullptr);
    }
    SendMessageA(window, nMsg, WPARAM(nID), lParam);
    CCriticalSectionGuard guard(&m_csLock);
    m_mapSending.erase(nID);
}

bool CVideoSearch::SendsToCaller(int nID) {
    auto it = m_mapSending.find(nID);
    return it != m_mapSending.end() && it->second == GetCurrentThreadId() && InSendMessage();
}

void CVideoSearch::OnBeginSearch(int nID, CString strKeyword) {
    Send(nID, WM_MX_BEGIN_VIDEO_SEARCH, reinterpret_cast<LPARAM>(&strKeyword));
}

void CVideoSearch::OnEndSearchResult(int nID, CString strKeyword, VIDEORESULTLIST* pResults) {
    VIDEOSEARCHRESULTINFO info;
    info.strKeyword = strKeyword;
    for (POSITION pos = pResults ? pResults->GetHeadPosition() : nullptr; pos;)
        info.listResult.AddTail(pResults->GetNext(pos));
    Send(nID, WM_MX_VIDEO_SEARCH_RESULT, reinterpret_cast<LPARAM>(&info));
}

void CVideoSearch::OnVideoSearchError(int nID, VideoSearchErrorCode nCode) {
    Send(nID, WM_MX_VIDEOSEARCH_ERROR, LPARAM(nCode));
}

void CVideoSearch::OnVideoSearchThreadExit(int nID) {
    CCriticalSectionGuard guard(&m_csLock);
    VIDEOSEARCHTHREADINFO info;
    if (!m_mapThreads.Lookup(nID, info)) return;
    if (info.hWnd) PostMessageA(info.hWnd, WM_MX_VIDEOSEARCH_THREAD_EXIT, WPARAM(nID), 0);
    CThreadIDManager::Instance()->ReleaseID(nID);
    m_mapThreads.RemoveKey(nID);
    if (m_mapThreads.IsEmpty()) m_mapThreads.RemoveAll();
}

int CVideoSearch::StopVideoSearchThread(int nID) {
    return nID != 0 ? StopSingalVideoSearchThread(nID) : StopAllVideoSearchThread();
}

int CVideoSearch::StopSingalVideoSearchThread(int nID) {
    HANDLE copy = nullptr;
    {
        CCriticalSectionGuard guard(&m_csLock);
        VIDEOSEARCHTHREADINFO info;
        if (!m_mapThreads.Lookup(nID, info) || !info.pThread) return -1;
        copy = WaitableThreadCopy(info.pThread->m_hThread);
        info.pThread->Stop();
        // Stopped from inside the message the worker is sending: it goes on once the handler returns.
        if (copy && SendsToCaller(nID)) {
            CloseHandle(copy);
            return 0;
        }
    }
    if (!copy) return -1;
    WaitForThreadAndClose(copy, true);
    return 0;
}

int CVideoSearch::StopAllVideoSearchThread() {
    std::vector<HANDLE> copies;
    {
        CCriticalSectionGuard guard(&m_csLock);
        for (POSITION pos = m_mapThreads.GetStartPosition(); pos;) {
            int id;
            VIDEOSEARCHTHREADINFO info;
            m_mapThreads.GetNextAssoc(pos, id, info);
            if (!info.pThread) continue;
            info.pThread->Stop();
            if (!SendsToCaller(id)) copies.push_back(WaitableThreadCopy(info.pThread->m_hThread));
        }
    }
    for (HANDLE copy : copies) WaitForThreadAndClose(copy, true);
    return 0;
}
