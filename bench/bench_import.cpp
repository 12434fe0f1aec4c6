// Importing a folder tree of 20,000 small MP3 files: with quota 0 every file gets a quick record; with
// quota 20,000 every file is analysed. Beside them: plain reads of exactly the bytes the analysis needs
// (the first 20 KiB and the last 128 bytes of each file), the floor an analysed import cannot beat.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchMachine.h"
#include "MessageSink.h"

namespace {

constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 100;
constexpr int kFiles = kFolders * kFilesPerFolder;

// The tree, made once: C:\music\dNNN\sNNN.mp3.
const std::string& Tree() {
    static const std::string root = [] {
        std::string r = mxbench::Machine().HostC("music");
        mxbench::MakeSongTree(r, kFolders, kFilesPerFolder);
        return r;
    }();
    return root;
}

// One import of the whole tree into a fresh library: its wall time in ms (the library's set-up is not
// timed), or -1 when it did not register every file.
double ImportTree(int quota, benchmark::State& state) {
    state.PauseTiming();
    mxbench::FreshLibrary::Make();
    CMessageSink sink;
    CFileOperateManager manager;
    manager.SetFileOperateDestDirectory("C:\\lib");
    CStringList paths;
    paths.AddTail("C:\\music");
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    int id = manager.AsynAddMultiFilePaths(&paths, sink.GetHwnd(), 1, 0, quota);
    bool done = id > 0 && sink.PumpUntilExit(id, 600000);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    size_t listed = 0;
    for (const RECEIVEDMSG& m : sink.Messages()) listed += m.vecList.size();
    state.ResumeTiming();
    return done && listed == size_t(kFiles) ? ms : -1;
}

void BM_Import(benchmark::State& state) {
    Tree();
    for (auto _ : state) {
        if (ImportTree(int(state.range(0)), state) < 0) state.SkipWithError("the import did not register every file");
    }
    state.counters["files/s"] = benchmark::Counter(double(kFiles), benchmark::Counter::kIsIterationInvariantRate);
}

// What an analysed import must read at least: the head and the tail of every file, found by a walk.
void ReadHeadsAndTails(const std::string& folder, std::vector<char>& buffer, size_t& files) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = folder + "/" + name;
        if (e->d_type == DT_DIR) {
            ReadHeadsAndTails(path, buffer, files);
            continue;
        }
        int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) continue;
        ssize_t head = read(fd, buffer.data(), 20480);
        off_t end = lseek(fd, -128, SEEK_END);
        ssize_t tail = end >= 0 ? read(fd, buffer.data(), 128) : 0;
        benchmark::DoNotOptimize(head + tail);
        close(fd);
        ++files;
    }
    closedir(dir);
}

void BM_PlainReads(benchmark::State& state) {
    const std::string& root = Tree();
    std::vector<char> buffer(20480);
    for (auto _ : state) {
        size_t files = 0;
        ReadHeadsAndTails(root, buffer, files);
        if (files != size_t(kFiles)) state.SkipWithError("the walk missed files");
    }
    state.counters["files/s"] = benchmark::Counter(double(kFiles), benchmark::Counter::kIsIterationInvariantRate);
}

// The analysed import and the plain reads taken turn about, so that both see the same machine: the
// machine's speed drifts by a third over minutes, the ratio much less.
void BM_AnalysedImportOverPlainReads(benchmark::State& state) {
    const std::string& root = Tree();
    std::vector<char> buffer(20480);
    double plain = 0, imported = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        size_t files = 0;
        ReadHeadsAndTails(root, buffer, files);
        plain += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        double ms = ImportTree(kFiles, state);
        if (ms < 0) state.SkipWithError("the import did not register every file");
        imported += ms;
    }
    state.counters["plain_ms"] = plain / double(state.iterations());
    state.counters["import_ms"] = imported / double(state.iterations());
    state.counters["ratio"] = plain > 0 ? imported / plain : 0;
}

}  // namespace

BENCHMARK(BM_Import)->Arg(0)->Arg(kFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlainReads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AnalysedImportOverPlainReads)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

BENCHMARK_MAIN();
