// The video-search manager: starts video searches on worker threads; their begin, result and error
// reports are sent (the objects live for the call only), the exit report posted.
#pragma once

#include "MxModule/search/VideoSearchThreadBase.h"
#include "platform/collections.h"
#include "platform/threads.h"

struct VIDEOSEARCHTHREADINFO {
    CVideoSearchThreadBase* pThread = nullptr;
    HWND hWnd = nullptr;
    int nReserved = 0;
};

class MX_EXPORT CVideoSearch : public CVideoSearchCallBack {
public:
    CVideoSearch();
    // Stops every search and waits for it.
    virtual ~CVideoSearch();

    void OnBeginSearch(int nID, CString strKeyword) override;
    void OnEndSearchResult(int nID, CString strKeyword, VIDEORESULTLIST* pResults) override;
    void OnVideoSearchError(int nID, VideoSearchErrorCode nCode) override;
    void OnVideoSearchThreadExit(int nID) override;

    void SetDefaultVideoSearchCallBackHWND(HWND hWnd);
    // The search's identifier, or -1 (no window, an empty keyword, every identifier in use).
    int StartNewSearch(CString strKeyword, HWND hWnd);
    // nID 0 stops every search; always waits. While waiting, messages sent to the caller's windows are
    // handled, so a worker sending to them can end. -1 for a search that is not running.
    int StopVideoSearchThread(int nID);

protected:
    int StopSingalVideoSearchThread(int nID);
    int StopAllVideoSearchThread();

private:
    HWND Window(int nID);

    HWND m_hDefaultWnd = nullptr;
    CCriticalSection m_csLock;
    CMap<int, int, VIDEOSEARCHTHREADINFO, VIDEOSEARCHTHREADINFO> m_mapThreads{10};
};
