#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/TempMachine.h"

namespace {

TEST(CriticalSectionTest, GuardSerialisesThreads) {
    CCriticalSection cs;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                CCriticalSectionGuard outer(&cs);
                CCriticalSectionGuard inner(&cs.m_sect);  // re-entered by the same thread
                ++counter;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(40000, counter);
    CCriticalSectionGuard none(static_cast<CCriticalSection*>(nullptr));  // guards nothing, does not crash
}

struct Gate {
    std::atomic<bool> open{false};
    std::atomic<int> passes{0};
    std::atomic<bool> stop{false};
};

DWORD WINAPI PassGates(LPVOID p) {
    Gate& g = *static_cast<Gate*>(p);
    while (!g.open) std::this_thread::yield();
    while (!g.stop) {
        MxSuspensionPoint();
        ++g.passes;
        std::this_thread::yield();
    }
    return 7;
}

TEST(ThreadTest, AClosedHandleIsNoLongerWaitedOnButADuplicateOfItIs) {
    Gate g;
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, PassGates, &g, 0, &id);
    ASSERT_NE(nullptr, h);
    EXPECT_NE(GetCurrentThreadId(), id);
    HANDLE dup = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_NE(h, dup);
    EXPECT_TRUE(CloseHandle(h));
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(h, 0));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(dup, 10));
    g.open = true;
    g.stop = true;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(dup, INFINITE));
    EXPECT_TRUE(CloseHandle(dup));
}

TEST(ThreadTest, ASuspendedThreadParksAtItsNextSuspensionPoint) {
    Gate g;
    HANDLE h = CreateThread(nullptr, 0, PassGates, &g, CREATE_SUSPENDED, nullptr);
    EXPECT_EQ(1u, SuspendThread(h));  // created suspended: count was 1
    EXPECT_EQ(2u, ResumeThread(h));
    g.open = true;
    EXPECT_EQ(1u, ResumeThread(h));  // now it runs
    while (g.passes < 10) std::this_thread::yield();
    EXPECT_EQ(0u, SuspendThread(h));
    // At most one pass after the point it was inside of.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int parked = g.passes;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LE(g.passes - parked, 1);
    EXPECT_EQ(1u, ResumeThread(h));
    EXPECT_EQ(0u, ResumeThread(h));
    while (g.passes < parked + 10) std::this_thread::yield();
    g.stop = true;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, INFINITE));
    CloseHandle(h);
}

LRESULT CALLBACK Ignore(HWND, UINT, WPARAM, LPARAM) { return 0; }

// A message-only window of a class registered on first use.
HWND MakeWindow() {
    WNDCLASSA c{};
    c.lpfnWndProc = Ignore;
    c.lpszClassName = "MxTestIgnore";
    if (!RegisterClassA(&c)) {
        EXPECT_EQ(1410u, GetLastError());  // already registered
    }
    return CreateWindowExA(0, "MxTestIgnore", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

// The Windows error a failed call left (cleared before it), or 0 when it succeeded.
template <typename Fn>
DWORD ErrorOf(Fn call) {
    SetLastError(0);
    return call() ? 0 : GetLastError();
}

// Messages posted from another thread reach the owner in order: the message tables of the file-operation
// tests show it (tried: a queue that puts each new message first fails eleven of them).
// A window dies with the thread that made it, whoever made the thread: later posts fail with 1400.
DWORD WINAPI MakeWindowAndEnd(LPVOID p) {
    HWND w = MakeWindow();
    *static_cast<HWND*>(p) = w;
    PostMessageA(w, WM_USER, 1, 0);  // never read
    return 0;
}

TEST(WindowsTest, PostingToAnUnknownDestroyedOrEndedThreadsWindowFails) {
    HWND made[2] = {nullptr, nullptr};
    std::thread(MakeWindowAndEnd, &made[0]).join();
    HANDLE h = CreateThread(nullptr, 0, MakeWindowAndEnd, &made[1], 0, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, INFINITE));
    CloseHandle(h);
    for (HWND w : made) {
        ASSERT_NE(nullptr, w);
        EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), ErrorOf([&] { return PostMessageA(w, WM_USER, 0, 0); }));
    }
    HWND w = MakeWindow();
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), ErrorOf([w] { return PostMessageA(w, WM_USER, 0, 0); }));
    EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), ErrorOf([] { return PostMessageA(reinterpret_cast<HWND>(0x1234), WM_USER, 0, 0); }));
    EXPECT_FALSE(DestroyWindow(w));
    EXPECT_EQ(DWORD(ERROR_CLASS_DOES_NOT_EXIST), ErrorOf([] {
                  return CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr) != nullptr;
              }));
}

TEST(WindowsTest, PeekLeavesOrTakesInRangeAndAWaitOnAnEmptyQueueTimesOut) {
    HWND w = MakeWindow();
    PostMessageA(w, WM_USER + 1, 1, 0);
    PostMessageA(w, WM_USER + 2, 2, 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 2, PM_NOREMOVE));
    EXPECT_EQ(WPARAM(2), msg.wParam);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(UINT(WM_USER + 1), msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DestroyWindow(w);
    DWORD start = GetTickCount();
    EXPECT_EQ(WAIT_TIMEOUT, MsgWaitForMultipleObjects(0, nullptr, FALSE, 30, QS_ALLINPUT));
    EXPECT_GE(GetTickCount() - start, 25u);
    EXPECT_EQ(WAIT_FAILED, MsgWaitForMultipleObjects(1, nullptr, FALSE, 0, QS_ALLINPUT));
}

TEST(WindowsTest, EachThreadHasItsOwnMainWindow) {
    CWnd main;
    main.m_hWnd = MakeWindow();
    AfxGetThread()->m_pMainWnd = &main;
    CWnd* other = &main;
    std::thread([&other] { other = AfxGetThread()->m_pMainWnd; }).join();
    EXPECT_EQ(nullptr, other);
    EXPECT_EQ(&main, AfxGetThread()->m_pMainWnd);
    AfxGetThread()->m_pMainWnd = nullptr;
    DestroyWindow(main.m_hWnd);
}

TEST(WindowsTest, AThreadsQueueRefusesPostsBeyondTenThousand) {
    HWND a = MakeWindow(), b = MakeWindow();
    for (int i = 0; i < 10000; ++i) ASSERT_TRUE(PostMessageA(i % 2 ? a : b, WM_USER, WPARAM(i), 0)) << i;
    for (HWND w : {a, b}) {  // the limit is the thread's, not the window's
        EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_QUOTA), ErrorOf([w] { return PostMessageA(w, WM_USER, 0, 0); }));
    }
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(PostMessageA(a, WM_USER, 0, 0));
    for (HWND w : {a, b}) DestroyWindow(w);
}

}  // namespace
