// An emulated machine for a benchmark run: drive C: in a temporary folder, removed at exit.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

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

}  // namespace mxbench
