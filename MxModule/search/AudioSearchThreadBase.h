// The song and lyric search workers' side of the song-search manager: the callback they report through,
// and their common base (a thread of its own, a stop flag, self-deletion at the end).
#pragma once

#include <atomic>

#include "MxModule/MxExport.h"
#include "MxModule/search/SearchResult.h"
#include "platform/threads.h"

class MX_EXPORT CAudioSearchCallBack {
public:
    virtual void OnBeginSongSearch(int nID, CString strKeyword, AudioSearchType nType, CString strSubKeyword) = 0;
    virtual void OnEndSongFirstSearch(int nID, CString strKeyword, AudioSearchType nType, AUDIORESULTLIST* pResults,
                                      unsigned long dwValue, AudioSearchResultType nResultType, CString strCorrection,
                                      SEARCHRESULTHINT* pHint, CString strSubKeyword) = 0;
    virtual void OnEndSongSearch(int nID, CString strKeyword, AudioSearchType nType, AUDIORESULTLIST* pResults,
                                 unsigned long dwValue, AudioSearchResultType nResultType, CString strCorrection,
                                 SEARCHRESULTHINT* pHint, CString strSubKeyword) = 0;
    virtual void OnBeginLyricSearch(int nID, CString strFirst, CString strSecond) = 0;
    virtual void OnEndLyricSearch(int nID, CString strFirst, CString strSecond, LYRICRESULTLIST* pResults) = 0;
    virtual void OnAudioSearchError(int nID, AudioSearchErrorCode nCode) = 0;
    virtual void OnAudioSearchThreadExit(int nID) = 0;

protected:
    ~CAudioSearchCallBack() = default;
};

class MX_EXPORT CAudioSearchThreadBase {
public:
    CAudioSearchThreadBase() = default;
    virtual ~CAudioSearchThreadBase() = default;
    CAudioSearchThreadBase(const CAudioSearchThreadBase&) = delete;
    CAudioSearchThreadBase& operator=(const CAudioSearchThreadBase&) = delete;

    // The search itself, on the worker's thread; exceptions inside it end the search quietly.
    virtual int Run() = 0;
    // Starts the thread, which deletes the worker when the search and its exit report are done.
    // -1 when the thread cannot be made.
    virtual int Start();
    // Raises the stop flag; the search ends at its next check, without a result message.
    virtual int Stop();

    CAudioSearchCallBack* m_pCallBack = nullptr;
    int m_nID = 0;
    HANDLE m_hThread = INVALID_HANDLE_VALUE;
    std::atomic<int> m_bStop{0};

    // Items read from one answer at most, and errors reported by one search at most: a hostile answer
    // cannot flood the front end's queue.
    static const int kMaxItems = 1000;
    static const int kMaxErrors = 100;

protected:
    void ReportError(AudioSearchErrorCode nCode) {
        if (m_nErrors++ < kMaxErrors) m_pCallBack->OnAudioSearchError(m_nID, nCode);
    }

private:
    int m_nErrors = 0;
};
