// The Winamp, Windows Media Player and iTunes readers on an emulated machine where each player's
// installation is made from its files and registry values: M3U, playlists.xml, PLS, WPL, the library
// database scan and the iTunes property list, hostile files included.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "importers/NoticeWindow.h"
#include "tests/support/AudioBuilders.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/TempMachine.h"

using namespace mxtest;

namespace {

typedef CList<PLAYLISTINFO, PLAYLISTINFO&> PLAYLISTS;
typedef std::vector<std::pair<std::string, std::vector<std::string>>> Lists;  // name, paths

std::string Song() { return Frames(Mpeg1Layer3Header128(), 417, 8); }
const char kDefault[] = "[\xC4\xAC\xC8\xCF]";  // [默认]

template <class LIST> std::vector<std::string> Strings(const LIST& list) {
    std::vector<std::string> out;
    for (POSITION pos = list.GetHeadPosition(); pos;) out.push_back(std::string(list.GetNext(pos)));
    return out;
}

Lists Flatten(PLAYLISTS& lists) {
    Lists out;
    for (POSITION pos = lists.GetHeadPosition(); pos;) {
        PLAYLISTINFO& info = lists.GetNext(pos);
        out.push_back({std::string(info.strPLName), Strings(info.lstFilePath)});
    }
    return out;
}

Lists Found(OTHERPLAYERMAP& map, int nKey) {
    OTHERPLAYERINFO info;
    return map.Lookup(nKey, info) ? Flatten(info.lstPlayList) : Lists();
}

class PlayersTest : public MachineTest {
protected:
    void SetUp() override {
        CMxPublic::m_mapPLName2Index.RemoveAll();
        Put("m/a.mp3", Song());
        Put("m/b.mp3", Song());
        Put("m/not audio.mp3", "just text");
    }
    void Put(const std::string& rel, const std::string& bytes) { WriteHostFile(machine.HostC(rel), bytes); }
    // Winamp 2 to 5 installed in C:\Program Files\Winamp with that product version.
    void InstallWinamp(uint32_t versionMS) {
        SetReg(HKEY_CURRENT_USER, "Software\\Winamp\\", "C:\\Program Files\\Winamp");
        Put("Program Files/Winamp/winamp.exe", VersionedPe(versionMS, 0, versionMS, 0));
    }
};

const char kAppDataWinamp[] = "users/tester/AppData/Roaming/Winamp";
const char kWmpLocal[] = "users/tester/AppData/Local/Microsoft/Media Player";
const char kWmpRoaming[] = "users/tester/AppData/Roaming/Microsoft/Media Player";

// ---- Winamp ----

TEST_F(PlayersTest, WinampReadsTheLayoutItsVersionNames) {
    struct Row {
        uint32_t versionMS;
        const char* where;
    } rows[] = {{0x50005, kAppDataWinamp}, {0x50038, kAppDataWinamp}, {0x50003, "Program Files/Winamp"}, {0x20009, "Program Files/Winamp"}};
    InstallWinamp(0x50005);
    for (const Row& row : rows) {
        CMxPublic::m_mapPLName2Index.RemoveAll();
        std::filesystem::remove_all(machine.HostC(kAppDataWinamp));
        std::filesystem::remove_all(machine.HostC("Program Files/Winamp"));
        Put("Program Files/Winamp/winamp.exe", VersionedPe(row.versionMS, 0, row.versionMS, 0));
        Put(std::string(row.where) + "/winamp.m3u", "C:\\m\\a.mp3\r\n");
        Put(std::string(row.where) + "/Plugins/ml/playlists.xml", "<playlists><playlist title=\"Road\" filename=\"plf1.m3u\"/></playlists>");
        Put(std::string(row.where) + "/Plugins/ml/plf1.m3u", "#EXTM3U\nC:\\m\\a.mp3\n");
        OTHERPLAYERMAP map;
        CMxPublic::FindWinamp(&map, nullptr);
        Lists expected = {{std::string("Winamp_") + kDefault, {"C:\\m\\a.mp3"}}, {"Winamp_Road", {"C:\\m\\a.mp3"}}};
        EXPECT_EQ(Found(map, OPK_WINAMP), expected) << std::hex << row.versionMS;
    }
}

TEST_F(PlayersTest, M3uKeepsExistingAudioLinesOnly) {
    struct Row {
        std::string text;
        std::vector<std::string> paths;  // empty: no playlist
    } rows[] = {
        {"#EXTM3U\r\n#EXTINF:12,A - B\r\nC:\\m\\a.mp3\r\nC:\\m\\b.mp3\r\n", {"C:\\m\\a.mp3", "C:\\m\\b.mp3"}},
        {"C:\\m\\b.mp3\nC:\\m\\a.mp3", {"C:\\m\\b.mp3", "C:\\m\\a.mp3"}},  // no line end at the end
        {"#EXTM3U\n#EXTINF:1,x\nC:\\m\\missing.mp3\n", {}},
        {"C:\\m\\not audio.mp3\nC:\\m\nnot a path\n\n", {}},
        {"x#EXTy C:\\m\\a.mp3\nC:\\m\\a.mp3\n", {"C:\\m\\a.mp3"}},  // "#EXT" anywhere skips the line
        {"", {}},
        {"..\\m\\b.mp3\n\\m\\a.mp3\nm\\a.mp3\n", {"C:\\m\\b.mp3", "C:\\m\\a.mp3"}},  // relative to the list's folder
        {std::string("C:\\m\\a.mp3\ngarbage\0\xff\xfe\n", 22), {"C:\\m\\a.mp3"}},
    };
    for (const Row& row : rows) {
        Put("list/winamp.m3u", row.text);
        PLAYLISTS lists;
        CMxPublic::GetWinampDefaultPlayList_VNormal("C:\\list", &lists);
        Lists expected;
        if (!row.paths.empty()) expected.push_back({std::string("Winamp_") + kDefault, row.paths});
        EXPECT_EQ(Flatten(lists), expected) << row.text;
        CMxPublic::m_mapPLName2Index.RemoveAll();
    }
}

TEST_F(PlayersTest, MediaLibraryIndexNamesItsListsAndSurvivesDamage) {
    Put("w/Plugins/ml/one.m3u", "C:\\m\\a.mp3\n");
    Put("w/Plugins/ml/two.m3u", "C:\\m\\b.mp3\n");
    struct Row {
        const char* xml;
        std::vector<std::string> names;
    } rows[] = {
        {"<playlists><playlist title=\"Road\" filename=\"one.m3u\"/><x/><playlist title=\"Road\" filename=\"two.m3u\"/></playlists>",
         {"Winamp_Road", "Winamp_Road_1"}},
        {"<playlists><playlist title=\"A\"/><playlist title=\"B\" filename=\"gone.m3u\"/><playlist filename=\"two.m3u\"/></playlists>",
         {"Winamp_"}},
        {"<other><playlist title=\"A\" filename=\"one.m3u\"/></other>", {}},
        {"<playlists><playlist title=\"A\" filename=\"one.m3u\"", {}},
        {"<playlists><playlist title=\"A\" filename=\"..\\..\\..\\m\\a.mp3\"/></playlists>", {}},
    };
    for (const Row& row : rows) {
        CMxPublic::m_mapPLName2Index.RemoveAll();
        Put("w/Plugins/ml/playlists.xml", row.xml);
        PLAYLISTS lists;
        CMxPublic::GetWinampUserPlayList_VNormal("C:\\w", &lists);
        std::vector<std::string> names;
        for (auto& list : Flatten(lists)) names.push_back(list.first);
        EXPECT_EQ(names, row.names) << row.xml;
    }
}

TEST_F(PlayersTest, Winamp3PlsGivesNamedListsOfTheKnownVersionOnly) {
    struct Row {
        uint32_t versionLS;
        const char* text;
        Lists expected;
        std::vector<std::string> messages;
    } rows[] = {
        {488, "[playlist]\r\nPlaylistName=Mine\r\nFile1=C:\\\\m\\\\a.mp3\r\nTitle1=A\r\nFile2=C:\\m\\missing.mp3\r\nNumberOfEntries=2\r\n",
         {{"Mine", {"C:\\m\\a.mp3"}}}, {}},
        {488, "PlaylistName=%E6%AD%8C\nFile1=C:\\m\\b.mp3\n", {{"\xB8\xE8", {"C:\\m\\b.mp3"}}}, {}},  // 歌
        {488, "File1=C:\\m\\b.mp3\n", {{"list", {"C:\\m\\b.mp3"}}}, {}},
        {488, "PlaylistName=Empty\nFile1\nFile=\nNumberOfEntries=0\n", {}, {"Winamp 1.0.0.488"}},
        {489, "PlaylistName=Mine\nFile1=C:\\m\\a.mp3\n", {}, {"Winamp 1.0.0.489"}},
    };
    NoticeWindow window;
    SetReg(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Winamp3\\UninstallString",
           "C:\\Program Files\\Winamp3\\UninstWA3.exe");
    for (const Row& row : rows) {
        Put("Program Files/Winamp3/Studio.exe", VersionedPe(0x10000, row.versionLS, 0x10000, row.versionLS));
        Put("Program Files/Winamp3/Wacs/data/pledit/list.pls", row.text);
        OTHERPLAYERMAP map;
        CMxPublic::FindWinamp(&map, window.Get());
        EXPECT_EQ(Found(map, OPK_WINAMP), row.expected) << row.text;
        EXPECT_EQ(window.Take(), row.messages) << row.text;
    }
}

TEST_F(PlayersTest, WinampWithoutListsIsAnnouncedAndWithoutInstallIsSilent) {
    NoticeWindow window;
    OTHERPLAYERMAP map;
    CMxPublic::FindWinamp(&map, window.Get());
    EXPECT_TRUE(window.Take().empty());
    InstallWinamp(0x50003);
    Put("Program Files/Winamp/winamp.m3u", "#EXTM3U\nC:\\m\\missing.mp3\n");
    CMxPublic::FindWinamp(&map, window.Get());
    EXPECT_EQ(map.GetCount(), 0);
    EXPECT_EQ(window.Take(), std::vector<std::string>{"Winamp 5.3.0.0"});
}

// ---- Windows Media Player ----

std::string Wpl(const std::string& head, const std::string& media) {
    return "<?wpl version=\"1.0\"?><smil><head>" + head + "</head><body><seq>" + media + "</seq></body></smil>";
}

TEST_F(PlayersTest, WplNamesItsListAndResolvesSongsFromItsFolder) {
    struct Row {
        std::string xml;
        Lists expected;
    } rows[] = {
        {Wpl("<title>Mix</title>", "<media src=\"..\\..\\m\\a.mp3\"/><media src=\"C:\\m\\b.mp3\"/><media src=\"gone.mp3\"/>"),
         {{"WMP_Mix", {"C:\\m\\a.mp3", "C:\\m\\b.mp3"}}}},
        {Wpl("", "<media src=\"\\m\\a.mp3\"/><media/><media src=\"\"/>"), {{std::string("WMP_") + kDefault, {"C:\\m\\a.mp3"}}}},
        {Wpl("<title></title>", "<media src=\"../../m/b.mp3\"/>"), {{std::string("WMP_") + kDefault + "_1", {"C:\\m\\b.mp3"}}}},
        {Wpl("<title>Gone</title>", "<media src=\"C:\\m\\not audio.mp3\"/>"), {}},
        {"<smil><head><title>NoBody</title></head></smil>", {}},
        {"<smil><body><seq><media src=\"C:\\m\\a.mp3\"", {}},
        {"\x00\x01garbage", {}},
    };
    for (const Row& row : rows) {
        Put("p/q/list.wpl", row.xml);
        PLAYLISTS lists;
        CMxPublic::GetWMPPlayList("C:\\p\\q\\list.wpl", &lists);
        EXPECT_EQ(Flatten(lists), row.expected) << row.xml;
    }
}

TEST_F(PlayersTest, LibraryDatabaseScanFindsMentionedPlaylists) {
    Put("lists/Road.wpl", Wpl("<title>Road</title>", ""));
    Put("lists/Wide.WPL", Wpl("<title>Wide</title>", ""));
    Put("lists/Sample Playlists/S.wpl", Wpl("", ""));
    std::string z(1, '\0');
    struct Row {
        std::string bytes;
        std::vector<std::string> found;
    } rows[] = {
        {"C:\\lists\\Road.wpl" + z + "junk", {"C:\\lists\\Road.wpl"}},  // at the very start
        {"\x07" + z + "C:\\lists\\Road.wpl" + z + "C:\\lists\\road.WPL" + z, {"C:\\lists\\Road.wpl"}},
        {"\x01\x02" + z + z + Utf16("C:\\lists\\Wide.WPL") + z + z, {"C:\\lists\\Wide.WPL"}},
        {"x" + z + z + Utf16("C:\\lists\\Wide.wpl") + z + z, {"C:\\lists\\Wide.wpl"}},  // odd offset
        {z + "C:\\lists\\Sample Playlists\\S.wpl" + z + Utf16("C:\\lists\\Sample Playlists\\S.wpl"), {}},
        {z + "C:\\lists\\Gone.wpl" + z + "\\lists\\Road.wpl" + z + "lists\\Road.wpl" + z, {}},
        {z + std::string(300, 'a') + "C:\\lists\\Road.wpl" + z, {}},
        {".wpl" + Utf16(".wpl") + ".wp", {}},
    };
    for (const Row& row : rows) {
        Put("db/CurrentDatabase_372.wmdb", row.bytes);
        CList<CString, CString> databases, found;
        databases.AddTail(CString("C:\\db\\CurrentDatabase_372.wmdb"));
        CMxPublic::GetWMPUserPlayListFiles(&databases, &found);
        EXPECT_EQ(Strings(found), row.found) << row.bytes;
    }
    EXPECT_EQ(ReadHostFile(machine.HostC("db/CurrentDatabase_372.wmdb")), rows[7].bytes);  // read, never written
}

TEST_F(PlayersTest, WindowsMediaPlayerCountsAsUsedOnlyWithALibraryDatabase) {
    NoticeWindow window;
    SetReg(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\MediaPlayer\\Installation Directory", "C:\\Program Files\\Windows Media Player");
    Put("Program Files/Windows Media Player/wmplayer.exe", VersionedPe(0xB0000, 0x17711B58, 0xB0000, 0x17711B58));
    Put(std::string(kWmpRoaming) + "/Mine.wpl", Wpl("<title>Mine</title>", "<media src=\"C:\\m\\a.mp3\"/>"));
    Put(std::string(kWmpLocal) + "/WMPFolders.WMDB", "C:\\lists\\User.wpl");
    Put("lists/User.wpl", Wpl("<title>User</title>", "<media src=\"C:\\m\\b.mp3\"/>"));
    OTHERPLAYERMAP map;
    CMxPublic::FindWMP(&map, window.Get());
    EXPECT_EQ(map.GetCount(), 0);
    EXPECT_TRUE(window.Take().empty());

    Put(std::string(kWmpLocal) + "/CurrentDatabase_372.wmdb", std::string("\0C:\\lists\\User.wpl\0", 20));
    CMxPublic::FindWMP(&map, window.Get());
    Lists expected = {{"WMP_User", {"C:\\m\\b.mp3"}}, {"WMP_Mine", {"C:\\m\\a.mp3"}}};
    EXPECT_EQ(Found(map, OPK_WMP), expected);
    EXPECT_TRUE(window.Take().empty());

    OTHERPLAYERMAP none;
    DeleteFileA("C:\\m\\a.mp3");
    DeleteFileA("C:\\m\\b.mp3");
    CMxPublic::FindWMP(&none, window.Get());
    EXPECT_EQ(none.GetCount(), 0);
    EXPECT_EQ(window.Take(), std::vector<std::string>{"Windows Media Player 11.0.6001.7000"});
}

// ---- iTunes ----

std::string Track(int id, const std::string& location) {
    return "<key>" + std::to_string(id) + "</key><dict><key>Track ID</key><integer>" + std::to_string(id) +
           "</integer><key>Location</key><string>" + location + "</string></dict>";
}

std::string Playlist(const std::string& name, const std::vector<int>& ids) {
    std::string items;
    for (int id : ids) items += "<dict><key>Track ID</key><integer>" + std::to_string(id) + "</integer></dict>";
    return "<dict><key>Name</key><string>" + name + "</string><key>Playlist Items</key><array>" + items + "</array></dict>";
}

std::string Library(const std::string& folder, const std::string& tracks, const std::string& playlists) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>Major Version</key><integer>1</integer>"
           "<key>Music Folder</key><string>" + folder + "</string><key>Tracks</key><dict>" + tracks +
           "</dict><key>Playlists</key><array>" + playlists + "</array></dict></plist>";
}

class ITunesTest : public PlayersTest {
protected:
    void SetUp() override {
        PlayersTest::SetUp();
        SetReg(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\iTunes.exe\\",
               "C:\\Program Files\\iTunes\\iTunes.exe");
        Put("Program Files/iTunes/iTunes.exe", VersionedPe(0x70007, 0x10000, 0x70007, 0x10000));
        Put("m/with space.mp3", Song());
        Put("m/\xE6\xAD\x8C.mp3", Song());  // 歌
    }
    void PutLibrary(const std::string& xml) { Put("users/tester/Music/iTunes/iTunes Music Library.xml", xml); }
};

TEST_F(ITunesTest, UserPlaylistsAreReadAndAutomaticOnesLeftOut) {
    const std::string tracks = Track(10, "file://localhost/C:/m/a.mp3") + Track(11, "http://example.com/b.mp3") +
                               Track(12, "file://localhost/C:/m/with%20space.mp3") + Track(13, "file://localhost/C:/m/%E6%AD%8C.mp3") +
                               Track(14, "file://localhost/C:/m/missing.mp3") + "<key>15</key><dict><key>Location</key></dict>";
    struct Row {
        std::string playlist;
        Lists expected;
    } rows[] = {
        {Playlist("\xE6\x88\x91\xE7\x9A\x84\xE6\x9C\x80\xE7\x88\xB1", {10}), {}},  // 我的最爱
        {Playlist("My Favorites", {10}), {{"iTunes_My Favorites", {"C:\\m\\a.mp3"}}}},
        {Playlist("Web", {11, 14, 15, 99}), {}},
        {Playlist("Blank", {12}), {{"iTunes_Blank", {"C:\\m\\with space.mp3"}}}},
        {Playlist("Han", {13, 10}), {{"iTunes_Han", {"C:\\m\\\xB8\xE8.mp3", "C:\\m\\a.mp3"}}}},
        {Playlist("Twice", {10}) + Playlist("Twice", {12}),
         {{"iTunes_Twice", {"C:\\m\\a.mp3"}}, {"iTunes_Twice_1", {"C:\\m\\with space.mp3"}}}},
        {"<dict><key>Name</key><integer>3</integer><array><dict><integer>10</integer></dict></array></dict>", {{"iTunes_", {"C:\\m\\a.mp3"}}}},
    };
    for (const Row& row : rows) {
        PutLibrary(Library("file://localhost/C:/none/", tracks, row.playlist));
        OTHERPLAYERINFO info;
        int nCount = -1;
        CMxPublic::GetITuneDownloadPathAndPlayList(&info, nCount);
        EXPECT_EQ(Flatten(info.lstPlayList), row.expected) << row.playlist;
        EXPECT_EQ(nCount, int(row.expected.size()));
    }
}

TEST_F(ITunesTest, MusicFolderCountsOnlyWithAudioBelowIt) {
    Put("users/tester/Music/iTunes/iTunes Media/Music/x/a.mp3", Song());
    Put("Empty Media/readme.txt", "x");
    struct Row {
        const char* url;
        std::vector<std::string> folders;
    } rows[] = {
        {"file://localhost/C:/users/tester/Music/iTunes/iTunes%20Media/", {"C:\\users\\tester\\Music\\iTunes\\iTunes Media"}},
        {"file://localhost/C:/Empty%20Media/", {}},
        {"http://localhost/C:/users/tester/Music/iTunes/iTunes%20Media/", {}},
        {"file://localhost/", {}},
    };
    NoticeWindow window;
    for (const Row& row : rows) {
        PutLibrary(Library(row.url, "", ""));
        OTHERPLAYERMAP map;
        CMxPublic::FindITune(&map, window.Get());
        OTHERPLAYERINFO info;
        map.Lookup(OPK_ITUNES, info);
        EXPECT_EQ(Strings(info.lstMusicPath), row.folders) << row.url;
        EXPECT_EQ(window.Take(), std::vector<std::string>{"iTunes 7.7.1.0"});  // no playlist either way
    }
}

TEST_F(ITunesTest, DamagedOrMissingLibraryGivesNothing) {
    const char* libraries[] = {"", "<plist><dict><key>Tracks</key><dict>", "<plist><array/></plist>", "<other><dict/></other>",
                               "<plist><dict><key>Music Folder</key></dict></plist>"};
    for (const char* xml : libraries) {
        PutLibrary(xml);
        OTHERPLAYERMAP map;
        CMxPublic::FindITune(&map, nullptr);
        EXPECT_EQ(map.GetCount(), 0) << xml;
    }
    registry_value("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\iTunes.exe\\", HKEY_LOCAL_MACHINE).remove_value();
    PutLibrary(Library("", Track(1, "file://localhost/C:/m/a.mp3"), Playlist("P", {1})));
    NoticeWindow window;
    OTHERPLAYERMAP map;
    CMxPublic::FindITune(&map, window.Get());
    EXPECT_EQ(map.GetCount(), 0);
    EXPECT_TRUE(window.Take().empty());
}

}  // namespace
