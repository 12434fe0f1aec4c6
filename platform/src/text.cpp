// Text: CString, code-page tables and conversions.
#include "platform/text.h"

#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "config.h"

namespace {

// Code page 936 as Windows has it: the two-byte table comes from the host's CP936 converter, with
// GB18030 filling the user-defined areas that CP936 leaves out (both map them to the private use area).
// Code page 54936 (GB18030) keeps that two-byte table and gives every other code point a four-byte code:
// the BMP ones in code point order from 0x81308130, the others from 0x90308130.
struct Cp936Tables {
    static constexpr int kLeads = 0xFE - 0x81 + 1;
    static constexpr int kTrails = 0xFE - 0x40 + 1;
    static constexpr int kFourBmp = 39420;         // four-byte codes 0x81308130 to 0x8431A439
    static constexpr uint32_t kFourSupplementary = 189000;  // the linear index of 0x90308130
    static constexpr WORD kNoFour = 0xFFFF;
    WCHAR toWide[kLeads][kTrails] = {};   // 0 = unmapped
    WORD toNarrow[0x10000] = {};          // lead << 8 | trail, or a single byte; 0 = unmapped
    WCHAR fourToWide[kFourBmp] = {};      // by linear index of a four-byte code
    WORD wideToFour[0x10000] = {};        // the linear index, or kNoFour

    Cp936Tables() {
        toNarrow[0x20AC] = 0x80;
        toNarrow[0xF8F5] = 0xFF;
        for (int c = 0; c < 0x80; ++c) toNarrow[c] = WORD(c);
        toNarrow[0] = 0;
        Fill("CP936");
        Fill("GB18030");
        // Codes of row FE that the host's tables move out of the private use area; code page 936 keeps
        // them there, in trail-byte order from U+E815.
        for (int trail : {0x51, 0x52, 0x53, 0x6C, 0x76, 0x91}) {
            Set(0xFE, trail, WCHAR(0xE815 + (trail - 0x50) - (trail > 0x7F ? 1 : 0)));
        }
        FillFourByte();
    }

    bool HeldByTwoBytes(uint32_t c) const { return toNarrow[c] > 0xFF || c == 0x20AC; }  // the euro sign is A2E3

    // The four-byte codes of the BMP as the host's GB18030 converter has them. A code whose character
    // the two-byte table already holds, or that the host does not map, takes the next character left
    // without a code, in code point order, so that every character has exactly one code.
    void FillFourByte() {
        for (WORD& w : wideToFour) w = kNoFour;
        std::vector<WCHAR> host = HostFourByte();
        std::vector<int> freeSlots;
        for (int index = 0; index < kFourBmp; ++index) {
            WCHAR c = host[size_t(index)];
            if (c < 0x80 || (c >= 0xD800 && c <= 0xDFFF) || HeldByTwoBytes(c) || wideToFour[c] != kNoFour) {
                freeSlots.push_back(index);
                continue;
            }
            fourToWide[index] = c;
            wideToFour[c] = WORD(index);
        }
        size_t next = 0;
        for (uint32_t c = 0x80; c <= 0xFFFF && next < freeSlots.size(); ++c) {
            if ((c >= 0xD800 && c <= 0xDFFF) || HeldByTwoBytes(c) || wideToFour[c] != kNoFour) continue;
            fourToWide[freeSlots[next]] = WCHAR(c);
            wideToFour[c] = WORD(freeSlots[next++]);
        }
    }

    // The host converter's character for each BMP four-byte code (0 where it has none), converted in one
    // pass that steps over the codes it refuses.
    static std::vector<WCHAR> HostFourByte() {
        std::vector<WCHAR> out(kFourBmp, 0);
        iconv_t cd = iconv_open("UTF-16LE", "GB18030");
        if (cd == reinterpret_cast<iconv_t>(-1)) return out;
        std::string codes;
        codes.reserve(size_t(kFourBmp) * 4);
        for (int index = 0; index < kFourBmp; ++index) AppendFour(uint32_t(index), codes);
        for (size_t at = 0; at < codes.size();) {
            char* pin = &codes[at];
            size_t inLeft = codes.size() - at;
            std::vector<unsigned char> wide(inLeft);  // two bytes out for four in
            char* pout = reinterpret_cast<char*>(wide.data());
            size_t outLeft = wide.size();
            bool failed = iconv(cd, &pin, &inLeft, &pout, &outLeft) == size_t(-1);
            size_t done = size_t(pin - &codes[at]) / 4, produced = (wide.size() - outLeft) / 2;
            if (produced != done) break;  // not one unit per code: leave the rest to the fill-up
            for (size_t k = 0; k < done; ++k) out[at / 4 + k] = WCHAR(wide[2 * k] | (wide[2 * k + 1] << 8));
            at += done * 4 + (failed ? 4 : 0);  // a refused code keeps 0
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
        iconv_close(cd);
        return out;
    }

    static void AppendFour(uint32_t index, std::string& out) {
        char b[4];
        b[3] = char(0x30 + index % 10), index /= 10;
        b[2] = char(0x81 + index % 126), index /= 126;
        b[1] = char(0x30 + index % 10), index /= 10;
        b[0] = char(0x81 + index);
        out.append(b, 4);
    }

    void Set(int lead, int trail, WCHAR w) {
        if (toWide[lead - 0x81][trail - 0x40]) return;
        toWide[lead - 0x81][trail - 0x40] = w;
        if (!toNarrow[w]) toNarrow[w] = WORD(lead << 8 | trail);
    }

    void Fill(const char* charset) {
        iconv_t cd = iconv_open("UTF-16LE", charset);
        if (cd == reinterpret_cast<iconv_t>(-1)) return;
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (trail == 0x7F || toWide[lead - 0x81][trail - 0x40]) continue;
                char in[2] = {char(lead), char(trail)};
                unsigned char out[8];
                char* pin = in;
                char* pout = reinterpret_cast<char*>(out);
                size_t inLeft = 2, outLeft = sizeof out;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &pin, &inLeft, &pout, &outLeft) == size_t(-1) || outLeft != sizeof out - 2) continue;
                Set(lead, trail, WCHAR(out[0] | (out[1] << 8)));
            }
        }
        iconv_close(cd);
    }
};

const Cp936Tables& Tables() {
    static const Cp936Tables* tables = new Cp936Tables();  // never freed: used until exit
    return *tables;
}

bool IsLead936(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsTrail936(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

UINT Resolve(UINT codePage) { return codePage == CP_ACP || codePage == CP_OEMCP ? GetACP() : codePage; }

// The two-byte character at p[i] (its lead byte and the byte after it), or '?' for a pair the table
// lacks; false for such a pair when strict is set.
bool DecodeTwoByte(const Cp936Tables& t, const unsigned char* p, size_t& i, bool strict, std::u16string& out) {
    if (IsTrail936(p[i + 1]) && t.toWide[p[i] - 0x81][p[i + 1] - 0x40]) {
        out += t.toWide[p[i] - 0x81][p[i + 1] - 0x40];
        ++i;
        return true;
    }
    if (strict) return false;
    out += u'?';
    return true;
}

// Decodes [p, p+n) into out; false when an invalid sequence was met and strict is set.
bool Decode936(const unsigned char* p, size_t n, bool strict, std::u16string& out) {
    const Cp936Tables& t = Tables();
    for (size_t i = 0; i < n; ++i) {
        unsigned char b = p[i];
        if (b < 0x80) {
            out += char16_t(b);
        } else if (b == 0x80) {
            out += char16_t(0x20AC);
        } else if (b == 0xFF) {
            out += char16_t(0xF8F5);
        } else if (i + 1 >= n || p[i + 1] == 0) {
            // A lead byte cut from its trail byte (at the end, or before the terminator) is dropped.
            if (strict) return false;
        } else if (!DecodeTwoByte(t, p, i, strict, out)) {
            return false;
        }
    }
    return true;
}

bool IsDigit(unsigned char b) { return b >= 0x30 && b <= 0x39; }

void AppendCodePoint(uint32_t cp, std::u16string& out) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += char16_t(0xD800 + (cp >> 10));
        out += char16_t(0xDC00 + (cp & 0x3FF));
    } else {
        out += char16_t(cp);
    }
}

// The code point of the four-byte code at p (lead, digit, lead, digit), or kNoChar.
constexpr uint32_t kNoChar = 0xFFFFFFFF;
uint32_t FourByteCodePoint(const unsigned char* p) {
    const Cp936Tables& t = Tables();
    uint32_t index = ((uint32_t(p[0] - 0x81) * 10 + (p[1] - 0x30)) * 126 + (p[2] - 0x81)) * 10 + (p[3] - 0x30);
    if (index < uint32_t(Cp936Tables::kFourBmp)) return t.fourToWide[index] ? t.fourToWide[index] : kNoChar;
    if (index >= Cp936Tables::kFourSupplementary && index - Cp936Tables::kFourSupplementary < 0x100000) {
        return 0x10000 + (index - Cp936Tables::kFourSupplementary);
    }
    return kNoChar;
}

void AppendFourByte(uint32_t index, std::string& out) { Cp936Tables::AppendFour(index, out); }

// Bytes of the character at p[i] under GB18030: 4 for a whole four-byte code, 2 for a lead byte and the
// byte after it, else 1 (also for a lead byte at the end or before a zero).
size_t CharLen54936(const unsigned char* p, size_t n, size_t i) {
    if (!IsLead936(p[i]) || i + 1 >= n || p[i + 1] == 0) return 1;
    if (IsDigit(p[i + 1]) && i + 3 < n && IsLead936(p[i + 2]) && IsDigit(p[i + 3])) return 4;
    return 2;
}

bool Decode54936(const unsigned char* p, size_t n, bool strict, std::u16string& out) {
    const Cp936Tables& t = Tables();
    for (size_t i = 0; i < n; ++i) {
        unsigned char b = p[i];
        if (b < 0x80) {
            out += char16_t(b);
            continue;
        }
        size_t len = CharLen54936(p, n, i);
        bool cut = len == 1 || (IsDigit(p[i + 1]) && len == 2 &&
                                (i + 2 >= n || p[i + 2] == 0 || (IsLead936(p[i + 2]) && (i + 3 >= n || p[i + 3] == 0))));
        if (b == 0x80 || b == 0xFF) {
            if (strict) return false;
            out += u'?';
        } else if (len == 4) {
            uint32_t cp = FourByteCodePoint(p + i);
            if (cp == kNoChar && strict) return false;
            AppendCodePoint(cp == kNoChar ? uint32_t(u'?') : cp, out);
            i += 3;
        } else if (cut) {
            // A character cut short (at the end, or before the terminator) is dropped.
            if (strict) return false;
            while (i + 1 < n && p[i + 1] != 0) ++i;
        } else if (!DecodeTwoByte(t, p, i, strict, out)) {
            return false;
        }
    }
    return true;
}

void Encode54936(const char16_t* w, size_t n, const std::string& defaultChar, std::string& out, bool& usedDefault) {
    const Cp936Tables& t = Tables();
    for (size_t i = 0; i < n; ++i) {
        char16_t c = w[i];
        if (c < 0x80) {
            out += char(c);
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
            uint32_t cp = 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            AppendFourByte(Cp936Tables::kFourSupplementary + cp - 0x10000, out);
            ++i;
        } else if (t.toNarrow[c] > 0xFF) {
            out += char(t.toNarrow[c] >> 8);
            out += char(t.toNarrow[c] & 0xFF);
        } else if (c == 0x20AC) {
            out += "\xA2\xE3";
        } else if (t.wideToFour[c] != Cp936Tables::kNoFour) {
            AppendFourByte(t.wideToFour[c], out);
        } else {
            out += defaultChar;  // a lone surrogate
            usedDefault = true;
        }
    }
}

bool DecodeUtf8(const unsigned char* p, size_t n, bool strict, std::u16string& out) {
    for (size_t i = 0; i < n;) {
        unsigned char b = p[i];
        if (b < 0x80) {
            out += char16_t(b);
            ++i;
            continue;
        }
        int len = 0;
        uint32_t cp = 0, min = 0;
        if (b >= 0xC2 && b <= 0xDF) len = 2, cp = b & 0x1F, min = 0x80;
        else if (b >= 0xE0 && b <= 0xEF) len = 3, cp = b & 0x0F, min = 0x800;
        else if (b >= 0xF0 && b <= 0xF4) len = 4, cp = b & 0x07, min = 0x10000;
        int k = 1;
        if (len) {
            for (; k < len && i + k < n && (p[i + k] & 0xC0) == 0x80; ++k) {
                cp = (cp << 6) | (p[i + k] & 0x3F);
                // Reject overlong, surrogate and out-of-range forms as soon as the second byte shows them.
                if (k == 1 && ((len == 3 && ((b == 0xE0 && p[i + 1] < 0xA0) || (b == 0xED && p[i + 1] > 0x9F))) ||
                               (len == 4 && ((b == 0xF0 && p[i + 1] < 0x90) || (b == 0xF4 && p[i + 1] > 0x8F))))) {
                    break;
                }
            }
        }
        if (!len || k < len || cp < min) {
            if (strict) return false;
            out += char16_t(0xFFFD);  // one replacement for the maximal invalid subpart
            i += size_t(k);  // the lead and the continuation bytes that fitted
            continue;
        }
        AppendCodePoint(cp, out);
        i += size_t(len);
    }
    return true;
}

void EncodeUtf8(const char16_t* w, size_t n, std::string& out) {
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = w[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
}

void Encode936(const char16_t* w, size_t n, const std::string& defaultChar, std::string& out, bool& usedDefault) {
    const Cp936Tables& t = Tables();
    for (size_t i = 0; i < n; ++i) {
        WORD c = w[i] == 0 ? 0 : t.toNarrow[w[i]];
        if (w[i] == 0) {
            out += '\0';
        } else if (!c) {
            out += defaultChar;
            usedDefault = true;
        } else if (c > 0xFF) {
            out += char(c >> 8);
            out += char(c & 0xFF);
        } else {
            out += char(c);
        }
    }
}

bool IsKnown(UINT codePage) { return codePage == 936 || codePage == 54936 || codePage == CP_UTF8; }
bool IsDbcs(UINT codePage) { return codePage == 936 || codePage == 54936; }
bool IsDbcsAcp() { return IsDbcs(GetACP()); }

bool Decode(UINT codePage, const unsigned char* p, size_t n, bool strict, std::u16string& out) {
    if (codePage == CP_UTF8) return DecodeUtf8(p, n, strict, out);
    return codePage == 54936 ? Decode54936(p, n, strict, out) : Decode936(p, n, strict, out);
}

void Encode(UINT codePage, const char16_t* w, size_t n, const std::string& defaultChar, std::string& out, bool& used) {
    if (codePage == CP_UTF8) EncodeUtf8(w, n, out);
    else if (codePage == 54936) Encode54936(w, n, defaultChar, out, used);
    else Encode936(w, n, defaultChar, out, used);
}

// Byte length of the character at s[i]: a lead byte takes the next byte with it unless that is the end.
size_t CharLen(const std::string& s, size_t i) {
    return IsDbcsAcp() && IsLead936(static_cast<unsigned char>(s[i])) && i + 1 < s.size() && s[i + 1] != '\0' ? 2 : 1;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Case mapping that leaves double-byte characters alone.
template <typename Map>
void MapCase(std::string& s, Map map) {
    for (size_t i = 0; i < s.size();) {
        size_t len = CharLen(s, i);
        if (len == 1) s[i] = map(s[i]);
        i += len;
    }
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

// The position of the first single-byte character in set, at or after `from` (a character start).
bool InSet(const std::string& s, size_t i, size_t len, LPCSTR set) {
    return len == 1 && s[i] != '\0' && std::strchr(set, s[i]) != nullptr;
}

}  // namespace

UINT GetACP() { return mxp::config().acp; }

BOOL IsDBCSLeadByteEx(UINT codePage, BYTE testChar) { return IsDbcs(Resolve(codePage)) && IsLead936(testChar); }
BOOL IsDBCSLeadByte(BYTE testChar) { return IsDBCSLeadByteEx(CP_ACP, testChar); }

LPSTR CharNextA(LPCSTR p) {
    if (!p || !*p) return const_cast<LPSTR>(p);
    if (IsDBCSLeadByte(BYTE(*p)) && p[1]) return const_cast<LPSTR>(p + 2);
    return const_cast<LPSTR>(p + 1);
}

int MultiByteToWideChar(UINT codePage, DWORD dwFlags, LPCSTR src, int cbSrc, LPWSTR dst, int cchDst) {
    codePage = Resolve(codePage);
    if (!src || cbSrc == 0 || cbSrc < -1 || cchDst < 0 || (cchDst > 0 && !dst) || !IsKnown(codePage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = cbSrc == -1 ? std::strlen(src) + 1 : size_t(cbSrc);
    std::u16string out;
    out.reserve(n);
    bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
    const auto* p = reinterpret_cast<const unsigned char*>(src);
    bool ok = Decode(codePage, p, n, strict, out);
    if (!ok) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (out.empty()) {
        // Everything was dropped: Windows reports that as a failed translation.
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (cchDst == 0) return int(out.size());
    if (out.size() > size_t(cchDst)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, out.data(), out.size() * sizeof(WCHAR));
    return int(out.size());
}

int WideCharToMultiByte(UINT codePage, DWORD dwFlags, LPCWSTR src, int cchSrc, LPSTR dst, int cbDst,
                        LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    codePage = Resolve(codePage);
    if (!src || cchSrc == 0 || cchSrc < -1 || cbDst < 0 || (cbDst > 0 && !dst) ||
        !IsKnown(codePage) || (codePage == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t n = 0;
    if (cchSrc == -1) {
        while (src[n]) ++n;
        ++n;
    } else {
        n = size_t(cchSrc);
    }
    std::string out;
    out.reserve(n * 2);
    bool used = false;
    std::string def = lpDefaultChar && *lpDefaultChar ? std::string(lpDefaultChar, IsLead936(BYTE(*lpDefaultChar)) && lpDefaultChar[1] ? 2 : 1) : "?";
    Encode(codePage, src, n, def, out, used);
    if (lpUsedDefaultChar) *lpUsedDefaultChar = used;
    if (cbDst == 0) return int(out.size());
    if (out.size() > size_t(cbDst)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, out.data(), out.size());
    return int(out.size());
}

int _mbscmp(const unsigned char* a, const unsigned char* b) {
    int r = std::strcmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b));
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int _mbsicmp(const unsigned char* a, const unsigned char* b) {
    std::string x(reinterpret_cast<const char*>(a)), y(reinterpret_cast<const char*>(b));
    MapCase(x, AsciiLower);
    MapCase(y, AsciiLower);
    return _mbscmp(reinterpret_cast<const unsigned char*>(x.c_str()), reinterpret_cast<const unsigned char*>(y.c_str()));
}

// ---- CString ----

int CString::Compare(LPCSTR psz) const {
    return _mbscmp(reinterpret_cast<const unsigned char*>(m_str.c_str()), reinterpret_cast<const unsigned char*>(psz ? psz : ""));
}

int CString::CompareNoCase(LPCSTR psz) const {
    return _mbsicmp(reinterpret_cast<const unsigned char*>(m_str.c_str()), reinterpret_cast<const unsigned char*>(psz ? psz : ""));
}

CString CString::Mid(int nFirst, int nCount) const {
    if (nFirst < 0) nFirst = 0;
    if (nCount < 0) nCount = 0;
    int len = GetLength();
    if (nFirst >= len) return CString();
    if (nCount > len - nFirst) nCount = len - nFirst;
    return CString(m_str.substr(size_t(nFirst), size_t(nCount)));
}

CString CString::Left(int nCount) const {
    if (nCount < 0) nCount = 0;
    return CString(m_str.substr(0, size_t(nCount)));
}

CString CString::Right(int nCount) const {
    if (nCount < 0) nCount = 0;
    if (nCount >= GetLength()) return *this;
    return CString(m_str.substr(m_str.size() - size_t(nCount)));
}

CString CString::SpanIncluding(LPCSTR set) const {
    size_t i = 0;
    while (i < m_str.size() && set && InSet(m_str, i, CharLen(m_str, i), set)) i += 1;
    return CString(m_str.substr(0, i));
}

CString CString::SpanExcluding(LPCSTR set) const {
    size_t i = 0;
    while (i < m_str.size() && m_str[i] != '\0') {
        size_t len = CharLen(m_str, i);
        if (set && InSet(m_str, i, len, set)) break;
        i += len;
    }
    return CString(m_str.substr(0, i));
}

void CString::MakeUpper() { MapCase(m_str, AsciiUpper); }
void CString::MakeLower() { MapCase(m_str, AsciiLower); }

void CString::MakeReverse() {
    // Reverse by characters, so a double-byte character keeps its byte order.
    std::string out(m_str.size(), '\0');
    size_t end = m_str.size();
    for (size_t i = 0; i < m_str.size();) {
        size_t len = CharLen(m_str, i);
        end -= len;
        m_str.copy(&out[end], len, i);
        i += len;
    }
    m_str.swap(out);
}

int CString::Replace(char chOld, char chNew) {
    int count = 0;
    if (chOld == chNew) return 0;
    for (size_t i = 0; i < m_str.size();) {
        size_t len = CharLen(m_str, i);
        if (len == 1 && m_str[i] == chOld) {
            m_str[i] = chNew;
            ++count;
        }
        i += len;
    }
    return count;
}

int CString::Replace(LPCSTR pszOld, LPCSTR pszNew) {
    if (!pszOld || !*pszOld) return 0;
    std::string old(pszOld), repl(pszNew ? pszNew : ""), out;
    int count = 0;
    for (size_t i = 0; i < m_str.size();) {
        if (m_str.compare(i, old.size(), old) == 0) {
            out += repl;
            i += old.size();
            ++count;
        } else {
            size_t len = CharLen(m_str, i);
            out.append(m_str, i, len);
            i += len;
        }
    }
    if (count) m_str.swap(out);
    return count;
}

int CString::Remove(char ch) {
    std::string out;
    int count = 0;
    for (size_t i = 0; i < m_str.size();) {
        size_t len = CharLen(m_str, i);
        if (len == 1 && m_str[i] == ch) ++count;
        else out.append(m_str, i, len);
        i += len;
    }
    m_str.swap(out);
    return count;
}

int CString::Insert(int nIndex, char ch) { return Insert(nIndex, std::string(1, ch).c_str()); }

int CString::Insert(int nIndex, LPCSTR psz) {
    if (nIndex < 0) nIndex = 0;
    if (nIndex > GetLength()) nIndex = GetLength();
    if (psz) m_str.insert(size_t(nIndex), psz);
    return GetLength();
}

int CString::Delete(int nIndex, int nCount) {
    if (nIndex < 0) nIndex = 0;
    if (nCount > 0 && nIndex < GetLength()) m_str.erase(size_t(nIndex), size_t(nCount));
    return GetLength();
}

void CString::Format(LPCSTR fmt, ...) {
    va_list args;
    va_start(args, fmt);
    FormatV(fmt, args);
    va_end(args);
}

void CString::AppendFormat(LPCSTR fmt, ...) {
    CString tail;
    va_list args;
    va_start(args, fmt);
    tail.FormatV(fmt, args);
    va_end(args);
    m_str += tail.m_str;
}

void CString::FormatV(LPCSTR fmt, va_list args) {
    // Windows spells 64-bit conversions %I64d; the C library spells them %lld.
    std::string f;
    for (const char* p = fmt ? fmt : ""; *p; ++p) {
        f += *p;
        if (*p != '%') continue;
        if (p[1] == '%') {
            f += *++p;
            continue;
        }
        while (p[1] && std::strchr("-+ #0123456789.*", p[1])) f += *++p;
        if (std::strncmp(p + 1, "I64", 3) == 0) {
            f += "ll";
            p += 3;
        }
    }
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, f.c_str(), copy);
    va_end(copy);
    if (n < 0) {
        m_str.clear();
        return;
    }
    std::string out(size_t(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), f.c_str(), args);
    out.resize(size_t(n));
    m_str.swap(out);
}

CString& CString::TrimLeft() {
    size_t i = 0;
    while (i < m_str.size() && IsSpace(m_str[i])) ++i;
    m_str.erase(0, i);
    return *this;
}

CString& CString::TrimLeft(char chTarget) {
    size_t i = 0;
    while (i < m_str.size() && m_str[i] == chTarget && CharLen(m_str, i) == 1) ++i;
    m_str.erase(0, i);
    return *this;
}

CString& CString::TrimLeft(LPCSTR targets) {
    if (!targets) return *this;
    size_t i = 0;
    while (i < m_str.size() && InSet(m_str, i, CharLen(m_str, i), targets)) ++i;
    m_str.erase(0, i);
    return *this;
}

namespace {
// Trims trailing single-byte characters that match; a trail byte of a double-byte character never does.
template <typename Pred>
void TrimTail(std::string& s, Pred match) {
    size_t keep = 0;
    for (size_t i = 0; i < s.size();) {
        size_t len = CharLen(s, i);
        if (!(len == 1 && match(s[i]))) keep = i + len;
        i += len;
    }
    s.resize(keep);
}
}  // namespace

CString& CString::TrimRight() {
    TrimTail(m_str, IsSpace);
    return *this;
}

CString& CString::TrimRight(char chTarget) {
    TrimTail(m_str, [chTarget](char c) { return c == chTarget; });
    return *this;
}

CString& CString::TrimRight(LPCSTR targets) {
    if (targets) TrimTail(m_str, [targets](char c) { return c != '\0' && std::strchr(targets, c) != nullptr; });
    return *this;
}

int CString::Find(char ch, int nStart) const {
    if (nStart < 0) nStart = 0;
    for (size_t i = size_t(nStart); i < m_str.size();) {
        size_t len = CharLen(m_str, i);
        if (len == 1 && m_str[i] == ch) return int(i);
        i += len;
    }
    return -1;
}

int CString::Find(LPCSTR pszSub, int nStart) const {
    if (nStart < 0) nStart = 0;
    if (!pszSub || nStart > GetLength()) return -1;
    size_t subLen = std::strlen(pszSub);
    for (size_t i = size_t(nStart); i + subLen <= m_str.size(); i += CharLen(m_str, i)) {
        if (m_str.compare(i, subLen, pszSub) == 0) return int(i);
        if (i == m_str.size()) break;
    }
    return -1;
}

int CString::ReverseFind(char ch) const {
    int found = -1;
    for (size_t i = 0; i < m_str.size();) {
        size_t len = CharLen(m_str, i);
        if (len == 1 && m_str[i] == ch) found = int(i);
        i += len;
    }
    return found;
}

int CString::FindOneOf(LPCSTR set) const {
    if (!set) return -1;
    for (size_t i = 0; i < m_str.size();) {
        size_t len = CharLen(m_str, i);
        if (InSet(m_str, i, len, set)) return int(i);
        i += len;
    }
    return -1;
}

CString CString::Tokenize(LPCSTR tokens, int& iStart) const {
    if (iStart < 0 || !tokens) {
        iStart = -1;
        return CString();
    }
    size_t i = size_t(iStart);
    while (i < m_str.size() && InSet(m_str, i, CharLen(m_str, i), tokens)) ++i;
    if (i >= m_str.size()) {
        iStart = -1;
        return CString();
    }
    size_t end = i;
    while (end < m_str.size() && !InSet(m_str, end, CharLen(m_str, end), tokens)) end += CharLen(m_str, end);
    iStart = int(end < m_str.size() ? end + 1 : end);
    return CString(m_str.substr(i, end - i));
}

LPSTR CString::GetBuffer(int nMinBufLength) {
    if (nMinBufLength > GetLength()) m_str.resize(size_t(nMinBufLength));
    return &m_str[0];
}

void CString::ReleaseBuffer(int nNewLength) {
    if (nNewLength < 0) nNewLength = int(std::strlen(m_str.c_str()));
    m_str.resize(size_t(nNewLength));
}

LPSTR CString::GetBufferSetLength(int nNewLength) {
    m_str.resize(size_t(nNewLength < 0 ? 0 : nNewLength));
    return &m_str[0];
}

// ---- edge conversions ----

std::string mxp::Utf8ToCodePage(const std::string& utf8, UINT codePage) {
    std::u16string wide;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size(), false, wide);
    std::string out;
    bool used = false;
    Encode(codePage, wide.data(), wide.size(), "?", out, used);
    return out;
}

std::string mxp::CodePageToUtf8(const char* text, size_t length, UINT codePage) {
    size_t ascii = 0;
    while (ascii < length && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
    if (ascii == length) return std::string(text, length);  // the common case of file names
    std::u16string wide;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    Decode(codePage, p, length, false, wide);
    std::string out;
    EncodeUtf8(wide.data(), wide.size(), out);
    return out;
}

CString MxUtf8ToAnsi(const std::string& utf8) { return CString(mxp::Utf8ToCodePage(utf8, GetACP())); }

std::string MxAnsiToUtf8(LPCSTR ansi, int length) {
    if (!ansi) return std::string();
    return mxp::CodePageToUtf8(ansi, length < 0 ? std::strlen(ansi) : size_t(length), GetACP());
}

std::string MxWideToAnsi(const std::u16string& wide) {
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// ---- case folding ----

namespace {

struct FoldRun {
    uint32_t first, last;
    int32_t delta;
    uint32_t step;
};
constexpr FoldRun kFoldRuns[] = {
#include "casefold.inc"
};

uint32_t FoldCodePoint(uint32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    if ((c >= 0x2D00 && c < 0xA640) || (c >= 0xAC00 && c <= 0xD7A3)) return c;  // CJK, kana, Hangul: no case
    size_t lo = 0, hi = sizeof kFoldRuns / sizeof kFoldRuns[0];
    while (lo < hi) {  // the first run that ends at or after c
        size_t mid = (lo + hi) / 2;
        if (kFoldRuns[mid].last < c) lo = mid + 1;
        else hi = mid;
    }
    if (lo == sizeof kFoldRuns / sizeof kFoldRuns[0]) return c;
    const FoldRun& r = kFoldRuns[lo];
    return c >= r.first && (c - r.first) % r.step == 0 ? uint32_t(int64_t(c) + r.delta) : c;
}

// One UTF-8 character at p: its byte length and code point (kNoChar when malformed, length 1).
size_t Utf8Char(const unsigned char* p, size_t n, uint32_t& cp) {
    std::u16string w;
    size_t len = p[0] < 0x80 ? 1 : p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : 2;
    if (len > n || !DecodeUtf8(p, len, true, w)) {
        cp = kNoChar;
        return 1;
    }
    cp = w.size() == 2 ? 0x10000 + ((uint32_t(w[0]) - 0xD800) << 10) + (w[1] - 0xDC00) : w[0];
    return len;
}

// One character of code-page text at p: its byte length and code point (kNoChar when it has none).
size_t CodePageChar(UINT codePage, const unsigned char* p, size_t n, uint32_t& cp) {
    if (p[0] < 0x80) {
        cp = p[0];
        return 1;
    }
    if (codePage == CP_UTF8) return Utf8Char(p, n, cp);
    size_t len = codePage == 54936 ? CharLen54936(p, n, 0) : (IsLead936(p[0]) && n > 1 && p[1] ? 2 : 1);
    cp = kNoChar;
    if (len == 2) {
        WCHAR w = IsTrail936(p[1]) ? Tables().toWide[p[0] - 0x81][p[1] - 0x40] : 0;
        if (w) cp = w;
        return len;
    }
    std::u16string w;
    if (len > 1 && Decode(codePage, p, len, true, w)) {
        cp = w.size() == 2 ? 0x10000 + ((uint32_t(w[0]) - 0xD800) << 10) + (w[1] - 0xDC00) : w[0];
    }
    return len;
}

// Appends the code point in the code page; false when the code page cannot hold it.
bool AppendInCodePage(UINT codePage, uint32_t cp, std::string& out) {
    std::u16string w;
    AppendCodePoint(cp, w);
    std::string bytes;
    bool used = false;
    Encode(codePage, w.data(), w.size(), "?", bytes, used);
    if (used) return false;
    out += bytes;
    return true;
}

}  // namespace

CString MxFoldCase(const CString& text) {
    std::string out = text.str();
    size_t i = 0;
    for (; i < out.size() && static_cast<unsigned char>(out[i]) < 0x80; ++i) {
        if (out[i] >= 'A' && out[i] <= 'Z') out[i] = char(out[i] + 32);
    }
    if (i == out.size()) return CString(std::move(out));
    const std::string& s = text.str();
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    UINT codePage = GetACP();
    out.resize(i);
    while (i < s.size()) {
        uint32_t cp = kNoChar;
        size_t len = CodePageChar(codePage, p + i, s.size() - i, cp);
        uint32_t folded = cp == kNoChar ? cp : FoldCodePoint(cp);
        // Unchanged characters keep their bytes (a few have two spellings).
        if (folded == cp || !AppendInCodePage(codePage, folded, out)) out.append(s, i, len);
        i += len;
    }
    return CString(std::move(out));
}

int MxFindChars(const CString& text, const CString& sub) {
    const std::string& s = text.str();
    const std::string& t = sub.str();
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    UINT codePage = GetACP();
    for (size_t i = 0; i + t.size() <= s.size();) {
        if (s.compare(i, t.size(), t) == 0) return int(i);
        if (codePage == 54936) i += CharLen54936(p, s.size(), i);
        else i += IsDbcs(codePage) ? CharLen(s, i) : 1;  // UTF-8 never matches inside a character
    }
    return -1;
}

bool mxp::Utf8EqualNoCase(const std::string& a, const std::string& b) {
    const auto* p = reinterpret_cast<const unsigned char*>(a.data());
    const auto* q = reinterpret_cast<const unsigned char*>(b.data());
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        uint32_t x = 0, y = 0;
        i += Utf8Char(p + i, a.size() - i, x);
        j += Utf8Char(q + j, b.size() - j, y);
        if (x == kNoChar || y == kNoChar ? p[i - 1] != q[j - 1] || x != y : FoldCodePoint(x) != FoldCodePoint(y)) {
            return false;
        }
    }
    return i == a.size() && j == b.size();
}
