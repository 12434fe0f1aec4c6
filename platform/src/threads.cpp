// Threads and synchronisation.
#include "platform/threads.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "config.h"
#include "platform/testhooks.h"
#include "threadexit.h"

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque), "CRITICAL_SECTION too small");
static_assert(alignof(std::recursive_mutex) <= 8, "CRITICAL_SECTION alignment");

namespace {
std::recursive_mutex& Mutex(LPCRITICAL_SECTION cs) { return *std::launder(reinterpret_cast<std::recursive_mutex*>(cs->opaque)); }
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { new (cs->opaque) std::recursive_mutex(); }
void DeleteCriticalSection(LPCRITICAL_SECTION cs) { Mutex(cs).~recursive_mutex(); }
void EnterCriticalSection(LPCRITICAL_SECTION cs) { Mutex(cs).lock(); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) { return Mutex(cs).try_lock(); }
void LeaveCriticalSection(LPCRITICAL_SECTION cs) { Mutex(cs).unlock(); }

namespace {

// One thread; every handle to it and the thread itself hold a reference.
struct ThreadObject {
    std::mutex lock;
    std::condition_variable changed;
    DWORD suspendCount = 0;
    bool finished = false;
    DWORD exitCode = STILL_ACTIVE;
    int priority = THREAD_PRIORITY_NORMAL;
};

std::atomic<DWORD> g_nextThreadId{1};
thread_local DWORD t_threadId = 0;
thread_local std::shared_ptr<ThreadObject> t_self;

// Never destroyed: a detached thread may close its handle while the process exits.
std::mutex& g_handleLock = *new std::mutex;
std::unordered_map<uintptr_t, std::shared_ptr<ThreadObject>>& g_handles = *new std::unordered_map<uintptr_t, std::shared_ptr<ThreadObject>>;
uintptr_t g_nextHandle = 0x7000;  // thread handles step by 4 and are never reused
std::atomic<int> g_failThreads{0};

HANDLE NewHandle(std::shared_ptr<ThreadObject> object) {
    std::lock_guard<std::mutex> guard(g_handleLock);
    uintptr_t value = g_nextHandle;
    g_nextHandle += 4;
    g_handles.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<ThreadObject> Lookup(HANDLE h) {
    std::lock_guard<std::mutex> guard(g_handleLock);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == g_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

void ParkWhileSuspended(ThreadObject& t) {
    std::unique_lock<std::mutex> guard(t.lock);
    t.changed.wait(guard, [&t] { return t.suspendCount == 0; });
}

}  // namespace

DWORD GetCurrentThreadId() {
    if (t_threadId == 0) t_threadId = g_nextThreadId++;
    return t_threadId;
}

DWORD GetCurrentProcessId() { return DWORD(getpid()); }

HANDLE CreateThread(void*, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                    LPDWORD lpThreadId) {
    if (!lpStartAddress) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    int failing = g_failThreads.load();
    while (failing > 0 && !g_failThreads.compare_exchange_weak(failing, failing - 1)) {
    }
    if (failing > 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto object = std::make_shared<ThreadObject>();
    if (dwCreationFlags & CREATE_SUSPENDED) object->suspendCount = 1;
    DWORD id = g_nextThreadId++;
    try {
        std::thread([object, id, lpStartAddress, lpParameter] {
            t_threadId = id;
            t_self = object;
            ParkWhileSuspended(*object);
            DWORD code = lpStartAddress(lpParameter);
            // Its windows are gone before a waiter sees it ended.
            mxp::ReleaseThreadWindows();
            {
                std::lock_guard<std::mutex> guard(object->lock);
                object->exitCode = code;
                object->finished = true;
            }
            object->changed.notify_all();
            t_self.reset();
        }).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (lpThreadId) *lpThreadId = id;
    return NewHandle(std::move(object));
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    std::shared_ptr<ThreadObject> t = Lookup(hHandle);
    if (!t) return WAIT_FAILED;
    std::unique_lock<std::mutex> guard(t->lock);
    auto done = [&t] { return t->finished; };
    if (dwMilliseconds == INFINITE) {
        t->changed.wait(guard, done);
        return WAIT_OBJECT_0;
    }
    return t->changed.wait_for(guard, std::chrono::milliseconds(dwMilliseconds), done) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL CloseHandle(HANDLE hObject) {
    std::shared_ptr<ThreadObject> released;  // dropped outside the table's lock
    std::lock_guard<std::mutex> guard(g_handleLock);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(hObject));
    if (it == g_handles.end()) return mxp::CloseVolumeHandle(hObject);
    released = std::move(it->second);
    g_handles.erase(it);
    return TRUE;
}

BOOL DuplicateHandle(HANDLE, HANDLE hSourceHandle, HANDLE, LPHANDLE lpTargetHandle, DWORD, BOOL, DWORD) {
    std::shared_ptr<ThreadObject> t = Lookup(hSourceHandle);
    if (!t || !lpTargetHandle) {
        if (t) SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpTargetHandle = NewHandle(std::move(t));
    return TRUE;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
    std::shared_ptr<ThreadObject> t = Lookup(hThread);
    if (!t) return FALSE;
    static const int kValid[] = {THREAD_PRIORITY_IDLE,   THREAD_PRIORITY_LOWEST,  THREAD_PRIORITY_BELOW_NORMAL,
                                 THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                 THREAD_PRIORITY_TIME_CRITICAL};
    bool valid = false;
    for (int p : kValid) valid = valid || p == nPriority;
    if (!valid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(t->lock);
    t->priority = nPriority;
    return TRUE;
}

int GetThreadPriority(HANDLE hThread) {
    std::shared_ptr<ThreadObject> t = Lookup(hThread);
    if (!t) return THREAD_PRIORITY_ERROR_RETURN;
    std::lock_guard<std::mutex> guard(t->lock);
    return t->priority;
}

DWORD SuspendThread(HANDLE hThread) {
    std::shared_ptr<ThreadObject> t = Lookup(hThread);
    if (!t) return DWORD(-1);
    std::lock_guard<std::mutex> guard(t->lock);
    return t->finished ? 0 : t->suspendCount++;
}

DWORD ResumeThread(HANDLE hThread) {
    std::shared_ptr<ThreadObject> t = Lookup(hThread);
    if (!t) return DWORD(-1);
    DWORD previous;
    {
        std::lock_guard<std::mutex> guard(t->lock);
        previous = t->suspendCount;
        if (previous > 0) --t->suspendCount;
    }
    t->changed.notify_all();
    return previous;
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    std::shared_ptr<ThreadObject> t = Lookup(hThread);
    if (!t || !lpExitCode) return FALSE;
    std::lock_guard<std::mutex> guard(t->lock);
    *lpExitCode = t->exitCode;
    return TRUE;
}

void Sleep(DWORD dwMilliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds)); }

void MxSuspensionPoint() {
    if (t_self) ParkWhileSuspended(*t_self);
}

void MxFailNextThreadCreations(int count) { g_failThreads = count; }
