// Volume handles and the storage property query, answered from the drive map.
#include "platform/drives.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "config.h"
#include "platform/files.h"

namespace {

// Volume handles are 2 modulo 4, thread handles 0 modulo 4: one CloseHandle serves both.
std::mutex& g_volumeLock = *new std::mutex;
std::unordered_map<uintptr_t, char>& g_volumes = *new std::unordered_map<uintptr_t, char>;
uintptr_t g_nextVolume = 0x40000002;

BOOL Fail(DWORD e) {
    SetLastError(e);
    return FALSE;
}

bool VolumeOf(HANDLE h, char& letter) {
    std::lock_guard<std::mutex> guard(g_volumeLock);
    auto it = g_volumes.find(reinterpret_cast<uintptr_t>(h));
    if (it == g_volumes.end()) return false;
    letter = it->second;
    return true;
}

STORAGE_BUS_TYPE BusOf(std::string name) {
    static const char* const kNames[] = {"unknown", "scsi", "atapi", "ata", "1394", "ssa", "fibre",
                                         "usb", "raid", "iscsi", "sas", "sata", "sd", "mmc",
                                         "virtual", "filebackedvirtual", "spaces", "nvme", "scm", "ufs"};
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    }
    for (size_t i = 0; i < sizeof kNames / sizeof *kNames; ++i) {
        if (name == kNames[i]) return STORAGE_BUS_TYPE(i);
    }
    return BusTypeUnknown;
}

// The full descriptor of a drive: the fixed part, then the product and serial texts.
std::string Descriptor(const mxp::Drive& d) {
    const std::string product = "MX VIRTUAL DISK", serial = std::string("MXDRIVE-") + d.letter;
    STORAGE_DEVICE_DESCRIPTOR desc;
    std::memset(&desc, 0, sizeof desc);
    desc.Version = sizeof desc;
    desc.DeviceType = d.type == DRIVE_CDROM ? 5 : 0;  // CD-ROM or direct-access device
    desc.RemovableMedia = d.type == DRIVE_REMOVABLE || d.type == DRIVE_CDROM;
    desc.BusType = BusOf(d.bus);
    desc.ProductIdOffset = DWORD(sizeof desc);
    desc.SerialNumberOffset = DWORD(sizeof desc + product.size() + 1);
    desc.Size = DWORD(sizeof desc + product.size() + 1 + serial.size() + 1);
    std::string out(reinterpret_cast<const char*>(&desc), sizeof desc);
    out += product;
    out += '\0';
    out += serial;
    out += '\0';
    return out;
}

}  // namespace

namespace mxp {
BOOL CloseVolumeHandle(HANDLE h) {
    std::lock_guard<std::mutex> guard(g_volumeLock);
    if (g_volumes.erase(reinterpret_cast<uintptr_t>(h)) == 0) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}
}  // namespace mxp

HANDLE CreateFileA(LPCSTR lpFileName, DWORD, DWORD, void*, DWORD dwCreationDisposition, DWORD, HANDLE) {
    if (!lpFileName) return Fail(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
    const std::string name = lpFileName;
    const bool volume = name.size() == 6 && (name.compare(0, 4, "\\\\.\\") == 0 || name.compare(0, 4, "\\\\?\\") == 0) &&
                        name[5] == ':';
    if (!volume) return Fail(ERROR_NOT_SUPPORTED), INVALID_HANDLE_VALUE;
    if (dwCreationDisposition != OPEN_EXISTING) return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
    char root[] = {name[4], ':', '\\', '\0'};
    UINT type = GetDriveTypeA(root);
    if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_REMOTE) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    char letter = root[0] >= 'a' && root[0] <= 'z' ? char(root[0] - 32) : root[0];
    std::lock_guard<std::mutex> guard(g_volumeLock);
    uintptr_t value = g_nextVolume;
    g_nextVolume += 4;
    g_volumes.emplace(value, letter);
    return reinterpret_cast<HANDLE>(value);
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                     DWORD nOutBufferSize, LPDWORD lpBytesReturned, void*) {
    if (lpBytesReturned) *lpBytesReturned = 0;
    char letter = 0;
    if (!VolumeOf(hDevice, letter)) return Fail(ERROR_INVALID_HANDLE);
    if (dwIoControlCode != IOCTL_STORAGE_QUERY_PROPERTY) return Fail(ERROR_INVALID_FUNCTION);
    if (!lpInBuffer || nInBufferSize < 8) return Fail(ERROR_INVALID_PARAMETER);
    DWORD id, query;
    std::memcpy(&id, lpInBuffer, 4);
    std::memcpy(&query, static_cast<const BYTE*>(lpInBuffer) + 4, 4);
    if (id != StorageDeviceProperty) return Fail(ERROR_NOT_SUPPORTED);
    if (query == PropertyExistsQuery) return TRUE;
    if (query != PropertyStandardQuery) return Fail(ERROR_INVALID_PARAMETER);
    if (!lpOutBuffer || nOutBufferSize < 8) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::string desc;
    {
        const mxp::Config& c = mxp::config();
        const mxp::Drive* drive = nullptr;
        for (const mxp::Drive& d : c.drives) drive = d.letter == letter ? &d : drive;
        if (!drive) return Fail(ERROR_NOT_READY);  // the map changed under the handle
        desc = Descriptor(*drive);
    }
    DWORD n = desc.size() < nOutBufferSize ? DWORD(desc.size()) : nOutBufferSize;
    std::memcpy(lpOutBuffer, desc.data(), n);
    if (lpBytesReturned) *lpBytesReturned = n;
    return TRUE;
}

std::string MxGetDriveMap() {
    static const char* const kTypes[] = {"", "", "removable", "fixed", "network", "cdrom", "ramdisk"};
    const mxp::Config& c = mxp::config();
    std::string map;
    for (const mxp::Drive& d : c.drives) {
        map += std::string(1, d.letter) + ":=" + (d.root.empty() ? "/" : d.root) + "," +
               (d.type < 7 && kTypes[d.type][0] ? kTypes[d.type] : "fixed") + "," + d.bus + "\n";
    }
    for (const mxp::Drive& f : c.folders) {
        map += std::string(1, f.letter) + ":";
        for (const std::string& name : f.folder) map += "\\" + name;
        map += "=" + f.root + "\n";
    }
    return map;
}

BOOL MxSaveDriveMap(const std::string& items) {
    const std::string path = mxp::config().home + "/drives", temp = path + ".new";
    mkdir(mxp::config().home.c_str(), 0777);  // a machine that has not run yet
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    bool ok = write(fd, items.data(), items.size()) == ssize_t(items.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return Fail(ERROR_WRITE_FAULT);
    }
    return TRUE;
}
