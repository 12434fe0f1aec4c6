#include "MxModule/search/AudioSearch.h"

#include <vector>

#include "MxModule/fileops/ThreadIDManager.h"
#include "MxModule/foundation/CriticalSectionGuard.h"
#include "MxModule/search/AudioLyricSearchThread.h"
#include "MxModule/search/AudioSongSearchThread.h"
#include "MxModule/search/SearchCommon.h"

namespace {

template <class Block>
void PostBlock(HWND hWnd, UINT nMsg, int nID, Block* pBlock) {
    if (!hWnd || !PostMessageA(hWnd, nMsg, WPARAM(nID), reinterpret_cast<LPARAM>(pBlock))) delete pBlock;
}

template <class T>
void CopyList(const CList<T, T>* pFrom, CList<T, T>& to) {
    for (POSITION pos = pFrom ? pFrom->GetHeadPosition() : nullptr; pos;) to.AddTail(pFrom->GetNext(pos));
}

}  // namespace

CAudioSearch::CAudioSearch() { m_mapThreads.InitHashTable(17, FALSE); }

CAudioSearch::~CAudioSearch() { StopAllAudioSearchThread(1); }

void CAudioSearch::SetDefaultAudioSearchCallBackHWND(HWND hWnd) {
    CCriticalSectionGuard guard(&m_csLock);
    m_hDefaultWnd = hWnd;
}

int CAudioSearch::Register(CAudioSearchThreadBase* pThread, HWND hWnd) {
    // Under the caller's hold of the lock.
    int id = CThreadIDManager::Instance()->GetID();
    if (id == 0) {
        delete pThread;
        return -1;
    }
    AUDIOSEARCHTHREADINFO info;
    info.pThread = pThread;
    info.hWnd = hWnd ? hWnd : m_hDefaultWnd;
    m_mapThreads.SetAt(id, info);
    pThread->m_nID = id;
    pThread->m_pCallBack = this;
    return id;
}

int CAudioSearch::StartNewSearch(CList<CString, CString>* pKeywords, CString strKeyword, AudioSearchType nType,
                                 HWND hWnd, AudioSearchResultType nResultType, int nExtra1, int nExtra2) {
    CCriticalSectionGuard guard(&m_csLock);
    if (!hWnd && !m_hDefaultWnd) return -1;
    if (strKeyword.IsEmpty() && nType != AST_ALL_SONGS && nType != AST_PLAYLISTS) return -1;
    auto* worker = new CAudioSongSearchThread;
    int id = Register(worker, hWnd);
    if (id < 0) return -1;
    CopyList(pKeywords, worker->m_listKeyword);
    worker->m_strKeyword = strKeyword;
    worker->m_nSearchType = nType;
    worker->m_nResultType = nResultType;
    worker->m_nExtra1 = nExtra1;
    worker->m_nExtra2 = nExtra2;
    if (worker->Start() != 0) Forget(id, worker);  // no thread, no message: the identifier goes back
    return id;
}

int CAudioSearch::LyricSearch(CString strFirst, CString strSecond, HWND hWnd, LyricSearchResultType nResultType) {
    CCriticalSectionGuard guard(&m_csLock);
    if (!hWnd && !m_hDefaultWnd) return -1;
    if (strSecond.IsEmpty() && nResultType != LSRT_ADDRESS) return -1;
    auto* worker = new CAudioLyricSearchThread;
    int id = Register(worker, hWnd);
    if (id < 0) return -1;
    worker->m_strFirst = strFirst;
    worker->m_strSecond = strSecond;
    worker->m_nResultType = nResultType;
    if (worker->Start() != 0) Forget(id, worker);
    return id;
}

void CAudioSearch::Forget(int nID, CAudioSearchThreadBase* pThread) {
    m_mapThreads.RemoveKey(nID);
    CThreadIDManager::Instance()->ReleaseID(nID);
    delete pThread;
}

HWND CAudioSearch::Window(int nID) {
    CCriticalSectionGuard guard(&m_csLock);
    AUDIOSEARCHTHREADINFO info;
    return m_mapThreads.Lookup(nID, info) ? info.hWnd : nullptr;
}

void CAudioSearch::OnBeginSongSearch(int nID, CString strKeyword, AudioSearchType nType, CString strSubKeyword) {
    auto* block = new AUDIOSEARCHBEGININFO;
    block->strKeyword = strKeyword;
    block->nSearchType = nType;
    block->strSubKeyword = strSubKeyword;
    PostBlock(Window(nID), WM_MX_BEGIN_SONG_SEARCH, nID, block);
}

void CAudioSearch::PostResult(int nID, UINT nMsg, CString strKeyword, AudioSearchType nType,
                              AUDIORESULTLIST* pResults, unsigned long dwValue, AudioSearchResultType nResultType,
                              CString strCorrection, SEARCHRESULTHINT* pHint, CString strSubKeyword) {
    HWND window = Window(nID);
    if (!window) return;
    auto* block = new AUDIOSEARCHRESULTINFO;
    block->strKeyword = strKeyword;
    block->nSearchType = nType;
    block->nResultType = nResultType;
    CopyList(pResults, block->listResult);
    block->dwValue = dwValue;
    block->strCorrection = strCorrection;
    if (pHint) block->hint = *pHint;
    block->strSubKeyword = strSubKeyword;
    PostBlock(window, nMsg, nID, block);
}

void CAudioSearch::OnEndSongFirstSearch(int nID, CString strKeyword, AudioSearchType nType, AUDIORESULTLIST* pResults,
                                        unsigned long dwValue, AudioSearchResultType nResultType,
                                        CString strCorrection, SEARCHRESULTHINT* pHint, CString strSubKeyword) {
    PostResult(nID, WM_MX_END_SONG_FIRST_SEARCH, strKeyword, nType, pResults, dwValue, nResultType, strCorrection,
               pHint, strSubKeyword);
}

void CAudioSearch::OnEndSongSearch(int nID, CString strKeyword, AudioSearchType nType, AUDIORESULTLIST* pResults,
                                   unsigned long dwValue, AudioSearchResultType nResultType, CString strCorrection,
                                   SEARCHRESULTHINT* pHint, CString strSubKeyword) {
    PostResult(nID, WM_MX_END_SONG_SEARCH, strKeyword, nType, pResults, dwValue, nResultType, strCorrection, pHint,
               strSubKeyword);
}

void CAudioSearch::OnBeginLyricSearch(int nID, CString strFirst, CString strSecond) {
    PostBlock(Window(nID), WM_MX_BEGIN_LYRIC_SEARCH, nID, new LYRICSEARCHBEGININFO{strFirst, strSecond});
}

void CAudioSearch::OnEndLyricSearch(int nID, CString strFirst, CString strSecond, LYRICRESULTLIST* pResults) {
    HWND window = Window(nID);
    if (!window) return;
    auto* block = new LYRICSEARCHRESULTINFO;
    block->strFirst = strFirst;
    block->strSecond = strSecond;
    CopyList(pResults, block->listResult);
    PostBlock(window, WM_MX_END_LYRIC_SEARCH, nID, block);
}

void CAudioSearch::OnAudioSearchError(int nID, AudioSearchErrorCode nCode) {
    if (HWND window = Window(nID)) PostMessageA(window, WM_MX_AUDIOSEARCH_ERROR, WPARAM(nID), LPARAM(nCode));
}

void CAudioSearch::OnAudioSearchThreadExit(int nID) {
    CCriticalSectionGuard guard(&m_csLock);
    AUDIOSEARCHTHREADINFO info;
    if (!m_mapThreads.Lookup(nID, info)) return;
    if (info.hWnd) PostMessageA(info.hWnd, WM_MX_AUDIOSEARCH_THREAD_EXIT, WPARAM(nID), 0);
    CThreadIDManager::Instance()->ReleaseID(nID);
    m_mapThreads.RemoveKey(nID);
    if (m_mapThreads.IsEmpty()) m_mapThreads.RemoveAll();
}

int CAudioSearch::StopAudioSearchThread(int nID, int bWait) {
    return nID != 0 ? StopSingalAudioSearchThread(nID, bWait) : StopAllAudioSearchThread(bWait);
}

int CAudioSearch::StopSingalAudioSearchThread(int nID, int bWait) {
    HANDLE copy = nullptr;
    {
        CCriticalSectionGuard guard(&m_csLock);
        AUDIOSEARCHTHREADINFO info;
        if (!m_mapThreads.Lookup(nID, info) || !info.pThread) return -1;
        copy = WaitableThreadCopy(info.pThread->m_hThread);
        info.pThread->Stop();
        info.nReserved = 0;
        m_mapThreads.SetAt(nID, info);
    }
    if (!copy) return -1;
    if (bWait) WaitForThreadAndClose(copy, false);
    else CloseHandle(copy);
    return 0;
}

int CAudioSearch::StopAllAudioSearchThread(int bWait) {
    std::vector<HANDLE> copies;
    {
        CCriticalSectionGuard guard(&m_csLock);
        for (POSITION pos = m_mapThreads.GetStartPosition(); pos;) {
            int id;
            AUDIOSEARCHTHREADINFO info;
            m_mapThreads.GetNextAssoc(pos, id, info);
            if (!info.pThread) continue;
            copies.push_back(WaitableThreadCopy(info.pThread->m_hThread));
            info.pThread->Stop();
        }
    }
    for (HANDLE copy : copies) {
        if (bWait) WaitForThreadAndClose(copy, false);
        else if (copy) CloseHandle(copy);
    }
    return 0;
}
