#include "CatalogIndex.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "MxModule/MxModule.h"
#include "VideoSize.h"

namespace mxcatalog {

namespace {

constexpr int64_t MAX_LYRIC_BYTES = 1 << 20;

// Ids are never given twice (AUTOINCREMENT): an address handed out earlier never names another file.
const char* SCHEMA =
    "CREATE TABLE IF NOT EXISTS files(id INTEGER PRIMARY KEY AUTOINCREMENT, path TEXT UNIQUE NOT NULL, stem TEXT NOT NULL,"
    " kind INTEGER NOT NULL, size INTEGER, mtime INTEGER, title TEXT, artist TEXT, album TEXT, bitrate INTEGER,"
    " duration INTEGER, width INTEGER, height INTEGER, ltitle TEXT, lartisttitle TEXT, ltitleartist TEXT);"
    "CREATE INDEX IF NOT EXISTS files_stem ON files(stem, kind);"
    "CREATE INDEX IF NOT EXISTS files_ltitle ON files(ltitle);"
    "CREATE INDEX IF NOT EXISTS files_lartisttitle ON files(lartisttitle);"
    "CREATE INDEX IF NOT EXISTS files_ltitleartist ON files(ltitleartist);"
    "CREATE VIRTUAL TABLE IF NOT EXISTS words USING fts5(title, artist, album, name, tokenize='unicode61', prefix='1 2');"
    "CREATE VIRTUAL TABLE IF NOT EXISTS vwords USING fts5(title, name, tokenize='unicode61', prefix='1 2');";

constexpr int SCHEMA_VERSION = 2;
// Marks a database as an mxcatalog index ("MxCI"); one without it is touched only when it is empty or
// is an index written before the mark (layout 1, nothing but this index's own tables).
constexpr int64_t APPLICATION_ID = 0x4D784349;
const char* FOREIGN_OBJECTS =
    "SELECT count(*) FROM sqlite_master WHERE name NOT IN ('files', 'words', 'vwords', 'files_stem', 'files_ltitle',"
    " 'files_lartisttitle', 'files_ltitleartist') AND name NOT LIKE 'words\\_%' ESCAPE '\\'"
    " AND name NOT LIKE 'vwords\\_%' ESCAPE '\\' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'";

// Matches ranked for an answer: a key that matches more songs than this is ranked among the first of
// them only, so that a one-letter key costs no more than a precise one.
constexpr int RANKED_MATCHES = 1000;

// A prepared statement that finalises itself.
class CStatement {
public:
    CStatement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_pStmt, nullptr); }
    ~CStatement() { sqlite3_finalize(m_pStmt); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;
    bool Ok() const { return m_pStmt != nullptr; }
    CStatement& Bind(int i, const std::string& s) {
        sqlite3_bind_text(m_pStmt, i, s.data(), int(s.size()), SQLITE_TRANSIENT);
        return *this;
    }
    CStatement& Bind(int i, int64_t n) {
        sqlite3_bind_int64(m_pStmt, i, n);
        return *this;
    }
    bool Step() { return m_pStmt && sqlite3_step(m_pStmt) == SQLITE_ROW; }
    bool Run() {
        if (!m_pStmt) return false;
        int rc = sqlite3_step(m_pStmt);
        sqlite3_reset(m_pStmt);
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    void Reset() {
        sqlite3_reset(m_pStmt);
        sqlite3_clear_bindings(m_pStmt);
    }
    std::string Text(int i) {
        const unsigned char* p = sqlite3_column_text(m_pStmt, i);
        return p ? std::string(reinterpret_cast<const char*>(p), size_t(sqlite3_column_bytes(m_pStmt, i))) : std::string();
    }
    int64_t Int(int i) { return sqlite3_column_int64(m_pStmt, i); }

private:
    sqlite3_stmt* m_pStmt = nullptr;
};

// The path without its extension, ASCII letters folded: the key that pairs "Song.mp3" with "song.LRC".
std::string StemKey(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    return FoldAscii(path.substr(0, dot));
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string BaseStem(const std::string& path) {
    std::string base = BaseName(path);
    size_t dot = base.rfind('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

int KindOfName(const std::string& path) {
    std::string base = FoldAscii(BaseName(path));
    size_t dot = base.rfind('.');
    if (dot == std::string::npos) return -1;
    std::string ext = base.substr(dot + 1);
    if (ext == "mp3") return KIND_MP3;
    if (ext == "wma") return KIND_WMA;
    if (ext == "flv" || ext == "mp4") return KIND_VIDEO;
    if (ext == "lrc") return KIND_LYRIC;
    if (ext == "jpg" || ext == "jpeg") return KIND_PICTURE;
    return -1;
}

std::string ModuleText(const CString& s) { return CleanUtf8(MxAnsiToUtf8(s, s.GetLength())); }

std::string CollapseBlanks(const std::string& s) {
    std::string out;
    for (char c : Trim(s)) {
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out += c;
    }
    return out;
}

// A regular file opened for reading, links not followed; -1 for anything else. Opened without waiting
// first, so that a pipe or a device put in the folder cannot hold the thread up.
int OpenRegular(const char* path) {
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool ReadBounded(const std::string& path, int64_t limit, std::string& bytes) {
    int fd = OpenRegular(path.c_str());
    if (fd < 0) return false;
    bytes.assign(size_t(limit), '\0');
    size_t got = 0;
    for (ssize_t n; got < bytes.size() && (n = read(fd, &bytes[got], bytes.size() - got)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        got += size_t(n);
    }
    close(fd);
    bytes.resize(got);
    return true;
}

}  // namespace

CCatalogIndex::~CCatalogIndex() {
    for (sqlite3* db : m_vecAll) sqlite3_close(db);
    if (m_pWriter) sqlite3_close(m_pWriter);
}

bool CCatalogIndex::Open(const std::string& strDbPath, std::string& strError) {
    m_strDbPath = strDbPath;
    if (sqlite3_open_v2(strDbPath.c_str(), &m_pWriter, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        strError = m_pWriter ? sqlite3_errmsg(m_pWriter) : "out of memory";
        return false;
    }
    sqlite3_busy_timeout(m_pWriter, 5000);
    auto number = [this](const char* sql, int64_t& n) {
        CStatement q(m_pWriter, sql);
        if (!q.Step()) return false;
        n = q.Int(0);
        return true;
    };
    int64_t application = 0, version = 0, foreign = 0, objects = 0, tables = 0;
    if (!number("PRAGMA application_id", application) || !number("PRAGMA user_version", version) ||
        !number(FOREIGN_OBJECTS, foreign) || !number("SELECT count(*) FROM sqlite_master", objects) ||
        !number("SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN ('files', 'words', 'vwords')", tables)) {
        strError = sqlite3_errmsg(m_pWriter);
        return false;
    }
    bool unmarked = application == 0 && foreign == 0 && (objects == 0 || (version == 1 && tables == 3));
    if (application != APPLICATION_ID && !unmarked) {
        strError = "not an mxcatalog index (it holds other data); left untouched";
        return false;
    }
    auto exec = [this, &strError](const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(m_pWriter, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
        strError = message ? message : "cannot write the index";
        sqlite3_free(message);
        return false;
    };
    if (!exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; BEGIN IMMEDIATE")) return false;
    // The index only mirrors the folders: one of another layout is made again, its ids not given again.
    bool ok = true;
    if (objects > 0 && version != SCHEMA_VERSION) {
        int64_t last = 0;
        number("SELECT max(id) FROM files", last);
        int64_t seq = 0;
        if (number("SELECT seq FROM sqlite_sequence WHERE name='files'", seq)) last = std::max(last, seq);
        ok = exec("DROP TABLE IF EXISTS files; DROP TABLE IF EXISTS words; DROP TABLE IF EXISTS vwords;") && exec(SCHEMA) &&
             (last <= 0 || exec("INSERT INTO sqlite_sequence(name, seq) VALUES('files', " + std::to_string(last) + ")"));
    } else {
        ok = exec(SCHEMA);
    }
    ok = ok && exec("PRAGMA application_id=" + std::to_string(APPLICATION_ID) + "; PRAGMA user_version=" + std::to_string(SCHEMA_VERSION));
    sqlite3_exec(m_pWriter, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    return ok;
}

bool CCatalogIndex::SetRoots(const std::vector<std::string>& roots, std::string& strError) {
    m_vecRoots.clear();
    for (const auto& root : roots) {
        char real[PATH_MAX];
        struct stat st;
        if (!realpath(root.c_str(), real) || stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) {
            strError = root + ": not a folder";
            return false;
        }
        m_vecRoots.push_back(real);
    }
    // A folder given twice, or inside another given folder, is walked once.
    std::vector<std::string> roots2 = m_vecRoots;
    m_vecRoots.clear();
    for (const auto& root : roots2) {
        bool inside = false;
        for (const auto& other : m_vecRoots) inside = inside || root == other || root.rfind(other == "/" ? other : other + "/", 0) == 0;
        if (!inside) {
            for (auto& other : m_vecRoots) {
                if (other.rfind(root == "/" ? root : root + "/", 0) == 0) other = root;
            }
            m_vecRoots.push_back(root);
        }
    }
    std::sort(m_vecRoots.begin(), m_vecRoots.end());
    m_vecRoots.erase(std::unique(m_vecRoots.begin(), m_vecRoots.end()), m_vecRoots.end());
    return true;
}

sqlite3* CCatalogIndex::Reader() {
    {
        std::lock_guard<std::mutex> lock(m_csReaders);
        if (!m_vecIdle.empty()) {
            sqlite3* db = m_vecIdle.back();
            m_vecIdle.pop_back();
            return db;
        }
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(m_strDbPath.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 2000);
    std::lock_guard<std::mutex> lock(m_csReaders);
    m_vecAll.push_back(db);
    return db;
}

void CCatalogIndex::Release(sqlite3* db) {
    if (!db) return;
    std::lock_guard<std::mutex> lock(m_csReaders);
    m_vecIdle.push_back(db);
}

bool CCatalogIndex::UnderRoot(const std::string& strRealPath) const {
    for (const auto& root : m_vecRoots) {
        std::string prefix = root == "/" ? root : root + "/";
        if (strRealPath.compare(0, prefix.size(), prefix) == 0 && strRealPath.size() > prefix.size()) return true;
    }
    return false;
}

bool CCatalogIndex::ReadFileRow(const std::string& strPath, int64_t nSize, int64_t nMtime, CATALOGROW& row) {
    int kind = KindOfName(strPath);
    if (kind < 0) return false;
    row = CATALOGROW();
    row.strPath = strPath;
    row.nKind = kind;
    row.nSize = nSize;
    row.nMtime = nMtime;
    std::string stem = CleanUtf8(BaseStem(strPath));
    if (kind == KIND_MP3 || kind == KIND_WMA) {
        CString winPath;
        AUDIOFILEINFO info;
        CAudioFileParse facade;
        if (!MxHostPathToWindows(strPath, winPath) || !facade.ParseAudioFile(winPath, &info, 1, 0, "")) {
            row.nKind = KIND_UNREADABLE;
            return true;
        }
        row.strTitle = Trim(ModuleText(info.strTitle));
        if (row.strTitle.empty()) row.strTitle = stem;
        row.strArtist = Trim(ModuleText(info.strArtist));
        row.strAlbum = Trim(ModuleText(info.strAlbum));
        row.nDuration = info.nDuration;
        CString bitrate = info.strBitrate;
        if (bitrate.CompareNoCase("vbr") == 0) {
            // A variable rate is given as the file's average.
            row.nBitrate = info.nDuration > 0 ? int(nSize * 8 / 1000 / info.nDuration) : 0;
        } else {
            row.nBitrate = std::atoi(bitrate);
        }
    } else if (kind == KIND_VIDEO) {
        row.strTitle = stem;
        int fd = OpenRegular(strPath.c_str());
        FILE* f = fd < 0 ? nullptr : fdopen(fd, "rb");
        if (!f && fd >= 0) close(fd);
        if (!f || !VideoFrameSize(f, row.nWidth, row.nHeight)) row.nWidth = row.nHeight = 0;
        if (f) std::fclose(f);
    } else if (kind == KIND_LYRIC) {
        std::string bytes;
        if (ReadBounded(strPath, MAX_LYRIC_BYTES, bytes)) row.strTitle = LyricPreview(LyricText(bytes));
    }
    return true;
}

bool CCatalogIndex::PutRows(const std::vector<CATALOGROW>& rows) {
    std::lock_guard<std::mutex> lock(m_csWriter);
    return PutRowsLocked(rows);
}

bool CCatalogIndex::PutRowsLocked(const std::vector<CATALOGROW>& rows) {
    if (!m_pWriter) return false;
    sqlite3_exec(m_pWriter, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    CStatement find(m_pWriter, "SELECT id FROM files WHERE path=?1");
    CStatement put(m_pWriter,
                   "INSERT INTO files(path, stem, kind, size, mtime, title, artist, album, bitrate, duration, width, height,"
                   " ltitle, lartisttitle, ltitleartist) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15)"
                   " ON CONFLICT(path) DO UPDATE SET stem=?2, kind=?3, size=?4, mtime=?5, title=?6, artist=?7, album=?8,"
                   " bitrate=?9, duration=?10, width=?11, height=?12, ltitle=?13, lartisttitle=?14, ltitleartist=?15");
    CStatement unword(m_pWriter, "DELETE FROM words WHERE rowid=?1");
    CStatement unvword(m_pWriter, "DELETE FROM vwords WHERE rowid=?1");
    CStatement word(m_pWriter, "INSERT INTO words(rowid, title, artist, album, name) VALUES(?1,?2,?3,?4,?5)");
    CStatement vword(m_pWriter, "INSERT INTO vwords(rowid, title, name) VALUES(?1,?2,?3)");
    bool ok = find.Ok() && put.Ok() && unword.Ok() && unvword.Ok() && word.Ok() && vword.Ok();
    for (size_t i = 0; ok && i < rows.size(); ++i) {
        const CATALOGROW& r = rows[i];
        std::string ltitle = FoldAscii(CollapseBlanks(r.strTitle));
        std::string lartisttitle = FoldAscii(CollapseBlanks(r.strArtist + " " + r.strTitle));
        // The front end may put the title first.
        std::string ltitleartist = FoldAscii(CollapseBlanks(r.strTitle + " " + r.strArtist));
        if (r.nKind == KIND_LYRIC) {
            // A lyric file alone is found by its name: "Title.lrc" or "Artist - Title.lrc".
            std::string name = CollapseBlanks(CleanUtf8(BaseStem(r.strPath)));
            ltitle = FoldAscii(name);
            size_t dash = name.find(" - ");
            lartisttitle = dash == std::string::npos ? ltitle : FoldAscii(name.substr(0, dash) + " " + name.substr(dash + 3));
            ltitleartist = dash == std::string::npos ? ltitle : FoldAscii(name.substr(dash + 3) + " " + name.substr(0, dash));
        }
        put.Bind(1, r.strPath).Bind(2, StemKey(r.strPath)).Bind(3, int64_t(r.nKind)).Bind(4, r.nSize).Bind(5, r.nMtime);
        put.Bind(6, r.strTitle).Bind(7, r.strArtist).Bind(8, r.strAlbum).Bind(9, int64_t(r.nBitrate)).Bind(10, int64_t(r.nDuration));
        put.Bind(11, int64_t(r.nWidth)).Bind(12, int64_t(r.nHeight)).Bind(13, ltitle).Bind(14, lartisttitle).Bind(15, ltitleartist);
        ok = put.Run();
        find.Bind(1, r.strPath);
        int64_t id = find.Step() ? find.Int(0) : 0;
        find.Reset();
        ok = ok && id > 0 && unword.Bind(1, id).Run() && unvword.Bind(1, id).Run();
        std::string name = SegmentCjk(CleanUtf8(BaseName(r.strPath)));
        if (ok && (r.nKind == KIND_MP3 || r.nKind == KIND_WMA)) {
            word.Bind(1, id).Bind(2, SegmentCjk(r.strTitle)).Bind(3, SegmentCjk(r.strArtist)).Bind(4, SegmentCjk(r.strAlbum));
            ok = word.Bind(5, name).Run();
        } else if (ok && r.nKind == KIND_VIDEO) {
            ok = vword.Bind(1, id).Bind(2, SegmentCjk(r.strTitle)).Bind(3, name).Run();
        }
    }
    sqlite3_exec(m_pWriter, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    if (ok) ++m_nGeneration;
    return ok;
}

REFRESHCOUNT CCatalogIndex::Refresh(const std::atomic<bool>* pStop) {
    REFRESHCOUNT count;
    struct KNOWN {
        int64_t nId, nSize, nMtime;
        bool bSeen;
    };
    std::unordered_map<std::string, KNOWN> known;
    {
        std::lock_guard<std::mutex> lock(m_csWriter);
        CStatement all(m_pWriter, "SELECT id, path, size, mtime FROM files");
        while (all.Step()) known[all.Text(1)] = KNOWN{all.Int(0), all.Int(2), all.Int(3), false};
    }
    auto stopped = [pStop] { return pStop && pStop->load(); };
    std::vector<CATALOGROW> batch;
    auto flush = [&] {
        if (!batch.empty()) PutRows(batch);
        batch.clear();
    };
    // Folders that could not be read whole: what the index holds below them stays.
    std::vector<std::string> kept;
    auto failed = [&](const std::string& path, int error) {
        ++count.nFailed;
        if (count.vecFailed.size() < 10) count.vecFailed.push_back(path + ": " + std::strerror(error));
        kept.push_back(path);
    };
    for (const auto& root : m_vecRoots) {
        std::vector<std::string> dirs{root};
        while (!dirs.empty() && !stopped()) {
            std::string dir = std::move(dirs.back());
            dirs.pop_back();
            // Links are never followed: what is served stays inside the folder.
            int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            DIR* d = dfd < 0 ? nullptr : fdopendir(dfd);
            if (!d) {
                failed(dir, errno);
                if (dfd >= 0) close(dfd);
                continue;
            }
            std::string prefix = dir == "/" ? dir : dir + "/";
            while (!stopped()) {
                errno = 0;
                struct dirent* e = readdir(d);
                if (!e) {
                    if (errno) failed(dir, errno);
                    break;
                }
                std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                std::string path = prefix + name;
                struct stat st;
                if (fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    failed(path, errno);
                    continue;
                }
                if (S_ISDIR(st.st_mode)) {
                    dirs.push_back(path);
                    continue;
                }
                // Only regular files: a pipe or a device would hold the reader up.
                if (!S_ISREG(st.st_mode) || KindOfName(path) < 0) continue;
                int64_t mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
                auto k = known.find(path);
                if (k != known.end()) {
                    k->second.bSeen = true;
                    if (k->second.nSize == st.st_size && k->second.nMtime == mtime) {
                        ++count.nUnchanged;
                        continue;
                    }
                }
                CATALOGROW row;
                if (!ReadFileRow(path, st.st_size, mtime, row)) continue;
                if (row.nKind == KIND_UNREADABLE) ++count.nUnreadable;
                ++(k == known.end() ? count.nAdded : count.nUpdated);
                batch.push_back(std::move(row));
                if (batch.size() >= 256) flush();
            }
            closedir(d);
        }
    }
    flush();
    if (stopped()) return count;
    std::lock_guard<std::mutex> lock(m_csWriter);
    sqlite3_exec(m_pWriter, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    CStatement drop(m_pWriter, "DELETE FROM files WHERE id=?1");
    CStatement unword(m_pWriter, "DELETE FROM words WHERE rowid=?1");
    CStatement unvword(m_pWriter, "DELETE FROM vwords WHERE rowid=?1");
    for (const auto& k : known) {
        if (k.second.bSeen) continue;
        bool below = false;
        for (const auto& p : kept) {
            below = below || p == "/" || k.first == p || (k.first.compare(0, p.size(), p) == 0 && k.first[p.size()] == '/');
        }
        if (below) {
            ++count.nKept;
            continue;
        }
        drop.Bind(1, k.second.nId).Run();
        unword.Bind(1, k.second.nId).Run();
        unvword.Bind(1, k.second.nId).Run();
        ++count.nRemoved;
    }
    sqlite3_exec(m_pWriter, "COMMIT", nullptr, nullptr, nullptr);
    if (count.nRemoved) ++m_nGeneration;
    return count;
}

int64_t CCatalogIndex::Count() {
    sqlite3* db = Reader();
    int64_t n = 0;
    {
        CStatement q(db, "SELECT count(*) FROM files WHERE kind>0");
        if (q.Step()) n = q.Int(0);
    }
    Release(db);
    return n;
}

std::vector<SONGITEM> CCatalogIndex::SearchSongs(const std::string& strKeyword, int nLimit) {
    std::vector<SONGITEM> items;
    std::string fts = BuildFtsQuery(strKeyword);
    if (fts.empty()) return items;
    sqlite3* db = Reader();
    {
        CStatement q(db,
                     "SELECT f.id, f.kind, f.title, f.artist, f.album, f.size, f.bitrate, f.duration,"
                     " (SELECT l.id FROM files l WHERE l.stem=f.stem AND l.kind=4 LIMIT 1),"
                     " (SELECT l.title FROM files l WHERE l.stem=f.stem AND l.kind=4 LIMIT 1)"
                     " FROM (SELECT rowid, rank FROM (SELECT rowid, rank FROM words WHERE words MATCH ?1 LIMIT ?3)"
                     " ORDER BY rank LIMIT ?2) w JOIN files f ON f.id=w.rowid WHERE f.kind IN (1,2) ORDER BY w.rank");
        q.Bind(1, fts).Bind(2, int64_t(nLimit)).Bind(3, int64_t(RANKED_MATCHES));
        while (q.Step()) {
            SONGITEM s;
            s.nId = q.Int(0);
            s.strType = q.Int(1) == KIND_WMA ? "WMA" : "MP3";
            s.strTitle = q.Text(2);
            s.strArtist = q.Text(3);
            s.strAlbum = q.Text(4);
            s.nSize = q.Int(5);
            s.nBitrate = int(q.Int(6));
            s.nDuration = int(q.Int(7));
            s.nLyricId = q.Int(8);
            s.strLyric = q.Text(9);
            items.push_back(std::move(s));
        }
    }
    Release(db);
    return items;
}

std::string CCatalogIndex::Correction(const std::string& strKeyword) {
    std::string key = Trim(strKeyword);
    if (key.empty() || key.size() > 256) return std::string();
    std::lock_guard<std::mutex> lock(m_csNames);
    if (m_nNamesGeneration != m_nGeneration.load()) {
        m_nNamesGeneration = m_nGeneration.load();
        m_vecNames.clear();
        sqlite3* db = Reader();
        {
            CStatement q(db, "SELECT title FROM files WHERE kind IN (1,2) UNION SELECT artist FROM files WHERE kind IN (1,2)");
            while (q.Step()) {
                std::string name = q.Text(0);
                if (!Trim(name).empty()) m_vecNames.push_back(name);
            }
        }
        Release(db);
    }
    // Close means at most one edit in four letters (at least one, at most three).
    size_t keyPoints = 0;
    for (unsigned char c : key) keyPoints += (c & 0xC0) != 0x80;
    int allowed = int(std::min<size_t>(3, std::max<size_t>(1, keyPoints / 4)));
    std::string best;
    int bestDistance = allowed + 1;
    for (const auto& name : m_vecNames) {
        size_t points = 0;
        for (unsigned char c : name) points += (c & 0xC0) != 0x80;
        if (points + size_t(allowed) < keyPoints || keyPoints + size_t(allowed) < points) continue;
        int d = EditDistance(key, name);
        if (d > 0 && (d < bestDistance || (d == bestDistance && name < best))) {
            best = name;
            bestDistance = d;
        }
    }
    return best;
}

std::string CCatalogIndex::ReadLyricFile(const std::string& strPath) {
    char real[PATH_MAX];
    std::string bytes;
    if (!realpath(strPath.c_str(), real) || !UnderRoot(real) || !ReadBounded(real, MAX_LYRIC_BYTES, bytes)) return std::string();
    return LyricText(bytes);
}

std::vector<LYRICITEM> CCatalogIndex::FindLyrics(const std::string& strQuery, int nLimit) {
    std::vector<LYRICITEM> items;
    std::string key = FoldAscii(CollapseBlanks(strQuery));
    if (key.empty()) return items;
    std::vector<std::pair<LYRICITEM, std::string>> found;
    sqlite3* db = Reader();
    {
        CStatement songs(db,
                         "SELECT f.title, f.artist, f.album, l.path FROM files f JOIN files l ON l.stem=f.stem AND l.kind=4"
                         " WHERE f.kind IN (1,2) AND (f.lartisttitle=?1 OR f.ltitle=?1 OR f.ltitleartist=?1) LIMIT ?2");
        songs.Bind(1, key).Bind(2, int64_t(nLimit));
        while (songs.Step()) found.push_back({LYRICITEM{songs.Text(0), songs.Text(1), songs.Text(2), ""}, songs.Text(3)});
        if (found.empty()) {
            CStatement files(db, "SELECT path FROM files WHERE kind=4 AND (lartisttitle=?1 OR ltitle=?1 OR ltitleartist=?1) LIMIT ?2");
            files.Bind(1, key).Bind(2, int64_t(nLimit));
            while (files.Step()) {
                std::string path = files.Text(0);
                found.push_back({LYRICITEM{CleanUtf8(BaseStem(path)), "", "", ""}, path});
            }
        }
    }
    Release(db);
    for (auto& f : found) {
        f.first.strLyric = ReadLyricFile(f.second);
        if (!f.first.strLyric.empty()) items.push_back(std::move(f.first));
    }
    return items;
}

std::vector<VIDEOITEM> CCatalogIndex::SearchVideos(const std::string& strKeyword, int nLimit) {
    std::vector<VIDEOITEM> items;
    std::string fts = BuildFtsQuery(strKeyword);
    if (fts.empty()) return items;
    sqlite3* db = Reader();
    {
        CStatement q(db,
                     "SELECT f.id, f.title, f.width, f.height,"
                     " (SELECT p.id FROM files p WHERE p.stem=f.stem AND p.kind=5 LIMIT 1)"
                     " FROM (SELECT rowid, rank FROM (SELECT rowid, rank FROM vwords WHERE vwords MATCH ?1 LIMIT ?3)"
                     " ORDER BY rank LIMIT ?2) w JOIN files f ON f.id=w.rowid WHERE f.kind=3 ORDER BY w.rank");
        q.Bind(1, fts).Bind(2, int64_t(nLimit)).Bind(3, int64_t(RANKED_MATCHES));
        while (q.Step()) {
            VIDEOITEM v;
            v.nId = q.Int(0);
            v.strTitle = q.Text(1);
            v.nWidth = int(q.Int(2));
            v.nHeight = int(q.Int(3));
            v.nPictureId = q.Int(4);
            items.push_back(std::move(v));
        }
    }
    Release(db);
    return items;
}

int CCatalogIndex::OpenServable(int64_t nId, int64_t& nSize, std::string& strRealPath) {
    std::string path;
    sqlite3* db = Reader();
    {
        CStatement q(db, "SELECT path FROM files WHERE id=?1 AND kind>0");
        q.Bind(1, nId);
        if (q.Step()) path = q.Text(0);
    }
    Release(db);
    char real[PATH_MAX];
    if (path.empty() || !realpath(path.c_str(), real) || !UnderRoot(real)) return -1;
    int fd = OpenRegular(real);
    if (fd < 0) return -1;
    // The file opened is the one checked: its own name, read back from the descriptor.
    char opened[PATH_MAX];
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = readlink(link.c_str(), opened, sizeof opened - 1);
    struct stat st;
    if (n <= 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !UnderRoot(std::string(opened, size_t(n)))) {
        close(fd);
        return -1;
    }
    nSize = st.st_size;
    strRealPath = real;
    return fd;
}

std::vector<int64_t> CCatalogIndex::SameNameIds(int64_t nId) {
    std::vector<int64_t> ids;
    sqlite3* db = Reader();
    {
        std::string path;
        CStatement q(db, "SELECT path FROM files WHERE id=?1 AND kind>0");
        q.Bind(1, nId);
        if (q.Step()) path = q.Text(0);
        // The folders never nest (SetRoots merged them), so the file lies under one of them at most.
        std::string relative;
        for (const auto& root : m_vecRoots) {
            std::string prefix = root == "/" ? root : root + "/";
            if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) relative = path.substr(prefix.size());
        }
        CStatement find(db, "SELECT id FROM files WHERE path=?1 AND kind>0");
        for (const auto& root : m_vecRoots) {
            std::string other = (root == "/" ? root : root + "/") + relative;
            if (relative.empty() || other == path) continue;
            find.Reset();
            find.Bind(1, other);
            if (find.Step()) ids.push_back(find.Int(0));
        }
    }
    Release(db);
    return ids;
}

}  // namespace mxcatalog
