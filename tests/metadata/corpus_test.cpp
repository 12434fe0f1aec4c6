// The real files of the shared corpus: nothing crashes or hangs on any of them, and the values the
// corpus records come out of our readers.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempMachine.h"

namespace {

namespace fs = std::filesystem;

std::string CorpusDir() { return std::string(MX_SOURCE_DIR) + "/../shared/corpus"; }

std::vector<fs::path> CorpusFiles() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(CorpusDir(), ec)) {
        if (entry.is_regular_file() && entry.path().filename() != "MANIFEST.md") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class CorpusTest : public mxtest::MachineTest {
protected:
    // A copy on drive C: (the readers may repair a file they parse), parsed through the facade.
    AUDIOFILEINFO Parse(const std::string& relative, CAudioFileParse& facade, int* result = nullptr) {
        std::string bytes = mxtest::ReadHostFile(CorpusDir() + "/" + relative);
        std::string name = fs::path(relative).filename().string();
        mxtest::WriteHostFile(machine.HostC(name), bytes);
        CString path = MxUtf8ToAnsi("C:\\" + name);
        AUDIOFILEINFO info;
        int r = facade.ParseAudioFile(path, &info, 1, 0, "");
        if (result) *result = r;
        return info;
    }
};

TEST_F(CorpusTest, EveryFileParsesWithoutHarm) {
    std::vector<fs::path> files = CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "no corpus beside the repository";
    EXPECT_GE(files.size(), 90u);
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        std::string bytes = mxtest::ReadHostFile(file.string());
        mxtest::WriteHostFile(machine.HostC("x" + file.extension().string()), bytes);
        CString path = MxUtf8ToAnsi("C:\\x" + file.extension().string());
        CAudioFileParse facade;
        AUDIOFILEINFO info;
        facade.ParseAudioFile(path, &info, 1, 1, "");
        int headerSize = 0;
        std::string head = bytes.substr(0, 20480);
        facade.ParseAudioFile(reinterpret_cast<BYTE*>(head.data()), int(head.size()), &info, headerSize, int(bytes.size()));
        // The MP3 reader on every file, whatever its name, and the WMA reader too.
        CMxFile image(bytes.data(), int(bytes.size()));
        CMP3FileParse mp3;
        DWORD size = 0;
        mp3.ParseBuffer(&image, &size, &info, -1);
        CWMAFileParse wma;
        wma.ParseBuffer(&image, &size, &info, -1);
    }
}

// Titles, artists and albums are compared with TagLib's on every file (taglib_agreement_test.cpp).
TEST_F(CorpusTest, RecordedValuesAgree) {
    if (CorpusFiles().empty()) GTEST_SKIP() << "no corpus beside the repository";
    const std::vector<std::pair<const char*, const char*>> genres = {
        {"taglib/silence-1.wma", nullptr},
        {"taglib/real_example.wma", "Alternative"},
        {"music-metadata/id3v1_Blood_Sugar.mp3", "Electronic"},
        {"music-metadata/tcon.mp3", "Electronic"},  // "(52)(53)": the first number
        {"taglib/id3v22-tda.mp3", nullptr},
    };
    for (const auto& g : genres) {
        SCOPED_TRACE(g.first);
        CAudioFileParse facade;
        int result = 0;
        AUDIOFILEINFO info = Parse(g.first, facade, &result);
        EXPECT_EQ(1, result);
        if (g.second) {
            EXPECT_STREQ(g.second, info.strGenre);
        }
    }
    CAudioFileParse drm;
    Parse("Audio-Scan/drm.wma", drm);
    EXPECT_EQ(1, drm.m_bDRM);
    EXPECT_EQ(1, drm.m_bScriptCommand);
    VelaPlayerFileType cls, format;
    mxtest::WriteHostFile(machine.HostC("video.wma"), mxtest::ReadHostFile(CorpusDir() + "/Audio-Scan/wmv92.wmv"));
    CFileOperateManager::GetFileTypeByContent("C:\\video.wma", cls, format);
    EXPECT_EQ(FILETYPE_WMV, format);
    CAudioFileParse blood;
    AUDIOFILEINFO info = Parse("music-metadata/id3v1_Blood_Sugar.mp3", blood);
    EXPECT_STREQ("2007", info.strYear);
    EXPECT_STREQ("1", info.strTrack);
    EXPECT_STREQ("160", info.strBitrate);
}

}  // namespace
