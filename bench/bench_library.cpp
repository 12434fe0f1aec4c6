// The library store beside SQLite doing the same work, at 10,000 and 100,000 songs: open, add, get by
// path, update of the rating, delete, and a keyword search over the whole library; open, its memory and
// the search also at 1,000,000 songs. Paths are 60 to 90 bytes, as in a real music folder.
//
// SQLite: one table keyed by the lower-case path with the 19 text fields and an index on the song ID;
// journal_mode=WAL and synchronous=OFF. WAL keeps the database whole when the process dies, and OFF
// leaves the data in the operating system's cache without fsync, which is exactly the guarantee the
// store gives (it flushes its buffers to the system, never to the disk).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchMachine.h"
#include "MxModule/MxModule.h"
#include "MxModule/library/DBCore.h"

namespace {

const char* const kColumns[19] = {"filename", "song", "artist", "album", "type", "duration", "opinion", "filelength",
                                  "track", "genre", "md5", "canplay", "genrestring", "downloadurl", "bitrate",
                                  "analyzed", "extra1", "extra2", "extra3"};

// "C:\Music\Artist 123\Album 07\000123 - Song title 123 (Live at ...).mp3": 60 to 90 bytes.
DBRECORD MakeSong(int i) {
    static const std::string kTail = " (Live at the Royal Hall, remastered 2011)";
    DBRECORD r;
    r.Artist.Format("Artist %d", i % 500);
    r.Album.Format("Album %02d", i / 500 % 20);
    CString folder;
    folder.Format("C:\\Music\\%s\\%s\\%06d - ", static_cast<LPCSTR>(r.Artist), static_cast<LPCSTR>(r.Album),
                  i);
    r.Song.Format("Song title %d", i);
    int tail = 60 + i % 31 - folder.GetLength() - r.Song.GetLength() - 4;
    if (tail > 0) r.Song += kTail.substr(0, size_t(tail)).c_str();
    r.FileName = folder + r.Song + ".mp3";
    r.Type = "mp3";
    r.Duration.Format("%d", 180000 + i % 60000);
    r.FileLength.Format("%d", 4000000 + i);
    r.Bitrate = "192";
    r.Analyzed = "1";
    r.MD5 = "0123456789ABCDEF0123456789ABCDEF";
    return r;
}

struct Sqlite {
    sqlite3* db = nullptr;
    explicit Sqlite(const std::string& path) {
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
    }
    ~Sqlite() { sqlite3_close(db); }
    sqlite3_stmt* Prepare(const char* sql) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        return s;
    }
};

std::string InsertSql() {
    std::string sql = "INSERT INTO songs(lpath, id";
    for (const char* c : kColumns) sql += std::string(", ") + c;
    sql += ") VALUES(?, ?";
    for (int k = 0; k < 19; ++k) sql += ", ?";
    return sql + ")";
}

void BindSong(sqlite3_stmt* s, const DBRECORD& r, int id) {
    CString lower = LowerPath(r.FileName);
    sqlite3_bind_text(s, 1, lower, lower.GetLength(), SQLITE_TRANSIENT);
    sqlite3_bind_int(s, 2, id);
    for (int k = 0; k < 19; ++k) sqlite3_bind_text(s, 3 + k, r.Field(k), r.Field(k).GetLength(), SQLITE_TRANSIENT);
}

// One library of n songs in each store, made once per size and store; each benchmark works on a copy.
const std::string& PreparedStore(int n) {
    static std::map<int, std::string> made;
    auto it = made.find(n);
    if (it != made.end()) return it->second;
    mxbench::Machine();
    std::string dir = "gold" + std::to_string(n);
    CreateDirectoryA(("C:\\" + dir).c_str(), nullptr);
    {
        CDBCore core(("C:\\" + dir + "\\").c_str());
        core.OpenLibrary();
        for (int i = 0; i < n; ++i) {
            DBRECORD r = MakeSong(i);
            core.AddRecord(&r);
        }
    }
    return made[n] = mxbench::Machine().HostC(dir);
}

const std::string& PreparedSqlite(int n) {
    static std::map<int, std::string> made;
    auto it = made.find(n);
    if (it != made.end()) return it->second;
    std::string path = mxbench::Machine().HostC("gold" + std::to_string(n) + ".sqlite");
    {
        Sqlite s(path);
        std::string create = "CREATE TABLE songs(lpath TEXT PRIMARY KEY, id INTEGER";
        for (const char* c : kColumns) create += std::string(", ") + c + " TEXT";
        create += "); CREATE UNIQUE INDEX songs_id ON songs(id);";
        sqlite3_exec(s.db, create.c_str(), nullptr, nullptr, nullptr);
        sqlite3_exec(s.db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* ins = s.Prepare(InsertSql().c_str());
        for (int i = 0; i < n; ++i) {
            BindSong(ins, MakeSong(i), i + 1);
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqlite3_finalize(ins);
        sqlite3_exec(s.db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_exec(s.db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    }
    return made[n] = path;
}

// A working copy of the store of n songs.
struct Copy {
    CString storeFolder;
    explicit Copy(int n) {
        const std::string& gold = PreparedStore(n);
        std::string dir = "work" + std::to_string(n);
        std::string host = mxbench::Machine().HostC(dir);
        std::filesystem::remove_all(host);
        std::filesystem::copy(gold, host);
        storeFolder = ("C:\\" + dir + "\\").c_str();
    }
};

// A working copy of the SQLite database of n songs.
struct SqliteCopy {
    std::string sqlitePath;
    explicit SqliteCopy(int n) {
        const std::string& gold = PreparedSqlite(n);
        sqlitePath = mxbench::Machine().HostC("work" + std::to_string(n) + ".sqlite");
        std::filesystem::remove(sqlitePath + "-wal");
        std::filesystem::copy_file(gold, sqlitePath, std::filesystem::copy_options::overwrite_existing);
    }
};

// An open store, and an open SQLite database, on a fresh copy of n songs.
struct OpenStore {
    explicit OpenStore(int n) : copy(n), core(copy.storeFolder) { core.OpenLibrary(); }
    Copy copy;
    CDBCore core;
};
struct OpenSqlite {
    explicit OpenSqlite(int n) : copy(n), db(copy.sqlitePath) {}
    SqliteCopy copy;
    Sqlite db;
};

void BM_Store_Open(benchmark::State& state) {
    Copy copy(int(state.range(0)));
    for (auto _ : state) {
        CDBCore core(copy.storeFolder);
        if (!core.OpenLibrary()) state.SkipWithError("open failed");
    }
}

void BM_Sqlite_Open(benchmark::State& state) {
    SqliteCopy copy(int(state.range(0)));
    for (auto _ : state) {
        // Open, and read every path and ID as the store does at its start.
        Sqlite s(copy.sqlitePath);
        sqlite3_stmt* q = s.Prepare("SELECT lpath, id FROM songs");
        int64_t rows = 0;
        while (sqlite3_step(q) == SQLITE_ROW) rows += sqlite3_column_bytes(q, 0) > 0;
        sqlite3_finalize(q);
        benchmark::DoNotOptimize(rows);
    }
}

void BM_Store_Add(benchmark::State& state) {
    OpenStore store(int(state.range(0)));
    CDBCore& core = store.core;
    int i = int(state.range(0));
    for (auto _ : state) {
        DBRECORD r = MakeSong(i++);
        if (!core.AddRecord(&r)) state.SkipWithError("add failed");
    }
}

void BM_Sqlite_Add(benchmark::State& state) {
    OpenSqlite sqlite(int(state.range(0)));
    Sqlite& s = sqlite.db;
    sqlite3_stmt* ins = s.Prepare(InsertSql().c_str());
    int i = int(state.range(0));
    for (auto _ : state) {
        BindSong(ins, MakeSong(i), i + 1);
        ++i;
        if (sqlite3_step(ins) != SQLITE_DONE) state.SkipWithError("insert failed");
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
}

void BM_Store_Get(benchmark::State& state) {
    int n = int(state.range(0));
    OpenStore store(n);
    CDBCore& core = store.core;
    int i = 0;
    for (auto _ : state) {
        DBRECORD r;
        if (!core.GetRecord(MakeSong((i++ * 7919) % n).FileName, &r)) state.SkipWithError("get failed");
    }
}

void BM_Sqlite_Get(benchmark::State& state) {
    int n = int(state.range(0));
    OpenSqlite sqlite(n);
    Sqlite& s = sqlite.db;
    std::string sql = "SELECT id";
    for (const char* c : kColumns) sql += std::string(", ") + c;
    sql += " FROM songs WHERE lpath = ?";
    sqlite3_stmt* q = s.Prepare(sql.c_str());
    int i = 0;
    for (auto _ : state) {
        CString lower = LowerPath(MakeSong((i++ * 7919) % n).FileName);
        sqlite3_bind_text(q, 1, lower, lower.GetLength(), SQLITE_TRANSIENT);
        if (sqlite3_step(q) != SQLITE_ROW) state.SkipWithError("get failed");
        DBRECORD r;
        for (int k = 0; k < 19; ++k) r.Field(k) = reinterpret_cast<const char*>(sqlite3_column_text(q, 1 + k));
        sqlite3_reset(q);
    }
    sqlite3_finalize(q);
}

void BM_Store_UpdateOpinion(benchmark::State& state) {
    int n = int(state.range(0));
    OpenStore store(n);
    CDBCore& core = store.core;
    int i = 0;
    DBRECORD change;
    for (auto _ : state) {
        change.Opinion.Format("%d", i % 6);
        if (!core.UpdateRecord(MakeSong((i++ * 7919) % n).FileName, &change, 0x40)) state.SkipWithError("update failed");
    }
}

void BM_Sqlite_UpdateOpinion(benchmark::State& state) {
    int n = int(state.range(0));
    OpenSqlite sqlite(n);
    Sqlite& s = sqlite.db;
    sqlite3_stmt* u = s.Prepare("UPDATE songs SET opinion = ? WHERE lpath = ?");
    int i = 0;
    for (auto _ : state) {
        char opinion[2] = {char('0' + i % 6), 0};
        CString lower = LowerPath(MakeSong((i++ * 7919) % n).FileName);
        sqlite3_bind_text(u, 1, opinion, 1, SQLITE_TRANSIENT);
        sqlite3_bind_text(u, 2, lower, lower.GetLength(), SQLITE_TRANSIENT);
        if (sqlite3_step(u) != SQLITE_DONE) state.SkipWithError("update failed");
        sqlite3_reset(u);
    }
    sqlite3_finalize(u);
}

void BM_Store_Delete(benchmark::State& state) {
    int n = int(state.range(0));
    OpenStore store(n);
    CDBCore& core = store.core;
    int i = 0;
    for (auto _ : state) {
        if (!core.DeleteRecord(MakeSong((i++ * 7919) % n).FileName)) state.SkipWithError("delete failed");
    }
}

void BM_Sqlite_Delete(benchmark::State& state) {
    int n = int(state.range(0));
    OpenSqlite sqlite(n);
    Sqlite& s = sqlite.db;
    sqlite3_stmt* d = s.Prepare("DELETE FROM songs WHERE lpath = ?");
    int i = 0;
    for (auto _ : state) {
        CString lower = LowerPath(MakeSong((i++ * 7919) % n).FileName);
        sqlite3_bind_text(d, 1, lower, lower.GetLength(), SQLITE_TRANSIENT);
        if (sqlite3_step(d) != SQLITE_DONE || sqlite3_changes(s.db) != 1) state.SkipWithError("delete failed");
        sqlite3_reset(d);
    }
    sqlite3_finalize(d);
}

// The first search after an open also indexes the song key of every song it meets: its CPU time and
// that of the later ones are counted apart.
void BM_Store_Search(benchmark::State& state) {
    OpenStore store(int(state.range(0)));
    CDBCore& core = store.core;
    CList<CString, CString> words;
    words.AddTail(CString("artist 42"));
    double first = -1, later = 0;
    int laterCount = 0;
    for (auto _ : state) {
        std::clock_t start = std::clock();
        DBRECORDLIST results;
        core.Search(nullptr, &words, results, -1, 1);
        benchmark::DoNotOptimize(results.GetCount());
        double ms = double(std::clock() - start) * 1000 / CLOCKS_PER_SEC;
        if (first < 0) {
            first = ms;
        } else {
            later += ms;
            ++laterCount;
        }
    }
    state.counters["first_ms"] = first;
    if (laterCount) state.counters["later_ms"] = later / laterCount;
}

void BM_Sqlite_Search(benchmark::State& state) {
    OpenSqlite sqlite(int(state.range(0)));
    Sqlite& s = sqlite.db;
    std::string sql = "SELECT id";
    for (const char* c : kColumns) sql += std::string(", ") + c;
    sql += " FROM songs WHERE song LIKE ?1 OR artist LIKE ?1 OR album LIKE ?1 OR type LIKE ?1 ORDER BY id";
    sqlite3_stmt* q = s.Prepare(sql.c_str());
    for (auto _ : state) {
        sqlite3_bind_text(q, 1, "%artist 42%", -1, SQLITE_STATIC);
        DBRECORDLIST results;
        while (sqlite3_step(q) == SQLITE_ROW) {
            DBRECORD r;
            for (int k = 0; k < 19; ++k) r.Field(k) = reinterpret_cast<const char*>(sqlite3_column_text(q, 1 + k));
            results.AddTail(r);
        }
        sqlite3_reset(q);
        benchmark::DoNotOptimize(results.GetCount());
    }
    sqlite3_finalize(q);
}

long StatusKiB(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    long value = -1;
    while (f && std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, std::strlen(field)) == 0) value = std::atol(line + std::strlen(field));
    }
    if (f) std::fclose(f);
    return value;
}

// The memory opening the library adds, measured in a fresh process (this program started again with
// --measure-open) as the growth of its resident set from just before the open: the peak (VmHWM) during
// the open, what stays resident after it, what stays after a whole-library search that finds nothing,
// and the peak during that search (the pages of the file it maps count while they are mapped).
void BM_Store_OpenMemory(benchmark::State& state) {
    int n = int(state.range(0));
    Copy copy(n);
    for (auto _ : state) {
        std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        std::string command = "'" + self + "' --measure-open '" + copy.storeFolder.str() + "'";
        FILE* child = popen(command.c_str(), "r");
        long peak = -1, resident = -1, searched = -1, searchPeak = -1;
        if (!child || std::fscanf(child, "%ld %ld %ld %ld", &peak, &resident, &searched, &searchPeak) != 4)
            state.SkipWithError("measuring failed");
        if (child) pclose(child);
        state.counters["peak_B/song"] = double(peak) * 1024 / n;
        state.counters["open_B/song"] = double(resident) * 1024 / n;
        state.counters["searched_B/song"] = double(searched) * 1024 / n;
        state.counters["search_peak_B/song"] = double(searchPeak) * 1024 / n;
    }
}

#define SIZES ->Arg(10000)->Arg(100000)
#define WITH_MILLION SIZES->Arg(1000000)
BENCHMARK(BM_Store_Open) WITH_MILLION->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite_Open) WITH_MILLION->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Store_OpenMemory)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Store_Search) SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Store_Search)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sqlite_Search) WITH_MILLION->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Store_Add) SIZES->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sqlite_Add) SIZES->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Store_Get) SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sqlite_Get) SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Store_UpdateOpinion) SIZES->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sqlite_UpdateOpinion) SIZES->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Store_Delete) SIZES->Iterations(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sqlite_Delete) SIZES->Iterations(5000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--measure-open") == 0) {
        CString folder(argv[2]);
        CDBCore* core = new CDBCore(folder);  // built before the baseline: its members are not the load
        long before = StatusKiB("VmRSS:");
        if (!core->OpenLibrary()) return 1;
        long peak = StatusKiB("VmHWM:") - before, opened = StatusKiB("VmRSS:") - before;
        CList<CString, CString> words;
        words.AddTail(CString("no such song"));
        DBRECORDLIST results;
        core->Search(nullptr, &words, results, -1, 1);
        std::printf("%ld %ld %ld %ld\n", peak, opened, StatusKiB("VmRSS:") - before,
                    StatusKiB("VmHWM:") - before);
        delete core;
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
