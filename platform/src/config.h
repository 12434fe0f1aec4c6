// The emulated machine's configuration, read from the environment once (tests reload it).
#pragma once

#include <string>
#include <vector>

#include "platform/windef.h"

namespace mxp {

struct Drive {
    char letter = 0;      // upper case
    std::string root;     // host path, no trailing '/', "" for "/"
    UINT type = 3;        // DRIVE_FIXED
    std::string bus = "sata";
};

struct Config {
    std::string home;            // MX_HOME
    std::vector<Drive> drives;   // MX_DRIVES
    std::string registry;        // MX_REGISTRY
    UINT acp = 54936;            // MX_ACP
    std::string odbcinst;        // MX_ODBCINST: the drivers' odbcinst.ini, "" for the system's
    std::string folderDesktop, folderMusic, folderAppData, folderLocalAppData;  // Windows paths
};

// The current configuration; a reference stays valid until the next reload.
const Config& config();

// Conversions with an explicit code page, usable while the configuration is being built.
std::string Utf8ToCodePage(const std::string& utf8, UINT codePage);
std::string CodePageToUtf8(const char* text, size_t length, UINT codePage);
// Whether two UTF-8 host names are one name to a case-insensitive file system (simple case folding).
bool Utf8EqualNoCase(const std::string& a, const std::string& b);

// The Windows path of a host path through the given drive map; false when no drive holds it.
bool HostToWindows(const std::vector<Drive>& drives, UINT codePage, const std::string& host, std::string& out);

// Resets of the other services, for MxPlatformReload.
void RegistryCloseDatabase();
void FilesReset();

// CloseHandle of a volume handle (drives); FALSE with ERROR_INVALID_HANDLE for any other value.
BOOL CloseVolumeHandle(HANDLE h);

}  // namespace mxp
