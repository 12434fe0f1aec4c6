// Windows and messages.
#include "platform/windows.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/text.h"

namespace {

struct Window {
    WNDPROC proc;
    DWORD thread;
};

struct Queue {
    std::deque<MSG> messages;
    std::condition_variable ready;
};

std::mutex g_lock;
std::map<std::string, WNDPROC> g_classes;       // lower-case class name
std::map<HWND, Window> g_windows;
std::map<DWORD, std::shared_ptr<Queue>> g_queues;
uintptr_t g_nextHandle = 0x10000;

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

bool Matches(const MSG& m, HWND hWnd, UINT lo, UINT hi) {
    if (hWnd && m.hwnd != hWnd) return false;
    return (lo == 0 && hi == 0) || (m.message >= lo && m.message <= hi) || m.message == WM_QUIT;
}

}  // namespace

DWORD GetCurrentThreadId() {
    static std::atomic<DWORD> next{1};
    thread_local DWORD id = next++;
    return id;
}

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
    HWND h = reinterpret_cast<HWND>(g_nextHandle);
    g_nextHandle += 4;
    g_windows[h] = Window{cls->second, GetCurrentThreadId()};
    return h;
}

BOOL DestroyWindow(HWND hWnd) {
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_windows.erase(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL IsWindow(HWND hWnd) {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_windows.count(hWnd) != 0;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) { return 0; }

BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto w = g_windows.find(hWnd);
    if (w == g_windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Queue> q = QueueOf(w->second.thread);
    q->messages.push_back(MSG{hWnd, Msg, wParam, lParam, GetTickCount(), {0, 0}});
    q->ready.notify_all();
    return TRUE;
}

void PostQuitMessage(int nExitCode) {
    std::lock_guard<std::mutex> lock(g_lock);
    std::shared_ptr<Queue> q = QueueOf(GetCurrentThreadId());
    q->messages.push_back(MSG{nullptr, WM_QUIT, WPARAM(nExitCode), 0, GetTickCount(), {0, 0}});
    q->ready.notify_all();
}

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT lo, UINT hi, UINT wRemoveMsg) {
    std::lock_guard<std::mutex> lock(g_lock);
    std::shared_ptr<Queue> q = QueueOf(GetCurrentThreadId());
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
    std::shared_ptr<Queue> q = QueueOf(GetCurrentThreadId());
    while (true) {
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

CWinThread* AfxGetThread() {
    thread_local CWinThread thread;
    return &thread;
}
