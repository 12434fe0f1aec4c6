// The readers of KuGou, TTPlayer and Kuwo over installations built on the emulated machine: registry
// values, folders, record files written byte by byte and programs with a version resource.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "MxModule/MxModule.h"
#include "importers/NoticeWindow.h"
#include "support/AudioBuilders.h"
#include "support/PeBuilder.h"
#include "support/TempMachine.h"

namespace {

using mxtest::Gbk;
using mxtest::HostExists;
using mxtest::SetReg;
using mxtest::Utf16;
using mxtest::WriteHostFile;

// "name=path,path;..." with names in UTF-8 and the folder C:\m\ left out of paths.
std::string Render(const CList<PLAYLISTINFO, PLAYLISTINFO&>& lists) {
    std::string out;
    for (POSITION pos = lists.GetHeadPosition(); pos;) {
        const PLAYLISTINFO& info = lists.GetNext(pos);
        out += (out.empty() ? "" : ";") + MxAnsiToUtf8(info.strPLName) + "=";
        bool first = true;
        for (POSITION p = info.lstFilePath.GetHeadPosition(); p; first = false) {
            std::string path = MxAnsiToUtf8(info.lstFilePath.GetNext(p));
            if (path.rfind("C:\\m\\", 0) == 0) path = path.substr(5);
            out += (first ? "" : ",") + path;
        }
    }
    return out;
}

std::string Joined(const CStringList& paths) {
    std::string out;
    for (POSITION p = paths.GetHeadPosition(); p;) out += (out.empty() ? "" : ",") + MxAnsiToUtf8(paths.GetNext(p));
    return out;
}

// A player's lists, then "|" and its download folders.
std::string Described(const OTHERPLAYERINFO& info) { return Render(info.lstPlayList) + "|" + Joined(info.lstMusicPath); }

std::string Repeat(const std::string& item, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += (i ? "," : "") + item;
    return out;
}

// A record of `size` zero bytes with fields written at their offsets.
std::string Record(size_t size, const std::map<size_t, std::string>& fields) {
    std::string r(size, '\0');
    for (const auto& [at, bytes] : fields) r.replace(at, bytes.size(), bytes);
    return r;
}
std::string Byte(int v) { return std::string(1, char(v)); }

// The four record files of one KuGou 2007 user, by file name.
typedef std::map<std::string, std::string> FILESET;
std::string RecordFile(size_t header, const std::vector<std::string>& records) {
    std::string out(header, '\x5A');  // the header is skipped whatever it holds
    for (const auto& r : records) out += r;
    return out;
}
std::string Dir(int n, const std::string& path) { return Record(312, {{26, Byte(n)}, {31, path}}); }
std::string File(int dir, const std::string& name) { return Record(856, {{31, Byte(dir)}, {36, name}}); }
std::string Item(int list, int file, const std::string& name = "x") { return Record(352, {{31, Byte(list)}, {36, Byte(file)}, {46, name}}); }
std::string List(int n, const std::string& name) { return Record(96, {{26, Byte(n)}, {36, name}}); }

// A .ttbl file: magic, 12 unread bytes, the name's length and UTF-16 name, then the entries.
std::string Ttbl(const std::string& magic, const std::string& name, const std::string& entries, long long nameLength = -1) {
    std::string b = magic + std::string(12, '\x01') + std::string(4, '\0') + name + entries;
    mxtest::PutLe(b, 16, uint32_t(nameLength < 0 ? (long long)name.size() : nameLength), 4);
    return b;
}

class ReadersTest : public mxtest::MachineTest {
protected:
    void SetUp() override { CMxPublic::m_mapPLName2Index.RemoveAll(); }
    // A playable MP3 at C:\m\<name>.
    void Song(const std::string& name) { WriteHostFile(machine.HostC("m/" + name), mxtest::Frames(mxtest::Mpeg1Layer3Header128(), 417, 3)); }
    // Writes each row's file at C:\<at> and reads it with `read` afresh.
    struct FILEROW {
        const char* what;
        std::string file, expected;
    };
    template <class READ> void ReadRows(const char* at, const std::vector<FILEROW>& rows, READ read) {
        for (const FILEROW& row : rows) {
            SCOPED_TRACE(row.what);
            WriteHostFile(machine.HostC(at), row.file);
            CMxPublic::m_mapPLName2Index.RemoveAll();
            EXPECT_EQ(row.expected, read());
        }
    }
    std::string Found(OTHERPLAYERMAP& map, int key) {
        OTHERPLAYERINFO info;
        return map.Lookup(key, info) ? Described(info) : "<none>";
    }
    // A KuGou 2007 installation in C:\KuGoo with one folder per user.
    void KuGou2007(const std::map<std::string, FILESET>& users) {
        SetReg(HKEY_CURRENT_USER, "Software\\KuGoo4\\AppFileName", "C:\\KuGoo\\KuGoo.exe");
        for (const auto& [user, files] : users)
            for (const auto& [name, bytes] : files) WriteHostFile(machine.HostC("KuGoo/" + user + "/" + name), bytes);
    }
};

// One user: folder 1 is C:\m\; files 1 a, 2 b, 3 (unknown folder), 4 (no name), 5 gone, 6 d.
FILESET BaseKuGou2007() {
    return {{"DB4/ShareDirectories.dat", RecordFile(4352, {Dir(1, "C:\\m\\"), Dir(0, "C:\\zero\\"), Dir(-1, "C:\\neg\\")})},
            {"DB4/ShareFiles.dat", RecordFile(22016, {File(1, "a.mp3"), File(1, "b.mp3"), File(9, "c.mp3"), File(1, ""),
                                                      File(1, "gone.mp3"), File(1, "d.mp3")})},
            {"DB4/PlayListItem.dat", RecordFile(6656, {Item(0, 1), Item(0xFF, 2), Item(0, 6, ""), Item(0, 3), Item(0, 5)})},
            {"DB4/PlayList.dat", RecordFile(3584, {List(1, Gbk("我的").str()), List(2, "empty"), List(0, "zero")})}};
}

TEST_F(ReadersTest, KuGou2007RecordFilesGiveTheDefaultAndNamedLists) {
    for (const char* name : {"a.mp3", "b.mp3", "d.mp3"}) Song(name);
    const std::string kDefault = "酷狗2007_[默认]=";
    struct Row {
        const char* what;
        std::function<void(FILESET&)> change;
        std::string expected;
    } rows[] = {
        {"whole files; unreferenced d and the 0xFF entry land in the default list, gone.mp3 is dropped", [](FILESET&) {},
         kDefault + "b.mp3,d.mp3;酷狗2007_我的=a.mp3"},
        {"a last partial record is not read",
         [](FILESET& f) { f["DB4/PlayListItem.dat"] = RecordFile(6656, {Item(0xFF, 2)}) + Item(0, 1).substr(0, 351); },
         kDefault + "b.mp3,a.mp3,d.mp3"},
        {"a header longer than the file", [](FILESET& f) { f["DB4/ShareFiles.dat"] = std::string(22015, '\0'); }, ""},
        {"no record after the header", [](FILESET& f) { f["DB4/ShareDirectories.dat"].resize(4352 + 311); }, ""},
        {"no PlayList.dat: only the default list", [](FILESET& f) { f.erase("DB4/PlayList.dat"); }, kDefault + "b.mp3,d.mp3"},
        {"a repeated playlist number adds no second list",
         [](FILESET& f) { f["DB4/PlayList.dat"] += List(1, "again"); }, kDefault + "b.mp3,d.mp3;酷狗2007_我的=a.mp3"},
        {"files past the 127th cannot be referenced by a signed byte",
         [](FILESET& f) {
             std::vector<std::string> files(200, File(1, "a.mp3")), items;
             for (int k = 1; k <= 200; ++k) items.push_back(Item(0, k));
             f["DB4/ShareFiles.dat"] = RecordFile(22016, files);
             f["DB4/PlayListItem.dat"] = RecordFile(6656, items);
         },
         kDefault + Repeat("a.mp3", 73) + ";酷狗2007_我的=" + Repeat("a.mp3", 127)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FILESET files = BaseKuGou2007();
        row.change(files);
        mxtest::RunCommand("rm -rf '" + machine.HostC("KuGoo") + "'");
        KuGou2007({{"user1", files}});
        CMxPublic::m_mapPLName2Index.RemoveAll();
        OTHERPLAYERINFO info;
        CMxPublic::FindKuGou2007(&info, nullptr);
        EXPECT_EQ(row.expected, Render(info.lstPlayList));
    }
}

TEST_F(ReadersTest, KuGou2007UsersShareNamesUniquelyAndKeepTheirDownloadFolders) {
    Song("a.mp3");
    FILESET files = BaseKuGou2007();
    files["Option.ini"] = "[Option]\r\nDefaultDownPath=C:\\old\r\nx=1\r\nDefaultDownPath=C:\\down\\\r\n";
    KuGou2007({{"u1", files}, {"u2", files}});
    OTHERPLAYERMAP map;
    CMxPublic::FindKuGou(&map, nullptr);
    EXPECT_EQ("酷狗2007_我的=a.mp3;酷狗2007_我的_1=a.mp3|C:\\down\\,C:\\down\\", Found(map, OPK_KUGOU));
}

TEST_F(ReadersTest, InstalledPlayersWithoutPlaylistsAreAnnounced) {
    mxtest::NoticeWindow window;
    OTHERPLAYERMAP map;
    KuGou2007({{"u1", {{"Option.ini", "DefaultDownPath=C:\\down"}}}});
    CMxPublic::FindKuGou(&map, window.Get());
    EXPECT_EQ(std::vector<std::string>{"酷狗 2007"}, window.Take());
    EXPECT_EQ("|C:\\down", Found(map, OPK_KUGOU));  // stored for its download folder

    SetReg(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\TTPlayer.exe\\", "C:\\TT\\TTPlayer.exe");
    WriteHostFile(machine.HostC("TT/TTPlayer.exe"), mxtest::VersionedPe(0x00010000, 0, 0x00050004, 0x00030002));
    WriteHostFile(machine.HostC("TT/PlayList/bad.ttbl"), "TTBX");
    WriteHostFile(machine.HostC("TT/PlayList/list.txt"), Ttbl("TTBL", Utf16("L"), std::string(1, '\0') + "C:\\a.mp3"));
    CMxPublic::FindTTPlayer(&map, window.Get());
    EXPECT_EQ(std::vector<std::string>{"千千静听 5.4.3.2"}, window.Take());
    EXPECT_EQ("<none>", Found(map, OPK_TTPLAYER));

    SetReg(HKEY_LOCAL_MACHINE, "SOFTWARE\\KWMUSIC\\KWMUSIC_HOME", "C:\\KW");
    WriteHostFile(machine.HostC("KW/KwMusic.exe"), mxtest::VersionedPe(0x00030001, 0x00000007, 0, 0));
    CMxPublic::FindKWMusic(&map, window.Get());
    EXPECT_EQ(std::vector<std::string>{"酷我音乐盒 3.1.0.7"}, window.Take());
    EXPECT_EQ("<none>", Found(map, OPK_KUWO));
}

TEST_F(ReadersTest, KuGou2008LibraryGivesListsOfExistingFiles) {
    Song("a.mp3");
    Song("b.mp3");
    const std::string uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    SetReg(HKEY_LOCAL_MACHINE, uninstall + Gbk("酷狗音乐2008(测试版)").str() + "\\DisplayIcon", "C:\\Old\\KuGoo.exe");
    SetReg(HKEY_LOCAL_MACHINE, uninstall + "{3183E053-DA5C-4233-8761-AF3B5DE22A57}_is1\\InstallLocation", "C:\\K8\\");
    WriteHostFile(machine.HostC("K8/KuGoo.xml"), "<KuGoo><Misc DefaultDownPath='C:\\down'/></KuGoo>");
    const std::string pools =
        "<FilePools><Other/><Contents Path='C:\\m'>"
        "<File><FileID>1</FileID><Basic><FileName>a.mp3</FileName></Basic></File>"
        "<File><FileID>2</FileID><Basic><FileName>b.mp3</FileName></Basic></File>"
        "<File><FileID>3</FileID><Basic><FileName>gone.mp3</FileName></Basic></File>"
        "<Note/></Contents></FilePools>";
    ReadRows("K8/Library.xml", {
        {"lists in order; unknown ids and missing files dropped; an empty list is left out",
         "<Library>" + pools + "<ListPools><List><ListName>fav</ListName><Items><Item><FileID>2</FileID></Item>"
             "<Other><FileID>1</FileID></Other><Item><FileID>9</FileID></Item><Item><FileID>3</FileID></Item>"
             "<Item><FileID>1</FileID></Item></Items></List><List><ListName>none</ListName><Items/></List>"
             "<List><ListName>fav</ListName><Items><Item><FileID>1</FileID></Item></Items></List></ListPools></Library>",
         "酷狗2008_fav=b.mp3,a.mp3;酷狗2008_fav_1=a.mp3|C:\\down"},
        {"a document that is not well formed", "<Library>" + pools + "<ListPools>", "|C:\\down"},
        {"no FilePools", "<Library><ListPools><List><ListName>x</ListName><Items><Item><FileID>1</FileID></Item></Items></List></ListPools></Library>", "|C:\\down"},
    }, [] {
        OTHERPLAYERINFO info;
        CMxPublic::FindKuGou2008(&info, nullptr);
        return Described(info);
    });
}

TEST_F(ReadersTest, TtblFilesGiveTheirPathsOnDrives) {
    Song("b.wma");
    const std::string z(1, '\0'), z2(2, '\0');
    const std::string gbkPath = Gbk("C:\\歌\\x.mp3").str();
    ReadRows("list.ttbl", {
        {"single-byte paths need no file, UTF-16 ones must exist, shares are not taken",
         Ttbl("TTBL", Utf16("Rock"), z + "C:\\m\\a.mp3" + z + "\\\\srv\\s.mp3" + z + gbkPath + z2 + Utf16("C:\\m\\b.wma") + z2 +
                                         Utf16("C:\\m\\gone.mp3") + z2 + Utf16("\\\\srv\\b.wma") + z2),
         "千千静听_Rock=a.mp3,C:\\歌\\x.mp3,b.wma"},
        {"the magic and the extensions in any case", Ttbl("ttbl", Utf16("R"), z + "D:\\X.MP3" + z + "C:\\y.Wma"), "千千静听_R=D:\\X.MP3,C:\\y.Wma"},
        {"a wrong magic", Ttbl("TTBX", Utf16("R"), z + "C:\\a.mp3"), ""},
        {"a name length one beyond the end", Ttbl("TTBL", Utf16("R"), z + "C:\\a.mp3", 12), ""},
        {"a name length near 4 GiB", Ttbl("TTBL", "", z + "C:\\a.mp3", 0xFFFFFFF0LL), ""},
        {"fewer than 20 bytes", "TTBL" + std::string(15, '\0'), ""},
        {"no path", Ttbl("TTBL", Utf16("R"), z + "C:\\a.ogg"), ""},
        {"an extension cut by the end", Ttbl("TTBL", Utf16("R"), z + "C:\\a.mp3" + z + Utf16("C:\\m\\b.wm")), "千千静听_R=C:\\a.mp3"},
        {"a path longer than a Windows path", Ttbl("TTBL", Utf16("R"), z + "C:\\" + std::string(300, 'x') + ".mp3"), ""},
    }, [] {
        CList<PLAYLISTINFO, PLAYLISTINFO&> lists;
        CMxPublic::ParseTTBLFile("C:\\list.ttbl", &lists);
        return Render(lists);
    });
}

TEST_F(ReadersTest, KuwoLayoutFollowsTheProgramVersion) {
    Song("a&b.mp3");
    Song("c.mp3");
    const std::string pl = "<list>\r\n<item path=\"C:\\m\\a&amp;b.mp3\" name=\"x\"/>\r\n<item name=\"no path\"/>\r\n"
                           "<item path=\"C:\\m\\gone.mp3\"/>\r\n<item path=\"C:\\m\\c.mp3\r\n";
    const std::string xml = "<song>\r\n<path>C:\\m\\c.mp3</path>\r\n<path>C:\\m\\gone.mp3</path>\r\n<path>C:\\m\\a&b.mp3\r\n";
    const std::string normal = "x=1\r\n songpath=C:\\not\r\nsongpath=C:\\dl\r\n";
    struct Row {
        const char* what;
        uint32_t versionMS, versionLS;
        std::map<std::string, std::string> files;
        std::string expected;
    } rows[] = {
        {"2.0.0.1: path attributes of .pl files, &amp; unescaped", 0x00020000, 0x00000001,
         {{"config.ini", normal}, {"playlist/fav.old.pl", pl}, {"playlist/song1.xml", xml}},
         "酷我音乐盒_fav=a&b.mp3|C:\\dl"},
        {"later versions: <path> of song*.xml files", 0x00020000, 0x00000002,
         {{"conf.ini", normal}, {"config.ini", "songpath=C:\\other"}, {"playlist/song3.xml", xml},
          {"playlist/list.xml", xml}, {"playlist/fav.pl", pl}},
         "酷我音乐盒_3=c.mp3|C:\\dl"},
        {"a playlist without entries and no settings", 0x00030000, 0, {{"playlist/song.xml", "<path></path>"}}, "<none>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        mxtest::RunCommand("rm -rf '" + machine.HostC("KW") + "'");
        SetReg(HKEY_LOCAL_MACHINE, "SOFTWARE\\KWMUSIC\\KWMUSIC_HOME", "C:\\KW\\");
        WriteHostFile(machine.HostC("KW/KwMusic.exe"), mxtest::VersionedPe(row.versionMS, row.versionLS, 0x00090000, 0));
        for (const auto& [name, text] : row.files) WriteHostFile(machine.HostC("KW/" + name), text);
        CMxPublic::m_mapPLName2Index.RemoveAll();
        OTHERPLAYERMAP map;
        CMxPublic::FindKWMusic(&map, nullptr);
        EXPECT_EQ(row.expected, Found(map, OPK_KUWO));
    }
}

}  // namespace
