// Shell special folders (desktop, music, application data, local application data) and the module's
// own file name. The folders are Windows paths: MX_FOLDER_*, else the user's values under kShellFoldersKey
// (a user profile taken in from a Windows installation), else the configuration's defaults.
#pragma once

#include <cstddef>

#include "platform/windef.h"

#define CSIDL_DESKTOP 0x0000
#define CSIDL_MYMUSIC 0x000d
#define CSIDL_APPDATA 0x001a
#define CSIDL_LOCAL_APPDATA 0x001c
#define CSIDL_FLAG_CREATE 0x8000
#define SHGFP_TYPE_CURRENT 0

// REG_SZ values "Desktop", "My Music", "AppData" and "Local AppData" under HKEY_CURRENT_USER.
inline constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

struct ITEMIDLIST;
typedef ITEMIDLIST* LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;

// The shell's allocator, as COM shapes it: item lists are released with Free, the allocator with Release.
struct IMalloc {
    virtual void* Alloc(size_t cb) = 0;
    virtual void Free(void* pv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IMalloc() = default;
};
typedef IMalloc* LPMALLOC;

// The application-data folders are created when missing (a profile always has them); the others only
// with CSIDL_FLAG_CREATE. E_INVALIDARG for a folder this machine does not know.
HRESULT SHGetFolderLocation(HWND hwndOwner, int nFolder, HANDLE hToken, DWORD dwReserved, LPITEMIDLIST* ppidl);
BOOL SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath);
HRESULT SHGetMalloc(LPMALLOC* ppMalloc);
HRESULT SHGetFolderPathA(HWND hwndOwner, int nFolder, HANDLE hToken, DWORD dwFlags, LPSTR pszPath);
// The running program's path through the drive map.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
