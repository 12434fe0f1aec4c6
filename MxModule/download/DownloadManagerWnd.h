// A download job's status window: hidden and message-only, owned by the front end's thread. The engine
// posts its progress to it; it relays each message to the front-end window with the job identifier.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/text.h"
#include "platform/windows.h"

// The messages of a download job to its front-end window; wParam is the job identifier unless stated.
// Sent unless marked posted; the pointers stay the sender's and are valid during the call only.
enum DownloadMessage : UINT {
    WM_MX_DOWNLOAD_STARTED = WM_USER + 3000,       // engine: the task began
    WM_MX_DOWNLOAD_PROGRESS = WM_USER + 3001,      // percent, 0 to 100
    WM_MX_DOWNLOAD_STATUS_TEXT = WM_USER + 3002,   // DOWNLOADSTATUSTEXT*
    WM_MX_DOWNLOAD_PAUSED = WM_USER + 3003,        // engine: paused
    WM_MX_DOWNLOAD_FAILED = WM_USER + 3004,        // engine: every address failed; the engine's code
    WM_MX_DOWNLOAD_NEXT_ADDRESS = WM_USER + 3005,  // engine: an address failed, the next one follows
    WM_MX_DOWNLOAD_RESUMING = WM_USER + 3006,      // engine: the partial file is continued
    WM_MX_DOWNLOAD_RESTARTING = WM_USER + 3007,    // engine: the partial file is started over
    WM_MX_DOWNLOAD_CONNECTING = WM_USER + 3008,    // engine: an address is being asked
    WM_MX_DOWNLOAD_JOB_END = WM_USER + 3010,       // posted: the last message of every job
    WM_MX_DOWNLOAD_RESOLVE_FAILED = WM_USER + 3011,  // DOWNLOADFAILINFO*
    WM_MX_DOWNLOAD_FIRST_URL = WM_USER + 3012,     // CString*: the first address used
    WM_MX_DOWNLOAD_JOB_FINISHED = WM_USER + 3013,  // the identifier went back to the pool
    WM_MX_DOWNLOAD_NOTICE = WM_USER + 3014,        // wParam 0: 0 after a failed resolution, else the engine's code
    WM_MX_DOWNLOAD_SIZE = WM_USER + 3015,          // the resolved size, 0 without resolution
    WM_MX_DOWNLOAD_URL_LIST = WM_USER + 3016,      // CList<CString, CString>*: the addresses used
    WM_MX_DOWNLOAD_ENGINE_FAILED = WM_USER + 3017,  // posted, wParam 0: the engine cannot start
    WM_MX_DOWNLOAD_COMPLETED = WM_USER + 3018,     // engine: the file is complete
};

// The engine's status text at the time of a status-text message, and that message's lParam.
struct DOWNLOADSTATUSTEXT {
    char szText[256];
    int32_t nParam;
};
static_assert(sizeof(DOWNLOADSTATUSTEXT) == 260, "the status text block is 260 bytes");

class MX_EXPORT CDownloadManagerWnd : public CFrameWnd {
    DECLARE_DYNAMIC(CDownloadManagerWnd)
public:
    HWND m_hFrontWnd = nullptr;
    void* m_pTask = nullptr;
    int m_nID = 0;

protected:
    // An engine message relayed as the front-end message nMsg, with lParam 0.
    template <UINT nMsg>
    LRESULT OnEngine(WPARAM, LPARAM) {
        Relay(nMsg, 0);
        return 0;
    }
    LRESULT OnProgress(WPARAM wParam, LPARAM lParam);
    LRESULT OnStatusText(WPARAM wParam, LPARAM lParam);
    LRESULT OnFailed(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    // Sends to the front end when both it and the job are known. The window may be destroyed by the
    // front end while it handles the message: nothing of this object is used after a send.
    void Relay(UINT nMsg, LPARAM lParam);
};

// The percent of a task from its engine status: done × 100 ÷ total, 0 while the total is unknown.
int DownloadPercentOf(void* pTask);
