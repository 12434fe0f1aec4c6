// An emulated machine for a benchmark run (drive C: in a temporary folder, removed at exit), a fresh
// library, and trees of small tagged MP3 files.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "MxModule/MxModule.h"
#include "MxModule/foundation/CriticalSectionGuard.h"
#include "platform/testhooks.h"

namespace mxbench {

class BenchMachine {
public:
    BenchMachine() {
        char tmpl[] = "/tmp/mxbench-XXXXXX";
        m_root = mkdtemp(tmpl);
        mkdir((m_root + "/c").c_str(), 0777);
        setenv("MX_HOME", m_root.c_str(), 1);
        setenv("MX_DRIVES", ("C:=" + m_root + "/c,fixed,sata").c_str(), 1);
        setenv("MX_REGISTRY", (m_root + "/registry.db").c_str(), 1);
        MxPlatformReload();
    }
    ~BenchMachine() {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    BenchMachine(const BenchMachine&) = delete;
    BenchMachine& operator=(const BenchMachine&) = delete;
    std::string HostC(const std::string& rel) const { return m_root + "/c/" + rel; }

private:
    std::string m_root;
};

// The one machine of this benchmark process.
inline BenchMachine& Machine() {
    static BenchMachine machine;
    return machine;
}

class FreshLibrary : public CDBOperater {
public:
    // A new, empty library in a new facade.
    static void Make() {
        {
            CCriticalSectionGuard guard(&m_csDBGuard);
            m_pInstance.reset();
        }
        std::filesystem::remove_all(Machine().HostC("users"));
        CDBOperater::Instance()->InitLocalDataBase();
    }
};

inline std::string Syncsafe(uint32_t n) {
    return {char((n >> 21) & 0x7F), char((n >> 14) & 0x7F), char((n >> 7) & 0x7F), char(n & 0x7F)};
}

inline std::string TextFrame(const char* id, const std::string& text) {
    std::string payload = std::string(1, '\0') + text;
    uint32_t n = uint32_t(payload.size());
    return std::string(id) + std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + std::string(2, '\0') + payload;
}

// ID3v2.3 title/artist/album, eight 128 kbit/s frames, an ID3v1 tag: about 3.6 KB.
inline std::string SmallMp3(int n) {
    std::string frames = TextFrame("TIT2", "Song " + std::to_string(n)) + TextFrame("TPE1", "Artist " + std::to_string(n % 97)) +
                         TextFrame("TALB", "Album " + std::to_string(n % 13));
    std::string file = "ID3\x03" + std::string(2, '\0') + Syncsafe(uint32_t(frames.size())) + frames;
    std::string frame = std::string("\xFF\xFB\x90\x00", 4) + std::string(413, '\x55');
    for (int i = 0; i < 8; ++i) file += frame;
    return file + "TAG" + std::string(125, '\0');
}

// root/dNNN/sNNN.mp3; the names relative to root, in order.
inline std::vector<std::string> MakeSongTree(const std::string& root, int folders, int filesPerFolder) {
    std::vector<std::string> names;
    for (int d = 0; d < folders; ++d) {
        std::filesystem::create_directories(root + "/d" + std::to_string(d));
        for (int f = 0; f < filesPerFolder; ++f) {
            names.push_back("d" + std::to_string(d) + "/s" + std::to_string(f) + ".mp3");
            std::string bytes = SmallMp3(d * filesPerFolder + f);
            FILE* out = std::fopen((root + "/" + names.back()).c_str(), "wb");
            if (!out) std::abort();
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
        }
    }
    return names;
}

}  // namespace mxbench

