// The real files of the shared corpus: nothing crashes or hangs on any of them, reading changes none of
// them, the values the corpus records come out of our readers, and our readers agree with TagLib. Every
// difference must be one that our rules explain; anything else is a bug.
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/AsfBuilders.h"
#include "support/AudioBuilders.h"
#include "support/TagFile.h"
#include "support/TempMachine.h"

namespace {

namespace fs = std::filesystem;

std::string CorpusDir() { return std::string(MX_SOURCE_DIR) + "/../shared/corpus"; }

// The corpus's files in name order: all of them, or only the MP3 and WMA files.
std::vector<fs::path> CorpusFiles(bool audioOnly) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(CorpusDir(), ec)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (entry.is_regular_file() && entry.path().filename() != "MANIFEST.md" && (!audioOnly || ext == ".mp3" || ext == ".wma")) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class CorpusTest : public mxtest::MachineTest {
protected:
    // A copy on drive C:, parsed through the facade; reading leaves the copy as it was.
    AUDIOFILEINFO Parse(const std::string& relative, CAudioFileParse& facade, int* result = nullptr) {
        std::string bytes = mxtest::ReadHostFile(CorpusDir() + "/" + relative);
        std::string name = fs::path(relative).filename().string();
        mxtest::WriteHostFile(machine.HostC(name), bytes);
        CString path = MxUtf8ToAnsi("C:\\" + name);
        AUDIOFILEINFO info;
        int r = facade.ParseAudioFile(path, &info, 1, 0, "");
        EXPECT_EQ(bytes, mxtest::ReadHostFile(machine.HostC(name))) << relative;
        if (result) *result = r;
        return info;
    }
};

TEST_F(CorpusTest, EveryFileParsesWithoutHarmAndIsLeftAsItWas) {
    std::vector<fs::path> files = CorpusFiles(false);
    if (files.empty()) GTEST_SKIP() << "no corpus beside the repository";
    EXPECT_GE(files.size(), 90u);
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        CAudioFileParse facade;
        AUDIOFILEINFO info = Parse(fs::relative(file, CorpusDir()).string(), facade);
        std::string bytes = mxtest::ReadHostFile(file.string());
        int headerSize = 0;
        std::string head = bytes.substr(0, 20480);
        facade.ParseAudioFile(reinterpret_cast<BYTE*>(head.data()), int(head.size()), &info, headerSize, int(bytes.size()));
        // The MP3 reader on every file, whatever its name, and the WMA reader too.
        CMxFile image(bytes.data(), int(bytes.size()));
        DWORD size = 0;
        CMP3FileParse().ParseBuffer(&image, &size, &info, -1);
        CWMAFileParse().ParseBuffer(&image, &size, &info, -1);
    }
}

struct Fields {
    std::string title, artist, album;
};

using TagLibAgreementTest = CorpusTest;

TEST_F(TagLibAgreementTest, TitlesArtistsAndAlbumsAgreeOrTheDifferenceIsExplained) {
    std::vector<fs::path> files = CorpusFiles(true);
    if (files.empty()) GTEST_SKIP() << "no corpus beside the repository";
    std::map<std::string, std::string> differences;
    for (const fs::path& file : files) {
        std::string relative = fs::relative(file, CorpusDir()).string();
        TagLib::FileRef ref(file.c_str());
        Fields theirs;
        if (!ref.isNull() && ref.tag()) {
            theirs = {ref.tag()->title().to8Bit(true), ref.tag()->artist().to8Bit(true), ref.tag()->album().to8Bit(true)};
        }
        CAudioFileParse facade;
        AUDIOFILEINFO info = Parse(relative, facade);
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
        {"music-metadata/id3v2.4.mp3", "a text ends at its first terminator: only the first of several artists"},
        {"music-metadata/issue-381.mp3", "TagLib stops at a zero-size MCDI frame and takes the ID3v1 album; we go on"},
        {"mutagen/bad-POPM-frame.mp3", "TagLib drops the whole tag over a bad POPM frame; we skip only that frame"},
        {"taglib/ape.mp3", "APEv2 tags are not read"},
        {"taglib/compressed_id3_frame.mp3", "a tag longer than its file is ignored"},
        {"taglib/excessive_alloc.mp3", "a tag longer than its file is ignored"},
        {"taglib/w000.mp3", "a tag longer than its file is ignored"},
        {"taglib/garbage.mp3", "a tag that does not start the file is not looked for"},
    };
    for (const auto& d : differences) {
        EXPECT_TRUE(explained.count(d.first)) << d.first << ": " << d.second;
    }
    // An explanation whose file now agrees is stale.
    for (const auto& e : explained) EXPECT_TRUE(differences.count(e.first)) << e.first << " agrees now";
}

// What a tag write must leave alone: everything after the ID3v2 tag, or after the ASF Header Object.
std::string AudioPart(const std::string& b) {
    size_t skip = 0;
    if (b.size() >= 10 && b.compare(0, 3, "ID3") == 0) {
        skip = 10 + (size_t(b[6] & 0x7F) << 21 | size_t(b[7] & 0x7F) << 14 | size_t(b[8] & 0x7F) << 7 | size_t(b[9] & 0x7F));
        if (b[3] == 4 && (b[5] & 0x10)) skip += 10;
    } else if (b.size() >= 24 && b.compare(0, 4, "\x30\x26\xB2\x75") == 0) {
        for (int i = 7; i >= 0; --i) skip = skip << 8 | static_cast<unsigned char>(b[16 + size_t(i)]);
    }
    return b.substr(std::min(skip, b.size()));
}

// The front cover TagLib reads (other pictures a file holds stay beside it).
TagLib::ByteVector TagLibPicture(const std::string& path) {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".wma") == 0) {
        TagLib::ASF::File f(path.c_str());
        for (const auto& a : f.tag()->attribute("WM/Picture")) {
            if (a.toPicture().type() == TagLib::ASF::Picture::FrontCover) return a.toPicture().picture();
        }
        return TagLib::ByteVector();
    }
    TagLib::MPEG::File f(path.c_str());
    for (auto* frame : f.ID3v2Tag() ? f.ID3v2Tag()->frameListMap()["APIC"] : TagLib::ID3v2::FrameList()) {
        auto* picture = static_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover) return picture->picture();
    }
    return TagLib::ByteVector();
}

// Every corpus file and the tags common taggers write, saved with new texts in three scripts and a 300 KB
// picture, read back by TagLib; the audio stays byte for byte.
TEST_F(TagLibAgreementTest, FieldsWrittenInEveryScriptAreReadBackByTagLib) {
    std::vector<std::pair<std::string, std::string>> inputs;  // name, bytes
    for (const fs::path& file : CorpusFiles(true)) {
        inputs.emplace_back(fs::relative(file, CorpusDir()).string(), mxtest::ReadHostFile(file.string()));
    }
    const std::string audio = mxtest::Frames(mxtest::Mpeg1Layer3Header128(), 417, 20);
    const std::string picture = mxtest::Frame3("APIC", std::string("\0image/jpeg\0\x03\0", 14) + std::string(30000, 'J'));
    inputs.emplace_back("padded v2.3", mxtest::Tag(3, mxtest::Frame3("TIT2", std::string(1, '\x01') + mxtest::Utf16(u"Old")) + picture, 2048) + audio);
    inputs.emplace_back("padded v2.4", mxtest::Tag4(mxtest::Frame4("TIT2", "\x03Old") + mxtest::Frame4("TDRC", "\x03" "2001-05-03") +
                                                        mxtest::Frame4("APIC", picture.substr(10)), 1024) + audio);
    inputs.emplace_back("built.wma", mxtest::AsfHeader({mxtest::FileProperties(0, 0), mxtest::StreamProperties(false, 16000)}) +
                                         std::string("DATAOBJECT") + std::string(200, 'd'));
    AUDIOFILEINFO info;
    info.strTitle = MxUtf8ToAnsi("月亮代表我的心");
    info.strArtist = MxUtf8ToAnsi("사랑해요 Björk");
    info.strAlbum = MxUtf8ToAnsi("Café Noël");
    info.strYear = "1999";
    info.strComment = MxUtf8ToAnsi("评论 über");
    info.strPictureMime = "image/jpeg";
    info.byPictureType = 3;
    info.vecPicture.assign(300 * 1024, 0x5A);
    const DWORD mask = 0x1 | 0x2 | 0x4 | 0x40 | 0x80 | 0x100;
    // Files whose save is refused, each left as it was.
    const std::map<std::string, std::string> refused = {
        {"taglib/compressed_id3_frame.mp3", "a tag longer than its file"},
        {"taglib/compressed_id3_frame_invalid.mp3", "a tag longer than its file"},
        {"taglib/excessive_alloc.mp3", "a tag longer than its file"},
        {"taglib/w000.mp3", "a tag longer than its file"},
        {"taglib/extended-header.mp3", "a tag as long as its file"},
        {"music-metadata/id3v2-utf16.mp3", "a tag as long as its file"},
        {"mutagen/emptyfile.mp3", "an empty file"},
        {"music-metadata/CWE-835.wma", "an object of size 0 inside the header"},
        {"music-metadata/max-numberOfObjectHeaders.wma", "an object larger than the header"},
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.first);
        std::string ext = input.first.substr(input.first.size() - 4) == ".wma" ? ".wma" : ".mp3";
        std::string host = machine.HostC("rt" + ext);
        mxtest::WriteHostFile(host, input.second);
        CAudioFileParse facade;
        int result = facade.SetAudioFileInfo(CString(("C:\\rt" + ext).c_str()), &info, mask);
        if (refused.count(input.first)) {
            EXPECT_NE(MAFR_OK, result);
            EXPECT_EQ(input.second, mxtest::ReadHostFile(host));
            continue;
        }
        EXPECT_EQ(MAFR_OK, result);
        if (result != MAFR_OK) continue;
        // A second save of one field keeps everything else.
        AUDIOFILEINFO track;
        track.strTrack = "7";
        EXPECT_EQ(MAFR_OK, facade.SetAudioFileInfo(CString(("C:\\rt" + ext).c_str()), &track, 0x8));
        EXPECT_EQ(AudioPart(input.second), AudioPart(mxtest::ReadHostFile(host)));
        TagLib::FileRef ref(host.c_str());
        EXPECT_FALSE(ref.isNull() || !ref.tag());
        if (ref.isNull() || !ref.tag()) continue;
        EXPECT_EQ("月亮代表我的心", ref.tag()->title().to8Bit(true));
        EXPECT_EQ("사랑해요 Björk", ref.tag()->artist().to8Bit(true));
        EXPECT_EQ("Café Noël", ref.tag()->album().to8Bit(true));
        EXPECT_EQ(1999u, ref.tag()->year());
        EXPECT_EQ("评论 über", ref.tag()->comment().to8Bit(true));
        TagLib::ByteVector pic = TagLibPicture(host);
        EXPECT_TRUE(pic.size() == info.vecPicture.size() && std::equal(info.vecPicture.begin(), info.vecPicture.end(), pic.begin()));
    }
}

}  // namespace
