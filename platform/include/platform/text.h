// Narrow text as MFC keeps it: CString holds bytes in the system code page (54936, GB18030, unless MX_ACP
// says otherwise), and the code-page conversions of Win32 with 16-bit WCHAR.
//
// Searching, trimming and case mapping are multibyte-aware under a double-byte code page (936 and 54936):
// a lead byte (0x81-0xFE) and the byte after it form one character, which is never case-mapped and never
// matched from its middle (a GBK trail byte may be '\' or an ASCII letter). A GB18030 four-byte character
// is two such pairs; its second and fourth bytes are digits.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/windef.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

// The system code page (MX_ACP: 54936 by default, 936 or 65001).
UINT GetACP();
BOOL IsDBCSLeadByte(BYTE testChar);
BOOL IsDBCSLeadByteEx(UINT codePage, BYTE testChar);
// The next character of a narrow string in the system code page; stays on the terminating zero.
LPSTR CharNextA(LPCSTR lpsz);

int MultiByteToWideChar(UINT codePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);
int WideCharToMultiByte(UINT codePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

// Byte comparison (_mbscmp) and comparison with ASCII letters folded to lower case outside double-byte
// characters (_mbsicmp).
int _mbscmp(const unsigned char* a, const unsigned char* b);
int _mbsicmp(const unsigned char* a, const unsigned char* b);

class CString {
public:
    CString() = default;
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString(LPCSTR psz) : m_str(psz ? psz : "") {}  // NOLINT(google-explicit-constructor): MFC converts implicitly
    CString(LPCSTR pch, int nLength) : m_str(pch ? pch : "", pch && nLength > 0 ? size_t(nLength) : 0) {}
    CString(const unsigned char* psz) : CString(reinterpret_cast<LPCSTR>(psz)) {}  // NOLINT
    explicit CString(char ch, int nRepeat = 1) : m_str(nRepeat > 0 ? size_t(nRepeat) : 0, ch) {}
    ~CString() = default;

    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(LPCSTR psz) {
        m_str.assign(psz ? psz : "");
        return *this;
    }
    CString& operator=(char ch) {
        m_str.assign(1, ch);
        return *this;
    }

    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    char GetAt(int nIndex) const { return m_str[size_t(nIndex)]; }
    void SetAt(int nIndex, char ch) { m_str[size_t(nIndex)] = ch; }
    char operator[](int nIndex) const { return m_str[size_t(nIndex)]; }
    operator LPCSTR() const { return m_str.c_str(); }  // NOLINT(google-explicit-constructor)

    CString& operator+=(const CString& s) {
        m_str += s.m_str;
        return *this;
    }
    CString& operator+=(LPCSTR psz) {
        if (psz) m_str += psz;
        return *this;
    }
    CString& operator+=(char ch) {
        m_str += ch;
        return *this;
    }
    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_str + b.m_str); }
    friend CString operator+(const CString& a, LPCSTR b) { return CString(a.m_str + (b ? b : "")); }
    friend CString operator+(LPCSTR a, const CString& b) { return CString((a ? a : "") + b.m_str); }
    friend CString operator+(const CString& a, char b) { return CString(a.m_str + b); }
    friend CString operator+(char a, const CString& b) { return CString(a + b.m_str); }

    // Byte order comparison: <0, 0, >0.
    int Compare(LPCSTR psz) const;
    int CompareNoCase(LPCSTR psz) const;
    int Collate(LPCSTR psz) const { return Compare(psz); }
    int CollateNoCase(LPCSTR psz) const { return CompareNoCase(psz); }

    CString Mid(int nFirst) const { return Mid(nFirst, GetLength() - nFirst); }
    CString Mid(int nFirst, int nCount) const;
    CString Left(int nCount) const;
    CString Right(int nCount) const;
    CString SpanIncluding(LPCSTR pszCharSet) const;
    CString SpanExcluding(LPCSTR pszCharSet) const;

    void MakeUpper();
    void MakeLower();
    void MakeReverse();

    int Replace(char chOld, char chNew);
    int Replace(LPCSTR pszOld, LPCSTR pszNew);
    int Remove(char ch);
    int Insert(int nIndex, char ch);
    int Insert(int nIndex, LPCSTR psz);
    int Delete(int nIndex, int nCount = 1);

    void Format(LPCSTR pszFormat, ...) __attribute__((format(printf, 2, 3)));
    void AppendFormat(LPCSTR pszFormat, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(LPCSTR pszFormat, va_list args);

    // Without arguments these remove white space (space, \t, \n, \v, \f, \r).
    CString& TrimLeft();
    CString& TrimLeft(char chTarget);
    CString& TrimLeft(LPCSTR pszTargets);
    CString& TrimRight();
    CString& TrimRight(char chTarget);
    CString& TrimRight(LPCSTR pszTargets);
    CString& Trim() { return TrimRight().TrimLeft(); }
    CString& Trim(char chTarget) { return TrimRight(chTarget).TrimLeft(chTarget); }
    CString& Trim(LPCSTR pszTargets) { return TrimRight(pszTargets).TrimLeft(pszTargets); }

    // Indexes are byte offsets of character starts; -1 when not found.
    int Find(char ch) const { return Find(ch, 0); }
    int Find(char ch, int nStart) const;
    int Find(LPCSTR pszSub) const { return Find(pszSub, 0); }
    int Find(LPCSTR pszSub, int nStart) const;
    int ReverseFind(char ch) const;
    int FindOneOf(LPCSTR pszCharSet) const;
    // Next token delimited by any of pszTokens, starting at iStart; iStart becomes -1 after the last one.
    CString Tokenize(LPCSTR pszTokens, int& iStart) const;

    // A writable buffer of at least nMinBufLength bytes plus a terminating zero; ReleaseBuffer(-1)
    // takes the length up to the first zero byte.
    LPSTR GetBuffer(int nMinBufLength = 0);
    void ReleaseBuffer(int nNewLength = -1);
    LPSTR GetBufferSetLength(int nNewLength);
    void FreeExtra() { m_str.shrink_to_fit(); }

    // Not MFC: direct access for the platform layer and tests.
    const std::string& str() const { return m_str; }
    explicit CString(std::string s) : m_str(std::move(s)) {}

private:
    std::string m_str;
};

inline bool operator==(const CString& a, const CString& b) { return a.str() == b.str(); }
inline bool operator==(const CString& a, LPCSTR b) { return a.Compare(b) == 0; }
inline bool operator==(LPCSTR a, const CString& b) { return b.Compare(a) == 0; }
inline bool operator!=(const CString& a, const CString& b) { return !(a == b); }
inline bool operator!=(const CString& a, LPCSTR b) { return !(a == b); }
inline bool operator!=(LPCSTR a, const CString& b) { return !(a == b); }
inline bool operator<(const CString& a, const CString& b) { return a.Compare(b) < 0; }
inline bool operator>(const CString& a, const CString& b) { return a.Compare(b) > 0; }
inline bool operator<=(const CString& a, const CString& b) { return a.Compare(b) <= 0; }
inline bool operator>=(const CString& a, const CString& b) { return a.Compare(b) >= 0; }

// Edge conversions for the front end and the host file system (not Win32): UTF-8 <-> system code page.
// Characters the code page cannot hold become '?', invalid UTF-8 becomes U+FFFD first.
CString MxUtf8ToAnsi(const std::string& utf8);
std::string MxAnsiToUtf8(LPCSTR ansi, int length = -1);
// UTF-16 text in the system code page (WideCharToMultiByte with CP_ACP, without the size pass by hand).
std::string MxWideToAnsi(const std::u16string& wide);

// Not Win32: text in the system code page folded by Unicode's simple case pairs, the way NTFS compares
// names and a user's search ignores case ("КИНО" and "кино", "ΆΛΦΑ" and "άλφα" fold alike). A folded
// character the code page cannot hold keeps its bytes. ASCII text takes one pass.
CString MxFoldCase(const CString& text);
// The byte offset of sub in text, or -1: tried at whole characters only, so a GB18030 four-byte
// character is never matched from its middle.
int MxFindChars(const CString& text, const CString& sub);
