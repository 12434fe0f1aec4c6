#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "library/LibraryFixture.h"

namespace {

using mxlib::SlackFor;
using mxtest::LibraryTest;
using mxtest::ReadHostFile;

const uint32_t kBlock128 = 14 + 128;  // a block of the smallest capacity, header included

std::vector<std::string> Paths(const DBRECORDLIST& list) {
    std::vector<std::string> out;
    for (POSITION pos = list.GetHeadPosition(); pos;) out.push_back(list.GetNext(pos).FileName.str());
    return out;
}

class DBCoreTest : public LibraryTest {};

TEST_F(DBCoreTest, NewLibraryIsTheBareHeaderInBothFiles) {
    Open();
    const std::string expected("\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 24);
    EXPECT_EQ(expected, MainBytes());
    EXPECT_EQ(expected, MirrorBytes());
}

TEST_F(DBCoreTest, AddedRecordIsOneBlockOfCountedFields) {
    auto core = Open();
    DBRECORD r = Rec("C:\\Music\\a.mp3", "Song", "Artist", "Album", "1234");
    ASSERT_EQ(1, core->AddRecord(&r));
    std::string bytes = MainBytes();
    EXPECT_EQ(bytes, MirrorBytes());
    // Fields: path 14, "Song" 4, "Artist" 6, "Album" 5, " " 1, "0" 1, "3" 1, "1234" 4, " ", "0", " ", "1",
    // "Unknow" 6, " ", "0", "0", " ", " ", "0": 52 bytes of text and 19 counts, a payload of exactly 128
    // bytes, which takes a block of 256.
    const uint32_t L = 76 + 52;
    ASSERT_EQ(24u + 14 + 256, bytes.size());
    EXPECT_EQ(1u, U32(bytes, 24));
    EXPECT_EQ(L, U32(bytes, 28));
    EXPECT_EQ(128u, U32(bytes, 32));
    EXPECT_EQ(std::string("\x00\x00", 2), bytes.substr(36, 2));
    EXPECT_EQ(14u, U32(bytes, 38));
    EXPECT_EQ("C:\\Music\\a.mp3", bytes.substr(42, 14));
    EXPECT_EQ(4u, U32(bytes, 56));
    EXPECT_EQ("Song", bytes.substr(60, 4));
    EXPECT_EQ(std::string(128, '\0'), bytes.substr(24 + 14 + L));  // fresh slack is zero
}

TEST_F(DBCoreTest, SlackRoundsBlocksToPowersOfTwo) {
    const std::vector<std::pair<uint32_t, uint32_t>> table = {
        {76, 52}, {127, 1}, {128, 128}, {129, 127}, {200, 56}, {32767, 1}, {32768, 32768}, {40000, 40000}};
    for (const auto& row : table) EXPECT_EQ(row.second, SlackFor(row.first)) << row.first;
    auto core = Open();
    // "C:\\x.mp3" with defaults is 76 + 37 bytes when Extra1 is one byte long.
    for (uint32_t target : {127u, 128u}) {
        DBRECORD r = Rec(target == 127 ? "C:\\x.mp3" : "C:\\y.mp3");
        r.Extra1 = CString(std::string(target - 112, 'e'));
        ASSERT_EQ(1, core->AddRecord(&r));
    }
    std::string bytes = MainBytes();
    EXPECT_EQ(127u, U32(bytes, 24 + 4));
    EXPECT_EQ(1u, U32(bytes, 24 + 8));
    EXPECT_EQ(128u, U32(bytes, 24 + kBlock128 + 4));
    EXPECT_EQ(128u, U32(bytes, 24 + kBlock128 + 8));
    EXPECT_EQ(24u + kBlock128 + 14 + 256, bytes.size());
}

TEST_F(DBCoreTest, EmptyTitleComesFromTheFileName) {
    auto core = Open();
    DBRECORD a = Rec("D:\\mp3\\abc.def.mp3"), b = Rec("abc");
    ASSERT_EQ(1, core->AddRecord(&a));
    ASSERT_EQ(1, core->AddRecord(&b));
    DBRECORD out;
    ASSERT_EQ(1, core->GetRecord("d:\\MP3\\ABC.DEF.mp3", &out));
    EXPECT_STREQ("abc.def", out.Song);
    EXPECT_STREQ(mxlib::kUnknown, out.Artist);
    EXPECT_STREQ("Unknow", out.GenreString);
    ASSERT_EQ(1, core->GetRecord("ABC", &out));
    EXPECT_STREQ("abc", out.Song);
}

TEST_F(DBCoreTest, SamePathInAnotherCaseIsRefused) {
    auto core = Open();
    DBRECORD a = Rec("C:\\Music\\Song.mp3"), b = Rec("c:\\music\\SONG.MP3"), empty = Rec("");
    EXPECT_EQ(1, core->AddRecord(&a));
    EXPECT_EQ(0, core->AddRecord(&b));
    EXPECT_EQ(0, core->AddRecord(&empty));
    EXPECT_EQ(1, core->IsImportedByFileName("C:\\MUSIC\\song.mp3"));
    int id = 0;
    EXPECT_EQ(1, core->GetRecordId("c:\\music\\song.mp3", &id));
    EXPECT_EQ(1, id);
}

TEST_F(DBCoreTest, TypeComesBackInLowerCase) {
    auto core = Open();
    DBRECORD r = Rec("C:\\a.MP3");
    r.Type = "MP3";
    ASSERT_EQ(1, core->AddRecord(&r));
    DBRECORD out;
    ASSERT_EQ(1, core->GetRecord("C:\\a.MP3", &out));
    EXPECT_STREQ("mp3", out.Type);
    EXPECT_EQ(std::string::npos, MainBytes().find("mp3\x01"));  // stored as given
}

TEST_F(DBCoreTest, UpdatingTheRatingKeepsTheBlock) {
    auto core = Open();
    DBRECORD r = Rec("C:\\a.mp3", "t");
    ASSERT_EQ(1, core->AddRecord(&r));
    size_t size = MainBytes().size();
    DBRECORD change;
    change.Opinion = "5";
    ASSERT_EQ(1, core->UpdateRecord("C:\\A.MP3", &change, 0x40));
    EXPECT_EQ(size, MainBytes().size());
    DBRECORD out;
    ASSERT_EQ(1, core->GetRecord("C:\\a.mp3", &out));
    EXPECT_STREQ("5", out.Opinion);
    EXPECT_STREQ("t", out.Song);
    EXPECT_EQ(MainBytes(), MirrorBytes());
}

TEST_F(DBCoreTest, GrowingRecordMovesAndItsOldBlockIsReused) {
    auto core = Open();
    DBRECORD a = Rec("C:\\a.mp3"), b = Rec("C:\\b.mp3");
    ASSERT_EQ(1, core->AddRecord(&a));
    ASSERT_EQ(1, core->AddRecord(&b));
    DBRECORD grow;
    grow.Extra1 = CString(std::string(300, 'x'));
    ASSERT_EQ(1, core->UpdateRecord("C:\\a.mp3", &grow, 1u << 16));
    std::string bytes = MainBytes();
    EXPECT_EQ(std::string("\xFF\x00", 2), bytes.substr(24 + 12, 2));  // the first block is free now
    int id = 0;
    core->GetRecordId("C:\\a.mp3", &id);
    EXPECT_EQ(1, id);
    EXPECT_EQ(24u + 2 * kBlock128 + 14 + 512, bytes.size());
    DBRECORD c = Rec("C:\\c.mp3");
    ASSERT_EQ(1, core->AddRecord(&c));
    EXPECT_EQ(bytes.size(), MainBytes().size());
    EXPECT_EQ(3u, U32(MainBytes(), 24));  // the new song took the freed block
    DBRECORD out;
    ASSERT_EQ(1, core->GetRecord("C:\\a.mp3", &out));
    EXPECT_EQ(300, out.Extra1.GetLength());
}

TEST_F(DBCoreTest, DeletingTheLastBlockShortensBothFilesAndIdsContinue) {
    auto core = Open();
    for (const char* p : {"C:\\1.mp3", "C:\\2.mp3", "C:\\3.mp3"}) {
        DBRECORD r = Rec(p);
        ASSERT_EQ(1, core->AddRecord(&r));
    }
    ASSERT_EQ(1, core->DeleteRecord("C:\\2.mp3"));
    EXPECT_EQ(24u + 3 * kBlock128, MainBytes().size());
    ASSERT_EQ(1, core->DeleteRecord("C:\\3.MP3"));
    EXPECT_EQ(24u + kBlock128, MainBytes().size());  // the free block before it went too
    EXPECT_EQ(MainBytes(), MirrorBytes());
    EXPECT_EQ(1, core->GetHighestId());
    DBRECORD r = Rec("C:\\4.mp3");
    ASSERT_EQ(1, core->AddRecord(&r));
    int id = 0;
    core->GetRecordId("C:\\4.mp3", &id);
    EXPECT_EQ(2, id);
    EXPECT_EQ(0, core->DeleteRecord("C:\\none.mp3"));
    EXPECT_EQ(0, core->DeleteRecordById(99));
    EXPECT_EQ(1, core->DeleteRecordById(2));
}

TEST_F(DBCoreTest, RecordsAndIdsSurviveARestart) {
    {
        auto core = Open();
        for (const char* p : {"C:\\1.mp3", "C:\\2.mp3", "C:\\3.mp3"}) {
            DBRECORD r = Rec(p, "s", mxtest::Gbk("歌手").str().c_str());
            ASSERT_EQ(1, core->AddRecord(&r));
        }
        core->DeleteRecord("C:\\2.mp3");
    }
    auto core = Open();
    EXPECT_EQ(2, core->GetRecordCount());
    EXPECT_EQ(3, core->GetHighestId());
    DBRECORD out;
    ASSERT_EQ(1, core->GetRecord("C:\\3.mp3", &out));
    EXPECT_EQ(mxtest::Gbk("歌手"), out.Artist);
    DBRECORD r = Rec("C:\\5.mp3");
    ASSERT_EQ(1, core->AddRecord(&r));
    int id = 0;
    core->GetRecordId("C:\\5.mp3", &id);
    EXPECT_EQ(4, id);
    EXPECT_EQ(24u + 3 * kBlock128, MainBytes().size());  // the freed block was reused
}

struct SearchCase {
    int limit, mode;
    std::vector<std::string> expected;
};

TEST_F(DBCoreTest, SearchOverIdsFollowsLimitAndMode) {
    auto core = Open();
    for (const char* p : {"C:\\a1.mp3", "C:\\b.mp3", "C:\\a2.mp3", "C:\\a3.mp3", "C:\\a4.mp3"}) {
        DBRECORD r = Rec(p);
        ASSERT_EQ(1, core->AddRecord(&r));
    }
    CList<int, int> ids;
    for (int id : {5, 4, 3, 2, 1, 42}) ids.AddTail(id);
    CList<CString, CString> words;
    words.AddTail(CString("A"));
    const std::vector<SearchCase> cases = {
        {2, 1, {"C:\\a4.mp3", "C:\\a3.mp3"}},
        {2, 0, {"C:\\a2.mp3", "C:\\a1.mp3"}},
        {0, 1, {}},
        {-1, 1, {"C:\\a4.mp3", "C:\\a3.mp3", "C:\\a2.mp3", "C:\\a1.mp3"}},
        {9, 1, {"C:\\a4.mp3", "C:\\a3.mp3", "C:\\a2.mp3", "C:\\a1.mp3"}},
    };
    for (const SearchCase& c : cases) {
        DBRECORDLIST results;
        results.AddTail(Rec("stale"));
        EXPECT_EQ(1, core->Search(&ids, &words, results, c.limit, c.mode));
        EXPECT_EQ(c.expected, Paths(results)) << c.limit << "," << c.mode;
    }
    DBRECORDLIST all;
    core->Search(nullptr, nullptr, all, 0, 0);
    EXPECT_EQ((std::vector<std::string>{"C:\\a1.mp3", "C:\\b.mp3", "C:\\a2.mp3", "C:\\a3.mp3", "C:\\a4.mp3"}), Paths(all));
}

TEST_F(DBCoreTest, KeywordsMustEachOccurInTitleArtistAlbumOrType) {
    auto core = Open();
    DBRECORD hit = Rec("C:\\1.mp3", "t", "xAByz", "al"), miss = Rec("C:\\2.mp3", "t", "x", "al");
    miss.Track = "ab";
    DBRECORD both = Rec("C:\\3.mp3", "Ab", "x", "CD");
    core->AddRecord(&hit);
    core->AddRecord(&miss);
    core->AddRecord(&both);
    CList<CString, CString> words;
    words.AddTail(CString("ab"));
    words.AddTail(CString(""));
    DBRECORDLIST results;
    core->Search(nullptr, &words, results, -1, 1);
    EXPECT_EQ((std::vector<std::string>{"C:\\1.mp3", "C:\\3.mp3"}), Paths(results));
    words.AddTail(CString("cd"));
    core->Search(nullptr, &words, results, -1, 1);
    EXPECT_EQ((std::vector<std::string>{"C:\\3.mp3"}), Paths(results));
}

TEST_F(DBCoreTest, KeywordsIgnoreUnicodeCaseAndMatchWholeCharacters) {
    auto core = Open();
    const char* titles[] = {"Кино", "ţÀ", "Smile 😘", "음악", "ＡＢＣ"};  // "ţÀ" hides the bytes of "😘"
    for (int i = 0; i < 5; ++i) {
        DBRECORD r = Rec(("C:\\" + std::to_string(i) + ".mp3").c_str(), MxUtf8ToAnsi(titles[i]), "x", "al");
        core->AddRecord(&r);
    }
    struct Row {
        const char* keyword;
        std::vector<std::string> expected;
    };
    for (const Row& row : std::vector<Row>{{"кино", {"C:\\0.mp3"}}, {"😘", {"C:\\2.mp3"}}, {"ａｂｃ", {"C:\\4.mp3"}}, {"음", {"C:\\3.mp3"}}}) {
        CList<CString, CString> words;
        words.AddTail(MxUtf8ToAnsi(row.keyword));
        DBRECORDLIST results;
        core->Search(nullptr, &words, results, -1, 1);
        EXPECT_EQ(row.expected, Paths(results)) << row.keyword;
    }
}

TEST_F(DBCoreTest, PathsDifferingInUnicodeCaseAreOneSong) {
    auto core = Open();
    const char* pairs[][2] = {{"C:\\Кино.mp3", "C:\\кино.MP3"}, {"C:\\Άλφα.mp3", "C:\\άλφα.MP3"}};
    for (const auto& pair : pairs) {
        DBRECORD r = Rec(MxUtf8ToAnsi(pair[0])), other = Rec(MxUtf8ToAnsi(pair[1]));
        EXPECT_EQ(1, core->AddRecord(&r)) << pair[0];
        EXPECT_EQ(0, core->AddRecord(&other)) << pair[1];
        EXPECT_EQ(1, core->IsImportedByFileName(MxUtf8ToAnsi(pair[1]))) << pair[1];
    }
}

TEST_F(DBCoreTest, SongKeyIndexKnowsOnlyRecordsItHasMet) {
    {
        auto core = Open();
        DBRECORD r = Rec("C:\\Dir\\A.mp3", "S", "Ar", "Al", "100");
        r.Analyzed = "1";
        ASSERT_EQ(1, core->AddRecord(&r));
        CString path;
        EXPECT_EQ(1, core->IsImportedBySongKey("S", "Ar", "Al", 100, path));
        EXPECT_STREQ("c:\\dir\\a.mp3", path);
        EXPECT_EQ(0, core->IsImportedBySongKey("s", "Ar", "Al", 100, path));  // exact, case-sensitive
        EXPECT_EQ(1, core->IsAnalyzed("C:\\dir\\a.mp3"));
    }
    auto core = Open();
    CString path;
    EXPECT_EQ(0, core->IsImportedBySongKey("S", "Ar", "Al", 100, path));
    EXPECT_EQ(0, core->IsAnalyzed("C:\\Dir\\A.mp3"));
    EXPECT_EQ(1, core->IsImportedBySongInfo("AR", "al", 100));  // reads every record
    EXPECT_EQ(0, core->IsImportedBySongInfo("Ar", "Al", 101));
    DBRECORDLIST all;
    core->Search(nullptr, nullptr, all, -1, 1);
    EXPECT_EQ(1, core->IsImportedBySongKey("S", "Ar", "Al", 100, path));
    EXPECT_EQ(1, core->IsAnalyzed("C:\\Dir\\A.mp3"));
}

TEST_F(DBCoreTest, PathsAndSongKeysSharingAHashAreStillTold) {
    struct Collide {
        Collide() { CDBCore::s_qwHashMask = 0; }  // every path and every song key hash alike
        ~Collide() { CDBCore::s_qwHashMask = ~uint64_t(0); }
    } collide;
    {
        auto core = Open();
        for (const char* p : {"C:\\a.mp3", "C:\\b.mp3", "C:\\c.mp3", "C:\\d.mp3"}) {
            DBRECORD r = Rec(p, p + 3, "Ar", "Al", "100");
            ASSERT_EQ(1, core->AddRecord(&r));
        }
        DBRECORD again = Rec("C:\\B.MP3");
        EXPECT_EQ(0, core->AddRecord(&again));
        ASSERT_EQ(1, core->DeleteRecord("C:\\b.mp3"));
        DBRECORD renamed = Rec("C:\\e.mp3");
        ASSERT_EQ(1, core->UpdateRecord("C:\\C.mp3", &renamed, 0x1));
    }
    auto core = Open();
    EXPECT_EQ(3, core->GetRecordCount());
    for (const auto& row :
         std::vector<std::pair<const char*, int>>{{"C:\\A.mp3", 1}, {"C:\\e.mp3", 3}, {"C:\\d.MP3", 4}}) {
        int id = 0;
        EXPECT_EQ(1, core->GetRecordId(row.first, &id)) << row.first;
        EXPECT_EQ(row.second, id) << row.first;
    }
    EXPECT_EQ(0, core->IsImportedByFileName("C:\\b.mp3"));
    EXPECT_EQ(0, core->IsImportedByFileName("C:\\c.mp3"));
    DBRECORDLIST all;
    core->Search(nullptr, nullptr, all, -1, 1);
    CString path;
    EXPECT_EQ(1, core->IsImportedBySongKey("d.mp3", "Ar", "Al", 100, path));
    EXPECT_STREQ("c:\\d.mp3", path);
    EXPECT_EQ(1, core->IsImportedBySongKey("a.mp3", "Ar", "Al", 100, path));
    EXPECT_STREQ("c:\\a.mp3", path);
    EXPECT_EQ(0, core->IsImportedBySongKey("b.mp3", "Ar", "Al", 100, path));
}

TEST_F(DBCoreTest, UpdateRulesForTitleGenreAndPath) {
    auto core = Open();
    DBRECORD r = Rec("C:\\old name.mp3", "Title");
    ASSERT_EQ(1, core->AddRecord(&r));
    DBRECORD change = Rec("C:\\New Name.mp3", "");
    change.GenreString = "";
    ASSERT_EQ(1, core->UpdateRecord("C:\\old name.mp3", &change, 0x1 | 0x2 | 0x1000));
    DBRECORD out;
    EXPECT_EQ(0, core->GetRecord("C:\\old name.mp3", &out));
    ASSERT_EQ(1, core->GetRecord("C:\\new name.mp3", &out));
    EXPECT_STREQ("New Name", out.Song);  // not analysed: the title comes from the new name
    EXPECT_STREQ("Unknow", out.GenreString);
    change = DBRECORD();
    change.Song = "";
    change.Analyzed = "1";
    change.Artist = "";
    ASSERT_EQ(1, core->UpdateRecord("C:\\new name.mp3", &change, 0x2 | 0x4 | (1u << 15)));
    change.Analyzed = "1";
    ASSERT_EQ(1, core->UpdateRecord("C:\\new name.mp3", &change, 0x2));
    ASSERT_EQ(1, core->GetRecord("C:\\new name.mp3", &out));
    EXPECT_STREQ("", out.Song);  // analysed: an empty title stays empty
    EXPECT_STREQ("", out.Artist);
    DBRECORD other = Rec("C:\\other.mp3");
    core->AddRecord(&other);
    change.FileName = "C:\\OTHER.mp3";
    EXPECT_EQ(0, core->UpdateRecord("C:\\new name.mp3", &change, 0x1));  // would merge two songs
    change.FileName = "";
    EXPECT_EQ(0, core->UpdateRecord("C:\\new name.mp3", &change, 0x1));
    EXPECT_EQ(0, core->UpdateRecord("C:\\none.mp3", &change, 0x40));
}

// ---- repair at open ----

class DBCoreRepairTest : public LibraryTest {
protected:
    void MakeLibrary(int count) {
        auto core = Open();
        for (int i = 1; i <= count; ++i) {
            DBRECORD r = Rec(("C:\\" + std::to_string(i) + ".mp3").c_str());
            ASSERT_EQ(1, core->AddRecord(&r));
        }
    }
    int Count() { return Open()->GetRecordCount(); }
};

TEST_F(DBCoreRepairTest, BusyMainFileIsReplacedByTheMirror) {
    MakeLibrary(3);
    std::string good = MirrorBytes();
    std::string main = MainBytes();
    main[0] = '\xFF';
    main.resize(100);  // whatever was half written
    SetMainBytes(main);
    EXPECT_EQ(3, Count());
    EXPECT_EQ(good, MainBytes());
}

TEST_F(DBCoreRepairTest, BusyMirrorIsReplacedByTheMainFile) {
    MakeLibrary(2);
    std::string good = MainBytes();
    SetMirrorBytes(std::string("\xFF", 1));
    EXPECT_EQ(2, Count());
    EXPECT_EQ(good, MirrorBytes());
}

TEST_F(DBCoreRepairTest, BothBusyKeepTheCheckedBlocksAndTheLegacyFileStays) {
    MakeLibrary(2);
    std::string main = MainBytes(), mirror = MirrorBytes();
    main[0] = mirror[0] = '\xFF';
    SetMainBytes(main);
    SetMirrorBytes(mirror);
    mxtest::WriteHostFile(machine.HostC("db/LocalSearch.mdb"), "legacy");
    EXPECT_EQ(2, Count());
    EXPECT_EQ(MainBytes(), MirrorBytes());
    EXPECT_EQ("legacy", ReadHostFile(machine.HostC("db/LocalSearch.mdb")));  // nothing was imported from it
}

TEST_F(DBCoreRepairTest, ALoneMirrorRestoresTheMainFile) {
    MakeLibrary(3);
    std::string good = MirrorBytes();
    DeleteFileA("C:\\db\\LocalSearch.smdb");
    EXPECT_EQ(3, Count());
    EXPECT_EQ(good, MainBytes());
    EXPECT_EQ(good, MirrorBytes());
}

TEST_F(DBCoreRepairTest, DifferingCleanFilesFollowTheMainFile) {
    MakeLibrary(2);
    std::string main = MainBytes();
    MakeLibrary(0);
    {
        auto core = Open();
        DBRECORD r = Rec("C:\\extra.mp3");
        core->AddRecord(&r);
    }
    SetMainBytes(main);  // the mirror holds one record more
    EXPECT_EQ(2, Count());
    EXPECT_EQ(main, MirrorBytes());
}

TEST_F(DBCoreRepairTest, MainFileWithoutMirrorIsSalvagedAndWhatCannotBeReadIsKeptAside) {
    MakeLibrary(3);
    std::string main = MainBytes();
    // Break the field counts of the second block: it becomes free. Give the third an impossible size:
    // the data ends there. Damage the extension length too: the blocks still follow the header.
    main[24 + kBlock128 + 14] = '\x7F';
    main[24 + 2 * kBlock128 + 8] = '\x01';
    main[18] = '\x10';
    SetMainBytes(main);
    DeleteFileA("C:\\db\\LocalSearch.bkk");
    auto core = Open();
    EXPECT_EQ(1, core->GetRecordCount());
    EXPECT_EQ(1, core->IsImportedByFileName("C:\\1.mp3"));
    std::string salvaged = MainBytes();
    EXPECT_EQ(salvaged, MirrorBytes());
    EXPECT_EQ(24u + 2 * kBlock128, salvaged.size());
    EXPECT_EQ(std::string("\xFF\x00", 2), salvaged.substr(24 + kBlock128 + 12, 2));
    const std::string side = ReadHostFile(machine.HostC("db/LocalSearch.damaged"));
    EXPECT_NE(std::string::npos, side.find(main.substr(24 + kBlock128, kBlock128))) << "the freed record";
    EXPECT_NE(std::string::npos, side.find(main.substr(24 + 2 * kBlock128))) << "the cut tail";
    DBRECORD r = Rec("C:\\new.mp3");
    ASSERT_EQ(1, core->AddRecord(&r));
    EXPECT_EQ(24u + 2 * kBlock128, MainBytes().size());  // into the freed block
}

TEST_F(DBCoreRepairTest, ADamagedExtensionLengthHidesNoSong) {
    MakeLibrary(2);
    const std::string good = MainBytes();
    for (int at : {18, 16}) {  // the blocks would start 1 MiB in, or 16 bytes into the first block
        std::string main = good;
        main[at] = '\x10';
        SetMainBytes(main);
        SetMirrorBytes(main);
        {
            auto core = Open();
            EXPECT_EQ(2, core->GetRecordCount()) << at;
            DBRECORD r = Rec("C:\\new.mp3");
            ASSERT_EQ(1, core->AddRecord(&r));
        }
        EXPECT_EQ(3, Count()) << at;
    }
}

TEST_F(DBCoreRepairTest, DamageThatCannotBeKeptAsideKeepsTheLibraryClosed) {
    MakeLibrary(1);
    SetMainBytes(MainBytes() + "garbage");
    SetMirrorBytes(MainBytes());
    ASSERT_TRUE(CreateDirectoryA("C:\\db\\LocalSearch.damaged", nullptr));  // the side file cannot be made
    CDBCore core(kFolder);
    EXPECT_EQ(0, core.OpenLibrary());
    RemoveDirectoryA("C:\\db\\LocalSearch.damaged");
    EXPECT_EQ(1, Count());
}

TEST_F(DBCoreRepairTest, ASongAddedAfterDamageSurvivesARestartAndTheDamageIsKeptAside) {
    MakeLibrary(3);
    std::string main = MainBytes();
    main[24 + kBlock128 + 4] = '\x00';  // second block: L = 0 ends the walk
    main[24 + kBlock128 + 5] = '\x00';
    SetMainBytes(main);
    SetMirrorBytes(main);
    {
        auto core = Open();
        EXPECT_EQ(1, core->GetRecordCount());
        EXPECT_EQ(0, core->IsImportedByFileName("C:\\3.mp3"));
        DBRECORD r = Rec("C:\\new.mp3");
        ASSERT_EQ(1, core->AddRecord(&r));
    }
    auto core = Open();
    EXPECT_EQ(1, core->IsImportedByFileName("C:\\new.mp3"));
    EXPECT_EQ(2, core->GetRecordCount());
    std::string side = ReadHostFile(machine.HostC("db/LocalSearch.damaged"));
    EXPECT_NE(std::string::npos, side.find(main.substr(24 + kBlock128))) << "the unreadable bytes are kept whole";
}

TEST_F(DBCoreRepairTest, ShortFilesFailTheOpenOrStartAgain) {
    MakeLibrary(1);
    SetMainBytes(std::string(3, '\0'));
    SetMirrorBytes(std::string(3, '\0'));
    CDBCore core(kFolder);
    EXPECT_EQ(0, core.OpenLibrary());
    // Files without even a state byte count as caught in a write: the library starts again; so does a
    // lone main file shorter than a header, left by a first start cut short.
    SetMainBytes("");
    SetMirrorBytes("");
    EXPECT_EQ(0, Count());
    SetMainBytes("\xFF\x00");
    DeleteFileA("C:\\db\\LocalSearch.bkk");
    EXPECT_EQ(0, Count());
}

TEST_F(DBCoreRepairTest, DamagedFilesNeverCrashTheOpen) {
    MakeLibrary(4);
    {
        auto core = Open();
        DBRECORD grow;
        grow.Extra1 = CString(std::string(200, 'y'));
        core->UpdateRecord("C:\\2.mp3", &grow, 1u << 16);
    }
    const std::string good = MainBytes();
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        std::string main = good, mirror = good;
        std::string& target = round % 3 == 0 ? mirror : main;
        for (int flips = 1 + int(rng() % 8); flips > 0; --flips) target[rng() % target.size()] ^= char(1 + rng() % 255);
        if (round % 5 == 0) target.resize(rng() % target.size());
        SetMainBytes(main);
        SetMirrorBytes(mirror);
        if (round % 7 == 0) DeleteFileA("C:\\db\\LocalSearch.bkk");
        CDBCore core(kFolder);
        if (!core.OpenLibrary()) continue;
        DBRECORDLIST all;
        core.Search(nullptr, nullptr, all, -1, 1);
        DBRECORD r = Rec("C:\\after.mp3");
        EXPECT_EQ(1, core.AddRecord(&r));
        core.DeleteRecord("C:\\1.mp3");
        core.IsImportedBySongInfo("a", "b", 0);
    }
}

TEST_F(DBCoreRepairTest, EveryTruncationOfTheFileOpens) {
    MakeLibrary(3);
    const std::string good = MainBytes();
    for (size_t n = 0; n <= good.size(); ++n) {
        SetMainBytes(good.substr(0, n));
        SetMirrorBytes(good.substr(0, n));
        CDBCore core(kFolder);
        int ok = core.OpenLibrary();
        EXPECT_EQ(n == 0 || n >= 24, ok != 0) << n;
        if (ok) {
            EXPECT_LE(core.GetRecordCount(), 3);
        }
    }
}

// ---- crash safety: the process dies at every step of a marked write ----

int g_killAt = 0;
void KillAtStep(int step) {
    if (step == g_killAt) raise(SIGKILL);
}

struct CrashCase {
    const char* name;
    std::function<void(CDBCore&)> run;
    // Given the reopened library, true when the operation is wholly there, false when wholly absent;
    // a half state fails the test.
    std::function<bool(CDBCore&)> applied;
};

class DBCoreCrashTest : public LibraryTest {
protected:
    void MakeThreeSongs() {
        DeleteFileA(kFolder + mxlib::kLibraryFile);
        DeleteFileA(kFolder + mxlib::kMirrorFile);
        auto core = Open();
        for (int i = 1; i <= 3; ++i) {
            DBRECORD r = Rec(("C:\\" + std::to_string(i) + ".mp3").c_str(), "song", "artist", "album", "77");
            r.Opinion = "1";
            ASSERT_EQ(1, core->AddRecord(&r));
        }
    }
    static std::string Opinion(CDBCore& core, const char* path) {
        DBRECORD r;
        return core.GetRecord(path, &r) ? r.Opinion.str() : "<none>";
    }
    static void ExpectUntouched(CDBCore& core, const char* path) {
        DBRECORD r;
        ASSERT_EQ(1, core.GetRecord(path, &r)) << path;
        EXPECT_STREQ("song", r.Song);
        EXPECT_STREQ("1", r.Opinion);
    }
};

// Opens the library in a child killed at the given step (0: never); 0 when the child got that far.
int OpenKilledAt(const CString& folder, int step) {
    pid_t pid = fork();
    if (pid == 0) {
        g_killAt = step;
        CDBCore::s_pfnWriteStepHook = KillAtStep;
        CDBCore core(folder);
        std::_Exit(core.OpenLibrary() ? 0 : 2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? 0 : WEXITSTATUS(status) == 0 ? 1 : -1;
}

TEST_F(DBCoreCrashTest, AKillAtAnyStepOfARepairLosesNoRecord) {
    const char* kMissing = "<missing>";
    struct RepairCase {
        const char* name;
        std::function<void(std::string& main, std::string& mirror)> damage;
    };
    const std::vector<RepairCase> cases = {
        {"busy main", [](std::string& m, std::string&) { m[0] = '\xFF', m.resize(100); }},
        {"busy mirror", [](std::string&, std::string& b) { b = "\xFF"; }},
        {"lone mirror", [&](std::string& m, std::string&) { m = kMissing; }},
        {"lone busy main", [&](std::string& m, std::string& b) { m[0] = '\xFF', b = kMissing; }},
        {"both busy", [](std::string& m, std::string& b) { m[0] = b[0] = '\xFF'; }},
    };
    for (const RepairCase& c : cases) {
        SCOPED_TRACE(c.name);
        MakeThreeSongs();
        std::string main = MainBytes(), mirror = MirrorBytes();
        c.damage(main, mirror);
        auto damage = [&] {
            for (auto f : {std::make_pair(&main, "db/LocalSearch.smdb"), std::make_pair(&mirror, "db/LocalSearch.bkk")}) {
                if (*f.first == kMissing) unlink(machine.HostC(f.second).c_str());
                else mxtest::WriteHostFile(machine.HostC(f.second), *f.first);
            }
        };
        int steps = 0;
        {
            static int counted;
            counted = 0;
            damage();
            CDBCore::s_pfnWriteStepHook = [](int step) { counted = step; };
            CDBCore core(kFolder);
            EXPECT_EQ(1, core.OpenLibrary());
            CDBCore::s_pfnWriteStepHook = nullptr;
            steps = counted;
        }
        ASSERT_GE(steps, 3);
        for (int k = 1; k <= steps; ++k) {
            SCOPED_TRACE("killed at step " + std::to_string(k));
            damage();
            EXPECT_EQ(0, OpenKilledAt(kFolder, k));
            CDBCore core(kFolder);
            ASSERT_EQ(1, core.OpenLibrary());
            EXPECT_EQ(3, core.GetRecordCount());
            ExpectUntouched(core, "C:\\2.mp3");
            EXPECT_EQ(MainBytes(), MirrorBytes());
        }
    }
}

TEST_F(DBCoreCrashTest, AFullDiskLosesNoRecordInAWriteOrARepair) {
    MakeThreeSongs();
    const CString folder = kFolder;
    // An add that needs room is refused and leaves the library as it was, still writable in place.
    EXPECT_EQ(0, mxtest::WithFileSizeLimit(off_t(MainBytes().size()) + 20, [&] {
        CDBCore core(folder);
        if (!core.OpenLibrary()) return 2;
        DBRECORD r = Rec("C:\\4.mp3");
        if (core.AddRecord(&r)) return 3;
        DBRECORD u;
        u.Opinion = "5";
        return core.UpdateRecord("C:\\1.mp3", &u, 0x40) ? 0 : 4;
    }));
    {
        CDBCore core(kFolder);
        ASSERT_EQ(1, core.OpenLibrary());
        EXPECT_EQ(3, core.GetRecordCount());
        EXPECT_EQ("5", Opinion(core, "C:\\1.mp3"));
        EXPECT_EQ(MainBytes(), MirrorBytes());
    }
    // A repair that cannot write the main file back fails the open and leaves the mirror whole.
    std::string busy = MainBytes().substr(0, 100);
    busy[0] = '\xFF';
    SetMainBytes(busy);
    const std::string good = MirrorBytes();
    EXPECT_EQ(2, mxtest::WithFileSizeLimit(200, [&] { return CDBCore(folder).OpenLibrary() ? 0 : 2; }));
    EXPECT_EQ(good, MirrorBytes());
    CDBCore core(kFolder);
    ASSERT_EQ(1, core.OpenLibrary());
    EXPECT_EQ(3, core.GetRecordCount());
}

TEST_F(DBCoreCrashTest, EveryOperationIsWhollyThereOrWhollyAbsentAfterAKill) {
    const std::vector<CrashCase> cases = {
        {"add",
         [](CDBCore& c) {
             DBRECORD r = Rec("C:\\4.mp3", "new");
             c.AddRecord(&r);
         },
         [](CDBCore& c) {
             int id = 0;
             bool there = c.GetRecordId("C:\\4.mp3", &id);
             EXPECT_TRUE(!there || id == 4);
             return there;
         }},
        {"update in place",
         [](CDBCore& c) {
             DBRECORD r;
             r.Opinion = "5";
             c.UpdateRecord("C:\\2.mp3", &r, 0x40);
         },
         [](CDBCore& c) {
             std::string o = Opinion(c, "C:\\2.mp3");
             EXPECT_TRUE(o == "1" || o == "5") << o;
             return o == "5";
         }},
        {"update that moves",
         [](CDBCore& c) {
             DBRECORD r;
             r.Opinion = "5";
             r.Extra1 = CString(std::string(400, 'm'));
             c.UpdateRecord("C:\\2.mp3", &r, 0x40 | (1u << 16));
         },
         [](CDBCore& c) {
             DBRECORD r;
             EXPECT_EQ(1, c.GetRecord("C:\\2.mp3", &r));
             bool moved = r.Extra1.GetLength() == 400;
             EXPECT_EQ(moved ? "5" : "1", r.Opinion.str());
             int id = 0;
             c.GetRecordId("C:\\2.mp3", &id);
             EXPECT_EQ(2, id);
             return moved;
         }},
        {"delete",
         [](CDBCore& c) { c.DeleteRecord("C:\\3.mp3"); },
         [](CDBCore& c) { return !c.IsImportedByFileName("C:\\3.mp3"); }},
    };
    for (const CrashCase& op : cases) {
        SCOPED_TRACE(op.name);
        MakeThreeSongs();
        const std::string main = MainBytes(), mirror = MirrorBytes();
        // Count the steps of the operation.
        int steps = 0;
        {
            static int counted;
            counted = 0;
            SetMainBytes(main);
            SetMirrorBytes(mirror);
            CDBCore core(kFolder);
            ASSERT_EQ(1, core.OpenLibrary());
            CDBCore::s_pfnWriteStepHook = [](int step) { counted = step; };
            op.run(core);
            CDBCore::s_pfnWriteStepHook = nullptr;
            steps = counted;
        }
        ASSERT_GE(steps, 10);
        int applied = 0;
        for (int k = 1; k <= steps + 1; ++k) {
            SCOPED_TRACE("killed at step " + std::to_string(k));
            SetMainBytes(main);
            SetMirrorBytes(mirror);
            g_killAt = k;
            const CString folder = kFolder;
            auto child = [&] {
                CDBCore core(folder);
                if (!core.OpenLibrary()) std::_Exit(2);
                CDBCore::s_pfnWriteStepHook = KillAtStep;
                op.run(core);
                std::_Exit(0);  // past the last step: the operation completed
            };
            if (k <= steps) EXPECT_EXIT(child(), ::testing::KilledBySignal(SIGKILL), "");
            else EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
            CDBCore core(kFolder);
            ASSERT_EQ(1, core.OpenLibrary());
            applied += op.applied(core);
            EXPECT_EQ(MainBytes(), MirrorBytes());
            ExpectUntouched(core, "C:\\1.mp3");
            DBRECORD r = Rec("C:\\later.mp3");
            EXPECT_EQ(1, core.AddRecord(&r));  // the library is usable
        }
        EXPECT_GE(applied, 1);  // at least the complete run applied it
        EXPECT_LE(applied, steps);
    }
}

}  // namespace
