#include <algorithm>
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
using mxtest::Rec;

const uint32_t kBlock128 = 14 + 128;  // a block of the smallest capacity, header included

std::vector<std::string> Paths(const DBRECORDLIST& list) {
    std::vector<std::string> out;
    for (POSITION pos = list.GetHeadPosition(); pos;) out.push_back(list.GetNext(pos).FileName.str());
    return out;
}
int Add(CDBCore& core, DBRECORD r) { return core.AddRecord(&r); }
int Id(CDBCore& core, const char* path) {
    int id = 0;
    return core.GetRecordId(path, &id) ? id : -1;
}

class DBCoreTest : public LibraryTest {};

TEST_F(DBCoreTest, ANewLibraryIsABareHeaderAndAnAddedRecordOneBlockOfCountedFields) {
    auto core = Open();
    const std::string header("\0\0\0\0\0\0\0\0\x02\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 24);
    EXPECT_EQ(header + header, MainBytes() + MirrorBytes());
    ASSERT_EQ(1, Add(*core, Rec("C:\\Music\\a.mp3", "Song", "Artist", "Album", "1234")));
    std::string bytes = MainBytes();
    EXPECT_EQ(bytes, MirrorBytes());
    // 52 bytes of text and 19 counts: a payload of exactly 128 bytes, which takes a block of 256.
    ASSERT_EQ(24u + 14 + 256, bytes.size());
    EXPECT_EQ(1u, U32(bytes, 24));
    EXPECT_EQ(76u + 52, U32(bytes, 28));
    EXPECT_EQ(128u, U32(bytes, 32));
    EXPECT_EQ(std::string("\0\0\x0E\0\0\0C:\\Music\\a.mp3\x04\0\0\0Song", 28), bytes.substr(36, 28));
    EXPECT_EQ(std::string(128, '\0'), bytes.substr(24 + 14 + 128));  // fresh slack is zero
    for (auto row : std::vector<std::pair<uint32_t, uint32_t>>{
             {76, 52}, {127, 1}, {128, 128}, {129, 127}, {200, 56}, {32767, 1}, {32768, 32768}, {40000, 40000}})
        EXPECT_EQ(row.second, SlackFor(row.first)) << row.first;
}

TEST_F(DBCoreTest, PathsAreOneSongInAnyLetterCaseAndTitlesComeFromTheName) {
    auto core = Open();
    DBRECORD typed = Rec("D:\\mp3\\abc.def.MP3");
    typed.Type = "MP3";
    ASSERT_EQ(1, Add(*core, typed));
    ASSERT_EQ(1, Add(*core, Rec("abc")));
    EXPECT_EQ(0, Add(*core, Rec("d:\\MP3\\ABC.DEF.mp3")));
    EXPECT_EQ(0, Add(*core, Rec("")));
    EXPECT_EQ(1, Id(*core, "D:\\mp3\\ABC.def.mp3"));
    DBRECORD out;
    ASSERT_EQ(1, core->GetRecord("d:\\MP3\\ABC.DEF.mp3", &out));
    EXPECT_STREQ("abc.def", out.Song);
    EXPECT_STREQ(mxlib::kUnknown, out.Artist);
    EXPECT_STREQ("Unknow", out.GenreString);
    EXPECT_STREQ("mp3", out.Type);  // stored as given, read in lower case
    EXPECT_NE(std::string::npos, MainBytes().find("MP3\x01"));
    ASSERT_EQ(1, core->GetRecord("ABC", &out));
    EXPECT_STREQ("abc", out.Song);
    for (auto pair : {std::make_pair("C:\\Кино.mp3", "C:\\кино.MP3"), std::make_pair("C:\\Άλφα.mp3", "C:\\άλφα.MP3")}) {
        EXPECT_EQ(1, Add(*core, Rec(MxUtf8ToAnsi(pair.first)))) << pair.first;
        EXPECT_EQ(0, Add(*core, Rec(MxUtf8ToAnsi(pair.second)))) << pair.second;
        EXPECT_EQ(1, core->IsImportedByFileName(MxUtf8ToAnsi(pair.second))) << pair.second;
    }
}

TEST_F(DBCoreTest, ARecordThatFitsStaysInItsBlockAGrowingOneMovesAndItsOldBlockIsReused) {
    auto core = Open();
    ASSERT_EQ(1, Add(*core, Rec("C:\\a.mp3", "t")));
    ASSERT_EQ(1, Add(*core, Rec("C:\\b.mp3")));
    const size_t size = MainBytes().size();
    DBRECORD change, out;
    change.Opinion = "5";
    ASSERT_EQ(1, core->UpdateRecord("C:\\A.MP3", &change, 0x40));
    EXPECT_EQ(size, MainBytes().size());
    EXPECT_EQ(MainBytes(), MirrorBytes());
    change.Extra1 = CString(std::string(300, 'x'));
    ASSERT_EQ(1, core->UpdateRecord("C:\\a.mp3", &change, 1u << 16));
    std::string bytes = MainBytes();
    EXPECT_EQ(bytes, MirrorBytes());
    EXPECT_EQ(std::string("\xFF\x00", 2), bytes.substr(24 + 12, 2));  // the first block is free now
    EXPECT_EQ(1, Id(*core, "C:\\a.mp3"));
    EXPECT_EQ(24u + 2 * kBlock128 + 14 + 512, bytes.size());
    ASSERT_EQ(1, Add(*core, Rec("C:\\c.mp3")));
    EXPECT_EQ(bytes.size(), MainBytes().size());
    EXPECT_EQ(3u, U32(MainBytes(), 24));  // the new song took the freed block
    ASSERT_EQ(1, core->GetRecord("C:\\a.mp3", &out));
    EXPECT_EQ(300, out.Extra1.GetLength());
    EXPECT_STREQ("5", out.Opinion);
    EXPECT_STREQ("t", out.Song);
}

TEST_F(DBCoreTest, RecordsAndIdsSurviveARestartAndDeletingTheLastBlockShortensBothFiles) {
    {
        auto core = Open();
        for (const char* p : {"C:\\1.mp3", "C:\\2.mp3", "C:\\3.mp3"})
            ASSERT_EQ(1, Add(*core, Rec(p, "s", mxtest::Gbk("歌手").str().c_str())));
        ASSERT_EQ(1, core->DeleteRecord("C:\\2.mp3"));
        EXPECT_EQ(24u + 3 * kBlock128, MainBytes().size());
    }
    auto core = Open();
    EXPECT_EQ(2, core->GetRecordCount());
    EXPECT_EQ(3, core->GetHighestId());
    DBRECORD out;
    ASSERT_EQ(1, core->GetRecord("C:\\3.mp3", &out));
    EXPECT_EQ(mxtest::Gbk("歌手"), out.Artist);
    ASSERT_EQ(1, Add(*core, Rec("C:\\5.mp3")));
    EXPECT_EQ(4, Id(*core, "C:\\5.mp3"));
    EXPECT_EQ(24u + 3 * kBlock128, MainBytes().size());  // the freed block was reused
    ASSERT_EQ(1, core->DeleteRecordById(4));
    ASSERT_EQ(1, core->DeleteRecord("C:\\3.MP3"));
    EXPECT_EQ(24u + kBlock128, MainBytes().size());  // the free block before it went too
    EXPECT_EQ(MainBytes(), MirrorBytes());
    EXPECT_EQ(1, core->GetHighestId());
    ASSERT_EQ(1, Add(*core, Rec("C:\\4.mp3")));
    EXPECT_EQ(2, Id(*core, "C:\\4.mp3"));
    EXPECT_EQ(0, core->DeleteRecord("C:\\none.mp3"));
    EXPECT_EQ(0, core->DeleteRecordById(99));
    EXPECT_EQ(1, core->DeleteRecordById(2));
}

TEST_F(DBCoreTest, SearchOverIdsFollowsLimitAndMode) {
    auto core = Open();
    for (const char* p : {"C:\\a1.mp3", "C:\\b.mp3", "C:\\a2.mp3", "C:\\a3.mp3", "C:\\a4.mp3"}) ASSERT_EQ(1, Add(*core, Rec(p)));
    CList<int, int> ids;
    for (int id : {5, 4, 3, 2, 1, 42}) ids.AddTail(id);
    CList<CString, CString> words;
    words.AddTail(CString("A"));
    const std::vector<std::string> all = {"C:\\a4.mp3", "C:\\a3.mp3", "C:\\a2.mp3", "C:\\a1.mp3"};
    struct Case {
        int limit, mode;
        std::vector<std::string> expected;
    };
    for (const Case& c : std::vector<Case>{{2, 1, {"C:\\a4.mp3", "C:\\a3.mp3"}}, {2, 0, {"C:\\a2.mp3", "C:\\a1.mp3"}},
                                           {0, 1, {}}, {-1, 1, all}, {9, 1, all}}) {
        DBRECORDLIST results;
        results.AddTail(Rec("stale"));
        EXPECT_EQ(1, core->Search(&ids, &words, results, c.limit, c.mode));
        EXPECT_EQ(c.expected, Paths(results)) << c.limit << "," << c.mode;
    }
    DBRECORDLIST every;
    core->Search(nullptr, nullptr, every, 0, 0);
    EXPECT_EQ((std::vector<std::string>{"C:\\a1.mp3", "C:\\b.mp3", "C:\\a2.mp3", "C:\\a3.mp3", "C:\\a4.mp3"}), Paths(every));
}

// Every keyword must occur, whole characters in any Unicode letter case, in title, artist, album or type.
TEST_F(DBCoreTest, KeywordsMustEachOccurInTitleArtistAlbumOrType) {
    auto core = Open();
    DBRECORD miss = Rec("C:\\2.mp3", "t", "x", "al");
    miss.Track = "ab";
    for (DBRECORD r : {Rec("C:\\1.mp3", "t", "xAByz", "al"), miss, Rec("C:\\3.mp3", "Ab", "x", "CD")}) Add(*core, r);
    const char* titles[] = {"Кино", "ţÀ", "Smile 😘", "음악", "ＡＢＣ"};  // "ţÀ" hides the bytes of "😘"
    for (int i = 0; i < 5; ++i) Add(*core, Rec(("C:\\t" + std::to_string(i) + ".mp3").c_str(), MxUtf8ToAnsi(titles[i]), "x", "al"));
    for (const auto& [keywords, expected] : std::vector<std::pair<std::vector<const char*>, std::vector<std::string>>>{
             {{"ab", ""}, {"C:\\1.mp3", "C:\\3.mp3"}}, {{"ab", "", "cd"}, {"C:\\3.mp3"}}, {{"кино"}, {"C:\\t0.mp3"}},
             {{"😘"}, {"C:\\t2.mp3"}}, {{"ａｂｃ"}, {"C:\\t4.mp3"}}, {{"음"}, {"C:\\t3.mp3"}}}) {
        CList<CString, CString> words;
        for (const char* w : keywords) words.AddTail(MxUtf8ToAnsi(w));
        DBRECORDLIST results;
        core->Search(nullptr, &words, results, -1, 1);
        EXPECT_EQ(expected, Paths(results)) << keywords[0];
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
        for (const char* p : {"C:\\a.mp3", "C:\\b.mp3", "C:\\c.mp3", "C:\\d.mp3"}) ASSERT_EQ(1, Add(*core, Rec(p, p + 3, "Ar", "Al", "100")));
        EXPECT_EQ(0, Add(*core, Rec("C:\\B.MP3")));
        ASSERT_EQ(1, core->DeleteRecord("C:\\b.mp3"));
        DBRECORD renamed = Rec("C:\\e.mp3");
        ASSERT_EQ(1, core->UpdateRecord("C:\\C.mp3", &renamed, 0x1));
    }
    auto core = Open();
    EXPECT_EQ(3, core->GetRecordCount());
    for (const auto& row : std::vector<std::pair<const char*, int>>{{"C:\\A.mp3", 1}, {"C:\\e.mp3", 3}, {"C:\\d.MP3", 4}})
        EXPECT_EQ(row.second, Id(*core, row.first)) << row.first;
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
    ASSERT_EQ(1, Add(*core, Rec("C:\\old name.mp3", "Title")));
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
    Add(*core, Rec("C:\\other.mp3"));
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
        for (const char* f : {"C:\\db\\LocalSearch.smdb", "C:\\db\\LocalSearch.bkk", "C:\\db\\LocalSearch.damaged"}) DeleteFileA(f);
        auto core = Open();
        for (int i = 1; i <= count; ++i) ASSERT_EQ(1, Add(*core, Rec(("C:\\" + std::to_string(i) + ".mp3").c_str())));
    }
    int Count() { return Open()->GetRecordCount(); }
};

// The open keeps what can be read, sets the rest aside whole in the ".damaged" file and leaves a library
// that takes new songs, also after a restart.
TEST_F(DBCoreRepairTest, DamageIsSalvagedKeptAsideAndTheLibraryStaysWritable) {
    const size_t kAll = std::string::npos;
    struct Row {
        const char* name;
        int songs;
        std::function<void(std::string& main, std::string& mirror)> damage;
        int left;
        std::vector<std::pair<size_t, size_t>> keptAside;  // pieces of the damaged main file
        size_t sizeAfterAdd;                                 // 0: not checked
    };
    const Row rows[] = {
        // Broken field counts free the second block; an impossible size ends the data at the third;
        // the damaged extension length still has the blocks follow the header. The new song takes the
        // freed block.
        {"main without mirror", 3,
         [](std::string& m, std::string& b) {
             m[24 + kBlock128 + 14] = '\x7F', m[24 + 2 * kBlock128 + 8] = '\x01', m[18] = '\x10', b = "<missing>";
         },
         1, {{24 + kBlock128, kBlock128}, {24 + 2 * kBlock128, kAll}}, 24 + 2 * kBlock128},
        // The blocks would start 1 MiB in, or 16 bytes into the first block.
        {"extension length past the end", 2, [](std::string& m, std::string& b) { m[18] = '\x10', b = m; }, 2, {}, 0},
        {"extension length inside a block", 2, [](std::string& m, std::string& b) { m[16] = '\x10', b = m; }, 2, {}, 0},
        {"a block of length 0", 3, [](std::string& m, std::string& b) { m[24 + kBlock128 + 4] = m[24 + kBlock128 + 5] = 0, b = m; },
         1, {{24 + kBlock128, kAll}}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MakeLibrary(row.songs);
        std::string main = MainBytes(), mirror = main;
        row.damage(main, mirror);
        SetMainBytes(main);
        if (mirror == "<missing>") DeleteFileA("C:\\db\\LocalSearch.bkk");
        else SetMirrorBytes(mirror);
        {
            auto core = Open();
            EXPECT_EQ(row.left, core->GetRecordCount());
            EXPECT_EQ(MainBytes(), MirrorBytes());
            const std::string side = ReadHostFile(machine.HostC("db/LocalSearch.damaged"));
            for (const auto& piece : row.keptAside) EXPECT_NE(std::string::npos, side.find(main.substr(piece.first, piece.second)));
            ASSERT_EQ(1, Add(*core, Rec("C:\\new.mp3")));
            EXPECT_EQ(row.sizeAfterAdd ? row.sizeAfterAdd : MainBytes().size(), MainBytes().size());
        }
        auto core = Open();
        EXPECT_EQ(row.left + 1, core->GetRecordCount());
        EXPECT_EQ(1, core->IsImportedByFileName("C:\\new.mp3"));
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

TEST_F(DBCoreRepairTest, DamagedOrCutFilesOpenUsableOrAreRefused) {
    MakeLibrary(4);
    {
        auto core = Open();
        DBRECORD grow;
        grow.Extra1 = CString(std::string(200, 'y'));
        core->UpdateRecord("C:\\2.mp3", &grow, 1u << 16);
    }
    const std::string good = MainBytes();
    // Files without even a state byte count as caught in a write: the library starts again.
    for (size_t n = 0; n <= good.size(); ++n) {
        SetMainBytes(good.substr(0, n));
        SetMirrorBytes(good.substr(0, n));
        CDBCore core(kFolder);
        EXPECT_EQ(n == 0 || n >= 24, core.OpenLibrary() != 0) << n;
        EXPECT_LE(core.GetRecordCount(), n == 0 ? 0 : 4);
    }
    // So does a lone main file shorter than a header, left by a first start cut short.
    SetMainBytes("\xFF\x00");
    DeleteFileA("C:\\db\\LocalSearch.bkk");
    EXPECT_EQ(0, Count());
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
        EXPECT_EQ(1, Add(core, Rec("C:\\after.mp3")));
        core.DeleteRecord("C:\\1.mp3");
    }
}

// ---- crash safety: the process dies at every step of a marked write ----

int g_killAt = 0;
void KillAtStep(int step) {
    if (step == g_killAt) raise(SIGKILL);
}

// Runs fn in a child killed at the given write step; -1 when killed.
int KilledAt(int step, const std::function<int()>& fn) {
    return mxtest::WithFileSizeLimit(-1, [&] {
        g_killAt = step;
        CDBCore::s_pfnWriteStepHook = KillAtStep;
        return fn();
    });
}

// The steps fn takes in this process. With `images`, also each library it passes through whose two
// files are clean and alike: the states a kill may leave.
std::string g_mainPath, g_mirrorPath;
std::vector<std::string>* g_images = nullptr;
int StepsOf(const std::function<void()>& fn, std::vector<std::string>* images = nullptr) {
    static int counted;
    counted = 0;
    g_images = images;
    CDBCore::s_pfnWriteStepHook = [](int step) {
        counted = step;
        if (!g_images) return;
        std::string main = ReadHostFile(g_mainPath);
        if (!main.empty() && main[0] == 0 && main == ReadHostFile(g_mirrorPath) && g_images->back() != main)
            g_images->push_back(main);
    };
    fn();
    CDBCore::s_pfnWriteStepHook = nullptr;
    g_images = nullptr;
    return counted;
}

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
};

// A repair cut short by a kill is done again at the next open, to the same bytes an uncut one gives.
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
        {"clean mirror differs", [](std::string&, std::string& b) { b[55] ^= 1; }},
    };
    for (const RepairCase& c : cases) {
        SCOPED_TRACE(c.name);
        MakeThreeSongs();
        const std::string good = MainBytes();
        std::string main = good, mirror = good;
        c.damage(main, mirror);
        auto damage = [&] {
            for (auto f : {std::make_pair(&main, "db/LocalSearch.smdb"), std::make_pair(&mirror, "db/LocalSearch.bkk")}) {
                if (*f.first == kMissing) unlink(machine.HostC(f.second).c_str());
                else mxtest::WriteHostFile(machine.HostC(f.second), *f.first);
            }
        };
        damage();
        mxtest::WriteHostFile(machine.HostC("db/LocalSearch.mdb"), "legacy");
        const int steps = StepsOf([&] { EXPECT_EQ(1, CDBCore(kFolder).OpenLibrary()); });
        ASSERT_GE(steps, 3);
        EXPECT_EQ(good, MainBytes());
        EXPECT_EQ(good, MirrorBytes());
        EXPECT_EQ("legacy", ReadHostFile(machine.HostC("db/LocalSearch.mdb")));  // nothing is imported from it
        for (int k = 1; k <= steps; ++k) {
            SCOPED_TRACE("killed at step " + std::to_string(k));
            damage();
            EXPECT_EQ(-1, KilledAt(k, [&] { return CDBCore(kFolder).OpenLibrary() ? 0 : 2; }));
            EXPECT_EQ(1, CDBCore(kFolder).OpenLibrary());
            EXPECT_EQ(good, MainBytes());
            EXPECT_EQ(good, MirrorBytes());
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
        if (Add(core, Rec("C:\\4.mp3"))) return 3;
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

// After a kill at any step, the reopened library is byte for byte the one before the operation, the one
// after it, or one it passed through with both files clean (a delete's freed block before the trim).
TEST_F(DBCoreCrashTest, EveryOperationIsWhollyThereOrWhollyAbsentAfterAKill) {
    const std::vector<std::pair<const char*, std::function<void(CDBCore&)>>> cases = {
        {"add", [](CDBCore& c) { Add(c, Rec("C:\\4.mp3", "new")); }},
        {"update in place",
         [](CDBCore& c) {
             DBRECORD r;
             r.Opinion = "5";
             c.UpdateRecord("C:\\2.mp3", &r, 0x40);
         }},
        {"update that moves",
         [](CDBCore& c) {
             DBRECORD r;
             r.Opinion = "5";
             r.Extra1 = CString(std::string(400, 'm'));
             c.UpdateRecord("C:\\2.mp3", &r, 0x40 | (1u << 16));
         }},
        {"delete of the last block", [](CDBCore& c) { c.DeleteRecord("C:\\3.mp3"); }},
        {"delete of a middle block", [](CDBCore& c) { c.DeleteRecord("C:\\2.mp3"); }},
    };
    for (const auto& op : cases) {
        SCOPED_TRACE(op.first);
        MakeThreeSongs();
        const std::string before = MainBytes();
        std::vector<std::string> images = {before};
        g_mainPath = machine.HostC("db/LocalSearch.smdb");
        g_mirrorPath = machine.HostC("db/LocalSearch.bkk");
        int steps = 0;
        {
            CDBCore core(kFolder);
            ASSERT_EQ(1, core.OpenLibrary());
            steps = StepsOf([&] { op.second(core); }, &images);
        }
        ASSERT_GE(steps, 10);
        ASSERT_NE(before, images.back());
        for (int k = 1; k <= steps; ++k) {
            SCOPED_TRACE("killed at step " + std::to_string(k));
            SetMainBytes(before);
            SetMirrorBytes(before);
            const CString folder = kFolder;
            EXPECT_EQ(-1, KilledAt(k, [&] {
                          CDBCore core(folder);
                          if (!core.OpenLibrary()) return 2;
                          op.second(core);
                          return 0;
                      }));
            CDBCore core(kFolder);
            ASSERT_EQ(1, core.OpenLibrary());
            const std::string now = MainBytes();
            EXPECT_NE(images.end(), std::find(images.begin(), images.end(), now)) << "a half-done operation survived";
            EXPECT_EQ(now, MirrorBytes());
            EXPECT_EQ(1, Add(core, Rec("C:\\later.mp3")));  // the library is usable
        }
    }
}

}  // namespace
