// Discovery of other players (its messages, cancelling, unique names) and the workers that import other
// players' songs, the music folders found on the machine and the library folder's own files: their
// message sequences as table rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "MxModule/fileops/FileOperateAddOtherPlayerInfosThread.h"
#include "fileops/FileOpsFixture.h"

namespace mxtest {
namespace {

const std::string kDefaultList = "\xC4\xAC\xC8\xCF\xC1\xD0\xB1\xED";  // the default list's name

class DiscoveryTest : public MachineTest {};
const auto Named = [](const auto& info) { return std::string(info.param.name); };  // rows name their tests

std::vector<std::pair<UINT, WPARAM>> Posted(const CMessageSink& sink) {
    std::vector<std::pair<UINT, WPARAM>> out;
    for (const RECEIVEDMSG& m : sink.Messages()) out.emplace_back(m.nMessage, m.wParam);
    return out;
}

TEST_F(DiscoveryTest, WithoutPlayersEachStepIsAnnouncedAndNothingIsFound) {
    std::vector<std::pair<UINT, WPARAM>> expected;
    const int percent[] = {16, 33, 50, 66, 83, 100};
    for (int key = 1; key <= 6; ++key) {
        expected.emplace_back(WM_MX_FIND_PLAYER_BEGIN, key);
        expected.emplace_back(WM_MX_FIND_PLAYER_PROGRESS, percent[key - 1]);
    }
    CMessageSink sink;
    OTHERPLAYERMAP map;
    CMxPublic::FindOtherPlayerInfo(&map, sink.GetHwnd(), nullptr);
    sink.PumpPending();
    EXPECT_EQ(expected, Posted(sink));
    EXPECT_EQ(0, map.GetCount());

    // The list form reports the same steps; without a window nothing is posted.
    CMessageSink listSink;
    CList<OTHERPLAYERINFO, OTHERPLAYERINFO&> list;
    CMxPublic::FindOtherPlayerInfo(&list, listSink.GetHwnd(), nullptr);
    CMxPublic::FindOtherPlayerInfo(&list, nullptr, nullptr);
    listSink.PumpPending();
    EXPECT_EQ(expected, Posted(listSink));
    EXPECT_EQ(0, list.GetCount());
}

TEST_F(DiscoveryTest, ACancelledDiscoveryClearsTheMapAndTheNamesAndPostsNothing) {
    CMessageSink sink;
    OTHERPLAYERMAP map;
    OTHERPLAYERINFO stale;
    stale.lstMusicPath.AddTail("C:\\old");
    map.SetAt(OPK_KUGOU, stale);
    CMxPublic::GetUniquePLName("x");
    int cancel = 1;
    CMxPublic::FindOtherPlayerInfo(&map, sink.GetHwnd(), &cancel);
    sink.PumpPending();
    EXPECT_TRUE(sink.Messages().empty());
    EXPECT_EQ(0, map.GetCount());
    EXPECT_STREQ("x", CMxPublic::GetUniquePLName("x"));  // the names of the last run are forgotten
}

TEST_F(DiscoveryTest, RepeatedNamesGetCountingSuffixesAndGeneratedNamesAreNotReserved) {
    OTHERPLAYERMAP map;
    CMxPublic::FindOtherPlayerInfo(&map, nullptr, nullptr);  // a new run starts with no names
    const std::vector<std::pair<const char*, const char*>> asks = {
        {"KuGou_a", "KuGou_a"}, {"TTPlayer_a", "TTPlayer_a"}, {"KuGou_a", "KuGou_a_1"}, {"KuGou_a", "KuGou_a_2"},
        {"KuGou_a_1", "KuGou_a_1"}, {"kugou_a", "kugou_a"}, {"", ""}, {"", "_1"}};
    for (const auto& [name, expected] : asks)
        EXPECT_STREQ(expected, CMxPublic::GetUniquePLName(name)) << name;

    // The iTunes reader keeps its own map; the run's names do not count there.
    CMap<CString, LPCSTR, int, int> own;
    EXPECT_STREQ("KuGou_a", CMxPublic::GetITunePLName("KuGou_a", &own));
    EXPECT_STREQ("KuGou_a_1", CMxPublic::GetITunePLName("KuGou_a", &own));
    EXPECT_STREQ("KuGou_a", CMxPublic::GetITunePLName("KuGou_a", nullptr));
    EXPECT_STREQ("KuGou_a_3", CMxPublic::GetUniquePLName("KuGou_a"));
}

// ---- the workers ----

class WorkerTest : public FileOpsTest {
protected:
    // Writes C:\<rel> (forward slashes), making its folders.
    void Put(const std::string& rel, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(machine.HostC(rel)).parent_path());
        WriteHostFile(machine.HostC(rel), bytes);
    }
    std::vector<std::string> RunToEnd(int id, bool bSearching = false) {
        EXPECT_GT(id, 0);
        EXPECT_TRUE(sink.PumpUntilExit(id, kPatience)) << "the worker did not end";
        std::vector<std::string> out;
        for (const std::string& d : Described(id))
            if (bSearching || d.rfind("IMPORT_SEARCHING", 0) != 0) out.push_back(d);
        return out;
    }
};

struct PlayerImportCase {
    const char* name;
    std::vector<const char*> playlist;  // the songs of playlist "P"
    std::vector<const char*> folders;
    std::vector<const char*> imported;  // in the library before
    Seq expected;
    std::vector<const char*> stored;  // analysed records afterwards
};

class PlayerImportTest : public WorkerTest, public ::testing::WithParamInterface<PlayerImportCase> {};

TEST_P(PlayerImportTest, ReportsEverySongUnderItsPlaylist) {
    const PlayerImportCase& c = GetParam();
    Song("a.mp3", Mp3("a"));
    Song("dir/b.mp3", Mp3("b"));
    Song("dir/notes.txt", "text");
    Song("dir/empty.mp3", "");
    for (const char* path : c.imported) AddSong(path);
    CList<PLAYLISTINFO, PLAYLISTINFO&> playlists;
    PLAYLISTINFO p;
    p.strPLName = "P";
    for (const char* path : c.playlist) p.lstFilePath.AddTail(path);
    if (!c.playlist.empty()) playlists.AddTail(p);
    CStringList folders;
    for (const char* path : c.folders) folders.AddTail(path);
    EXPECT_EQ(c.expected, RunToEnd(manager.AsynAddOtherPlayerInfos(&playlists, &folders, sink.GetHwnd())));
    for (const char* path : c.stored) EXPECT_STREQ("1", Record(path).Analyzed) << path;
    EXPECT_FALSE(Db()->CheckFileImportedByFileName("C:\\music\\gone.mp3"));
}

INSTANTIATE_TEST_SUITE_P(
    Import, PlayerImportTest,
    ::testing::Values(
        PlayerImportCase{"PlaylistSongsThenFolderSongsUnderTheDefaultList", {"C:\\music\\a.mp3"},
                         {"C:\\music\\dir\\", "C:\\music\\nowhere", "C:\\music\\a.mp3"}, {},
                         {"BEGIN_IMPORT 2", "BEGIN_IMPORT_ONE_OF_PLAYLIST(P)", "BEGIN_IMPORT_ONE_OF_FILE(a.mp3)",
                          "END_IMPORT_ONE_OF_FILE(a.mp3|P):50", "END_IMPORT_ONE_OF_PLAYLIST(P)", "BEGIN_IMPORT_ONE_OF_FILE(dir\\b.mp3)",
                          "END_IMPORT_ONE_OF_FILE(dir\\b.mp3|" + kDefaultList + "):100", "END_IMPORT", "THREAD_EXIT"},
                         {"C:\\music\\a.mp3", "C:\\music\\dir\\b.mp3"}},
        // Missing songs and songs on drives the machine lacks are reported, not passed over.
        PlayerImportCase{"MissingSongsAreReportedAsNotFound", {"C:\\music\\gone.mp3", "Q:\\x.mp3", "C:\\music\\a.mp3"}, {}, {},
                         {"BEGIN_IMPORT 3", "BEGIN_IMPORT_ONE_OF_PLAYLIST(P)", "BEGIN_IMPORT_ONE_OF_FILE(gone.mp3)",
                          "FILEOPERATE_ERROR(gone.mp3||P)#1", "END_IMPORT_ONE_OF_FILE(gone.mp3|P):33", "BEGIN_IMPORT_ONE_OF_FILE(Q:\\x.mp3)",
                          "FILEOPERATE_ERROR(Q:\\x.mp3||P)#1", "END_IMPORT_ONE_OF_FILE(Q:\\x.mp3|P):66", "BEGIN_IMPORT_ONE_OF_FILE(a.mp3)",
                          "END_IMPORT_ONE_OF_FILE(a.mp3|P):100", "END_IMPORT_ONE_OF_PLAYLIST(P)", "END_IMPORT", "THREAD_EXIT"},
                         {"C:\\music\\a.mp3"}},
        PlayerImportCase{"SongsInTheLibraryAreReportedAndStillEndedForThePlaylist", {"C:\\music\\a.mp3", "C:\\music\\dir\\notes.txt"}, {},
                         {"C:\\music\\a.mp3"},
                         {"BEGIN_IMPORT 2", "BEGIN_IMPORT_ONE_OF_PLAYLIST(P)", "BEGIN_IMPORT_ONE_OF_FILE(a.mp3)",
                          "FILEOPERATE_ERROR(a.mp3|a.mp3|P)#15", "END_IMPORT_ONE_OF_FILE(a.mp3|P):50", "BEGIN_IMPORT_ONE_OF_FILE(dir\\notes.txt)",
                          "FILEOPERATE_ERROR(dir\\notes.txt||P)#13", "END_IMPORT_ONE_OF_FILE(dir\\notes.txt|P):100",
                          "END_IMPORT_ONE_OF_PLAYLIST(P)", "END_IMPORT", "THREAD_EXIT"}, {}},
        PlayerImportCase{"NothingToImport", {}, {}, {}, {"FILEOPERATE_ERROR()#2", "THREAD_EXIT"}, {}}), Named);

TEST_F(WorkerTest, ImportPreconditionsComeInOrder) {
    CList<PLAYLISTINFO, PLAYLISTINFO&> none;
    EXPECT_EQ(-1, manager.AsynAddOtherPlayerInfos(nullptr, nullptr, sink.GetHwnd()));
    TestManager noDestManager;
    EXPECT_EQ(-1, noDestManager.AsynAddSelfDircFiles(sink.GetHwnd(), nullptr));
    CFileOperateAddOtherPlayerInfosThread noDest(&none, nullptr);
    EXPECT_EQ(FOR_NO_DEST_DIRECTORY, noDest.RunInCaller());
    CFileOperateAddOtherPlayerInfosThread nothing(&none, nullptr);
    nothing.m_strDestDirectory = "C:\\lib";
    EXPECT_EQ(FOR_NO_FILE, nothing.RunInCaller());
    CFileOperateAddOtherPlayerInfosThread stopped(&none, nullptr);
    stopped.m_bStop = 1;
    EXPECT_EQ(0, stopped.RunInCaller());
}

TEST_F(WorkerTest, ImportingAnotherPlayersSongNeverRenamesIt) {
    Song("misnamed.wma", Mp3("m"));  // the extension says the other format
    CList<PLAYLISTINFO, PLAYLISTINFO&> playlists;
    PLAYLISTINFO p;
    p.lstFilePath.AddTail("C:\\music\\misnamed.wma");
    playlists.AddTail(p);
    RunToEnd(manager.AsynAddOtherPlayerInfos(&playlists, nullptr, sink.GetHwnd()));
    EXPECT_TRUE(HostExists(machine.HostC("music/misnamed.wma")));
    EXPECT_FALSE(HostExists(machine.HostC("music/misnamed.mp3")));
}

// The machine has C:\music (music-named), the user's music folder and the desktop; D: is a fixed drive too.
struct AutoCase {
    const char* name;
    std::vector<const char*> files;  // below C:, forward slashes
    Seq expected;
};

class AutoAddTest : public WorkerTest, public ::testing::WithParamInterface<AutoCase> {};

TEST_P(AutoAddTest, ImportsTheSongsOfMusicFolders) {
    for (const char* rel : GetParam().files) Put(rel, Mp3(rel));
    std::vector<std::string> seq = RunToEnd(manager.AsynAutoAddSongs(sink.GetHwnd()), true);
    std::vector<std::string> searched, rest;
    for (const std::string& d : seq) (d.rfind("IMPORT_SEARCHING", 0) == 0 ? searched : rest).push_back(d);
    EXPECT_EQ(GetParam().expected, rest);
    EXPECT_NE(std::find(searched.begin(), searched.end(), "IMPORT_SEARCHING(C:)"), searched.end());
    for (const std::string& d : searched) EXPECT_EQ(std::string::npos, d.find("Program Files")) << d;
}

INSTANTIATE_TEST_SUITE_P(
    AutoAdd, AutoAddTest,
    // A count of 0 shows as the bare name.
    ::testing::Values(
        AutoCase{"AnEmptyMachineStillRunsTheImport", {}, {"BEGIN_IMPORT", "END_IMPORT", "THREAD_EXIT"}},
        AutoCase{"MusicNamedFoldersAreWalkedWholeAndProgramFilesNeverEntered",
                 {"Program Files/Music/p.mp3", "x/MyMuSiC/deep/Song/z.mp3", "x/plain/y.mp3",
                  "users/tester/Music/m.mp3", "users/tester/Desktop/d.mp3"},
                 {"BEGIN_IMPORT 3", "BEGIN_IMPORT_ONE_OF_FILE(users\\tester\\Desktop\\d.mp3)",
                  "END_IMPORT_ONE_OF_FILE(users\\tester\\Desktop\\d.mp3|" + kDefaultList + "):33",
                  "BEGIN_IMPORT_ONE_OF_FILE(users\\tester\\Music\\m.mp3)",
                  "END_IMPORT_ONE_OF_FILE(users\\tester\\Music\\m.mp3|" + kDefaultList + "):66",
                  "BEGIN_IMPORT_ONE_OF_FILE(x\\MyMuSiC\\deep\\Song\\z.mp3)",
                  "END_IMPORT_ONE_OF_FILE(x\\MyMuSiC\\deep\\Song\\z.mp3|" + kDefaultList + "):100",
                  "END_IMPORT", "THREAD_EXIT"}}), Named);

struct SelfCase {
    const char* name;
    std::vector<std::pair<const char*, const char*>> files;  // below C:\lib; "mp3" stands for a song
    std::vector<const char*> excluded;
    std::vector<const char*> imported;
    Seq expected;
};

class SelfDirTest : public WorkerTest, public ::testing::WithParamInterface<SelfCase> {};

TEST_P(SelfDirTest, ImportsTheLibraryFoldersNewSongs) {
    const SelfCase& c = GetParam();
    if (!c.files.empty()) std::filesystem::create_directories(machine.HostC("lib"));
    for (const auto& [rel, bytes] : c.files)
        Put(std::string("lib/") + rel, std::string(bytes) == "mp3" ? Mp3(rel) : bytes);
    for (const char* path : c.imported) AddSong(path);
    CStringList excluded;
    for (const char* path : c.excluded) excluded.AddTail(path);
    EXPECT_EQ(c.expected, RunToEnd(manager.AsynAddSelfDircFiles(sink.GetHwnd(), &excluded)));
}

INSTANTIATE_TEST_SUITE_P(
    SelfDir, SelfDirTest,
    ::testing::Values(SelfCase{"AMissingLibraryFolder", {}, {}, {}, {"FILEOPERATE_ERROR()#4", "THREAD_EXIT"}},
                      SelfCase{"NoSongInTheLibraryFolder", {{"notes.txt", "text"}, {"empty.mp3", ""}}, {}, {},
                               {"FILEOPERATE_ERROR()#7", "THREAD_EXIT"}},
                      SelfCase{"ExclusionsIgnoreLetterCaseAndKnownSongsAreReported",
                               {{"a.mp3", "mp3"}, {"sub/B.mp3", "mp3"}, {"sub/c.mp3", "mp3"}}, {"c:\\LIB\\SUB\\b.MP3"},
                               {"C:\\lib\\sub\\c.mp3"},
                               {"BEGIN_COPY_MULTI_FILES 2", "BEGIN_COPY_ONE_OF_MULTI_FILES(lib\\a.mp3|lib\\a.mp3)",
                                "END_COPY_ONE_OF_MULTI_FILES(lib\\a.mp3|lib\\a.mp3):50",
                                "FILEOPERATE_ERROR(lib\\sub\\c.mp3|lib\\sub\\c.mp3)#15", "END_COPY_MULTI_FILES", "THREAD_EXIT"}}), Named);

}  // namespace
}  // namespace mxtest
