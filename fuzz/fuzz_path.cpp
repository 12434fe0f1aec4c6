// Arbitrary bytes as Windows paths: full-path computation and resolution through the drive map.
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "MxModule/MxModule.h"
#include "platform/testhooks.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char tmpl[] = "/tmp/mxfuzz-XXXXXX";
    std::string root = mkdtemp(tmpl);
    mkdir((root + "/c").c_str(), 0777);
    mkdir((root + "/c/Music").c_str(), 0777);
    setenv("MX_HOME", root.c_str(), 1);
    setenv("MX_DRIVES", ("C:=" + root + "/c").c_str(), 1);
    setenv("MX_REGISTRY", (root + "/registry.db").c_str(), 1);
    MxPlatformReload();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path(reinterpret_cast<const char*>(data), size);
    path = path.c_str();  // a Windows path ends at its zero byte
    char buf[MAX_PATH];
    LPSTR part = nullptr;
    DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, buf, &part);
    if (n > 0 && n < MAX_PATH && (part && (part < buf || part > buf + n))) abort();
    GetFileAttributesA(path.c_str());
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(path.c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
    std::string host;
    MxWindowsPathToHost(path.c_str(), host);
    return 0;
}
