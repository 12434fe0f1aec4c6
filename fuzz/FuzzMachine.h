// The emulated machine of a fuzz target: drive C: in a fresh temporary folder.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "MxModule/foundation/MxFile.h"
#include "platform/testhooks.h"

// Makes the machine and returns the host folder behind C:\ .
inline std::string MakeFuzzMachine() {
    char tmpl[] = "/tmp/mxfuzz-XXXXXX";
    std::string root = mkdtemp(tmpl);
    mkdir((root + "/c").c_str(), 0777);
    setenv("MX_HOME", root.c_str(), 1);
    setenv("MX_DRIVES", ("C:=" + root + "/c").c_str(), 1);
    setenv("MX_REGISTRY", (root + "/registry.db").c_str(), 1);
    MxPlatformReload();
    return root + "/c";
}

// Writes the input as the host file behind winPath and opens it read-write; false when it cannot.
inline bool OpenFuzzFile(const std::string& host, LPCSTR winPath, const uint8_t* data, size_t size, CMxFile& file) {
    std::ofstream(host, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    return file.Open(winPath, 0x8002) != FALSE;
}
