// The video search worker's side of the video manager: the callback it reports through, and its base.
#pragma once

#include <atomic>

#include "MxModule/MxExport.h"
#include "MxModule/search/SearchResult.h"
#include "platform/threads.h"

class MX_EXPORT CVideoSearchCallBack {
public:
    virtual void OnBeginSearch(int nID, CString strKeyword) = 0;
    virtual void OnEndSearchResult(int nID, CString strKeyword, VIDEORESULTLIST* pResults) = 0;
    virtual void OnVideoSearchError(int nID, VideoSearchErrorCode nCode) = 0;
    virtual void OnVideoSearchThreadExit(int nID) = 0;

protected:
    ~CVideoSearchCallBack() = default;
};

class MX_EXPORT CVideoSearchThreadBase {
public:
    CVideoSearchThreadBase() = default;
    virtual ~CVideoSearchThreadBase() = default;
    CVideoSearchThreadBase(const CVideoSearchThreadBase&) = delete;
    CVideoSearchThreadBase& operator=(const CVideoSearchThreadBase&) = delete;

    virtual int Run() = 0;
    virtual int Start();
    virtual int Stop();

    CVideoSearchCallBack* m_pCallBack = nullptr;
    int m_nID = 0;
    HANDLE m_hThread = INVALID_HANDLE_VALUE;
    std::atomic<int> m_bStop{0};

    static const int kMaxItems = 1000;  // entries read from one answer at most
};
