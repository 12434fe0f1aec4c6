#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "MxModule/foundation/RegistryValue.h"
#include "platform/drives.h"
#include "platform/testhooks.h"
#include "platform/version.h"
#include "support/PeBuilder.h"
#include "support/TempMachine.h"

namespace {

using mxtest::Gbk;
using mxtest::HostExists;
using mxtest::ReadHostFile;
using mxtest::RunCommand;
using mxtest::WriteHostFile;

// The Windows error a failed call left, or 0 when it succeeded.
DWORD Err(BOOL ok) { return ok ? 0 : GetLastError(); }
DWORD AttrErr(const CString& path) { return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0; }
DWORD FindErr(const CString& pattern) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    return h == INVALID_HANDLE_VALUE ? GetLastError() : DWORD(!FindClose(h));
}

// The cause of the CFileException* that fn throws (freed here), or -1 when it throws none.
template <typename Fn>
int CauseOf(Fn fn) {
    try {
        fn();
    } catch (CFileException* e) {
        int cause = e->m_cause;
        e->Delete();
        return cause;
    }
    return -1;
}

class FilesTest : public mxtest::MachineTest {
protected:
    // Opens with CFile and returns the Windows error (0 on success); the file stays open in `f`.
    static DWORD OpenError(CFile& f, const CString& path, UINT flags) {
        CFileException e;
        if (f.Open(path, flags, &e)) return 0;
        EXPECT_EQ(CFileException::OsErrorToException(e.m_lOsError), e.m_cause);
        return DWORD(e.m_lOsError);
    }
    // Runs fn while a child process holds path open with the flags (and, if asked, bytes 0-5 locked).
    template <typename Fn>
    static void HeldByChild(const CString& path, UINT flags, Fn fn, bool lockFirstFive = false) {
        mxtest::ChildHolder holder([&] {
            auto* f = new CFile;  // stays open until the child ends
            if (!f->Open(path, flags)) return false;
            if (lockFirstFive) f->LockRange(0, 5);
            return true;
        });
        EXPECT_TRUE(holder.Held());
        fn();
    }
    static std::vector<std::string> List(const CString& pattern) {
        std::vector<std::string> names;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA(pattern, &fd);
        if (h == INVALID_HANDLE_VALUE) return names;
        do names.push_back(fd.cFileName);
        while (FindNextFileA(h, &fd));
        EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError());
        EXPECT_TRUE(FindClose(h));
        return names;
    }
};

TEST_F(FilesTest, PathsInAnotherLetterCaseMeetTheSameFileAndATrailByteBackslashSplitsNoName) {
    WriteHostFile(machine.HostC("Music/Song.MP3"), "data");
    WriteHostFile(machine.HostC("Άλφα/Кино.MP3"), "x");
    WriteHostFile(machine.HostC("Straße.mp3"), "x");
    CFile f, made;
    ASSERT_EQ(0u, OpenError(f, "c:\\MUSIC\\song.mp3", CFile::modeRead));
    EXPECT_EQ(4u, f.GetLength());
    std::string host;
    ASSERT_TRUE(MxWindowsPathToHost("C:\\MUSIC\\song.mp3", host));
    EXPECT_EQ(machine.HostC("Music/Song.MP3"), host);
    CString win;  // and back; other host paths in both directions are the front end's (mxbox tests)
    ASSERT_TRUE(MxHostPathToWindows(machine.HostC("x/../Music/./Song.MP3"), win));
    EXPECT_EQ("C:\\Music\\Song.MP3", win);
    // "昞" is 0x95 0x5C in GBK: its trail byte is a backslash, which does not split the name.
    ASSERT_TRUE(CreateDirectoryA(Gbk("C:\\昞"), nullptr));
    ASSERT_EQ(0u, OpenError(made, Gbk("C:\\昞\\a.txt"), CFile::modeCreate | CFile::modeWrite));
    EXPECT_TRUE(HostExists(machine.HostC("昞/a.txt")));
    for (const char* acp : {"54936", "65001"}) {
        if (std::string(acp) == "65001") machine.SetCodePage(acp);
        EXPECT_EQ(0u, AttrErr(MxUtf8ToAnsi("C:\\ΆΛΦΑ\\кино.mp3"))) << acp;
        EXPECT_NE(0u, AttrErr(MxUtf8ToAnsi("C:\\STRASSE.mp3"))) << acp;
    }
}

// Every failed call leaves the error code Windows gives; an open that fails its share check truncates
// nothing.
TEST_F(FilesTest, FailedCallsLeaveTheWindowsError) {
    for (const char* f : {"lib.smdb", "new/file", "ro.mp3", "a.mp3", "b.mp3"}) WriteHostFile(machine.HostC(f), f);
    WriteHostFile(machine.HostD("ro.mp3"), "x");
    ASSERT_TRUE(CreateDirectoryA("C:\\dir", nullptr));
    ASSERT_EQ(0, mkfifo(machine.HostC("pipe.mp3").c_str(), 0644));  // opening it must not wait for a writer
    ASSERT_TRUE(SetFileAttributesA("C:\\ro.mp3", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA("D:\\ro.mp3", FILE_ATTRIBUTE_READONLY));
    CFile holder, f;
    ASSERT_EQ(0u, OpenError(holder, "C:\\lib.smdb", 0x8000 | CFile::shareDenyWrite));
    ULARGE_INTEGER space{};
    BY_HANDLE_FILE_INFORMATION info;
    struct Row {
        const char* what;
        std::function<DWORD()> call;
        DWORD error;
    };
    const std::vector<Row> rows = {
        {"create an existing folder", [] { return Err(CreateDirectoryA("C:\\NEW", nullptr)); }, ERROR_ALREADY_EXISTS},
        {"create under a missing folder", [] { return Err(CreateDirectoryA("C:\\missing\\child", nullptr)); }, ERROR_PATH_NOT_FOUND},
        {"remove a full folder", [] { return Err(RemoveDirectoryA("C:\\new")); }, ERROR_DIR_NOT_EMPTY},
        {"remove a file as a folder", [] { return Err(RemoveDirectoryA("C:\\new\\file")); }, ERROR_DIRECTORY},
        {"open a held file to truncate", [&] { return OpenError(f, "C:\\lib.smdb", 0x9002); }, ERROR_SHARING_VIOLATION},
        {"open a missing file", [&] { return OpenError(f, "C:\\nothing.mp3", CFile::modeRead); }, ERROR_FILE_NOT_FOUND},
        {"open in a missing folder", [&] { return OpenError(f, "C:\\no\\dir\\x.mp3", CFile::modeRead); }, ERROR_PATH_NOT_FOUND},
        {"create in a missing folder", [&] { return OpenError(f, "C:\\no\\x.mp3", 0x9002); }, ERROR_PATH_NOT_FOUND},
        {"open on no drive", [&] { return OpenError(f, "Q:\\x.mp3", CFile::modeRead); }, ERROR_PATH_NOT_FOUND},
        {"open a wildcard", [&] { return OpenError(f, "C:\\a?.mp3", CFile::modeRead); }, ERROR_INVALID_NAME},
        {"open a folder", [&] { return OpenError(f, "C:\\dir", CFile::modeRead); }, ERROR_ACCESS_DENIED},
        {"open a pipe", [&] { return OpenError(f, "C:\\pipe.mp3", CFile::modeRead); }, ERROR_ACCESS_DENIED},
        {"write a read-only file", [&] { return OpenError(f, "C:\\ro.mp3", CFile::modeReadWrite); }, ERROR_ACCESS_DENIED},
        {"truncate a read-only file", [&] { return OpenError(f, "C:\\ro.mp3", 0x9001); }, ERROR_ACCESS_DENIED},
        {"delete a read-only file", [] { return Err(DeleteFileA("C:\\ro.mp3")); }, ERROR_ACCESS_DENIED},
        {"copy onto a file, failing if it exists", [] { return Err(CopyFileA("C:\\a.mp3", "C:\\B.MP3", TRUE)); }, ERROR_FILE_EXISTS},
        {"copy onto a read-only file", [] { return Err(CopyFileA("C:\\b.mp3", "D:\\ro.mp3", FALSE)); }, ERROR_ACCESS_DENIED},
        {"copy a missing file", [] { return Err(CopyFileA("C:\\none.mp3", "D:\\d.mp3", FALSE)); }, ERROR_FILE_NOT_FOUND},
        {"copy into a missing folder", [] { return Err(CopyFileA("C:\\b.mp3", "D:\\none\\d.mp3", FALSE)); }, ERROR_PATH_NOT_FOUND},
        {"move onto a file", [] { return Err(MoveFileA("C:\\a.mp3", "C:\\b.mp3")); }, ERROR_ALREADY_EXISTS},
        {"move a missing file", [] { return Err(MoveFileA("C:\\gone.mp3", "C:\\x.mp3")); }, ERROR_FILE_NOT_FOUND},
        {"attributes of a missing file", [] { return AttrErr("C:\\nothing.mp3"); }, ERROR_FILE_NOT_FOUND},
        {"attributes in a missing folder", [] { return AttrErr("C:\\no\\x.mp3"); }, ERROR_PATH_NOT_FOUND},
        {"find without a match", [] { return FindErr("C:\\dir\\*.ogg"); }, ERROR_FILE_NOT_FOUND},
        {"find in a missing folder", [] { return FindErr("C:\\nodir\\*"); }, ERROR_PATH_NOT_FOUND},
        {"free space of a missing folder", [&] { return Err(GetDiskFreeSpaceExA("C:\\missing\\", &space, &space, &space)); }, ERROR_PATH_NOT_FOUND},
        {"stream in a missing folder", [] { return Err(MxFOpen("C:\\none\\log.txt", "a") != nullptr); }, ERROR_PATH_NOT_FOUND},
        {"identity of a missing file", [&] { return Err(MxGetFileInformationByPath("C:\\none", &info)); }, ERROR_FILE_NOT_FOUND},
    };
    for (const Row& r : rows) EXPECT_EQ(r.error, r.call()) << r.what;
    EXPECT_EQ("lib.smdb", ReadHostFile(machine.HostC("lib.smdb")));
    EXPECT_EQ("b.mp3", ReadHostFile(machine.HostC("b.mp3")));
    EXPECT_FALSE(CopyFileA("C:\\pipe.mp3", "C:\\copy.mp3", TRUE));
    EXPECT_EQ(nullptr, MxFOpen("C:\\pipe.mp3", "rb"));
    EXPECT_EQ(CFileException::fileNotFound, CauseOf([] { CFile thrower("C:\\nothing", CFile::modeRead); }));
}

TEST_F(FilesTest, CopyMoveAndAttributesKeepWindowsRules) {
    WriteHostFile(machine.HostC("a.mp3"), "first");
    WriteHostFile(machine.HostC("b.mp3"), "second");
    EXPECT_TRUE(CopyFileA("C:\\a.mp3", "C:\\B.MP3", FALSE));
    EXPECT_EQ("first", ReadHostFile(machine.HostC("b.mp3")));
    ASSERT_TRUE(SetFileAttributesA("C:\\a.mp3", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\a.mp3"));
    CFile f;
    EXPECT_EQ(0u, OpenError(f, "C:\\a.mp3", CFile::modeRead));
    f.Close();
    EXPECT_TRUE(CopyFileA("C:\\a.mp3", "D:\\c.mp3", TRUE));
    EXPECT_TRUE(GetFileAttributesA("D:\\c.mp3") & FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(SetFileAttributesA("C:\\a.mp3", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\a.mp3"));
    EXPECT_EQ(0u, OpenError(f, "C:\\a.mp3", CFile::modeReadWrite));
    f.Close();
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA("C:\\"));
    EXPECT_TRUE(MoveFileA("C:\\a.mp3", "C:\\A.mp3"));  // a new letter case is a rename
    EXPECT_TRUE(HostExists(machine.HostC("A.mp3")));
    EXPECT_FALSE(HostExists(machine.HostC("a.mp3")));
    EXPECT_TRUE(MoveFileA("C:\\A.mp3", Gbk("D:\\移动.mp3")));
    EXPECT_EQ("first", ReadHostFile(machine.HostD("移动.mp3")));
    ASSERT_TRUE(CreateDirectoryA("C:\\new", nullptr));
    EXPECT_TRUE(DeleteFileA("C:\\b.mp3"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\NEW"));
    EXPECT_FALSE(HostExists(machine.HostC("new")));
}

int g_nKillAtStep = -1;

// A process killed at any step of a move onto another device, or of a copy over a file, loses nothing:
// the source stays whole until the copy is complete under its name, no part of a copy is ever seen at the
// target, and a copied-over target holds its old bytes until the new ones are whole.
TEST_F(FilesTest, AMoveOntoAnotherDeviceKilledAtAnyStepLosesNothing) {
    struct stat here {}, shm {};
    std::string other = "/dev/shm/mxmove-" + std::to_string(getpid());
    if (stat(machine.root().c_str(), &here) != 0 || stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev ||
        mkdir(other.c_str(), 0777) != 0)
        GTEST_SKIP() << "no second device";
    setenv("MX_DRIVES", ("C:=" + machine.HostC() + ";S:=" + other).c_str(), 1);
    MxPlatformReload();
    const std::string bytes(300000, 'm');
    struct Row {
        bool copy;
        int step;
        bool sourceKept, targetMade;
    } rows[] = {{false, 0, true, false}, {false, 1, true, false}, {false, 2, true, false}, {false, 3, true, true},
                {false, 4, false, true}, {true, 0, true, false}, {true, 1, true, false}, {true, 2, true, false},
                {true, 3, true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.copy ? "copy" : "move");
        WriteHostFile(machine.HostC("a.mp3"), bytes);
        unlink((other + "/a.mp3").c_str());
        if (row.copy) WriteHostFile(other + "/a.mp3", "old");
        pid_t child = fork();
        if (child == 0) {
            g_nKillAtStep = row.step;
            MxSetMoveStepHook([](int step) {
                if (step == g_nKillAtStep) raise(SIGKILL);
            });
            if (row.copy) CopyFileA("C:\\a.mp3", "S:\\a.mp3", FALSE);
            else MoveFileA("C:\\a.mp3", "S:\\a.mp3");
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFSIGNALED(status)) << row.step;
        EXPECT_EQ(row.sourceKept ? bytes : "", ReadHostFile(machine.HostC("a.mp3"))) << row.step;
        EXPECT_EQ(row.targetMade ? bytes : row.copy ? "old" : "", ReadHostFile(other + "/a.mp3")) << row.step;
        EXPECT_EQ(row.targetMade || row.copy ? "a.mp3\n" : "", RunCommand("ls -A '" + other + "'")) << row.step;
    }
    // Whole and uncut, a move takes the file across; it never replaces one that is there.
    WriteHostFile(machine.HostC("b.mp3"), "b");
    EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), Err(MoveFileA("C:\\b.mp3", "S:\\a.mp3")));
    unlink((other + "/a.mp3").c_str());
    EXPECT_TRUE(MoveFileA("C:\\b.mp3", "S:\\a.mp3"));
    EXPECT_EQ("b", ReadHostFile(other + "/a.mp3"));
    EXPECT_FALSE(HostExists(machine.HostC("b.mp3")));
    RunCommand("rm -rf '" + other + "'");
}

TEST_F(FilesTest, ShareModesAreHonouredBetweenHandles) {
    WriteHostFile(machine.HostC("f.bin"), "abc");
    const UINT kRead = CFile::modeRead, kRW = CFile::modeReadWrite;
    struct ShareCase {
        UINT first, second;
        DWORD expected;
    };
    const std::vector<ShareCase> cases = {
        {kRead | CFile::shareDenyWrite, kRW | CFile::shareDenyNone, ERROR_SHARING_VIOLATION},
        {kRW | CFile::shareDenyWrite, kRead | CFile::shareDenyWrite, ERROR_SHARING_VIOLATION},  // denies my write
        {kRead | CFile::shareDenyWrite, kRead | CFile::shareDenyWrite, 0},
        {kRW | CFile::shareDenyNone, kRead | CFile::shareDenyWrite, ERROR_SHARING_VIOLATION},
        {kRW | CFile::shareDenyNone, kRW | CFile::shareDenyNone, 0},
        {kRW, kRead | CFile::shareDenyNone, ERROR_SHARING_VIOLATION},  // compatibility mode is exclusive
        {kRead | CFile::shareDenyRead, kRead | CFile::shareDenyNone, ERROR_SHARING_VIOLATION},
    };
    for (const ShareCase& c : cases) {
        CFile a, b;
        ASSERT_EQ(0u, OpenError(a, "C:\\f.bin", c.first));
        EXPECT_EQ(c.expected, OpenError(b, "C:\\f.bin", c.second)) << std::hex << c.first << " then " << c.second;
        a.Close();
        b.Close();
        // The same answer when the first handle belongs to another process.
        HeldByChild("C:\\f.bin", c.first, [&] {
            EXPECT_EQ(c.expected, OpenError(b, "C:\\f.bin", c.second)) << std::hex << "other process: " << c.first;
            b.Close();
        });
    }
}

TEST_F(FilesTest, AnOpenFileCanBeNeitherDeletedNorMovedNorLockedTwice) {
    WriteHostFile(machine.HostC("f.bin"), "0123456789");
    auto refused = [] {
        EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), Err(DeleteFileA("C:\\f.bin")));
        EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), Err(MoveFileA("C:\\f.bin", "C:\\g.bin")));
    };
    {
        CStdioFile reader;
        ASSERT_TRUE(reader.Open("C:\\f.bin", 0x8020));  // deny write, in this process
        refused();
    }
    HeldByChild("C:\\f.bin", CFile::modeReadWrite | CFile::shareDenyNone, [&] {
        refused();
        CFile f;
        ASSERT_EQ(0u, OpenError(f, "C:\\f.bin", CFile::modeRead | CFile::shareDenyNone));
        EXPECT_EQ(CFileException::lockViolation, CauseOf([&] { f.LockRange(4, 2); }));  // the child holds 0-5
        f.LockRange(5, 5);
    }, /*lockFirstFive=*/true);
    EXPECT_TRUE(DeleteFileA("C:\\f.bin"));
    // Between two handles of this process: only the owner unlocks.
    WriteHostFile(machine.HostC("l.bin"), "0123456789");
    CFile a, b;
    ASSERT_EQ(0u, OpenError(a, "C:\\l.bin", CFile::modeRead | CFile::shareDenyNone));
    ASSERT_EQ(0u, OpenError(b, "C:\\l.bin", CFile::modeRead | CFile::shareDenyNone));
    a.LockRange(0, 5);
    EXPECT_EQ(CFileException::lockViolation, CauseOf([&] { b.LockRange(4, 2); }));
    EXPECT_EQ(CFileException::lockViolation, CauseOf([&] { b.UnlockRange(0, 5); }));
    a.UnlockRange(0, 5);
    b.LockRange(0, 5);
}

TEST_F(FilesTest, FindListsDotsOutsideTheRootInNameOrder) {
    WriteHostFile(machine.HostC("dir/b.mp3"), "");
    WriteHostFile(machine.HostC("dir/A.wma"), "");
    WriteHostFile(machine.HostC("dir/c"), "");
    ASSERT_TRUE(CreateDirectoryA("C:\\dir\\sub", nullptr));
    EXPECT_EQ((std::vector<std::string>{".", "..", "A.wma", "b.mp3", "c", "sub"}), List("C:\\dir\\*"));
    EXPECT_EQ((std::vector<std::string>{".", "..", "A.wma", "b.mp3", "c", "sub"}), List("C:\\dir\\*.*"));
    EXPECT_EQ((std::vector<std::string>{"b.mp3"}), List("C:\\DIR\\*.MP3"));
    EXPECT_EQ((std::vector<std::string>{"..", "A.wma", "b.mp3", "c"}), List("C:\\dir\\?.*"));
    EXPECT_EQ((std::vector<std::string>{"dir"}), List("C:\\*"));
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("C:\\dir\\sub", &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), fd.dwFileAttributes);
    EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), Err(FindNextFileA(h, &fd)));
    EXPECT_TRUE(FindClose(h));
    EXPECT_FALSE(FindClose(h));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), Err(FindNextFileA(&fd, &fd)));
    // The host's view of its processes is a protected system folder, reached through a link too.
    ASSERT_EQ(0, symlink("/proc", machine.HostC("dir/proc").c_str()));
    h = FindFirstFileA("C:\\dir\\proc", &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    const DWORD kProtectedLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_EQ(kProtectedLink, fd.dwFileAttributes & kProtectedLink);
    FindClose(h);
}

TEST_F(FilesTest, FullPathNamesFollowWindowsRules) {
    char buf[MAX_PATH];
    LPSTR part = nullptr;
    EXPECT_EQ(6u, GetFullPathNameA("C:\\a\\..\\b\\.\\c", MAX_PATH, buf, &part));
    EXPECT_STREQ("c", part);
    EXPECT_EQ(7u, GetFullPathNameA("C:\\b\\c", 5, buf, &part));  // too small: the size with the zero
    for (const auto& r : std::vector<std::pair<const char*, const char*>>{
             {"C:\\a\\..\\b\\.\\c", "C:\\b\\c"}, {"c:/x/y.. ", "C:\\x\\y"},  // trailing dots and spaces go
             {"C:rel", "C:\\rel"}}) {
        ASSERT_GT(GetFullPathNameA(r.first, MAX_PATH, buf, nullptr), 0u) << r.first;
        EXPECT_STREQ(r.second, buf) << r.first;
    }
}

// Text files and text streams alike.
TEST_F(FilesTest, TextModeWritesCrLfAndReadsItBack) {
    CStdioFile f;
    ASSERT_TRUE(f.Open("C:\\playlist.idx", CFile::modeCreate | CFile::modeWrite | CFile::typeText));
    f.WriteString("first\nsecond\n");
    f.Close();
    FILE* stream = MxFOpen("C:\\playlist.idx", "a");
    fprintf(stream, "%s\n", "third");
    fclose(stream);
    EXPECT_EQ("first\r\nsecond\r\nthird\r\n", ReadHostFile(machine.HostC("playlist.idx")));
    ASSERT_TRUE(f.Open("C:\\playlist.idx", CFile::modeRead));  // text unless told binary
    CString line;
    std::vector<std::string> lines;
    while (f.ReadString(line)) lines.push_back(line.str());
    EXPECT_EQ((std::vector<std::string>{"first", "second", "third"}), lines);
    f.SeekToBegin();
    char buf[16];
    ASSERT_NE(nullptr, f.ReadString(buf, sizeof buf));
    EXPECT_STREQ("first\n", buf);
    ASSERT_NE(nullptr, f.ReadString(buf, 4));
    EXPECT_STREQ("sec", buf);
}

// Bytes go as they are; the length counts pending writes, and another writer's changes when others may write.
TEST_F(FilesTest, BinaryModeKeepsBytesAndTheLengthFollowsEveryWriter) {
    CStdioFile f;
    ASSERT_TRUE(f.Open("C:\\b.bin", 0x9002));
    f.Write("a\nb\r\n", 5);
    EXPECT_EQ(2, f.Seek(2, CFile::begin));
    f.Write("X", 1);
    EXPECT_EQ(3u, f.GetPosition());
    f.Seek(150, CFile::begin);
    f.Write("xyz", 3);
    EXPECT_EQ(153u, f.GetLength());  // a pending write counts
    f.SetLength(4);
    EXPECT_EQ(4u, f.GetLength());
    char buf[32];
    f.Seek(0, CFile::begin);
    EXPECT_EQ(4u, f.Read(buf, sizeof buf));
    EXPECT_EQ(CFileException::badSeek, CauseOf([&] { f.Seek(-10, CFile::begin); }));
    f.Close();
    FILE* stream = MxFOpen("C:\\b.bin", "ab");
    fputs("\n", stream);
    fclose(stream);
    EXPECT_EQ(std::string("a\nX\r\n"), ReadHostFile(machine.HostC("b.bin")));

    CStdioFile shared;
    ASSERT_TRUE(shared.Open("C:\\b.bin", CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary));
    EXPECT_EQ(5u, shared.GetLength());
    WriteHostFile(machine.HostC("b.bin"), std::string(40, 'b'));  // another writer
    EXPECT_EQ(40u, shared.GetLength());
    EXPECT_EQ(32u, shared.Read(buf, sizeof buf));
}

TEST_F(FilesTest, AViewOfAFileStopsAtItsEndAndSeesLaterWrites) {
    CStdioFile f;
    ASSERT_TRUE(f.Open("C:\\v.bin", 0x9002));
    DWORD mapped = 1;
    EXPECT_EQ(nullptr, MxMapViewOfFile(f, 100, &mapped));  // nothing to map yet
    EXPECT_EQ(0u, mapped);
    f.Write("abcdef", 6);
    f.Flush();
    const BYTE* view = MxMapViewOfFile(f, 100, &mapped);
    ASSERT_NE(nullptr, view);
    ASSERT_EQ(6u, mapped);
    EXPECT_EQ("abcdef", std::string(reinterpret_cast<const char*>(view), mapped));
    f.Seek(1, CFile::begin);
    f.Write("X", 1);
    f.Flush();
    EXPECT_EQ('X', view[1]);
    MxTrimViewRange(view, mapped, 0, mapped);  // read again from the file
    MxPrefetchViewRange(view, mapped, 0, 1000);
    EXPECT_EQ("aXcdef", std::string(reinterpret_cast<const char*>(view), mapped));
    EXPECT_TRUE(MxUnmapViewOfFile(view, mapped));
}

TEST_F(FilesTest, DrivesFreeSpaceAndTemporaryFolder) {
    EXPECT_EQ(UINT(DRIVE_FIXED), GetDriveTypeA("C:\\"));
    EXPECT_EQ(UINT(DRIVE_REMOVABLE), GetDriveTypeA("d:\\"));
    EXPECT_EQ(UINT(DRIVE_NO_ROOT_DIR), GetDriveTypeA("Q:\\"));
    ULARGE_INTEGER avail{}, total{}, free{};
    ASSERT_TRUE(GetDiskFreeSpaceExA("C:\\", &avail, &total, &free));
    EXPECT_GT(total.QuadPart, 0u);
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, temp);
    ASSERT_GT(n, 0u);
    EXPECT_EQ('\\', temp[n - 1]);
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA(temp));
    // A drive without its folder is not ready.
    setenv("MX_DRIVES", ("C:=" + machine.HostC() + ";E:=" + machine.root() + "/absent,removable,usb").c_str(), 1);
    MxPlatformReload();
    EXPECT_EQ(UINT(DRIVE_REMOVABLE), GetDriveTypeA("E:\\"));
    CFile f;
    for (DWORD error : {AttrErr("E:\\"), OpenError(f, "E:\\a.mp3", 0x9002), Err(CreateDirectoryA("E:\\dir", nullptr))})
        EXPECT_EQ(DWORD(ERROR_NOT_READY), error);
    // A folder served from another host folder, both ways and in any letter case; the map kept in MX_HOME
    // serves when MX_DRIVES is not set.
    WriteHostFile(machine.HostD("own/f.txt"), "x");
    unsetenv("MX_DRIVES");
    ASSERT_TRUE(MxSaveDriveMap("C:=" + machine.HostC() + "\nC:\\Users\\Lin\\App\\Tb=" + machine.HostD("own") + "\n"));
    MxPlatformReload();
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("c:\\USERS\\lin\\app\\TB\\f.txt"));
    CString win;
    ASSERT_TRUE(MxHostPathToWindows(machine.HostD("own/f.txt"), win));
    EXPECT_STREQ("C:\\Users\\Lin\\App\\Tb\\f.txt", win);
    EXPECT_EQ(DWORD(1u << 2), GetLogicalDrives());
}

TEST_F(FilesTest, StatusReportsAndSetsTimesAndAttributes) {
    WriteHostFile(machine.HostC("s.mp3"), "12345");
    CFileStatus st{};
    ASSERT_TRUE(CFile::GetStatus("c:\\S.MP3", st));
    EXPECT_EQ(5, st.m_size);
    EXPECT_STREQ("C:\\S.MP3", st.m_szFullName);
    st.m_mtime = CTime(1000000000);
    st.m_attribute = CFile::readOnly;
    CFile::SetStatus("C:\\s.mp3", st);
    CFileStatus again{};
    ASSERT_TRUE(CFile::GetStatus("C:\\s.mp3", again));
    EXPECT_EQ(1000000000, again.m_mtime.GetTime());
    EXPECT_TRUE(again.m_attribute & CFile::readOnly);
    EXPECT_FALSE(CFile::GetStatus("C:\\none", again));
}

// Shell folders are the machine's, or else the host home's and the emulated profile's; they are created
// only when asked.
TEST_F(FilesTest, ShellFoldersComeFromTheMachineOrTheHostHomeAndAreCreatedOnlyWhenAsked) {
    char path[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_MYMUSIC, nullptr, 0, path));
    EXPECT_STREQ("C:\\users\\tester\\Music", path);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path));
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_MYMUSIC | CSIDL_FLAG_CREATE, nullptr, 0, path));
    EXPECT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA(path));
    LPITEMIDLIST pidl = nullptr;
    EXPECT_EQ(E_INVALIDARG, SHGetFolderLocation(nullptr, 0x25, nullptr, 0, &pidl));
    EXPECT_EQ(nullptr, pidl);
    for (const char* v : {"MX_FOLDER_DESKTOP", "MX_FOLDER_MUSIC", "MX_FOLDER_APPDATA", "MX_FOLDER_LOCALAPPDATA"}) unsetenv(v);
    std::string home = machine.HostD("home");
    std::string oldHome = getenv("HOME") ? getenv("HOME") : "", oldUser = getenv("USER") ? getenv("USER") : "";
    setenv("HOME", home.c_str(), 1);
    setenv("USER", "tester", 1);
    MxPlatformReload();
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_MYMUSIC, nullptr, 0, path));
    EXPECT_STREQ("D:\\home\\Music", path);
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path));
    EXPECT_STREQ("C:\\users\\tester\\AppData\\Local", path);
    // A profile taken in from Windows: its Shell Folders value, not created when missing.
    registry_string<std::string>(std::string(kShellFoldersKey) + "\\Local AppData", HKEY_CURRENT_USER) = "C:\\Users\\Lin\\Local";
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path));
    EXPECT_STREQ("C:\\Users\\Lin\\Local", path);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path));
    setenv("HOME", oldHome.c_str(), 1);
    setenv("USER", oldUser.c_str(), 1);
}

// Damaged program files fail the version calls cleanly; only an intact image yields its information.
TEST_F(FilesTest, VersionInformationOfIntactAndDamagedProgramFiles) {
    const std::string good = mxtest::VersionedPe(0x00020001, 0x0000000F, 0x00030000, 0x00070001);
    auto patched = [&good](size_t at, uint32_t v, int n) {
        std::string b = good;
        mxtest::PutLe(b, at, v, n);
        return b;
    };
    struct Case { const char* what; std::string bytes; DWORD fileMS; /* 0: no fixed information */ };
    const std::vector<Case> cases = {
        {"intact", good, 0x00020001}, {"cut in the section table", good.substr(0, 0x150), 0},
        {"cut in the version block", good.substr(0, 0x270), 0}, {"header far past the end", patched(0x3C, 0x7FFFFFF0u, 4), 0},
        {"65535 sections", patched(0x46, 0xFFFF, 2), 0}, {"huge data size", patched(0x24C, 0xFFFFFFFFu, 4), 0},
        {"data outside every section", patched(0x248, 0xFFFFFFF0u, 4), 0},
        {"name directory is its own language level", patched(0x22C, 0x80000018u, 4), 0},
        {"65535 type entries", patched(0x20E, 0xFFFF, 2), 0}, {"block longer than its resource", patched(0x258, 0xFFFF, 2), 0},
        {"wrong signature", patched(0x280, 0x12345678u, 4), 0}, {"plain text", "MZ is not enough", 0},
    };
    LPVOID value = nullptr;
    UINT len = 0;
    for (const Case& c : cases) {
        WriteHostFile(machine.HostC("v.exe"), c.bytes);
        DWORD size = GetFileVersionInfoSizeA("C:\\v.exe", nullptr);
        std::vector<BYTE> block(size + 1);
        DWORD fileMS = 0;
        if (size && GetFileVersionInfoA("C:\\v.exe", 0, size, block.data()) && VerQueryValueA(block.data(), "\\", &value, &len)) {
            fileMS = static_cast<VS_FIXEDFILEINFO*>(value)->dwFileVersionMS;
        }
        EXPECT_EQ(c.fileMS, fileMS) << c.what;
    }
    EXPECT_EQ(0u, GetFileVersionInfoSizeA("C:\\absent.exe", nullptr));
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    // A copy cut short of the fixed information has no fixed information.
    WriteHostFile(machine.HostC("v.exe"), good);
    BYTE shortBlock[60];
    ASSERT_TRUE(GetFileVersionInfoA("C:\\v.exe", 0, sizeof shortBlock, shortBlock));
    EXPECT_FALSE(VerQueryValueA(shortBlock, "\\", &value, &len));
}

// Volume handles report the bus of the drive map; only volumes of known drives open.
TEST_F(FilesTest, VolumesReportTheirBusFromTheDriveMap) {
    setenv("MX_DRIVES", ("C:=" + machine.HostC() + ",fixed,sata;D:=" + machine.HostD() + ",removable,usb;E:=" + machine.HostD() +
                         ",fixed,USB;F:=" + machine.HostD() + ",fixed,nvme;N:=" + machine.HostD() + ",network").c_str(), 1);
    MxPlatformReload();
    struct Case { const char* name; DWORD error; /* of CreateFileA, 0 when it opens */ STORAGE_BUS_TYPE bus; BOOLEAN removable; };
    const std::vector<Case> cases = {
        {"\\\\?\\C:", 0, BusTypeSata, 0}, {"\\\\.\\d:", 0, BusTypeUsb, 1}, {"\\\\?\\E:", 0, BusTypeUsb, 0},
        {"\\\\?\\F:", 0, BusTypeNvme, 0}, {"\\\\?\\N:", ERROR_FILE_NOT_FOUND, BusTypeUnknown, 0},
        {"\\\\?\\Q:", ERROR_FILE_NOT_FOUND, BusTypeUnknown, 0}, {"C:\\a.txt", ERROR_NOT_SUPPORTED, BusTypeUnknown, 0},
    };
    for (const Case& c : cases) {
        HANDLE h = CreateFileA(c.name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(c.error, h == INVALID_HANDLE_VALUE ? GetLastError() : 0) << c.name;
        if (h == INVALID_HANDLE_VALUE) continue;
        STORAGE_PROPERTY_QUERY query = {StorageDeviceProperty, PropertyStandardQuery, {0}};
        alignas(8) BYTE buffer[551] = {0};
        auto* desc = reinterpret_cast<STORAGE_DEVICE_DESCRIPTOR*>(buffer);
        DWORD got = 0;
        ASSERT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer, sizeof buffer, &got, nullptr));
        EXPECT_EQ(c.bus, desc->BusType) << c.name;
        EXPECT_EQ(c.removable, desc->RemovableMedia) << c.name;
        EXPECT_EQ(desc->Size, got);
        // A buffer for the header alone still learns the whole size.
        STORAGE_DEVICE_DESCRIPTOR header;
        ASSERT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &header, 8, &got, nullptr));
        EXPECT_EQ(8u, got);
        EXPECT_EQ(desc->Size, header.Size);
        EXPECT_FALSE(DeviceIoControl(h, 0x70000, &query, sizeof query, buffer, sizeof buffer, &got, nullptr));
        EXPECT_TRUE(CloseHandle(h));
        EXPECT_FALSE(CloseHandle(h));
        EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    }
}

}  // namespace
