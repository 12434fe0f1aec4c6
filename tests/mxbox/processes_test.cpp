// Several processes on one library, as when a user starts two front ends at once.
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/TempMachine.h"

namespace {

class MxboxProcessesTest : public mxtest::MachineTest {
protected:
    void MakeFolder(const std::string& name, int n) {
        mxtest::RunCommand("mkdir -p '" + machine.HostC(name) + "'");
        for (int i = 0; i < n; ++i) mxtest::WriteHostFile(machine.HostC(name + "/" + std::to_string(i) + ".mp3"), "\xFF\xFB\x90\x00");
    }
    std::string Mxbox(const std::string& args) {
        return machine.EnvPrefix() + MXBOX_PATH " " + args + " 2>>'" + machine.root() + "/stderr'";
    }
    std::string Stderr() { return mxtest::ReadHostFile(machine.root() + "/stderr"); }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }
};

TEST_F(MxboxProcessesTest, TwoImportsAtOnceKeepEverySongEachReports) {
    MakeFolder("a", 300);
    MakeFolder("b", 300);
    std::string out = mxtest::RunCommand("(" + Mxbox("import --quota 0 '" + machine.HostC("a") + "'") + " & " +
                                         Mxbox("import --quota 0 '" + machine.HostC("b") + "'") + "; wait)");
    EXPECT_EQ(2, Count(out, "imported 300 songs")) << out << Stderr();
    std::string stats = mxtest::RunCommand(Mxbox("library stats --json"));
    EXPECT_NE(std::string::npos, stats.find("\"songs\": 600")) << stats;
}

TEST_F(MxboxProcessesTest, ASecondProcessSaysItWaitsThenProceedsOrGivesUpWithOneLine) {
    int ready[2], done[2];
    ASSERT_EQ(0, pipe(ready));
    ASSERT_EQ(0, pipe(done));
    pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {  // another front end with the library open
        char c = char(CDBOperater::Instance()->InitLocalDataBase());
        (void)!write(ready[1], &c, 1);
        (void)!read(done[0], &c, 1);
        _exit(0);
    }
    char opened = 0;
    ASSERT_EQ(1, read(ready[0], &opened, 1));
    ASSERT_EQ(1, opened);
    int status = -1;
    mxtest::RunCommand(Mxbox("--wait 0.3 library ls"), &status);
    EXPECT_EQ(1, status);
    EXPECT_EQ(2, Count(Stderr(), "\n")) << Stderr();
    EXPECT_EQ(1, Count(Stderr(), "in use by another process; waiting for it (up to 0.3 s)")) << Stderr();
    EXPECT_EQ(1, Count(Stderr(), "still in use by another process; gave up after 0.3 s")) << Stderr();
    // Tags are written only once the library is there to follow them.
    const std::string song = std::string("\xFF\xFB\x90\x00", 4) + std::string(413 * 4, '\0');
    mxtest::WriteHostFile(machine.HostC("t.mp3"), song);
    mxtest::RunCommand(Mxbox("--wait 0.3 tags set C:/t.mp3 --title New"), &status);
    EXPECT_EQ(1, status) << Stderr();
    EXPECT_EQ(song, mxtest::ReadHostFile(machine.HostC("t.mp3"))) << Stderr();
    // Released half a second later, a waiting process goes on.
    std::string out = mxtest::RunCommand("(sleep 0.5; echo x >&" + std::to_string(done[1]) + ") & " + Mxbox("--wait 20 library stats"), &status);
    EXPECT_EQ(0, status) << Stderr();
    EXPECT_NE(std::string::npos, out.find("songs")) << out;
    waitpid(holder, nullptr, 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

}  // namespace
