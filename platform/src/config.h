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
    std::vector<std::string> folder;  // a folder mounted from elsewhere: its names on the drive (UTF-8)
};

struct Config {
    std::string home;            // MX_HOME
    std::vector<Drive> drives;   // MX_DRIVES, else the map kept in MX_HOME/drives
    std::vector<Drive> folders;  // folders of those drives served from other host folders
    std::string registry;        // MX_REGISTRY
    UINT acp = 54936;            // MX_ACP
    std::string odbcinst;        // MX_ODBCINST: the drivers' odbcinst.ini, "" for the system's
    std::string folderDesktop, folderMusic, folderAppData, folderLocalAppData;  // Windows paths
    unsigned foldersFromEnv = 0;  // bits 1 desktop, 2 music, 4 application data, 8 local: set by MX_FOLDER_*
};

// The current configuration; a reference stays valid until the next reload.
const Config& config();

// Conversions with an explicit code page, usable while the configuration is being built.
std::string Utf8ToCodePage(const std::string& utf8, UINT codePage);
std::string CodePageToUtf8(const char* text, size_t length, UINT codePage);
// Whether two UTF-8 host names are one name to a case-insensitive file system (simple case folding).
bool Utf8EqualNoCase(const std::string& a, const std::string& b);

// The Windows path of a host path through the configuration's drive map; false when no drive holds it.
bool HostToWindows(const Config& c, const std::string& host, std::string& out);
// Parses "X:=HOSTPATH[,type[,bus]]" and "X:\FOLDER=HOSTPATH" items separated by ';' or new lines.
void ParseDrives(const std::string& map, std::vector<Drive>& drives, std::vector<Drive>& folders);

// Resets of the other services, for MxPlatformReload.
void RegistryCloseDatabase();
void FilesReset();

// CloseHandle of a volume handle (drives); FALSE with ERROR_INVALID_HANDLE for any other value.
BOOL CloseVolumeHandle(HANDLE h);

}  // namespace mxp
