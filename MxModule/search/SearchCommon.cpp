#include "MxModule/search/SearchCommon.h"

#include <cstring>
#include <string>

#include "MxModule/foundation/RegistryValue.h"

namespace SearchCommon {

CString ServerAddress(LPCSTR pszName) {
    std::string name = std::string("SOFTWARE\\Tamborinebox\\Servers\\") + pszName;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        registry_string<std::string> value(name, root);
        if (value.exists()) return CString(static_cast<std::string>(value));
    }
    return CString();
}

CString CleanName(CString strText) {
    strText.Trim();
    std::string s = strText.str();
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x82) {
            ++i;  // the trail byte stays with its lead
        } else if (c < 0x21 || c > 0x7E || std::strchr("\\/*\":|<>?", c)) {
            s[i] = ' ';
        }
    }
    return CString(std::move(s));
}

}  // namespace SearchCommon

namespace SearchCommon {

HANDLE WaitableCopy(HANDLE hThread) {
    HANDLE copy = nullptr;
    if (hThread == nullptr || hThread == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), hThread, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

void WaitAndClose(HANDLE hCopy, bool bPump) {
    if (!hCopy) return;
    if (bPump) {
        MSG msg;
        while (WaitForSingleObject(hCopy, 10) == WAIT_TIMEOUT) PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    } else {
        WaitForSingleObject(hCopy, INFINITE);
    }
    CloseHandle(hCopy);
}

}  // namespace SearchCommon
