#include <string>

#include "support/TempMachine.h"

namespace {

class ShellTest : public mxtest::MachineTest {};

TEST_F(ShellTest, OtherFoldersAreCreatedOnlyWhenAsked) {
    char path[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_MYMUSIC, nullptr, 0, path));
    EXPECT_STREQ("C:\\users\\tester\\Music", path);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path));
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_MYMUSIC | CSIDL_FLAG_CREATE, nullptr, 0, path));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA(path));
    LPITEMIDLIST pidl = nullptr;
    EXPECT_EQ(E_INVALIDARG, SHGetFolderLocation(nullptr, 0x25, nullptr, 0, &pidl));
    EXPECT_EQ(nullptr, pidl);
}

TEST(ShellDefaultsTest, FoldersDefaultToTheHostHomeAndTheEmulatedProfile) {
    mxtest::TempMachine machine;
    for (const char* v : {"MX_FOLDER_DESKTOP", "MX_FOLDER_MUSIC", "MX_FOLDER_APPDATA", "MX_FOLDER_LOCALAPPDATA"}) unsetenv(v);
    std::string home = machine.HostD("home");
    std::string oldHome = getenv("HOME") ? getenv("HOME") : "", oldUser = getenv("USER") ? getenv("USER") : "";
    setenv("HOME", home.c_str(), 1);
    setenv("USER", "tester", 1);
    MxPlatformReload();
    char path[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_MYMUSIC, nullptr, 0, path));
    EXPECT_STREQ("D:\\home\\Music", path);
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path));
    EXPECT_STREQ("C:\\users\\tester\\AppData\\Local", path);
    setenv("HOME", oldHome.c_str(), 1);
    setenv("USER", oldUser.c_str(), 1);
}

}  // namespace
