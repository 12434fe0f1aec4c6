// The video-search manager: starts video searches on worker threads; their begin, result and error
// reports are sent (the objects live for the call only), the exit report posted.
#pragma once

#include <map>

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
    // handled, so a worker sending to them can end; a search whose message the caller is handling is
    // stopped without waiting. -1 for a search that is not running. The manager must not be destroyed
    // from inside one of its own messages.
    int StopVideoSearchThread(int nID);

protected:
    int StopSingalVideoSearchThread(int nID);
    int StopAllVideoSearchThread();

private:
    // Sends to the search's window, noting meanwhile which thread the worker waits for.
    void Send(int nID, UINT nMsg, LPARAM lParam);
    // Whether the calling thread is handling a sent message while this search's worker waits on a send to
    // it: the message is most likely the worker's own, and waiting could never end (under the lock).
    bool SendsToCaller(int nID);

    HWND m_hDefaultWnd = nullptr;
    CCriticalSection m_csLock;
    CMap<int, int, VIDEOSEARCHTHREADINFO, VIDEOSEARCHTHREADINFO> m_mapThreads{10};
    std::map<int, DWORD> m_mapSending;  // search identifier -> thread of the window it is sending to
};
