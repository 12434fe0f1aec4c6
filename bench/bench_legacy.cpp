// The import of a legacy library of 100,000 rows through ODBC (the SQLite ODBC driver answering to the
// Access driver's name) into a new library, beside adding the same records to a new library directly.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <string>

#include "BenchMachine.h"
#include "MxModule/MxModule.h"
#include "MxModule/library/DBCore.h"

namespace {

const int kRows = 100000;

DBRECORD Song(int i) {
    DBRECORD r;
    r.FileName.Format("C:\\Music\\Artist %d\\Album %d\\%06d - Song title %d.mp3", i % 500, i % 2000, i, i);
    r.Song.Format("Song title %d", i);
    r.Artist.Format("Artist %d", i % 500);
    r.Album.Format("Album %d", i % 2000);
    r.Type = "mp3";
    r.Duration.Format("%d", 180 + i % 60);
    r.Opinion = "3";
    r.FileLength.Format("%d", 4000000 + i);
    r.Genre = "17";
    r.GenreString = "Rock";
    r.Bitrate = "192";
    r.Analyzed = "1";
    return r;
}

// The legacy table, made once; each run copies it into a fresh folder.
const std::string& LegacyFile() {
    static std::string path;
    if (!path.empty()) return path;
    mxbench::Machine();
    path = mxbench::Machine().HostC("legacy.mdb");
    std::string ini = mxbench::Machine().HostC("odbcinst.ini");
    FILE* f = std::fopen(ini.c_str(), "w");
    std::fprintf(f, "[MICROSOFT ACCESS DRIVER (*.mdb)]\nDriver=%s\n", MX_SQLITE_ODBC);
    std::fclose(f);
    setenv("MX_ODBCINST", ini.c_str(), 1);
    MxPlatformReload();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE AudioIndex(Idx INTEGER, FileName TEXT, Song TEXT, Artist TEXT, Album TEXT, Type TEXT, Duration INTEGER,"
                 " Opinion INTEGER, FileLength INTEGER, Track TEXT, Genre INTEGER, MD5 TEXT, CanPlay INTEGER, GenreString TEXT,"
                 " DownloadURL TEXT, Bitrate TEXT); BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO AudioIndex VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1, &ins, nullptr);
    for (int i = 0; i < kRows; ++i) {
        DBRECORD r = Song(i);
        sqlite3_bind_int(ins, 1, i + 1);
        for (int k = 0; k < 15; ++k) sqlite3_bind_text(ins, k + 2, r.Field(k), r.Field(k).GetLength(), SQLITE_TRANSIENT);
        sqlite3_step(ins);
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return path;
}

std::string FreshFolder() {
    static int n = 0;
    std::string name = "run" + std::to_string(++n);
    CreateDirectoryA(("C:\\" + name).c_str(), nullptr);
    return name;
}

void BM_LegacyImport(benchmark::State& state) {
    const std::string& legacy = LegacyFile();
    for (auto _ : state) {
        state.PauseTiming();
        std::string folder = FreshFolder();
        std::string copy = "cp '" + legacy + "' '" + mxbench::Machine().HostC(folder + "/LocalSearch.mdb") + "'";
        if (std::system(copy.c_str()) != 0) state.SkipWithError("copy failed");
        state.ResumeTiming();
        CDBCore core(("C:\\" + folder + "\\").c_str());
        if (!core.OpenLibrary() || core.GetRecordCount() != kRows) state.SkipWithError("import incomplete");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRows);
}

void BM_PlainAdd(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        std::string folder = FreshFolder();
        state.ResumeTiming();
        CDBCore core(("C:\\" + folder + "\\").c_str());
        core.OpenLibrary();
        for (int i = 0; i < kRows; ++i) {
            DBRECORD r = Song(i);
            core.AddRecord(&r);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRows);
}

BENCHMARK(BM_LegacyImport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainAdd)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
