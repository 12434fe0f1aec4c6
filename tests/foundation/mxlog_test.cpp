#include <string>
#include <thread>
#include <vector>

#include "support/TempMachine.h"

namespace {

// The log decides once per process whether it is on, so each case runs in a child process.
class MxLogTest : public mxtest::MachineTest {};

TEST_F(MxLogTest, WithoutTheRegistryValueLogWritesNothing) {
    std::string root = machine.root();
    EXPECT_EXIT(
        {
            CMxLog::Instance()->Log("nothing");
            bool same = CMxLog::Instance() == CMxLog::Instance();
            std::exit(same && !mxtest::HostExists(root + "/c/log.txt") ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(MxLogTest, LogAppendsEachTextWithALineFeed) {
    std::string root = machine.root();
    mxtest::WriteHostFile(machine.HostC("logs/mx.log"), "old\r\n");
    registry_string<std::string>("SOFTWARE\\Tamborinebox\\Setting\\MxLogFile", HKEY_CURRENT_USER) = "C:\\LOGS\\mx.log";
    EXPECT_EXIT(
        {
            CMxLog::Instance()->Log("first");
            // Each line is on disk as soon as Log returns.
            bool flushed = mxtest::ReadHostFile(root + "/c/logs/mx.log") == "old\r\nfirst\r\n";
            CMxLog::Instance()->Log(mxtest::Gbk("第二"));
            std::_Exit(flushed ? 0 : 1);  // no flushing of streams at exit
        },
        ::testing::ExitedWithCode(0), "");
    // Text mode: the line feed reaches the disk as CR LF, as on the target system.
    EXPECT_EQ("old\r\nfirst\r\n" + std::string(mxtest::Gbk("第二").str()) + "\r\n", mxtest::ReadHostFile(machine.HostC("logs/mx.log")));
}

TEST_F(MxLogTest, ConcurrentWritersKeepLinesWhole) {
    registry_string<std::string>("SOFTWARE\\Tamborinebox\\Setting\\MxLogFile", HKEY_CURRENT_USER) = "C:\\mx.log";
    EXPECT_EXIT(
        {
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t) {
                threads.emplace_back([t] {
                    for (int i = 0; i < 200; ++i) CMxLog::Instance()->Log(CString(std::string(40, char('a' + t)).c_str()));
                });
            }
            for (std::thread& th : threads) th.join();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::string text = mxtest::ReadHostFile(machine.HostC("mx.log"));
    size_t lines = 0;
    for (size_t pos = 0; pos < text.size(); pos += 42, ++lines) {
        ASSERT_EQ(std::string(40, text[pos]) + "\r\n", text.substr(pos, 42));
    }
    EXPECT_EQ(800u, lines);
}

}  // namespace
