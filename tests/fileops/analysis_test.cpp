// Analysis of a file into its library record, the single-field updates and network addresses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "fileops/FileOpsFixture.h"

namespace mxtest {
namespace {

class AnalysisTest : public FileOpsTest {
protected:
    // A quick record, as an import with quota 0 leaves it.
    void Register(const CString& path) {
        DBRECORD r;
        r.FileName = path;
        r.Type = "mp3";
        r.Opinion = "5";
        r.MD5 = "abc";
        r.DownloadURL = "http://x/a.mp3";
        ASSERT_EQ(1, Db()->AddSongInfo(&r, 0));
    }
};

TEST_F(AnalysisTest, AnalysisRewritesTheRecordFromTheTagsAndKeepsWhatTheUserGaveIt) {
    std::string bytes = Tag(3, Frame3("TIT2", std::string(1, '\0') + "Song") + Frame3("TPE1", std::string(1, '\0') + "Singer") +
                                   Frame3("TALB", std::string(1, '\0') + "Record") + Frame3("TRCK", std::string(1, '\0') + "4") +
                                   Frame3("TCON", std::string(1, '\0') + "(17)")) +
                        Frames(Mpeg1Layer3Header128(), 417, 200);
    CString path = Song("a.mp3", bytes);
    Register(path);
    AUDIOFILEINFO info;
    EXPECT_EQ(FOR_SUCCESS, CFileOperateManager::AnalyzingFile(path, &info));
    EXPECT_STREQ("Song", info.strTitle);
    DBRECORD r = Record(path);
    const std::string length = std::to_string(bytes.size());
    struct {
        const char* field;
        const CString& value;
        const char* expected;
    } rows[] = {
        {"FileName", r.FileName, "C:\\music\\a.mp3"}, {"Song", r.Song, "Song"},
        {"Artist", r.Artist, "Singer"},               {"Album", r.Album, "Record"},
        {"Type", r.Type, "mp3"},                      {"Duration", r.Duration, "5"},
        {"Opinion", r.Opinion, "5"},                  {"FileLength", r.FileLength, length.c_str()},
        {"Track", r.Track, "4"},                      {"Genre", r.Genre, "17"},
        {"MD5", r.MD5, " "},                          {"CanPlay", r.CanPlay, "1"},
        {"GenreString", r.GenreString, "Rock"},       {"DownloadURL", r.DownloadURL, "http://x/a.mp3"},
        {"Bitrate", r.Bitrate, "128"},                {"Analyzed", r.Analyzed, "1"},
    };
    for (const auto& row : rows) EXPECT_STREQ(row.expected, row.value) << row.field;
    EXPECT_EQ(1, CFileOperateManager::IsFileAnalyzed(path));
}

// A library song reads as on its first import: ID3v1 fills the gaps, the library's defaults the rest.
TEST_F(AnalysisTest, ALibrarySongTakesItsId3v1TextAndTheDefaults) {
    const std::string audio = Frames(Mpeg1Layer3Header128(), 417, 10);
    struct {
        std::string bytes;
        const char *song, *artist, *album;
    } rows[] = {{audio + Id3v1("v1 title", "v1 artist", 1, 1), "v1 title", "v1 artist", mxlib::kUnknown},
                {audio, "bare", mxlib::kUnknown, mxlib::kUnknown}};
    for (const auto& row : rows) {
        CString path = Song("bare.mp3", row.bytes);
        Db()->DeleteSongInfo("", path);
        Register(path);
        for (int pass = 0; pass < 2; ++pass) {  // the second pass meets an analysed record
            ASSERT_EQ(FOR_SUCCESS, CFileOperateManager::AnalyzingFile(path, nullptr));
            DBRECORD r = Record(path);
            EXPECT_STREQ(row.song, r.Song) << pass;
            EXPECT_STREQ(row.artist, r.Artist) << pass;
            EXPECT_STREQ(row.album, r.Album) << pass;
        }
    }
}

TEST_F(AnalysisTest, AFileOutsideTheLibraryIsNotAddedAndTheCallersRecordIsUntouched) {
    CString path = Song("a.mp3", Mp3("Song"));
    AUDIOFILEINFO info;
    info.strTitle = "keep";
    EXPECT_EQ(FOR_DB_WRITE_FAILED, CFileOperateManager::AnalyzingFile(path, &info));
    EXPECT_STREQ("keep", info.strTitle);
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName(path));
    EXPECT_EQ(0, CFileOperateManager::IsFileAnalyzed(path));
}

TEST_F(AnalysisTest, ASongThatCannotBeReadOrIsProtectedIsReportedAndKeepsItsRecord) {
    CString noise = Song("noise.mp3", std::string(3000, 'x'));
    CString locked = Song("locked.wma", Wma({mxtest::ContentDescription(u"Locked", u"x"), mxtest::ContentEncryption("DRM")}));
    struct {
        CString path;
        FileOperateResultCode code;
    } rows[] = {{noise, FOR_NOT_AUDIO}, {"C:\\music\\gone.mp3", FOR_FILE_NOT_FOUND}, {locked, FOR_DRM_PROTECTED}};
    for (const auto& row : rows) {
        Register(row.path);
        AUDIOFILEINFO info;
        info.strTitle = "keep";
        EXPECT_EQ(row.code, CFileOperateManager::AnalyzingFile(row.path, &info)) << row.path;
        EXPECT_STREQ("keep", info.strTitle);
        DBRECORD r = Record(row.path);
        EXPECT_STREQ("0", r.Analyzed) << row.path;
        EXPECT_STREQ("5", r.Opinion) << row.path;
        EXPECT_STREQ("abc", r.MD5) << row.path;
    }
    // A song the user may not read; the check runs without root's rights, as a user would.
    CString secret = Song("secret.mp3", Mp3("secret"));
    Register(secret);
    chmod(machine.HostC("music/secret.mp3").c_str(), 0200);  // not even its owner may read it
    EXPECT_EQ(FOR_READ_FAILED, RunAsOtherUser(machine, [&] { return int(CFileOperateManager::AnalyzingFile(secret, nullptr)); }));
    EXPECT_STREQ("0", Record(secret).Analyzed);
}

TEST_F(AnalysisTest, ARenamedFileMovesItsRecordToTheNewPath) {
    CString path = Song("wrong.wma", Mp3("Moved"));
    Register(path);
    EXPECT_EQ(FOR_SUCCESS, CFileOperateManager::AnalyzingFile(path, nullptr));
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName(path));
    DBRECORD r = Record("C:\\music\\wrong.mp3");
    EXPECT_STREQ("Moved", r.Song);
    EXPECT_STREQ("mp3", r.Type);
    EXPECT_TRUE(HostExists(machine.HostC("music/wrong.mp3")));
}

TEST_F(AnalysisTest, SingleFieldUpdatesTouchOnlyTheirField) {
    CString path = Song("a.mp3", Mp3("Song"));
    Register(path);
    struct {
        const char* name;
        int result;
        CString DBRECORD::*field;
        const char* expected;
    } rows[] = {
        {"duration", CFileOperateManager::UpdateDuration(path, 4294967295UL), &DBRECORD::Duration, "-1"},
        {"opinion", CFileOperateManager::UpdateOpinion(path, 1), &DBRECORD::Opinion, "1"},
        {"md5", CFileOperateManager::UpdateMD5(path, "0123456789abcdef0123456789abcdef"), &DBRECORD::MD5,
         "0123456789abcdef0123456789abcdef"},
        {"can play", CFileOperateManager::UpdateCanPlay(path, 0), &DBRECORD::CanPlay, "0"},
    };
    DBRECORD r = Record(path);
    for (const auto& row : rows) {
        EXPECT_EQ(1, row.result) << row.name;
        EXPECT_STREQ(row.expected, r.*row.field) << row.name;
    }
    EXPECT_STREQ(mxlib::kUnknown, r.Song);
    EXPECT_STREQ("mp3", r.Type);
    EXPECT_EQ(0, CFileOperateManager::UpdateOpinion("C:\\music\\none.mp3", 2));
}

TEST_F(AnalysisTest, NetworkAddressesBecomeUnanalysedSongs) {
    const char* withExt = "http://host.invalid/music/Song.MP3";
    const char* withoutExt = "http://host.invalid/stream";
    EXPECT_EQ(1, CFileOperateManager::AddURLToDB(withExt));
    EXPECT_EQ(1, CFileOperateManager::AddURLToDB(withoutExt));
    DBRECORD r = Record(withExt);
    EXPECT_STREQ(withExt, r.Song);
    EXPECT_STREQ(mxlib::kUnknown, r.Artist);
    EXPECT_STREQ(mxlib::kUnknown, r.Album);
    EXPECT_STREQ("mp3", r.Type);
    EXPECT_STREQ("0", r.Analyzed);
    EXPECT_STREQ(" ", Record(withoutExt).Type);  // "invalid/stream" is not an extension
}

}  // namespace
}  // namespace mxtest
