// A download job: the record AddMultiDownload hands to the job's thread, the thread itself, and the
// resolver of download-address links.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/collections.h"
#include "platform/text.h"
#include "platform/windows.h"

class CDownloadAVFile;
class CDownloadManagerWnd;

// Owned by the job thread from its start.
struct DOWNLOADJOBINFO {
    CDownloadAVFile* pOwner = nullptr;
    void* pTask = nullptr;
    CDownloadManagerWnd* pWnd = nullptr;
    CList<CString, CString> listUrls{10};
    CString strTarget;
    int nID = -1;
    CString strCaller;
    HWND hWnd = nullptr;
    // The status window's handle: the front end may destroy the window object while the job runs.
    HWND hStatusWnd = nullptr;
};

// Why a link gave no addresses: 0 the resolver failed, 1 it returned none.
struct DOWNLOADFAILINFO {
    int nReason = 0;
    CString strUrl;
};

// The addresses and size behind a download-address link ("downloadList" with "size" and "urls", one
// address a line): 1, or 0 on any failure.
MX_EXPORT int GetDownloadURLs(CString strUrl, unsigned long& nSize, CList<CString, CString>* pList);

// The job: resolves a single download-address link, hands the addresses to the engine task, waits for
// the transfer and gives the identifier back. pParam is a DOWNLOADJOBINFO* it deletes.
DWORD DownloadJobThread(LPVOID pParam);
