// Filing songs into the library folder: the copy worker's message sequences, the naming rules and the
// space test.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "MxModule/download/DownloadAVFile.h"
#include "MxModule/fileops/FileOperateAddMultiFilePathThread.h"
#include "fileops/FileOpsFixture.h"

namespace mxtest {
namespace {

class CopyTest : public FileOpsTest {};

TEST_F(CopyTest, EveryAudioFileIsCopiedUnderItsOwnNameWithItsPercentage) {
    manager.SetFileOperateDestDirectory("");  // ignored: C:\lib\ stays, without its last backslash
    CString given = Song("given.mp3", Mp3("g"));
    Song("dir/a.mp3", Mp3("a"));
    Song("dir/sub/b.wma", Wma({mxtest::ContentDescription(u"b", u"x")}));
    Song("dir/empty.mp3", "");
    Song("dir/text.mp3", "not audio");
    Song("dir/c.ogg", Mp3("ogg"));
    EXPECT_EQ((Seq{"BEGIN_COPY_MULTI_FILES 3",
                   "BEGIN_COPY_ONE_OF_MULTI_FILES(given.mp3|lib\\given.mp3)", "END_COPY_ONE_OF_MULTI_FILES(given.mp3|lib\\given.mp3):33",
                   "BEGIN_COPY_ONE_OF_MULTI_FILES(dir\\a.mp3|lib\\a.mp3)", "END_COPY_ONE_OF_MULTI_FILES(dir\\a.mp3|lib\\a.mp3):66",
                   "BEGIN_COPY_ONE_OF_MULTI_FILES(dir\\sub\\b.wma|lib\\b.wma)", "END_COPY_ONE_OF_MULTI_FILES(dir\\sub\\b.wma|lib\\b.wma):100",
                   "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Copy({given, "C:\\music\\dir\\"}));
    EXPECT_EQ(ReadHostFile(machine.HostC("music/dir/a.mp3")), ReadHostFile(machine.HostC("lib/a.mp3")));
    EXPECT_FALSE(HostExists(machine.HostC("lib/empty.mp3")));
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName("C:\\lib\\a.mp3"));  // the library is not touched
}

TEST_F(CopyTest, NamesCodePage936CannotHoldAreReportedAndTheRestCopied) {
    Song("dir/Señor.mp3", Mp3("s"));
    Song("dir/a.mp3", Mp3("a"));
    machine.SetCodePage("936");
    EXPECT_EQ((Seq{"FILEOPERATE_ERROR(dir\\Se?or.mp3)#28", "BEGIN_COPY_MULTI_FILES 1",
                   "BEGIN_COPY_ONE_OF_MULTI_FILES(dir\\a.mp3|lib\\a.mp3)", "END_COPY_ONE_OF_MULTI_FILES(dir\\a.mp3|lib\\a.mp3):100",
                   "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Copy({"C:\\music\\dir\\"}));
}

TEST_F(CopyTest, TakenNamesGetACounterAndNothingIsOverwritten) {
    Song("x.mp3", Mp3("new"));
    Song("Live.at.Home.mp3", Mp3("live"));
    for (const char* taken : {"lib/x.mp3", "lib/x(1).mp3", "lib/Live.at.Home.mp3"}) WriteHostFile(machine.HostC(taken), "old");
    EXPECT_EQ((Seq{"BEGIN_COPY_MULTI_FILES 2",
                   "BEGIN_COPY_ONE_OF_MULTI_FILES(Live.at.Home.mp3|lib\\Live(1).at.Home.mp3)",
                   "END_COPY_ONE_OF_MULTI_FILES(Live.at.Home.mp3|lib\\Live(1).at.Home.mp3):50",
                   "BEGIN_COPY_ONE_OF_MULTI_FILES(x.mp3|lib\\x(2).mp3)", "END_COPY_ONE_OF_MULTI_FILES(x.mp3|lib\\x(2).mp3):100",
                   "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Copy({"C:\\music"}));
    for (const char* taken : {"lib/x.mp3", "lib/x(1).mp3", "lib/Live.at.Home.mp3"}) EXPECT_EQ("old", ReadHostFile(machine.HostC(taken)));
}

TEST_F(CopyTest, LegalFileNames) {
    for (auto [in, out] : std::vector<std::pair<std::string, std::string>>{
             {"AC/DC", "AC DC"}, {"T.N.T.", "T.N.T"}, {"...", "未知"}, {"\\/:*?\"<>|", "未知"}, {"two\r\nlines", "twolines"},
             {"  .hidden. ", ".hidden."} /* blanks first: the dots are not at the ends */, {"", "未知"}, {"晴天", "晴天"}, {"a:b", "a b"},
             {"..a..", "a"}})
        EXPECT_STREQ(Gbk(out), CFileOperateThreadBase::MakeLegalFileName(Gbk(in))) << in;
    // A backslash byte that is the second byte of a double-byte character is part of that character.
    CString trail("\x95\x5C" "x");
    EXPECT_STREQ(trail, CFileOperateThreadBase::MakeLegalFileName(trail));
}

TEST_F(CopyTest, ProbingANameLeavesTheUsersTempFilesAloneAndConcurrentProbesAgree) {
    char temp[MAX_PATH] = {};
    std::string host;
    ASSERT_TRUE(GetTempPathA(MAX_PATH, temp) && MxWindowsPathToHost(temp, host));
    WriteHostFile(host + "/Song", "keep");
    std::atomic<int> refused{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&refused] {
            for (int i = 0; i < 250; ++i) refused += CFileOperateThreadBase::MakeLegalFileName("Song") != "Song";
        });
    }
    for (std::thread& w : workers) w.join();
    EXPECT_EQ(0, refused.load());
    EXPECT_EQ("keep", ReadHostFile(host + "/Song"));
    EXPECT_EQ("Song\n", RunCommand("ls -A '" + host + "'"));  // no probe is left behind
}

TEST_F(CopyTest, AWalkThroughALinkLoopOrAFolderGivenTwiceCopiesEachFileOnce) {
    Song("a.mp3", Mp3("a"));
    std::filesystem::create_directory_symlink(machine.HostC("music"), machine.HostC("music/loop"));
    RunCommand("mkdir -p '" + machine.HostC("lib") + "'");
    std::filesystem::create_symlink(machine.HostC("nowhere"), machine.HostC("lib/a.mp3"));  // a dangling link holds the name
    EXPECT_EQ((Seq{"BEGIN_COPY_MULTI_FILES 1", "BEGIN_COPY_ONE_OF_MULTI_FILES(a.mp3|lib\\a.mp3)",
                   "FILEOPERATE_ERROR(a.mp3|lib\\a.mp3)#" + std::to_string(int(FOR_COPY_FAILED)),
                   "END_COPY_ONE_OF_MULTI_FILES(a.mp3|lib\\a.mp3):100", "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Copy({"C:\\music", "C:\\music\\loop"}));
}

// A copy keeps the file's own name, which needs a dot after the last backslash; the tag rule names by
// artist and title (preferred texts: DownloadsJoinTheLibraryUnderTheTagRuleReplacingTheirAddressRecord).
TEST_F(CopyTest, DestinationNamesFollowTheOwnNameOrTheTagRule) {
    CFileOperateAddMultiFilePathThread t;
    t.m_strDestDirectory = "C:\\lib";
    EXPECT_STREQ("C:\\lib\\a.b.mp3", t.MakeOwnDestFileName("C:\\x.y\\a.b.mp3"));
    EXPECT_STREQ("", t.MakeOwnDestFileName("C:\\x.y\\noext"));
    EXPECT_STREQ("", t.MakeOwnDestFileName("nobackslash.mp3"));
    CString source = Song("any.mp3", Mp3("t"));
    AUDIOFILEINFO info;
    info.strTitle = "T.N.T.";
    info.strArtist = "AC/DC";
    EXPECT_STREQ("C:\\lib\\AC DC-T.N.T.mp3", t.MakeDestFileName(source, &info, nullptr));
    SETTINGINFO* s = CSettingManager::Instance()->GetCurrentSetting();
    s->SaveSongByArtist = 1;
    EXPECT_STREQ("C:\\lib\\AC DC\\AC DC-T.N.T.mp3", t.MakeDestFileName(source, &info, nullptr));
    WriteHostFile(machine.HostC("lib/AC DC/AC DC-T.N.T.mp3"), "taken");
    EXPECT_STREQ("C:\\lib\\AC DC\\AC DC-T.N.T1.mp3", t.MakeDestFileName(source, &info, nullptr));
    s->SaveSongByArtist = 0;
    EXPECT_STREQ("", t.MakeDestFileName(source, nullptr, nullptr));
    t.m_strDestDirectory = "";
    EXPECT_STREQ("", t.MakeOwnDestFileName("C:\\a.mp3"));
}

TEST_F(CopyTest, PreconditionsAndTooLittleSpace) {
    EXPECT_EQ((Seq{"FILEOPERATE_ERROR()#5", "THREAD_EXIT"}), Copy({"C:\\music\\none.mp3"}));
    Song("empty.mp3", "");
    EXPECT_EQ((Seq{"FILEOPERATE_ERROR()#7", "THREAD_EXIT"}), Copy({"C:\\music"}));
    Song("a.mp3", Mp3("a"));
    MxSetFreeSpaceOverride('C', 100);
    EXPECT_EQ((Seq{"FILEOPERATE_ERROR(|lib)#14", "THREAD_EXIT"}), Copy({"C:\\music"}));
    MxSetFreeSpaceOverride('C', ~0ull);
    EXPECT_FALSE(HostExists(machine.HostC("lib/a.mp3")));

    CFileOperateAddMultiFilePathThread inCaller;
    CStringList list;
    list.AddTail("C:\\music");
    inCaller.SetPaths(list);
    EXPECT_EQ(FOR_NO_DEST_DIRECTORY, inCaller.RunInCaller());
    inCaller.m_strDestDirectory = "C:\\lib";
    EXPECT_EQ(0, inCaller.RunInCaller());
    EXPECT_TRUE(HostExists(machine.HostC("lib/a.mp3")));
}

TEST_F(CopyTest, FailedFilesAreReportedAndStillCountTowardsThePercentage) {
    Song("a.mp3", Mp3("a"));
    WriteHostFile(machine.HostC("lib"), "a file where the folder should be");
    EXPECT_EQ((Seq{"BEGIN_COPY_MULTI_FILES 1", "BEGIN_COPY_ONE_OF_MULTI_FILES(a.mp3|lib\\a.mp3)",
                   "FILEOPERATE_ERROR(a.mp3|lib\\a.mp3)#21", "END_COPY_ONE_OF_MULTI_FILES(a.mp3|lib\\a.mp3):100",
                   "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Copy({"C:\\music"}));
    // A destination without a drive letter is not space-tested; its folder cannot be made.
    manager.SetFileOperateDestDirectory("\\\\server\\share");
    EXPECT_EQ((Seq{"BEGIN_COPY_MULTI_FILES 1", "FILEOPERATE_ERROR(a.mp3|\\\\server\\share\\a.mp3)#20", "END_COPY_MULTI_FILES",
                   "THREAD_EXIT"}),
              Copy({"C:\\music"}));
}

TEST_F(CopyTest, DownloadsJoinTheLibraryUnderTheTagRuleReplacingTheirAddressRecord) {
    ASSERT_NE(0, CDownloadAVFile::Instance()->InitMira());
    ASSERT_EQ(1, CFileOperateManager::AddURLToDB("http://h/x.mp3"));
    const std::string unknown = "\xCE\xB4\xD6\xAA";  // 未知
    const Seq added = {"DOWNLOAD_NEW_AUDIO_INFO(k|%T|%A)", "BEGIN_COPY_SINGLE_FILE(%N|lib\\%L)", "END_COPY_SINGLE_FILE(%N|lib\\%L)", "THREAD_EXIT"};
    struct Case {
        std::string name, bytes, title, artist, recordKey;
        std::string library, song;  // the copy's name and title ("" when none is made)
        Seq sequence;
    } cases[] = {
        {"a.mp3", Mp3("FileTitle", "FileArtist"), " T ", "A", "http://h/x.mp3", "A-T.mp3", "T", added},
        {"again.mp3", Mp3("FileTitle", "FileArtist"), "T", "A", "", "A-T1.mp3", "T", added},
        {"u.mp3", Mp3("FileTitle", "FileArtist"), unknown, "B", "", "B-FileTitle.mp3", "FileTitle", added},
        {"clean.mp3", Mp3("What? Now", "FileArtist"), "What  Now", "A", "", "A-What  Now.mp3", "What? Now", added},  // as searches clean it
        {"video.mp3", "not audio", "T", "A", "", "", "", {"FILEOPERATE_ERROR(video.mp3)#13", "THREAD_EXIT"}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::string& line : c.sequence)
            for (auto [key, value] : {std::pair<std::string, std::string>{"%T", c.song}, {"%A", c.artist}, {"%N", c.name}, {"%L", c.library}})
                for (size_t at; (at = line.find(key)) != std::string::npos;) line.replace(at, 2, value);
        AUDIOFILEINFO preferred;
        preferred.strTitle = c.title.c_str();
        preferred.strArtist = c.artist.c_str();
        int id = manager.AsynAddDownloadFile(Song(c.name, c.bytes), &preferred, sink.GetHwnd(), "k", c.recordKey.c_str());
        ASSERT_TRUE(sink.PumpUntilExit(id, kPatience));
        EXPECT_EQ(c.sequence, Described(id));
        if (c.library.empty()) continue;
        CString path = ("C:\\lib\\" + c.library).c_str();
        EXPECT_EQ(c.song, Record(path).Song.str());
        CAudioFileParse parser;
        AUDIOFILEINFO tags;
        ASSERT_TRUE(parser.ParseAudioFile(path, &tags, 0, 0, ""));
        EXPECT_EQ(c.song, tags.strTitle.str());  // the tags were written, an unknown title never
    }
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName("http://h/x.mp3"));
    // The share companion follows each file to its copy in the library.
    EXPECT_NE("", RunCommand("grep -lx 'C:.lib.B-FileTitle.mp3' '" + machine.HostC("users/tester/AppData/Roaming/Tamborinebox/shareid3") + "'/*.rec"));
}

}  // namespace
}  // namespace mxtest
