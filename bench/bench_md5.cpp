// GetFileMD5 of a 256 MiB file beside md5sum of the same file (and OpenSSL reading with plain reads,
// the floor of what the digest can cost). Wall-clock time: md5sum runs in a child process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "BenchMachine.h"
#include "MxModule/MxModule.h"

namespace {

constexpr size_t kSize = size_t(256) << 20;

const std::string& BigFile() {
    static const std::string path = [] {
        std::string host = mxbench::Machine().HostC("big.bin");
        std::ofstream out(host, std::ios::binary);
        std::vector<char> chunk(1 << 20);
        for (size_t i = 0; i < kSize; i += chunk.size()) {
            for (size_t k = 0; k < chunk.size(); ++k) chunk[k] = char((i + k) * 2654435761u >> 13);
            out.write(chunk.data(), std::streamsize(chunk.size()));
        }
        return host;
    }();
    return path;
}

void BM_GetFileMD5(benchmark::State& state) {
    BigFile();
    for (auto _ : state) {
        CString digest = CMxPublic::GetFileMD5("C:\\big.bin");
        benchmark::DoNotOptimize(digest);
        if (digest.GetLength() != 32) state.SkipWithError("no digest");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_md5sum(benchmark::State& state) {
    std::string command = "md5sum '" + BigFile() + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("md5sum failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_OpenSslPlainReads(benchmark::State& state) {
    std::vector<unsigned char> buf(102400);
    for (auto _ : state) {
        int fd = open(BigFile().c_str(), O_RDONLY);
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
        ssize_t n = 0;
        while ((n = read(fd, buf.data(), buf.size())) > 0) EVP_DigestUpdate(ctx, buf.data(), size_t(n));
        unsigned char digest[16];
        unsigned int len = 16;
        EVP_DigestFinal_ex(ctx, digest, &len);
        EVP_MD_CTX_free(ctx);
        close(fd);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

BENCHMARK(BM_GetFileMD5)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_md5sum)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_OpenSslPlainReads)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace

BENCHMARK_MAIN();
