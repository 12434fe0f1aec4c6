#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/AsfBuilders.h"
#include "support/AudioBuilders.h"
#include "support/TempMachine.h"

namespace {

using mxtest::Frame3;
using mxtest::Frames;
using mxtest::Tag;

std::string Mp3(const std::string& title) {
    return Tag(3, Frame3("TIT2", std::string(1, '\0') + title)) + Frames(mxtest::Mpeg1Layer3Header128(), 417, 30);
}

LRESULT Ignore(HWND, UINT, WPARAM, LPARAM) { return 0; }

class AudioFacadeTest : public mxtest::MachineTest {
protected:
    static int ParseBuffer(const std::string& bytes, int* headerSize = nullptr) {
        CAudioFileParse facade;
        AUDIOFILEINFO info;
        int size = 0;
        int r = facade.ParseAudioFile(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())), int(bytes.size()), &info, size, -1);
        if (headerSize) *headerSize = size;
        return r;
    }
};

TEST_F(AudioFacadeTest, WmaNamedFileWithMp3ContentIsRenamedAndAnnounced) {
    WNDCLASSA c{};
    c.lpfnWndProc = Ignore;
    c.lpszClassName = "MxFacadeMain";
    RegisterClassA(&c);
    CWnd main;
    main.m_hWnd = CreateWindowExA(0, "MxFacadeMain", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    AfxGetThread()->m_pMainWnd = &main;
    mxtest::WriteHostFile(machine.HostC("a.wma"), Mp3("song"));
    CString path = "C:\\a.wma";
    ASSERT_TRUE(SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY));  // renamed, it stays read-only
    CAudioFileParse facade;
    AUDIOFILEINFO info;
    ASSERT_EQ(1, facade.ParseAudioFile(path, &info, 1, 1, "tag text"));
    EXPECT_STREQ("C:\\a.mp3", path);
    EXPECT_STREQ("song", info.strTitle);
    EXPECT_TRUE(GetFileAttributesA(path) & FILE_ATTRIBUTE_READONLY);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, main.m_hWnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(UINT(WM_USER + 403), msg.message);
    EXPECT_EQ(WPARAM(0), msg.wParam);
    auto* block = reinterpret_cast<CString*>(msg.lParam);
    EXPECT_STREQ("C:\\a.wma", block[0]);
    EXPECT_STREQ("C:\\a.mp3", block[1]);
    EXPECT_STREQ("tag text", block[2]);
    delete[] block;
    // Without the fix the name stays, and the content still decides.
    mxtest::WriteHostFile(machine.HostC("b.wma"), Mp3("other"));
    CString second = "C:\\b.wma";
    ASSERT_EQ(1, facade.ParseAudioFile(second, &info, 1, 0, ""));
    EXPECT_STREQ("C:\\b.wma", second);
    EXPECT_STREQ("other", info.strTitle);
    EXPECT_FALSE(PeekMessageA(&msg, main.m_hWnd, 0, 0, PM_REMOVE));
    AfxGetThread()->m_pMainWnd = nullptr;
    DestroyWindow(main.m_hWnd);
}

TEST_F(AudioFacadeTest, BufferTyping) {
    const std::string frame = mxtest::Mpeg1Layer3Header128();
    int headerSize = 0;
    EXPECT_EQ(0, ParseBuffer(".RMF" + Frames(frame, 417, 5), &headerSize));
    EXPECT_EQ(-1, headerSize);
    EXPECT_EQ(0, ParseBuffer(std::string(50, '\0') + frame));  // no whole chunk of 100 bytes
    EXPECT_EQ(0, ParseBuffer("abc"));
    std::string mp3 = Mp3("x");
    EXPECT_EQ(1, ParseBuffer(mp3, &headerSize));
    EXPECT_EQ(int(mp3.find('\xFF')), headerSize);  // the tag's size
    EXPECT_EQ(1, ParseBuffer(mxtest::AsfHeader({mxtest::ContentDescription(u"t", u"a")}) + std::string(200, 'd'), &headerSize));
}

TEST_F(AudioFacadeTest, TextsAreNormalised) {
    mxtest::WriteHostFile(machine.HostC("n.mp3"), Tag(3, Frame3("TIT2", std::string("\0...word...", 11)) +
                                                         Frame3("TALB", std::string("\0a.b", 4)) + Frame3("TYER", std::string("\0...", 4))) +
                                                      Frames(mxtest::Mpeg1Layer3Header128(), 417, 30));
    CString path = "C:\\n.mp3";
    CAudioFileParse facade;
    AUDIOFILEINFO info;
    ASSERT_EQ(1, facade.ParseAudioFile(path, &info, 1, 1, ""));
    EXPECT_STREQ("word", info.strTitle);
    EXPECT_STREQ("a.b", info.strAlbum);
    EXPECT_STREQ("", info.strYear);
}

TEST_F(AudioFacadeTest, ProtectedWmaRaisesTheDrmFlag) {
    mxtest::WriteHostFile(machine.HostC("p.wma"), mxtest::AsfHeader({mxtest::ContentEncryption("DRM")}) + std::string(100, 'd'));
    CString path = "C:\\p.wma";
    CAudioFileParse facade;
    AUDIOFILEINFO info;
    EXPECT_EQ(1, facade.ParseAudioFile(path, &info, 1, 1, ""));
    CAudioFileParse copy(facade);
    EXPECT_EQ(1, copy.m_bDRM);  // the facade's own flag: AnalysisTest and ImportTest
    int length = -1;
    EXPECT_EQ(nullptr, copy.GetHeaderInfo(length));  // a copy has no parser
    EXPECT_EQ(0, length);
    EXPECT_NE(nullptr, facade.GetHeaderInfo(length));
    EXPECT_GT(length, 30);
}

// What a file's bytes and host status say of it: any write, chmod or touch changes one of them.
std::string Fingerprint(const std::string& host) {
    struct stat st {};
    stat(host.c_str(), &st);
    return mxtest::ReadHostFile(host) + "|" + std::to_string(st.st_mode) + "|" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + "|" + std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
}

// Reading any kind of file changes nothing in it; its raw tag blocks are the whole ID3v2 tag (padding
// included) or ASF Header Object, and the ID3v1 tag.
TEST_F(AudioFacadeTest, ReadingChangesNothingInAnyKindOfFileAndGivesItsRawTags) {
    const std::string audio = Frames(mxtest::Mpeg1Layer3Header128(), 417, 30);
    const std::string unicode = Frame3("TIT2", std::string(1, '\x01') + mxtest::Utf16(u"\u6b4c"));
    struct {
        const char* name;
        std::string header, body, tail;
        bool readOnly;
    } rows[] = {{"v3.mp3", Tag(3, unicode, 5), audio, "", false},
                {"v4.mp3", Tag(4, unicode), audio, "", false},
                {"v1.mp3", "", audio, mxtest::Id3v1("t", "a", 1, 1), false},
                {"s.wma", mxtest::AsfHeader({mxtest::ContentDescription(u"t", u"a")}), std::string(200, 'd'), "", false},
                {"ro.mp3", Tag(3, unicode), audio, mxtest::Id3v1("a", "b", 1, 2), true}};
    auto bytes = [](BYTE* p, int n) { return p ? std::string(reinterpret_cast<char*>(p), size_t(n)) : std::string(); };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const std::string host = machine.HostC(r.name);
        mxtest::WriteHostFile(host, r.header + r.body + r.tail);
        CString path = CString("C:\\") + r.name;
        if (r.readOnly) {
            ASSERT_TRUE(SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY));
        }
        const std::string before = Fingerprint(host);
        CAudioFileParse facade;
        AUDIOFILEINFO info;
        EXPECT_EQ(1, facade.ParseAudioFile(path, &info, 1, 1, ""));
        BYTE *tail = nullptr, *header = nullptr;
        int tailLength = 0, headerLength = 0;
        facade.GetAudioFileID3Info(path, tail, tailLength, header, headerLength);
        EXPECT_EQ(r.header, bytes(header, headerLength));
        EXPECT_EQ(r.tail, bytes(tail, tailLength));
        delete[] tail;
        delete[] header;
        EXPECT_EQ(before, Fingerprint(host));
    }
}

TEST_F(AudioFacadeTest, AFileTheUserMayReadButNotWriteIsRead) {
    const std::string host = machine.HostC("shared.mp3");
    mxtest::WriteHostFile(host, Mp3("shared"));
    chmod(host.c_str(), 0644);
    EXPECT_EQ(0, mxtest::RunAsOtherUser(machine, [] {
        CString path = "C:\\shared.mp3";
        CAudioFileParse facade;
        AUDIOFILEINFO info;
        return facade.ParseAudioFile(path, &info, 1, 1, "") == 1 && info.strTitle == "shared" ? 0 : 1;
    }));
}

TEST_F(AudioFacadeTest, SavingKeepsReadOnlyAndReportsWhyItFailed) {
    mxtest::WriteHostFile(machine.HostC("s.mp3"), Mp3("old"));
    ASSERT_TRUE(SetFileAttributesA("C:\\s.mp3", FILE_ATTRIBUTE_READONLY));
    CAudioFileParse facade;
    AUDIOFILEINFO info;
    info.strTitle = "new";
    EXPECT_EQ(MAFR_OK, facade.SetAudioFileInfo("C:\\s.mp3", &info, 0x1));
    EXPECT_TRUE(GetFileAttributesA("C:\\s.mp3") & FILE_ATTRIBUTE_READONLY);
    const std::string saved = mxtest::ReadHostFile(machine.HostC("s.mp3"));
    EXPECT_EQ(MAFR_WRITEFAILED, facade.SetAudioFileInfo("C:\\s.mp3", &info, 0));
    EXPECT_EQ(saved, mxtest::ReadHostFile(machine.HostC("s.mp3")));
    EXPECT_TRUE(GetFileAttributesA("C:\\s.mp3") & FILE_ATTRIBUTE_READONLY);
    {
        CMxFile holder;
        ASSERT_TRUE(holder.Open("C:\\s.mp3", CFile::modeRead | CFile::shareDenyWrite));
        EXPECT_EQ(MAFR_INVALID, facade.SetAudioFileInfo("C:\\s.mp3", &info, 0x1));  // in use elsewhere
    }
    EXPECT_EQ(MAFR_INVALID, facade.SetAudioFileInfo("C:\\missing.mp3", &info, 0x1));
    CString missing = "C:\\missing.mp3";
    EXPECT_EQ(0, facade.ParseAudioFile(missing, &info, 1, 1, ""));
    EXPECT_EQ(MAFR_INVALID, facade.SetAudioFileInfo("C:\\s.mp3", nullptr, 0x1));
    mxtest::WriteHostFile(machine.HostC("t.txt"), "text");
    EXPECT_EQ(MAFR_INVALID, facade.SetAudioFileInfo("C:\\t.txt", &info, 0x1));
    CString path = "C:\\s.mp3";
    AUDIOFILEINFO back;
    ASSERT_EQ(1, facade.ParseAudioFile(path, &back, 1, 1, ""));
    EXPECT_STREQ("new", back.strTitle);
}

}  // namespace
