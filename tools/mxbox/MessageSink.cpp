#include "MessageSink.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

const char kClassName[] = "MxMessageSink";

std::mutex g_sinksLock;
std::map<HWND, CMessageSink*> g_sinks;

enum class BlockKind { None, Info, NewAudio, List, Extension, PlayerNotice };

BlockKind KindOf(UINT nMsg) {
    switch (nMsg) {
        case WM_MX_BEGIN_COPY_MULTI_FILES:
        case WM_MX_END_COPY_MULTI_FILES:
        case WM_MX_BEGIN_MOVE_MULTI_FILES:
        case WM_MX_END_MOVE_MULTI_FILES:
        case WM_MX_BEGIN_DELETE_MULTI_FILES:
        case WM_MX_END_DELETE_MULTI_FILES:
        case WM_MX_FILEOPERATE_THREAD_EXIT:
        case WM_MX_BEGIN_IMPORT:
        case WM_MX_END_IMPORT:
        case WM_USER + 3229:  // never used
        case WM_USER + 3230:
            return BlockKind::None;
        case WM_MX_DOWNLOAD_NEW_AUDIO_INFO:
            return BlockKind::NewAudio;
        case WM_MX_END_COPY_ANALYZED_MULTI_FILES:
        case WM_MX_END_COPY_NOT_ANALYZED_MULTI_FILES:
            return BlockKind::List;
        case WM_MX_EXTENSION_CORRECTED:
            return BlockKind::Extension;
        case WM_MX_FIND_PLAYER_NO_LIST:
            return BlockKind::PlayerNotice;
        default:
            return nMsg >= WM_MX_BEGIN_COPY_SINGLE_FILE && nMsg <= WM_MX_END_COPY_NOT_ANALYZED_MULTI_FILES ? BlockKind::Info
                                                                                                      : BlockKind::None;
    }
}

}  // namespace

CMessageSink::CMessageSink(Source nSource) : m_nSource(nSource) {
    static const bool registered = [] {
        WNDCLASSA c{};
        c.lpfnWndProc = WindowProc;
        c.lpszClassName = kClassName;
        return RegisterClassA(&c) != 0;
    }();
    if (!registered) return;
    m_hWnd = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    std::lock_guard<std::mutex> guard(g_sinksLock);
    g_sinks[m_hWnd] = this;
}

CMessageSink::~CMessageSink() { Destroy(); }

void CMessageSink::Destroy() {
    if (!m_hWnd) return;
    MSG msg;
    while (PeekMessageA(&msg, m_hWnd, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    DestroyWindow(m_hWnd);
    std::lock_guard<std::mutex> guard(g_sinksLock);
    g_sinks.erase(m_hWnd);
    m_hWnd = nullptr;
}

LRESULT CMessageSink::WindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    CMessageSink* sink = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_sinksLock);
        auto it = g_sinks.find(hWnd);
        if (it != g_sinks.end()) sink = it->second;
    }
    if (sink) sink->Handle(nMsg, wParam, lParam);
    return DefWindowProcA(hWnd, nMsg, wParam, lParam);
}

void CMessageSink::Handle(UINT nMsg, WPARAM wParam, LPARAM lParam) {
    RECEIVEDMSG m;
    m.nMessage = nMsg;
    m.wParam = wParam;
    if (m_nSource != kFileOperations) {
        if (m_nSource == kDownloads)
            HandleDownload(m, lParam);
        else
            HandleSearch(m, lParam);
        if (m_fnOnMessage) m_fnOnMessage(m);
        m_vecMessages.push_back(std::move(m));
        return;
    }
    switch (KindOf(nMsg)) {
        case BlockKind::None:
            m.lParam = lParam;
            break;
        case BlockKind::Info: {
            std::unique_ptr<FILEOPERATEMSGINFO> block(reinterpret_cast<FILEOPERATEMSGINFO*>(lParam));
            m.bBlock = block != nullptr;
            if (block) {
                m.strText[0] = block->strText1;
                m.strText[1] = block->strText2;
                m.strText[2] = block->strText3;
                m.strText[3] = block->strText4;
                m.nValue = block->nValue;
                m.nCode = block->nCode;
            }
            break;
        }
        case BlockKind::NewAudio: {
            std::unique_ptr<NEWAUDIOINFOMSG> block(reinterpret_cast<NEWAUDIOINFOMSG*>(lParam));
            m.bBlock = block != nullptr;
            if (block) {
                m.strText[0] = block->strText1;
                m.strText[1] = block->strText2;
                m.strText[2] = block->strText3;
            }
            break;
        }
        case BlockKind::List: {
            std::unique_ptr<CStringList> list(reinterpret_cast<CStringList*>(lParam));
            m.bList = list != nullptr;
            if (list)
                for (POSITION pos = list->GetHeadPosition(); pos;) m.vecList.push_back(list->GetNext(pos));
            break;
        }
        case BlockKind::PlayerNotice: {  // the player's name and version
            std::unique_ptr<CString[]> texts(reinterpret_cast<CString*>(lParam));
            m.bBlock = texts != nullptr;
            if (texts)
                for (int i = 0; i < 2; ++i) m.strText[i] = texts[size_t(i)];
            break;
        }
        case BlockKind::Extension: {
            std::unique_ptr<CString[]> texts(reinterpret_cast<CString*>(lParam));
            m.bBlock = texts != nullptr;
            if (texts)
                for (int i = 0; i < 3; ++i) m.strText[i] = texts[size_t(i)];
            break;
        }
    }
    if (nMsg == WM_MX_FILEOPERATE_THREAD_EXIT) ++m_mapExits[wParam];
    if (m_fnOnMessage) m_fnOnMessage(m);
    m_vecMessages.push_back(std::move(m));
}

void CMessageSink::HandleSearch(RECEIVEDMSG& m, LPARAM lParam) {
    auto songs = [&m](AUDIOSEARCHRESULTINFO* block) {
        m.strText[0] = block->strKeyword;
        m.strText[1] = block->strSubKeyword;
        m.strText[2] = block->strCorrection;
        m.nValue = block->nSearchType;
        m.dwValue = block->dwValue;
        m.hint = block->hint;
        for (POSITION pos = block->listResult.GetHeadPosition(); pos;) m.vecSongs.push_back(block->listResult.GetNext(pos));
    };
    if (m_nSource == kVideoSearch) {
        switch (m.nMessage) {
            case WM_MX_BEGIN_VIDEO_SEARCH:  // sent: the worker keeps what it sent
                if (lParam) m.strText[0] = *reinterpret_cast<CString*>(lParam);
                break;
            case WM_MX_VIDEO_SEARCH_RESULT:
                if (auto* info = reinterpret_cast<VIDEOSEARCHRESULTINFO*>(lParam)) {
                    m.strText[0] = info->strKeyword;
                    for (POSITION pos = info->listResult.GetHeadPosition(); pos;)
                        m.vecVideos.push_back(info->listResult.GetNext(pos));
                }
                break;
            case WM_MX_VIDEOSEARCH_ERROR: m.nCode = int(lParam); break;
            case WM_MX_VIDEOSEARCH_THREAD_EXIT: ++m_mapExits[m.wParam]; break;
            default: m.lParam = lParam; break;
        }
        return;
    }
    switch (m.nMessage) {
        case WM_MX_BEGIN_SONG_SEARCH: {
            std::unique_ptr<AUDIOSEARCHBEGININFO> block(reinterpret_cast<AUDIOSEARCHBEGININFO*>(lParam));
            m.bBlock = block != nullptr;
            if (block) {
                m.strText[0] = block->strKeyword;
                m.strText[1] = block->strSubKeyword;
                m.nValue = block->nSearchType;
            }
            break;
        }
        case WM_MX_END_SONG_SEARCH:
        case WM_MX_END_SONG_FIRST_SEARCH: {
            std::unique_ptr<AUDIOSEARCHRESULTINFO> block(reinterpret_cast<AUDIOSEARCHRESULTINFO*>(lParam));
            m.bBlock = block != nullptr;
            if (block) songs(block.get());
            break;
        }
        case WM_MX_BEGIN_LYRIC_SEARCH: {
            std::unique_ptr<LYRICSEARCHBEGININFO> block(reinterpret_cast<LYRICSEARCHBEGININFO*>(lParam));
            m.bBlock = block != nullptr;
            if (block) {
                m.strText[0] = block->strFirst;
                m.strText[1] = block->strSecond;
            }
            break;
        }
        case WM_MX_END_LYRIC_SEARCH: {
            std::unique_ptr<LYRICSEARCHRESULTINFO> block(reinterpret_cast<LYRICSEARCHRESULTINFO*>(lParam));
            m.bBlock = block != nullptr;
            if (block) {
                m.strText[0] = block->strFirst;
                m.strText[1] = block->strSecond;
                for (POSITION pos = block->listResult.GetHeadPosition(); pos;)
                    m.vecLyrics.push_back(block->listResult.GetNext(pos));
            }
            break;
        }
        case WM_MX_AUDIOSEARCH_ERROR: m.nCode = int(lParam); break;
        case WM_MX_AUDIOSEARCH_THREAD_EXIT: ++m_mapExits[m.wParam]; break;
        default: m.lParam = lParam; break;
    }
}

// Every block of a download is the sender's: read, never freed.
void CMessageSink::HandleDownload(RECEIVEDMSG& m, LPARAM lParam) {
    switch (m.nMessage) {
        case WM_MX_DOWNLOAD_STATUS_TEXT:
            if (auto* text = reinterpret_cast<DOWNLOADSTATUSTEXT*>(lParam)) {
                m.strText[0] = CString(text->szText, int(strnlen(text->szText, sizeof(text->szText))));
                m.nValue = text->nParam;
            }
            break;
        case WM_MX_DOWNLOAD_RESOLVE_FAILED:
            if (auto* fail = reinterpret_cast<DOWNLOADFAILINFO*>(lParam)) {
                m.strText[0] = fail->strUrl;
                m.nValue = fail->nReason;
            }
            break;
        case WM_MX_DOWNLOAD_FIRST_URL:
            if (lParam) m.strText[0] = *reinterpret_cast<CString*>(lParam);
            break;
        case WM_MX_DOWNLOAD_URL_LIST:
            if (auto* list = reinterpret_cast<CList<CString, CString>*>(lParam))
                for (POSITION pos = list->GetHeadPosition(); pos;) m.vecList.push_back(list->GetNext(pos));
            m.bList = true;
            break;
        case WM_MX_DOWNLOAD_JOB_END: ++m_mapExits[m.wParam]; break;
        default: m.lParam = lParam; break;
    }
}

void CMessageSink::PumpPending() {
    MSG msg;
    // A download's engine messages reach the job's status window first, on this thread too.
    HWND filter = m_nSource == kDownloads ? nullptr : m_hWnd;
    while (m_hWnd && PeekMessageA(&msg, filter, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

bool CMessageSink::PumpUntilExit(int nID, DWORD dwTimeout) {
    DWORD start = GetTickCount();
    while (true) {
        PumpPending();
        auto exit = m_mapExits.find(WPARAM(nID));
        if (exit != m_mapExits.end() && exit->second > 0) {
            --exit->second;
            return true;
        }
        DWORD spent = GetTickCount() - start;
        if (spent >= dwTimeout) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, dwTimeout - spent, QS_ALLINPUT);
    }
}

std::vector<RECEIVEDMSG> CMessageSink::Messages(int nID) const {
    std::vector<RECEIVEDMSG> out;
    for (const RECEIVEDMSG& m : m_vecMessages)
        if (m.wParam == WPARAM(nID) && m.nMessage != WM_MX_EXTENSION_CORRECTED) out.push_back(m);
    return out;
}

const char* MessageName(UINT nMsg, CMessageSink::Source nSource) {
    static const std::map<UINT, const char*> kAudio = {
        {WM_MX_BEGIN_SONG_SEARCH, "BEGIN_SONG_SEARCH"},       {WM_MX_END_SONG_SEARCH, "END_SONG_SEARCH"},
        {WM_MX_BEGIN_LYRIC_SEARCH, "BEGIN_LYRIC_SEARCH"},     {WM_MX_END_LYRIC_SEARCH, "END_LYRIC_SEARCH"},
        {WM_MX_AUDIOSEARCH_ERROR, "SEARCH_ERROR"},            {WM_MX_AUDIOSEARCH_THREAD_EXIT, "THREAD_EXIT"},
        {WM_MX_END_SONG_FIRST_SEARCH, "END_SONG_FIRST_SEARCH"}};
    static const std::map<UINT, const char*> kVideo = {{WM_MX_BEGIN_VIDEO_SEARCH, "BEGIN_VIDEO_SEARCH"},
                                                       {WM_MX_VIDEO_SEARCH_RESULT, "VIDEO_SEARCH_RESULT"},
                                                       {WM_MX_VIDEOSEARCH_ERROR, "SEARCH_ERROR"},
                                                       {WM_MX_VIDEOSEARCH_THREAD_EXIT, "THREAD_EXIT"}};
    static const std::map<UINT, const char*> kDownload = {
        {WM_MX_DOWNLOAD_STARTED, "STARTED"},          {WM_MX_DOWNLOAD_PROGRESS, "PROGRESS"},
        {WM_MX_DOWNLOAD_STATUS_TEXT, "STATUS_TEXT"},  {WM_MX_DOWNLOAD_PAUSED, "PAUSED"},
        {WM_MX_DOWNLOAD_FAILED, "FAILED"},            {WM_MX_DOWNLOAD_NEXT_ADDRESS, "NEXT_ADDRESS"},
        {WM_MX_DOWNLOAD_RESUMING, "RESUMING"},        {WM_MX_DOWNLOAD_RESTARTING, "RESTARTING"},
        {WM_MX_DOWNLOAD_CONNECTING, "CONNECTING"},    {WM_MX_DOWNLOAD_JOB_END, "JOB_END"},
        {WM_MX_DOWNLOAD_RESOLVE_FAILED, "RESOLVE_FAILED"}, {WM_MX_DOWNLOAD_FIRST_URL, "FIRST_URL"},
        {WM_MX_DOWNLOAD_JOB_FINISHED, "JOB_FINISHED"}, {WM_MX_DOWNLOAD_NOTICE, "NOTICE"},
        {WM_MX_DOWNLOAD_SIZE, "SIZE"},                {WM_MX_DOWNLOAD_URL_LIST, "URL_LIST"},
        {WM_MX_DOWNLOAD_ENGINE_FAILED, "ENGINE_FAILED"}, {WM_MX_DOWNLOAD_COMPLETED, "COMPLETED"}};
    if (nSource == CMessageSink::kDownloads) {
        auto it = kDownload.find(nMsg);
        return it == kDownload.end() ? "UNKNOWN" : it->second;
    }
    if (nSource != CMessageSink::kFileOperations) {
        const auto& names = nSource == CMessageSink::kAudioSearch ? kAudio : kVideo;
        auto it = names.find(nMsg);
        return it == names.end() ? "UNKNOWN" : it->second;
    }
    static const std::map<UINT, const char*> kNames = {
        {WM_MX_BEGIN_COPY_SINGLE_FILE, "BEGIN_COPY_SINGLE_FILE"},
        {WM_MX_COPYING_SINGLE_FILE, "COPYING_SINGLE_FILE"},
        {WM_MX_END_COPY_SINGLE_FILE, "END_COPY_SINGLE_FILE"},
        {WM_MX_BEGIN_COPY_MULTI_FILES, "BEGIN_COPY_MULTI_FILES"},
        {WM_MX_BEGIN_COPY_ONE_OF_MULTI_FILES, "BEGIN_COPY_ONE_OF_MULTI_FILES"},
        {WM_MX_END_COPY_ONE_OF_MULTI_FILES, "END_COPY_ONE_OF_MULTI_FILES"},
        {WM_MX_END_COPY_MULTI_FILES, "END_COPY_MULTI_FILES"},
        {WM_MX_BEGIN_MOVE_SINGLE_FILE, "BEGIN_MOVE_SINGLE_FILE"},
        {WM_MX_MOVING_SINGLE_FILE, "MOVING_SINGLE_FILE"},
        {WM_MX_END_MOVE_SINGLE_FILE, "END_MOVE_SINGLE_FILE"},
        {WM_MX_BEGIN_MOVE_MULTI_FILES, "BEGIN_MOVE_MULTI_FILES"},
        {WM_MX_BEGIN_MOVE_ONE_OF_MULTI_FILES, "BEGIN_MOVE_ONE_OF_MULTI_FILES"},
        {WM_MX_END_MOVE_ONE_OF_MULTI_FILES, "END_MOVE_ONE_OF_MULTI_FILES"},
        {WM_MX_END_MOVE_MULTI_FILES, "END_MOVE_MULTI_FILES"},
        {WM_MX_BEGIN_DELETE_SINGLE_FILE, "BEGIN_DELETE_SINGLE_FILE"},
        {WM_MX_END_DELETE_SINGLE_FILE, "END_DELETE_SINGLE_FILE"},
        {WM_MX_BEGIN_DELETE_MULTI_FILES, "BEGIN_DELETE_MULTI_FILES"},
        {WM_MX_BEGIN_DELETE_ONE_OF_MULTI_FILES, "BEGIN_DELETE_ONE_OF_MULTI_FILES"},
        {WM_MX_END_DELETE_ONE_OF_MULTI_FILES, "END_DELETE_ONE_OF_MULTI_FILES"},
        {WM_MX_END_DELETE_MULTI_FILES, "END_DELETE_MULTI_FILES"},
        {WM_MX_FILEOPERATE_ERROR, "FILEOPERATE_ERROR"},
        {WM_MX_FILEOPERATE_THREAD_EXIT, "THREAD_EXIT"},
        {WM_MX_BEGIN_COPY_ONE_OF_MULTI_PATH, "BEGIN_COPY_ONE_OF_MULTI_PATH"},
        {WM_MX_END_COPY_ONE_OF_MULTI_PATH, "END_COPY_ONE_OF_MULTI_PATH"},
        {WM_MX_BEGIN_MOVE_ONE_OF_MULTI_PATH, "BEGIN_MOVE_ONE_OF_MULTI_PATH"},
        {WM_MX_END_MOVE_ONE_OF_MULTI_PATH, "END_MOVE_ONE_OF_MULTI_PATH"},
        {WM_MX_BEGIN_IMPORT, "BEGIN_IMPORT"},
        {WM_MX_BEGIN_IMPORT_ONE_OF_PLAYLIST, "BEGIN_IMPORT_ONE_OF_PLAYLIST"},
        {WM_MX_END_IMPORT_ONE_OF_PLAYLIST, "END_IMPORT_ONE_OF_PLAYLIST"},
        {WM_MX_BEGIN_IMPORT_ONE_OF_FILE, "BEGIN_IMPORT_ONE_OF_FILE"},
        {WM_MX_END_IMPORT_ONE_OF_FILE, "END_IMPORT_ONE_OF_FILE"},
        {WM_MX_END_IMPORT, "END_IMPORT"},
        {WM_MX_IMPORT_SEARCHING, "IMPORT_SEARCHING"},
        {WM_MX_DOWNLOAD_NEW_AUDIO_INFO, "DOWNLOAD_NEW_AUDIO_INFO"},
        {WM_MX_END_COPY_ANALYZED_MULTI_FILES, "END_COPY_ANALYZED_MULTI_FILES"},
        {WM_MX_END_COPY_NOT_ANALYZED_MULTI_FILES, "END_COPY_NOT_ANALYZED_MULTI_FILES"},
        {WM_MX_EXTENSION_CORRECTED, "EXTENSION_CORRECTED"},
        {WM_MX_FIND_PLAYER_PROGRESS, "FIND_PLAYER_PROGRESS"},
        {WM_MX_FIND_PLAYER_BEGIN, "FIND_PLAYER_BEGIN"},
        {WM_MX_FIND_PLAYER_NO_LIST, "FIND_PLAYER_NO_LIST"},
    };
    auto it = kNames.find(nMsg);
    return it == kNames.end() ? "UNKNOWN" : it->second;
}
