// Several processes on one library, as when a user starts two front ends at once.

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
    // Another front end with the library open.
    mxtest::ChildHolder holder([] { return CDBOperater::Instance()->InitLocalDataBase() != 0; });
    ASSERT_TRUE(holder.Held());
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
    std::string out = mxtest::RunCommand("(sleep 0.5; echo x >&" + std::to_string(holder.ReleaseFd()) + ") & " + Mxbox("--wait 20 library stats"), &status);
    EXPECT_EQ(0, status) << Stderr();
    EXPECT_NE(std::string::npos, out.find("songs")) << out;
}

}  // namespace
