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

#define GWLP_USERDATA (-21)
#define SW_HIDE 0
#define WS_POPUP 0x80000000L
#define WS_EX_TOOLWINDOW 0x00000080L
// Only the user-data slot is kept; other indexes fail with ERROR_INVALID_PARAMETER.
LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex);

// MFC's window objects, as far as the module needs them: a window object whose messages go through a
// message map, and the main window of a thread. Names a class of the object's run-time class.
struct CRuntimeClass {
    LPCSTR m_lpszClassName;
};
class CWnd;
typedef LRESULT (CWnd::*AFX_PMSG)(WPARAM, LPARAM);
struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    AFX_PMSG pfn;
};
struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_DYNAMIC(theClass) \
public:                            \
    static const CRuntimeClass class##theClass; \
    const CRuntimeClass* GetRuntimeClass() const override;
#define IMPLEMENT_DYNAMIC(theClass, baseClass) \
    const CRuntimeClass theClass::class##theClass = {#theClass}; \
    const CRuntimeClass* theClass::GetRuntimeClass() const { return &class##theClass; }

#define DECLARE_MESSAGE_MAP()                      \
protected:                                         \
    static const AFX_MSGMAP* GetThisMessageMap();  \
    const AFX_MSGMAP* GetMessageMap() const override;
#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                            \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }    \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                     \
        using ThisClass [[maybe_unused]] = theClass;                                      \
        typedef baseClass TheBaseClass;                                                   \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define ON_MESSAGE(message, memberFxn) \
    {message, static_cast<AFX_PMSG>(static_cast<LRESULT (ThisClass::*)(WPARAM, LPARAM)>(&ThisClass::memberFxn))},
#define END_MESSAGE_MAP()                                                            \
    {0, nullptr}};                                                                   \
        static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries};   \
        return &map;                                                                 \
    }

class CWnd {
public:
    CWnd() = default;
    // A window made by CreateEx goes with its object; one only attached to m_hWnd stays.
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    virtual const CRuntimeClass* GetRuntimeClass() const;
    // A message-only window (hWndParent must be HWND_MESSAGE) of the calling thread whose messages reach
    // WindowProc; the class name and styles are taken and ignored.
    BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, int x, int y,
                  int nWidth, int nHeight, HWND hWndParent, void* nIDorHMenu, LPVOID lpParam = nullptr);
    // Destroys the window (its queued messages are dropped), then calls PostNcDestroy.
    virtual BOOL DestroyWindow();
    BOOL ShowWindow(int nCmdShow);

    HWND m_hWnd = nullptr;

protected:
    // Runs the message map's handler of the message, else DefWindowProcA.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void PostNcDestroy() {}
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_MSGMAP* GetThisMessageMap();

private:
    static LRESULT AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// A frame deletes itself once its window is destroyed, as MFC's does.
class CFrameWnd : public CWnd {
    DECLARE_DYNAMIC(CFrameWnd)
protected:
    void PostNcDestroy() override { delete this; }
    DECLARE_MESSAGE_MAP()
};
class CWinThread {
public:
    CWnd* m_pMainWnd = nullptr;
};
// The calling thread's object; its m_pMainWnd is null until the thread sets one.
CWinThread* AfxGetThread();
