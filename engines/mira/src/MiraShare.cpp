// The share companion (records of committed files and their tag blocks) and the machine identity.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "MiraCommon.h"
#include "mira/MiraLib.h"
#include "platform/digest.h"
#include "platform/files.h"

namespace {

std::mutex g_lock;
HKEY g_hRoot = nullptr;
std::string g_strKeyPath, g_strUserID, g_strFolder;  // g_strFolder: host path of the share folder
int g_nPort = 0, g_nPortFd = -1;

void SetRegistryValue(const char* name, DWORD type, const void* data, DWORD size) {
    if (!g_hRoot || g_strKeyPath.empty()) return;
    HKEY key = nullptr;
    if (RegCreateKeyExA(g_hRoot, g_strKeyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

bool ValidMD5(const char* md5, std::string& lower) {
    if (!md5 || strlen(md5) != 32) return false;
    lower.clear();
    for (const char* p = md5; *p; ++p) {
        if (!isxdigit(static_cast<unsigned char>(*p))) return false;
        lower += static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    }
    return true;
}

// Whole-file replace: a reader sees the old record or the new one, never half of one.
bool WriteAtomically(const std::string& path, const std::string& bytes) {
    std::string tmp = path + ".tmp";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = fflush(f) == 0 && fsync(fileno(f)) == 0 && ok;
    ok = fclose(f) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
    return true;
}

// A record: the file's path, the commit text, the tag lengths of the file as it is now.
struct SHARERECORD {
    std::string strPath, strText;
    long nTail = 0, nHeader = 0;
};

std::string Format(const SHARERECORD& r) {
    return r.strPath + "\n" + r.strText + "\n" + std::to_string(r.nTail) + " " + std::to_string(r.nHeader) + "\n";
}

bool Parse(const std::string& bytes, SHARERECORD& r) {
    size_t a = bytes.find('\n');
    if (a == std::string::npos) return false;
    size_t b = bytes.find('\n', a + 1);
    if (b == std::string::npos) return false;
    r.strPath = bytes.substr(0, a);
    r.strText = bytes.substr(a + 1, b - a - 1);
    if (sscanf(bytes.c_str() + b + 1, "%ld %ld", &r.nTail, &r.nHeader) != 2) r.nTail = r.nHeader = 0;
    return true;
}

// The records by file path, so that a moved file's records are found without reading the whole folder.
// Rebuilt when the folder changed behind this process's back: its modification time is noted after
// each write of ours. Called with g_lock held.
std::multimap<std::string, std::string> g_mapByPath;  // path -> MD5
bool g_bIndexed = false;
timespec g_tIndexed{};

timespec FolderTime() {
    struct stat st {};
    stat(g_strFolder.c_str(), &st);
    return st.st_mtim;
}

void NoteOwnWrite() { g_tIndexed = FolderTime(); }

void EnsureIndex() {
    timespec now = FolderTime();
    if (g_bIndexed && now.tv_sec == g_tIndexed.tv_sec && now.tv_nsec == g_tIndexed.tv_nsec) return;
    g_mapByPath.clear();
    if (DIR* dir = opendir(g_strFolder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name, bytes;
            SHARERECORD r;
            if (name.size() == 36 && name.compare(32, 4, ".rec") == 0 && ReadFile(g_strFolder + "/" + name, bytes) &&
                Parse(bytes, r))
                g_mapByPath.emplace(r.strPath, name.substr(0, 32));
        }
        closedir(dir);
    }
    g_bIndexed = true;
    g_tIndexed = now;
}

void Unindex(const std::string& path, const std::string& md5) {
    auto range = g_mapByPath.equal_range(path);
    for (auto it = range.first; it != range.second; ++it)
        if (it->second == md5) {
            g_mapByPath.erase(it);
            return;
        }
}

void PutInt32(std::string& out, int value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>(static_cast<unsigned int>(value) >> (8 * i));
}

}  // namespace

extern "C" {

int MiraShareSetRegPath(HKEY hRoot, const char* pszKeyPath) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_hRoot = hRoot;
    g_strKeyPath = pszKeyPath ? pszKeyPath : "";
    return g_strKeyPath.empty() ? 0 : 1;
}

void MiraShareSetUserID(const char* pszUserID) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_strUserID = pszUserID ? pszUserID : "";
}

void MiraShareStart(void) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_nPortFd >= 0) return;
    g_nPort = mira::OpenPort(g_nPortFd);
    DWORD port = static_cast<DWORD>(g_nPort);
    SetRegistryValue("IPCPort", REG_DWORD, &port, sizeof(port));
}

int MiraShareGetIPCPort(void) {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_nPort;
}

void MiraShareSetID3Path(const char* pszFolder) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::string host;
    g_strFolder.clear();
    if (!pszFolder || !*pszFolder || !MxWindowsPathToHost(pszFolder, host)) return;
    g_strFolder = host;
    g_bIndexed = false;
    SetRegistryValue("ID3Path", REG_SZ, pszFolder, static_cast<DWORD>(strlen(pszFolder) + 1));
}

bool MiraShareCommitFile(const char* pszText, const char* pszPath, const char* pszMD5) {
    std::string md5;
    if (!pszPath || !*pszPath || strchr(pszPath, '\n') || (pszText && strchr(pszText, '\n')) || !ValidMD5(pszMD5, md5))
        return false;
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_strFolder.empty()) return false;
    EnsureIndex();
    SHARERECORD r;
    std::string old;
    bool known = ReadFile(g_strFolder + "/" + md5 + ".rec", old) && Parse(old, r);  // a new commit keeps known tag lengths
    const std::string oldPath = r.strPath;
    r.strPath = pszPath;
    r.strText = pszText ? pszText : "";
    bool written = WriteAtomically(g_strFolder + "/" + md5 + ".rec", Format(r));
    if (written && known) Unindex(oldPath, md5);
    if (written) g_mapByPath.emplace(r.strPath, md5);
    NoteOwnWrite();
    return written;
}

int MiraShareSetID3(const char* pszMD5, const char* pTail, int nTailLen, const char* pHeader, int nHeaderLen) {
    std::string md5;
    if (!ValidMD5(pszMD5, md5) || nTailLen < 0 || nHeaderLen < 0 || (nTailLen && !pTail) || (nHeaderLen && !pHeader))
        return 0;
    std::lock_guard<std::mutex> guard(g_lock);
    std::string recBytes;
    SHARERECORD r;
    if (g_strFolder.empty() || !ReadFile(g_strFolder + "/" + md5 + ".rec", recBytes) || !Parse(recBytes, r)) return 0;
    std::string blocks("MXID3\x01", 6);
    PutInt32(blocks, nTailLen);
    PutInt32(blocks, nHeaderLen);
    blocks.append(pTail ? pTail : "", static_cast<size_t>(nTailLen));
    blocks.append(pHeader ? pHeader : "", static_cast<size_t>(nHeaderLen));
    r.nTail = nTailLen;
    r.nHeader = nHeaderLen;
    EnsureIndex();
    int written = WriteAtomically(g_strFolder + "/" + md5 + ".id3", blocks) &&
                  WriteAtomically(g_strFolder + "/" + md5 + ".rec", Format(r));
    NoteOwnWrite();
    return written;
}

int MiraShareEditID3(const char* pszOldPath, const char* pszNewPath, int nTailLen, int nHeaderLen) {
    if (!pszOldPath || !pszNewPath || !*pszNewPath || strchr(pszNewPath, '\n') || nTailLen < 0 || nHeaderLen < 0) return 0;
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_strFolder.empty()) return 0;
    EnsureIndex();
    std::vector<std::string> md5s;
    auto range = g_mapByPath.equal_range(pszOldPath);
    for (auto it = range.first; it != range.second; ++it) md5s.push_back(it->second);
    int changed = 0;
    for (const std::string& md5 : md5s) {
        std::string path = g_strFolder + "/" + md5 + ".rec", bytes;
        SHARERECORD r;
        if (!ReadFile(path, bytes) || !Parse(bytes, r) || r.strPath != pszOldPath) continue;
        r.strPath = pszNewPath;
        r.nTail = nTailLen;
        r.nHeader = nHeaderLen;
        if (!WriteAtomically(path, Format(r))) continue;
        Unindex(pszOldPath, md5);
        g_mapByPath.emplace(r.strPath, md5);
        changed = 1;
    }
    NoteOwnWrite();
    return changed;
}

void MiraShareFinish(void) {
    std::lock_guard<std::mutex> guard(g_lock);
    mira::ClosePort(g_nPortFd);
    g_nPort = 0;
}

void GenHWID(DWORD* pdwID) {
    if (!pdwID) return;
    std::string id;
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::ifstream in(path);
        if (in && std::getline(in, id) && !id.empty()) break;
        id.clear();
    }
    if (id.empty()) {
        char host[256] = "";
        gethostname(host, sizeof(host) - 1);
        id = host;
    }
    // Salted, so the machine id itself never leaves the machine.
    std::string text = "MxMiraHWID:" + id;
    CMD5Digest md5;
    md5.Update(text.data(), text.size());
    BYTE digest[16];
    md5.Final(digest);
    for (int i = 0; i < 4; ++i)
        pdwID[i] = static_cast<DWORD>(digest[4 * i]) | static_cast<DWORD>(digest[4 * i + 1]) << 8 |
                   static_cast<DWORD>(digest[4 * i + 2]) << 16 | static_cast<DWORD>(digest[4 * i + 3]) << 24;
}

}  // extern "C"
