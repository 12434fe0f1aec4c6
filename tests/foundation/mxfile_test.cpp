#include <string>

#include "support/TempMachine.h"

namespace {

class MxFileTest : public mxtest::MachineTest {};

TEST_F(MxFileTest, MemoryImageReadsAndSeeksWithoutBoundCheck) {
    const char bytes[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    CMxFile f(bytes, 10);
    char buf[8] = {};
    EXPECT_EQ(4u, f.Read(buf, 4));
    EXPECT_EQ(std::string("0123"), std::string(buf, 4));
    EXPECT_EQ(8, f.Seek(8, CFile::begin));
    EXPECT_EQ(2u, f.Read(buf, 4));
    EXPECT_EQ(std::string("89"), std::string(buf, 2));
    EXPECT_EQ(0u, f.Read(buf, 4));
    EXPECT_EQ(-1, f.Seek(0, CFile::current));
    EXPECT_EQ(10u, f.GetPosition());
    EXPECT_EQ(15, f.Seek(5, CFile::end));  // past the end: later reads give nothing
    EXPECT_EQ(0u, f.Read(buf, 1));
    EXPECT_EQ(10u, f.SeekToEnd());
    f.SeekToBegin();
    EXPECT_EQ(8u, f.ReadHuge(buf, 8));
    EXPECT_EQ(10u, f.GetLength());
}

TEST_F(MxFileTest, MemoryImageRefusesDiskOperations) {
    CMxFile f("abc", 3);
    EXPECT_FALSE(f.Open("C:\\x.bin", 0x9002));
    EXPECT_FALSE(mxtest::HostExists(machine.HostC("x.bin")));
    f.Write("zz", 2);
    f.SetLength(0);
    f.Close();
    CString line;
    EXPECT_FALSE(f.ReadString(line));
    char buf[4];
    EXPECT_EQ(nullptr, f.ReadString(buf, 4));
    EXPECT_EQ(nullptr, f.Duplicate());
    EXPECT_EQ(3u, f.Read(buf, 4));  // the image is still readable
    EXPECT_EQ(std::string("abc"), std::string(buf, 3));
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

}  // namespace
