// Shell folders from the configuration.
#include "platform/shell.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config.h"
#include "platform/files.h"
#include "platform/registry.h"

struct ITEMIDLIST {
    char path[MAX_PATH];
};

namespace {

// The folder from MX_FOLDER_*, else the user's "Shell Folders" value (an adopted installation's), else the
// default; "" for a folder the machine does not have.
std::string FolderOf(int csidl, bool& alwaysCreate) {
    struct Folder {
        int csidl;
        unsigned envBit;
        const char* value;
        std::string mxp::Config::*path;
    };
    static const Folder kFolders[] = {{CSIDL_DESKTOP, 1, "Desktop", &mxp::Config::folderDesktop},
                                      {CSIDL_MYMUSIC, 2, "My Music", &mxp::Config::folderMusic},
                                      {CSIDL_APPDATA, 4, "AppData", &mxp::Config::folderAppData},
                                      {CSIDL_LOCAL_APPDATA, 8, "Local AppData", &mxp::Config::folderLocalAppData}};
    const mxp::Config& c = mxp::config();
    for (const Folder& f : kFolders) {
        if (f.csidl != (csidl & 0xFF)) continue;
        alwaysCreate = f.csidl == CSIDL_APPDATA || f.csidl == CSIDL_LOCAL_APPDATA;
        if (!(c.foldersFromEnv & f.envBit)) {
            char path[MAX_PATH] = {};
            DWORD type = 0, size = sizeof path - 1;
            HKEY key = nullptr;
            bool found = RegOpenKeyExA(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_READ, &key) == ERROR_SUCCESS &&
                         RegQueryValueExA(key, f.value, nullptr, &type, reinterpret_cast<BYTE*>(path), &size) == ERROR_SUCCESS &&
                         type == REG_SZ && path[0];
            if (key) RegCloseKey(key);
            if (found) {
                alwaysCreate = false;  // the profile's own folder: never written into
                return path;
            }
        }
        return c.*f.path;
    }
    alwaysCreate = false;
    return "";
}

void CreateLevels(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
        else if (IsDBCSLeadByte(BYTE(path[i])) && i + 1 < path.size()) ++i;
    }
}

HRESULT FolderPath(int nFolder, std::string& out) {
    bool alwaysCreate = false;
    const std::string folder = FolderOf(nFolder, alwaysCreate);
    if (folder.empty() || folder.size() >= MAX_PATH) return E_INVALIDARG;
    if (alwaysCreate || (nFolder & CSIDL_FLAG_CREATE)) CreateLevels(folder);
    out = folder;
    return S_OK;
}

struct ShellMalloc final : IMalloc {
    void* Alloc(size_t cb) override { return std::malloc(cb); }
    void Free(void* pv) override { std::free(pv); }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
};
ShellMalloc g_malloc;

}  // namespace

HRESULT SHGetFolderLocation(HWND, int nFolder, HANDLE, DWORD, LPITEMIDLIST* ppidl) {
    if (!ppidl) return E_INVALIDARG;
    *ppidl = nullptr;
    std::string path;
    HRESULT hr = FolderPath(nFolder, path);
    if (FAILED(hr)) return hr;
    auto* pidl = static_cast<ITEMIDLIST*>(g_malloc.Alloc(sizeof(ITEMIDLIST)));
    if (!pidl) return E_OUTOFMEMORY;
    std::memcpy(pidl->path, path.c_str(), path.size() + 1);
    *ppidl = pidl;
    return S_OK;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath) {
    if (!pidl || !pszPath) return FALSE;
    std::memcpy(pszPath, pidl->path, std::strlen(pidl->path) + 1);
    return TRUE;
}

HRESULT SHGetMalloc(LPMALLOC* ppMalloc) {
    if (!ppMalloc) return E_INVALIDARG;
    *ppMalloc = &g_malloc;
    return S_OK;
}

HRESULT SHGetFolderPathA(HWND, int nFolder, HANDLE, DWORD, LPSTR pszPath) {
    std::string path;
    HRESULT hr = pszPath ? FolderPath(nFolder, path) : E_INVALIDARG;
    if (SUCCEEDED(hr)) std::memcpy(pszPath, path.c_str(), path.size() + 1);
    return hr;
}

DWORD GetModuleFileNameA(HMODULE, LPSTR lpFilename, DWORD nSize) {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    CString win;
    if (n <= 0 || !MxHostPathToWindows(std::string(buf, size_t(n)), win)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Too small a buffer gets the truncated name and ERROR_INSUFFICIENT_BUFFER, as on Windows.
    DWORD len = DWORD(win.GetLength());
    if (len >= nSize) {
        std::memcpy(lpFilename, (LPCSTR)win, nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, (LPCSTR)win, len + 1);
    return len;
}
