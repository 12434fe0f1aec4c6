// Our readers beside TagLib on the real files of the shared corpus. Every difference must be one that our
// rules explain; anything else is a bug.
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "MxModule/metadata/AsfFormat.h"
#include "support/AudioBuilders.h"
#include "support/TempMachine.h"

namespace {

namespace fs = std::filesystem;

std::string CorpusDir() { return std::string(MX_SOURCE_DIR) + "/../shared/corpus"; }

struct Fields {
    std::string title, artist, album;
};

class TagLibAgreementTest : public mxtest::MachineTest {};

TEST_F(TagLibAgreementTest, TitlesArtistsAndAlbumsAgreeOrTheDifferenceIsExplained) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(CorpusDir(), ec)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (entry.is_regular_file() && (ext == ".mp3" || ext == ".wma")) files.push_back(entry.path());
    }
    if (files.empty()) GTEST_SKIP() << "no corpus beside the repository";
    std::sort(files.begin(), files.end());
    std::map<std::string, std::string> differences;
    for (const fs::path& file : files) {
        std::string relative = fs::relative(file, CorpusDir()).string();
        // TagLib on the original, we on a copy (our reader may repair the file).
        TagLib::FileRef ref(file.c_str());
        Fields theirs;
        if (!ref.isNull() && ref.tag()) {
            theirs = {ref.tag()->title().to8Bit(true), ref.tag()->artist().to8Bit(true), ref.tag()->album().to8Bit(true)};
        }
        mxtest::WriteHostFile(machine.HostC("x" + file.extension().string()), mxtest::ReadHostFile(file.string()));
        CString path = MxUtf8ToAnsi("C:\\x" + file.extension().string());
        CAudioFileParse facade;
        AUDIOFILEINFO info;
        facade.ParseAudioFile(path, &info, 1, 0, "");
        Fields ours = {MxAnsiToUtf8(info.strTitle), MxAnsiToUtf8(info.strArtist), MxAnsiToUtf8(info.strAlbum)};
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(" \t"));
            s.erase(s.find_last_not_of(" \t") + 1);
            return s;
        };
        std::string diff;
        if (trim(theirs.title) != ours.title) diff += "title [" + theirs.title + "|" + ours.title + "] ";
        if (trim(theirs.artist) != ours.artist) diff += "artist [" + theirs.artist + "|" + ours.artist + "] ";
        if (trim(theirs.album) != ours.album) diff += "album [" + theirs.album + "|" + ours.album + "] ";
        if (!diff.empty()) differences[relative] = diff;
    }
    // Differences our rules explain.
    const std::map<std::string, std::string> explained = {
        {"music-metadata/bug-utf16bom-encoding.mp3",
         "version-4 frame sizes are read as plain numbers: a PRIV frame of 138 bytes (syncsafe) reads as 266 and "
         "hides the TALB frame after it"},
        {"music-metadata/id3v2-xheader.mp3", "frame flags are not interpreted: the data-length indicator is read as text"},
        {"music-metadata/id3v2.4.mp3", "a text ends at its first terminator: only the first of several artists"},
        {"music-metadata/issue-381.mp3", "TagLib stops at a zero-size MCDI frame and takes the ID3v1 album; we go on"},
        {"mutagen/bad-POPM-frame.mp3", "TagLib drops the whole tag over a bad POPM frame; we skip only that frame"},
        {"taglib/ape.mp3", "APEv2 tags are not read"},
        {"taglib/compressed_id3_frame.mp3", "a tag longer than its file is ignored"},
        {"taglib/excessive_alloc.mp3", "a tag longer than its file is ignored"},
        {"taglib/w000.mp3", "a tag longer than its file is ignored"},
        {"taglib/garbage.mp3", "a tag that does not start the file is not looked for"},
        {"taglib/toc_many_children.mp3", "the byte scan finds the TIT2 frames embedded in CHAP frames"},
    };
    for (const auto& d : differences) {
        EXPECT_TRUE(explained.count(d.first)) << d.first << ": " << d.second;
    }
    // An explanation whose file now agrees is stale.
    for (const auto& e : explained) EXPECT_TRUE(differences.count(e.first)) << e.first << " agrees now";
}

}  // namespace

namespace {

// Frames written into a tag with padding (as most taggers leave it) are where TagLib looks for them.
TEST_F(TagLibAgreementTest, FieldsWrittenIntoAPaddedTagAreSeenByTagLib) {
    for (int version : {3, 4}) {
        std::string file = mxtest::Tag(version, mxtest::Frame3("TIT2", std::string("\0Old title", 10)), 4096) +
                           mxtest::Frames(mxtest::Mpeg1Layer3Header128(), 417, 20);
        mxtest::WriteHostFile(machine.HostC("padded.mp3"), file);
        AUDIOFILEINFO info;
        info.strArtist = "New artist";
        info.strAlbum = "New album";
        CAudioFileParse facade;
        ASSERT_EQ(MAFR_OK, facade.SetAudioFileInfo("C:\\padded.mp3", &info, 0x2 | 0x4)) << version;
        TagLib::FileRef ref(machine.HostC("padded.mp3").c_str());
        ASSERT_FALSE(ref.isNull());
        EXPECT_EQ("Old title", ref.tag()->title().to8Bit(true)) << version;
        EXPECT_EQ("New artist", ref.tag()->artist().to8Bit(true)) << version;
        EXPECT_EQ("New album", ref.tag()->album().to8Bit(true)) << version;
    }
}

}  // namespace

namespace {

// A real WMA file saved through the facade reads back in TagLib exactly: every character of the texts,
// every byte of a picture whatever its size, and a file length the File Properties agree with.
TEST_F(TagLibAgreementTest, WmaFieldsWrittenByUsReadBackWholeInTagLib) {
    const std::string base = mxtest::ReadHostFile(CorpusDir() + "/taglib/silence-1.wma");
    if (base.empty()) GTEST_SKIP() << "no corpus beside the repository";
    for (size_t pictureSize : {size_t(1000), size_t(200000)}) {
        mxtest::WriteHostFile(machine.HostC("song.wma"), base);
        AUDIOFILEINFO info;
        info.strTitle = MxUtf8ToAnsi("中文标题");
        info.strArtist = MxUtf8ToAnsi("사랑");
        info.strAlbum = MxUtf8ToAnsi("Café Déjà vu");
        info.strPictureMime = "image/jpeg";
        info.byPictureType = 3;
        for (size_t i = 0; i < pictureSize; ++i) info.vecPicture.push_back(BYTE(i * 7));
        CAudioFileParse facade;
        ASSERT_EQ(MAFR_OK, facade.SetAudioFileInfo("C:\\song.wma", &info, 0x1 | 0x2 | 0x4 | 0x100)) << pictureSize;
        // A second save of one field keeps the picture.
        AUDIOFILEINFO year;
        year.strYear = "2024";
        ASSERT_EQ(MAFR_OK, facade.SetAudioFileInfo("C:\\song.wma", &year, 0x40)) << pictureSize;
        std::string bytes = mxtest::ReadHostFile(machine.HostC("song.wma"));
        TagLib::ASF::File file(machine.HostC("song.wma").c_str());
        ASSERT_TRUE(file.isValid()) << pictureSize;
        EXPECT_EQ("中文标题", file.tag()->title().to8Bit(true)) << pictureSize;
        EXPECT_EQ("사랑", file.tag()->artist().to8Bit(true)) << pictureSize;
        EXPECT_EQ("Café Déjà vu", file.tag()->album().to8Bit(true)) << pictureSize;
        EXPECT_EQ(2024u, file.tag()->year()) << pictureSize;
        const TagLib::ASF::AttributeList& pictures = file.tag()->attribute("WM/Picture");
        ASSERT_EQ(1u, pictures.size()) << pictureSize;
        TagLib::ByteVector data = pictures.front().toPicture().picture();
        EXPECT_EQ(pictureSize, data.size());
        EXPECT_TRUE(std::string(info.vecPicture.begin(), info.vecPicture.end()) == std::string(data.data(), data.size()))
            << pictureSize;
        // The File Properties file size (at 24 + 16 within the object after the Header Object's 30 bytes).
        size_t at = bytes.find(mxasf::GuidOf(mxasf::kFileProperties));
        ASSERT_NE(std::string::npos, at);
        EXPECT_EQ(uint64_t(bytes.size()), mxasf::Get(reinterpret_cast<const unsigned char*>(bytes.data()) + at + 40, 8))
            << pictureSize;
    }
}

}  // namespace
