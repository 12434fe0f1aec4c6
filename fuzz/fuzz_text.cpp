// Arbitrary bytes through the code-page conversions and the text utilities that meet tag and file-name
// text: nothing may crash, read out of bounds, or grow beyond what the input can produce. The same bytes,
// as a Windows path, go through full-path computation and resolution through the drive map.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzMachine.h"
#include "MxModule/MxModule.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mkdir((MakeFuzzMachine() + "/Music").c_str(), 0777);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    int n = int(size);
    for (UINT cp : {936u, 54936u, unsigned(CP_UTF8)}) {
        for (DWORD flags : {DWORD(0), DWORD(MB_ERR_INVALID_CHARS)}) {
            int wide = MultiByteToWideChar(cp, flags, text, n, nullptr, 0);
            if (wide > n) std::abort();  // a byte never yields more than one UTF-16 unit
            if (wide <= 0) continue;
            std::u16string w(size_t(wide), u'\0');
            if (MultiByteToWideChar(cp, flags, text, n, &w[0], wide) != wide) std::abort();
            int narrow = WideCharToMultiByte(cp, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
            std::string back(size_t(narrow > 0 ? narrow : 0), '\0');
            if (narrow > 0 && WideCharToMultiByte(cp, 0, w.data(), wide, &back[0], narrow, nullptr, nullptr) != narrow) std::abort();
        }
    }
    std::string z(text, size);
    const char* path = z.c_str();  // a Windows path ends at its zero byte
    CString s(path);
    CString copy = s;
    copy.MakeUpper();
    copy.MakeLower();
    if (copy.GetLength() != s.GetLength()) std::abort();
    CMxPublic::CheckStringValidTail(copy);
    std::string buf = z + '\0';
    CMxPublic::CheckStringValidTail(&buf[0], int(z.size()));
    CMxPublic::URLDecode(s);
    CMxPublic::UTF82GBDecode(s);
    CMxPublic::FindNoCase(s, "mp3");
    s.Find('\\');
    s.ReverseFind('\\');
    s.Replace("\\", "/");
    if (MxFoldCase(s).GetLength() > 4 * s.GetLength()) std::abort();
    MxFindChars(s, "\x94\x39");

    char full[MAX_PATH];
    LPSTR part = nullptr;
    DWORD got = GetFullPathNameA(path, MAX_PATH, full, &part);
    if (got > 0 && got < MAX_PATH && (part && (part < full || part > full + got))) abort();
    GetFileAttributesA(path);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(path, &fd);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
    std::string host;
    MxWindowsPathToHost(path, host);
    return 0;
}
