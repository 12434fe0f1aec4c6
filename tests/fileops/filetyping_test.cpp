#include <string>
#include <vector>

#include "support/AsfBuilders.h"
#include "support/AudioBuilders.h"
#include "support/TempMachine.h"

namespace {

struct TypingCase {
    const char* name;
    std::string bytes;
    VelaPlayerFileType cls, format;
    const char* ext;  // what GetFileType returns
};

std::string Type(VelaPlayerFileType c, VelaPlayerFileType f) { return std::to_string(int(c)) + "/" + std::to_string(int(f)); }

class FileTypingTest : public mxtest::MachineTest {};

TEST_F(FileTypingTest, ContentDecidesBetweenMp3WmaAndWmv) {
    const std::string frame = mxtest::Mpeg1Layer3Header128();
    const std::string asf = mxtest::AsfHeader({mxtest::ContentDescription(u"t", u"a")}) + "DATA";
    const std::vector<TypingCase> cases = {
        {"a.MP3", asf, FILETYPE_AUDIO, FILETYPE_WMA, "MP3"},
        {"v.wma", mxtest::AsfHeader({mxtest::StreamProperties(true)}) + "DATA", FILETYPE_VIDEO, FILETYPE_WMV, "wma"},
        {"id3.wma", "ID3" + std::string(200, '\0'), FILETYPE_AUDIO, FILETYPE_MP3, "wma"},
        {"tag.mp3", std::string(300, 'x') + mxtest::Id3v1("t", "a", 1, 1), FILETYPE_AUDIO, FILETYPE_MP3, "mp3"},
        {"rmf.mp3", ".RMF" + frame + std::string(300, '\0'), FILETYPE_UNKNOWN, FILETYPE_UNKNOWN, ""},
        {"short.mp3", std::string(50, '\0') + frame, FILETYPE_UNKNOWN, FILETYPE_UNKNOWN, ""},   // no whole block
        {"tiny.mp3", "abc", FILETYPE_UNKNOWN, FILETYPE_UNKNOWN, ""},
        {"sync96.mp3", std::string(96, '\0') + frame + std::string(200, '\0'), FILETYPE_AUDIO, FILETYPE_MP3, "mp3"},
        {"sync97.mp3", std::string(97, '\0') + frame + std::string(200, '\0'), FILETYPE_UNKNOWN, FILETYPE_UNKNOWN, ""},
        {"sync99.mp3", std::string(99, '\0') + frame + std::string(200, '\0'), FILETYPE_UNKNOWN, FILETYPE_UNKNOWN, ""},
        {"late.mp3", std::string(5000, '\0') + frame + std::string(300, '\0'), FILETYPE_UNKNOWN, FILETYPE_UNKNOWN, ""},
        {"inner.mp3", std::string(4900, '\0') + frame + std::string(300, '\0'), FILETYPE_AUDIO, FILETYPE_MP3, "mp3"},
        {"song.ogg", "ID3" + std::string(200, '\0'), FILETYPE_UNKNOWN, FILETYPE_UNKNOWN, ""},
        {"film.avi", "RIFF" + std::string(200, '\0'), FILETYPE_UNKNOWN, FILETYPE_UNKNOWN, ""},
    };
    for (const TypingCase& c : cases) {
        mxtest::WriteHostFile(machine.HostC(c.name), c.bytes);
        VelaPlayerFileType cls = FILETYPE_AUDIO, format = FILETYPE_AUDIO;
        CString ext = CFileOperateManager::GetFileType(CString("C:\\") + c.name, cls, format, 1);
        EXPECT_EQ(Type(c.cls, c.format), Type(cls, format)) << c.name;
        EXPECT_STREQ(c.ext, ext) << c.name;
    }
}

TEST_F(FileTypingTest, ExtensionsAloneAndOddPaths) {
    VelaPlayerFileType cls, format;
    EXPECT_STREQ("aVi", CFileOperateManager::GetFileTypeByExtName("aVi", cls, format));
    EXPECT_EQ(Type(FILETYPE_VIDEO, FILETYPE_AVI), Type(cls, format));
    CFileOperateManager::GetFileTypeByExtName("WMV", cls, format);
    EXPECT_EQ(Type(FILETYPE_VIDEO, FILETYPE_WMV), Type(cls, format));
    CFileOperateManager::GetFileTypeByExtName("ogg", cls, format);
    EXPECT_EQ(Type(FILETYPE_UNKNOWN, FILETYPE_UNKNOWN), Type(cls, format));
    EXPECT_STREQ("Mp3", CFileOperateManager::GetFileType("C:\\x\\a.Mp3", cls, format, 0));  // need not exist
    EXPECT_EQ(Type(FILETYPE_AUDIO, FILETYPE_MP3), Type(cls, format));
    // A name without a dot in a folder with one: the "extension" holds a backslash.
    mxtest::WriteHostFile(machine.HostC("my.mp3/song"), "ID3" + std::string(200, '\0'));
    EXPECT_STREQ("", CFileOperateManager::GetFileType("C:\\my.mp3\\song", cls, format, 1));
    EXPECT_EQ(Type(FILETYPE_UNKNOWN, FILETYPE_UNKNOWN), Type(cls, format));
    EXPECT_STREQ("", CFileOperateManager::GetFileType("C:\\missing.mp3", cls, format, 1));
    EXPECT_STREQ("", CFileOperateManager::GetFileType("C:\\noext", cls, format, 1));
}

}  // namespace
