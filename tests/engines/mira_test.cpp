// The download engine against an HTTP server inside the test process: message order, resumed and
// fallen-back transfers, sizes that differ from the announced one, pause and cancel, the share records.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "mira/MiraLib.h"
#include "support/FixtureServer.h"
#include "support/TempMachine.h"

namespace mxtest {
namespace {

const size_t kSize = 300 * 1024;
const UINT kMarker = WM_USER + 77;

std::string Source(size_t size = kSize) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

std::vector<std::pair<UINT, LPARAM>> g_received;

LRESULT SinkProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg >= 0x2400 && nMsg <= 0x2434) g_received.emplace_back(nMsg, lParam);
    if (nMsg == kMarker) g_received.emplace_back(nMsg, 0);
    return DefWindowProcA(hWnd, nMsg, wParam, lParam);
}

// The messages received so far, one word each; progress messages are counted, not listed.
std::string Sequence(int* progress = nullptr) {
    std::string out;
    int count = 0;
    // A name ending in a space is followed by the message's number.
    static const std::map<UINT, std::string> names = {
        {MIRA_MSG_STARTED, "STARTED"}, {MIRA_MSG_CONNECTING, "CONNECTING "}, {MIRA_MSG_SIZEKNOWN, "SIZE"},
        {MIRA_MSG_RESUMING, "RESUMING"}, {MIRA_MSG_RESTARTING, "RESTARTING"}, {MIRA_MSG_DATADONE, "DATADONE"},
        {MIRA_MSG_STATUSTEXT, "TEXT "}, {MIRA_MSG_NEXTADDRESS, "NEXT"}, {MIRA_MSG_COMPLETED, "COMPLETED"},
        {MIRA_MSG_PAUSED, "PAUSED"}, {MIRA_MSG_FAILED, "FAILED "}, {kMarker, "MARK"}};
    for (auto& m : g_received) {
        if (m.first == MIRA_MSG_PROGRESS && ++count) continue;
        auto name = names.find(m.first);
        std::string word = name == names.end() ? "?" + std::to_string(m.first) : name->second;
        if (word.back() == ' ') word += std::to_string(m.second);
        out += (out.empty() ? "" : ",") + word;
    }
    if (progress) *progress = count;
    return out;
}

long long Int64At(const unsigned char* p) {
    unsigned long long v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return static_cast<long long>(v);
}

// Serves Source() at "/song", "/slow" (in paced chunks), "/cut" (the first answer stops half-way),
// "/short" (announces more than it sends) and "/long" (sends more than it announces); records each
// request's Range header and the file bytes it sent. Those of Source() carry the ETag of the version
// served (m_nVersion 1: another file, m_changed) and answer a range whose If-Range names another one whole.
class MiraTest : public MachineTest {
protected:
    MiraTest()
        : server([this](httplib::Server& s) {
              auto provide = [this](const std::string& path, size_t limit, int paceMs) {
                  return [this, path, limit, paceMs](const httplib::Request& req, httplib::Response& res) {
                      Log(req);
                      bool cut = path == "/cut" && m_nCuts++ == 0;
                      const int version = m_nVersion;
                      const std::string etag = "\"v" + std::to_string(version) + "\"";
                      res.set_header("ETag", etag);
                      if (req.has_header("If-Range") && req.get_header_value("If-Range") != etag)
                          const_cast<httplib::Request&>(req).ranges.clear();
                      const std::string* source = version ? &m_changed : &m_source;
                      res.set_content_provider(kSize, "application/octet-stream",
                                               [this, source, cut, limit, paceMs](size_t offset, size_t length, httplib::DataSink& sink) {
                                                   size_t end = std::min(offset + length, cut ? kSize / 2 : limit);
                                                   if (offset >= end) return false;
                                                   size_t n = std::min<size_t>(end - offset, 16 * 1024);
                                                   if (paceMs) std::this_thread::sleep_for(std::chrono::milliseconds(paceMs));
                                                   if (!paceMs) m_nServed += n;  // "/slow" may outlive its client
                                                   return sink.write(source->data() + offset, n);
                                               });
                  };
              };
              s.Get("/song", provide("/song", kSize, 0));
              s.Get("/slow", provide("/slow", kSize, 25));
              s.Get("/cut", provide("/cut", kSize, 0));
              s.Get("/short", provide("/short", kSize - 1000, 0));
              s.Get("/norange", [this](const httplib::Request& req, httplib::Response& res) {
                  Log(req);
                  m_nServed += kSize;
                  const_cast<httplib::Request&>(req).ranges.clear();  // or the library would answer the range
                  res.status = 200;
                  res.set_content(m_source, "application/octet-stream");
              });
              s.Get("/long", [this](const httplib::Request& req, httplib::Response& res) {
                  Log(req);
                  res.status = 206;
                  res.set_header("Content-Range", "bytes 0-99/100");
                  res.set_content(m_source.substr(0, 150), "application/octet-stream");
              });
          }) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = SinkProc, wc.lpszClassName = "MiraTestSink";
        RegisterClassA(&wc);
        m_hWnd = CreateWindowExA(0, "MiraTestSink", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        g_received.clear();
    }
    ~MiraTest() override {
        for (MIRATASK task : m_tasks) DestroyMiraTask(task);
        DestroyWindow(m_hWnd);
    }

    void Log(const httplib::Request& req) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ranges.push_back(req.has_header("Range") ? req.get_header_value("Range") : "");
    }
    std::vector<std::string> Ranges() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_ranges;
    }
    void Pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    MIRATASK Start(const std::vector<std::string>& paths, const char* target = "C:\\song.mp3") {
        MIRATASK task = CreateMiraTask();
        m_tasks.push_back(task);
        MiraSetCallback(task, m_hWnd, 0);
        MiraSetBlockMessage(task, 0);
        MiraSetDownloadMode(task, MIRA_MODE_HTTP);
        MiraSetCaller(task, "test");
        std::vector<std::string> urls;
        for (auto& p : paths) urls.push_back(p[0] == '/' ? server.Base() + p : p);
        std::vector<const char*> list;
        for (auto& u : urls) list.push_back(u.c_str());
        EXPECT_EQ(1, MiraDownloadUrllist(task, list.data(), static_cast<int>(list.size()), target));
        return task;
    }
    // Waits until the task has written at least `bytes`.
    static void WaitForBytes(MIRATASK task, long long bytes) {
        unsigned char status[MIRA_STATUS_SIZE];
        for (int i = 0; i < 2000; ++i) {
            MiraGetStatusInfo(task, status);
            if (Int64At(status + 808) >= bytes) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ADD_FAILURE() << "the transfer did not start";
    }
    // The ".part" a paused or killed transfer left: part of the file, and no finished file beside it.
    size_t KeptPart() {
        size_t kept = ReadHostFile(machine.HostC("song.mp3.part")).size();
        EXPECT_GE(kept, 64u * 1024);
        EXPECT_LT(kept, kSize);
        EXPECT_FALSE(HostExists(machine.HostC("song.mp3")));
        return kept;
    }
    // A new task on the target asks only for the bytes after the kept part and completes the file.
    void ExpectPartContinued(size_t kept) {
        m_nServed = 0;
        EXPECT_EQ(MIRA_STATE_COMPLETED, MiraWaitDownload(Start({"/song"})));
        EXPECT_TRUE(m_source == ReadHostFile(machine.HostC("song.mp3")));
        EXPECT_EQ(kSize - kept, m_nServed.load());
        EXPECT_EQ("bytes=" + std::to_string(kept) + "-", Ranges().back());
    }

    std::string m_source = Source();
    std::string m_changed = std::string(Source()).replace(1000, 3, "new");
    std::atomic<int> m_nVersion{0};
    std::mutex m_lock;
    std::vector<std::string> m_ranges;
    std::atomic<int> m_nCuts{0};
    std::atomic<size_t> m_nServed{0};
    FixtureServer server;
    HWND m_hWnd = nullptr;
    std::vector<MIRATASK> m_tasks;
};

TEST_F(MiraTest, DownloadsReportInOrderResumeAndFallBack) {
    const std::string half = "bytes=" + std::to_string(kSize / 2) + "-";
    // partBytes: a ".part" left by an earlier, killed process.
    // partKept, targetBefore: a failed task keeps its ".part"; a file that was at the target already.
    // freeSpace: of drive C:, which a full disk fails before writing, dropping the ".part".
    struct Row { const char* name; std::vector<std::string> paths; size_t partBytes; int state; std::string sequence;
                 std::vector<std::string> ranges; bool partKept; const char* targetBefore;
                 unsigned long long freeSpace = ~0ull; } rows[] = {
        {"plain", {"/song"}, 0, MIRA_STATE_COMPLETED, "STARTED,CONNECTING 0,SIZE,DATADONE,COMPLETED", {""}, false, nullptr},
        {"cut connection", {"/cut"}, 0, MIRA_STATE_COMPLETED,
         "STARTED,CONNECTING 0,SIZE,RESUMING,DATADONE,COMPLETED", {"", half}, false, nullptr},
        {"second address", {"/missing", "/song"}, 0, MIRA_STATE_COMPLETED,
         "STARTED,CONNECTING 0,TEXT 3,NEXT,CONNECTING 1,SIZE,DATADONE,COMPLETED", {""}, false, nullptr},
        {"part of a killed process", {"/song"}, kSize / 2, MIRA_STATE_COMPLETED,
         "STARTED,CONNECTING 0,SIZE,RESUMING,DATADONE,COMPLETED", {half}, false, nullptr},
        {"range ignored", {"/norange"}, kSize / 3, MIRA_STATE_COMPLETED,
         "STARTED,CONNECTING 0,RESTARTING,SIZE,DATADONE,COMPLETED", {"bytes=" + std::to_string(kSize / 3) + "-"}, false, nullptr},
        {"shorter than announced", {"/short"}, 0, MIRA_STATE_FAILED, "STARTED,CONNECTING 0,SIZE,TEXT 4,FAILED 4",
         {"", "bytes=" + std::to_string(kSize - 1000) + "-"}, true, nullptr},
        {"longer than announced", {"/long"}, 0, MIRA_STATE_FAILED, "STARTED,CONNECTING 0,TEXT 5,FAILED 5", {""}, false, nullptr},
        {"missing address", {"/missing"}, 0, MIRA_STATE_FAILED, "STARTED,CONNECTING 0,TEXT 3,FAILED 3", {}, false, nullptr},
        {"target taken", {"/song"}, 0, MIRA_STATE_FAILED, "STARTED,CONNECTING 0,SIZE,DATADONE,FAILED 9", {""}, true, "mine"},
        {"full disk", {"/song"}, kSize / 2, MIRA_STATE_FAILED, "STARTED,CONNECTING 0,TEXT 7,FAILED 7", {}, false,
         nullptr, 1000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (const char* file : {"song.mp3", "song.mp3.part"}) std::remove(machine.HostC(file).c_str());
        if (row.partBytes) WriteHostFile(machine.HostC("song.mp3.part"), m_source.substr(0, row.partBytes));
        if (row.targetBefore) WriteHostFile(machine.HostC("SONG.MP3"), row.targetBefore);
        g_received.clear();
        { std::lock_guard<std::mutex> guard(m_lock); m_ranges.clear(); }
        m_nCuts = 0, m_nServed = 0;

        auto begin = std::chrono::steady_clock::now();
        MxSetFreeSpaceOverride('C', row.freeSpace);
        MIRATASK task = Start(row.paths);
        EXPECT_EQ(row.state, MiraWaitDownload(task));
        MxSetFreeSpaceOverride('C', ~0ull);
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
        Pump();
        int progress = 0;
        EXPECT_EQ(row.sequence, Sequence(&progress));
        unsigned char status[MIRA_STATUS_SIZE];
        ASSERT_EQ(1, MiraGetStatusInfo(task, status));
        EXPECT_EQ(row.state, static_cast<int>(status[0]));
        if (row.state == MIRA_STATE_COMPLETED) {
            // Progress comes at most every 100 ms.
            EXPECT_GE(progress, 1);
            EXPECT_LE(progress, took.count() / 100 + 1);
            EXPECT_TRUE(m_source == ReadHostFile(machine.HostC("song.mp3")));
            EXPECT_FALSE(HostExists(machine.HostC("song.mp3.part")));
            EXPECT_EQ(static_cast<long long>(kSize), Int64At(status + 800));
            EXPECT_EQ(static_cast<long long>(kSize), Int64At(status + 808));
            EXPECT_STREQ("completed", reinterpret_cast<const char*>(status + 512));
            EXPECT_GT(0, getxattr(machine.HostC("song.mp3").c_str(), "user.mira.validator", nullptr, 0));
            // Bytes already on disk are never fetched again (unless the server ignores the range).
            EXPECT_EQ(row.ranges[0].empty() || row.paths[0] == "/norange" ? kSize : kSize - row.partBytes,
                      m_nServed.load());
        } else if (row.targetBefore) {
            // Never replaced; the finished file waits as the ".part".
            EXPECT_EQ(row.targetBefore, ReadHostFile(machine.HostC("SONG.MP3")));
            EXPECT_FALSE(HostExists(machine.HostC("song.mp3")));
            EXPECT_TRUE(m_source == ReadHostFile(machine.HostC("song.mp3.part")));
            EXPECT_NE(nullptr, strstr(reinterpret_cast<const char*>(status + 512), "target exists"));
            std::remove(machine.HostC("SONG.MP3").c_str());
        } else {
            EXPECT_FALSE(HostExists(machine.HostC("song.mp3")));
            EXPECT_EQ(row.partKept, HostExists(machine.HostC("song.mp3.part")));
        }
        std::vector<std::string> ranges = Ranges();
        ranges.resize(std::min(ranges.size(), row.ranges.size()));
        EXPECT_EQ(row.ranges, ranges);
    }
}

TEST_F(MiraTest, PauseKeepsThePartCancelRemovesItAndFallsSilent) {
    // Paused half-way: the ".part" holds what arrived, and the next task on the target continues it.
    MIRATASK task = Start({"/slow"});
    WaitForBytes(task, 64 * 1024);
    MiraPauseDownloadUrllist(task);
    EXPECT_EQ(MIRA_STATE_PAUSED, MiraWaitDownload(task));
    Pump();
    EXPECT_EQ("PAUSED", Sequence().substr(Sequence().rfind(',') + 1));
    ExpectPartContinued(KeptPart());

    // Cancelled: nothing is posted once the cancel has returned, and no file is left.
    Pump();
    g_received.clear();
    task = Start({"/slow"}, "C:\\other.mp3");
    WaitForBytes(task, 32 * 1024);
    MiraCancelDownloadUrllist(task);
    PostMessageA(m_hWnd, kMarker, 0, 0);
    EXPECT_EQ(MIRA_STATE_CANCELLED, MiraWaitDownload(task));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Pump();
    std::string sequence = Sequence();
    EXPECT_EQ("MARK", sequence.substr(sequence.rfind(',') + 1)) << sequence;
    EXPECT_FALSE(HostExists(machine.HostC("other.mp3")));
    EXPECT_FALSE(HostExists(machine.HostC("other.mp3.part")));

    // The source changed between pause and resume: the ".part" starts over, and the file is the new source.
    task = Start({"/slow"}, "C:\\changed.mp3");
    WaitForBytes(task, 64 * 1024);
    MiraPauseDownloadUrllist(task);
    EXPECT_EQ(MIRA_STATE_PAUSED, MiraWaitDownload(task));
    m_nVersion = 1;
    Pump();
    g_received.clear();
    EXPECT_EQ(1, MiraResumeDownloadUrllist(task));
    EXPECT_EQ(MIRA_STATE_COMPLETED, MiraWaitDownload(task));
    EXPECT_TRUE(m_changed == ReadHostFile(machine.HostC("changed.mp3")));
    Pump();
    EXPECT_EQ("STARTED,CONNECTING 0,RESTARTING,SIZE,DATADONE,COMPLETED", Sequence());
    m_nVersion = 0;

    // Asked before the list comes: a cancel sticks; a pause ends the task paused at once, until resumed.
    const std::string url = server.Base() + "/song";
    const char* list[] = {url.c_str()};
    struct Row { const char* name; void (*stop)(MIRATASK); int accepted, state; const char* sequence; } rows[] = {
        {"cancel", MiraCancelDownloadUrllist, 0, MIRA_STATE_CANCELLED, ""},
        {"pause", MiraPauseDownloadUrllist, 1, MIRA_STATE_PAUSED, "PAUSED"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MIRATASK idle = CreateMiraTask();
        m_tasks.push_back(idle);
        MiraSetCallback(idle, m_hWnd, 0);
        g_received.clear();
        row.stop(idle);
        EXPECT_EQ(row.accepted, MiraDownloadUrllist(idle, list, 1, "C:\\idle.mp3"));
        EXPECT_EQ(row.state, MiraWaitDownload(idle));
        Pump();
        EXPECT_EQ(row.sequence, Sequence());
        EXPECT_FALSE(HostExists(machine.HostC("idle.mp3.part")));
        EXPECT_EQ(row.accepted, MiraResumeDownloadUrllist(idle));
        EXPECT_EQ(row.accepted ? MIRA_STATE_COMPLETED : MIRA_STATE_CANCELLED, MiraWaitDownload(idle));
        EXPECT_TRUE((row.accepted ? m_source : "") == ReadHostFile(machine.HostC("idle.mp3")));
    }
}

TEST_F(MiraTest, TasksRunTogetherUpToTheSettingsCountButNeverTwoOnOneTarget) {
    std::vector<MIRATASK> tasks;
    for (const char* target : {"C:\\a.mp3", "C:\\b.mp3", "D:\\c.mp3"}) tasks.push_back(Start({"/slow"}, target));
    WaitForBytes(tasks[0], 1);
    MIRATASK clash = Start({"/song"}, "C:\\A.MP3");  // the same file, by Windows rules
    EXPECT_EQ(MIRA_STATE_FAILED, MiraWaitDownload(clash));
    unsigned char status[MIRA_STATUS_SIZE];
    MiraGetStatusInfo(clash, status);
    EXPECT_EQ(MIRA_ERR_BUSY, static_cast<int>(status[4]));
    for (MIRATASK task : tasks) EXPECT_EQ(MIRA_STATE_COMPLETED, MiraWaitDownload(task));
    for (const std::string& path : {machine.HostC("a.mp3"), machine.HostC("b.mp3"), machine.HostD("c.mp3")})
        EXPECT_TRUE(m_source == ReadHostFile(path)) << path;
    // With the settings' MaxDownloadCount at 1, one transfer runs and the other waits its turn.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Tamborinebox\\Setting\\Download", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    DWORD one = 1;
    RegSetValueExA(key, "MaxDownloadCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
    MIRATASK turns[] = {Start({"/slow"}, "C:\\e.mp3"), Start({"/slow"}, "C:\\f.mp3")};
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    std::string texts;
    for (MIRATASK task : turns) {
        MiraGetStatusInfo(task, status);
        texts += std::string(reinterpret_cast<char*>(status + 512)) + (Int64At(status + 808) > 0 ? " (bytes)|" : "|");
    }
    EXPECT_TRUE(texts == "receiving (bytes)|waiting for a free download slot|" ||
                texts == "waiting for a free download slot|receiving (bytes)|") << texts;
    for (MIRATASK task : turns) EXPECT_EQ(MIRA_STATE_COMPLETED, MiraWaitDownload(task));
    // Unusable calls fail cleanly and waiting on them does not hang.
    const char* none[] = {nullptr};
    MIRATASK idle = CreateMiraTask();
    m_tasks.push_back(idle);
    EXPECT_EQ(0, MiraDownloadUrllist(idle, none, 1, "C:\\x.mp3"));
    EXPECT_EQ(MIRA_STATE_FAILED, MiraWaitDownload(idle));
    EXPECT_EQ(-1, MiraWaitDownload(reinterpret_cast<MIRATASK>(~uintptr_t(0))));
    EXPECT_EQ(0, MiraGetStatusInfo(reinterpret_cast<MIRATASK>(~uintptr_t(0)), status));
}

// Run by KilledProcessLeavesAPartThatIsContinued in a child process, which is killed half-way.
TEST(MiraChild, DownloadUntilKilled) {
    const char* url = getenv("MIRA_CHILD_URL");
    if (!url) GTEST_SKIP() << "only as a child process";
    MIRATASK task = CreateMiraTask();
    EXPECT_EQ(1, MiraDownloadUrllist(task, &url, 1, "C:\\song.mp3"));
    MiraWaitDownload(task);
}

TEST_F(MiraTest, KilledProcessLeavesAPartThatIsContinued) {
    std::string url = server.Base() + "/slow";
    setenv("MIRA_CHILD_URL", url.c_str(), 1);
    pid_t child = 0;
    char exe[] = "/proc/self/exe", filter[] = "--gtest_filter=MiraChild.*";
    char* argv[] = {exe, filter, nullptr};
    ASSERT_EQ(0, posix_spawn(&child, exe, nullptr, nullptr, argv, environ));
    unsetenv("MIRA_CHILD_URL");
    struct stat st {};
    for (int i = 0; i < 2500 && (stat(machine.HostC("song.mp3.part").c_str(), &st) != 0 || st.st_size < 64 * 1024); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ExpectPartContinued(KeptPart());
}

TEST(MiraShare, RecordsFollowCommitsAndMoves) {
    TempMachine machine;
    DWORD first[4] = {}, second[4] = {};
    for (DWORD* id : {first, second}) GenHWID(id);
    EXPECT_EQ(0, memcmp(first, second, sizeof(first)));
    EXPECT_NE(0u, first[0] | first[1] | first[2] | first[3]);

    const char md5[] = "0123456789ABCDEF0123456789abcdef", lower[] = "0123456789abcdef0123456789abcdef";
    EXPECT_FALSE(MiraShareCommitFile("", "C:\\m\\a.mp3", md5));  // no share folder yet
    mkdir(machine.HostC("share").c_str(), 0777);
    MiraShareSetRegPath(HKEY_CURRENT_USER, "Software\\Test\\MIRA");
    MiraShareStart();
    EXPECT_GT(MiraShareGetIPCPort(), 0);
    MiraShareSetID3Path("C:\\share");
    struct Row { const char *name, *text, *path, *md5; bool ok; } rows[] = {
        {"valid", "", "C:\\m\\a.mp3", md5, true},
        {"short md5", "", "C:\\m\\a.mp3", "0123", false},
        {"not hexadecimal", "", "C:\\m\\a.mp3", "0123456789abcdef0123456789abcdeg", false},
        {"line break in path", "", "C:\\m\\a\n.mp3", md5, false},
        {"no path", "", nullptr, md5, false},
    };
    for (const Row& row : rows) EXPECT_EQ(row.ok, MiraShareCommitFile(row.text, row.path, row.md5)) << row.name;
    EXPECT_EQ(1, MiraShareSetID3(md5, "TAG", 3, "ID3", 3));
    EXPECT_EQ(0, MiraShareSetID3(md5, nullptr, 3, "ID3", 3));
    EXPECT_EQ(std::string("MXID3\x01\x03\0\0\0\x03\0\0\0TAGID3", 20),
              ReadHostFile(machine.HostC("share/") + lower + ".id3"));
    EXPECT_EQ(1, MiraShareEditID3("C:\\m\\a.mp3", "C:\\n\\a.mp3", 128, 10));
    EXPECT_EQ(0, MiraShareEditID3("C:\\m\\a.mp3", "C:\\o\\a.mp3", 128, 10));
    EXPECT_EQ("C:\\n\\a.mp3\n\n128 10\n", ReadHostFile(machine.HostC("share/") + lower + ".rec"));
    // A record another process wrote meanwhile (a clock tick later) is found as well.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    WriteHostFile(machine.HostC("share/") + std::string(32, 'e') + ".rec", "C:\\p\\b.mp3\n\n0 0\n");
    EXPECT_EQ(1, MiraShareEditID3("C:\\p\\b.mp3", "C:\\q\\b.mp3", 0, 0));
    MiraShareFinish();
    EXPECT_EQ(0, MiraShareGetIPCPort());
}

}  // namespace
}  // namespace mxtest
