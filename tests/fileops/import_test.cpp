// The import worker: the message sequences of the quota cases and the error reports, and the records
// it leaves in the library.
#include <gtest/gtest.h>

#include <filesystem>

#include "fileops/FileOpsFixture.h"
#include "MxModule/fileops/FileOperateImportMultiFilePathThread.h"

namespace mxtest {
namespace {

class ImportTest : public FileOpsTest {};

struct QuotaCase {
    const char* name;
    int files;
    int quota;
    Seq expected;
};

class QuotaTest : public ImportTest, public ::testing::WithParamInterface<QuotaCase> {};

TEST_P(QuotaTest, ReportsAndRecordsFollowTheQuota) {
    const QuotaCase& c = GetParam();
    for (int i = 0; i < c.files; ++i) Song("s" + std::to_string(i) + ".mp3", Mp3("Title " + std::to_string(i)));
    EXPECT_EQ(c.expected, Import({"C:\\music"}, c.quota));
    int analysed = std::min(c.files, c.quota);
    for (int i = 0; i < c.files; ++i) {
        CString path;
        path.Format("C:\\music\\s%d.mp3", i);
        DBRECORD r = Record(path);
        EXPECT_STREQ("mp3", r.Type);
        EXPECT_STREQ(std::to_string(ReadHostFile(machine.HostC("music/s" + std::to_string(i) + ".mp3")).size()).c_str(),
                     r.FileLength);
        EXPECT_STREQ("3", r.Opinion);
        EXPECT_STREQ("1", r.CanPlay);
        if (i < analysed) {
            EXPECT_STREQ("1", r.Analyzed) << i;
            EXPECT_STREQ(("Title " + std::to_string(i)).c_str(), r.Song);  // the other fields: AnalysisTest
        } else {
            EXPECT_STREQ("0", r.Analyzed) << i;
            EXPECT_STREQ(mxlib::kUnknown, r.Song);  // the tags were not read
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Import, QuotaTest,
    ::testing::Values(
        QuotaCase{"QuotaZeroRegistersEveryFileQuickly", 3, 0,
                  {"END_COPY_NOT_ANALYZED_MULTI_FILES[s0.mp3,s1.mp3,s2.mp3]", "END_COPY_MULTI_FILES", "THREAD_EXIT"}},
        QuotaCase{"QuotaAboveTheFileCountAnalysesAllAtTheEnd", 3, 5,
                  {"BEGIN_COPY_MULTI_FILES 3", "END_COPY_ANALYZED_MULTI_FILES[s0.mp3,s1.mp3,s2.mp3]",
                   "END_COPY_NOT_ANALYZED_MULTI_FILES[]", "END_COPY_MULTI_FILES", "THREAD_EXIT"}},
        QuotaCase{"QuotaReachedAnalysesAtOnceThenRegistersQuickly", 5, 2,
                  {"BEGIN_COPY_MULTI_FILES 2", "END_COPY_ANALYZED_MULTI_FILES[s0.mp3,s1.mp3]",
                   "END_COPY_NOT_ANALYZED_MULTI_FILES[s2.mp3,s3.mp3,s4.mp3]", "END_COPY_MULTI_FILES", "THREAD_EXIT"}},
        QuotaCase{"ANegativeQuotaCountsAsZero", 2, -1,
                  {"END_COPY_NOT_ANALYZED_MULTI_FILES[s0.mp3,s1.mp3]", "END_COPY_MULTI_FILES", "THREAD_EXIT"}},
        QuotaCase{"AnEmptyFolderStillEndsWithTheEmptyList", 0, 3,
                  {"END_COPY_NOT_ANALYZED_MULTI_FILES[]", "END_COPY_MULTI_FILES", "THREAD_EXIT"}}),
    [](const ::testing::TestParamInfo<QuotaCase>& p) { return std::string(p.param.name); });

TEST_F(ImportTest, FilesComeBeforeFoldersAndFoldersAreWalkedDepthFirst) {
    Song("b/z.mp3", Mp3("z"));
    Song("b/a/y.mp3", Mp3("y"));
    Song("c.mp3", Mp3("c"));
    Song("b/x.mp3", Mp3("x"));
    EXPECT_EQ((Seq{"END_COPY_NOT_ANALYZED_MULTI_FILES[c.mp3,b\\a\\y.mp3,b\\x.mp3,b\\z.mp3]", "END_COPY_MULTI_FILES",
                   "THREAD_EXIT"}),
              Import({"C:\\music\\c.mp3", "C:\\music\\b\\\\"}, 0));
}

// Names code page 936 cannot hold are reported one per file; GB18030 holds them.
TEST_F(ImportTest, NamesOutsideGbkFollowTheCodePage) {
    Song("Motörhead.mp3", Mp3("m"));
    Song("음악/a.mp3", Mp3("a"));
    EXPECT_EQ((Seq{"END_COPY_NOT_ANALYZED_MULTI_FILES[" + MxUtf8ToAnsi("Motörhead.mp3,음악\\a.mp3").str() + "]",
                   "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Import({"C:\\music"}, 0));
    EXPECT_EQ(1, Db()->CheckFileImportedByFileName(MxUtf8ToAnsi("C:\\MUSIC\\MOTÖRHEAD.MP3")));
    Song("ok.mp3", Mp3("ok"));
    machine.SetCodePage("936");
    EXPECT_EQ((Seq{"FILEOPERATE_ERROR(?\?)#28", "FILEOPERATE_ERROR(Mot?rhead.mp3)#28",
                   "END_COPY_NOT_ANALYZED_MULTI_FILES[ok.mp3]", "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Import({"C:\\music"}, 0));
}

TEST_F(ImportTest, AWalkEntersEachFolderOnceWhateverLinksLeadToIt) {
    Song("a.mp3", Mp3("a"));
    Song("sub/b.mp3", Mp3("b"));
    std::filesystem::create_directory_symlink(machine.HostC("music"), machine.HostC("music/sub/up"));
    std::filesystem::create_directory_symlink(machine.HostC("music/sub"), machine.HostC("music/zz"));
    std::filesystem::create_directory_symlink(machine.HostC("music/sub"), machine.HostC("music/as"));  // met first
    EXPECT_EQ((Seq{"END_COPY_NOT_ANALYZED_MULTI_FILES[a.mp3,as\\b.mp3]", "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Import({"C:\\music"}, 0));
}

TEST_F(ImportTest, OnlyMp3AndWmaByExtensionInAnyCaseAreCandidates) {
    Song("SONG.WMA", Wma({mxtest::ContentDescription(u"w", u"a")}));
    Song("song.ogg", Mp3("ogg"));
    Song("readme.txt", "text");
    Song("noext", Mp3("x"));
    EXPECT_EQ((Seq{"END_COPY_NOT_ANALYZED_MULTI_FILES[SONG.WMA]", "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Import({"C:\\music"}, 0));
    EXPECT_STREQ("wma", Record("C:\\music\\SONG.WMA").Type);
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName("C:\\music\\song.ogg"));
}

TEST_F(ImportTest, AFileAlreadyInTheLibraryIsReportedWithItsPathTwice) {
    CString old = Song("old.mp3", Mp3("old"));
    Song("new.mp3", Mp3("new"));
    AddSong("C:\\music\\old.mp3");
    EXPECT_EQ((Seq{"FILEOPERATE_ERROR(old.mp3|old.mp3)#15", "END_COPY_NOT_ANALYZED_MULTI_FILES[new.mp3]",
                   "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Import({"C:\\music\\old.mp3", "C:\\music\\new.mp3"}, 0));
    EXPECT_STREQ(mxlib::kUnknown, Record(old).Song);  // the old record was left as it was
}

TEST_F(ImportTest, ARecordWhoseFileVanishedIsRemovedAndTheFileTreatedAsNew) {
    CFileOperateImportMultiFilePathThread worker;
    AddSong("C:\\music\\gone.mp3");
    EXPECT_STREQ("", worker.GetImportedPath("C:\\music\\gone.mp3"));
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName("C:\\music\\gone.mp3"));
    CString here = Song("here.mp3", Mp3("here"));
    AddSong("C:\\music\\here.mp3");
    EXPECT_STREQ(here, worker.GetImportedPath(here));
    EXPECT_STREQ("", worker.GetImportedPath("C:\\music\\never.mp3"));
}

TEST_F(ImportTest, PreconditionFailuresAreReportedOnTheThreadAndReturnedInTheCaller) {
    // Paths that do not exist are dropped before the thread starts.
    EXPECT_EQ((Seq{"FILEOPERATE_ERROR()#5", "THREAD_EXIT"}), Import({"C:\\nothing", "C:\\music\\none.mp3\\"}, 0));

    TestManager fresh;  // no destination directory
    Song("a.mp3", Mp3("a"));
    CStringList list;
    list.AddTail("C:\\music");
    int id = fresh.AsynAddMultiFilePaths(&list, sink.GetHwnd(), 1, 0, 0);
    ASSERT_TRUE(sink.PumpUntilExit(id, kPatience));
    EXPECT_EQ((Seq{"FILEOPERATE_ERROR()#18", "THREAD_EXIT"}), Described(id));

    CFileOperateImportMultiFilePathThread inCaller;
    inCaller.SetPaths(list);
    EXPECT_EQ(FOR_NO_DEST_DIRECTORY, inCaller.RunInCaller());
    inCaller.m_strDestDirectory = "C:\\lib";
    EXPECT_EQ(0, inCaller.RunInCaller());
    CFileOperateImportMultiFilePathThread nothing;
    nothing.m_strDestDirectory = "C:\\lib";
    EXPECT_EQ(FOR_NO_VALID_PATH, nothing.RunInCaller());
}

TEST_F(ImportTest, ProtectedAndScriptedWindowsMediaFilesInABatch) {
    Song("a.wma", Wma({mxtest::ContentDescription(u"Locked", u"x"), mxtest::ContentEncryption("DRM")}));
    Song("b.wma", Wma({mxtest::ContentDescription(u"Scripted", u"y"), mxtest::AsfObject(mxasf::kScriptCommand, std::string(20, '\0'))}));
    Song("c.mp3", Mp3("plain"));
    Song("d.mp3", "not audio at all");
    Song("e.mp3", Mp3("quick"));
    // The protected file and the unreadable one are reported, passed over and count against the quota,
    // so the batch of four ends normally and the fifth file is registered quickly.
    EXPECT_EQ((Seq{"BEGIN_COPY_MULTI_FILES 4", "FILEOPERATE_ERROR(a.wma)#25", "FILEOPERATE_ERROR(b.wma)#26",
                   "FILEOPERATE_ERROR(d.mp3)#13", "END_COPY_ANALYZED_MULTI_FILES[b.wma,c.mp3]", "END_COPY_NOT_ANALYZED_MULTI_FILES[e.mp3]",
                   "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Import({"C:\\music"}, 4));
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName("C:\\music\\a.wma"));
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName("C:\\music\\d.mp3"));
    EXPECT_STREQ("Scripted", Record("C:\\music\\b.wma").Song);
    EXPECT_STREQ("1", Record("C:\\music\\b.wma").Analyzed);
    EXPECT_STREQ("0", Record("C:\\music\\e.mp3").Analyzed);
}

TEST_F(ImportTest, AnalysisFollowsAnExtensionThatContradictsTheContent) {
    Song("real-mp3.wma", Mp3("renamed"));
    EXPECT_EQ((Seq{"BEGIN_COPY_MULTI_FILES 1", "END_COPY_ANALYZED_MULTI_FILES[real-mp3.mp3]",
                   "END_COPY_NOT_ANALYZED_MULTI_FILES[]", "END_COPY_MULTI_FILES", "THREAD_EXIT"}),
              Import({"C:\\music"}, 1));
    DBRECORD r = Record("C:\\music\\real-mp3.mp3");
    EXPECT_STREQ("renamed", r.Song);
    EXPECT_STREQ("wma", r.Type);  // the type is the extension the walk found
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName("C:\\music\\real-mp3.wma"));
}

}  // namespace
}  // namespace mxtest
