// Threads and synchronisation: recursive critical sections and threads as Windows has them. Thread
// handles are reference-counted, so a thread that closes its own handle never pulls it from under a
// waiter, and handle values are never reused. Suspension is cooperative: a suspended thread parks at its
// next MxSuspensionPoint, never at an arbitrary instruction (so never inside someone else's lock).
#pragma once

#include "platform/windef.h"

// Opaque storage for a recursive mutex; initialise before use, delete after.
struct CRITICAL_SECTION {
    alignas(8) unsigned char opaque[64];
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);

// MFC's critical section object: recursive, so the owning thread may lock it again.
class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_sect); }
    ~CCriticalSection() { DeleteCriticalSection(&m_sect); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    BOOL Lock() {
        EnterCriticalSection(&m_sect);
        return TRUE;
    }
    BOOL Unlock() {
        LeaveCriticalSection(&m_sect);
        return TRUE;
    }
    operator CRITICAL_SECTION*() { return &m_sect; }  // NOLINT(google-explicit-constructor)

    CRITICAL_SECTION m_sect;
};

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID lpParameter);
typedef HANDLE* LPHANDLE;
typedef DWORD* LPDWORD;

#define INFINITE 0xFFFFFFFFUL
#define WAIT_OBJECT_0 0x00000000UL
#define WAIT_TIMEOUT 0x00000102UL
#define WAIT_FAILED 0xFFFFFFFFUL
#define STILL_ACTIVE 259UL
#define CREATE_SUSPENDED 0x00000004UL
#define DUPLICATE_SAME_ACCESS 0x00000002UL
#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

// A new thread running lpStartAddress(lpParameter); with CREATE_SUSPENDED it waits for ResumeThread.
// Null (error 8) when the thread cannot be made. The stack size and attributes are ignored. When the
// routine returns, the thread's windows are destroyed before its handle is signalled.
HANDLE CreateThread(void* lpThreadAttributes, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId);
// WAIT_OBJECT_0 once the thread has ended, WAIT_TIMEOUT after dwMilliseconds, WAIT_FAILED (error 6)
// for a handle that is not open.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL CloseHandle(HANDLE hObject);
// A second handle to the same thread, closed separately.
BOOL DuplicateHandle(HANDLE hSourceProcess, HANDLE hSourceHandle, HANDLE hTargetProcess, LPHANDLE lpTargetHandle,
                     DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwOptions);
HANDLE GetCurrentProcess();
// The priority is kept and reported; the host scheduler is not told.
BOOL SetThreadPriority(HANDLE hThread, int nPriority);
int GetThreadPriority(HANDLE hThread);
// Both return the previous suspend count, or (DWORD)-1 (error 6) for a handle that is not open.
DWORD SuspendThread(HANDLE hThread);
DWORD ResumeThread(HANDLE hThread);
// STILL_ACTIVE while running, then the start routine's result.
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();
void Sleep(DWORD dwMilliseconds);

// Parks the calling thread while its suspend count is above zero. Threads not made by CreateThread
// never park.
void MxSuspensionPoint();
