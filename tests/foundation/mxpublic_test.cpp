#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/AudioBuilders.h"
#include "support/PeBuilder.h"
#include "support/TempMachine.h"

namespace {

using mxtest::Gbk;
using mxtest::WriteHostFile;

struct TextCase {
    std::string in, out;
};

class MxPublicTest : public mxtest::MachineTest {};

// URL encoding escapes every byte outside the safe set; decoding keeps malformed escapes; UTF-8 in
// percent escapes becomes code-page text.
TEST_F(MxPublicTest, PercentCodingsOfSafeUnsafeAndMalformedText) {
    using Coding = CString (*)(CString);
    const Coding encode = [](CString s) { return CMxPublic::URLEncode(s); }, decode = [](CString s) { return CMxPublic::URLDecode(s); },
                 toGbk = [](CString s) { return CMxPublic::UTF82GBDecode(s); };
    const std::vector<std::tuple<Coding, std::string, std::string>> cases = {
        {encode, "A-Z_0.9", "A-Z_0.9"}, {encode, "a b/c", "a%20b%2Fc"}, {encode, "!$()*,-._", "!$()*,-._"},
        {encode, "+:=&%~'", "%2B%3A%3D%26%25%7E%27"}, {encode, "\xD6\xD0", "%D6%D0"},
        {encode, std::string("\0x", 2), ""},  // a CString ends at its zero byte
        {decode, "a+b%2", "a b%2"}, {decode, "%4G", "%4G"}, {decode, "%41", "A"}, {decode, "%", "%"}, {decode, "%%41", "%A"},
        {decode, "%e4%B8%ad", "\xE4\xB8\xAD"},
        {toGbk, "%E4%B8%AD", "\xD6\xD0"}, {toGbk, "a%20b", "a b"}, {toGbk, "%E4%B8%AD%4", "\xD6\xD0"},  // a final %4 is dropped
        {toGbk, "%ZZx", "x"},                 // two bytes that do not parse are skipped anyway
        {toGbk, "\xE4\xB8\xAD", "\xD6\xD0"},  // raw UTF-8 passes the percent step
        {toGbk, "%F0%9F%98%80", "\x94\x39\xFC\x36"},  // a four-byte character of GB18030
        {toGbk, std::string(300, 'a'), ""},
    };
    for (const auto& [coding, in, out] : cases) EXPECT_EQ(out, coding(CString(in.c_str())).str()) << in;
    std::string all;
    for (int b = 1; b < 256; ++b) all += char(b);
    EXPECT_EQ(all, CMxPublic::URLDecode(CMxPublic::URLEncode(CString(all.c_str()))).str());
}

TEST_F(MxPublicTest, HexDigitsAndWebLinks) {
    for (const auto& h : std::vector<std::pair<char, int>>{{'0', 0}, {'f', 15}, {'A', 10}, {'g', -1}}) EXPECT_EQ(h.second, CMxPublic::HexDigit(h.first)) << h.first;
    const std::vector<std::pair<const char*, int>> links = {
        {"C:\\x", 0}, {"a:\\x", 0}, {"z:\\x", 0}, {"  C:\\x", 0}, {"ab", 0}, {"  ab", 0},
        {"http://example.org/a.mp3", 1}, {"\\\\server\\share", 1}, {"1:\\x", 1},
    };
    for (const auto& l : links) EXPECT_EQ(l.second, CMxPublic::IsWebLink(l.first)) << l.first;
}

TEST_F(MxPublicTest, CaseBlindComparisons) {
    EXPECT_EQ(0, CMxPublic::MemCmpNoCase("ABC", "abd", 2));
    EXPECT_EQ(-1, CMxPublic::MemCmpNoCase("ABC", "abd", 3));
    EXPECT_EQ(0, CMxPublic::MemCmpNoCase("x", "y", 0));
    EXPECT_EQ(2, CMxPublic::FindNoCase("a\\Song.MP3", "song"));
    EXPECT_EQ(-1, CMxPublic::FindNoCase("\xB0\x61", "A"));  // the trail byte of a character is no letter
    EXPECT_EQ(2, CMxPublic::FindNoCase(Gbk("中a"), "A"));
}

TEST_F(MxPublicTest, CheckStringValidTailDropsOnlyTheDanglingLeadByte) {
    // "中" and half of the next character; whole text; a lone lead byte.
    for (const TextCase& c : std::vector<TextCase>{{"\xD6\xD0\xB9", "\xD6\xD0"}, {"\xD6\xD0" "ab", "\xD6\xD0" "ab"}, {"ab\xD6", "ab"}, {"\xD6", ""}}) {
        std::string buffer = c.in;
        CMxPublic::CheckStringValidTail(&buffer[0], int(buffer.size()));
        EXPECT_STREQ(c.out.c_str(), buffer.c_str()) << c.in;
        CString s(c.in.c_str());
        CMxPublic::CheckStringValidTail(s);
        EXPECT_EQ(c.out, s.str()) << c.in;
    }
}

TEST_F(MxPublicTest, FileMd5AgreesWithMd5sumAtChunkBoundariesAndRespectsExclusiveHolders) {
    std::string pattern(204800, '\0');
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = char((i * 7919) >> 3);
    for (const std::string& bytes : {std::string(), std::string("abc"), std::string(1000000, 'a'), pattern.substr(0, 102399),
                                     pattern.substr(0, 102400), pattern.substr(0, 102401), pattern}) {
        WriteHostFile(machine.HostC("f.bin"), bytes);
        std::string expected = mxtest::RunCommand("md5sum '" + machine.HostC("f.bin") + "'").substr(0, 32);
        CString upper(expected.c_str());
        upper.MakeUpper();
        EXPECT_EQ(upper, CMxPublic::GetFileMD5("c:\\F.BIN")) << bytes.size();
    }
    EXPECT_STREQ("", CMxPublic::GetFileMD5("C:\\missing.mp3"));
    EXPECT_EQ(0u, CMxPublic::GetFileLen("C:\\missing.mp3"));
    CMxFile holder;
    ASSERT_TRUE(holder.Open("C:\\f.bin", 0x8002));  // compatibility mode: exclusive
    EXPECT_STREQ("", CMxPublic::GetFileMD5("C:\\f.bin"));
    EXPECT_EQ(0u, CMxPublic::GetFileLen("C:\\f.bin"));
    holder.Close();
    EXPECT_EQ(204800u, CMxPublic::GetFileLen("C:\\f.bin"));
}

TEST(MemoryManagerTest, TracksBlocksAndAddressesInside) {
    CMemoryManager mm;
    EXPECT_EQ(nullptr, mm.Allocate(0));
    EXPECT_EQ(nullptr, mm.Allocate(-4));
    char* a = mm.Allocate(100);
    char* b = mm.Allocate(10);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(100, mm.GetRemainSize(a));
    EXPECT_EQ(1, mm.GetRemainSize(a + 99));
    EXPECT_EQ(99, mm.GetOffset(a + 99));
    EXPECT_EQ(3, mm.GetOffset(b + 3));
    char outside = 0;
    EXPECT_EQ(-1, mm.GetRemainSize(&outside));
}

class MxFileTest : public mxtest::MachineTest {};

TEST_F(MxFileTest, MemoryImageReadsAndSeeksWithoutBoundCheckAndRefusesDiskOperations) {
    const char bytes[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    CMxFile f(bytes, 10);
    char buf[8] = {};
    EXPECT_EQ(4u, f.Read(buf, 4));
    EXPECT_EQ(std::string("0123"), std::string(buf, 4));
    EXPECT_EQ(8, f.Seek(8, CFile::begin));
    EXPECT_EQ(2u, f.Read(buf, 4));
    EXPECT_EQ(std::string("89"), std::string(buf, 2));
    EXPECT_EQ(-1, f.Seek(0, CFile::current));
    EXPECT_EQ(10u, f.GetPosition());
    EXPECT_EQ(15, f.Seek(5, CFile::end));  // past the end: later reads give nothing
    EXPECT_EQ(0u, f.Read(buf, 1));
    EXPECT_EQ(10u, f.SeekToEnd());
    EXPECT_FALSE(f.Open("C:\\x.bin", 0x9002));
    EXPECT_FALSE(mxtest::HostExists(machine.HostC("x.bin")));
    f.Write("zz", 2);
    f.SetLength(0);
    f.Close();
    CString line;
    EXPECT_FALSE(f.ReadString(line));
    EXPECT_EQ(nullptr, f.ReadString(buf, 4));
    EXPECT_EQ(nullptr, f.Duplicate());
    f.SeekToBegin();
    EXPECT_EQ(8u, f.ReadHuge(buf, 8));  // the image is still readable
    EXPECT_EQ(std::string("01234567"), std::string(buf, 8));
    EXPECT_EQ(10u, f.GetLength());
}

TEST_F(MxFileTest, FailuresAreResultsNotExceptions) {
    CMxFile f;
    EXPECT_FALSE(f.Open("C:\\no\\such\\folder\\a.smdb", 0x9002));
    EXPECT_EQ(DWORD(-1), f.GetLength());
    EXPECT_EQ(DWORD(-1), f.GetPosition());
    EXPECT_EQ(-1, f.Seek(0, CFile::begin));
    char buf[4];
    EXPECT_EQ(0u, f.Read(buf, 4));
    EXPECT_EQ(DWORD(-1), f.ReadHuge(buf, 4));
    f.Write("x", 1);
    f.Flush();
    f.Close();
    ASSERT_TRUE(f.Open("C:\\a.bin", 0x9002));
    EXPECT_EQ(-1, f.Seek(-5, CFile::begin));
    EXPECT_EQ(nullptr, f.Duplicate());
    f.UnlockRange(0, 1);  // never locked: swallowed
    CMxFile::Remove("C:\\missing.bin");
    CMxFile::Rename("C:\\missing.bin", "C:\\other.bin");
    CFileStatus st{};
    CMxFile::SetStatus("C:\\missing.bin", st);
}

// The log decides once per process whether it is on, so each case runs in a child process.
class MxLogTest : public mxtest::MachineTest {};

TEST_F(MxLogTest, WithoutTheRegistryValueLogWritesNothing) {
    std::string root = machine.root();
    EXPECT_EXIT(
        {
            CMxLog::Instance()->Log("nothing");
            bool same = CMxLog::Instance() == CMxLog::Instance();
            std::exit(same && !mxtest::HostExists(root + "/c/log.txt") ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(MxLogTest, LogAppendsEachTextAsAWholeLineAlsoFromConcurrentWriters) {
    std::string root = machine.root();
    mxtest::WriteHostFile(machine.HostC("logs/mx.log"), "old\r\n");
    registry_string<std::string>("SOFTWARE\\Tamborinebox\\Setting\\MxLogFile", HKEY_CURRENT_USER) = "C:\\LOGS\\mx.log";
    EXPECT_EXIT(
        {
            CMxLog::Instance()->Log("first");
            // Each line is on disk as soon as Log returns.
            bool flushed = mxtest::ReadHostFile(root + "/c/logs/mx.log") == "old\r\nfirst\r\n";
            CMxLog::Instance()->Log(mxtest::Gbk("第二"));
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t) {
                threads.emplace_back([t] {
                    for (int i = 0; i < 200; ++i) CMxLog::Instance()->Log(CString(std::string(40, char('a' + t)).c_str()));
                });
            }
            for (std::thread& th : threads) th.join();
            std::_Exit(flushed ? 0 : 1);  // no flushing of streams at exit
        },
        ::testing::ExitedWithCode(0), "");
    // Text mode: the line feed reaches the disk as CR LF, as on the target system.
    const std::string head = "old\r\nfirst\r\n" + std::string(mxtest::Gbk("第二").str()) + "\r\n";
    std::string text = mxtest::ReadHostFile(machine.HostC("logs/mx.log"));
    ASSERT_EQ(head, text.substr(0, head.size()));
    size_t lines = 0;
    for (size_t pos = head.size(); pos < text.size(); pos += 42, ++lines) {
        ASSERT_EQ(std::string(40, text[pos]) + "\r\n", text.substr(pos, 42));
    }
    EXPECT_EQ(800u, lines);
}

// The audio checks the playlist readers use are protected; the tests reach them through a subclass.
struct PublicProbe : CMxPublic {
    using CMxPublic::CheckDownloadPathInfo;
    using CMxPublic::CheckValidFile;
};

std::vector<std::string> Items(const CList<CString, CString>& list) {
    std::vector<std::string> out;
    for (POSITION pos = list.GetHeadPosition(); pos;) out.push_back(list.GetNext(pos).str());
    return out;
}

TEST_F(MxPublicTest, ProgramVersionsAreFourNumbersOrEmpty) {
    WriteHostFile(machine.HostC("app.exe"), mxtest::VersionedPe(0x00020001, 0x0000000F, 0x00030000, 0xFFFF0007));
    WriteHostFile(machine.HostC("notes.txt"), "not a program");
    EXPECT_STREQ("2.1.0.15", CMxPublic::GetExeVersion("C:\\app.exe"));
    EXPECT_STREQ("3.0.65535.7", CMxPublic::GetInternalProductVersion("C:\\app.exe"));
    for (const char* path : {"C:\\notes.txt", "C:\\absent.exe", ""}) {
        EXPECT_STREQ("", CMxPublic::GetExeVersion(path)) << path;
        EXPECT_STREQ("", CMxPublic::GetInternalProductVersion(path)) << path;
    }
}

TEST_F(MxPublicTest, FoldersHoldingOnlyHiddenEntriesCountAsEmpty) {
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {{{}, 1}, {{".hidden"}, 1}, {{".cache/"}, 1}, {{".hidden", "a.txt"}, 0}, {{"sub/"}, 0}};
    int n = 0;
    for (const auto& [entries, empty] : cases) {
        std::string folder = "e" + std::to_string(n++);
        mkdir(machine.HostC(folder).c_str(), 0777);
        for (const std::string& e : entries)
            if (e.back() == '/') mkdir(machine.HostC(folder + "/" + e).c_str(), 0777); else WriteHostFile(machine.HostC(folder + "/" + e), "x");
        EXPECT_EQ(empty, CMxPublic::IsEmptyDirectory(CString("C:\\") + folder.c_str())) << folder;
    }
    EXPECT_EQ(1, CMxPublic::IsEmptyDirectory("C:\\absent"));
}

TEST_F(MxPublicTest, RemovingAFolderAndItsParentsStopsAtTheTop) {
    auto make = [this] { for (const char* d : {"A", "A/B", "A/B/C"}) mkdir(machine.HostC(d).c_str(), 0777); };
    make();
    EXPECT_EQ(1, CMxPublic::RemoveMultiDirectory("C:\\A", "C:\\A\\B\\C"));
    EXPECT_TRUE(mxtest::HostExists(machine.HostC("A")));
    EXPECT_FALSE(mxtest::HostExists(machine.HostC("A/B")));
    make();
    EXPECT_EQ(1, CMxPublic::RemoveMultiDirectory("c:\\a", "C:\\A\\B\\C"));  // the top compares without case
    EXPECT_FALSE(mxtest::HostExists(machine.HostC("A/B")));
    make();
    WriteHostFile(machine.HostC("A/B/keep.txt"), "x");
    EXPECT_EQ(0, CMxPublic::RemoveMultiDirectory("C:\\A", "C:\\A\\B\\C"));  // B is not empty: it stays
    EXPECT_TRUE(mxtest::HostExists(machine.HostC("A/B/keep.txt")));
    EXPECT_FALSE(mxtest::HostExists(machine.HostC("A/B/C")));
    EXPECT_EQ(0, CMxPublic::RemoveMultiDirectory("A", "A\\B"));  // no drive
}

TEST_F(MxPublicTest, ShellFoldersLoseTheirTrailingSeparatorAndUnknownOnesGiveTheProgramFolder) {
    setenv("MX_FOLDER_MUSIC", "C:\\My Music\\", 1);
    setenv("MX_DRIVES", ("C:=" + machine.HostC() + ";Z:=/").c_str(), 1);
    MxPlatformReload();
    EXPECT_STREQ("C:\\My Music", CMxPublic::GetMusicBoxDir(CSIDL_MYMUSIC));
    char module[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, module, MAX_PATH), 0u);
    std::string folder = module;
    EXPECT_EQ(folder.substr(0, folder.rfind('\\')), CMxPublic::GetMusicBoxDir(0x25).str());
}

// Fixed drives on any bus but USB are local; removable, network and unknown drives are not.
TEST_F(MxPublicTest, LocalDrivesAreFixedAndNotOnUsb) {
    const std::string d = machine.HostD();
    setenv("MX_DRIVES", ("C:=" + machine.HostC() + ",fixed,sata;D:=" + d + ",removable,usb;E:=" + d + ",fixed,usb;F:=" + d +
                         ",fixed,nvme;G:=" + d + ",removable,sata;N:=" + d + ",network").c_str(), 1);
    MxPlatformReload();
    const std::vector<std::pair<const char*, int>> cases = {{"C:", 1}, {"c:\\music", 1}, {"D:", 0}, {"E:", 0}, {"F:", 1}, {"G:", 0}, {"N:", 0}, {"Q:", 0}, {"", 0}};
    for (const auto& [drive, local] : cases) EXPECT_EQ(local, CMxPublic::IsLocalDriver(drive)) << drive;
}

// Keywords match case-sensitively: "MUSIC" is listed and not entered, "Music" is searched further.
// Only local drives are searched, and links are not followed.
TEST_F(MxPublicTest, MusicFoldersAreFoundByCaseSensitiveKeywords) {
    for (const char* d : {"a", "a/MUSIC", "a/MUSIC/SONG", "b", "b/Music", "b/Music/Rock SONG", "c", "c/我的音乐", "songs", "songs/x"}) mkdir(machine.HostC(d).c_str(), 0777);
    WriteHostFile(machine.HostC("songs/ALBUM.mp3"), "x");  // a file, not a folder
    mkdir(machine.HostD("MUSIC").c_str(), 0777);          // D: is removable
    ASSERT_EQ(0, symlink(machine.HostC().c_str(), machine.HostC("loop").c_str()));
    CList<CString, CString> list;
    list.AddTail("stale");
    CMxPublic::GetNeedSearchPaths(&list);
    const std::vector<std::string> expected = {"C:\\users\\tester\\Desktop", "C:\\users\\tester\\Music", "C:\\a\\MUSIC",
                                               "C:\\b\\Music\\Rock SONG", "C:\\c\\" + Gbk("我的音乐").str()};
    EXPECT_EQ(expected, Items(list));
    CMxPublic::GetNeedSearchPaths(nullptr);
}

TEST_F(MxPublicTest, AudioFilesAreRecognisedByContentAtAnyDepth) {
    const std::string mp3 = mxtest::Frames(mxtest::Mpeg1Layer3Header128(), 417, 3);
    WriteHostFile(machine.HostC("dl/a.mp3"), mp3);
    WriteHostFile(machine.HostC("dl/fake.mp3"), "abc");
    WriteHostFile(machine.HostC("dl/x/y/b.MP3"), mp3);
    WriteHostFile(machine.HostC("dl/x/notes.txt"), mp3);
    mkdir(machine.HostC("dl/dir.mp3").c_str(), 0777);
    const std::vector<std::pair<const char*, int>> files = {{"C:\\dl\\a.mp3", 1}, {"C:\\dl\\fake.mp3", 0}, {"C:\\dl\\x\\notes.txt", 0}, {"C:\\dl\\dir.mp3", 0}, {"C:\\dl\\none.mp3", 0}};
    for (const auto& [path, valid] : files) EXPECT_EQ(valid, PublicProbe::CheckValidFile(path)) << path;
    DWORD count = 5;
    PublicProbe::CheckDownloadPathInfo("C:\\dl", count);
    EXPECT_EQ(7u, count);  // added to what was there
}

}  // namespace
