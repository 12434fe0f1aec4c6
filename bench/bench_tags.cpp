// Tags and play time of 2,000 files per set, beside TagLib in the same run: MP3 with an ID3v2.3 tag, a
// picture, an ID3v1 tag and 4 MB of constant-rate frames; MP3 with a Xing header; WMA (copies of a real
// file from the shared corpus); and tags as common taggers leave them: version 3 with UTF-16 text and
// version 4 with UTF-8 text and 7-bit frame sizes, each with a 30 KB picture and 1-4 KB of padding,
// before an "Info" frame and 200 KB of constant-rate audio. Also the content typing of a folder beside reading the first 5,000 bytes
// of each file with plain reads.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BenchMachine.h"
#include "MxModule/MxModule.h"

namespace {

const int kFiles = 2000;

std::string Frame3(const std::string& id, const std::string& payload) {
    uint32_t n = uint32_t(payload.size());
    return id + std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + std::string(2, '\0') + payload;
}

std::string Frame4(const std::string& id, const std::string& payload) {
    uint32_t n = uint32_t(payload.size());
    std::string size;
    for (int s : {21, 14, 7, 0}) size += char((n >> s) & 0x7F);
    return id + size + std::string(2, '\0') + payload;
}

std::string Tag3(const std::string& frames, int version = 3) {
    uint32_t n = uint32_t(frames.size());
    std::string t = std::string("ID3\0\0\0", 6);
    t[3] = char(version);
    for (int s : {21, 14, 7, 0}) t += char((n >> s) & 0x7F);
    return t + frames;
}

std::string Utf16(const std::string& ascii) {
    std::string out = "\x01\xFF\xFE";
    for (char c : ascii) out += std::string{c, '\0'};
    return out;
}

// A tag as common taggers write it, with text, a 30 KB picture and 1-4 KB of padding.
std::string TaggerTag(int version, int i) {
    std::string title = "Song number " + std::to_string(i);
    auto text = [version](const std::string& s) { return version == 4 ? "\x03" + s : Utf16(s); };
    auto frame = [version](const std::string& id, const std::string& payload) { return version == 4 ? Frame4(id, payload) : Frame3(id, payload); };
    std::string frames = frame("TIT2", text(title)) + frame("TPE1", text("Artist")) + frame("TALB", text("Album")) +
                         frame("TRCK", text(std::to_string(i % 20))) + frame(version == 4 ? "TDRC" : "TYER", text("2009")) +
                         frame("TSSE", text("LAME 3.100")) +
                         frame("APIC", std::string("\0image/jpeg\0\x03\0", 14) + std::string(30000, 'J'));
    return Tag3(frames + std::string(size_t(1024 + (i * 37) % 3072), '\0'), version);
}

std::string FrameRun(int count) {
    std::string frame = std::string("\xFF\xFB\x90\x00", 4) + std::string(413, '\x55');
    std::string out;
    out.reserve(frame.size() * size_t(count));
    for (int i = 0; i < count; ++i) out += frame;
    return out;
}

struct Set {
    std::vector<CString> windows;
    std::vector<std::string> host;
};

Set Make(const char* kind) {
    mxbench::Machine();
    Set set;
    std::string dir = std::string("set_") + kind;
    CreateDirectoryA(("C:\\" + dir).c_str(), nullptr);
    std::string kindName = kind;
    bool tagger = kindName == "v23" || kindName == "v24";
    std::string audio = kindName == "cbr" ? FrameRun(4000000 / 417) : kindName == "vbr" ? FrameRun(500) : tagger ? FrameRun(480) : std::string();
    std::string wma;
    if (kindName == "wma") {
        std::ifstream in(std::string(MX_SOURCE_DIR) + "/../shared/corpus/taglib/silence-1.wma", std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        wma = ss.str();
    }
    std::string xing = std::string("\xFF\xFB\x90\x00", 4) + std::string(32, '\0') + "Xing" + std::string("\0\0\0\x01\0\0\x27\x10", 8);
    xing.resize(417, '\0');
    std::string info = xing;
    info.replace(36, 4, "Info");
    std::string picture = Frame3("APIC", std::string("\0image/jpeg\0\x03\0", 14) + std::string(20000, 'J'));
    for (int i = 0; i < kFiles; ++i) {
        std::string name = dir + "/song" + std::to_string(i) + (kindName == "wma" ? ".wma" : ".mp3");
        std::string host = mxbench::Machine().HostC(name);
        std::ofstream out(host, std::ios::binary);
        if (kindName == "wma") {
            out << wma;
        } else if (tagger) {
            out << TaggerTag(kindName == "v24" ? 4 : 3, i) << info << audio;
        } else {
            std::string title = "Song number " + std::to_string(i);
            std::string frames = Frame3("TIT2", std::string(1, '\0') + title) + Frame3("TPE1", std::string("\0Artist", 7)) +
                                 Frame3("TALB", std::string("\0Album", 6));
            if (kindName == "cbr") frames += picture;
            out << Tag3(frames);
            if (kindName == "vbr") out << xing;
            out << audio;
            std::string v1(128, '\0');
            v1.replace(0, 3, "TAG");
            v1.replace(3, title.size(), title);
            out << v1;
        }
        set.host.push_back(host);
        CString win = MxUtf8ToAnsi("C:\\" + name);
        win.Replace('/', '\\');
        set.windows.push_back(win);
    }
    return set;
}

const Set& Get(int which) {
    static const Set sets[5] = {Make("cbr"), Make("vbr"), Make("wma"), Make("v23"), Make("v24")};
    return sets[which];
}

void BM_Ours(benchmark::State& state) {
    const Set& set = Get(int(state.range(0)));
    for (auto _ : state) {
        for (const CString& path : set.windows) {
            CString p = path;
            CAudioFileParse facade;
            AUDIOFILEINFO info;
            if (!facade.ParseAudioFile(p, &info, 1, 0, "")) {
                state.SkipWithError("parse failed");
                break;
            }
            benchmark::DoNotOptimize(info.nDuration);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kFiles);
}

void BM_TagLib(benchmark::State& state) {
    const Set& set = Get(int(state.range(0)));
    for (auto _ : state) {
        for (const std::string& path : set.host) {
            TagLib::FileRef ref(path.c_str(), true, TagLib::AudioProperties::Average);
            if (ref.isNull() || !ref.tag() || !ref.audioProperties()) {
                state.SkipWithError("taglib failed");
                break;
            }
            benchmark::DoNotOptimize(ref.tag()->title().size());
            benchmark::DoNotOptimize(ref.audioProperties()->lengthInSeconds());
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kFiles);
}

void BM_TypeByContent(benchmark::State& state) {
    const Set& set = Get(0);
    for (auto _ : state) {
        for (const CString& path : set.windows) {
            VelaPlayerFileType cls, format;
            CFileOperateManager::GetFileType(path, cls, format, 1);
            benchmark::DoNotOptimize(format);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kFiles);
}

void BM_PlainRead5000(benchmark::State& state) {
    const Set& set = Get(0);
    std::vector<char> buffer(5000);
    for (auto _ : state) {
        for (const std::string& path : set.host) {
            int fd = open(path.c_str(), O_RDONLY);
            benchmark::DoNotOptimize(read(fd, buffer.data(), buffer.size()));
            close(fd);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kFiles);
}

BENCHMARK(BM_Ours)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TagLib)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TypeByContent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead5000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
