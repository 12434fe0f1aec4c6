#include <algorithm>
#include <regex>
#include <sstream>
#include <string>

#include "support/TempMachine.h"

namespace {

// mxbox run as a person would: a child process on the test's emulated machine, with the bundled
// examples copied onto its drive C:.
class MxboxTest : public mxtest::MachineTest {
protected:
    MxboxTest() { mxtest::RunCommand("cp -r '" MX_SOURCE_DIR "/examples' '" + machine.HostC() + "/'"); }
    std::string Examples() const { return machine.HostC("examples"); }
    std::string Run(const std::string& args, int* status) {
        return mxtest::RunCommand(machine.EnvPrefix() + MXBOX_PATH " " + args + " 2>" + machine.root() + "/stderr", status);
    }
    std::string Stderr() { return mxtest::ReadHostFile(machine.root() + "/stderr"); }
    // The lines of stderr that are not progress.
    std::vector<std::string> ErrorLines() {
        std::istringstream in(Stderr());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("importing", 0) && line.rfind("analysing ", 0) && line.rfind("copying ", 0)) lines.push_back(line);
        }
        return lines;
    }
};

// One session, run in order: each command's exit status, its one error line (none on success), and
// a piece of its output.
TEST_F(MxboxTest, EveryErrorIsOneLineAndStatusOne) {
    mxtest::WriteHostFile(machine.HostC("t.mp3"), std::string("\xFF\xFB\x90\x00", 4) + std::string(413 * 4, '\0'));
    mxtest::WriteHostFile(machine.HostC("cover.png"), std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
    mxtest::WriteHostFile(machine.HostC("sound.wav"), std::string("RIFF\x24\0\0\0WAVEfmt ", 16));
    struct Case {
        std::string args;
        int status;
        const char* error;   // pattern of the error line
        const char* output;  // a piece of stdout
    } const cases[] = {
        {"--help", 0, "", "library"},
        {"", 1, "mxbox: .*subcommand.*", ""},
        {"reg frobnicate", 1, "mxbox: A subcommand is required", ""},
        {"md5", 1, "mxbox: FILE is required", ""},
        {"import C:/examples --quota x", 1, "mxbox: .*--quota.*", ""},
        {"import C:/examples --quick --quota 2", 1, "mxbox: .*excludes.*", ""},
        {"reg set 'A\\B' v x", 0, "", ""},
        {"reg delete A", 1, "mxbox: .*subkeys.*", ""},
        {"reg delete -r A", 0, "", ""},
        {"reg get 'A\\B' v", 1, "mxbox: .*no such.*", ""},
        {"reg set K v 99999999999 --dword", 1, "mxbox: '99999999999' is not a number from 0 to 4294967295", ""},
        {"reg set K v -1 --dword", 1, "mxbox: '-1' is not a number .*", ""},
        {"reg set K v 12x --dword", 1, "mxbox: '12x' is not a number .*", ""},
        {"reg get K v", 1, "mxbox: K: no such key.*", ""},
        {"reg set K v 0xFFFFFFFF --dword", 0, "", ""},
        {"reg get K v", 0, "", "4294967295\n"},
        {"reg set K v 010 --dword", 0, "", ""},
        {"reg get K v", 0, "", "10\n"},
        {"md5 'C:\\missing.mp3'", 1, "mxbox: C:\\\\missing.mp3: cannot open.*", ""},
        {"md5 /etc/hostname", 1, "mxbox: /etc/hostname: no drive .*", ""},
        {"library add 'C:\\missing.mp3'", 1, "mxbox: C:\\\\missing.mp3: no such file", ""},
        {"library add C:/examples", 1, "mxbox: C:/examples: a folder, not a song file.*", ""},
        {"library add ''", 1, "mxbox: an empty path .*", ""},
        {"library add 'C:\\.\\x\\..\\t.mp3'", 0, "", ""},
        {"library add C:/t.mp3", 1, "mxbox: C:/t.mp3: already in the library", ""},  // one file, one record
        {"library ls --wait 0.5", 0, "", "t - "},
        {"library rm C:/T.MP3", 0, "", ""},
        {"import ''", 1, "mxbox: an empty path .*", ""},
        {"library stats --json", 0, "", "\"songs\": 0,"},
        {"type 'C:\\missing.mp3'", 1, "mxbox: C:\\\\missing.mp3: no such file", ""},
        {"copy C:/examples --to C:/t.mp3", 1, "mxbox: .*/t.mp3: a file, not a folder to copy into", ""},
        {"tags set C:/t.mp3 --picture C:/examples", 1, "mxbox: C:/examples: a folder, not a picture", ""},
        {"tags set C:/t.mp3 --picture C:/sound.wav", 1, "mxbox: C:/sound.wav: not a JPEG, PNG, GIF or BMP image", ""},
        {"tags set C:/t.mp3 --picture C:/cover.png", 0, "", ""},
        {"tags show C:/t.mp3 --json", 0, "", "\"pictureMime\": \"image/png\""},
        {"tags set C:/t.mp3", 1, "mxbox: nothing to set.*", ""},
        {"tags show 'C:\\missing.mp3'", 1, "mxbox: C:\\\\missing.mp3: no such file", ""},
        {"settings set NoSuchThing 1", 1, "mxbox: NoSuchThing: no such setting.*", ""},
        {"settings set MaxDownloadCount many", 1, "mxbox: .*many.*", ""},
        {"playlist new 'a/b\\c'", 1, "mxbox: cannot create playlist 'a/b\\\\c': .*", ""},
        {"playlist new 'a/b\\c'", 1, "mxbox: cannot create playlist .*", ""},
        {"playlist rm 默认列表", 1, "mxbox: the default playlist cannot be deleted", ""},
        {"playlist rename 默认列表 X", 1, "mxbox: the default playlist keeps its name", ""},
        {"playlist new Mine", 0, "", ""},
        {"playlist new MINE", 1, "mxbox: cannot create playlist 'MINE': the name is taken.*", ""},
        {"playlist rename Mine 'x:y'", 1, "mxbox: cannot rename 'Mine' to 'x:y': .*", ""},
        {"playlist ls --json", 0, "", "[\"默认列表\", \"Mine\"]\n"},
        {"playlist move 0 1", 1, "mxbox: cannot move playlist 0", ""},
        {"playlist show nothing", 1, "mxbox: no playlist named nothing", ""},
        {"import C:/nothing-here", 1, "mxbox: none of the given paths exists", ""},
        {"analyze C:/examples/morning.mp3", 1, "mxbox: .*/examples/morning.mp3: not in the library", ""},
        {"analyze C:/examples", 1, "mxbox: .*/examples: no library song in this folder", ""},
        {"analyze", 1, "mxbox: give song files, folders or --pending", ""},
        {"analyze --pending", 0, "", "nothing to analyse\n"},
        {"import C:/examples --quota -1", 0, "", "imported 4 songs: 0 analysed, 4 to analyse later"},
        {"analyze --pending", 0, "", "morning.mp3: 清晨 - 合成乐团"},
        {"library stats --json", 0, "", "\"songs\": 4, \"analysed\": 4"},
    };
    for (const Case& c : cases) {
        int status = -1;
        std::string out = Run(c.args, &status);
        EXPECT_EQ(c.status, status) << c.args << "\n" << Stderr();
        std::vector<std::string> errors = ErrorLines();
        EXPECT_EQ(*c.error ? 1u : 0u, errors.size()) << c.args << "\n" << Stderr();
        if (*c.error && !errors.empty()) {
            EXPECT_TRUE(std::regex_match(errors[0], std::regex(c.error))) << c.args << "\n" << errors[0];
        }
        EXPECT_NE(std::string::npos, out.find(c.output)) << c.args << "\n" << out;
    }
}

// Under GBK, text from the command line that the code page cannot hold fails the command before
// anything is written, instead of being stored or written with '?'.
TEST_F(MxboxTest, ArgumentsTheCodePageCannotHoldFailTheCommand) {
    const std::string song = std::string("\xFF\xFB\x90\x00", 4) + std::string(413 * 4, '\0');
    mxtest::WriteHostFile(machine.HostC("t.mp3"), song);
    mxtest::WriteHostFile(machine.HostC("Motörhead.mp3"), song);
    machine.SetCodePage("936");
    const std::string cannot = "' has characters the system code page \\(MX_ACP=936\\) cannot hold";
    const std::pair<std::string, std::string> cases[] = {
        {"settings set AudioPath 'C:\\음악'", "mxbox: AudioPath 'C:\\\\음악" + cannot},
        {"tags set C:/t.mp3 --title '음악😀'", "mxbox: --title '음악😀" + cannot},
        {"library add '" + machine.HostC("Motörhead.mp3") + "'", "mxbox: path '.*/Motörhead.mp3" + cannot},
        {"playlist new '음악'", "mxbox: playlist name '음악" + cannot},
        {"reg set K v '음악'", "mxbox: data '음악" + cannot},
    };
    for (const auto& c : cases) {
        int status = -1;
        Run(c.first, &status);
        EXPECT_EQ(1, status) << c.first;
        std::vector<std::string> errors = ErrorLines();
        ASSERT_EQ(1u, errors.size()) << c.first << "\n" << Stderr();
        EXPECT_TRUE(std::regex_match(errors[0], std::regex(c.second))) << errors[0];
    }
    EXPECT_EQ(song, mxtest::ReadHostFile(machine.HostC("t.mp3")));
    int status = -1;
    EXPECT_EQ(std::string::npos, Run("settings show", &status).find('?'));
    EXPECT_NE(std::string::npos, Run("library stats --json", &status).find("\"songs\": 0,"));
}

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

TEST_F(MxboxTest, Md5AcceptsHostAndWindowsPaths) {
    mxtest::WriteHostFile(machine.HostC("歌.mp3"), "abc");
    int status = -1;
    EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72  " + machine.HostC("歌.mp3") + "\n", Run("md5 '" + machine.HostC("歌.mp3") + "'", &status));
    EXPECT_EQ(0, status);
    EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72  C:/歌.MP3\n", Run("md5 'C:/歌.MP3'", &status));
}

TEST_F(MxboxTest, QuickRecordsListAndShowInUtf8) {
    mxtest::WriteHostFile(machine.HostC("music/歌曲.mp3"), "12345");
    mxtest::WriteHostFile(machine.HostC("music/b.WMA"), "1");
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

    Run("playlist new 我的", &status);
    ASSERT_EQ(0, status) << Stderr();
    Run("library add 'C:\\music\\b.WMA'", &status);
    Run("playlist add 我的 'C:\\music\\b.WMA' 'C:\\music\\歌曲.mp3'", &status);
    ASSERT_EQ(0, status) << Stderr();
    Run("playlist move-song 我的 1 2", &status);
    EXPECT_EQ(0u, Run("playlist show 我的", &status).find("1. 歌曲"));
    EXPECT_EQ("the song left the library with its last playlist\n", Run("playlist remove 我的 2", &status));
    Run("playlist rename 我的 Mine", &status);
    EXPECT_EQ("0. 默认列表\n1. Mine\n", Run("playlist ls", &status));
    Run("playlist rm Mine", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, Run("library ls", &status).find("歌曲"));
}

TEST_F(MxboxTest, TagsSetThenShowInUtf8AndTheLibraryRecordFollows) {
    std::string frame = std::string("\xFF\xFB\x90\x00", 4) + std::string(413, '\0');
    std::string audio;
    for (int i = 0; i < 60; ++i) audio += frame;
    mxtest::WriteHostFile(machine.HostC("t.mp3"), audio);
    mxtest::WriteHostFile(machine.HostC("cover.jpg"), "\xFF\xD8\xFF\xE0JPEG");
    int status = -1;
    Run("tags set 'C:\\t.mp3' --title 晴天 --genre Rock --picture '" + machine.HostC("cover.jpg") + "'", &status);
    ASSERT_EQ(0, status) << Stderr();
    std::string json = Run("tags show 'C:\\t.mp3' --json", &status);
    EXPECT_NE(std::string::npos, json.find("\"title\": \"晴天\""));
    EXPECT_NE(std::string::npos, json.find("\"genreCode\": 17"));
    EXPECT_NE(std::string::npos, json.find("\"pictureMime\": \"image/jpeg\""));
    EXPECT_NE(std::string::npos, json.find("\"pictureBytes\": 8"));
    EXPECT_NE(std::string::npos, json.find("\"bitrate\": \"128\""));
    EXPECT_EQ("content: audio mp3\nextension: audio mp3\n", Run("type 'C:\\t.mp3'", &status));

    Run("import C:/examples/morning.mp3", &status);
    Run("tags set C:/examples/morning.mp3 --title 新歌 --artist 某人", &status);
    ASSERT_EQ(0, status) << Stderr();
    std::string info = Run("library info C:/examples/morning.mp3", &status);
    EXPECT_NE(std::string::npos, info.find("Song: 新歌\nArtist: 某人\nAlbum: 示例曲集\n")) << info;
    EXPECT_NE(std::string::npos, info.find("FileLength: " + std::to_string(mxtest::ReadHostFile(Examples() + "/morning.mp3").size())));
}

TEST_F(MxboxTest, ImportAnalysesTheQuotaAndTheRestOnRequest) {
    int status = -1;
    std::string out = Run("import '" + Examples() + "' --quota 1 --analyze-rest", &status);
    ASSERT_EQ(0, status) << Stderr();
    EXPECT_NE(std::string::npos, out.find("imported 4 songs: 1 analysed, 3 to analyse later")) << out;
    EXPECT_NE(std::string::npos, out.find("analysed the other 3 songs")) << out;
    std::string stats = Run("library stats --json", &status);
    EXPECT_NE(std::string::npos, stats.find("\"songs\": 4, \"analysed\": 4")) << stats;
    EXPECT_NE(std::string::npos, stats.find("\"types\": {\"mp3\": 3, \"wma\": 1}")) << stats;
    std::string list = Run("library ls", &status);
    for (const char* song : {"黄昏 - Synth Ensemble - 示例曲集", "清晨 - 合成乐团 - 示例曲集", "夜曲 - 合成乐团 - 示例曲集",
                             "Old Radio - Tone Generator - Examples"})  // ID3v1 only, analysed with the rest
        EXPECT_NE(std::string::npos, list.find(song)) << list;
}

TEST_F(MxboxTest, ImportReadsEveryTagUnlessQuickAndASecondImportFindsThemThere) {
    int status = -1;
    std::string first = Run("import '" + Examples() + "'", &status);
    EXPECT_NE(std::string::npos, first.find("imported 4 songs: 4 analysed, 0 to analyse later")) << first;
    EXPECT_NE(std::string::npos, Run("library ls", &status).find("Old Radio - Tone Generator - Examples"));  // ID3v1
    std::string second = Run("import '" + Examples() + "'", &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, second.find(Examples() + "/night.wma: already in the library")) << second;
    EXPECT_NE(std::string::npos, second.find("imported 0 songs: 0 analysed, 0 to analyse later; 4 already in the library"));
}

TEST_F(MxboxTest, AnalyzeOfAFolderTakesItsLibrarySongs) {
    int status = -1;
    mxtest::RunCommand("cp -r '" + Examples() + "' '" + machine.HostC("other") + "'");
    std::string out = Run("import C:/examples C:/other --quick", &status);
    EXPECT_NE(std::string::npos, out.find("imported 8 songs: 0 analysed, 8 to analyse later")) << out;
    out = Run("analyze 'C:\\EXAMPLES\\'", &status);
    EXPECT_EQ(0, status) << Stderr();
    EXPECT_EQ(4, std::count(out.begin(), out.end(), '\n')) << out;
    EXPECT_NE(std::string::npos, out.find("examples/morning.mp3: 清晨 - 合成乐团")) << out;
    EXPECT_NE(std::string::npos, Run("library stats --json", &status).find("\"songs\": 8, \"analysed\": 4"));
    // A song that cannot be read is reported and fails the import.
    mxtest::RunCommand("mkdir '" + machine.HostC("noise") + "'");
    mxtest::WriteHostFile(machine.HostC("noise/noise.mp3"), std::string(3000, 'x'));
    out = Run("import '" + machine.HostC("noise") + "' --quota 1", &status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, out.find("noise.mp3: not a readable MP3 or WMA file")) << out;
    EXPECT_NE(std::string::npos, Stderr().find("mxbox: 1 song could not be read")) << Stderr();
}

TEST_F(MxboxTest, NamesNoWindowsNameHoldsAreToldAndFailTheCommand) {
    const std::string skipped = ": skipped: its name has characters the system code page or a Windows name cannot hold";
    mxtest::WriteHostFile(Examples() + "/Motörhead.mp3", mxtest::ReadHostFile(Examples() + "/morning.mp3"));
    mxtest::WriteHostFile(Examples() + "/\xE9t\xE9.mp3", mxtest::ReadHostFile(Examples() + "/morning.mp3"));
    mxtest::WriteHostFile(Examples() + "/what?.mp3", mxtest::ReadHostFile(Examples() + "/morning.mp3"));
    machine.SetCodePage("936");
    int status = -1;
    std::string out = Run("import '" + Examples() + "'", &status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, out.find("Mot?rhead.mp3" + skipped)) << out;
    EXPECT_NE(std::string::npos, out.find("imported 4 songs")) << out;
    for (const char* acp : {"54936", "65001"}) {
        machine.SetCodePage(acp);
        out = Run("import '" + Examples() + "'", &status);
        EXPECT_EQ(1, status) << acp;
        EXPECT_NE(std::string::npos, out.find("?t?.mp3" + skipped)) << acp << out;
        EXPECT_NE(std::string::npos, out.find("what?.mp3" + skipped)) << acp << out;
        EXPECT_EQ(std::string::npos, out.find("the file is gone")) << acp << out;
    }
}

TEST_F(MxboxTest, SettingsAreSavedForTheNextProcessWithTheLoadRules) {
    int status = -1;
    std::string shown = Run("settings show --json", &status);
    ASSERT_EQ(0, status) << Stderr();
    EXPECT_NE(std::string::npos, shown.find("\"AddAppLink\": 0")) << shown;
    EXPECT_NE(std::string::npos, shown.find("\"LyricColor\": \"清新蓝\"")) << shown;
    Run("settings set lyrictrans 10", &status);
    EXPECT_EQ(0, status) << Stderr();
    Run("settings set AudioPath 'C:\\我的음악'", &status);
    shown = Run("settings show --json", &status);
    EXPECT_NE(std::string::npos, shown.find("\"LyricTrans\": 80")) << shown;  // stored 10, clamped by the next load
    EXPECT_NE(std::string::npos, shown.find("\"AudioPath\": \"C:\\\\我的음악\"")) << shown;
    Run("settings reset", &status);
    shown = Run("settings show --json", &status);
    EXPECT_NE(std::string::npos, shown.find("\"AddAppLink\": 1")) << shown;
    EXPECT_NE(std::string::npos, shown.find("\"AudioPath\": \"C:\\\\Direduzizi\"")) << shown;
}

TEST_F(MxboxTest, CopyFilesSongsAndImportCanCopyFirst) {
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
