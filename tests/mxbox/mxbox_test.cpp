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

namespace {

class MxboxLibraryTest : public MxboxTest {
protected:
    void SetUp() override {
        mxtest::WriteHostFile(machine.HostC("music/歌曲.mp3"), "12345");
        mxtest::WriteHostFile(machine.HostC("music/b.WMA"), "1");
    }
};

TEST_F(MxboxLibraryTest, QuickRecordsListAndShowInUtf8) {
    int status = -1;
    std::string song = machine.HostC("music/歌曲.mp3");
    Run("library add '" + song + "' 'C:\\music\\b.WMA'", &status);
    ASSERT_EQ(0, status) << Stderr();
    Run("library add 'c:/MUSIC/b.wma'", &status);
    EXPECT_EQ(1, status);  // already there, in another letter case
    EXPECT_EQ("1. 歌曲 - 未知 - 未知  [" + song + "]\n", Run("library ls 歌", &status));
    std::string info = Run("library info 'C:\\music\\歌曲.mp3'", &status);
    EXPECT_NE(std::string::npos, info.find("FileLength: 5\n"));
    EXPECT_NE(std::string::npos, info.find("Type: mp3\n"));
    EXPECT_NE(std::string::npos, info.find("Analyzed: 0\n"));
    std::string json = Run("library ls --json", &status);
    EXPECT_NE(std::string::npos, json.find("\"FileName\": \"C:\\\\music\\\\b.WMA\", \"Song\": \"b\""));
    Run("library rm 'C:\\music\\b.wma'", &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ(std::string::npos, Run("library ls", &status).find("b.WMA"));
}

TEST_F(MxboxLibraryTest, PlaylistWorkflow) {
    int status = -1;
    Run("library add 'C:\\music\\歌曲.mp3' 'C:\\music\\b.WMA'", &status);
    Run("playlist new 我的", &status);
    ASSERT_EQ(0, status) << Stderr();
    Run("playlist add 我的 'C:\\music\\b.WMA' 'C:\\music\\歌曲.mp3'", &status);
    ASSERT_EQ(0, status) << Stderr();
    Run("playlist move-song 我的 1 2", &status);
    std::string shown = Run("playlist show 我的", &status);
    EXPECT_EQ(0u, shown.find("1. 歌曲"));
    EXPECT_EQ("[\"默认列表\", \"我的\"]\n", Run("playlist ls --json", &status));
    EXPECT_EQ("the song left the library with its last playlist\n", Run("playlist remove 我的 2", &status));
    Run("playlist rename 我的 Mine", &status);
    EXPECT_EQ("0. 默认列表\n1. Mine\n", Run("playlist ls", &status));
    Run("playlist move 0 1", &status);
    EXPECT_EQ(1, status);
    Run("playlist show nothing", &status);
    EXPECT_EQ(1, status);
    Run("playlist rm Mine", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, Run("library ls", &status).find("歌曲"));
}

}  // namespace

namespace {

class MxboxTagsTest : public MxboxTest {};

TEST_F(MxboxTagsTest, SetThenShowInUtf8) {
    std::string frame = std::string("\xFF\xFB\x90\x00", 4) + std::string(413, '\0');
    std::string audio;
    for (int i = 0; i < 60; ++i) audio += frame;
    mxtest::WriteHostFile(machine.HostC("t.mp3"), audio);
    mxtest::WriteHostFile(machine.HostC("cover.jpg"), "JPEGDATA");
    int status = -1;
    Run("tags set 'C:\\t.mp3' --title 晴天 --genre Rock --picture '" + machine.HostC("cover.jpg") + "'", &status);
    ASSERT_EQ(0, status) << Stderr();
    std::string json = Run("tags show 'C:\\t.mp3' --json", &status);
    EXPECT_NE(std::string::npos, json.find("\"title\": \"晴天\""));
    EXPECT_NE(std::string::npos, json.find("\"genreCode\": 17"));
    EXPECT_NE(std::string::npos, json.find("\"pictureBytes\": 8"));
    EXPECT_NE(std::string::npos, json.find("\"bitrate\": \"128\""));
    EXPECT_EQ("content: audio mp3\nextension: audio mp3\n", Run("type 'C:\\t.mp3'", &status));
    Run("tags set 'C:\\t.mp3'", &status);
    EXPECT_EQ(1, status);
    Run("tags show 'C:\\missing.mp3'", &status);
    EXPECT_EQ(1, status);
}

}  // namespace

namespace {

// The bundled examples, copied onto the test's drive C:.
class MxboxImportTest : public MxboxTest {
protected:
    MxboxImportTest() { mxtest::RunCommand("cp -r '" MX_SOURCE_DIR "/examples' '" + machine.HostC() + "/'"); }
    std::string Examples() const { return machine.HostC("examples"); }
};

TEST_F(MxboxImportTest, ImportAnalysesTheQuotaAndTheRestOnRequest) {
    int status = -1;
    std::string out = Run("import '" + Examples() + "' --quota 1 --analyze-rest", &status);
    ASSERT_EQ(0, status) << Stderr();
    EXPECT_NE(std::string::npos, out.find("imported 4 songs: 1 analysed, 3 to analyse later")) << out;
    EXPECT_NE(std::string::npos, out.find("analysed the other 3 songs")) << out;
    std::string stats = Run("library stats --json", &status);
    EXPECT_NE(std::string::npos, stats.find("\"songs\": 4, \"analysed\": 4")) << stats;
    EXPECT_NE(std::string::npos, stats.find("\"types\": {\"mp3\": 3, \"wma\": 1}")) << stats;
    std::string list = Run("library ls", &status);
    for (const char* song : {"黄昏 - Synth Ensemble - 示例曲集", "清晨 - 合成乐团 - 示例曲集", "夜曲 - 合成乐团 - 示例曲集"})
        EXPECT_NE(std::string::npos, list.find(song)) << list;
}

TEST_F(MxboxImportTest, ASecondImportFindsEverySongAlreadyThere) {
    int status = -1;
    std::string first = Run("import '" + Examples() + "' --quota 4", &status);
    EXPECT_NE(std::string::npos, first.find("imported 4 songs: 4 analysed, 0 to analyse later")) << first;
    EXPECT_NE(std::string::npos, Run("library ls", &status).find("Old Radio - Tone Generator - Examples"));  // ID3v1
    std::string second = Run("import '" + Examples() + "'", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, second.find(Examples() + "/night.wma: already in the library")) << second;
    EXPECT_NE(std::string::npos, second.find("imported 0 songs: 0 analysed, 0 to analyse later; 4 already in the library"));
}

TEST_F(MxboxImportTest, FailuresAreOneLineAndAnExitStatus) {
    int status = -1;
    Run("import '" + machine.HostC("nothing-here") + "'", &status);
    EXPECT_EQ(1, status);
    std::string err = Stderr();  // progress lines, then the one error line
    const std::string line = "mxbox: none of the given paths exists\n";
    EXPECT_EQ(line, err.substr(err.size() - std::min(err.size(), line.size()))) << err;
    std::string out = Run("analyze '" + Examples() + "/morning.mp3'", &status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, out.find("morning.mp3: not in the library")) << out;
    Run("import '" + Examples() + "/morning.mp3'", &status);
    out = Run("analyze '" + Examples() + "/morning.mp3'", &status);
    EXPECT_EQ(0, status) << Stderr();
    EXPECT_NE(std::string::npos, out.find("morning.mp3: 清晨 - 合成乐团")) << out;
    // A song that cannot be read is reported and fails the import.
    mxtest::RunCommand("mkdir '" + machine.HostC("noise") + "'");
    mxtest::WriteHostFile(machine.HostC("noise/noise.mp3"), std::string(3000, 'x'));
    out = Run("import '" + machine.HostC("noise") + "' --quota 1", &status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, out.find("noise.mp3: not a readable MP3 or WMA file")) << out;
    EXPECT_NE(std::string::npos, Stderr().find("mxbox: 1 song could not be read")) << Stderr();
}

}  // namespace

namespace {

TEST_F(MxboxImportTest, SettingsAreSavedForTheNextProcessWithTheLoadRules) {
    int status = -1;
    std::string shown = Run("settings show --json", &status);
    ASSERT_EQ(0, status) << Stderr();
    EXPECT_NE(std::string::npos, shown.find("\"AddAppLink\": 0")) << shown;
    EXPECT_NE(std::string::npos, shown.find("\"LyricColor\": \"清新蓝\"")) << shown;
    Run("settings set lyrictrans 10", &status);
    EXPECT_EQ(0, status) << Stderr();
    Run("settings set AudioPath 'C:\\我的音乐'", &status);
    shown = Run("settings show --json", &status);
    EXPECT_NE(std::string::npos, shown.find("\"LyricTrans\": 80")) << shown;  // stored 10, clamped by the next load
    EXPECT_NE(std::string::npos, shown.find("\"AudioPath\": \"C:\\\\我的音乐\"")) << shown;
    Run("settings set NoSuchThing 1", &status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, Stderr().find("NoSuchThing: no such setting"));
    Run("settings set MaxDownloadCount many", &status);
    EXPECT_EQ(1, status);
    Run("settings reset", &status);
    shown = Run("settings show --json", &status);
    EXPECT_NE(std::string::npos, shown.find("\"AddAppLink\": 1")) << shown;
    EXPECT_NE(std::string::npos, shown.find("\"AudioPath\": \"C:\\\\Direduzizi\"")) << shown;
}

TEST_F(MxboxImportTest, CopyFilesSongsAndImportCanCopyFirst) {
    int status = -1;
    std::string out = Run("copy '" + Examples() + "' --to 'C:\\备份'", &status);
    ASSERT_EQ(0, status) << Stderr();
    EXPECT_NE(std::string::npos, out.find("copied 4 of 4 files to " + machine.HostC("备份"))) << out;
    EXPECT_EQ(mxtest::ReadHostFile(Examples() + "/night.wma"), mxtest::ReadHostFile(machine.HostC("备份/night.wma")));
    out = Run("copy '" + Examples() + "/morning.mp3' --to 'C:\\备份'", &status);
    EXPECT_TRUE(mxtest::HostExists(machine.HostC("备份/morning(1).mp3"))) << out;

    Run("settings set AudioPath 'C:\\歌'", &status);
    out = Run("import '" + Examples() + "' --copy-first --quota 4", &status);
    ASSERT_EQ(0, status) << Stderr();
    EXPECT_NE(std::string::npos, out.find("imported 4 songs: 4 analysed")) << out;
    std::string list = Run("library ls", &status);
    EXPECT_NE(std::string::npos, list.find("清晨 - 合成乐团 - 示例曲集  [" + machine.HostC("歌/morning.mp3") + "]")) << list;
    EXPECT_EQ(std::string::npos, list.find(Examples())) << list;  // the originals stay out of the library
}

}  // namespace
