// Arbitrary bytes through the code-page conversions and the text utilities that meet tag and file-name
// text: nothing may crash, read out of bounds, or grow beyond what the input can produce.
#include <cstdlib>
#include <cstring>
#include <string>

#include "MxModule/MxModule.h"

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
    CString s(z.c_str());
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
    return 0;
}
