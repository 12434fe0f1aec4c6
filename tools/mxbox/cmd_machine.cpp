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
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
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

// Whether a library folder holds a file (looked for among its first thousands of entries).
bool HoldsFiles(const CString& folder) {
    std::string host;
    if (!MxWindowsPathToHost(folder, host) || !IsDir(host)) return false;
    std::error_code error;
    int budget = 20000;
    for (auto it = std::filesystem::recursive_directory_iterator(host, error); !error && it != std::filesystem::recursive_directory_iterator() && budget-- > 0; it.increment(error)) {
        if (it->is_regular_file(error)) return true;
    }
    return budget <= 0;
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
    explicit KeyCopier(std::vector<REGWRITE>& out) : m_out(out) {}

    // Takes the values of a key, and of its keys below down to depth more levels.
    void Copy(hive_h* h, hive_node_h node, HKEY root, const CString& key, int depth) {
        if (!node) return;
        hive_value_h* values = hivex_node_values(h, node);
        for (size_t i = 0; values && values[i] && m_out.size() < kMaxValues; ++i) Value(h, values[i], root, key);
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
    static constexpr size_t kMaxValues = 10000, kMaxData = 1 << 20;

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
        } else if (ok) {
            char* data = hivex_value_value(h, v, &type, &length);
            ok = data != nullptr;
            if (ok) w.data.assign(data, length);
            std::free(data);
        }
        w.dwType = DWORD(type);
        if (ok) m_out.push_back(w);
        else std::cerr << "mxbox: left out the value " << Utf8(key) << "\\" << (name ? name : "?") << "\n";
        std::free(name);
    }

    std::vector<REGWRITE>& m_out;
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

int Adopt(const AdoptArgs& a) {
    char real[PATH_MAX];
    if (!realpath(a.root.c_str(), real) || !IsDir(real)) return Fail("not a folder: " + a.root);
    const std::string root = real;
    const std::string softwarePath = Under(root, {"Windows", "System32", "config", "SOFTWARE"});
    if (softwarePath.empty()) return Fail("not a Windows installation (no Windows\\System32\\config\\SOFTWARE): " + root);
    Hive software(hivex_open(softwarePath.c_str(), 0));
    if (!software) return Fail("the SOFTWARE hive cannot be read: " + softwarePath);
    std::string systemRoot = Text(software.get(), KeyOf(software.get(), "Microsoft\\Windows NT\\CurrentVersion"), "SystemRoot");
    const char letter = systemRoot.size() > 1 && systemRoot[1] == ':' && std::isalpha(static_cast<unsigned char>(systemRoot[0]))
                            ? Letter(systemRoot) : 'C';

    // The user: the one asked for, else the only one.
    const std::map<std::string, PROFILE> profiles = Profiles(root, letter);
    std::string userName;
    for (const auto& [name, profile] : profiles) {
        if (a.user.empty() ? profiles.size() == 1 : AsciiEqualNoCase(name, a.user)) userName = name;
    }
    std::string names;
    for (const auto& entry : profiles) names += (names.empty() ? "" : ", ") + entry.first;
    if (userName.empty() && !a.user.empty()) return Fail("no user " + a.user + " on this installation (users: " + (names.empty() ? "none" : names) + ")");
    if (userName.empty() && profiles.size() > 1) return Fail("this installation has several users (" + names + "): choose one with --user");
    Hive user;
    if (!userName.empty()) {
        const std::string hivePath = Entry(profiles.at(userName).strHost, "NTUSER.DAT");
        user.reset(hivex_open(hivePath.c_str(), 0));
        if (!user) return Fail("the user's hive cannot be read: " + hivePath);
    } else {
        std::cerr << "mxbox: no user profile found; only the machine's keys are taken\n";
    }

    // The registry values to take: the players' keys, a 32-bit program's view (Wow6432Node) over the native one.
    std::vector<REGWRITE> writes;
    KeyCopier copier(writes);
    std::map<std::string, size_t> perPlayer;
    for (const PLAYERKEY& k : kPlayerKeys) {
        size_t before = writes.size();
        CString key;
        ToAnsi(k.pszPath, key);
        if (k.bMachine) {
            for (const char* view : {"", "Wow6432Node\\"}) {
                copier.Copy(software.get(), KeyOf(software.get(), view + std::string(k.pszPath)), HKEY_LOCAL_MACHINE, "SOFTWARE\\" + key, k.nDepth);
            }
        } else if (user) {
            copier.Copy(user.get(), KeyOf(user.get(), k.pszPath), HKEY_CURRENT_USER, key, k.nDepth);
        }
        perPlayer[k.pszPlayer] += writes.size() - before;
    }
    std::map<std::string, std::string> folders;
    if (user) folders = ShellFolders(user.get(), profiles.at(userName), userName);
    for (const auto& [name, path] : folders) {
        CString ansi;
        if (ToAnsi(path, ansi)) writes.push_back({HKEY_CURRENT_USER, kShellFoldersKey, name.c_str(), REG_SZ, std::string(ansi.str().c_str(), size_t(ansi.GetLength()) + 1), path});
    }

    // The drive map: the installation at its own letter; a drive that had the letter moves to a free one,
    // and this machine's own folder of the module stays where it is.
    std::vector<MAPITEM> map = ReadMap();
    std::map<char, std::string> given;
    for (const std::string& d : a.drives) {
        size_t eq = d.find('=');
        if (eq != 2 || d[1] != ':' || !std::isalpha(static_cast<unsigned char>(d[0]))) return Fail("--drive takes X:=PATH, not " + d);
        if (Letter(d) == letter) return Fail(std::string(1, letter) + ": is the installation's own drive");
        if (!realpath(d.substr(3).c_str(), real) || !IsDir(real)) return Fail("not a folder: " + d.substr(3));
        for (const MAPITEM& item : map) {
            // Songs of the library may lie on that drive: it is not taken from under them.
            if (item.strKey.size() == 2 && Letter(item.strKey) == Letter(d) && item.strRest.substr(0, item.strRest.find(',')) != real)
                return Fail(std::string(1, Letter(d)) + ": is this machine's drive " + item.strRest.substr(0, item.strRest.find(',')) + "; give another letter");
        }
        given[Letter(d)] = real;
    }
    std::map<char, std::string> named;  // letters the installation's paths name, and one value that does
    for (const REGWRITE& w : writes) {
        if (w.shown.size() > 2 && w.shown[1] == ':' && std::isalpha(static_cast<unsigned char>(w.shown[0])))
            named.emplace(Letter(w.shown), Utf8(w.strKey) + "\\" + Utf8(w.strName) + " = " + w.shown);
    }
    // The library's folders on the drive that moves away go with it; one that holds songs already would
    // leave their records pointing into the installation, so it must be moved first.
    const bool displacing = MxGetDriveMap().find(std::string(1, letter) + ":=" + root + ",") == std::string::npos;
    CSettingManager* settings = CSettingManager::Instance();
    SETTINGINFO setting = *settings->GetCurrentSetting();
    std::vector<CString*> follow;
    for (CString* folder : {&setting.AudioSetting.AudioPath, &setting.AudioSetting.LyricPath}) {
        if (!displacing || folder->IsEmpty() || Letter(folder->str()) != letter) continue;
        if (HoldsFiles(*folder))
            return Fail("the library's folder " + Utf8(*folder) + " is on this machine's drive " + letter +
                        ":, which the installation takes; move it first (mxbox relocate)");
        follow.push_back(folder);
    }
    char path[MAX_PATH] = {};
    const bool hadAppData = SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, path));
    std::string ownFolder;  // this machine's folder of the module, on the host
    if (hadAppData && folders.count("AppData")) {
        CString own = CString(path) + "\\Tamborinebox";
        CreateDirectoryA(own, nullptr);
        if (!MxWindowsPathToHost(own, ownFolder)) ownFolder.clear();
    }
    std::vector<MAPITEM> next;
    std::string moved;
    for (const MAPITEM& item : map) {
        if (given.count(Letter(item.strKey)) && item.strKey.size() == 2) continue;
        if (Letter(item.strKey) == letter && item.strKey.size() == 2 && item.strRest.compare(0, root.size() + 1, root + ",") == 0) continue;
        if (!ownFolder.empty() && AsciiEqualNoCase(item.strKey, folders["AppData"] + "\\Tamborinebox")) continue;  // adopted again
        next.push_back(item);
    }
    auto used = [&next, &given, &named](char c) {
        for (const MAPITEM& item : next) {
            if (Letter(item.strKey) == c && item.strKey.size() == 2) return true;
        }
        return given.count(c) > 0 || named.count(c) > 0;
    };
    // From the end of the alphabet: the installation's own paths name the letters after C: first.
    char freeLetter = 'Y';
    while (freeLetter > 'C' && used(freeLetter)) --freeLetter;
    for (MAPITEM& item : next) {
        if (Letter(item.strKey) != letter) continue;
        if (freeLetter == 'C') return Fail("no free drive letter for the drive now at " + std::string(1, letter) + ":");
        if (item.strKey.size() == 2) moved = item.strRest.substr(0, item.strRest.find(',')) + " is now drive " + freeLetter + ": (it was " + letter + ":)";
        item.strKey[0] = freeLetter;
    }
    next.push_back({std::string(1, letter) + ":", root + ",fixed,sata"});
    for (const auto& [c, host] : given) next.push_back({std::string(1, c) + ":", host + ",fixed,sata"});
    if (!ownFolder.empty()) next.push_back({folders["AppData"] + "\\Tamborinebox", ownFolder});
    std::string text;
    for (const MAPITEM& item : next) text += item.strKey + "=" + item.strRest + "\n";
    for (CString* folder : follow) folder->SetAt(0, freeLetter);
    if (!follow.empty()) settings->SaveCurrentSetting(&setting);
    if (!MxSaveDriveMap(text)) return Fail("the drive map cannot be kept in " + std::string(std::getenv("MX_HOME") ? std::getenv("MX_HOME") : "MX_HOME"));

    size_t failed = 0;
    for (const REGWRITE& w : writes) {
        HKEY key = nullptr;
        bool ok = RegCreateKeyExA(w.hRoot, w.strKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS &&
                  RegSetValueExA(key, w.strName, 0, w.dwType, reinterpret_cast<const BYTE*>(w.data.data()), DWORD(w.data.size())) == ERROR_SUCCESS;
        if (key) RegCloseKey(key);
        failed += ok ? 0 : 1;
    }

    std::cout << "installation " << root << " is drive " << letter << ":" << (userName.empty() ? "" : ", user " + userName) << "\n";
    if (!moved.empty()) std::cout << moved << "\n";
    for (const auto& [c, host] : given) std::cout << "drive " << c << ": is " << host << "\n";
    for (const auto& [player, count] : perPlayer) {
        if (count) std::cout << player << ": " << count << " registry value" << (count == 1 ? "" : "s") << "\n";
    }
    for (const auto& [name, folder] : folders) std::cout << "shell folder " << name << ": " << folder << "\n";
    if (!ownFolder.empty()) std::cout << "the library stays in " << ownFolder << "\n";
    for (const auto& [c, what] : named) {
        bool mapped = c == letter || given.count(c);
        for (const MAPITEM& item : next) mapped = mapped || (Letter(item.strKey) == c && item.strKey.size() == 2);
        if (!mapped) std::cerr << "mxbox: drive " << c << ": is not mapped (named by " << what << "); give it with --drive " << c << ":=PATH\n";
    }
    if (std::getenv("MX_DRIVES") && *std::getenv("MX_DRIVES")) std::cerr << "mxbox: MX_DRIVES is set and overrides the kept drive map\n";
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
    adopt->add_option("--drive", args->drives, "Another drive its paths name, as X:=PATH (repeatable)")->expected(1);
    adopt->callback([args] {
        if (int status = Adopt(*args)) throw CLI::RuntimeError(status);
    });
}

}  // namespace mxbox
