// Windows and messages: a process-wide handle table of windows, each owned by the thread that made it,
// and one message queue per thread. Posting to an unknown or destroyed window fails, and the caller
// keeps (and frees) what it meant to post. A message sent from another thread waits until the owner
// handles it inside GetMessageA, PeekMessageA or its own SendMessageA. When a thread ends, however it
// was made, its windows and its queue go with it.
#pragma once

#include "platform/threads.h"
#include "platform/windef.h"

typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_USER 0x0400
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define QS_ALLINPUT 0x04FF
#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<intptr_t>(-3)))
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_CLASS_DOES_NOT_EXIST 1411L
#define ERROR_NOT_ENOUGH_QUOTA 1816L

struct POINT {
    LONG x, y;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    void* hIcon;
    void* hCursor;
    void* hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

WORD RegisterClassA(const WNDCLASSA* lpWndClass);
// Only message-only windows exist here: hWndParent must be HWND_MESSAGE.
HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y, int nWidth,
                     int nHeight, HWND hWndParent, void* hMenu, HINSTANCE hInstance, LPVOID lpParam);
// Also drops the messages still queued for the window (their blocks are the front end's to free first)
// and answers 0 to every sender still waiting on it.
BOOL DestroyWindow(HWND hWnd);
BOOL IsWindow(HWND hWnd);
// The identifier of the thread that made the window (and the process's in *lpdwProcessId when given);
// 0 with error 1400 for an unknown or destroyed window.
DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);
LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// Queues the message on the owning thread of hWnd; FALSE with error 1400 for an unknown or destroyed
// window (also one whose thread has ended), with error 1816 when that thread's queue is full.
BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// On the owning thread the window procedure runs at once; from another thread the caller waits until the
// owner handles the message. 0 (error 1400) for an unknown or destroyed window; 0 when the window is
// destroyed or its thread ends before the message is handled.
LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int nExitCode);
// TRUE while the calling thread runs a window procedure for a message another thread sent.
BOOL InSendMessage();
// Waits for a message of the calling thread; 0 for WM_QUIT.
BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
// Calls the window procedure of the message's window; a destroyed window's message is dropped.
LRESULT DispatchMessageA(const MSG* lpMsg);
// Waits until the calling thread has a message (WAIT_OBJECT_0 + nCount) or the time is over
// (WAIT_TIMEOUT). Only nCount 0 is supported: the message loop of a front end with no handles to wait on.
DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                DWORD dwWakeMask);

// MFC's window and thread objects, as far as the module needs them: the main window of a thread.
class CWnd {
public:
    HWND m_hWnd = nullptr;
};
class CWinThread {
public:
    CWnd* m_pMainWnd = nullptr;
};
// The calling thread's object; its m_pMainWnd is null until the thread sets one.
CWinThread* AfxGetThread();
