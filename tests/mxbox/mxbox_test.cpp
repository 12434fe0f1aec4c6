#include <algorithm>
#include <string>

#include "support/TempMachine.h"

namespace {

// mxbox run as a person would: a child process on the test's emulated machine.
class MxboxTest : public mxtest::MachineTest {
protected:
    std::string Run(const std::string& args, int* status) {
        return mxtest::RunCommand(machine.EnvPrefix() + MXBOX_PATH " " + args + " 2>" + machine.root() + "/stderr", status);
    }
    std::string Stderr() { return mxtest::ReadHostFile(machine.root() + "/stderr"); }
};

TEST_F(MxboxTest, RegistryRoundTripShowsUtf8AndStoresGbk) {
    int status = -1;
    Run("reg set 'HKCU\\SOFTWARE\\Tamborinebox\\Setting\\Normal' AudioPath 'C:\\我的音乐'", &status);
    ASSERT_EQ(0, status) << Stderr();
    registry_string<std::string> stored("SOFTWARE\\Tamborinebox\\Setting\\Normal\\AudioPath", HKEY_CURRENT_USER);
    EXPECT_EQ(mxtest::Gbk("C:\\我的音乐").str(), static_cast<std::string>(stored));
    EXPECT_EQ("C:\\我的音乐\n", Run("reg get 'software/tamborinebox/setting/normal' AUDIOPATH", &status));
    EXPECT_EQ("{\"type\": \"REG_SZ\", \"data\": \"C:\\\\我的音乐\"}\n",
              Run("reg get 'SOFTWARE\\Tamborinebox\\Setting\\Normal' AudioPath --json", &status));
    Run("reg set --hklm 'SOFTWARE\\X' n 0x10 --dword", &status);
    EXPECT_EQ("16\n", Run("reg get --hklm 'SOFTWARE\\X' n", &status));
    std::string listing = Run("reg list -r SOFTWARE", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, listing.find("Tamborinebox\\Setting\\Normal\\AudioPath  REG_SZ  C:\\我的音乐"));
}

TEST_F(MxboxTest, DeletingKeysNeedsRecursionForSubkeys) {
    int status = -1;
    Run("reg set 'A\\B' v x", &status);
    Run("reg delete A", &status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, Stderr().find("subkeys"));
    Run("reg delete -r A", &status);
    EXPECT_EQ(0, status);
    Run("reg get 'A\\B' v", &status);
    EXPECT_EQ(1, status);
    std::string err = Stderr();
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n'));  // one clear line
}

TEST_F(MxboxTest, Md5AcceptsHostAndWindowsPaths) {
    mxtest::WriteHostFile(machine.HostC("歌.mp3"), "abc");
    int status = -1;
    EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72  " + machine.HostC("歌.mp3") + "\n", Run("md5 '" + machine.HostC("歌.mp3") + "'", &status));
    EXPECT_EQ(0, status);
    EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72  C:/歌.MP3\n", Run("md5 'C:/歌.MP3'", &status));
    Run("md5 'C:\\missing.mp3'", &status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, Stderr().find("missing.mp3"));
    Run("md5 /etc/hostname", &status);  // no drive of this machine holds it
    EXPECT_EQ(1, status);
}

TEST_F(MxboxTest, HelpAndUsageErrors) {
    int status = -1;
    EXPECT_NE(std::string::npos, Run("--help", &status).find("reg"));
    EXPECT_EQ(0, status);
    Run("reg frobnicate", &status);
    EXPECT_NE(0, status);
    Run("", &status);
    EXPECT_NE(0, status);
}

}  // namespace
