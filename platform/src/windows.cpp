// Windows and messages.
#include "platform/windows.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/text.h"
#include "threadexit.h"

namespace {

struct Window {
    WNDPROC proc;
    DWORD thread;
    LONG_PTR userData = 0;
};

// A message sent from another thread: the sender waits on `answered` until the owner has run it.
struct SentMessage {
    MSG msg;
    LRESULT result = 0;
    bool done = false;
};

struct Queue {
    std::deque<MSG> messages;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::condition_variable ready;
};

// One lock for the whole table: every operation is short and none calls a window procedure under it.
// The tables are never destroyed: a worker may still post while the process exits.
std::mutex& g_lock = *new std::mutex;
std::condition_variable& g_answered = *new std::condition_variable;
std::map<std::string, WNDPROC>& g_classes = *new std::map<std::string, WNDPROC>;  // lower-case class name
std::map<HWND, Window>& g_windows = *new std::map<HWND, Window>;
std::map<DWORD, std::shared_ptr<Queue>>& g_queues = *new std::map<DWORD, std::shared_ptr<Queue>>;
uintptr_t g_nextHandle = 0x10000;

// Posted messages one thread's queue holds, as Windows' default quota.
constexpr size_t kPostedLimit = 10000;

// Ends the thread's windows and queue when a thread that had either ends, whoever made the thread.
struct ThreadWindows {
    DWORD thread = 0;
    ~ThreadWindows() {
        if (thread) mxp::ReleaseThreadWindows();
    }
};
thread_local ThreadWindows t_windows;

std::string ClassKey(LPCSTR name) {
    CString s(name ? name : "");
    s.MakeLower();
    return s.str();
}

std::shared_ptr<Queue> QueueOf(DWORD thread) {
    std::shared_ptr<Queue>& q = g_queues[thread];
    if (!q) q = std::make_shared<Queue>();
    return q;
}

// The calling thread's queue, released when the thread ends. Called with g_lock held.
std::shared_ptr<Queue> OwnQueue() {
    DWORD self = GetCurrentThreadId();
    t_windows.thread = self;
    return QueueOf(self);
}

bool Matches(const MSG& m, HWND hWnd, UINT lo, UINT hi) {
    if (hWnd && m.hwnd != hWnd) return false;
    return (lo == 0 && hi == 0) || (m.message >= lo && m.message <= hi) || m.message == WM_QUIT;
}

// The window's entry, or end() with error 1400. Called with g_lock held.
std::map<HWND, Window>::iterator LookUpWindow(HWND hWnd) {
    auto w = g_windows.find(hWnd);
    if (w == g_windows.end()) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

void Answer(SentMessage& s, LRESULT result) {
    s.result = result;
    s.done = true;
    g_answered.notify_all();
}

thread_local int t_inSend = 0;  // window procedures running for messages of other threads

// Runs every message other threads have sent to the calling thread's windows. Called with g_lock held;
// releases it around each window procedure.
void DeliverSent(std::unique_lock<std::mutex>& lock, Queue& q) {
    while (!q.sent.empty()) {
        std::shared_ptr<SentMessage> s = q.sent.front();
        q.sent.pop_front();
        auto w = g_windows.find(s->msg.hwnd);
        if (w == g_windows.end()) {
            Answer(*s, 0);
            continue;
        }
        WNDPROC proc = w->second.proc;
        lock.unlock();
        ++t_inSend;
        LRESULT result = proc(s->msg.hwnd, s->msg.message, s->msg.wParam, s->msg.lParam);
        --t_inSend;
        lock.lock();
        Answer(*s, result);
    }
}

}  // namespace

BOOL InSendMessage() { return t_inSend > 0; }

WORD RegisterClassA(const WNDCLASSA* c) {
    if (!c || !c->lpszClassName || !c->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    auto inserted = g_classes.emplace(ClassKey(c->lpszClassName), c->lpfnWndProc);
    if (!inserted.second) {
        SetLastError(1410);  // ERROR_CLASS_ALREADY_EXISTS
        return 0;
    }
    return WORD(g_classes.size());
}

HWND CreateWindowExA(DWORD, LPCSTR lpClassName, LPCSTR, DWORD, int, int, int, int, HWND hWndParent, void*, HINSTANCE, LPVOID) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto cls = g_classes.find(ClassKey(lpClassName));
    if (cls == g_classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return nullptr;
    }
    if (hWndParent != HWND_MESSAGE) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    OwnQueue();
    HWND h = reinterpret_cast<HWND>(g_nextHandle);
    g_nextHandle += 4;
    g_windows[h] = Window{cls->second, GetCurrentThreadId(), 0};
    return h;
}

BOOL DestroyWindow(HWND hWnd) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto w = LookUpWindow(hWnd);
    if (w == g_windows.end()) return FALSE;
    std::shared_ptr<Queue> q = QueueOf(w->second.thread);
    g_windows.erase(w);
    for (auto it = q->messages.begin(); it != q->messages.end();) it = it->hwnd == hWnd ? q->messages.erase(it) : it + 1;
    for (auto it = q->sent.begin(); it != q->sent.end();) {
        if ((*it)->msg.hwnd != hWnd) {
            ++it;
            continue;
        }
        Answer(**it, 0);
        it = q->sent.erase(it);
    }
    return TRUE;
}

BOOL IsWindow(HWND hWnd) {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_windows.count(hWnd) != 0;
}

DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto w = LookUpWindow(hWnd);
    if (w == g_windows.end()) return 0;
    if (lpdwProcessId) *lpdwProcessId = GetCurrentProcessId();
    return w->second.thread;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

namespace {

// The window's user-data slot, or null (with the error set). Called with g_lock held.
LONG_PTR* UserData(HWND hWnd, int nIndex) {
    auto w = LookUpWindow(hWnd);
    if (w == g_windows.end()) return nullptr;
    if (nIndex == GWLP_USERDATA) return &w->second.userData;
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

}  // namespace

LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    std::lock_guard<std::mutex> lock(g_lock);
    LONG_PTR* slot = UserData(hWnd, nIndex);
    if (!slot) return 0;
    LONG_PTR old = *slot;
    *slot = dwNewLong;
    return old;
}

LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex) {
    std::lock_guard<std::mutex> lock(g_lock);
    LONG_PTR* slot = UserData(hWnd, nIndex);
    return slot ? *slot : 0;
}

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto w = LookUpWindow(hWnd);
    if (w == g_windows.end()) return FALSE;
    std::shared_ptr<Queue> q = QueueOf(w->second.thread);
    if (q->messages.size() >= kPostedLimit) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    q->messages.push_back(MSG{hWnd, Msg, wParam, lParam, GetTickCount(), {0, 0}});
    q->ready.notify_all();
    return TRUE;
}

LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::unique_lock<std::mutex> lock(g_lock);
    auto w = LookUpWindow(hWnd);
    if (w == g_windows.end()) return 0;
    DWORD self = GetCurrentThreadId();
    if (w->second.thread == self) {
        WNDPROC proc = w->second.proc;
        lock.unlock();
        return proc(hWnd, Msg, wParam, lParam);
    }
    auto s = std::make_shared<SentMessage>();
    s->msg = MSG{hWnd, Msg, wParam, lParam, GetTickCount(), {0, 0}};
    std::shared_ptr<Queue> owner = QueueOf(w->second.thread);
    owner->sent.push_back(s);
    owner->ready.notify_all();
    g_answered.notify_all();  // the owner may itself be waiting in SendMessageA
    // While waiting, handle what others send to this thread, so two threads sending to each other
    // do not wait for ever.
    std::shared_ptr<Queue> mine = OwnQueue();
    while (!s->done) {
        DeliverSent(lock, *mine);
        if (s->done) break;
        g_answered.wait(lock);
    }
    return s->result;
}

void PostQuitMessage(int nExitCode) {
    std::lock_guard<std::mutex> lock(g_lock);
    std::shared_ptr<Queue> q = OwnQueue();
    q->messages.push_back(MSG{nullptr, WM_QUIT, WPARAM(nExitCode), 0, GetTickCount(), {0, 0}});
    q->ready.notify_all();
}

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT lo, UINT hi, UINT wRemoveMsg) {
    std::unique_lock<std::mutex> lock(g_lock);
    std::shared_ptr<Queue> q = OwnQueue();
    DeliverSent(lock, *q);
    for (auto it = q->messages.begin(); it != q->messages.end(); ++it) {
        if (!Matches(*it, hWnd, lo, hi)) continue;
        if (lpMsg) *lpMsg = *it;
        if (wRemoveMsg & PM_REMOVE) q->messages.erase(it);
        return TRUE;
    }
    return FALSE;
}

BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT lo, UINT hi) {
    std::unique_lock<std::mutex> lock(g_lock);
    std::shared_ptr<Queue> q = OwnQueue();
    while (true) {
        DeliverSent(lock, *q);
        for (auto it = q->messages.begin(); it != q->messages.end(); ++it) {
            if (!Matches(*it, hWnd, lo, hi)) continue;
            MSG m = *it;
            q->messages.erase(it);
            if (lpMsg) *lpMsg = m;
            return m.message != WM_QUIT;
        }
        q->ready.wait(lock);
    }
}

DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE*, BOOL, DWORD dwMilliseconds, DWORD) {
    if (nCount != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(g_lock);
    std::shared_ptr<Queue> q = OwnQueue();
    auto pending = [&q] { return !q->messages.empty() || !q->sent.empty(); };
    if (dwMilliseconds == INFINITE) {
        q->ready.wait(lock, pending);
        return WAIT_OBJECT_0;
    }
    return q->ready.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), pending) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

LRESULT DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg) return 0;
    WNDPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        auto w = g_windows.find(lpMsg->hwnd);
        if (w != g_windows.end()) proc = w->second.proc;
    }
    return proc ? proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam) : 0;
}

void mxp::ReleaseThreadWindows() {
    DWORD self = GetCurrentThreadId();
    std::lock_guard<std::mutex> lock(g_lock);
    for (auto w = g_windows.begin(); w != g_windows.end();) w = w->second.thread == self ? g_windows.erase(w) : std::next(w);
    auto q = g_queues.find(self);
    if (q == g_queues.end()) return;
    // Its posted messages are lost, as on Windows; a sender still waiting is answered 0.
    for (const std::shared_ptr<SentMessage>& s : q->second->sent) Answer(*s, 0);
    g_queues.erase(q);
}

CWinThread* AfxGetThread() {
    thread_local CWinThread thread;
    return &thread;
}

// Window objects: one window class for all of them; the object rides in the window's user data, set by
// the thread that owns both, so a message never meets a half-made or deleted object.
CWnd::~CWnd() {
    if (m_hWnd && GetWindowLongPtrA(m_hWnd, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this)) ::DestroyWindow(m_hWnd);
}

const CRuntimeClass* CWnd::GetRuntimeClass() const {
    static const CRuntimeClass runtimeClass = {"CWnd"};
    return &runtimeClass;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR, LPCSTR lpszWindowName, DWORD dwStyle, int x, int y, int nWidth,
                    int nHeight, HWND hWndParent, void* nIDorHMenu, LPVOID lpParam) {
    static const WORD registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &CWnd::AfxWndProc;
        wc.lpszClassName = "MxAfxWnd";
        return RegisterClassA(&wc);
    }();
    if (!registered || m_hWnd) return FALSE;
    HWND h = CreateWindowExA(dwExStyle, "MxAfxWnd", lpszWindowName, dwStyle, x, y, nWidth, nHeight, hWndParent,
                             nIDorHMenu, nullptr, lpParam);
    if (!h) return FALSE;
    SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_hWnd = h;
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    HWND h = m_hWnd;
    if (!h) return FALSE;
    m_hWnd = nullptr;
    BOOL result = ::DestroyWindow(h);
    PostNcDestroy();
    return result;
}

BOOL CWnd::ShowWindow(int) { return m_hWnd != nullptr; }

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e)
            if (e->nMessage == message) return (this->*e->pfn)(wParam, lParam);
    }
    return DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = reinterpret_cast<CWnd*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    return wnd ? wnd->WindowProc(message, wParam, lParam) : DefWindowProcA(hWnd, message, wParam, lParam);
}

IMPLEMENT_DYNAMIC(CFrameWnd, CWnd)
BEGIN_MESSAGE_MAP(CFrameWnd, CWnd)
END_MESSAGE_MAP()
