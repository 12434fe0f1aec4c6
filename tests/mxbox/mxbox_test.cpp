#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempMachine.h"
#include "support/WindowsTree.h"

namespace {

// One command of a session: its exit status, the pattern of its one error line ("" for none) and
// pieces of its output.
struct Case {
    std::string args;
    int status;
    std::string error;
    std::vector<std::string> output;
};

// mxbox run as a person would: a child process on the test's emulated machine, with the bundled
// examples copied onto its drive C:.
class MxboxTest : public mxtest::MachineTest {
protected:
    MxboxTest() {
        mxtest::RunCommand("cp -r '" MX_SOURCE_DIR "/examples' '" + machine.HostC() + "/'");
        for (int i = 0; i < 60; ++i) m_strSong += std::string("\xFF\xFB\x90\x00", 4) + std::string(413, '\0');
        mxtest::WriteHostFile(machine.HostC("t.mp3"), m_strSong);
    }
    std::string m_strSong;  // sixty MPEG frames at 128 kbit/s
    std::string Examples() const { return machine.HostC("examples"); }
    // Runs the commands in order.
    void Session(const std::vector<Case>& cases) {
        const std::string errFile = machine.root() + "/stderr";
        for (const Case& c : cases) {
            int status = -1;
            std::string out = mxtest::RunCommand(machine.EnvPrefix() + MXBOX_PATH " " + c.args + " 2>" + errFile, &status);
            std::string err = mxtest::ReadHostFile(errFile);
            EXPECT_EQ(c.status, status) << c.args << "\n" << err;
            std::istringstream in(err);
            std::vector<std::string> errors;  // the lines of stderr that are not progress
            for (std::string line; std::getline(in, line);) {
                if (line.rfind("importing", 0) && line.rfind("analysing ", 0) && line.rfind("copying ", 0) && line.rfind("moving ", 0) &&
                    line.rfind("looking for ", 0))
                    errors.push_back(line);
            }
            EXPECT_EQ(c.error.empty() ? 0u : 1u, errors.size()) << c.args << "\n" << err;
            if (!c.error.empty() && !errors.empty()) {
                EXPECT_TRUE(std::regex_match(errors[0], std::regex(c.error))) << c.args << "\n" << errors[0];
            }
            for (const std::string& piece : c.output) EXPECT_NE(std::string::npos, out.find(piece)) << c.args << "\n" << out;
        }
    }
};

// Errors of the command line itself (CLI11's) go through the same one-line report as the empty command.
TEST_F(MxboxTest, EveryErrorIsOneLineAndStatusOne) {
    mxtest::WriteHostFile(machine.HostC("cover.png"), std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
    mxtest::WriteHostFile(machine.HostC("sound.wav"), std::string("RIFF\x24\0\0\0WAVEfmt ", 16));
    mxtest::WriteHostFile(machine.HostC("noise/noise.mp3"), std::string(3000, 'x'));
    Session({
        {"", 1, "mxbox: .*subcommand.*", {}},
        {"reg set 'A\\B' v x", 0, "", {}},
        {"reg delete A", 1, "mxbox: .*subkeys.*", {}},
        {"reg delete -r A", 0, "", {}},
        {"reg get 'A\\B' v", 1, "mxbox: .*no such.*", {}},
        {"reg set K v 99999999999 --dword", 1, "mxbox: '99999999999' is not a number from 0 to 4294967295", {}},
        {"reg set K v 0xFFFFFFFF --dword", 0, "", {}},
        {"reg get K v", 0, "", {"4294967295\n"}},
        {"md5 'C:\\missing.mp3'", 1, "mxbox: C:\\\\missing.mp3: cannot open.*", {}},
        {"md5 /etc/hostname", 1, "mxbox: /etc/hostname: no drive .*", {}},
        {"library add 'C:\\missing.mp3'", 1, "mxbox: C:\\\\missing.mp3: no such file", {}},
        {"library add C:/examples", 1, "mxbox: C:/examples: a folder, not a song file.*", {}},
        {"library add ''", 1, "mxbox: an empty path .*", {}},
        {"library add 'C:\\.\\x\\..\\t.mp3'", 0, "", {}},
        {"library add C:/T.MP3", 1, "mxbox: C:/T.MP3: already in the library", {}},
        {"library rm C:/T.MP3", 0, "", {}},
        {"library legacy-import C:/old.mdb", 1, "mxbox: C:/old.mdb: no such file", {}},
        {"type 'C:\\missing.mp3'", 1, "mxbox: C:\\\\missing.mp3: no such file", {}},
        {"copy C:/examples --to C:/t.mp3", 1, "mxbox: .*/t.mp3: a file, not a folder to copy into", {}},
        {"tags set C:/t.mp3 --picture C:/examples", 1, "mxbox: C:/examples: a folder, not a picture", {}},
        {"tags set C:/t.mp3 --picture C:/sound.wav", 1, "mxbox: C:/sound.wav: not a JPEG, PNG, GIF or BMP image", {}},
        {"tags set C:/t.mp3 --picture C:/cover.png", 0, "", {}},
        {"tags show C:/t.mp3 --json", 0, "", {"\"pictureMime\": \"image/png\"", "\"pictureBytes\": 16"}},
        {"tags set C:/t.mp3", 1, "mxbox: nothing to set.*", {}},
        {"tags show 'C:\\missing.mp3'", 1, "mxbox: C:\\\\missing.mp3: no such file", {}},
        {"settings set NoSuchThing 1", 1, "mxbox: NoSuchThing: no such setting.*", {}},
        {"settings set MaxDownloadCount many", 1, "mxbox: .*many.*", {}},
        {"playlist new 'a/b\\c'", 1, "mxbox: cannot create playlist 'a/b\\\\c': .*", {}},
        {"playlist rm 默认列表", 1, "mxbox: the default playlist cannot be deleted", {}},
        {"playlist rename 默认列表 X", 1, "mxbox: the default playlist keeps its name", {}},
        {"playlist new Mine", 0, "", {}},
        {"playlist new MINE", 1, "mxbox: cannot create playlist 'MINE': the name is taken.*", {}},
        {"playlist rename Mine 'x:y'", 1, "mxbox: cannot rename 'Mine' to 'x:y': .*", {}},
        {"playlist move 0 1", 1, "mxbox: cannot move playlist 0", {}},
        {"playlist show nothing", 1, "mxbox: no playlist named nothing", {}},
        {"import C:/nothing-here", 1, "mxbox: none of the given paths exists", {}},
        {"import C:/noise --quota 1", 1, "mxbox: 1 song could not be read", {"noise.mp3: not a readable MP3 or WMA file"}},
        {"analyze C:/examples/morning.mp3", 1, "mxbox: .*/examples/morning.mp3: not in the library", {}},
        {"analyze C:/examples", 1, "mxbox: .*/examples: no library song in this folder", {}},
        {"analyze", 1, "mxbox: give song files, folders or --pending", {}},
        {"analyze --pending", 0, "", {"nothing to analyse\n"}},
    });
}

// Text comes and goes as UTF-8, paths as the user gave them or as host paths.
TEST_F(MxboxTest, OutputsShowUtf8TextAndHostPaths) {
    mxtest::WriteHostFile(machine.HostC("music/歌曲.mp3"), "12345");
    mxtest::WriteHostFile(machine.HostC("music/b.WMA"), "1");
    mxtest::WriteHostFile(machine.HostC("cover.jpg"), "\xFF\xD8\xFF\xE0JPEG");
    const std::string song = machine.HostC("music/歌曲.mp3"), md5 = "900150983CD24FB0D6963F7D28E17F72  ";
    mxtest::WriteHostFile(machine.HostC("abc.mp3"), "abc");
    Session({
        {"md5 '" + machine.HostC("abc.mp3") + "' C:/ABC.MP3", 0, "", {md5 + machine.HostC("abc.mp3") + "\n" + md5 + "C:/ABC.MP3\n"}},
        {"reg set 'HKCU\\SOFTWARE\\Tamborinebox\\Setting\\Normal' AudioPath 'C:\\我的音乐'", 0, "", {}},
        {"reg get 'software/tamborinebox/setting/normal' AUDIOPATH", 0, "", {"C:\\我的音乐\n"}},
        {"reg get 'SOFTWARE\\Tamborinebox\\Setting\\Normal' AudioPath --json", 0, "",
         {"{\"type\": \"REG_SZ\", \"data\": \"C:\\\\我的音乐\"}\n"}},
        {"reg list -r SOFTWARE", 0, "", {"Tamborinebox\\Setting\\Normal\\AudioPath  REG_SZ  C:\\我的音乐"}},
        {"tags set 'C:\\t.mp3' --title 晴天 --genre Rock --picture '" + machine.HostC("cover.jpg") + "'", 0, "", {}},
        {"tags show 'C:\\t.mp3' --json", 0, "",
         {"\"title\": \"晴天\"", "\"genreCode\": 17", "\"pictureMime\": \"image/jpeg\"", "\"bitrate\": \"128\""}},
        {"type 'C:\\t.mp3'", 0, "", {"content: audio mp3\nextension: audio mp3\n"}},
        {"library add '" + song + "' 'C:\\music\\b.WMA'", 0, "", {}},
        {"library ls 歌", 0, "", {"1. 歌曲 - 未知 - 未知  [" + song + "]\n"}},
        {"library info 'C:\\music\\歌曲.mp3'", 0, "", {"FileLength: 5\n", "Type: mp3\n", "Analyzed: 0\n"}},
        {"library ls --json", 0, "", {"\"FileName\": \"C:\\\\music\\\\b.WMA\", \"Song\": \"b\""}},
        {"playlist new 我的", 0, "", {}},
        {"playlist add 我的 'C:\\music\\b.WMA' 'C:\\music\\歌曲.mp3'", 0, "", {}},
        {"playlist move-song 我的 1 2", 0, "", {}},
        {"playlist show 我的", 0, "", {"1. 歌曲"}},
        {"playlist remove 我的 2", 0, "", {"the song left the library with its last playlist\n"}},
        {"playlist ls", 0, "", {"0. 默认列表\n1. 我的\n"}},
        {"playlist ls --json", 0, "", {"[\"默认列表\", \"我的\"]\n"}},
        {"settings set lyrictrans 10", 0, "", {}},
        {"settings show --json", 0, "", {"\"AddAppLink\": 0", "\"LyricColor\": \"清新蓝\"", "\"LyricTrans\": 80"}},
        {"settings reset", 0, "", {}},
        {"settings show --json", 0, "", {"\"AddAppLink\": 1", "\"AudioPath\": \"C:\\\\Direduzizi\""}},
        {"import '" + Examples() + "' --quota 1 --analyze-rest", 0, "",
         {"imported 4 songs: 1 analysed, 3 to analyse later", "analysed the other 3 songs"}},
        {"library stats --json", 0, "", {"\"songs\": 5, \"analysed\": 4", "\"types\": {\"mp3\": 4, \"wma\": 1}"}},
        {"library ls", 0, "", {"清晨 - 合成乐团 - 示例曲集  [" + Examples() + "/morning.mp3]", "Old Radio - Tone Generator - Examples"}},
        {"import '" + Examples() + "'", 0, "",
         {Examples() + "/night.wma: already in the library", "imported 0 songs: 0 analysed, 0 to analyse later; 4 already in the library"}},
        {"copy '" + Examples() + "' --to 'C:\\备份'", 0, "", {"copied 4 of 4 files to " + machine.HostC("备份")}},
        {"settings set AudioPath 'C:\\歌'", 0, "", {}},
        {"import C:/examples --copy-first --quota 4", 0, "", {"imported 4 songs: 4 analysed"}},
        {"library ls", 0, "", {"清晨 - 合成乐团 - 示例曲集  [" + machine.HostC("歌/morning.mp3") + "]"}},
        {"import C:/examples C:/备份 --quick", 0, "", {"imported 4 songs: 0 analysed, 4 to analyse later"}},
        {"analyze 'C:\\备份\\'", 0, "", {"备份/morning.mp3: 清晨 - 合成乐团"}},
        {"relocate --audio 'C:\\新歌'", 0, "", {"audio folder: moved 4 of 4 files to " + machine.HostC("新歌")}},
        {"library ls", 0, "", {"清晨 - 合成乐团 - 示例曲集  [" + machine.HostC("新歌/合成乐团-清晨.mp3") + "]"}},
        {"settings show --json", 0, "", {"\"AudioPath\": \"C:\\\\新歌\""}},
        {"relocate", 1, "mxbox: give one of --audio NEW and --lyrics NEW", {}},
    });
}

// Text the code page cannot hold fails the command before anything is written, instead of being
// stored or written with '?'; names no Windows name holds are told and fail an import.
TEST_F(MxboxTest, TextAndNamesTheCodePageCannotHoldFailTheCommand) {
    const std::string cannot = "' has characters the system code page \\(MX_ACP=936\\) cannot hold";
    const std::string skipped = ": skipped: its name has characters the system code page or a Windows name cannot hold";
    mxtest::WriteHostFile(machine.HostC("Motörhead.mp3"), m_strSong);
    const std::string morning = mxtest::ReadHostFile(Examples() + "/morning.mp3");
    for (const char* name : {"/Motörhead.mp3", "/\xE9t\xE9.mp3", "/what?.mp3"}) mxtest::WriteHostFile(Examples() + name, morning);
    machine.SetCodePage("936");
    Session({
        {"settings set AudioPath 'C:\\음악'", 1, "mxbox: AudioPath 'C:\\\\음악" + cannot, {}},
        {"tags set C:/t.mp3 --title '음악😀'", 1, "mxbox: --title '음악😀" + cannot, {}},
        {"library add '" + machine.HostC("Motörhead.mp3") + "'", 1, "mxbox: path '.*/Motörhead.mp3" + cannot, {}},
        {"playlist new '음악'", 1, "mxbox: playlist name '음악" + cannot, {}},
        {"reg set K v '음악'", 1, "mxbox: data '음악" + cannot, {}},
        {"library stats --json", 0, "", {"\"songs\": 0,"}},
        {"import '" + Examples() + "'", 1, ".*", {"Mot?rhead.mp3" + skipped, "imported 4 songs"}},
    });
    EXPECT_EQ(m_strSong, mxtest::ReadHostFile(machine.HostC("t.mp3")));
    machine.SetCodePage("54936");
    Session({{"import '" + Examples() + "'", 1, ".*", {"?t?.mp3" + skipped, "what?.mp3" + skipped}}});
}

// A user's old Windows taken in: its drive and its players' keys appear, discovery lists every player's
// lists, a song on a drive nothing stands for is reported, and nothing in the installation is written.
TEST_F(MxboxTest, AdoptedWindowsInstallationShowsItsPlayersAndStaysUnchanged) {
    const std::string win = machine.root() + "/win", second = machine.root() + "/second", hashes = "find . -type f -exec md5sum {} + | sort";
    ASSERT_TRUE(mxtest::BuildWindowsTree(win, second));
    const std::string before = mxtest::RunCommand("cd '" + win + "' && " + hashes);
    mxtest::WriteHostFile(machine.root() + "/drive_c/歌/a.mp3", m_strSong);
    for (const char* name : {"MX_DRIVES", "MX_FOLDER_DESKTOP", "MX_FOLDER_MUSIC", "MX_FOLDER_APPDATA", "MX_FOLDER_LOCALAPPDATA"}) unsetenv(name);
    Session({
        {"machine adopt '" + second + "'", 1, "mxbox: not a Windows installation .*", {}},
        {"machine adopt '" + win + "' --drive D:='" + win + "'", 1, "mxbox: .*/win is drive C: already", {}},
        {"machine adopt '" + win + "' --user Max", 1, "mxbox: no user Max on this installation \\(users: Lin\\)", {}},
        {"settings set AudioPath 'C:\\歌'", 0, "", {}},
        {"library add 'C:\\歌\\a.mp3'", 0, "", {}},
        {"machine adopt '" + win + "' --drive D:='" + second + "'", 0, "",
         {"is drive C:, user Lin\n", "drive_c is now drive Y: (it was C:)\n1 library song followed its drive", "TTPlayer: 1 registry value",
          "shell folder Local AppData: C:\\Users\\Lin\\AppData\\Local"}},
        {"reg get 'HKLM\\SOFTWARE\\Microsoft\\MediaPlayer' Volume", 0, "", {"50\n"}},
        // What lay on this machine's C: follows it: the setting and the library's record.
        {"settings show --json", 0, "", {"\"AudioPath\": \"Y:\\\\歌\""}},
        {"library ls", 0, "", {machine.root() + "/drive_c/歌/a.mp3]"}},
        {"players --json", 0, "",
         {"千千静听_Rock\",\"songs\":[\"C:\\\\Users\\\\Lin\\\\Music\\\\a.mp3\",\"D:\\\\Songs\\\\d.mp3\",\"E:\\\\x.mp3\"", "千千静听_Rock_1", "酷狗2008_Night",
          "\"folders\":[\"C:\\\\Users\\\\Lin\\\\Music\\\\KwDownload\"]", "WMP_Road", "WMP_[默认]", "iTunes_Drive", "Winamp_Road_1", "Winamp_[默认]"}},
        {"players import", 0, "", {"E:\\x.mp3: no drive E: on this machine", "imported 5 of 16 songs; 9 named again by another list; 2 not imported"}},
        {"players import", 0, "", {"playlist 千千静听_Rock: 0 songs added, 2 already there"}},  // run again: nothing doubled
    });
    EXPECT_EQ(before, mxtest::RunCommand("cd '" + win + "' && " + hashes));
    EXPECT_TRUE(mxtest::HostExists(machine.root() + "/drive_c/users"));  // the library stayed on this machine
}

}  // namespace
