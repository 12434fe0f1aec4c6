#include <atomic>
#include <thread>
#include <vector>

#include "support/TempMachine.h"

namespace {

TEST(CriticalSectionTest, IsRecursiveForItsOwner) {
    CCriticalSection cs;
    cs.Lock();
    EXPECT_TRUE(TryEnterCriticalSection(cs));
    LeaveCriticalSection(cs);
    std::atomic<int> taken{-1};
    std::thread other([&] { taken = TryEnterCriticalSection(cs); });
    other.join();
    EXPECT_EQ(0, taken.load());
    cs.Unlock();
    std::thread after([&] {
        taken = TryEnterCriticalSection(cs);
        if (taken) LeaveCriticalSection(cs);
    });
    after.join();
    EXPECT_EQ(1, taken.load());
}

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

}  // namespace
