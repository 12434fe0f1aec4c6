#include <cstring>
#include <functional>
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

// One string operation and the text or position it must give.
template <typename T>
struct Case {
    const char* what;
    std::function<T()> run;
    T expected;
};
using TextCase = Case<CString>;
using PosCase = Case<int>;

template <typename Fn>
CString Edited(CString s, Fn edit) {
    edit(s);
    return s;
}

class TextTest : public MachineTest {};

TEST_F(TextTest, EditingNeverTouchesATrailByte) {
    // 0xB0 0x41 is one character whose trail byte happens to be 'A'; 昞's trail byte is '\'.
    const CString path = CString("C:") + kBingWithBackslashTrail + "\\x";
    const std::vector<TextCase> cases = {
        {"MakeUpper", [] { return Edited("abc\xB0\x41z\xB0\x61", [](CString& s) { s.MakeUpper(); }); }, "ABC\xB0\x41Z\xB0\x61"},
        {"MakeLower", [] { return Edited("ABC\xB0\x41Z\xB0\x61", [](CString& s) { s.MakeLower(); }); }, "abc\xB0\x41z\xB0\x61"},
        {"Replace", [&] { return Edited(path, [](CString& s) { EXPECT_EQ(1, s.Replace('\\', '/')); }); },
         CString("C:") + kBingWithBackslashTrail + "/x"},
        {"Remove", [&] { return Edited(path, [](CString& s) { EXPECT_EQ(1, s.Remove('\\')); }); },
         CString("C:") + kBingWithBackslashTrail + "x"},
        {"TrimRight", [] { return Edited("x\xB0\x41", [](CString& s) { s.TrimRight('A'); }); }, "x\xB0\x41"},
        {"Trim", [] { return Edited(" \t\r\nword \n", [](CString& s) { s.Trim(); }); }, "word"},
        {"Trim x", [] { return Edited("xxaxx", [](CString& s) { s.Trim('x'); }); }, "a"},
        {"TrimLeft", [] { return Edited("\\\\dir\\\\", [](CString& s) { s.TrimLeft("\\"); }); }, "dir\\\\"},
        {"Replace text", [] { return Edited("Ybc", [](CString& s) { EXPECT_EQ(1, s.Replace("bc", "bcbc")); }); }, "Ybcbc"},
        {"SpanExcluding", [] { return CString("a,b,,c").SpanExcluding(","); }, "a"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(c.expected, c.run()) << c.what;
}

// Searches never match a trail byte, nor the digits of a four-byte character ("ö" is 81 30 8B 32), and
// whole-character search never matches across four-byte characters: "ţÀ" is 81 30 95 30 81 30 86 38, its
// middle bytes spell "😘" (95 30 81 30).
TEST_F(TextTest, SearchesNeverMatchATrailByteOrPartOfACharacter) {
    const CString path = CString("C:") + kBingWithBackslashTrail + "\\x", digits = MxUtf8ToAnsi("C:\\ö0\\ö2");
    const CString title = MxUtf8ToAnsi("ţÀ"), kiss = MxUtf8ToAnsi("😘");
    const std::vector<PosCase> cases = {
        {"Find", [&] { return path.Find('\\'); }, 4},
        {"ReverseFind", [&] { return path.ReverseFind('\\'); }, 4},
        // The last character is 昞: its trail byte is no backslash.
        {"ReverseFind at the end", [] { return (CString("C:\\") + kBingWithBackslashTrail).ReverseFind('\\'); }, 2},
        {"ReverseFind only 昞", [] { return CString(kBingWithBackslashTrail).ReverseFind('\\'); }, -1},
        {"Find text", [] { return CString("\xB0\x41\x42").Find("AB"); }, -1},
        {"Find text after", [] { return CString("x\xB0\x41" "AB").Find("AB"); }, 3},
        {"Find a digit", [&] { return digits.Find('0'); }, 7},
        {"Find from inside", [&] { return digits.Find('\\', 3); }, 8},
        {"ReverseFind past four bytes", [&] { return digits.ReverseFind('\\'); }, 8},
        {"Find a digit as text", [&] { return digits.Find("2"); }, 13},
        {"Find by lead and trail rules alone", [&] { return title.Find(kiss); }, 2},
        {"MxFindChars", [&] { return MxFindChars(title, kiss); }, -1},
        {"MxFindChars after", [&] { return MxFindChars(MxUtf8ToAnsi("ţ😘"), kiss); }, 4},
        {"MxFindChars of nothing", [&] { return MxFindChars(title, ""); }, 0},
    };
    for (const PosCase& c : cases) EXPECT_EQ(c.expected, c.run()) << c.what;
    CString upper = digits;
    upper.MakeUpper();
    EXPECT_EQ(digits, upper);  // nothing but digits and pairs
}

TEST_F(TextTest, MidLeftRightClampLikeMfc) {
    const CString s("abcdef");
    for (const auto& [got, expected] : std::vector<std::pair<CString, const char*>>{
             {s.Mid(0, 3), "abc"}, {s.Mid(4, 10), "ef"}, {s.Mid(-2, 2), "ab"}, {s.Mid(6, 1), ""}, {s.Mid(9, 1), ""}, {s.Mid(2, -1), ""},
             {s.Mid(3), "def"}, {s.Left(-1), ""}, {s.Left(99), "abcdef"}, {s.Right(2), "ef"}, {s.Right(99), "abcdef"}})
        EXPECT_STREQ(expected, got);
}

TEST_F(TextTest, ComparisonsFoldToLowerCaseAndCompareBytesUnsigned) {
    EXPECT_EQ(0, CString("Tamborinebox").CompareNoCase("TAMBORINEBOX"));
    EXPECT_LT(CString("_").CompareNoCase("A"), 0);  // '_' (0x5F) sorts before letters, as _mbsicmp does
    EXPECT_LT(CString("a").Compare("b"), 0);
    EXPECT_GT(CString("\xB0\xA1").Compare("z"), 0);
    EXPECT_NE(0, CString("\xB0\x41").CompareNoCase("\xB0\x61"));
}

TEST_F(TextTest, FormatAndBuffers) {
    CString s;
    const char* format = "%I64d|%5s|%%|%I64u";  // not a literal: the compiler's printf check knows no %I64
    s.Format(format, static_cast<long long>(-5000000000LL), "ab", 18000000000ULL);
    s.AppendFormat("+%02X", 10);
    EXPECT_STREQ("-5000000000|   ab|%|18000000000+0A", s);

    CString b("abc");
    std::strcpy(b.GetBuffer(10), "hello");
    b.ReleaseBuffer();
    EXPECT_EQ(5, b.GetLength());
    b.GetBuffer(0)[1] = 'a';
    b.ReleaseBuffer(2);
    EXPECT_STREQ("ha", b);
    b.GetBufferSetLength(4);
    EXPECT_EQ(4, b.GetLength());
}

TEST_F(TextTest, DecodingFollowsWindows) {
    struct Row {
        UINT cp;
        std::string bytes;
        DWORD flags;
        std::u16string expected;
    };
    const std::vector<Row> rows = {
        {936, kZhong, 0, u"\u4E2D"},
        {CP_ACP, kZhong, 0, u"\u4E2D"},
        {936, "\x80", 0, u"\u20AC"},
        {936, "a\xD6", 0, u"a"},            // a dangling lead byte at the end is dropped
        {936, "\x81\x7F", 0, u"?\x7F"},     // 0x7F is no trail byte
        {54936, "\x80" "a", 0, u"?a"},      // no single-byte euro sign under GB18030
        {54936, "a\x81\x30\x8B", 0, u"a"},  // a four-byte character cut short is dropped
        {CP_UTF8, "\xE4\xB8\xAD", 0, u"\u4E2D"},
        {CP_UTF8, "\xF0\x9F\x98\x80", 0, u"\xD83D\xDE00"},
        {CP_UTF8, "\xE4\xB8" "a", 0, u"\xFFFD" u"a"},            // a truncated sequence is one replacement
        {CP_UTF8, "\xC0\xAF", 0, u"\xFFFD\xFFFD"},               // overlong
        {CP_UTF8, "\xED\xA0\x80", 0, u"\xFFFD\xFFFD\xFFFD"},     // an encoded surrogate
        {CP_UTF8, "\xE4\xB8", MB_ERR_INVALID_CHARS, u""},
    };
    for (const Row& r : rows) EXPECT_EQ(r.expected, ToWide(r.cp, r.bytes, r.flags)) << r.cp << " row " << (&r - rows.data());
    // With the terminator: the dangling lead byte disappears and the terminator stays.
    WCHAR w[8];
    EXPECT_EQ(2, MultiByteToWideChar(936, 0, "a\xD6", -1, w, 8));
    EXPECT_EQ(u'\0', w[1]);
}

TEST_F(TextTest, ConversionErrorsFollowWin32) {
    WCHAR w[2];
    BOOL used = FALSE;
    auto errorOf = [](int result) { return result ? DWORD(0) : GetLastError(); };
    EXPECT_EQ(DWORD(ERROR_NO_UNICODE_TRANSLATION), errorOf(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "a\xD6", 2, w, 2)));
    EXPECT_EQ(DWORD(ERROR_NO_UNICODE_TRANSLATION), errorOf(MultiByteToWideChar(54936, MB_ERR_INVALID_CHARS, "\x81\x30", 2, nullptr, 0)));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), errorOf(MultiByteToWideChar(936, 0, "abc", 3, w, 2)));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), errorOf(MultiByteToWideChar(936, 0, "abc", 0, w, 2)));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), errorOf(MultiByteToWideChar(1252, 0, "abc", 3, w, 2)));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), errorOf(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, nullptr, 0, nullptr, &used)));
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

// GB18030 is the default code page: CaseFoldingFollowsUnicodeSimplePairs checks it first.
TEST_F(TextTest, Gb18030IsTheDefaultAndHoldsEveryCharacter) {
    // GB18030 bytes of UTF-8 text; GBK text keeps its bytes.
    for (const auto& [utf8, bytes] : std::vector<std::pair<const char*, const char*>>{
             {"中", kZhong}, {"ö", "\x81\x30\x8B\x32"}, {"ß", "\x81\x30\x89\x38"}, {"음", "\x83\x33\x96\x33"},
             {"ｶ", "\x84\x31\x97\x38"}, {"😀", "\x94\x39\xFC\x36"}, {"€", "\xA2\xE3"}, {"é", "\xA8\xA6"}}) {
        EXPECT_EQ(bytes, MxUtf8ToAnsi(utf8).str()) << utf8;
        EXPECT_EQ(utf8, MxAnsiToUtf8(bytes)) << utf8;
    }
    EXPECT_TRUE(IsDBCSLeadByte(0xD6) && IsDBCSLeadByte(0x81));
    EXPECT_FALSE(IsDBCSLeadByte('a'));
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

TEST_F(TextTest, CaseFoldingFollowsUnicodeSimplePairs) {
    struct Row {
        const char *a, *b;
        bool same;
    };
    for (const char* acp : {"54936", "936", "65001"}) {
        if (std::string(acp) != "54936") machine.SetCodePage(acp);
        EXPECT_EQ(std::stoul(acp), GetACP());
        EXPECT_EQ(std::string(acp) != "65001", bool(IsDBCSLeadByte(0xD6))) << acp;  // UTF-8 has no lead bytes
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

// Counts live objects, so a test sees every element destroyed.
struct Counted {
    static int live;
    int v;
    Counted(int x = 0) : v(x) { ++live; }  // NOLINT(google-explicit-constructor)
    Counted(const Counted& o) : v(o.v) { ++live; }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --live; }
    bool operator==(const Counted& o) const { return v == o.v; }
};
int Counted::live = 0;

template <class L>
std::vector<int> Values(const L& list) {
    std::vector<int> out;
    for (POSITION pos = list.GetHeadPosition(); pos;) out.push_back(list.GetNext(pos).v);
    return out;
}

TEST(CListTest, PositionsInsertRemoveAndFind) {
    {
        CList<Counted, const Counted&> list(10);
        list.AddTail(2);
        list.AddHead(1);
        POSITION three = list.AddTail(3);
        list.InsertBefore(three, Counted(25));
        list.InsertAfter(three, Counted(4));
        EXPECT_EQ((std::vector<int>{1, 2, 25, 3, 4}), Values(list));
        list.RemoveAt(list.Find(Counted(25)));
        EXPECT_EQ(nullptr, list.Find(Counted(25)));
        EXPECT_EQ(3, list.GetAt(list.FindIndex(2)).v);
        EXPECT_EQ(nullptr, list.FindIndex(4));
        EXPECT_EQ(1, list.RemoveHead().v);
        EXPECT_EQ(4, list.RemoveTail().v);
        EXPECT_EQ((std::vector<int>{2, 3}), Values(list));
        POSITION pos = list.GetTailPosition();
        EXPECT_EQ(3, list.GetPrev(pos).v);
        EXPECT_EQ(2, list.GetPrev(pos).v);
        EXPECT_EQ(nullptr, pos);
        EXPECT_EQ(2, Counted::live);
    }
    EXPECT_EQ(0, Counted::live);
}

TEST(CMapTest, IteratesBucketByBucketNewestFirstLikeMfcAndLooksUpSetsAndRemoves) {
    CMap<int, int, int, int> map;
    map.InitHashTable(17);
    EXPECT_EQ(nullptr, map.GetStartPosition());
    // 1, 2 and 3 share bucket 0 (key >> 4); 16 and 17 are in bucket 1.
    for (int k : {1, 16, 2, 17}) map[k] = k * 10;
    map.SetAt(3, 30);
    std::vector<int> order;
    for (POSITION pos = map.GetStartPosition(); pos;) {
        int k = 0, v = 0;
        map.GetNextAssoc(pos, k, v);
        EXPECT_EQ(k * 10, v);
        order.push_back(k);
    }
    EXPECT_EQ((std::vector<int>{3, 2, 1, 17, 16}), order);
    int v = 0;
    EXPECT_TRUE(map.Lookup(2, v));
    EXPECT_EQ(20, v);
    EXPECT_FALSE(map.Lookup(4, v));
    EXPECT_TRUE(map.RemoveKey(2));
    EXPECT_FALSE(map.RemoveKey(2));
    EXPECT_EQ(4, map.GetCount());
    EXPECT_EQ(0, map[99]);
}

}  // namespace
