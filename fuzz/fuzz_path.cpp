// Arbitrary bytes as Windows paths: full-path computation and resolution through the drive map.
#include <sys/stat.h>

#include <string>

#include "MxModule/MxModule.h"
#include "FuzzMachine.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mkdir((MakeFuzzMachine() + "/Music").c_str(), 0777);
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
