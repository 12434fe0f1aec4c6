// GetFileAttributesA through the drive map on 100,000 existing paths beside plain stat of the host
// paths. The paths mix ASCII and GBK names, as a music library does.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "BenchMachine.h"
#include "MxModule/MxModule.h"

namespace {

struct Paths {
    std::vector<CString> windows;
    std::vector<std::string> host;
};

const Paths& Tree() {
    static const Paths paths = [] {
        Paths p;
        for (int d = 0; d < 100; ++d) {
            std::string dir = (d % 2 ? "歌手" : "Artist") + std::to_string(d);
            mkdir(mxbench::Machine().HostC(dir).c_str(), 0777);
            for (int f = 0; f < 1000; ++f) {
                std::string name = dir + "/" + (f % 3 ? "Track " : "歌曲 ") + std::to_string(f) + ".mp3";
                std::string host = mxbench::Machine().HostC(name);
                std::ofstream(host).put('x');
                p.host.push_back(host);
                CString win = MxUtf8ToAnsi("C:\\" + name);
                win.Replace('/', '\\');
                p.windows.push_back(win);
            }
        }
        return p;
    }();
    return paths;
}

void BM_GetFileAttributesA(benchmark::State& state) {
    const Paths& p = Tree();
    for (auto _ : state) {
        for (const CString& path : p.windows) {
            DWORD a = GetFileAttributesA(path);
            if (a == INVALID_FILE_ATTRIBUTES) state.SkipWithError("missing file");
            benchmark::DoNotOptimize(a);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(p.windows.size()));
}

void BM_StatHostPaths(benchmark::State& state) {
    const Paths& p = Tree();
    struct stat st {};
    for (auto _ : state) {
        for (const std::string& path : p.host) {
            if (stat(path.c_str(), &st) != 0) state.SkipWithError("missing file");
            benchmark::DoNotOptimize(st);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(p.host.size()));
}

BENCHMARK(BM_GetFileAttributesA)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_StatHostPaths)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
