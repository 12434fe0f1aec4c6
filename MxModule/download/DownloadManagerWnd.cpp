#include "MxModule/download/DownloadManagerWnd.h"

#include <cstring>

#include "mira/MiraLib.h"

int DownloadPercentOf(void* pTask) {
    unsigned char status[MIRA_STATUS_SIZE] = {};
    MiraGetStatusInfo(pTask, status);
    int64_t nTotal = 0;
    int64_t nDone = 0;
    std::memcpy(&nTotal, status + 800, 8);
    std::memcpy(&nDone, status + 808, 8);
    if (nTotal <= 0) return 0;
    return static_cast<int>(nDone * 100 / nTotal);
}

IMPLEMENT_DYNAMIC(CDownloadManagerWnd, CFrameWnd)

BEGIN_MESSAGE_MAP(CDownloadManagerWnd, CFrameWnd)
ON_MESSAGE(MIRA_MSG_STARTED, OnEngine<WM_MX_DOWNLOAD_STARTED>)
ON_MESSAGE(MIRA_MSG_SIZEKNOWN, OnProgress)
ON_MESSAGE(MIRA_MSG_PROGRESS, OnProgress)
ON_MESSAGE(MIRA_MSG_DATADONE, OnProgress)
ON_MESSAGE(MIRA_MSG_STATUSTEXT, OnStatusText)
ON_MESSAGE(MIRA_MSG_PAUSED, OnEngine<WM_MX_DOWNLOAD_PAUSED>)
ON_MESSAGE(MIRA_MSG_FAILED, OnFailed)
ON_MESSAGE(MIRA_MSG_NEXTADDRESS, OnEngine<WM_MX_DOWNLOAD_NEXT_ADDRESS>)
ON_MESSAGE(MIRA_MSG_RESUMING, OnEngine<WM_MX_DOWNLOAD_RESUMING>)
ON_MESSAGE(MIRA_MSG_RESTARTING, OnEngine<WM_MX_DOWNLOAD_RESTARTING>)
ON_MESSAGE(MIRA_MSG_CONNECTING, OnEngine<WM_MX_DOWNLOAD_CONNECTING>)
ON_MESSAGE(MIRA_MSG_COMPLETED, OnEngine<WM_MX_DOWNLOAD_COMPLETED>)
END_MESSAGE_MAP()

void CDownloadManagerWnd::Relay(UINT nMsg, LPARAM lParam) {
    if (m_hFrontWnd && m_nID) SendMessageA(m_hFrontWnd, nMsg, static_cast<WPARAM>(m_nID), lParam);
}

LRESULT CDownloadManagerWnd::OnProgress(WPARAM, LPARAM) {
    if (m_hFrontWnd && m_nID) Relay(WM_MX_DOWNLOAD_PROGRESS, DownloadPercentOf(m_pTask));
    return 0;
}

LRESULT CDownloadManagerWnd::OnStatusText(WPARAM, LPARAM lParam) {
    if (!m_hFrontWnd || !m_nID) return 0;
    unsigned char status[MIRA_STATUS_SIZE] = {};
    MiraGetStatusInfo(m_pTask, status);
    DOWNLOADSTATUSTEXT text;
    std::memcpy(text.szText, status + 512, sizeof(text.szText));
    text.nParam = static_cast<int32_t>(lParam);
    // The front end may delete the job while it handles the text: then no notice follows (window
    // handles are never reused, so a gone one stays gone).
    HWND hFront = m_hFrontWnd, hSelf = m_hWnd;
    Relay(WM_MX_DOWNLOAD_STATUS_TEXT, reinterpret_cast<LPARAM>(&text));
    if (lParam && IsWindow(hSelf)) SendMessageA(hFront, WM_MX_DOWNLOAD_NOTICE, 0, lParam);
    return 0;
}

LRESULT CDownloadManagerWnd::OnFailed(WPARAM, LPARAM lParam) {
    Relay(WM_MX_DOWNLOAD_FAILED, lParam);
    return 0;
}

