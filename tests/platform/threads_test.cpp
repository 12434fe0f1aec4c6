#include <atomic>
#include <chrono>
#include <cstdint>
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

DWORD WINAPI ReturnArgument(LPVOID p) { return DWORD(reinterpret_cast<uintptr_t>(p)); }

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

TEST(ThreadTest, AClosedHandleIsNoLongerWaitedOn) {
    DWORD id = 0;
    HANDLE h = CreateThread(nullptr, 0, ReturnArgument, nullptr, 0, &id);
    ASSERT_NE(nullptr, h);
    EXPECT_NE(GetCurrentThreadId(), id);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, INFINITE));
    EXPECT_TRUE(CloseHandle(h));
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(h, 0));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(CloseHandle(h));
}

TEST(ThreadTest, ADuplicateStaysValidAfterTheOriginalIsClosed) {
    Gate g;
    HANDLE h = CreateThread(nullptr, 0, PassGates, &g, 0, nullptr);
    HANDLE dup = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_NE(h, dup);
    EXPECT_TRUE(CloseHandle(h));
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

}  // namespace
