// The emulated machine: its configuration from the environment, the thread's last error, the tick count.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "config.h"
#include "platform/testhooks.h"

namespace mxp {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string HostHome() {
    std::string home = Env("HOME");
    if (home.empty()) {
        if (const passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
    }
    return home.empty() ? "/" : home;
}

std::string UserName() {
    std::string user = Env("USER");
    if (user.empty()) {
        if (const passwd* pw = getpwuid(getuid())) user = pw->pw_name;
    }
    return user.empty() ? "user" : user;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '/')) s.pop_back();
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return s.substr(i);
}

UINT DriveType(const std::string& name) {
    if (name == "removable") return 2;
    if (name == "network" || name == "remote") return 4;
    if (name == "cdrom") return 5;
    if (name == "ramdisk") return 6;
    return 3;
}

// The drive map kept for this machine: small, so anything longer than 64 KiB is not one.
std::string ReadSmallFile(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[65536];
        size_t n = std::fread(buf, 1, sizeof buf, f);
        if (n < sizeof buf) text.assign(buf, n);
        std::fclose(f);
    }
    return text;
}

void MakeDirs(const std::string& path) {
    std::string cur;
    size_t i = 0;
    while (i <= path.size()) {
        size_t slash = path.find('/', i + 1);
        cur = path.substr(0, slash);
        if (!cur.empty()) mkdir(cur.c_str(), 0777);
        if (slash == std::string::npos) break;
        i = slash;
    }
}

// Shell folders given as UTF-8 in the environment; defaults need the drive map.
void FillFolders(Config* c) {
    auto folder = [c](const char* var, unsigned bit, const std::string& hostDefault, const std::string& winDefault) {
        std::string v = Env(var);
        if (!v.empty()) c->foldersFromEnv |= bit;
        if (!v.empty()) return Utf8ToCodePage(v, c->acp);
        std::string win;
        if (!hostDefault.empty() && HostToWindows(*c, hostDefault, win)) return win;
        return winDefault;
    };
    std::string users = "C:\\users\\" + Utf8ToCodePage(UserName(), c->acp);
    c->folderDesktop = folder("MX_FOLDER_DESKTOP", 1, HostHome() + "/Desktop", users + "\\Desktop");
    c->folderMusic = folder("MX_FOLDER_MUSIC", 2, HostHome() + "/Music", users + "\\Music");
    c->folderAppData = folder("MX_FOLDER_APPDATA", 4, "", users + "\\AppData\\Roaming");
    c->folderLocalAppData = folder("MX_FOLDER_LOCALAPPDATA", 8, "", users + "\\AppData\\Local");
}

Config* Load() {
    auto* c = new Config();
    std::string xdg = Env("XDG_DATA_HOME");
    c->home = Env("MX_HOME");
    if (c->home.empty()) c->home = (xdg.empty() ? HostHome() + "/.local/share" : xdg) + "/tamborinebox";
    c->home = Trimmed(c->home);
    std::string drives = Env("MX_DRIVES");
    if (drives.empty()) drives = ReadSmallFile(c->home + "/drives");
    if (drives.empty()) {
        // The system drive of the emulated machine always exists.
        MakeDirs(c->home + "/drive_c");
        drives = "C:=" + c->home + "/drive_c,fixed,sata;Z:=/,fixed,sata";
    }
    ParseDrives(drives, c->drives, c->folders);
    c->registry = Env("MX_REGISTRY");
    if (c->registry.empty()) c->registry = c->home + "/registry.db";
    std::string acp = Env("MX_ACP");
    c->acp = acp == "65001" ? 65001 : acp == "936" ? 936 : 54936;
    c->odbcinst = Env("MX_ODBCINST");
    FillFolders(c);
    return c;
}

std::mutex g_configLock;
std::atomic<Config*> g_config{nullptr};
// Replaced configurations stay alive: a caller may still hold a reference.
std::vector<std::unique_ptr<Config>> g_retired;


}  // namespace

const Config& config() {
    Config* c = g_config.load(std::memory_order_acquire);
    if (c) return *c;
    std::lock_guard<std::mutex> lock(g_configLock);
    c = g_config.load(std::memory_order_relaxed);
    if (!c) {
        c = Load();
        g_config.store(c, std::memory_order_release);
    }
    return *c;
}


// A drive "X:=HOSTPATH[,type[,bus]]" or a mounted folder "X:\\FOLDER=HOSTPATH"; malformed items are skipped,
// and so is a second item for the same drive or folder.
void ParseDrives(const std::string& map, std::vector<Drive>& drives, std::vector<Drive>& folders) {
    size_t start = 0;
    while (start <= map.size()) {
        size_t end = map.find_first_of(";\n", start);
        if (end == std::string::npos) end = map.size();
        std::string item = map.substr(start, end - start);
        start = end + 1;
        if (!item.empty() && item.back() == '\r') item.pop_back();
        size_t eq = item.find('=');
        if (eq == std::string::npos || eq < 2 || eq + 1 == item.size() || item[1] != ':') continue;
        Drive d;
        d.letter = item[0] >= 'a' && item[0] <= 'z' ? char(item[0] - 32) : item[0];
        if (d.letter < 'A' || d.letter > 'Z') continue;
        for (size_t p = 2; p < eq;) {
            size_t sep = item.find_first_of("\\/", p);
            if (sep == std::string::npos || sep > eq) sep = eq;
            if (sep > p) d.folder.push_back(item.substr(p, sep - p));
            p = sep + 1;
        }
        if (eq > 2 && (item[2] != '\\' && item[2] != '/')) continue;
        std::vector<std::string> parts;
        for (size_t p = eq + 1;;) {
            size_t comma = d.folder.empty() ? item.find(',', p) : std::string::npos;
            parts.push_back(item.substr(p, comma == std::string::npos ? std::string::npos : comma - p));
            if (comma == std::string::npos) break;
            p = comma + 1;
        }
        d.root = Trimmed(parts[0]);
        if (parts.size() > 1) d.type = DriveType(Trimmed(parts[1]));
        if (parts.size() > 2) d.bus = Trimmed(parts[2]);
        std::vector<Drive>& into = d.folder.empty() ? drives : folders;
        bool dup = false;
        for (const Drive& other : into) {
            bool same = other.letter == d.letter && other.folder.size() == d.folder.size();
            for (size_t i = 0; same && i < d.folder.size(); ++i) same = Utf8EqualNoCase(other.folder[i], d.folder[i]);
            dup = dup || same;
        }
        if (!dup) into.push_back(d);
    }
}

}  // namespace mxp

void MxPlatformReload() {
    mxp::RegistryCloseDatabase();
    mxp::FilesReset();
    {
        std::lock_guard<std::mutex> lock(mxp::g_configLock);
        mxp::Config* old = mxp::g_config.exchange(nullptr);
        if (old) mxp::g_retired.emplace_back(old);
    }
    mxp::config();
}

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

DWORD GetTickCount() {
    using namespace std::chrono;
    return DWORD(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
