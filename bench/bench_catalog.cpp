// The catalog's keyword search over 100,000 indexed songs, each query timed alone so that the median
// and the 99th percentile can be told, beside a plain SQLite LIKE scan of the same rows (what a
// catalog without a word index would do); and the time from opening that index to the first answer,
// which is what a server start costs (unchanged files are compared by size and time later, behind the
// listener). Rows are generated: English and Chinese titles, 2,000 artists, 5,000 albums.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "BenchMachine.h"
#include "CatalogIndex.h"

using namespace mxcatalog;

namespace {

constexpr int kSongs = 100000;
const char* const kWords[] = {"love", "night", "river", "morning", "heart", "rain", "dance", "summer", "blue",
                              "fire", "dream", "city", "road", "star", "light", "ocean", "winter", "gold"};
const char* const kHan[] = {"月亮", "代表", "我的", "心", "清晨", "黄昏", "夜曲", "春天", "海洋", "故乡", "花", "雨"};

struct CATALOGFIXTURE {
    mxbench::BenchMachine machine;
    std::string strDb;
    CATALOGFIXTURE() {
        strDb = machine.HostC("catalog.db");
        CCatalogIndex index;
        std::string error;
        index.Open(strDb, error);
        std::mt19937 rng(42);
        std::vector<CATALOGROW> rows;
        for (int i = 0; i < kSongs; ++i) {
            CATALOGROW r;
            std::string title;
            if (i % 3 == 0) {
                for (int k = 0; k < 2 + int(rng() % 2); ++k) title += kHan[rng() % std::size(kHan)];
            } else {
                for (int k = 0; k < 2 + int(rng() % 3); ++k) title += std::string(k ? " " : "") + kWords[rng() % std::size(kWords)];
            }
            r.strTitle = title;
            r.strArtist = "Artist " + std::to_string(i % 2000);
            r.strAlbum = "Album " + std::to_string(i % 5000);
            r.strPath = "/music/" + r.strArtist + "/" + r.strAlbum + "/" + std::to_string(i) + " - " + title + ".mp3";
            r.nKind = KIND_MP3;
            r.nSize = 4000000 + i;
            r.nBitrate = 128;
            r.nDuration = 200 + i % 100;
            rows.push_back(std::move(r));
            if (rows.size() == 10000) {
                index.PutRows(rows);
                rows.clear();
            }
        }
    }
};

CATALOGFIXTURE& Fixture() {
    static CATALOGFIXTURE fixture;
    return fixture;
}

const std::vector<std::string>& Keys() {
    static const std::vector<std::string> keys = {"love", "night river", "mor", "Artist 1234", "月亮", "代表", "心",
                                                  "summer dance", "Album 42", "ocean gold", "清晨 黄昏", "s", "Artist 7",
                                                  "zzz", "winter star light"};
    return keys;
}

void Percentiles(benchmark::State& state, std::vector<double>& ms) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) return;
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

void BM_CatalogKeywordSearch(benchmark::State& state) {
    CCatalogIndex index;
    std::string error;
    index.Open(Fixture().strDb, error);
    std::vector<double> ms;
    size_t i = 0, results = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        auto items = index.SearchSongs(Keys()[i++ % Keys().size()], MAX_ANSWER_ITEMS);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        results += items.size();
        benchmark::DoNotOptimize(items);
    }
    state.counters["results_per_query"] = double(results) / double(std::max<size_t>(1, i));
    Percentiles(state, ms);
}
BENCHMARK(BM_CatalogKeywordSearch)->Iterations(3000)->Unit(benchmark::kMillisecond);

// The peer: a LIKE scan of title, artist and album for each word, the same 50-row limit.
void BM_SqliteLikeScan(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(Fixture().strDb.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT id, title, artist, album FROM files WHERE kind IN (1,2) AND"
                       " (title LIKE ?1 OR artist LIKE ?1 OR album LIKE ?1) LIMIT 50",
                       -1, &q, nullptr);
    std::vector<double> ms;
    size_t i = 0;
    for (auto _ : state) {
        std::string like = "%" + Keys()[i++ % Keys().size()] + "%";
        auto t0 = std::chrono::steady_clock::now();
        sqlite3_bind_text(q, 1, like.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(q) == SQLITE_ROW) {
        }
        sqlite3_reset(q);
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    Percentiles(state, ms);
    sqlite3_finalize(q);
    sqlite3_close(db);
}
BENCHMARK(BM_SqliteLikeScan)->Iterations(300)->Unit(benchmark::kMillisecond);

// A server start on the index: open it, count it (what the start line prints), answer a first search.
void BM_CatalogStart(benchmark::State& state) {
    Fixture();
    for (auto _ : state) {
        CCatalogIndex index;
        std::string error;
        index.Open(Fixture().strDb, error);
        benchmark::DoNotOptimize(index.Count());
        benchmark::DoNotOptimize(index.SearchSongs("love", MAX_ANSWER_ITEMS));
    }
}
BENCHMARK(BM_CatalogStart)->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
