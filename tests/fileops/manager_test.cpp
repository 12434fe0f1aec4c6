// The manager and its threads: identifiers, starters, stop, suspend and resume, ownership of the posted
// blocks, and several imports at once over one library.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fileops/FileOpsFixture.h"
#include "MxModule/fileops/ThreadIDManager.h"

namespace mxtest {
namespace {

// Reuse comes first in, first out: RefusedStartersTakeNoIdentifierAndStartNothing counts on it.
TEST(ThreadIDPoolTest, HandsOutOneToNineHundredNinetyNineAndIgnoresReleasesOfOthers) {
    CThreadIDManager pool;
    for (int id = 1; id <= 999; ++id) ASSERT_EQ(id, pool.GetID());
    pool.ReleaseID(1000);  // never identifiers: ignored
    pool.ReleaseID(0);
    EXPECT_EQ(0, pool.GetID());  // all 999 in use
}

// Front ends built against the module hold these numbers; a renumbered message breaks them.
TEST(FileOperateMessagesTest, NumbersFrontEndsRelyOnAreFixed) {
    // From WM_USER + 3200 on, one apart, but for 3229 and 3230, which are not used.
    const UINT inOrder[] = {
        WM_MX_BEGIN_COPY_SINGLE_FILE, WM_MX_COPYING_SINGLE_FILE, WM_MX_END_COPY_SINGLE_FILE,
        WM_MX_BEGIN_COPY_MULTI_FILES, WM_MX_BEGIN_COPY_ONE_OF_MULTI_FILES, WM_MX_END_COPY_ONE_OF_MULTI_FILES,
        WM_MX_END_COPY_MULTI_FILES, WM_MX_BEGIN_MOVE_SINGLE_FILE, WM_MX_MOVING_SINGLE_FILE, WM_MX_END_MOVE_SINGLE_FILE,
        WM_MX_BEGIN_MOVE_MULTI_FILES, WM_MX_BEGIN_MOVE_ONE_OF_MULTI_FILES, WM_MX_END_MOVE_ONE_OF_MULTI_FILES,
        WM_MX_END_MOVE_MULTI_FILES, WM_MX_BEGIN_DELETE_SINGLE_FILE, WM_MX_END_DELETE_SINGLE_FILE,
        WM_MX_BEGIN_DELETE_MULTI_FILES, WM_MX_BEGIN_DELETE_ONE_OF_MULTI_FILES, WM_MX_END_DELETE_ONE_OF_MULTI_FILES,
        WM_MX_END_DELETE_MULTI_FILES, WM_MX_FILEOPERATE_ERROR, WM_MX_FILEOPERATE_THREAD_EXIT,
        WM_MX_BEGIN_COPY_ONE_OF_MULTI_PATH, WM_MX_END_COPY_ONE_OF_MULTI_PATH, WM_MX_BEGIN_MOVE_ONE_OF_MULTI_PATH,
        WM_MX_END_MOVE_ONE_OF_MULTI_PATH, WM_MX_BEGIN_IMPORT, WM_MX_BEGIN_IMPORT_ONE_OF_PLAYLIST,
        WM_MX_END_IMPORT_ONE_OF_PLAYLIST, WM_MX_BEGIN_IMPORT_ONE_OF_FILE, WM_MX_END_IMPORT_ONE_OF_FILE,
        WM_MX_END_IMPORT, WM_MX_IMPORT_SEARCHING, WM_MX_DOWNLOAD_NEW_AUDIO_INFO,
        WM_MX_END_COPY_ANALYZED_MULTI_FILES, WM_MX_END_COPY_NOT_ANALYZED_MULTI_FILES};
    UINT offset = 3200;
    for (UINT message : inOrder) {
        if (offset == 3229) offset = 3231;
        EXPECT_EQ(0x0400u + offset++, message) << "expected at WM_USER + " << offset - 1;
    }
    EXPECT_EQ(0x0400u + 403, UINT(WM_MX_EXTENSION_CORRECTED));
}

class ManagerTest : public FileOpsTest {};

TEST_F(ManagerTest, RefusedStartersTakeNoIdentifierAndStartNothing) {
    Song("a.mp3", Mp3("a"));
    CStringList empty, one;
    one.AddTail("C:\\music");
    int before = StartImport({"C:\\music"}, 0);
    ASSERT_GT(before, 0);
    EXPECT_EQ(-1, manager.AsynAddMultiFilePaths(&one, nullptr, 1, 0, 0));  // no window, no default
    EXPECT_EQ(-1, manager.AsynAutoAddSongs(nullptr));
    EXPECT_EQ(-1, manager.AsynAddMultiFilePaths(nullptr, sink.GetHwnd(), 1, 0, 0));
    EXPECT_EQ(-1, manager.AsynAddMultiFilePaths(&empty, sink.GetHwnd(), 1, 0, 0));
    MxFailNextThreadCreations(1);  // its identifier goes back behind the free ones
    EXPECT_EQ(-1, StartImport({"C:\\music"}, 0));
    EXPECT_EQ(-1, manager.StopFileOperateThread(before + 1, 1));  // nothing of it was kept
    // The default window serves a starter given none.
    manager.SetDefaultFileOperateCallBackHWND(sink.GetHwnd());
    int next = manager.AsynAddMultiFilePaths(&one, nullptr, 1, 0, 0);
    EXPECT_EQ(before + 2, next);
    ASSERT_TRUE(sink.PumpUntilExit(next, kPatience));
    ASSERT_TRUE(sink.PumpUntilExit(before, kPatience));
    // Stopping or suspending nothing, or all of nothing.
    EXPECT_EQ(0, manager.StopFileOperateThread(0, 1));
    EXPECT_EQ(-1, manager.StopFileOperateThread(123, 1));
    for (int id : {0, 123}) {
        EXPECT_EQ(0, manager.SuspendFileOperateThread(id));
        EXPECT_EQ(0, manager.ResumeFileOperateThread(id));
    }
}

TEST_F(ManagerTest, NineHundredNinetyNineOperationsAtOnceAndNoMore) {
    Song("a.mp3", Mp3("a"));
    std::vector<int> ids;
    {
        // Every worker waits at its first report for the lock this thread holds.
        CCriticalSectionGuard hold(&manager.m_csLock);
        for (int i = 0; i < CThreadIDManager::kIDCount; ++i) {
            int id = StartImport({"C:\\music"}, 0);
            ASSERT_GT(id, 0) << i;
            ids.push_back(id);
        }
        EXPECT_EQ(-1, StartImport({"C:\\music"}, 0));
    }
    for (int id : ids) ASSERT_TRUE(sink.PumpUntilExit(id, kPatience));
    EXPECT_EQ(0, manager.Running());
    int again = StartImport({"C:\\music"}, 0);
    EXPECT_GT(again, 0);
    ASSERT_TRUE(sink.PumpUntilExit(again, kPatience));
}

// Holds a worker inside its first write to the library until opened: a fixed point to stop, suspend
// or close the window at.
class WriteGate {
public:
    static void Close() {
        std::lock_guard<std::mutex> guard(s_lock);
        s_entered = s_open = false;
        CDBCore::s_pfnWriteStepHook = Hook;
    }
    static bool WaitEntered() {
        std::unique_lock<std::mutex> guard(s_lock);
        return s_changed.wait_for(guard, std::chrono::seconds(20), [] { return s_entered; });
    }
    static void Open() {
        {
            std::lock_guard<std::mutex> guard(s_lock);
            s_open = true;
        }
        s_changed.notify_all();
    }
    static void Remove() { CDBCore::s_pfnWriteStepHook = nullptr; }

private:
    static void Hook(int) {
        std::unique_lock<std::mutex> guard(s_lock);
        s_entered = true;
        s_changed.notify_all();
        s_changed.wait(guard, [] { return s_open; });
    }
    static inline std::mutex s_lock;
    static inline std::condition_variable s_changed;
    static inline bool s_entered = false, s_open = true;
};

class StopTest : public ManagerTest {
protected:
    // An import of many files (C:\music\<n>\, n counting the calls) whose worker waits inside its first
    // library write until Release().
    int StartHeld(int files, int nQuota = 0) {
        const std::string folder = std::to_string(m_nHeld++);
        for (int i = 0; i < files; ++i) Song(folder + "/m" + std::to_string(1000 + i) + ".mp3", Mp3("t"));
        WriteGate::Close();
        int id = StartImport({CString(("C:\\music\\" + folder).c_str())}, nQuota);
        EXPECT_TRUE(WriteGate::WaitEntered());
        return id;
    }
    int m_nHeld = 0;
    void Release() { WriteGate::Open(); }
    ~StopTest() override {
        Release();
        manager.StopFileOperateThread(0, 1);
        WriteGate::Remove();
    }
    int Imported() { return int(Songs("").size()); }
};

TEST_F(StopTest, StopWithWaitingReturnsOnlyAfterTheExitMessageWasPosted) {
    int id = StartHeld(50);
    std::thread releaser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Release();
    });
    EXPECT_EQ(0, manager.StopFileOperateThread(id, 1));
    releaser.join();
    EXPECT_EQ(0, manager.Running());
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, sink.GetHwnd(), WM_MX_FILEOPERATE_THREAD_EXIT, WM_MX_FILEOPERATE_THREAD_EXIT, PM_NOREMOVE));
    EXPECT_EQ(WPARAM(id), msg.wParam);
    ASSERT_TRUE(sink.PumpUntilExit(id, 0));
    EXPECT_EQ(-1, manager.StopFileOperateThread(id, 1));  // gone
}

// A stop without waiting returns at once, also for a suspended worker: it undoes every suspension. The
// worker ends at its next check, keeps the file it was at, and posts none of its end reports.
TEST_F(StopTest, StopWithoutWaitingReturnsAtOnceUndoesEverySuspensionAndOnlyTheExitMessageFollows) {
    // s: suspend the operation, a: suspend all, r: resume the operation; then the suspension it is left with.
    struct Case {
        const char* steps;
        int suspended;
    };
    for (Case c : {Case{"", 0}, Case{"sa", 1}, Case{"sar", 1}, Case{"asrr", 0}}) {
        SCOPED_TRACE(c.steps);
        const int before = Imported();
        int id = StartHeld(10);
        HANDLE thread = manager.ThreadHandle(id);
        EXPECT_EQ(THREAD_PRIORITY_HIGHEST, GetThreadPriority(thread));  // imports run above normal
        for (const char* step = c.steps; *step; ++step) {
            if (*step == 'r')
                manager.ResumeFileOperateThread(id);
            else
                manager.SuspendFileOperateThread(*step == 's' ? id : 0);
        }
        EXPECT_EQ(c.suspended, manager.Suspended(id));
        EXPECT_EQ(0, manager.StopFileOperateThread(id, 0));
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 0));  // still inside the library write
        Release();
        ASSERT_TRUE(sink.PumpUntilExit(id, kPatience));  // a worker left suspended never gets here
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
        CloseHandle(thread);
        EXPECT_EQ((Seq{"THREAD_EXIT"}), Described(id));
        EXPECT_EQ(before + 1, Imported());  // the walk went no further
    }
}

TEST_F(StopTest, ASuspendedOperationParksOutsideTheLibraryAndResumedRunsToItsEnd) {
    int id = StartHeld(20);
    manager.SuspendFileOperateThread(0);
    Release();
    // It finishes the write it was in and parks before the next file, outside the library's lock: the
    // library answers this thread.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(1, Imported());
    manager.ResumeFileOperateThread(0);
    ASSERT_TRUE(sink.PumpUntilExit(id, kPatience));
    Seq seq = Described(id);
    ASSERT_EQ(3u, seq.size());
    EXPECT_EQ("END_COPY_MULTI_FILES", seq[1]);
    EXPECT_EQ(20, Imported());
}

TEST_F(StopTest, TheManagersDestructorStopsAndWaitsForEveryOperation) {
    auto local = std::make_unique<CFileOperateManager>();
    local->SetFileOperateDestDirectory("C:\\lib");
    for (int i = 0; i < 30; ++i) Song("d" + std::to_string(i) + ".mp3", Mp3("t"));
    CStringList list;
    list.AddTail("C:\\music");
    WriteGate::Close();
    int a = local->AsynAddMultiFilePaths(&list, sink.GetHwnd(), 1, 0, 0);
    int b = local->AsynAddMultiFilePaths(&list, sink.GetHwnd(), 1, 0, 3);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    ASSERT_TRUE(WriteGate::WaitEntered());
    std::thread releaser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Release();
    });
    local.reset();
    releaser.join();
    ASSERT_TRUE(sink.PumpUntilExit(a, 0));
    ASSERT_TRUE(sink.PumpUntilExit(b, 0));
}

// The module frees every block it could not post; LeakSanitizer checks it when this process ends.
TEST_F(StopTest, AWindowDestroyedInTheMiddleLeavesNoBlockBehind) {
    AddSong("C:\\music\\0\\m1010.mp3");  // reported as already imported, after the window is gone
    int id = StartHeld(20, 5);
    HANDLE thread = manager.ThreadHandle(id);
    ASSERT_NE(nullptr, thread);
    sink.Destroy();
    Release();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kPatience));
    CloseHandle(thread);
    EXPECT_EQ(0, manager.Running());
    EXPECT_EQ(20, Imported());
}

// A window whose thread's queue is full takes no report: the module frees each block (LeakSanitizer checks
// it) and the operation still ends; the exit message waits for room. A window gone with its thread is the
// destroyed window of AWindowDestroyedInTheMiddleLeavesNoBlockBehind.
TEST_F(ManagerTest, ReportsAWindowCannotTakeAreFreedAndTheExitMessageWaitsForRoom) {
    Song("a.mp3", Mp3("a"));
    Song("b.mp3", Mp3("b"));
    // This thread fills its own queue and pumps only later.
    auto fill = [this] {
        int posted = 0;
        while (posted < 20000 && PostMessageA(sink.GetHwnd(), WM_NULL, 0, 0)) ++posted;
        return posted;
    };
    ASSERT_EQ(10000, fill());
    int id = StartImport({"C:\\music"}, 1);
    ASSERT_GT(id, 0);
    // Time for the worker to meet the full queue with its exit message before this thread pumps.
    for (DWORD start = GetTickCount(); manager.Running() && GetTickCount() - start < 300;) Sleep(1);
    EXPECT_TRUE(sink.PumpUntilExit(id, kPatience));
    // A front end that stops and waits cannot make room: the stop still returns.
    fill();
    id = StartImport({"C:\\music"}, 1);
    EXPECT_EQ(0, manager.StopFileOperateThread(id, 1));
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) ASSERT_EQ(UINT(WM_NULL), m.message);
}

}  // namespace
}  // namespace mxtest
