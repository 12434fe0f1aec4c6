// mxbox machine: the emulated machine's drives and shell folders, and taking in a user's old Windows
// installation: its drive, the registry keys the six players wrote there and the user's shell folders,
// so that discovery finds what it would have found on that machine. The installation is only read.
#include <dirent.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli.h"

namespace mxbox {
namespace {

bool IsDir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool AsciiEqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

// The entry of dir named name in any letter case (a copied NTFS volume keeps the case it was given);
// "" when there is none.
std::string Entry(const std::string& dir, const std::string& name) {
    if (access((dir + "/" + name).c_str(), F_OK) == 0) return dir + "/" + name;
    std::string found;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (AsciiEqualNoCase(e->d_name, name)) found = dir + "/" + e->d_name;
        }
        closedir(d);
    }
    return found;
}

std::string Under(std::string dir, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (dir.empty()) break;
        dir = Entry(dir, name);
    }
    return dir;
}

struct HiveCloser {
    void operator()(hive_h* h) const { hivex_close(h); }
};
using Hive = std::unique_ptr<hive_h, HiveCloser>;

// A key of a hive by its path below the root ("" for none).
hive_node_h KeyOf(hive_h* h, const std::string& path) {
    hive_node_h node = hivex_root(h);
    for (size_t start = 0; node && start < path.size();) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        node = hivex_node_get_child(h, node, path.substr(start, end - start).c_str());
        start = end + 1;
    }
    return node;
}

std::string Text(hive_h* h, hive_node_h key, const char* value) {
    hive_value_h v = key ? hivex_node_get_value(h, key, value) : 0;
    char* text = v ? hivex_value_string(h, v) : nullptr;
    std::string out = text ? text : "";
    std::free(text);
    return out;
}

struct REGWRITE {
    HKEY hRoot;
    CString strKey, strName;
    DWORD dwType;
    std::string data;
    std::string shown;  // the text of a string value, UTF-8
};

// UTF-8 from a hive in the system code page, only when it survives the round trip.
bool ToAnsi(const std::string& utf8, CString& out) {
    out = MxUtf8ToAnsi(utf8);
    return Utf8(out) == utf8;
}

class KeyCopier {
public:
    // bytes counts what every copier of one adoption took.
    KeyCopier(std::vector<REGWRITE>& out, size_t& bytes) : m_out(out), m_nBytes(bytes) {}

    // Takes the values of a key, and of its keys below down to depth more levels.
    void Copy(hive_h* h, hive_node_h node, HKEY root, const CString& key, int depth) {
        if (!node) return;
        hive_value_h* values = hivex_node_values(h, node);
        for (size_t i = 0; values && values[i] && m_out.size() < kMaxValues && m_nBytes < kMaxBytes; ++i) Value(h, values[i], root, key);
        std::free(values);
        if (depth == 0) return;
        hive_node_h* children = hivex_node_children(h, node);
        for (size_t i = 0; children && children[i]; ++i) {
            char* name = hivex_node_name(h, children[i]);
            CString ansi;
            if (name && ToAnsi(name, ansi)) Copy(h, children[i], root, key + "\\" + ansi, depth - 1);
            else if (name) std::cerr << "mxbox: left out the key " << Utf8(key) << "\\" << name << ": its name has no form here\n";
            std::free(name);
        }
        std::free(children);
    }

private:
    // The players' keys hold a few short values; a hostile hive may hold many large ones.
    static constexpr size_t kMaxValues = 10000, kMaxData = 1 << 20, kMaxBytes = 16 << 20;

    void Value(hive_h* h, hive_value_h v, HKEY root, const CString& key) {
        char* name = hivex_value_key(h, v);
        hive_type type;
        size_t length = 0;
        REGWRITE w{root, key, "", 0, "", ""};
        bool ok = name && ToAnsi(name, w.strName) && hivex_value_type(h, v, &type, &length) == 0 && length <= kMaxData;
        if (ok && (type == hive_t_REG_SZ || type == hive_t_REG_EXPAND_SZ)) {
            char* text = hivex_value_string(h, v);
            CString ansi;
            ok = text && ToAnsi(text, ansi);
            if (ok) w.shown = text, w.data.assign(ansi.str().c_str(), size_t(ansi.GetLength()) + 1);
            std::free(text);
        } else if (ok && type == hive_t_REG_MULTI_SZ) {
            char** texts = hivex_value_multiple_strings(h, v);
            for (size_t i = 0; ok && texts && texts[i]; ++i) {
                CString ansi;
                ok = ToAnsi(texts[i], ansi);
                w.data += std::string(ansi.str().c_str(), size_t(ansi.GetLength())) + '\0';
            }
            ok = ok && texts;
            w.data += '\0';
            for (size_t i = 0; texts && texts[i]; ++i) std::free(texts[i]);
            std::free(texts);
        } else if (ok) {
            char* data = hivex_value_value(h, v, &type, &length);
            ok = data != nullptr;
            if (ok) w.data.assign(data, length);
            std::free(data);
        }
        w.dwType = DWORD(type);
        if (ok) m_nBytes += w.data.size(), m_out.push_back(w);
        else std::cerr << "mxbox: left out the value " << Utf8(key) << "\\" << (name ? name : "?") << "\n";
        std::free(name);
    }

    std::vector<REGWRITE>& m_out;
    size_t& m_nBytes;
};

// The keys the six players' discovery reads, and how deep below them to copy.
struct PLAYERKEY {
    const char* pszPlayer;
    bool bMachine;  // HKEY_LOCAL_MACHINE "SOFTWARE\..." (the SOFTWARE hive), else the user's hive
    const char* pszPath;
    int nDepth;
};
const PLAYERKEY kPlayerKeys[] = {
    {"TTPlayer", true, "Microsoft\\Windows\\CurrentVersion\\App Paths\\TTPlayer.exe", 0},
    {"KuGou", false, "Software\\KuGoo4", 2},
    {"KuGou", true, "Microsoft\\Windows\\CurrentVersion\\Uninstall\\\xE9\x85\xB7\xE7\x8B\x97\xE9\x9F\xB3\xE4\xB9\x90" "2008(\xE6\xB5\x8B\xE8\xAF\x95\xE7\x89\x88)", 0},
    {"KuGou", true, "Microsoft\\Windows\\CurrentVersion\\Uninstall\\\xE9\x85\xB7\xE7\x8B\x97\xE9\x9F\xB3\xE4\xB9\x90" "2008(\xE6\xAD\xA3\xE5\xBC\x8F\xE7\x89\x88)", 0},
    {"KuGou", true, "Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3183E053-DA5C-4233-8761-AF3B5DE22A57}_is1", 0},
    {"Kuwo", true, "KWMUSIC", 2},
    {"Windows Media Player", true, "Microsoft\\MediaPlayer", 0},
    {"iTunes", true, "Microsoft\\Windows\\CurrentVersion\\App Paths\\iTunes.exe", 0},
    {"Winamp", false, "Software\\Winamp", 2},
    {"Winamp", true, "Microsoft\\Windows\\CurrentVersion\\Uninstall\\Winamp3", 0},
};

struct PROFILE {
    std::string strHost;  // the profile folder
    std::string strWin;   // as a Windows path on the installation's drive, UTF-8
};

// The user profiles of an installation: folders with an NTUSER.DAT under Users (or Documents and Settings).
std::map<std::string, PROFILE> Profiles(const std::string& root, char letter) {
    std::map<std::string, PROFILE> profiles;
    for (const char* base : {"Users", "Documents and Settings"}) {
        std::string dir = Entry(root, base);
        DIR* d = dir.empty() ? nullptr : opendir(dir.c_str());
        if (!d) continue;
        const std::string baseName = dir.substr(dir.rfind('/') + 1);
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name[0] == '.' || Entry(dir + "/" + name, "NTUSER.DAT").empty()) continue;
            if (AsciiEqualNoCase(name, "Default") || AsciiEqualNoCase(name, "Default User")) continue;
            profiles[name] = {dir + "/" + name, std::string(1, letter) + ":\\" + baseName + "\\" + name};
        }
        closedir(d);
    }
    return profiles;
}

// The user's shell folders: "Shell Folders", else "User Shell Folders" expanded, else the profile's layout.
std::map<std::string, std::string> ShellFolders(hive_h* user, const PROFILE& profile, const std::string& userName) {
    static const char* const kNames[] = {"Desktop", "My Music", "AppData", "Local AppData"};
    const bool vista = !Entry(profile.strHost, "AppData").empty();
    const std::map<std::string, std::string> layout = {
        {"Desktop", "\\Desktop"},
        {"My Music", vista ? "\\Music" : "\\My Documents\\My Music"},
        {"AppData", vista ? "\\AppData\\Roaming" : "\\Application Data"},
        {"Local AppData", vista ? "\\AppData\\Local" : "\\Local Settings\\Application Data"}};
    const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
    hive_node_h shell = KeyOf(user, explorer + "Shell Folders"), userShell = KeyOf(user, explorer + "User Shell Folders");
    std::map<std::string, std::string> folders;
    for (const char* name : kNames) {
        std::string path = Text(user, shell, name);
        if (path.empty()) {
            path = Text(user, userShell, name);
            for (const auto& [var, value] : std::map<std::string, std::string>{
                     {"%USERPROFILE%", profile.strWin}, {"%SystemDrive%", profile.strWin.substr(0, 2)}, {"%USERNAME%", userName}}) {
                for (size_t at; (at = path.find(var)) != std::string::npos;) path.replace(at, var.size(), value);
            }
        }
        if (path.size() < 3 || path[1] != ':' || path.find('%') != std::string::npos) path = profile.strWin + layout.at(name);
        folders[name] = path;
    }
    return folders;
}

struct MAPITEM {
    std::string strKey;   // "X:" or "X:\folder"
    std::string strRest;  // host path[,type,bus]
};

std::vector<MAPITEM> ReadMap() {
    std::vector<MAPITEM> items;
    const std::string map = MxGetDriveMap();
    for (size_t start = 0, end; start < map.size(); start = end + 1) {
        end = map.find('\n', start);
        if (end == std::string::npos) end = map.size();
        std::string line = map.substr(start, end - start);
        size_t eq = line.find('=');
        if (eq != std::string::npos) items.push_back({line.substr(0, eq), line.substr(eq + 1)});
    }
    return items;
}

char Letter(const std::string& key) { return char(std::toupper(static_cast<unsigned char>(key[0]))); }

struct AdoptArgs {
    std::string root, user;
    std::vector<std::string> drives;
};

// What adopt takes from an installation: its letter and user, the registry values and the shell folders.
struct INSTALLATION {
    std::string strRoot, strUser;
    char cLetter = 'C';
    std::vector<REGWRITE> writes;
    std::map<std::string, size_t> perPlayer;
    std::map<std::string, std::string> folders;  // from the user's profile, UTF-8
};

int ReadInstallation(const AdoptArgs& a, INSTALLATION& in) {
    char real[PATH_MAX];
    if (!realpath(a.root.c_str(), real) || !IsDir(real)) return Fail("not a folder: " + a.root);
    in.strRoot = real;
    const std::string softwarePath = Under(in.strRoot, {"Windows", "System32", "config", "SOFTWARE"});
    if (softwarePath.empty()) return Fail("not a Windows installation (no Windows\\System32\\config\\SOFTWARE): " + in.strRoot);
    Hive software(hivex_open(softwarePath.c_str(), 0));
    if (!software) return Fail("the SOFTWARE hive cannot be read: " + softwarePath);
    std::string systemRoot = Text(software.get(), KeyOf(software.get(), "Microsoft\\Windows NT\\CurrentVersion"), "SystemRoot");
    if (systemRoot.size() > 1 && systemRoot[1] == ':' && std::isalpha(static_cast<unsigned char>(systemRoot[0]))) in.cLetter = Letter(systemRoot);

    // The user: the one asked for, else the only one.
    const std::map<std::string, PROFILE> profiles = Profiles(in.strRoot, in.cLetter);
    std::string names;
    for (const auto& [name, profile] : profiles) {
        names += (names.empty() ? "" : ", ") + name;
        if (a.user.empty() ? profiles.size() == 1 : AsciiEqualNoCase(name, a.user)) in.strUser = name;
    }
    if (in.strUser.empty() && !a.user.empty()) return Fail("no user " + a.user + " on this installation (users: " + (names.empty() ? "none" : names) + ")");
    if (in.strUser.empty() && profiles.size() > 1) return Fail("this installation has several users (" + names + "): choose one with --user");
    Hive user;
    if (!in.strUser.empty()) {
        const std::string hivePath = Entry(profiles.at(in.strUser).strHost, "NTUSER.DAT");
        user.reset(hivex_open(hivePath.c_str(), 0));
        if (!user) return Fail("the user's hive cannot be read: " + hivePath);
        in.folders = ShellFolders(user.get(), profiles.at(in.strUser), in.strUser);
    } else {
        std::cerr << "mxbox: no user profile found; only the machine's keys are taken\n";
    }

    // The players' keys; a 32-bit program sees Wow6432Node over the native keys.
    size_t bytes = 0;
    KeyCopier copier(in.writes, bytes);
    for (const PLAYERKEY& k : kPlayerKeys) {
        size_t before = in.writes.size();
        CString key;
        ToAnsi(k.pszPath, key);
        if (k.bMachine) {
            copier.Copy(software.get(), KeyOf(software.get(), k.pszPath), HKEY_LOCAL_MACHINE, "SOFTWARE\\" + key, k.nDepth);
            std::vector<REGWRITE> wow;
            KeyCopier(wow, bytes).Copy(software.get(), KeyOf(software.get(), "Wow6432Node\\" + std::string(k.pszPath)), HKEY_LOCAL_MACHINE, "SOFTWARE\\" + key, k.nDepth);
            std::map<std::string, size_t> native;  // folded key and name: where the native view's value is
            auto id = [](const REGWRITE& w) { return MxFoldCase(w.strKey).str() + '\n' + MxFoldCase(w.strName).str(); };
            for (size_t i = before; i < in.writes.size(); ++i) native[id(in.writes[i])] = i;
            for (REGWRITE& w : wow) {
                auto it = native.find(id(w));
                if (it != native.end()) in.writes[it->second] = w;
                else in.writes.push_back(w);
            }
        } else if (user) {
            copier.Copy(user.get(), KeyOf(user.get(), k.pszPath), HKEY_CURRENT_USER, key, k.nDepth);
        }
        in.perPlayer[k.pszPlayer] += in.writes.size() - before;
    }
    return 0;
}

bool WriteValue(HKEY root, const CString& strKey, const CString& strName, DWORD dwType, const std::string& data) {
    HKEY key = nullptr;
    bool ok = RegCreateKeyExA(root, strKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS &&
              RegSetValueExA(key, strName, 0, dwType, reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size())) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    return ok;
}

// The library's records of songs on drives that moved: they follow their drive to its new letter. The
// count of records that could not be changed.
size_t MoveRecords(const std::map<char, char>& moves, size_t& moved) {
    DBRECORDLIST all;
    Library()->LocalSearch("", nullptr, all, -1, 1);
    size_t failed = 0;
    for (POSITION pos = all.GetHeadPosition(); pos;) {
        const DBRECORD& song = all.GetNext(pos);
        auto it = song.FileName.GetLength() > 2 && song.FileName[1] == ':' ? moves.find(Letter(song.FileName.str())) : moves.end();
        if (it == moves.end()) continue;
        DBRECORD change;
        change.FileName = song.FileName;
        change.FileName.SetAt(0, it->second);
        if (Library()->UpdateSongInfo(song.FileName, &change, 1)) ++moved;
        else ++failed;
    }
    return failed;
}

int Adopt(const AdoptArgs& a) {
    if (std::getenv("MX_DRIVES") && *std::getenv("MX_DRIVES"))
        return Fail("MX_DRIVES is set, and would hide the drive map adopt keeps: unset it first");
    INSTALLATION in;
    if (int status = ReadInstallation(a, in)) return status;
    const char letter = in.cLetter;
    if (in.strRoot.find_first_of(",;\n") != std::string::npos) return Fail("a drive's folder cannot hold ',' or ';': " + in.strRoot);
    std::map<char, std::string> drives = {{letter, in.strRoot}};  // the installation's drives: letter, folder
    for (const std::string& d : a.drives) {
        char real[PATH_MAX];
        if (d.size() < 4 || d[1] != ':' || d[2] != '=' || !std::isalpha(static_cast<unsigned char>(d[0]))) return Fail("--drive takes X:=PATH, not " + d);
        if (Letter(d) == letter) return Fail(std::string(1, letter) + ": is the installation's own drive");
        if (!realpath(d.substr(3).c_str(), real) || !IsDir(real)) return Fail("not a folder: " + d.substr(3));
        if (std::string(real).find_first_of(",;\n") != std::string::npos) return Fail(std::string("a drive's folder cannot hold ',' or ';': ") + real);
        for (const auto& [c, host] : drives) {
            if (host == real) return Fail(std::string(real) + " is drive " + c + ": already");
        }
        drives[Letter(d)] = real;
    }
    std::map<char, std::string> named;  // letters the installation's values name, and one value that does
    for (const REGWRITE& w : in.writes) {
        if (w.shown.size() > 2 && w.shown[1] == ':' && std::isalpha(static_cast<unsigned char>(w.shown[0])))
            named.emplace(Letter(w.shown), Utf8(w.strKey) + "\\" + Utf8(w.strName) + " = " + w.shown);
    }

    // The drives of this machine: one already holding a folder of the installation takes that drive's
    // letter; one whose letter the installation takes moves to a free letter, from the end of the
    // alphabet (the installation's paths name the letters after C: first). What lies on a drive that
    // moves follows it: the library's records, the settings' folders, the shell folders.
    auto hostOf = [](const std::string& rest) { return rest.substr(0, rest.find(',')); };
    const std::vector<MAPITEM> map = ReadMap();
    std::map<char, char> moves;
    std::map<char, std::string> moved;  // new letter, host folder: drives of this machine that moved away
    std::set<char> taken;
    for (const auto& entry : drives) taken.insert(entry.first);
    for (const auto& entry : named) taken.insert(entry.first);
    for (const MAPITEM& item : map) {
        if (item.strKey.size() == 2 && !drives.count(Letter(item.strKey))) taken.insert(Letter(item.strKey));
    }
    for (const MAPITEM& item : map) {
        if (item.strKey.size() != 2) continue;
        const char c = Letter(item.strKey);
        char to = 0;
        for (const auto& [target, host] : drives) to = host == hostOf(item.strRest) ? target : to;
        if (!to && drives.count(c)) {
            for (to = 'Y'; to > 'C' && taken.count(to);) --to;
            if (to == 'C') return Fail("no free drive letter for the drive now at " + std::string(1, c) + ":");
            taken.insert(to);
            moved[to] = hostOf(item.strRest);
        }
        if (to && to != c) moves[c] = to;
    }
    auto follow = [&moves](CString path) {
        auto it = path.GetLength() > 1 && path[1] == ':' ? moves.find(Letter(path.str())) : moves.end();
        if (it != moves.end()) path.SetAt(0, it->second);
        return path;
    };

    // The shell folders: the profile's; without one, this machine's own, following their drive.
    static const std::pair<int, const char*> kFolders[] = {{CSIDL_DESKTOP, "Desktop"}, {CSIDL_MYMUSIC, "My Music"}, {CSIDL_APPDATA, "AppData"}, {CSIDL_LOCAL_APPDATA, "Local AppData"}};
    std::map<std::string, CString> folders;
    CString appData;
    for (const auto& [csidl, name] : kFolders) {
        char path[MAX_PATH] = {};
        const bool found = SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, path));
        if (csidl == CSIDL_APPDATA && found) appData = path;
        CString ansi;
        if (in.folders.count(name) && !ToAnsi(in.folders[name], ansi))
            return Fail("the user's folder " + in.folders[name] + " has characters the system code page cannot hold");
        if (in.folders.count(name)) folders[name] = ansi;
        else if (found && (!moves.empty() || !in.folders.empty())) folders[name] = follow(path);
    }
    // The module's own folder in the profile's application data is this machine's: the library is never
    // written into the installation.
    std::string ownHost;
    const CString newAppData = folders.count("AppData") ? folders["AppData"] : CString();
    if (newAppData.GetLength() > 1 && drives.count(Letter(newAppData.str())) && !appData.IsEmpty()) {
        CString own = appData + "\\Tamborinebox";
        CreateDirectoryA(own, nullptr);
        if (!MxWindowsPathToHost(own, ownHost)) return Fail("this machine's folder " + Utf8(own) + " cannot be kept");
    }
    const std::string mountKey = Utf8(newAppData) + "\\Tamborinebox";

    std::vector<MAPITEM> next;
    for (MAPITEM item : map) {
        const char c = Letter(item.strKey);
        if (item.strKey.size() == 2 && (drives.count(c) || (moves.count(c) && drives.count(moves[c])))) {
            if (moves.count(c) && !drives.count(moves[c])) next.push_back({std::string(1, moves[c]) + ":", item.strRest});
            continue;
        }
        if (moves.count(c)) item.strKey[0] = moves[c];
        if (!ownHost.empty() && AsciiEqualNoCase(item.strKey, mountKey)) continue;  // adopted again
        next.push_back(item);
    }
    for (const auto& [c, host] : drives) next.push_back({std::string(1, c) + ":", host + ",fixed,sata"});
    if (!ownHost.empty()) next.push_back({mountKey, ownHost});
    std::string text;
    for (const MAPITEM& item : next) text += item.strKey + "=" + item.strRest + "\n";

    // Written in this order: the map (nothing else changes when it cannot be kept); the library's records,
    // through the library this process still sees where it was; the settings' folders; the registry.
    if (!MxSaveDriveMap(text)) return Fail("the drive map cannot be kept in " + std::string(std::getenv("MX_HOME") ? std::getenv("MX_HOME") : "MX_HOME"));
    size_t records = 0, recordsFailed = moves.empty() ? 0 : MoveRecords(moves, records);
    CSettingManager* settings = CSettingManager::Instance();
    SETTINGINFO setting = *settings->GetCurrentSetting();
    if (!moves.empty()) {
        setting.AudioSetting.AudioPath = follow(setting.AudioSetting.AudioPath);
        setting.AudioSetting.LyricPath = follow(setting.AudioSetting.LyricPath);
        settings->SaveCurrentSetting(&setting);
    }
    size_t failed = 0;
    for (const REGWRITE& w : in.writes) failed += WriteValue(w.hRoot, w.strKey, w.strName, w.dwType, w.data) ? 0 : 1;
    for (const auto& [name, path] : folders) failed += WriteValue(HKEY_CURRENT_USER, kShellFoldersKey, name.c_str(), REG_SZ, std::string(path.str().c_str(), size_t(path.GetLength()) + 1)) ? 0 : 1;

    std::cout << "installation " << in.strRoot << " is drive " << letter << ":" << (in.strUser.empty() ? "" : ", user " + in.strUser) << "\n";
    for (const auto& [c, host] : drives) {
        if (c != letter) std::cout << "drive " << c << ": is " << host << "\n";
    }
    for (const auto& [from, to] : moves) std::cout << (moved.count(to) ? moved[to] : drives.count(to) ? drives[to] : "") << " is now drive " << to << ": (it was " << from << ":)\n";
    if (records) std::cout << records << (records == 1 ? " library song followed its drive\n" : " library songs followed their drive\n");
    for (const auto& [player, count] : in.perPlayer) {
        if (count) std::cout << player << ": " << count << " registry value" << (count == 1 ? "" : "s") << "\n";
    }
    for (const auto& [name, folder] : folders) std::cout << "shell folder " << name << ": " << Utf8(folder) << "\n";
    if (!ownHost.empty()) std::cout << "the library stays in " << ownHost << "\n";
    for (const auto& [c, what] : named) {
        bool mapped = false;
        for (const MAPITEM& item : next) mapped = mapped || (Letter(item.strKey) == c && item.strKey.size() == 2);
        if (!mapped) std::cerr << "mxbox: drive " << c << ": is not mapped (named by " << what << "); give it with --drive " << c << ":=PATH\n";
    }
    if (recordsFailed) return Fail(std::to_string(recordsFailed) + " library songs could not follow their drive");
    if (failed) return Fail(std::to_string(failed) + " registry values could not be written");
    return 0;
}

void Show() {
    std::cout << MxGetDriveMap();
    const std::pair<int, const char*> kFolders[] = {{CSIDL_DESKTOP, "Desktop"}, {CSIDL_MYMUSIC, "My Music"}, {CSIDL_APPDATA, "AppData"}, {CSIDL_LOCAL_APPDATA, "Local AppData"}};
    for (const auto& [csidl, name] : kFolders) {
        char path[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, path))) std::cout << "shell folder " << name << ": " << Utf8(path) << "\n";
    }
}

}  // namespace

void AddMachineCommands(CLI::App& app) {
    CLI::App* machine = app.add_subcommand("machine", "The emulated machine's drives and shell folders");
    machine->require_subcommand(1);
    machine->add_subcommand("show", "The drive map and the shell folders")->callback(Show);
    auto args = std::make_shared<AdoptArgs>();
    CLI::App* adopt = machine->add_subcommand("adopt", "Take in a Windows installation: its drive, the players' registry keys, the user's shell folders");
    adopt->add_option("WINDOWS_ROOT", args->root, "The installation's folder (its drive's root)")->required();
    adopt->add_option("--user", args->user, "The installation's user, when it has several");
    adopt->add_option("--drive", args->drives, "Another drive its paths name, as X:=PATH (repeatable)")->expected(1)->take_all();
    adopt->callback([args] {
        if (int status = Adopt(*args)) throw CLI::RuntimeError(status);
    });
}

}  // namespace mxbox
