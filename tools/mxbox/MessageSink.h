// A front end's window for the module's messages: a message-only window that records every message
// with the contents of its block and frees the block, as the receiver must, and a pump that runs until
// an operation's thread-exit message arrives or a time bound passes. mxbox and the tests both use it.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "MxModule/MxModule.h"

struct RECEIVEDMSG {
    UINT nMessage = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;  // the count or value of messages without a block
    bool bBlock = false;
    CString strText[4];  // of a FILEOPERATEMSGINFO, NEWAUDIOINFOMSG or the extension notice
    int nValue = 0;
    int nCode = FOR_NONE;
    bool bList = false;
    std::vector<CString> vecList;
    // Downloads: the status text or the address (strText[0]), the engine's code or the failure's reason
    // (nValue), the address list (vecList); a job's end counts as its exit.
    // Searches: texts of the begin and result blocks in strText (keyword or first string, then the
    // sub-keyword or second string, then the correction), the search type in nValue, an error in nCode.
    unsigned long dwValue = 0;
    SEARCHRESULTHINT hint;
    std::vector<AUDIORESULTUINT> vecSongs;
    std::vector<LYRICRESULTUINT> vecLyrics;
    std::vector<VIDEORESULTUINT> vecVideos;
};

class CMessageSink {
public:
    // Whose messages the window takes: the numbers of the managers overlap.
    enum Source { kFileOperations, kAudioSearch, kVideoSearch, kDownloads };
    // The window belongs to the calling thread, which must pump it.
    explicit CMessageSink(Source nSource = kFileOperations);
    ~CMessageSink();
    CMessageSink(const CMessageSink&) = delete;
    CMessageSink& operator=(const CMessageSink&) = delete;

    HWND GetHwnd() const { return m_hWnd; }
    // Handles (and frees) every queued message, then destroys the window; later posts to it fail.
    void Destroy();
    // Pumps until a thread-exit message of nID has been handled that no earlier call took (identifiers
    // are reused, so each started operation waits for its own); false when dwTimeout ms pass first.
    bool PumpUntilExit(int nID, DWORD dwTimeout);
    // Handles what is queued now, without waiting.
    void PumpPending();

    // Every message handled so far, in order; with nID, only those of that operation.
    const std::vector<RECEIVEDMSG>& Messages() const { return m_vecMessages; }
    std::vector<RECEIVEDMSG> Messages(int nID) const;
    // Called for each message as it is handled (after its block was read, before it is freed).
    std::function<void(const RECEIVEDMSG&)> m_fnOnMessage;

private:
    static LRESULT WindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    void Handle(UINT nMsg, WPARAM wParam, LPARAM lParam);

    void HandleSearch(RECEIVEDMSG& m, LPARAM lParam);
    void HandleDownload(RECEIVEDMSG& m, LPARAM lParam);

    Source m_nSource;
    HWND m_hWnd = nullptr;
    std::vector<RECEIVEDMSG> m_vecMessages;
    std::map<WPARAM, int> m_mapExits;  // thread-exit messages not yet waited for
};

// The name of a module message ("WM_USER+3221"-style numbers become names like "THREAD_EXIT").
const char* MessageName(UINT nMsg, CMessageSink::Source nSource = CMessageSink::kFileOperations);
