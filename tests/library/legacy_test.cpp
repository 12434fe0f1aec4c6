// The legacy Access library imported through the real ODBC path: the SQLite ODBC driver answers to the
// Access driver's name, and "LocalSearch.mdb" is an SQLite database with the AudioIndex table.
#include <sqlite3.h>

#include <string>

#include "library/LibraryFixture.h"

namespace {

class LegacyImportTest : public mxtest::FacadeTest {
protected:
    void SetUp() override {
        machine.RegisterOdbcDriver("MICROSOFT ACCESS DRIVER (*.mdb)", MX_SQLITE_ODBC);
        mxtest::RunCommand("mkdir -p '" + Host("") + "'");
    }
    // An AudioIndex table of the given rows (SQL value lists) at a host path.
    static void MakeTable(const std::string& host, const std::vector<std::string>& rows) {
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open(host.c_str(), &db));
        std::string sql =
            "CREATE TABLE AudioIndex(Idx INTEGER, FileName TEXT, Song TEXT, Artist TEXT, Album TEXT, Type TEXT, Duration INTEGER,"
            " Opinion INTEGER, FileLength INTEGER, Track TEXT, Genre INTEGER, MD5 TEXT, CanPlay INTEGER, GenreString TEXT,"
            " DownloadURL TEXT, Bitrate TEXT);";
        for (const std::string& row : rows) sql += "INSERT INTO AudioIndex VALUES(" + row + ");";
        ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr)) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    // The default playlist's entries: (position number, song ID).
    std::vector<std::pair<uint32_t, uint32_t>> DefaultList() const {
        std::string bytes = mxtest::ReadHostFile(Host("默认列表.upl"));
        std::vector<std::pair<uint32_t, uint32_t>> entries;
        for (size_t at = 0; at + 10 <= bytes.size(); at += 10) {
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
            if (p[mxlib::kEntryStateOffset] == mxlib::kEntryLive) entries.emplace_back(mxlib::GetU32(p), mxlib::GetU32(p + 4));
        }
        return entries;
    }
};

const std::vector<std::string> kRows = {
    "1, 'C:\\music\\a.mp3', '月亮', '歌手', 'Album', 'MP3', 215, 5, 4000000, '3', 17, 'ABC', 1, 'Rock', 'http://x/a', '128'",
    "2, '', 'no path', '', '', 'mp3', 0, 0, 0, '', 0, '', 1, '', '', ''",
    "3, 'D:\\a\\b.mp3', '', NULL, '', 'WMA', 100, 0, 10, '', 255, '', 1, '', '', 'vbr'",
    "4, 'c:\\MUSIC\\A.mp3', 'same file', '', '', 'mp3', 0, 0, 0, '', 0, '', 1, '', '', ''",
    "5, 'C:\\music\\c.mp3', 'c', 'x', 'y', 'mp3', 1, 2, 3, '', 0, '', 0, 'Pop', '', ''",
};

TEST_F(LegacyImportTest, ANewLibraryTakesEveryRowOnceAndTheFileGoes) {
    MakeTable(Host("LocalSearch.mdb"), kRows);
    Start();
    // Rows without a path or with a path already taken are passed over: no ID, but their position goes.
    EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {3, 2}, {5, 3}}), DefaultList());
    DBRECORD r;
    ASSERT_EQ(1, Db()->GetSongInfo("C:\\music\\a.mp3", &r));
    EXPECT_EQ(mxtest::Gbk("月亮"), r.Song);
    EXPECT_EQ(mxtest::Gbk("歌手"), r.Artist);
    EXPECT_STREQ("mp3", r.Type);
    EXPECT_STREQ("215", r.Duration);
    EXPECT_STREQ("5", r.Opinion);
    EXPECT_STREQ("17", r.Genre);
    EXPECT_STREQ("http://x/a", r.DownloadURL);
    EXPECT_STREQ("1", r.Analyzed);
    ASSERT_EQ(1, Db()->GetSongInfo("D:\\a\\b.mp3", &r));
    EXPECT_STREQ("b", r.Song);
    EXPECT_EQ(mxtest::Gbk("未知"), r.Artist);
    EXPECT_STREQ("Unknow", r.GenreString);
    EXPECT_STREQ("wma", r.Type);
    EXPECT_FALSE(mxtest::HostExists(Host("LocalSearch.mdb")));
    // Only a new library imports: one found beside a library that exists stays where it is.
    MakeTable(Host("LocalSearch.mdb"), kRows);
    Start();
    EXPECT_EQ(3u, DefaultList().size());
    EXPECT_TRUE(mxtest::HostExists(Host("LocalSearch.mdb")));
}

TEST_F(LegacyImportTest, AFileThatCannotBeReadIsSetAsideNotDeleted) {
    const std::string bytes = "Standard Jet DB, but not really";
    mxtest::WriteHostFile(Host("LocalSearch.mdb"), bytes);
    Start();
    EXPECT_FALSE(mxtest::HostExists(Host("LocalSearch.mdb")));
    EXPECT_EQ(bytes, mxtest::ReadHostFile(Host("LocalSearch.mdb.unimported")));
    EXPECT_TRUE(DefaultList().empty());
}

// An import stopped part way (a kill, a full disk) loses no row: a kill leaves ".importing", finished at
// the next open after the songs it stored; a song the library cannot store sets the file aside.
TEST_F(LegacyImportTest, AnInterruptedImportIsFinishedOrSetAsideNeverLost) {
    Start();
    AddSong("C:\\music\\a.mp3");
    ASSERT_EQ(1, Db()->AddSongInfo2Playlist(CMxPublic::GbkLiteral(mxlib::kDefaultPlaylist), "C:\\music\\a.mp3"));
    MakeTable(Host("LocalSearch.mdb.importing"), kRows);
    Start();
    EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {4, 2}, {6, 3}}), DefaultList());
    EXPECT_FALSE(mxtest::HostExists(Host("LocalSearch.mdb.importing")));

    std::vector<std::string> many;
    for (int i = 0; i < 200; ++i) many.push_back("0, 'C:\\m\\" + std::to_string(i) + ".mp3', '', '', '', 'mp3', 0, 0, 0, '', 0, '', 1, '', '', ''");
    mxtest::RunCommand("rm " + Host("LocalSearch.*"));
    mxtest::WriteHostFile(Host("LocalSearch.mdb.unimported"), "an earlier one");
    MakeTable(Host("LocalSearch.mdb"), many);
    EXPECT_EQ(0, mxtest::WithFileSizeLimit(8192, [&] { return Db()->InitLocalDataBase() ? 0 : 1; }));
    EXPECT_TRUE(mxtest::HostExists(Host("LocalSearch.mdb.unimported.2")));
    EXPECT_EQ("an earlier one", mxtest::ReadHostFile(Host("LocalSearch.mdb.unimported")));
}

TEST_F(LegacyImportTest, AnExistingLibraryGetsTheSongsItLacksAtTheEndOfTheDefaultList) {
    Start();
    AddSong("C:\\music\\c.mp3");
    ASSERT_EQ(1, Db()->AddSongInfo2Playlist(CMxPublic::GbkLiteral(mxlib::kDefaultPlaylist), "C:\\music\\c.mp3"));
    MakeTable(machine.HostC("old.mdb"), kRows);
    CString why;
    EXPECT_EQ(2, Db()->ImportLegacyDatabase("C:\\old.mdb", why));
    EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {2, 2}, {3, 3}}), DefaultList());
    EXPECT_EQ(-1, Db()->ImportLegacyDatabase("C:\\missing.mdb", why));
    EXPECT_FALSE(why.IsEmpty());
}

}  // namespace
