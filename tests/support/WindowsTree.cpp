#include "WindowsTree.h"

#include <hivex.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "AudioBuilders.h"
#include "PeBuilder.h"

namespace mxtest {
namespace {

// UTF-16LE of UTF-8 text, with its terminating zero.
std::string Utf16Z(const std::string& utf8) {
    std::string out;
    auto put = [&out](uint32_t u) { out += char(u & 0xFF), out += char(u >> 8); };
    for (size_t i = 0; i < utf8.size();) {
        unsigned char b = utf8[i];
        int n = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        uint32_t c = n == 0 ? b : b & (0x3F >> n);
        for (int k = 1; k <= n && i + size_t(k) < utf8.size(); ++k) c = c << 6 | (utf8[i + size_t(k)] & 0x3F);
        i += size_t(n) + 1;
        if (c >= 0x10000) put(0xD800 + ((c - 0x10000) >> 10)), put(0xDC00 + (c & 0x3FF));
        else put(c);
    }
    put(0);
    return out;
}

// A hive with nothing but its root key and one security descriptor: the hive library adds to a hive
// but cannot start one. A 4 KiB base block, then one 4 KiB bin: root key, security cell, free space.
std::string EmptyHive() {
    std::string f(0x2000, '\0');
    auto put = [&f](size_t at, uint32_t v, int n) { PutLe(f, at, v, n); };
    f.replace(0, 4, "regf");
    const std::pair<size_t, uint32_t> header[] = {{4, 1}, {8, 1}, {0x14, 1}, {0x18, 3}, {0x20, 1}, {0x24, 0x20}, {0x28, 0x1000}, {0x2C, 1}};
    for (const auto& [at, v] : header) put(at, v, 4);
    uint32_t sum = 0;
    for (size_t i = 0; i < 0x1FC; i += 4) sum ^= uint32_t(uint8_t(f[i])) | uint32_t(uint8_t(f[i + 1])) << 8 | uint32_t(uint8_t(f[i + 2])) << 16 | uint32_t(uint8_t(f[i + 3])) << 24;
    put(0x1FC, sum, 4);
    const size_t bin = 0x1000, nk = bin + 0x20, sk = nk + 88, rest = sk + 48;
    f.replace(bin, 4, "hbin");
    put(bin + 8, 0x1000, 4);
    put(nk, uint32_t(-88), 4);
    f.replace(nk + 4, 2, "nk");
    put(nk + 6, 0x2C, 2);  // the hive's root, not deletable, name in single bytes
    for (size_t at : {32, 36, 44, 52}) put(nk + at, 0xFFFFFFFF, 4);  // no subkeys, values or class
    put(nk + 48, uint32_t(sk - bin), 4);
    put(nk + 76, 4, 2);
    f.replace(nk + 80, 4, "ROOT");
    put(sk, uint32_t(-48), 4);
    f.replace(sk + 4, 2, "sk");
    put(sk + 8, uint32_t(sk - bin), 4), put(sk + 12, uint32_t(sk - bin), 4), put(sk + 16, 1, 4), put(sk + 20, 20, 4);
    put(sk + 24, 1, 1), put(sk + 26, 0x8004, 2);  // self-relative, no DACL: everyone may
    put(rest, uint32_t(bin + 0x1000 - rest), 4);
    return f;
}

void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

bool WriteHive(const std::string& path, const std::vector<HIVEVALUE>& values) {
    Write(path, EmptyHive());
    hive_h* h = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
    if (!h) return false;
    bool ok = true;
    for (const HIVEVALUE& v : values) {
        hive_node_h node = hivex_root(h);
        for (size_t start = 0; node && start < v.key.size();) {
            size_t end = std::min(v.key.find('\\', start), v.key.size());
            const std::string name = v.key.substr(start, end - start);
            hive_node_h child = hivex_node_get_child(h, node, name.c_str());
            node = child ? child : hivex_node_add_child(h, node, name.c_str());
            start = end + 1;
        }
        std::string data = v.type == 1 || v.type == 2 ? Utf16Z(v.data) : v.data;
        hive_set_value value = {const_cast<char*>(v.name.c_str()), hive_type(v.type), data.size(), data.data()};
        ok = ok && node && hivex_node_set_value(h, node, &value, 0) == 0;
    }
    ok = ok && hivex_commit(h, path.c_str(), 0) == 0;
    hivex_close(h);
    return ok;
}

bool BuildWindowsTree(const std::string& rootText, const std::string& secondText) {
    const std::filesystem::path root = rootText, second = secondText;
    const std::string music = "C:\\Users\\Lin\\Music\\", kugou2008 = "\xE9\x85\xB7\xE7\x8B\x97\xE9\x9F\xB3\xE4\xB9\x90" "2008(\xE6\xAD\xA3\xE5\xBC\x8F\xE7\x89\x88)";
    const std::string qingtian = "\xE6\x99\xB4\xE5\xA4\xA9";  // 晴天
    const std::string song = Frames(Mpeg1Layer3Header128(), 417, 8);
    const std::filesystem::path profile = root / "Users" / "Lin", local = profile / "AppData" / "Local", roaming = profile / "AppData" / "Roaming";
    for (const std::string& name : std::vector<std::string>{"a.mp3", "b.mp3", qingtian + ".mp3", "iTunes/iTunes Media/Music/c.mp3"}) Write(profile / "Music" / name, song);
    Write(second / "Songs" / "d.mp3", song);

    // The machine's keys (one player in the 32-bit view of a 64-bit Windows) and the user's.
    const std::string uninstall = "Microsoft\\Windows\\CurrentVersion\\Uninstall\\", appPaths = "Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    bool ok = WriteHive((root / "Windows/System32/config/SOFTWARE").string(), {
        {"Microsoft\\Windows NT\\CurrentVersion", "SystemRoot", 1, "C:\\Windows"},
        {"Wow6432Node\\" + appPaths + "TTPlayer.exe", "", 1, "C:\\Program Files\\TTPlayer\\TTPlayer.exe"},
        {appPaths + "iTunes.exe", "", 1, "C:\\Program Files\\iTunes\\iTunes.exe"},
        {uninstall + kugou2008, "DisplayIcon", 1, "C:\\Program Files\\KuGou\\KuGoo.exe"},
        {"KWMUSIC", "KWMUSIC_HOME", 1, "C:\\Program Files\\KwMusic\\"},
        {"Microsoft\\MediaPlayer", "Installation Directory", 1, "C:\\Program Files\\Windows Media Player"},
        {"Microsoft\\MediaPlayer", "Volume", 4, std::string("\x32\0\0\0", 4)}});
    const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
    ok = ok && WriteHive((profile / "NTUSER.DAT").string(), {
        {"Software\\Winamp", "", 1, "C:\\Program Files\\Winamp"},
        {explorer + "Shell Folders", "Desktop", 1, "C:\\Users\\Lin\\Desktop"},
        {explorer + "Shell Folders", "My Music", 1, "C:\\Users\\Lin\\Music"},
        {explorer + "Shell Folders", "AppData", 1, "C:\\Users\\Lin\\AppData\\Roaming"},
        {explorer + "User Shell Folders", "Local AppData", 2, "%USERPROFILE%\\AppData\\Local"}});
    std::filesystem::create_directories(profile / "Desktop");

    const std::filesystem::path programs = root / "Program Files";
    const std::map<std::string, std::pair<uint32_t, uint32_t>> versions = {
        {"TTPlayer/TTPlayer.exe", {0x50006, 0}}, {"iTunes/iTunes.exe", {0x70007, 0x10000}}, {"KuGou/KuGoo.exe", {0x10000, 0}},
        {"KwMusic/KwMusic.exe", {0x30000, 0}}, {"Windows Media Player/wmplayer.exe", {0xB0000, 0x17711B58}}, {"Winamp/winamp.exe", {0x50038, 0}}};
    for (const auto& [exe, v] : versions) Write(programs / exe, VersionedPe(v.first, v.second, v.first, v.second));

    // TTPlayer: two lists of one name; single-byte paths are taken as they stand, found or not.
    const std::string z(1, '\0'), ttHead = std::string("TTBL") + std::string(12, '\x01') + std::string("\x08\0\0\0R\0o\0c\0k\0", 12);
    Write(programs / "TTPlayer/PlayList/rock.ttbl", ttHead + z + music + "a.mp3" + z + "D:\\Songs\\d.mp3" + z + "E:\\x.mp3" + z + music + "gone.mp3");
    std::string wide = Utf16Z(music + qingtian + ".mp3");
    Write(programs / "TTPlayer/PlayList/rock2.ttbl", ttHead + std::string(2, '\0') + wide);
    // KuGou 2008: its library of files and lists.
    Write(programs / "KuGou/KuGoo.xml", "<KuGoo><Misc DefaultDownPath='" + music + "KuGou'/></KuGoo>");
    Write(programs / "KuGou/Library.xml", "<Library><FilePools><Contents Path='C:\\Users\\Lin\\Music'>"
          "<File><FileID>1</FileID><Basic><FileName>b.mp3</FileName></Basic></File></Contents></FilePools>"
          "<ListPools><List><ListName>Night</ListName><Items><Item><FileID>1</FileID></Item></Items></List></ListPools></Library>");
    // Kuwo, a later version: the download folder in conf.ini, lists as song*.xml.
    Write(programs / "KwMusic/conf.ini", "songpath=" + music + "KwDownload\r\n");
    Write(programs / "KwMusic/playlist/song1.xml", "<song>\r\n<path>" + music + "a.mp3</path>\r\n");
    // Windows Media Player: a library database naming a user list, and a default list without a title.
    const std::string wpl = "<?wpl version=\"1.0\"?><smil><head><title>Road</title></head><body><seq><media src=\"..\\b.mp3\"/></seq></body></smil>";
    Write(profile / "Music/Playlists/Road.wpl", wpl);
    Write(local / "Microsoft/Media Player/CurrentDatabase_372.wmdb", z + music + "Playlists\\Road.wpl" + z);
    Write(roaming / "Microsoft/Media Player/Mine.wpl", "<smil><head/><body><seq><media src=\"" + music + "a.mp3\"/></seq></body></smil>");
    // iTunes: the library in the music folder.
    auto track = [](int id, const std::string& at) {
        return "<key>" + std::to_string(id) + "</key><dict><key>Track ID</key><integer>" + std::to_string(id) +
               "</integer><key>Location</key><string>file://localhost/C:/Users/Lin/Music/" + at + "</string></dict>";
    };
    Write(profile / "Music/iTunes/iTunes Music Library.xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>Music Folder</key>"
          "<string>file://localhost/C:/Users/Lin/Music/iTunes/iTunes%20Media/</string><key>Tracks</key><dict>" + track(1, "%E6%99%B4%E5%A4%A9.mp3") +
          track(2, "b.mp3") + "</dict><key>Playlists</key><array><dict><key>Name</key><string>Drive</string><key>Playlist Items</key>"
          "<array><dict><key>Track ID</key><integer>1</integer></dict><dict><key>Track ID</key><integer>2</integer></dict></array></dict></array></dict></plist>");
    // Winamp 5.5: its lists in the user's application data.
    Write(roaming / "Winamp/winamp.m3u", "#EXTM3U\r\n" + music + "a.mp3\r\nD:\\Songs\\d.mp3\r\n");
    Write(roaming / "Winamp/Plugins/ml/playlists.xml", "<playlists><playlist title=\"Road\" filename=\"plf1.m3u\"/><playlist title=\"Road\" filename=\"plf1.m3u\"/></playlists>");
    Write(roaming / "Winamp/Plugins/ml/plf1.m3u", music + "b.mp3\r\n");
    return ok;
}

}  // namespace mxtest
