#include <cstring>
#include <string>
#include <vector>

#include "support/TempMachine.h"

namespace {

using mxtest::MachineTest;

// "中" in GBK, and "昞" whose trail byte is '\' (0x5C).
const char kZhong[] = "\xD6\xD0";
const char kBingWithBackslashTrail[] = "\x95\x5C";

std::u16string ToWide(UINT cp, const std::string& bytes, DWORD flags = 0) {
    int n = MultiByteToWideChar(cp, flags, bytes.data(), int(bytes.size()), nullptr, 0);
    std::u16string w(size_t(n > 0 ? n : 0), u'\0');
    if (n > 0) MultiByteToWideChar(cp, flags, bytes.data(), int(bytes.size()), &w[0], n);
    return w;
}

std::string ToNarrow(UINT cp, const std::u16string& w, BOOL* usedDefault = nullptr) {
    int n = WideCharToMultiByte(cp, 0, w.data(), int(w.size()), nullptr, 0, nullptr, usedDefault);
    std::string s(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(cp, 0, w.data(), int(w.size()), &s[0], n, nullptr, usedDefault);
    return s;
}

class TextTest : public MachineTest {};

TEST_F(TextTest, CaseMappingLeavesDoubleByteCharactersAlone) {
    // 0xB0 0x41 is one character whose trail byte happens to be 'A'.
    CString s("abc\xB0\x41z\xB0\x61");
    s.MakeUpper();
    EXPECT_STREQ("ABC\xB0\x41Z\xB0\x61", s);
    s.MakeLower();
    EXPECT_STREQ("abc\xB0\x41z\xB0\x61", s);
}

TEST_F(TextTest, SearchesNeverMatchATrailByte) {
    CString path = CString("C:") + kBingWithBackslashTrail + "\\x";
    EXPECT_EQ(4, path.Find('\\'));
    EXPECT_EQ(4, path.ReverseFind('\\'));
    EXPECT_EQ(-1, CString("\xB0\x41\x42").Find("AB"));
    EXPECT_EQ(1, CString("x\xB0\x41" "AB").Find("AB") - 2);
    EXPECT_EQ(-1, CString("ab\xB0\x41").FindOneOf("A"));
    EXPECT_EQ(1, CString("ab\xB0\x41").FindOneOf("Ab"));
    CString replaced = path;
    EXPECT_EQ(1, replaced.Replace('\\', '/'));
    EXPECT_EQ(CString("C:") + kBingWithBackslashTrail + "/x", replaced);
    CString removed = path;
    EXPECT_EQ(1, removed.Remove('\\'));
    EXPECT_EQ(CString("C:") + kBingWithBackslashTrail + "x", removed);
}

TEST_F(TextTest, TrimmingStopsAtDoubleByteCharacters) {
    CString s("x\xB0\x41");
    s.TrimRight('A');
    EXPECT_STREQ("x\xB0\x41", s);
    CString t(" \t\r\nword \n");
    t.Trim();
    EXPECT_STREQ("word", t);
    CString u("xxaxx");
    u.Trim('x');
    EXPECT_STREQ("a", u);
    CString v("\\\\dir\\\\");
    v.TrimLeft("\\");
    EXPECT_STREQ("dir\\\\", v);
}

struct MidCase {
    int first, count;
    const char* expected;
};

TEST_F(TextTest, MidLeftRightClampLikeMfc) {
    const CString s("abcdef");
    for (const MidCase& c : std::vector<MidCase>{{0, 3, "abc"}, {4, 10, "ef"}, {-2, 2, "ab"}, {6, 1, ""}, {9, 1, ""}, {2, -1, ""}}) {
        EXPECT_STREQ(c.expected, s.Mid(c.first, c.count)) << c.first << "," << c.count;
    }
    EXPECT_STREQ("def", s.Mid(3));
    EXPECT_STREQ("", s.Left(-1));
    EXPECT_STREQ("abcdef", s.Left(99));
    EXPECT_STREQ("ef", s.Right(2));
    EXPECT_STREQ("abcdef", s.Right(99));
}

TEST_F(TextTest, CompareNoCaseFoldsToLowerCase) {
    EXPECT_EQ(0, CString("Tamborinebox").CompareNoCase("TAMBORINEBOX"));
    // Folding to lower case puts '_' (0x5F) before letters, as _mbsicmp does.
    EXPECT_LT(CString("_").CompareNoCase("A"), 0);
    EXPECT_LT(CString("a").Compare("b"), 0);
    EXPECT_GT(CString("\xB0\xA1").Compare("z"), 0);  // bytes compare unsigned
    EXPECT_NE(0, CString("\xB0\x41").CompareNoCase("\xB0\x61"));
}

TEST_F(TextTest, FormatUnderstandsWindowsSixtyFourBitConversions) {
    CString s;
    const char* format = "%I64d|%5s|%%|%I64u";  // not a literal: the compiler's printf check knows no %I64
    s.Format(format, static_cast<long long>(-5000000000LL), "ab", 18000000000ULL);
    EXPECT_STREQ("-5000000000|   ab|%|18000000000", s);
    s.AppendFormat("+%02X", 10);
    EXPECT_STREQ("-5000000000|   ab|%|18000000000+0A", s);
}

TEST_F(TextTest, BufferAccessFollowsMfcRules) {
    CString s("abc");
    char* p = s.GetBuffer(10);
    std::strcpy(p, "hello");
    s.ReleaseBuffer();
    EXPECT_EQ(5, s.GetLength());
    s.GetBuffer(0)[1] = 'a';
    s.ReleaseBuffer(2);
    EXPECT_STREQ("ha", s);
    EXPECT_EQ(4, s.GetBufferSetLength(4) - s.GetBuffer(0) + 4);
}

TEST_F(TextTest, EditingOperations) {
    CString s("a,b,,c");
    int pos = 0;
    std::vector<std::string> tokens;
    for (CString t = s.Tokenize(",", pos); pos != -1; t = s.Tokenize(",", pos)) tokens.push_back(t.str());
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), tokens);
    EXPECT_STREQ("a", s.SpanExcluding(","));
    EXPECT_STREQ("a,", s.SpanIncluding("a,"));
    CString t("abc");
    t.Insert(1, "XY");
    EXPECT_STREQ("aXYbc", t);
    t.Delete(0, 2);
    EXPECT_STREQ("Ybc", t);
    EXPECT_EQ(2, t.Replace("bc", "bcbc") + 1);
    EXPECT_STREQ("Ybcbc", t);
    CString r(CString("ab") + kZhong);
    r.MakeReverse();
    EXPECT_EQ(CString(kZhong) + "ba", r);
}

TEST_F(TextTest, Cp936DecodesAsWindowsDoes) {
    EXPECT_EQ(u"\u4E2D", ToWide(936, kZhong));
    EXPECT_EQ(u"\u20AC", ToWide(936, "\x80"));
    EXPECT_EQ(u"a", ToWide(936, "a\xD6"));           // a dangling lead byte at the end is dropped
    EXPECT_EQ(u"?\x7F", ToWide(936, "\x81\x7F"));    // 0x7F is no trail byte
    EXPECT_EQ(u"\u4E2D", ToWide(CP_ACP, kZhong));     // the system code page is 936
    // With the terminator: the dangling lead byte disappears and the terminator stays.
    WCHAR w[8];
    EXPECT_EQ(2, MultiByteToWideChar(936, 0, "a\xD6", -1, w, 8));
    EXPECT_EQ(u'\0', w[1]);
}

TEST_F(TextTest, ConversionErrorsFollowWin32) {
    WCHAR w[2];
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "a\xD6", 2, w, 2));
    EXPECT_EQ(DWORD(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
    EXPECT_EQ(0, MultiByteToWideChar(936, 0, "abc", 3, w, 2));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(0, MultiByteToWideChar(936, 0, "abc", 0, w, 2));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0, MultiByteToWideChar(1252, 0, "abc", 3, w, 2));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    BOOL used = FALSE;
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"a", 1, nullptr, 0, nullptr, &used));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(TextTest, Utf8DecodingReplacesInvalidSequences) {
    EXPECT_EQ(u"\u4E2D", ToWide(CP_UTF8, "\xE4\xB8\xAD"));
    EXPECT_EQ(u"\xD83D\xDE00", ToWide(CP_UTF8, "\xF0\x9F\x98\x80"));
    EXPECT_EQ(u"\xFFFD" u"a", ToWide(CP_UTF8, "\xE4\xB8" "a"));   // a truncated sequence is one replacement
    EXPECT_EQ(u"\xFFFD\xFFFD", ToWide(CP_UTF8, "\xC0\xAF"));      // overlong
    EXPECT_EQ(u"\xFFFD\xFFFD\xFFFD", ToWide(CP_UTF8, "\xED\xA0\x80"));  // an encoded surrogate
    EXPECT_EQ(u"", ToWide(CP_UTF8, "\xE4\xB8", MB_ERR_INVALID_CHARS));
}

TEST_F(TextTest, EncodingUsesTheDefaultCharacterForUnmappable) {
    BOOL used = FALSE;
    EXPECT_EQ(kZhong, ToNarrow(936, u"\u4E2D", &used));
    EXPECT_FALSE(used);
    EXPECT_EQ("a??", ToNarrow(936, u"a\xD83D\xDE00", &used));  // each code unit of a pair
    EXPECT_TRUE(used);
    EXPECT_EQ("\x80", ToNarrow(936, u"\u20AC"));
    EXPECT_EQ("\xEF\xBF\xBD", ToNarrow(CP_UTF8, u"\xD800"));  // a lone surrogate
    EXPECT_EQ("\xF0\x9F\x98\x80", ToNarrow(CP_UTF8, u"\xD83D\xDE00"));
}

TEST_F(TextTest, EveryDoubleByteCodeDecodesAndReencodesStably) {
    int exact = 0, total = 0;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) continue;
            std::string bytes{char(lead), char(trail)};
            std::u16string w = ToWide(936, bytes);
            ASSERT_EQ(1u, w.size()) << std::hex << lead << " " << trail;
            ASSERT_NE(u'?', w[0]) << std::hex << lead << " " << trail;
            std::string back = ToNarrow(936, w);
            EXPECT_EQ(w, ToWide(936, back));
            exact += back == bytes;
            ++total;
        }
    }
    // A few code points have two GBK spellings; all the others round-trip byte for byte.
    EXPECT_GE(exact, total - 100);
}

TEST_F(TextTest, EdgeConversionsBetweenUtf8AndTheSystemCodePage) {
    EXPECT_EQ(CString(kZhong), MxUtf8ToAnsi("中"));
    EXPECT_EQ("中文", MxAnsiToUtf8("\xD6\xD0\xCE\xC4"));
    EXPECT_EQ(kZhong, CString(CharNextA("a\xD6\xD0")).Left(2));
    EXPECT_TRUE(IsDBCSLeadByte(0xD6));
    EXPECT_FALSE(IsDBCSLeadByte('a'));
}

TEST_F(TextTest, Gb18030IsTheDefaultAndHoldsEveryCharacter) {
    EXPECT_EQ(54936u, GetACP());
    struct Row {
        const char* utf8;
        const char* bytes;  // GB18030; GBK text keeps its bytes
    };
    for (const Row& r : std::vector<Row>{{"中", kZhong}, {"ö", "\x81\x30\x8B\x32"}, {"ß", "\x81\x30\x89\x38"},
                                         {"음", "\x83\x33\x96\x33"}, {"ｶ", "\x84\x31\x97\x38"},
                                         {"😀", "\x94\x39\xFC\x36"}, {"€", "\xA2\xE3"}, {"é", "\xA8\xA6"}}) {
        EXPECT_EQ(r.bytes, MxUtf8ToAnsi(r.utf8).str()) << r.utf8;
        EXPECT_EQ(r.utf8, MxAnsiToUtf8(r.bytes)) << r.utf8;
    }
    EXPECT_EQ(u"?a", ToWide(54936, "\x80" "a"));            // no single-byte euro sign under GB18030
    EXPECT_EQ(u"a", ToWide(54936, "a\x81\x30\x8B"));      // a four-byte character cut short is dropped
    EXPECT_EQ(0, MultiByteToWideChar(54936, MB_ERR_INVALID_CHARS, "\x81\x30", 2, nullptr, 0));
    // Every BMP character but the surrogates has one code, and every code decodes back to it.
    for (uint32_t c = 1; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        std::u16string w(1, char16_t(c));
        BOOL used = FALSE;
        std::string narrow = ToNarrow(54936, w, &used);
        ASSERT_FALSE(used) << std::hex << c;
        ASSERT_EQ(w, ToWide(54936, narrow)) << std::hex << c;
    }
}

TEST_F(TextTest, FourByteCharactersAreTwoLeadTrailPairs) {
    // "ö" is 81 30 8B 32: its digits are never found, and searches step over it whole.
    CString s = MxUtf8ToAnsi("C:\\ö0\\ö2");
    EXPECT_EQ(7, s.Find('0'));
    EXPECT_EQ(8, s.Find('\\', 3));
    EXPECT_EQ(8, s.ReverseFind('\\'));
    EXPECT_EQ(13, s.Find("2"));
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_EQ(s.str().c_str() + 7, CharNextA(CharNextA(s.str().c_str() + 3)));
    CString upper = s;
    upper.MakeUpper();
    EXPECT_EQ(s, upper);  // nothing but digits and pairs
}

TEST_F(TextTest, CaseFoldingFollowsUnicodeSimplePairs) {
    struct Row {
        const char *a, *b;
        bool same;
    };
    for (const char* acp : {"54936", "936", "65001"}) {
        if (std::string(acp) != "54936") machine.SetCodePage(acp);
        for (const Row& r : std::vector<Row>{{"Кино", "кино", true}, {"ＡＢＣ", "ａｂｃ", true}, {"ΣΟΦΟΣ", "σοφοσ", true},
                                             {"Straße", "STRASSE", false}, {"中文ABC", "中文abc", true},
                                             {"Ä", "a", false}, {"ﾅ", "ナ", false}}) {
            EXPECT_EQ(r.same, MxFoldCase(MxUtf8ToAnsi(r.a)) == MxFoldCase(MxUtf8ToAnsi(r.b))) << r.a << " " << acp;
        }
    }
    for (const char* acp : {"54936", "65001"}) {
        machine.SetCodePage(acp);
        EXPECT_EQ(MxUtf8ToAnsi("c:\\άλφα.mp3 motörhead σοφοσ"), MxFoldCase(MxUtf8ToAnsi("C:\\Άλφα.MP3 MOTÖRHEAD σοφος"))) << acp;
    }
}

TEST_F(TextTest, WholeCharacterSearchNeverMatchesAcrossFourByteCharacters) {
    // "ţÀ" is 81 30 95 30 81 30 86 38; its middle bytes spell "😘" (95 30 81 30).
    CString title = MxUtf8ToAnsi("ţÀ");
    EXPECT_EQ(2, title.Find(MxUtf8ToAnsi("😘")));  // the lead/trail rules alone see it
    EXPECT_EQ(-1, MxFindChars(title, MxUtf8ToAnsi("😘")));
    EXPECT_EQ(4, MxFindChars(MxUtf8ToAnsi("ţ😘"), MxUtf8ToAnsi("😘")));
    EXPECT_EQ(0, MxFindChars(title, ""));
}

TEST_F(TextTest, StrictCodePage936ShowsQuestionMarks) {
    machine.SetCodePage("936");
    EXPECT_EQ(936u, GetACP());
    EXPECT_EQ(CString("Mot?rhead"), MxUtf8ToAnsi("Motörhead"));
    EXPECT_EQ(CString("??"), MxUtf8ToAnsi("\xF0\x9F\x98\x80"));
    EXPECT_EQ(CString("\x80"), MxUtf8ToAnsi("€"));
}

TEST(TextUtf8SystemTest, Utf8SystemCodePageHasNoDoubleByteRules) {
    mxtest::TempMachine machine;
    setenv("MX_ACP", "65001", 1);
    MxPlatformReload();
    EXPECT_EQ(65001u, GetACP());
    CString s("\xC3\xA9" "A");  // "é" then 'A'
    s.MakeLower();
    EXPECT_STREQ("\xC3\xA9" "a", s);
    EXPECT_FALSE(IsDBCSLeadByte(0xD6));
    unsetenv("MX_ACP");
    MxPlatformReload();
}

}  // namespace
