// Files and folders: the drive map, the Win32 file functions and the MFC file classes.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "config.h"
#include "platform/testhooks.h"

namespace {

using mxp::config;

constexpr DWORD kRead = 1, kWrite = 2;            // access
constexpr DWORD kShareRead = 1, kShareWrite = 2;  // share mode

DWORD ErrnoToWin(int e) {
    switch (e) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES: case EPERM: case EISDIR: return ERROR_ACCESS_DENIED;
        case EEXIST: return ERROR_ALREADY_EXISTS;
        case ENOSPC: case EDQUOT: return ERROR_DISK_FULL;
        case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case EROFS: return ERROR_WRITE_PROTECT;
        case EBUSY: case ETXTBSY: return ERROR_SHARING_VIOLATION;
        case EXDEV: return ERROR_NOT_SAME_DEVICE;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case EBADF: return ERROR_INVALID_HANDLE;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        default: return ERROR_ACCESS_DENIED;
    }
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool IsLead(unsigned char b) { return IsDBCSLeadByte(b); }

// ---- Windows path syntax ----

std::mutex g_cwdLock;
std::string g_cwd;  // the emulated current directory, a full Windows path; "" until first used

struct WinPath {
    char drive = 0;                        // upper case
    std::vector<std::string> components;  // in the system code page
    std::string Text() const {
        std::string s = std::string(1, drive) + ":\\";
        for (size_t i = 0; i < components.size(); ++i) s += (i ? "\\" : "") + components[i];
        return s;
    }
};

std::string CurrentDirectory();

// Splits at '\' and '/' that are characters of their own (a double-byte character may end in 0x5C).
std::vector<std::string> SplitComponents(const std::string& s) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        if (IsLead(b) && i + 1 < s.size()) {
            parts.back() += s[i];
            parts.back() += s[++i];
        } else if (b == '\\' || b == '/') {
            parts.emplace_back();
        } else {
            parts.back() += s[i];
        }
    }
    return parts;
}

// Windows drops trailing dots and spaces from each name.
std::string StripTrailing(std::string c) {
    if (c == "." || c == "..") return c;
    while (!c.empty() && (c.back() == '.' || c.back() == ' ')) c.pop_back();
    return c;
}

// The full path of a Windows path, as GetFullPathNameA computes it: drive letter, no "." or "..".
DWORD ParsePath(LPCSTR text, WinPath& out) {
    if (!text || !*text) return ERROR_PATH_NOT_FOUND;
    std::string s(text);
    if (s.rfind("\\\\?\\", 0) == 0 || s.rfind("\\\\.\\", 0) == 0) s = s.substr(4);
    bool sep0 = s[0] == '\\' || s[0] == '/';
    if (sep0 && s.size() > 1 && (s[1] == '\\' || s[1] == '/')) return ERROR_BAD_NETPATH;
    std::string base;
    std::string rest;
    char letter = s.size() >= 2 && s[1] == ':' ? s[0] : 0;
    if (letter >= 'a' && letter <= 'z') letter = char(letter - 32);
    if (letter >= 'A' && letter <= 'Z') {
        rest = s.substr(2);
        if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) {
            // "X:name" is relative to the current directory when it is on X, else to X's root.
            std::string cwd = CurrentDirectory();
            base = cwd[0] == letter ? cwd : std::string(1, letter) + ":\\";
        } else {
            base = std::string(1, letter) + ":\\";
        }
    } else if (sep0) {
        base = CurrentDirectory().substr(0, 3);
        rest = s;
    } else {
        base = CurrentDirectory();
        rest = s;
    }
    out.drive = base[0];
    out.components.clear();
    for (const std::string& c : SplitComponents(base.substr(3) + "\\" + rest)) {
        std::string name = StripTrailing(c);
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (!out.components.empty()) out.components.pop_back();
            continue;
        }
        out.components.push_back(name);
    }
    return ERROR_SUCCESS;
}

bool ValidName(const std::string& c) {
    for (size_t i = 0; i < c.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(c[i]);
        if (IsLead(b) && i + 1 < c.size()) {
            ++i;
            continue;
        }
        if (b < 0x20 || std::strchr("<>:\"|?*", b)) return false;
    }
    return true;
}

// ---- host side of the drive map ----

const mxp::Drive* FindDrive(char letter) {
    for (const mxp::Drive& d : config().drives) {
        if (d.letter == letter) return &d;
    }
    return nullptr;
}

std::string Join(const std::string& dir, const std::string& name) { return dir == "/" ? "/" + name : dir + "/" + name; }

bool AsciiEqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x + 32);
        if (y >= 'A' && y <= 'Z') y = char(y + 32);
        if (x != y) return false;
    }
    return true;
}

struct Resolved {
    std::string win;      // full Windows path
    std::string host;     // host path (existing components in their on-disk case)
    bool exists = false;
    bool parentIsDir = false;
    struct stat st {};
    bool isRoot = false;
    int fd = -1;  // with a probe: the file opened while it was found
};

// Resolves a Windows path to its host path. Errors: 3 for an unknown drive, 123 for an invalid name.
// With probe flags (open(2) access flags), a path that exists as spelled is opened at once (r.fd), so
// that the host looks it up once.
DWORD Resolve(LPCSTR text, Resolved& r, int probeFlags = -1) {
    WinPath wp;
    DWORD e = ParsePath(text, wp);
    if (e) return e;
    const mxp::Drive* drive = FindDrive(wp.drive);
    if (!drive) return ERROR_PATH_NOT_FOUND;
    r.win = wp.Text();
    UINT cp = GetACP();
    std::vector<std::string> names;
    names.reserve(wp.components.size());
    for (const std::string& c : wp.components) {
        if (!ValidName(c)) return ERROR_INVALID_NAME;
        names.push_back(mxp::CodePageToUtf8(c.data(), c.size(), cp));
    }
    r.isRoot = names.empty();
    // A mounted folder serves its names from its own host folder (the longest such folder wins).
    const mxp::Drive* mount = nullptr;
    for (const mxp::Drive& m : config().folders) {
        bool under = m.letter == wp.drive && m.folder.size() <= names.size() && (!mount || m.folder.size() > mount->folder.size());
        for (size_t i = 0; under && i < m.folder.size(); ++i) under = mxp::Utf8EqualNoCase(m.folder[i], names[i]);
        if (under) mount = &m;
    }
    if (mount) names.erase(names.begin(), names.begin() + long(mount->folder.size()));
    std::string root = mount ? mount->root : drive->root.empty() ? "/" : drive->root;
    // Fast path: the path exists as spelled.
    std::string host = root;
    for (const std::string& n : names) host = Join(host, n);
    if (probeFlags >= 0 && !names.empty()) {
        r.fd = open(host.c_str(), probeFlags | O_CLOEXEC | O_NONBLOCK);  // a pipe must not block the open
        if (r.fd >= 0 && fstat(r.fd, &r.st) == 0) {
            r.host = host;
            r.exists = r.parentIsDir = true;
            return ERROR_SUCCESS;
        }
        if (r.fd >= 0) close(r.fd);
        r.fd = -1;
    }
    if (stat(host.c_str(), &r.st) == 0) {
        r.host = host;
        r.exists = r.parentIsDir = true;
        return ERROR_SUCCESS;
    }
    // Walk the components, matching each missing one without regard to case (Unicode's simple case pairs).
    std::string cur = root;
    struct stat st {};
    bool curIsDir = stat(cur.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!curIsDir) return ERROR_NOT_READY;  // a drive whose folder is missing is a drive without media
    for (size_t i = 0; i < names.size(); ++i) {
        std::string next = Join(cur, names[i]);
        bool found = curIsDir && stat(next.c_str(), &st) == 0;
        if (!found && curIsDir) {
            if (DIR* dir = opendir(cur.c_str())) {
                std::string best;
                while (dirent* ent = readdir(dir)) {
                    if (mxp::Utf8EqualNoCase(ent->d_name, names[i]) && (best.empty() || best > ent->d_name)) best = ent->d_name;
                }
                closedir(dir);
                if (!best.empty()) {
                    next = Join(cur, best);
                    found = stat(next.c_str(), &st) == 0;
                }
            }
        }
        if (!found) {
            r.parentIsDir = curIsDir && i + 1 == names.size();
            for (size_t k = i + 1; k < names.size(); ++k) next = Join(next, names[k]);
            r.host = next;
            return ERROR_SUCCESS;
        }
        cur = next;
        curIsDir = S_ISDIR(st.st_mode);
    }
    r.host = cur;
    r.st = st;
    r.exists = true;
    r.parentIsDir = true;
    return ERROR_SUCCESS;
}

// The host's own views of the kernel (/proc, /sys, /dev ...) are system folders of a drive: a search for
// the user's files passes them by, as it passes by a Windows system folder.
bool IsKernelFileSystem(const std::string& parent, const std::string& name) {
    // proc, sysfs, devpts, cgroup2, cgroup, debugfs, securityfs, tracefs, bpf, pstore, mqueue, configfs,
    // fusectl, binfmt_misc, nsfs, efivarfs, hugetlbfs
    static const unsigned long kTypes[] = {0x9fa0,     0x62656572, 0x1cd1,     0x63677270, 0x27e0eb,   0x64626720,
                                           0x73636673, 0x74726163, 0xcafe4a11, 0x6165676c, 0x19800202, 0x62656570,
                                           0x65735543, 0x42494e4d, 0x6e736673, 0xde5e81e4, 0x958458f6};
    struct statfs fs {};
    const std::string path = Join(parent, name);
    if (statfs(path.c_str(), &fs) != 0) return false;
    for (unsigned long type : kTypes) {
        if (static_cast<unsigned long>(fs.f_type) == type) return true;
    }
    return path == "/dev";  // a memory file system like any other, but all devices
}

// 2 when the parent folder exists, else 3.
DWORD MissingError(const Resolved& r) { return r.parentIsDir ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND; }

bool IsReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

// A pipe, socket or device: no Windows file is one, and opening it could wait for ever.
bool IsSpecial(const struct stat& st) { return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode); }

DWORD AttributesOf(const std::string& name, const struct stat& st) {
    DWORD a = 0;
    if (S_ISDIR(st.st_mode)) a |= FILE_ATTRIBUTE_DIRECTORY;
    else a |= FILE_ATTRIBUTE_ARCHIVE;
    if (IsReadOnly(st)) a |= FILE_ATTRIBUTE_READONLY;
    if (name.size() > 1 && name[0] == '.' && name != "..") a |= FILE_ATTRIBUTE_HIDDEN;
    return a;
}

std::string BaseName(const std::string& host) {
    size_t slash = host.rfind('/');
    return slash == std::string::npos ? host : host.substr(slash + 1);
}

FILETIME ToFileTime(const timespec& ts) {
    uint64_t t = (uint64_t(ts.tv_sec) + 11644473600ull) * 10000000ull + uint64_t(ts.tv_nsec) / 100;
    return FILETIME{DWORD(t), DWORD(t >> 32)};
}

// ---- handles open in this process, for share modes and range locks ----

struct FileKey {
    dev_t dev;
    ino_t ino;
    bool operator<(const FileKey& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};
struct OpenHandleInfo {
    ULONG_PTR id;
    DWORD access;
    DWORD share;
};
struct RangeLock {
    ULONG_PTR id;
    uint64_t pos, count;
};
struct OpenFile {
    std::vector<OpenHandleInfo> handles;
    std::vector<RangeLock> locks;
};

std::mutex g_openLock;
std::map<FileKey, OpenFile> g_open;
std::map<ULONG_PTR, FileKey> g_handleFile;
ULONG_PTR g_nextId = 1;

bool Conflicts(const OpenHandleInfo& h, DWORD access, DWORD share) {
    return ((access & kRead) && !(h.share & kShareRead)) || ((access & kWrite) && !(h.share & kShareWrite)) ||
           ((h.access & kRead) && !(share & kShareRead)) || ((h.access & kWrite) && !(share & kShareWrite));
}

// Registers a handle; 0 when an open handle's share mode (or this one's) forbids it.
ULONG_PTR RegisterHandle(const FileKey& key, DWORD access, DWORD share, bool check) {
    std::lock_guard<std::mutex> lock(g_openLock);
    OpenFile& f = g_open[key];
    if (check) {
        for (const OpenHandleInfo& h : f.handles) {
            if (Conflicts(h, access, share)) return 0;
        }
    }
    ULONG_PTR id = g_nextId++;
    f.handles.push_back({id, access, share});
    g_handleFile[id] = key;
    return id;
}

void UnregisterHandle(ULONG_PTR id) {
    std::lock_guard<std::mutex> lock(g_openLock);
    auto it = g_handleFile.find(id);
    if (it == g_handleFile.end()) return;
    OpenFile& f = g_open[it->second];
    f.handles.erase(std::remove_if(f.handles.begin(), f.handles.end(), [id](const OpenHandleInfo& h) { return h.id == id; }),
                    f.handles.end());
    f.locks.erase(std::remove_if(f.locks.begin(), f.locks.end(), [id](const RangeLock& l) { return l.id == id; }), f.locks.end());
    if (f.handles.empty()) g_open.erase(it->second);
    g_handleFile.erase(it);
}

// ---- share modes between processes ----
// The table above sees this process only. Across processes each handle also holds shared open file
// description locks (they belong to the handle, not to the process) on marker bytes far beyond any
// data: one for each kind of access it has and one for each it denies. Markers are placed before they
// are checked, so two opens racing each other are both refused rather than both let in.
struct flock HostRange(short type, off_t start, off_t length) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    return fl;
}

constexpr off_t kMarkBase = off_t(0x7FFFFFFF00000000LL);
// Bit k is the marker at kMarkBase + k; the order keeps the common sets contiguous (one call each).
constexpr unsigned kMarkAccessRead = 1, kMarkDenyWrite = 2, kMarkAccessWrite = 4, kMarkDenyRead = 8, kMarkAll = 15;

unsigned MarksHeld(DWORD access, DWORD share) {
    return ((access & kRead) ? kMarkAccessRead : 0u) | ((access & kWrite) ? kMarkAccessWrite : 0u) |
           ((share & kShareRead) ? 0u : kMarkDenyRead) | ((share & kShareWrite) ? 0u : kMarkDenyWrite);
}

unsigned MarksForbidding(DWORD access, DWORD share) {
    return ((access & kRead) ? kMarkDenyRead : 0u) | ((access & kWrite) ? kMarkDenyWrite : 0u) |
           ((share & kShareRead) ? 0u : kMarkAccessRead) | ((share & kShareWrite) ? 0u : kMarkAccessWrite);
}

// One fcntl per run of set bits; false as soon as fn says so.
template <class F>
bool ForEachMarkRun(unsigned bits, F fn) {
    for (int k = 0; k < 4;) {
        if (!((bits >> k) & 1)) {
            ++k;
            continue;
        }
        int start = k;
        while (k < 4 && ((bits >> k) & 1)) ++k;
        struct flock fl = HostRange(F_UNLCK, kMarkBase + start, k - start);
        if (!fn(fl)) return false;
    }
    return true;
}

// True when another handle, in any process, holds a lock on one of the markers.
bool OthersHoldMarks(int fd, unsigned bits) {
    return !ForEachMarkRun(bits, [fd](struct flock& fl) {
        fl.l_type = F_WRLCK;
        return fcntl(fd, F_OFD_GETLK, &fl) != 0 || fl.l_type == F_UNLCK;
    });
}

// Places the handle's markers: ERROR_SUCCESS, or ERROR_SHARING_VIOLATION when a handle of another
// process forbids the open. A descriptor that cannot hold locks (no read access, a file system
// without them) is checked but left unmarked.
DWORD PlaceShareMarks(int fd, DWORD access, DWORD share) {
    ForEachMarkRun(MarksHeld(access, share), [fd](struct flock& fl) {
        fl.l_type = F_RDLCK;
        return fcntl(fd, F_OFD_SETLK, &fl) == 0;
    });
    if (!OthersHoldMarks(fd, MarksForbidding(access, share))) return ERROR_SUCCESS;
    ForEachMarkRun(kMarkAll, [fd](struct flock& fl) {
        fl.l_type = F_UNLCK;
        return fcntl(fd, F_OFD_SETLK, &fl) == 0;
    });
    return ERROR_SHARING_VIOLATION;
}

// Range locks between processes: an exclusive lock where the handle may write; a handle that only
// reads holds a shared one after checking that no other handle holds any.
bool LockHostRange(int fd, DWORD pos, DWORD count) {
    struct flock fl = HostRange(F_WRLCK, pos, count);
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
    if (errno != EBADF) return errno != EAGAIN && errno != EACCES;
    if (fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK) return false;
    fl.l_type = F_RDLCK;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0 || (errno != EAGAIN && errno != EACCES);
}

void UnlockHostRange(int fd, DWORD pos, DWORD count) {
    struct flock fl = HostRange(F_UNLCK, pos, count);
    fcntl(fd, F_OFD_SETLK, &fl);
}

// True when a handle of this or another process has the file open: it can then be neither deleted nor
// moved. A file this process cannot read is judged by this process's handles alone.
bool IsOpen(const Resolved& r) {
    {
        std::lock_guard<std::mutex> lock(g_openLock);
        if (g_open.count(FileKey{r.st.st_dev, r.st.st_ino})) return true;
    }
    if (!S_ISREG(r.st.st_mode)) return false;
    int fd = open(r.host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    bool open = OthersHoldMarks(fd, kMarkAll);
    close(fd);
    return open;
}

// ---- find handles ----

struct FindState {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};
std::mutex g_findLock;
std::set<FindState*> g_finds;

std::map<char, ULONGLONG> g_freeOverride;  // guarded by g_openLock

// Splits a name into its characters (one or two bytes each).
std::vector<std::string> Chars(const std::string& s) {
    std::vector<std::string> out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (IsLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
            out.push_back(s.substr(i, 2));
            ++i;
        } else {
            out.push_back(s.substr(i, 1));
        }
    }
    return out;
}

// '*' and '?' matching without regard to ASCII case, a character at a time.
bool WildMatch(const std::vector<std::string>& p, const std::vector<std::string>& n) {
    size_t pi = 0, ni = 0, starP = std::string::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == "?" || AsciiEqualNoCase(p[pi], n[ni]))) {
            ++pi, ++ni;
        } else if (pi < p.size() && p[pi] == "*") {
            starP = pi++;
            starN = ni;
        } else if (starP != std::string::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == "*") ++pi;
    return pi == p.size();
}

bool PatternMatches(const std::string& pattern, const std::string& name) {
    if (WildMatch(Chars(pattern), Chars(name))) return true;
    // "x.*" also matches a name without an extension, so "*.*" matches everything.
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 && name.find('.') == std::string::npos) {
        return WildMatch(Chars(pattern.substr(0, pattern.size() - 2)), Chars(name));
    }
    return false;
}

// The listed name of a host name. Bytes that are not UTF-8 have no character on Windows: each is
// listed as '?', like a character the code page lacks, so that it opens nothing and the walks report
// it instead of showing two such names alike.
std::string HostNameToCodePage(const std::string& host, UINT codePage) {
    std::string out, run;
    for (size_t i = 0; i < host.size();) {
        auto c = static_cast<unsigned char>(host[i]);
        size_t len = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
        bool valid = len > 0 && i + len <= host.size();
        for (size_t k = 1; valid && k < len; ++k) valid = (static_cast<unsigned char>(host[i + k]) & 0xC0) == 0x80;
        if (valid && len >= 3) {
            auto c1 = static_cast<unsigned char>(host[i + 1]);
            // No overlong forms, no surrogates, nothing past U+10FFFF.
            valid = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0) && !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
        }
        if (valid) {
            run.append(host, i, len);
            i += len;
            continue;
        }
        out += mxp::Utf8ToCodePage(run, codePage) + '?';
        run.clear();
        ++i;
    }
    return out + mxp::Utf8ToCodePage(run, codePage);
}

WIN32_FIND_DATAA MakeFindData(const std::string& winName, const std::string& hostName, const struct stat& st) {
    WIN32_FIND_DATAA fd;
    std::memset(&fd, 0, sizeof fd);
    fd.dwFileAttributes = AttributesOf(hostName, st);
    fd.ftCreationTime = ToFileTime(st.st_ctim);
    fd.ftLastAccessTime = ToFileTime(st.st_atim);
    fd.ftLastWriteTime = ToFileTime(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) {
        fd.nFileSizeHigh = DWORD(uint64_t(st.st_size) >> 32);
        fd.nFileSizeLow = DWORD(st.st_size);
    }
    std::strncpy(fd.cFileName, winName.c_str(), MAX_PATH - 1);
    return fd;
}

std::string CurrentDirectory() {
    std::lock_guard<std::mutex> lock(g_cwdLock);
    if (g_cwd.empty()) {
        char buf[PATH_MAX];
        std::string win;
        if (getcwd(buf, sizeof buf) && mxp::HostToWindows(config(), buf, win)) g_cwd = win;
        else g_cwd = "C:\\";
    }
    return g_cwd;
}

std::string HostNormalize(const std::string& path) {
    std::string abs = path;
    if (abs.empty() || abs[0] != '/') {
        char buf[PATH_MAX];
        abs = std::string(getcwd(buf, sizeof buf) ? buf : "/") + "/" + abs;
    }
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < abs.size()) {
        size_t j = abs.find('/', i);
        if (j == std::string::npos) j = abs.size();
        std::string c = abs.substr(i, j - i);
        if (c == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!c.empty() && c != ".") {
            parts.push_back(c);
        }
        i = j + 1;
    }
    std::string out;
    for (const std::string& c : parts) out += "/" + c;
    return out.empty() ? "/" : out;
}

DWORD CopyContents(int in, int out) {
    char buf[1 << 16];
    while (true) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ErrnoToWin(errno);
        if (n == 0) return ERROR_SUCCESS;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(out, buf + off, size_t(n - off));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return w < 0 ? ErrnoToWin(errno) : ERROR_DISK_FULL;
            off += w;
        }
    }
}

std::atomic<void (*)(int)> g_moveStepHook{nullptr};

void MoveStep(int nStep) {
    if (auto hook = g_moveStepHook.load()) hook(nStep);
}

// Makes what was written into the folder's entries durable; a failure here is not the caller's.
void SyncFolder(const std::string& host) {
    std::string folder = host.substr(0, host.rfind('/'));
    int fd = open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// A rename that never replaces what is at the target (rename(2) would), also when another process
// makes it meanwhile; 0 or an errno.
int RenameNoReplace(const std::string& from, const std::string& to, bool bFolder) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a second link fails on an existing name.
    if (!bFolder && link(from.c_str(), to.c_str()) == 0) return unlink(from.c_str()) == 0 ? 0 : errno;
    if (!bFolder && errno != EPERM && errno != EOPNOTSUPP) return errno;
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) return EEXIST;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// A hidden name beside a target, for a file on its way there; never the same twice in this process.
std::string HiddenName(const std::string& folder, const std::string& target, const char* kind) {
    static std::atomic<unsigned> s_nNext{0};
    return folder + "/.mx" + kind + "-" + std::to_string(getpid()) + "-" + std::to_string(s_nNext++) + "-" +
           target.substr(target.rfind('/') + 1);
}

// A file for a copy that nobody sees until it is named: an unnamed file vanishes with a process killed
// while copying; where the file system cannot make one, a hidden name beside the target stands in (part),
// which the caller removes on every failure. -1 with errno on failure.
int OpenUnnamedBeside(const std::string& folder, const std::string& target, const char* purpose, std::string& part) {
    int out = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (out < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        part = HiddenName(folder, target, purpose);
        out = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    return out;
}

// The source's bytes, times and read-only mode into out, on disk (the steps a kill may cut: 0 to 2).
DWORD WriteCopy(int in, int out, const struct stat& st) {
    MoveStep(0);
    DWORD e = CopyContents(in, out);
    MoveStep(1);
    if (e) return e;
    timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out, times);
    if (IsReadOnly(st)) fchmod(out, st.st_mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH) & 07777);
    if (fsync(out) != 0) return ErrnoToWin(errno);
    MoveStep(2);
    return 0;
}

// Copies a file's bytes, read-only bit and times into an unnamed file beside the target (a hidden name
// where the file system cannot make one), flushed before it takes the target's name: a copy cut short at
// any point, also by a killed process, leaves the target as it was. bNew: the name is taken only while
// free, also when another process makes it meanwhile; otherwise the copy replaces the target whole.
DWORD CopyHostFile(const Resolved& src, const std::string& dstHost, bool bNew = false) {
    int in = open(src.host.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return ErrnoToWin(errno);
    // The source is read sharing reads only; a target that is replaced is held for writing alone until
    // then, so no other process has it open meanwhile.
    DWORD e = PlaceShareMarks(in, kRead, kShareRead);
    int old = -1;
    struct stat oldSt {};
    if (!e && !bNew) {
        old = open(dstHost.c_str(), O_RDWR | O_CLOEXEC);
        if (old >= 0) {
            e = PlaceShareMarks(old, kWrite, 0);
            if (!e && fstat(old, &oldSt) != 0) e = ErrnoToWin(errno);
        } else if (errno != ENOENT) {
            e = ErrnoToWin(errno);
        }
    }
    std::string folder = dstHost.substr(0, dstHost.rfind('/'));
    if (folder.empty()) folder = "/";
    std::string part;
    int out = -1;
    if (!e) {
        out = OpenUnnamedBeside(folder, dstHost, "copy", part);
        if (out < 0) e = ErrnoToWin(errno);
    }
    if (!e && old >= 0) fchmod(out, oldSt.st_mode & 07777);  // a replaced target keeps its mode
    if (!e) e = WriteCopy(in, out, src.st);
    if (!e) {
        int named = 0;
        std::string self = "/proc/self/fd/" + std::to_string(out);
        if (bNew && part.empty()) {
            named = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, dstHost.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
        } else if (bNew) {
            named = RenameNoReplace(part, dstHost, false);
        } else {
            // An unnamed file cannot be renamed over the target: it takes a hidden name for that moment.
            if (part.empty()) {
                part = HiddenName(folder, dstHost, "copy");
                named = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, part.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
                if (named) part.clear();
            }
            if (!named) named = rename(part.c_str(), dstHost.c_str()) == 0 ? 0 : errno;
        }
        if (named) e = named == EEXIST ? DWORD(ERROR_FILE_EXISTS) : ErrnoToWin(named);
    }
    if (out >= 0) close(out);
    if (e && !part.empty()) unlink(part.c_str());
    if (!e) {
        SyncFolder(dstHost);
        MoveStep(3);
    }
    close(in);
    if (old >= 0) close(old);
    return e;
}

// A move onto another device: the copy gets the target's name only once it is complete and on disk,
// and the source goes only after that. A move cut short at any point leaves the source whole; at worst
// both names hold the file.
DWORD MoveAcrossDevices(const Resolved& src, const std::string& target) {
    int in = open(src.host.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return ErrnoToWin(errno);
    // Held until the source is gone: nobody writes to it meanwhile.
    DWORD e = PlaceShareMarks(in, kRead, kShareRead);
    if (e) {
        close(in);
        return e;
    }
    std::string folder = target.substr(0, target.rfind('/'));
    if (folder.empty()) folder = "/";
    std::string part;
    int out = OpenUnnamedBeside(folder, target, "move", part);
    if (out < 0) {
        e = ErrnoToWin(errno);
        close(in);
        return e;
    }
    e = WriteCopy(in, out, src.st);
    if (!e) {
        int named;
        if (part.empty()) {
            std::string self = "/proc/self/fd/" + std::to_string(out);
            named = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
        } else {
            named = RenameNoReplace(part, target, false);
        }
        if (named) e = named == EEXIST ? DWORD(ERROR_ALREADY_EXISTS) : ErrnoToWin(named);
    }
    if (close(out) != 0 && !e) e = ErrnoToWin(errno);
    if (e) {
        if (!part.empty()) unlink(part.c_str());
        close(in);
        return e;
    }
    SyncFolder(target);
    MoveStep(3);
    if (unlink(src.host.c_str()) != 0) {
        // The source stays, so the copy goes: the move did not happen.
        e = ErrnoToWin(errno);
        unlink(target.c_str());
        SyncFolder(target);
    } else {
        SyncFolder(src.host);
    }
    close(in);
    MoveStep(4);
    return e;
}

}  // namespace

// ---- internal ----

bool mxp::HostToWindows(const Config& c, const std::string& host, std::string& out) {
    const Drive* best = nullptr;
    for (const std::vector<Drive>* list : {&c.drives, &c.folders}) {
        for (const Drive& d : *list) {
            bool holds = d.root.empty() || host == d.root || host.rfind(d.root + "/", 0) == 0;
            if (holds && (!best || d.root.size() > best->root.size())) best = &d;
        }
    }
    if (!best || host.empty() || host[0] != '/') return false;
    std::string rest;
    for (const std::string& name : best->folder) rest += "/" + name;
    rest += host.substr(best->root.size());
    std::replace(rest.begin(), rest.end(), '/', '\\');
    if (rest.empty()) rest = "\\";
    out = std::string(1, best->letter) + ":" + Utf8ToCodePage(rest, c.acp);
    return true;
}

void mxp::FilesReset() {
    {
        std::lock_guard<std::mutex> lock(g_cwdLock);
        g_cwd.clear();
    }
    std::lock_guard<std::mutex> lock(g_openLock);
    g_freeOverride.clear();
}

void MxSetMoveStepHook(void (*pfnHook)(int nStep)) { g_moveStepHook = pfnHook; }

void MxSetFreeSpaceOverride(char driveLetter, ULONGLONG freeBytes) {
    if (driveLetter >= 'a' && driveLetter <= 'z') driveLetter = char(driveLetter - 32);
    std::lock_guard<std::mutex> lock(g_openLock);
    if (freeBytes == ~0ull) g_freeOverride.erase(driveLetter);
    else g_freeOverride[driveLetter] = freeBytes;
}

// ---- edges ----

BOOL MxHostPathToWindows(const std::string& hostPath, CString& winPath) {
    std::string out;
    if (!mxp::HostToWindows(config(), HostNormalize(hostPath), out)) return FALSE;
    winPath = CString(out);
    return TRUE;
}

int MxRenameNoReplace(const std::string& fromHost, const std::string& toHost) {
    struct stat st;
    if (lstat(fromHost.c_str(), &st) != 0) return errno;
    return RenameNoReplace(fromHost, toHost, S_ISDIR(st.st_mode));
}

BOOL MxWindowsPathToHost(LPCSTR winPath, std::string& hostPath) {
    Resolved r;
    DWORD e = Resolve(winPath, r);
    if (e) return Fail(e);
    hostPath = r.host;
    return TRUE;
}

namespace {
// Text-mode streams write "\n" as CR LF, as the Windows C library does. Whatever the text stream
// flushes reaches the file at once.
ssize_t TextWrite(void* cookie, const char* buf, size_t size) {
    FILE* raw = static_cast<FILE*>(cookie);
    std::string out;
    out.reserve(size + size / 8);
    for (size_t i = 0; i < size; ++i) {
        if (buf[i] == '\n') out += '\r';
        out += buf[i];
    }
    if (fwrite(out.data(), 1, out.size(), raw) != out.size() || fflush(raw) != 0) return -1;
    return ssize_t(size);
}
ssize_t TextRead(void* cookie, char* buf, size_t size) { return ssize_t(fread(buf, 1, size, static_cast<FILE*>(cookie))); }
int TextSeek(void* cookie, off64_t* pos, int whence) {
    FILE* raw = static_cast<FILE*>(cookie);
    if (fseeko(raw, *pos, whence) != 0) return -1;
    *pos = ftello(raw);
    return 0;
}
int TextClose(void* cookie) { return fclose(static_cast<FILE*>(cookie)); }
}  // namespace

FILE* MxFOpen(LPCSTR winPath, LPCSTR mode) {
    if (!mode || !*mode) return Fail(ERROR_INVALID_PARAMETER), nullptr;
    Resolved r;
    DWORD e = Resolve(winPath, r);
    if (e) return Fail(e), nullptr;
    bool writes = mode[0] != 'r' || std::strchr(mode, '+');
    if (r.exists && (S_ISDIR(r.st.st_mode) || IsSpecial(r.st))) return Fail(ERROR_ACCESS_DENIED), nullptr;
    if (!r.exists && (mode[0] == 'r' || !r.parentIsDir)) return Fail(MissingError(r)), nullptr;
    if (r.exists && writes && IsReadOnly(r.st)) return Fail(ERROR_ACCESS_DENIED), nullptr;
    std::string m;
    for (const char* p = mode; *p; ++p) {
        if (*p != 't' && *p != 'b') m += *p;
    }
    FILE* raw = fopen(r.host.c_str(), (m + "e").c_str());
    if (!raw) return Fail(ErrnoToWin(errno)), nullptr;
    if (std::strchr(mode, 'b') || !writes) return raw;
    cookie_io_functions_t io = {TextRead, TextWrite, TextSeek, TextClose};
    FILE* text = fopencookie(raw, m.c_str(), io);
    if (!text) fclose(raw);
    return text;
}

// ---- Win32 files and folders ----

DWORD GetFileAttributesA(LPCSTR lpFileName) {
    Resolved r;
    DWORD e = Resolve(lpFileName, r);
    if (e || !r.exists) {
        SetLastError(e ? e : MissingError(r));
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(BaseName(r.host), r.st);
}

BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD attrs) {
    Resolved r;
    DWORD e = Resolve(lpFileName, r);
    if (e) return Fail(e);
    if (!r.exists) return Fail(MissingError(r));
    if (S_ISDIR(r.st.st_mode)) return TRUE;  // the read-only bit of a folder means nothing to Windows either
    mode_t mode = r.st.st_mode & 07777;
    if (attrs & FILE_ATTRIBUTE_READONLY) mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
    else if (IsReadOnly(r.st)) mode |= S_IWUSR;
    if (mode != (r.st.st_mode & 07777) && chmod(r.host.c_str(), mode) != 0) return Fail(ErrnoToWin(errno));
    return TRUE;
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA data) {
    if (!lpFileName || !data) return Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    // The last component is the pattern; everything before it names the folder.
    std::string text(lpFileName);
    std::vector<std::string> parts = SplitComponents(text);
    std::string pattern = parts.back();
    if (pattern.empty()) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    std::string folder = text.substr(0, text.size() - pattern.size());
    if (folder.empty()) folder = ".";
    else if (folder.size() == 2 && folder[1] == ':') folder += ".";
    Resolved dir;
    DWORD e = Resolve(folder.c_str(), dir);
    if (e) return Fail(e), INVALID_HANDLE_VALUE;
    if (!dir.exists || !S_ISDIR(dir.st.st_mode)) return Fail(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
    pattern = StripTrailing(pattern);
    if (pattern.empty()) pattern = "*";
    auto state = std::make_unique<FindState>();
    if (!dir.isRoot) {
        for (const char* dots : {".", ".."}) {
            if (PatternMatches(pattern, dots)) state->entries.push_back(MakeFindData(dots, dots, dir.st));
        }
    }
    std::vector<std::pair<std::string, WIN32_FIND_DATAA>> found;
    if (DIR* d = opendir(dir.host.c_str())) {
        UINT cp = GetACP();
        while (dirent* ent = readdir(d)) {
            std::string host = ent->d_name;
            if (host == "." || host == "..") continue;
            std::string win = HostNameToCodePage(host, cp);
            if (win.size() >= MAX_PATH || !PatternMatches(pattern, win)) continue;
            struct stat st {};
            if (fstatat(dirfd(d), ent->d_name, &st, 0) != 0) continue;  // a dangling link
            bool link = ent->d_type == DT_LNK;
            struct stat own {};
            if (ent->d_type == DT_UNKNOWN) link = fstatat(dirfd(d), ent->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
            std::string key = win;
            for (char& c : key) c = (c >= 'a' && c <= 'z') ? char(c - 32) : c;
            found.emplace_back(key + '\0' + win, MakeFindData(win, host, st));
            if (link) {
                found.back().second.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
                found.back().second.dwReserved0 = DWORD(IO_REPARSE_TAG_SYMLINK);
            }
            if (S_ISDIR(st.st_mode) && (link || st.st_dev != dir.st.st_dev) && IsKernelFileSystem(dir.host, host))
                found.back().second.dwFileAttributes |= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        }
        closedir(d);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& f : found) state->entries.push_back(f.second);
    if (state->entries.empty()) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    *data = state->entries[0];
    state->next = 1;
    FindState* raw = state.release();
    std::lock_guard<std::mutex> lock(g_findLock);
    g_finds.insert(raw);
    return raw;
}

BOOL FindNextFileA(HANDLE h, LPWIN32_FIND_DATAA data) {
    std::lock_guard<std::mutex> lock(g_findLock);
    auto it = g_finds.find(static_cast<FindState*>(h));
    if (it == g_finds.end() || !data) return Fail(ERROR_INVALID_HANDLE);
    FindState* s = *it;
    if (s->next >= s->entries.size()) return Fail(ERROR_NO_MORE_FILES);
    *data = s->entries[s->next++];
    return TRUE;
}

BOOL FindClose(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_findLock);
    auto it = g_finds.find(static_cast<FindState*>(h));
    if (it == g_finds.end()) return Fail(ERROR_INVALID_HANDLE);
    delete *it;
    g_finds.erase(it);
    return TRUE;
}

BOOL MxGetFileInformationByPath(LPCSTR lpFileName, LPBY_HANDLE_FILE_INFORMATION info) {
    if (!lpFileName || !info) return Fail(ERROR_INVALID_PARAMETER);
    Resolved r;
    DWORD e = Resolve(lpFileName, r);
    if (e) return Fail(e);
    if (!r.exists) return Fail(MissingError(r));
    std::memset(info, 0, sizeof *info);
    info->dwFileAttributes = AttributesOf(BaseName(r.host), r.st);
    info->ftCreationTime = ToFileTime(r.st.st_ctim);
    info->ftLastAccessTime = ToFileTime(r.st.st_atim);
    info->ftLastWriteTime = ToFileTime(r.st.st_mtim);
    // A device number fits in 32 bits for every device a Linux host makes below major 4096.
    uint64_t dev = uint64_t(r.st.st_dev), ino = uint64_t(r.st.st_ino);
    info->dwVolumeSerialNumber = DWORD(dev ^ (dev >> 32));
    if (!S_ISDIR(r.st.st_mode)) {
        info->nFileSizeHigh = DWORD(uint64_t(r.st.st_size) >> 32);
        info->nFileSizeLow = DWORD(r.st.st_size);
    }
    info->nNumberOfLinks = DWORD(r.st.st_nlink);
    info->nFileIndexHigh = DWORD(ino >> 32);
    info->nFileIndexLow = DWORD(ino);
    return TRUE;
}

const BYTE* MxMapViewOfFile(const CFile& file, DWORD dwLength, DWORD* pdwMapped) {
    if (pdwMapped) *pdwMapped = 0;
    struct stat st;
    if (file.m_hFile == CFile::hFileNull) return Fail(ERROR_INVALID_HANDLE), nullptr;
    if (fstat(int(file.m_hFile), &st) != 0) return Fail(ErrnoToWin(errno)), nullptr;
    // A view past the end would fault where Windows refuses the mapping: it stops at the end.
    DWORD length = DWORD(std::min<uint64_t>(dwLength, uint64_t(st.st_size)));
    if (length == 0) return Fail(ERROR_HANDLE_EOF), nullptr;
    void* view = mmap(nullptr, length, PROT_READ, MAP_SHARED, int(file.m_hFile), 0);
    if (view == MAP_FAILED) return Fail(ErrnoToWin(errno)), nullptr;
    if (pdwMapped) *pdwMapped = length;
    return static_cast<const BYTE*>(view);
}

BOOL MxUnmapViewOfFile(const BYTE* pView, DWORD dwMapped) {
    if (!pView || munmap(const_cast<BYTE*>(pView), dwMapped) != 0) return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
}

namespace {
// The whole pages of [dwOffset, dwOffset + dwLength) inside the view, widened to page bounds.
bool ViewPages(const BYTE* pView, DWORD dwMapped, DWORD dwOffset, DWORD dwLength, void*& start,
               size_t& length) {
    if (!pView || dwOffset >= dwMapped) return false;
    uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
    uint64_t from = dwOffset / page * page, to = std::min<uint64_t>(uint64_t(dwOffset) + dwLength, dwMapped);
    start = const_cast<BYTE*>(pView) + from;
    length = size_t(to - from);
    return length > 0;
}
}  // namespace

void MxPrefetchViewRange(const BYTE* pView, DWORD dwMapped, DWORD dwOffset, DWORD dwLength) {
    void* start;
    size_t length;
    // Page tables filled in one call rather than a fault at a time.
    if (ViewPages(pView, dwMapped, dwOffset, dwLength, start, length))
        madvise(start, length, MADV_POPULATE_READ);
}

void MxTrimViewRange(const BYTE* pView, DWORD dwMapped, DWORD dwOffset, DWORD dwLength) {
    void* start;
    size_t length;
    // A shared read-only mapping of a file: dropping its pages loses nothing.
    if (ViewPages(pView, dwMapped, dwOffset, dwLength, start, length)) madvise(start, length, MADV_DONTNEED);
}

BOOL CreateDirectoryA(LPCSTR lpPathName, void*) {
    Resolved r;
    DWORD e = Resolve(lpPathName, r);
    if (e) return Fail(e);
    if (r.exists) return Fail(ERROR_ALREADY_EXISTS);
    if (!r.parentIsDir) return Fail(ERROR_PATH_NOT_FOUND);
    if (mkdir(r.host.c_str(), 0777) != 0) return Fail(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrnoToWin(errno));
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
    Resolved r;
    DWORD e = Resolve(lpPathName, r);
    if (e) return Fail(e);
    if (!r.exists) return Fail(MissingError(r));
    if (!S_ISDIR(r.st.st_mode)) return Fail(ERROR_DIRECTORY);
    if (r.isRoot) return Fail(ERROR_ACCESS_DENIED);
    if (rmdir(r.host.c_str()) != 0) return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrnoToWin(errno));
    return TRUE;
}

BOOL CopyFileA(LPCSTR lpExisting, LPCSTR lpNew, BOOL bFailIfExists) {
    Resolved src, dst;
    DWORD e = Resolve(lpExisting, src);
    if (e) return Fail(e);
    if (!src.exists) return Fail(MissingError(src));
    if (S_ISDIR(src.st.st_mode) || IsSpecial(src.st)) return Fail(ERROR_ACCESS_DENIED);
    e = Resolve(lpNew, dst);
    if (e) return Fail(e);
    if (dst.exists) {
        if (bFailIfExists) return Fail(ERROR_FILE_EXISTS);
        if (S_ISDIR(dst.st.st_mode) || IsSpecial(dst.st) || IsReadOnly(dst.st)) return Fail(ERROR_ACCESS_DENIED);
        if (dst.st.st_dev == src.st.st_dev && dst.st.st_ino == src.st.st_ino) return Fail(ERROR_SHARING_VIOLATION);
    } else if (!dst.parentIsDir) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    ULONG_PTR srcId = RegisterHandle(FileKey{src.st.st_dev, src.st.st_ino}, kRead, kShareRead, true);
    if (!srcId) return Fail(ERROR_SHARING_VIOLATION);
    ULONG_PTR dstId = 0;
    if (dst.exists && !(dstId = RegisterHandle(FileKey{dst.st.st_dev, dst.st.st_ino}, kWrite, 0, true))) {
        UnregisterHandle(srcId);
        return Fail(ERROR_SHARING_VIOLATION);
    }
    e = CopyHostFile(src, dst.host, bFailIfExists);
    UnregisterHandle(srcId);
    if (dstId) UnregisterHandle(dstId);
    return e ? Fail(e) : TRUE;
}

BOOL MoveFileA(LPCSTR lpExisting, LPCSTR lpNew) {
    Resolved src, dst;
    DWORD e = Resolve(lpExisting, src);
    if (e) return Fail(e);
    if (!src.exists) return Fail(MissingError(src));
    e = Resolve(lpNew, dst);
    if (e) return Fail(e);
    bool sameFile = dst.exists && dst.st.st_dev == src.st.st_dev && dst.st.st_ino == src.st.st_ino;
    if (dst.exists && !sameFile) return Fail(ERROR_ALREADY_EXISTS);
    if (!dst.exists && !dst.parentIsDir) return Fail(ERROR_PATH_NOT_FOUND);
    if (IsOpen(src)) return Fail(ERROR_SHARING_VIOLATION);
    std::string target = dst.host;
    if (sameFile) {
        // A change of letter case only: keep the folder as found, take the new spelling of the name.
        WinPath wp;
        ParsePath(lpNew, wp);
        std::string name = wp.components.empty() ? "" : wp.components.back();
        target = dst.host.substr(0, dst.host.rfind('/') + 1) + mxp::CodePageToUtf8(name.data(), name.size(), GetACP());
    }
    int moved = RenameNoReplace(src.host, target, S_ISDIR(src.st.st_mode));
    if (moved == 0) return TRUE;
    if (moved == EEXIST) return Fail(ERROR_ALREADY_EXISTS);  // made meanwhile, by another process
    if (moved != EXDEV) return Fail(ErrnoToWin(moved));
    if (S_ISDIR(src.st.st_mode)) return Fail(ERROR_NOT_SAME_DEVICE);
    e = MoveAcrossDevices(src, target);
    return e ? Fail(e) : TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    Resolved r;
    DWORD e = Resolve(lpFileName, r);
    if (e) return Fail(e);
    if (!r.exists) return Fail(MissingError(r));
    if (S_ISDIR(r.st.st_mode) || IsReadOnly(r.st)) return Fail(ERROR_ACCESS_DENIED);
    if (IsOpen(r)) return Fail(ERROR_SHARING_VIOLATION);
    if (unlink(r.host.c_str()) != 0) return Fail(ErrnoToWin(errno));
    return TRUE;
}

BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER avail, PULARGE_INTEGER total, PULARGE_INTEGER totalFree) {
    Resolved r;
    DWORD e = Resolve(lpDirectoryName ? lpDirectoryName : ".", r);
    if (e) return Fail(e);
    if (!r.exists || !S_ISDIR(r.st.st_mode)) return Fail(ERROR_PATH_NOT_FOUND);
    struct statvfs vfs {};
    if (statvfs(r.host.c_str(), &vfs) != 0) return Fail(ErrnoToWin(errno));
    ULONGLONG size = ULONGLONG(vfs.f_blocks) * vfs.f_frsize;
    ULONGLONG freeAll = ULONGLONG(vfs.f_bfree) * vfs.f_frsize;
    ULONGLONG freeUser = ULONGLONG(vfs.f_bavail) * vfs.f_frsize;
    {
        std::lock_guard<std::mutex> lock(g_openLock);
        auto it = g_freeOverride.find(r.win[0]);
        if (it != g_freeOverride.end()) freeAll = freeUser = it->second;
    }
    if (avail) avail->QuadPart = freeUser;
    if (total) total->QuadPart = size;
    if (totalFree) totalFree->QuadPart = freeAll;
    return TRUE;
}

namespace {
// The length Win32 reports for a path result: without the zero when it fits, with it when it does not.
DWORD CopyOut(const std::string& s, DWORD n, LPSTR buf) {
    if (!buf || n < s.size() + 1) return DWORD(s.size() + 1);
    std::memcpy(buf, s.c_str(), s.size() + 1);
    return DWORD(s.size());
}
}  // namespace

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    std::string temp = config().folderLocalAppData + "\\Temp";
    // Make every level of the folder, as a Windows profile has it.
    std::string level;
    for (const std::string& c : SplitComponents(temp)) {
        level += c;
        if (level.size() > 2) CreateDirectoryA(level.c_str(), nullptr);
        level += "\\";
    }
    return CopyOut(temp + "\\", nBufferLength, lpBuffer);
}

DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
    WinPath wp;
    DWORD e = ParsePath(lpFileName, wp);
    if (e) {
        SetLastError(e);
        return 0;
    }
    std::string full = wp.Text();
    // A name given with a final separator keeps it.
    std::string given(lpFileName);
    bool trailing = !given.empty() && (given.back() == '\\' || given.back() == '/') && !wp.components.empty();
    if (trailing) full += "\\";
    DWORD n = CopyOut(full, nBufferLength, lpBuffer);
    if (lpFilePart && n == full.size()) {
        *lpFilePart = wp.components.empty() || trailing ? nullptr : lpBuffer + (full.size() - wp.components.back().size());
    }
    return n;
}

DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) { return CopyOut(CurrentDirectory(), nBufferLength, lpBuffer); }

BOOL SetCurrentDirectoryA(LPCSTR lpPathName) {
    Resolved r;
    DWORD e = Resolve(lpPathName, r);
    if (e) return Fail(e);
    if (!r.exists) return Fail(MissingError(r));
    if (!S_ISDIR(r.st.st_mode)) return Fail(ERROR_DIRECTORY);
    std::lock_guard<std::mutex> lock(g_cwdLock);
    g_cwd = r.win;
    return TRUE;
}

UINT GetDriveTypeA(LPCSTR lpRootPathName) {
    std::string root = lpRootPathName ? lpRootPathName : CurrentDirectory().substr(0, 3);
    if (root.size() < 2 || root[1] != ':') return DRIVE_NO_ROOT_DIR;
    char letter = root[0] >= 'a' && root[0] <= 'z' ? char(root[0] - 32) : root[0];
    const mxp::Drive* d = FindDrive(letter);
    return d ? d->type : DRIVE_NO_ROOT_DIR;
}

DWORD GetLogicalDrives() {
    DWORD mask = 0;
    for (const mxp::Drive& d : config().drives) mask |= 1u << (d.letter - 'A');
    return mask;
}

// ---- CFile ----

const UINT CFile::hFileNull = UINT(-1);

int CFileException::OsErrorToException(LONG e) {
    switch (e) {
        case ERROR_FILE_NOT_FOUND: return fileNotFound;
        case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_DRIVE: case ERROR_INVALID_NAME: case ERROR_FILENAME_EXCED_RANGE:
            return badPath;
        case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
        case ERROR_ACCESS_DENIED: case ERROR_WRITE_PROTECT: case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS:
            return accessDenied;
        case ERROR_INVALID_HANDLE: return invalidFile;
        case ERROR_NO_MORE_FILES: return directoryFull;
        case ERROR_SHARING_VIOLATION: return sharingViolation;
        case ERROR_LOCK_VIOLATION: case ERROR_NOT_LOCKED: return lockViolation;
        case ERROR_HANDLE_EOF: return endOfFile;
        case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return diskFull;
        case ERROR_NEGATIVE_SEEK: return badSeek;
        default: return generic;
    }
}

CFile::CFile() : m_hFile(hFileNull), m_bCloseOnDelete(FALSE) {}

CFile::CFile(LPCSTR lpszFileName, UINT nOpenFlags) : CFile() {
    CFileException e;
    if (!Open(lpszFileName, nOpenFlags, &e)) throw new CFileException(e.m_cause, e.m_lOsError, e.m_strFileName);
}

CFile::~CFile() {
    if (m_hFile != hFileNull && m_bCloseOnDelete) Abort();
}

void CFile::ThrowOsError(DWORD error) const {
    throw new CFileException(CFileException::OsErrorToException(LONG(error)), LONG(error), m_strFileName);
}

DWORD CFile::OpenHandle(LPCSTR lpszFileName, UINT nOpenFlags) {
    DWORD access = (nOpenFlags & 3) == modeRead ? kRead : (nOpenFlags & 3) == modeWrite ? kWrite : kRead | kWrite;
    DWORD share = 0;  // shareCompat and shareExclusive both deny everything
    switch (nOpenFlags & 0x70) {
        case shareDenyWrite: share = kShareRead; break;
        case shareDenyRead: share = kShareWrite; break;
        case shareDenyNone: share = kShareRead | kShareWrite; break;
        default: break;
    }
    bool create = (nOpenFlags & modeCreate) != 0;
    bool truncate = create && !(nOpenFlags & modeNoTruncate);
    // A writer is opened for reading too where the file allows it: the share markers are read locks.
    int accessFlags = access == kRead ? O_RDONLY : O_RDWR;
    Resolved r;
    DWORD e = Resolve(lpszFileName, r, accessFlags);
    if (e) return e;
    m_strFileName = CString(r.win);
    auto refuse = [&r](DWORD error) {
        if (r.fd >= 0) close(r.fd);
        return error;
    };
    if (r.exists) {
        if (S_ISDIR(r.st.st_mode) || IsSpecial(r.st)) return refuse(ERROR_ACCESS_DENIED);
        if (IsReadOnly(r.st) && ((access & kWrite) || truncate)) return refuse(ERROR_ACCESS_DENIED);
    } else if (!r.parentIsDir) {
        return ERROR_PATH_NOT_FOUND;
    } else if (!create) {
        return ERROR_FILE_NOT_FOUND;
    }
    int fd = r.fd >= 0 ? r.fd : open(r.host.c_str(), O_CLOEXEC | accessFlags | (create ? O_CREAT : 0), 0666);
    if (fd < 0 && errno == EACCES && access == kWrite) fd = open(r.host.c_str(), O_CLOEXEC | O_WRONLY | (create ? O_CREAT : 0), 0666);
    if (fd < 0) return ErrnoToWin(errno);
    struct stat st = r.st;  // the file found by the path; a new one is asked for its identity
    if (!r.exists) fstat(fd, &st);
    // Share modes are checked before the file is truncated, as Windows does.
    ULONG_PTR id = RegisterHandle(FileKey{st.st_dev, st.st_ino}, access, share, true);
    if (id && PlaceShareMarks(fd, access, share) != ERROR_SUCCESS) {
        UnregisterHandle(id);
        id = 0;
    }
    if (!id) {
        close(fd);
        return ERROR_SHARING_VIOLATION;
    }
    if (truncate && r.exists && st.st_size != 0 && ftruncate(fd, 0) != 0) {
        DWORD err = ErrnoToWin(errno);
        UnregisterHandle(id);
        close(fd);
        return err;
    }
    m_hFile = UINT(fd);
    m_nShareId = id;
    m_qwOpenLength = truncate ? 0 : LONGLONG(st.st_size);
    m_bCloseOnDelete = TRUE;
    return ERROR_SUCCESS;
}

void CFile::ReleaseHandle() {
    if (m_nShareId) UnregisterHandle(m_nShareId);
    m_nShareId = 0;
    m_hFile = hFileNull;
    m_bCloseOnDelete = FALSE;
}

BOOL CFile::Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    if (m_hFile != hFileNull) Abort();
    DWORD e = OpenHandle(lpszFileName, nOpenFlags & ~UINT(typeText | typeBinary));
    if (e) {
        if (pError) *pError = CFileException(CFileException::OsErrorToException(LONG(e)), LONG(e), lpszFileName);
        SetLastError(e);
        return FALSE;
    }
    return TRUE;
}

DWORD CFile::GetPosition() const {
    off_t pos = lseek(int(m_hFile), 0, SEEK_CUR);
    if (pos < 0) ThrowOsError(ErrnoToWin(errno));
    return DWORD(pos);
}

CString CFile::GetFileName() const {
    CString path = GetFilePath();
    int slash = std::max(path.ReverseFind('\\'), path.ReverseFind('/'));
    return path.Mid(slash + 1);
}

CString CFile::GetFileTitle() const {
    CString name = GetFileName();
    int dot = name.ReverseFind('.');
    return dot > 0 ? name.Left(dot) : name;
}

CString CFile::GetFilePath() const { return m_strFileName; }
void CFile::SetFilePath(LPCSTR lpszNewName) { m_strFileName = lpszNewName; }

CFile* CFile::Duplicate() const {
    int fd = dup(int(m_hFile));
    if (fd < 0) ThrowOsError(ErrnoToWin(errno));
    auto* copy = new CFile();
    copy->m_hFile = UINT(fd);
    copy->m_bCloseOnDelete = TRUE;
    copy->m_strFileName = m_strFileName;
    std::lock_guard<std::mutex> lock(g_openLock);
    auto it = g_handleFile.find(m_nShareId);
    if (it != g_handleFile.end()) {
        for (const OpenHandleInfo& h : g_open[it->second].handles) {
            if (h.id != m_nShareId) continue;
            copy->m_nShareId = g_nextId++;
            g_open[it->second].handles.push_back({copy->m_nShareId, h.access, h.share});
            g_handleFile[copy->m_nShareId] = it->second;
            break;
        }
    }
    return copy;
}

LONG CFile::Seek(LONG lOff, UINT nFrom) {
    int whence = nFrom == begin ? SEEK_SET : nFrom == current ? SEEK_CUR : SEEK_END;
    off_t pos = lseek(int(m_hFile), lOff, whence);
    if (pos < 0) ThrowOsError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrnoToWin(errno));
    return LONG(pos);
}

void CFile::SetLength(DWORD dwNewLen) {
    if (ftruncate(int(m_hFile), off_t(dwNewLen)) != 0) ThrowOsError(ErrnoToWin(errno));
}

DWORD CFile::GetLength() const {
    struct stat st {};
    if (fstat(int(m_hFile), &st) != 0) ThrowOsError(ErrnoToWin(errno));
    return DWORD(st.st_size);
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    UINT done = 0;
    while (done < nCount) {
        ssize_t n = read(int(m_hFile), static_cast<char*>(lpBuf) + done, nCount - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ThrowOsError(ErrnoToWin(errno));
        if (n == 0) break;
        done += UINT(n);
    }
    return done;
}

void CFile::Write(const void* lpBuf, UINT nCount) {
    UINT done = 0;
    while (done < nCount) {
        ssize_t n = write(int(m_hFile), static_cast<const char*>(lpBuf) + done, nCount - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ThrowOsError(n < 0 ? ErrnoToWin(errno) : ERROR_DISK_FULL);
        done += UINT(n);
    }
}

void CFile::LockRange(DWORD dwPos, DWORD dwCount) {
    std::lock_guard<std::mutex> lock(g_openLock);
    auto it = g_handleFile.find(m_nShareId);
    if (it == g_handleFile.end()) ThrowOsError(ERROR_INVALID_HANDLE);
    OpenFile& f = g_open[it->second];
    for (const RangeLock& l : f.locks) {
        if (dwPos < l.pos + l.count && l.pos < uint64_t(dwPos) + dwCount) ThrowOsError(ERROR_LOCK_VIOLATION);
    }
    if (dwCount && !LockHostRange(int(m_hFile), dwPos, dwCount)) ThrowOsError(ERROR_LOCK_VIOLATION);
    f.locks.push_back({m_nShareId, dwPos, dwCount});
}

void CFile::UnlockRange(DWORD dwPos, DWORD dwCount) {
    std::lock_guard<std::mutex> lock(g_openLock);
    auto it = g_handleFile.find(m_nShareId);
    if (it == g_handleFile.end()) ThrowOsError(ERROR_INVALID_HANDLE);
    std::vector<RangeLock>& locks = g_open[it->second].locks;
    for (auto l = locks.begin(); l != locks.end(); ++l) {
        if (l->id == m_nShareId && l->pos == dwPos && l->count == dwCount) {
            locks.erase(l);
            UnlockHostRange(int(m_hFile), dwPos, dwCount);
            return;
        }
    }
    ThrowOsError(ERROR_NOT_LOCKED);
}

void CFile::Abort() {
    if (m_hFile == hFileNull) return;
    close(int(m_hFile));
    ReleaseHandle();
}

void CFile::Flush() {
    if (m_hFile != hFileNull && fsync(int(m_hFile)) != 0 && errno != EINVAL) ThrowOsError(ErrnoToWin(errno));
}

void CFile::Close() {
    if (m_hFile == hFileNull) return;
    int rc = close(int(m_hFile));
    int err = errno;
    ReleaseHandle();
    if (rc != 0) ThrowOsError(ErrnoToWin(err));
}

UINT CFile::GetBufferPtr(UINT, UINT, void**, void**) { return 0; }  // no direct buffering

BOOL CFile::GetStatus(CFileStatus& rStatus) const { return GetStatus(m_strFileName, rStatus); }

void CFile::Rename(LPCSTR lpszOldName, LPCSTR lpszNewName) {
    if (!MoveFileA(lpszOldName, lpszNewName)) {
        LONG e = LONG(GetLastError());
        throw new CFileException(CFileException::OsErrorToException(e), e, lpszOldName);
    }
}

void CFile::Remove(LPCSTR lpszFileName) {
    if (!DeleteFileA(lpszFileName)) {
        LONG e = LONG(GetLastError());
        throw new CFileException(CFileException::OsErrorToException(e), e, lpszFileName);
    }
}

BOOL CFile::GetStatus(LPCSTR lpszFileName, CFileStatus& s) {
    Resolved r;
    if (Resolve(lpszFileName, r) || !r.exists) {
        s.m_szFullName[0] = '\0';
        return FALSE;
    }
    s.m_ctime = CTime(r.st.st_ctim.tv_sec);
    s.m_mtime = CTime(r.st.st_mtim.tv_sec);
    s.m_atime = CTime(r.st.st_atim.tv_sec);
    s.m_size = S_ISDIR(r.st.st_mode) ? 0 : LONG(r.st.st_size);
    s.m_attribute = BYTE(AttributesOf(BaseName(r.host), r.st));
    std::strncpy(s.m_szFullName, r.win.c_str(), MAX_PATH - 1);
    s.m_szFullName[MAX_PATH - 1] = '\0';
    return TRUE;
}

void CFile::SetStatus(LPCSTR lpszFileName, const CFileStatus& status) {
    Resolved r;
    DWORD e = Resolve(lpszFileName, r);
    if (!e && !r.exists) e = MissingError(r);
    if (!e && status.m_mtime.GetTime() != 0) {
        timespec times[2] = {{status.m_atime.GetTime() ? status.m_atime.GetTime() : status.m_mtime.GetTime(), 0},
                             {status.m_mtime.GetTime(), 0}};
        if (utimensat(AT_FDCWD, r.host.c_str(), times, 0) != 0) e = ErrnoToWin(errno);
    }
    if (!e && !SetFileAttributesA(lpszFileName, status.m_attribute)) e = GetLastError();
    if (e) throw new CFileException(CFileException::OsErrorToException(LONG(e)), LONG(e), lpszFileName);
}

// ---- CStdioFile ----

namespace {
const size_t kStreamBuffer = 4096;
}

CStdioFile::CStdioFile() = default;

CStdioFile::CStdioFile(LPCSTR lpszFileName, UINT nOpenFlags) : CStdioFile() {
    CFileException e;
    if (!Open(lpszFileName, nOpenFlags, &e)) throw new CFileException(e.m_cause, e.m_lOsError, e.m_strFileName);
}

CStdioFile::~CStdioFile() {
    if (m_hFile != hFileNull && m_bCloseOnDelete) Abort();
}

BOOL CStdioFile::Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    if (m_hFile != hFileNull) Abort();
    m_bText = (nOpenFlags & typeText) != 0 || (nOpenFlags & typeBinary) == 0;
    DWORD e = OpenHandle(lpszFileName, nOpenFlags & ~UINT(typeText | typeBinary));
    if (e) {
        if (pError) *pError = CFileException(CFileException::OsErrorToException(LONG(e)), LONG(e), lpszFileName);
        SetLastError(e);
        return FALSE;
    }
    m_qwPos = m_qwBufferStart = 0;
    m_nBufferLen = 0;
    m_bPending = false;
    UINT share = nOpenFlags & 0x70;
    m_bKeepLength = share == shareExclusive || share == shareDenyWrite;
    m_qwLength = m_bKeepLength ? m_qwOpenLength : -1;
    return TRUE;
}

void CStdioFile::Wrote(ULONGLONG qwEnd) const {
    if (m_qwLength >= 0 && LONGLONG(qwEnd) > m_qwLength) m_qwLength = LONGLONG(qwEnd);
}

CFile* CStdioFile::Duplicate() const { throw new CNotSupportedException(); }

void CStdioFile::FlushPending() const {
    if (!m_bPending) return;
    size_t done = 0;
    while (done < m_nBufferLen) {
        ssize_t n = pwrite(int(m_hFile), m_buffer.get() + done, m_nBufferLen - done, off_t(m_qwBufferStart + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = errno;
            m_bPending = false;
            m_nBufferLen = 0;
            m_qwLength = -1;  // part of it may have been written
            ThrowOsError(n < 0 ? ErrnoToWin(err) : ERROR_DISK_FULL);
        }
        done += size_t(n);
    }
    Wrote(m_qwBufferStart + m_nBufferLen);
    m_bPending = false;
    m_nBufferLen = 0;
}

UINT CStdioFile::RawRead(char* pOut, UINT nCount) {
    FlushPending();
    UINT done = 0;
    while (done < nCount) {
        if (m_nBufferLen && m_qwPos >= m_qwBufferStart && m_qwPos < m_qwBufferStart + m_nBufferLen) {
            size_t off = size_t(m_qwPos - m_qwBufferStart);
            size_t k = std::min(size_t(nCount - done), m_nBufferLen - off);
            std::memcpy(pOut + done, m_buffer.get() + off, k);
            done += UINT(k);
            m_qwPos += k;
            continue;
        }
        if (m_qwLength >= 0 && m_qwPos >= ULONGLONG(m_qwLength)) break;  // nothing to ask the system for
        bool direct = nCount - done >= kStreamBuffer;  // large reads skip the cache
        if (!direct && !m_buffer) m_buffer.reset(new char[kStreamBuffer]);
        char* target = direct ? pOut + done : m_buffer.get();
        size_t want = direct ? nCount - done : kStreamBuffer;
        ssize_t n = pread(int(m_hFile), target, want, off_t(m_qwPos));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ThrowOsError(ErrnoToWin(errno));
        if (n == 0) break;
        if (direct) {
            done += UINT(n);
            m_qwPos += ULONGLONG(n);
        } else {
            m_qwBufferStart = m_qwPos;
            m_nBufferLen = size_t(n);
        }
    }
    return done;
}

void CStdioFile::RawWrite(const char* pData, UINT nCount) {
    if (!m_bPending) m_nBufferLen = 0;  // the read cache goes
    if (m_bPending && (m_qwPos != m_qwBufferStart + m_nBufferLen || m_nBufferLen + nCount > kStreamBuffer)) FlushPending();
    if (nCount >= kStreamBuffer) {
        for (UINT done = 0; done < nCount;) {
            ssize_t n = pwrite(int(m_hFile), pData + done, nCount - done, off_t(m_qwPos));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                m_qwLength = -1;
                ThrowOsError(n < 0 ? ErrnoToWin(errno) : ERROR_DISK_FULL);
            }
            done += UINT(n);
            m_qwPos += ULONGLONG(n);
            Wrote(m_qwPos);
        }
        return;
    }
    if (!m_bPending) {
        if (!m_buffer) m_buffer.reset(new char[kStreamBuffer]);
        m_qwBufferStart = m_qwPos;
        m_nBufferLen = 0;
        m_bPending = true;
    }
    std::memcpy(m_buffer.get() + m_nBufferLen, pData, nCount);
    m_nBufferLen += nCount;
    m_qwPos += nCount;
}

DWORD CStdioFile::GetPosition() const { return DWORD(m_qwPos); }

LONG CStdioFile::Seek(LONG lOff, UINT nFrom) {
    LONGLONG base = 0;
    if (nFrom == current) {
        base = LONGLONG(m_qwPos);
    } else if (nFrom == end) {
        base = LONGLONG(GetLength());
    }
    if (base + lOff < 0) ThrowOsError(ERROR_NEGATIVE_SEEK);
    m_qwPos = ULONGLONG(base + lOff);
    return LONG(m_qwPos);
}

void CStdioFile::SetLength(DWORD dwNewLen) {
    FlushPending();
    m_nBufferLen = 0;
    m_qwLength = -1;
    CFile::SetLength(dwNewLen);
    if (m_bKeepLength) m_qwLength = dwNewLen;
}

DWORD CStdioFile::GetLength() const {
    FlushPending();
    if (m_qwLength >= 0) return DWORD(m_qwLength);
    DWORD length = CFile::GetLength();
    if (m_bKeepLength) m_qwLength = length;
    return length;
}

int CStdioFile::GetChar() {
    char c = 0;
    if (!m_bPending && m_nBufferLen && m_qwPos >= m_qwBufferStart && m_qwPos < m_qwBufferStart + m_nBufferLen) {
        c = m_buffer[size_t(m_qwPos++ - m_qwBufferStart)];
    } else if (RawRead(&c, 1) != 1) {
        return EOF;
    }
    if (c == '\r' && m_bText) {
        char next = 0;
        if (RawRead(&next, 1) == 1) {
            if (next == '\n') return '\n';
            --m_qwPos;  // not a line end: the byte is read again next time
        }
    }
    return static_cast<unsigned char>(c);
}

UINT CStdioFile::Read(void* lpBuf, UINT nCount) {
    if (!m_bText) return RawRead(static_cast<char*>(lpBuf), nCount);
    auto* out = static_cast<char*>(lpBuf);
    UINT done = 0;
    int c = 0;
    while (done < nCount && (c = GetChar()) != EOF) out[done++] = char(c);
    return done;
}

void CStdioFile::Write(const void* lpBuf, UINT nCount) {
    const auto* p = static_cast<const char*>(lpBuf);
    if (!m_bText) return RawWrite(p, nCount);
    UINT start = 0;
    for (UINT i = 0; i <= nCount; ++i) {
        if (i == nCount || p[i] == '\n') {
            RawWrite(p + start, i - start);
            if (i < nCount) RawWrite("\r\n", 2);
            start = i + 1;
        }
    }
}

void CStdioFile::WriteString(LPCSTR lpsz) { Write(lpsz, UINT(std::strlen(lpsz))); }

LPSTR CStdioFile::ReadString(LPSTR lpsz, UINT nMax) {
    if (!lpsz || nMax == 0) return nullptr;
    UINT n = 0;
    int c = 0;
    while (n + 1 < nMax && (c = GetChar()) != EOF) {
        lpsz[n++] = char(c);
        if (c == '\n') break;
    }
    lpsz[n] = '\0';
    return n == 0 && nMax > 1 ? nullptr : lpsz;
}

BOOL CStdioFile::ReadString(CString& rString) {
    std::string line;
    int c = 0;
    bool any = false;
    while ((c = GetChar()) != EOF) {
        any = true;
        if (c == '\n') break;
        line += char(c);
    }
    // A zero byte ends the line's text, as it ends a C string.
    size_t zero = line.find('\0');
    if (zero != std::string::npos) line.resize(zero);
    rString = CString(std::move(line));
    return any;
}

void CStdioFile::Abort() {
    try {
        FlushPending();
    } catch (CException* e) {
        e->Delete();
    }
    CFile::Abort();
}

void CStdioFile::Flush() { FlushPending(); }

void CStdioFile::Close() {
    if (m_hFile == hFileNull) return;
    try {
        FlushPending();
    } catch (CException*) {
        CFile::Abort();
        throw;
    }
    CFile::Close();
}
