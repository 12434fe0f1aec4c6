#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "library/LibraryFixture.h"

namespace {

using mxtest::FacadeTest;
using mxtest::Gbk;
using V = std::vector<std::string>;

const char* const kDefault = mxlib::kDefaultPlaylist;

TEST_F(FacadeTest, NothingIsFoundBeforeTheFirstStartWhichCreatesTheFolderIndexAndDefaultList) {
    DBRECORD r;
    EXPECT_EQ(0, Db()->GetSongInfo("C:\\a.mp3", &r));
    EXPECT_EQ(0, Db()->AddSongInfo2Playlist(kDefault, "C:\\a.mp3"));
    EXPECT_EQ(V{"<no playlist>"}, Songs(kDefault));
    Start();
    EXPECT_EQ(Gbk("默认列表").str() + "\r\n", mxtest::ReadHostFile(Host("playlist.idx")));
    EXPECT_EQ("", mxtest::ReadHostFile(Host("默认列表.upl")));
    EXPECT_TRUE(mxtest::HostExists(Host("默认列表.upl")));
    EXPECT_EQ(V{"默认列表"}, Playlists());
    EXPECT_EQ(V{}, Songs(kDefault));
    DBRECORDLIST results;
    results.AddTail(DBRECORD());
    EXPECT_EQ(0, Db()->LocalSearch("nope", nullptr, results, -1, 1));
    EXPECT_EQ(1, results.GetCount());  // an unknown playlist leaves the results
}

TEST_F(FacadeTest, PlaylistEntriesAreTenBytesInTheirFile) {
    StartWith({"C:\\a.mp3", "C:\\b.mp3"}, nullptr);
    ASSERT_EQ(1, Db()->AddPlayList("Mix"));
    EXPECT_EQ(1, Db()->AddSongInfo2Playlist("Mix", "C:\\B.mp3"));
    EXPECT_EQ(1, Db()->AddSongInfo2Playlist("Mix", "C:\\a.mp3"));
    EXPECT_EQ(0, Db()->AddSongInfo2Playlist("Mix", "C:\\none.mp3"));
    EXPECT_EQ(0, Db()->AddSongInfo2Playlist("None", "C:\\a.mp3"));
    EXPECT_EQ(std::string("\x01\0\0\0\x02\0\0\0\0\0\x02\0\0\0\x01\0\0\0\0\0", 20), mxtest::ReadHostFile(Host("Mix.upl")));
    EXPECT_EQ((V{"C:\\b.mp3", "C:\\a.mp3"}), Songs("Mix"));
    EXPECT_EQ(Gbk("默认列表").str() + "\r\nMix\r\n", mxtest::ReadHostFile(Host("playlist.idx")));
}

struct MoveCase {
    int from, to, result;
    V order;
};

TEST_F(FacadeTest, MovedPlaylistsAndSongsKeepTheirOrderAfterARestartAndTheDefaultListStaysFirst) {
    StartWith({"C:\\a.mp3", "C:\\b.mp3", "C:\\c.mp3"}, kDefault);
    Db()->AddPlayList("A");
    Db()->AddPlayList("B");
    const std::vector<MoveCase> cases = {
        {0, 2, 0, {"默认列表", "A", "B"}}, {2, 0, 0, {"默认列表", "A", "B"}}, {1, 1, 0, {"默认列表", "A", "B"}},
        {3, 1, 0, {"默认列表", "A", "B"}}, {1, 5, 1, {"默认列表", "B", "A"}}, {2, 1, 1, {"默认列表", "A", "B"}},
        {1, 2, 1, {"默认列表", "B", "A"}},
    };
    for (const MoveCase& c : cases) {
        EXPECT_EQ(c.result, Db()->MovePlaylist(c.from, c.to)) << c.from << "->" << c.to;
        EXPECT_EQ(c.order, Playlists()) << c.from << "->" << c.to;
    }
    EXPECT_EQ(1, Db()->MoveSongInfo(kDefault, 1, 3));
    EXPECT_EQ((V{"C:\\b.mp3", "C:\\c.mp3", "C:\\a.mp3"}), Songs(kDefault));
    EXPECT_EQ(0, Db()->MoveSongInfo(kDefault, 0, 1));
    EXPECT_EQ(0, Db()->MoveSongInfo(kDefault, 1, 4));
    EXPECT_EQ(0, Db()->MoveSongInfo("none", 1, 2));
    Start();
    EXPECT_EQ((V{"默认列表", "B", "A"}), Playlists());
    EXPECT_EQ((V{"C:\\b.mp3", "C:\\c.mp3", "C:\\a.mp3"}), Songs(kDefault));
    EXPECT_EQ(1, Db()->MoveSongInfo(kDefault, 3, 1));
    EXPECT_EQ((V{"C:\\a.mp3", "C:\\b.mp3", "C:\\c.mp3"}), Songs(kDefault));
}

TEST_F(FacadeTest, SongLeavesTheLibraryWithItsLastPlaylistEntryAndADeletedSongLeavesEveryPlaylist) {
    StartWith({"C:\\a.mp3", "C:\\a.mp3", "C:\\b.mp3", "C:\\c.mp3", "C:\\d.mp3"}, kDefault);
    int deleted = -1;
    EXPECT_EQ(1, Db()->RemoveSongInfoFromPlaylist(kDefault, 1, deleted));
    EXPECT_EQ(0, deleted);  // the second entry keeps it
    EXPECT_EQ(1, Db()->CheckFileImportedByFileName("C:\\a.mp3"));
    EXPECT_EQ(1, Db()->RemoveSongInfoFromPlaylist(kDefault, 1, deleted));
    EXPECT_EQ(1, deleted);
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName("C:\\a.mp3"));
    EXPECT_EQ(0, Db()->RemoveSongInfoFromPlaylist(kDefault, 5));
    EXPECT_EQ(0, Db()->RemoveSongInfoFromPlaylist("", 1));
    EXPECT_EQ(1, Db()->RemoveSongInfoFromPlaylist(kDefault, 1));
    EXPECT_EQ(0, Db()->CheckFileImportedByFileName("C:\\b.mp3"));
    Db()->AddPlayList("P");
    for (const char* p : {"C:\\c.mp3", "C:\\d.mp3"}) Db()->AddSongInfo2Playlist("P", p);
    EXPECT_EQ(1, Db()->DeleteSongInfo("", "C:\\C.MP3"));
    EXPECT_EQ(V{"C:\\d.mp3"}, Songs(kDefault));
    EXPECT_EQ(V{"C:\\d.mp3"}, Songs("P"));
    EXPECT_EQ(V{"C:\\d.mp3"}, Songs(""));
    EXPECT_EQ(0, Db()->DeleteSongInfo("", "C:\\c.mp3"));
    Start();
    EXPECT_EQ(V{"C:\\d.mp3"}, Songs("P"));
}

TEST_F(FacadeTest, EntryOfAVanishedSongIsFreedAndReused) {
    StartWith({"C:\\a.mp3", "C:\\b.mp3"}, kDefault);
    mxtest::TestOperater::Reset();
    {
        // The song leaves the library behind the playlist's back.
        CDBCore core(mxtest::Gbk("C:\\users\\tester\\AppData\\Roaming\\Tamborinebox\\user_musicDB\\"));
        ASSERT_EQ(1, core.OpenLibrary());
        ASSERT_EQ(1, core.DeleteRecord("C:\\a.mp3"));
    }
    Start();
    std::string upl = mxtest::ReadHostFile(Host("默认列表.upl"));
    ASSERT_EQ(20u, upl.size());
    EXPECT_EQ('\xFF', upl[8]);
    EXPECT_EQ(V{"C:\\b.mp3"}, Songs(kDefault));
    AddSong("C:\\c.mp3");
    ASSERT_EQ(1, Db()->AddSongInfo2Playlist(kDefault, "C:\\c.mp3"));
    upl = mxtest::ReadHostFile(Host("默认列表.upl"));
    EXPECT_EQ(20u, upl.size());
    EXPECT_EQ('\0', upl[8]);
    EXPECT_EQ(3u, mxlib::GetU32(reinterpret_cast<const unsigned char*>(upl.data())));  // position 3, slot 1
    EXPECT_EQ((V{"C:\\b.mp3", "C:\\c.mp3"}), Songs(kDefault));
}

TEST_F(FacadeTest, PlaylistAtTheHighestPositionNumberTakesNoMoreSongs) {
    // Found by fuzzing: the next position number used to wrap to 0 and collide with an entry.
    StartWith({"C:\\a.mp3"}, kDefault);
    mxtest::TestOperater::Reset();
    std::string upl = mxtest::ReadHostFile(Host("默认列表.upl"));
    upl.replace(0, 4, "\xFF\xFF\xFF\xFF");
    upl += std::string("\0\0\0\0\x01\0\0\0\0\0", 10);  // position 0, the same song
    mxtest::WriteHostFile(Host("默认列表.upl"), upl);
    Start();
    EXPECT_EQ((V{"C:\\a.mp3", "C:\\a.mp3"}), Songs(kDefault));
    EXPECT_EQ(0, Db()->AddSongInfo2Playlist(kDefault, "C:\\a.mp3"));
    EXPECT_EQ(1, Db()->DeleteSongInfo("", "C:\\a.mp3"));
    EXPECT_EQ(V{}, Songs(kDefault));
}

TEST_F(FacadeTest, RenamingAndDeletingPlaylistsOfNamesOutsideGbk) {
    StartWith({"C:\\a.mp3"}, nullptr);
    const CString name = MxUtf8ToAnsi("Motörhead 😀"), renamed = MxUtf8ToAnsi("Señor 음악");
    ASSERT_EQ(1, Db()->AddPlayList(name));
    Db()->AddSongInfo2Playlist(name, "C:\\a.mp3");
    EXPECT_EQ(1, Db()->RenamePlayList(name, renamed));
    EXPECT_FALSE(mxtest::HostExists(Host("Motörhead 😀.upl")));
    EXPECT_EQ(0, Db()->RenamePlayList(name, "x"));
    Start();
    EXPECT_EQ((V{"默认列表", "Señor 음악"}), Playlists());
    EXPECT_EQ(V{"C:\\a.mp3"}, Songs(renamed));
    EXPECT_EQ(1, Db()->DeletePlayList(renamed));
    EXPECT_FALSE(mxtest::HostExists(Host("Señor 음악.upl")));
    EXPECT_EQ(V{"默认列表"}, Playlists());
    EXPECT_EQ(1, Db()->CheckFileImportedByFileName("C:\\a.mp3"));  // the song stays in the library
    EXPECT_EQ(0, Db()->DeletePlayList("none"));
}

// A refused change leaves the index, the files and the songs of every list as they were, also after a
// restart; the default list always exists.
TEST_F(FacadeTest, RefusedPlaylistChangesLeaveNothingBehind) {
    StartWith({"C:\\a.mp3"}, nullptr);
    Db()->AddPlayList("Mine");
    Db()->AddPlayList(MxUtf8ToAnsi("Кино"));
    Db()->AddSongInfo2Playlist("Mine", "C:\\a.mp3");
    mxtest::WriteHostFile(Host("Lost.upl"), std::string(10, '\1'));  // a list's file whose name the index lost
    const std::string index = mxtest::ReadHostFile(Host("playlist.idx"));
    const std::string files = mxtest::RunCommand("ls -A '" + Host("") + "'");
    const std::function<int()> refused[] = {
        [&] { return Db()->AddPlayList("a/b\\c"); },     [&] { return Db()->AddPlayList("a:b"); },
        [&] { return Db()->AddPlayList("why?"); },        [&] { return Db()->AddPlayList("two\nlines"); },
        [&] { return Db()->AddPlayList("nul"); },         [&] { return Db()->AddPlayList("Com1"); },
        [&] { return Db()->AddPlayList("dot."); },        [&] { return Db()->AddPlayList("MINE"); },
        [&] { return Db()->DeletePlayList(kDefault); },   [&] { return Db()->RenamePlayList(kDefault, "X"); },
        [&] { return Db()->RenamePlayList("Mine", "a/b\\c"); }, [&] { return Db()->RenamePlayList("Mine", kDefault); },
        [&] { return Db()->AddPlayList(MxUtf8ToAnsi("кино")); }, [&] { return Db()->RenamePlayList("Mine", MxUtf8ToAnsi("КИНО")); },
        [&] { return Db()->AddPlayList("lost"); },       [&] { return Db()->AddPlayList(""); },
    };
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < std::size(refused); ++i) {
            EXPECT_EQ(0, refused[i]()) << i;
            EXPECT_EQ(index, mxtest::ReadHostFile(Host("playlist.idx"))) << i;
            EXPECT_EQ(files, mxtest::RunCommand("ls -A '" + Host("") + "'")) << i;
            EXPECT_EQ(std::string(10, '\1'), mxtest::ReadHostFile(Host("Lost.upl"))) << i;
        }
        EXPECT_EQ((V{"默认列表", "Mine", "Кино"}), Playlists());
        EXPECT_EQ(V{"C:\\a.mp3"}, Songs("Mine"));
        Start();
    }
    // Taken by Unicode letter case, also when the list's file went away from outside.
    std::filesystem::remove(Host("Кино.upl"));
    EXPECT_EQ(0, Db()->AddPlayList(MxUtf8ToAnsi("кино")));
    // A line that an earlier failure left in the index, with no file, can be removed.
    mxtest::WriteHostFile(Host("playlist.idx"), index + "a/b\\c\r\n");
    Start();
    EXPECT_EQ(1, Db()->DeletePlayList("a/b\\c"));
    EXPECT_EQ(index, mxtest::ReadHostFile(Host("playlist.idx")));
}

// The module's literals follow the system code page; the default list's name too, which is refused
// before its file is touched.
TEST_F(FacadeTest, DefaultListUnderUtf8IsRefusedBeforeItsFileIsTouched) {
    machine.SetCodePage("65001");
    Start();
    EXPECT_EQ(V{"默认列表"}, Playlists());
    EXPECT_EQ("未知", MxAnsiToUtf8(DBRECORD().Artist));
    const CString name = CMxPublic::GbkLiteral(kDefault);
    struct stat before {}, after {};
    ASSERT_EQ(0, stat(Host("默认列表.upl").c_str(), &before));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a move would show in the change time
    EXPECT_EQ(0, Db()->RenamePlayList(name, "X"));
    EXPECT_EQ(0, Db()->DeletePlayList(name));
    ASSERT_EQ(0, stat(Host("默认列表.upl").c_str(), &after));
    EXPECT_EQ(before.st_ctim.tv_sec * 1000000000LL + before.st_ctim.tv_nsec, after.st_ctim.tv_sec * 1000000000LL + after.st_ctim.tv_nsec);
}

TEST_F(FacadeTest, AFullDiskLosesNoPlaylist) {
    StartWith({"C:\\a.mp3"}, nullptr);
    ASSERT_EQ(1, Db()->AddPlayList("Foo"));
    ASSERT_EQ(1, Db()->AddSongInfo2Playlist("Foo", "C:\\a.mp3"));
    mxtest::TestOperater::Reset();
    EXPECT_EQ(0, mxtest::WithFileSizeLimit(0, [] {
        CDBOperater* db = CDBOperater::Instance();
        if (!db->InitLocalDataBase()) return 2;
        if (db->AddPlayList("Bar")) return 3;
        return db->AddSongInfo2Playlist(mxtest::Gbk("默认列表"), "C:\\a.mp3") ? 4 : 0;
    }));
    Start();
    EXPECT_EQ((V{"默认列表", "Foo"}), Playlists());
    EXPECT_EQ(V{"C:\\a.mp3"}, Songs("Foo"));
    EXPECT_EQ(V{}, Songs(kDefault));
    EXPECT_EQ(1, Db()->AddPlayList("Bar"));  // nothing of the failed try is left in the way
}

TEST_F(FacadeTest, ConcurrentCallersLeaveAConsistentLibrary) {
    Start();
    Db()->AddPlayList("Shared");
    const int kThreads = 4, kSongs = 40;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kSongs; ++i) {
                CString path;
                path.Format("C:\\t%d\\song%d.mp3", t, i);
                DBRECORD r = mxtest::Rec(path, "", "artist");
                if (!Db()->AddSongInfo(&r, t - 2)) ++failures;  // the second argument is not looked at
                if (!Db()->AddSongInfo2Playlist("Shared", path)) ++failures;
                DBRECORD change;
                change.Opinion = "5";
                if (!Db()->UpdateSongInfo(path, &change, 0x40)) ++failures;
                if (i % 4 == 0) {
                    CList<CString, CString> words;
                    words.AddTail(CString("artist"));
                    DBRECORDLIST found;
                    Db()->LocalSearch("Shared", &words, found, -1, 1);
                }
                if (i % 5 == 0 && !Db()->DeleteSongInfo("", path)) ++failures;
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(0, failures.load());
    const size_t kLeft = size_t(kThreads * (kSongs - kSongs / 5));
    for (int restart = 0; restart < 2; ++restart) {
        EXPECT_EQ(kLeft, Songs("").size());
        EXPECT_EQ(kLeft, Songs("Shared").size());
        Start();
    }
    DBRECORD out;
    ASSERT_EQ(1, Db()->GetSongInfo("C:\\t2\\song7.mp3", &out));
    EXPECT_STREQ("5", out.Opinion);
}

}  // namespace
