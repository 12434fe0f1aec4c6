// The song-search manager: starts song and lyric searches on worker threads and turns their reports
// into messages for the window registered with each search. A front end makes its own instances.
#pragma once

#include "MxModule/search/AudioSearchThreadBase.h"
#include "platform/collections.h"
#include "platform/threads.h"

struct AUDIOSEARCHTHREADINFO {
    CAudioSearchThreadBase* pThread = nullptr;
    HWND hWnd = nullptr;
    int nReserved = 0;
};

class MX_EXPORT CAudioSearch : public CAudioSearchCallBack {
public:
    CAudioSearch();
    // Stops every search and waits for it, so that no report reaches a manager that is gone.
    virtual ~CAudioSearch();

    void OnBeginSongSearch(int nID, CString strKeyword, AudioSearchType nType, CString strSubKeyword) override;
    void OnEndSongFirstSearch(int nID, CString strKeyword, AudioSearchType nType, AUDIORESULTLIST* pResults,
                              unsigned long dwValue, AudioSearchResultType nResultType, CString strCorrection,
                              SEARCHRESULTHINT* pHint, CString strSubKeyword) override;
    void OnEndSongSearch(int nID, CString strKeyword, AudioSearchType nType, AUDIORESULTLIST* pResults,
                         unsigned long dwValue, AudioSearchResultType nResultType, CString strCorrection,
                         SEARCHRESULTHINT* pHint, CString strSubKeyword) override;
    void OnBeginLyricSearch(int nID, CString strFirst, CString strSecond) override;
    void OnEndLyricSearch(int nID, CString strFirst, CString strSecond, LYRICRESULTLIST* pResults) override;
    void OnAudioSearchError(int nID, AudioSearchErrorCode nCode) override;
    void OnAudioSearchThreadExit(int nID) override;

    // The window of searches started without one.
    void SetDefaultAudioSearchCallBackHWND(HWND hWnd);
    // The search's identifier, or -1 (no window, an empty keyword where one is needed, every identifier
    // in use). pKeywords (may be null) names the playlists of a batch (AST_PLAYLISTS).
    int StartNewSearch(CList<CString, CString>* pKeywords, CString strKeyword, AudioSearchType nType, HWND hWnd,
                       AudioSearchResultType nResultType, int nExtra1, int nExtra2);
    int LyricSearch(CString strFirst, CString strSecond, HWND hWnd, LyricSearchResultType nResultType);
    // nID 0 stops every search. With bWait, returns once the search's exit message is queued.
    // -1 for a search that is not running.
    int StopAudioSearchThread(int nID, int bWait);

protected:
    int StopSingalAudioSearchThread(int nID, int bWait);
    int StopAllAudioSearchThread(int bWait);

private:
    int Register(CAudioSearchThreadBase* pThread, HWND hWnd);
    void Forget(int nID, CAudioSearchThreadBase* pThread);
    HWND Window(int nID);
    void PostResult(int nID, UINT nMsg, CString strKeyword, AudioSearchType nType, AUDIORESULTLIST* pResults,
                    unsigned long dwValue, AudioSearchResultType nResultType, CString strCorrection,
                    SEARCHRESULTHINT* pHint, CString strSubKeyword);

    HWND m_hDefaultWnd = nullptr;
    CCriticalSection m_csLock;
    CMap<int, int, AUDIOSEARCHTHREADINFO, AUDIOSEARCHTHREADINFO> m_mapThreads{10};
};
