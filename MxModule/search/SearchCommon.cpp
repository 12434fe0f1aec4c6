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
    auto at = [&s](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
    const bool utf8 = GetACP() == CP_UTF8;  // every byte from 0x80 up belongs to a character
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (utf8 && c >= 0x80) continue;
        bool lead = c >= 0x81 && c <= 0xFE;
        if (lead && at(i + 1) >= 0x30 && at(i + 1) <= 0x39 && at(i + 2) >= 0x81 && at(i + 2) <= 0xFE &&
            at(i + 3) >= 0x30 && at(i + 3) <= 0x39) {
            i += 3;  // a four-byte character stays whole
        } else if (lead && at(i + 1) >= 0x40 && at(i + 1) <= 0xFE && at(i + 1) != 0x7F) {
            ++i;  // a two-byte character stays whole
        } else if (c < 0x21 || c > 0x7E || std::strchr("\\/*\":|<>?", c)) {
            s[i] = ' ';
        }
    }
    return CString(std::move(s));
}

}  // namespace SearchCommon
