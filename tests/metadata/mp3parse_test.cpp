#include <string>
#include <tuple>
#include <vector>

#include "MxModule/metadata/GenreTable.h"
#include "library/LibraryFixture.h"
#include "support/AudioBuilders.h"
#include "support/TagFile.h"

namespace {

using mxtest::Frame2;
using mxtest::Frame3;
using mxtest::Frame4;
using mxtest::Frames;
using mxtest::Gbk;
using mxtest::Id3v1;
using mxtest::Mpeg1Layer3Header128;
using mxtest::MpegHeader;
using mxtest::Tag;
using mxtest::Tag4;
using mxtest::Utf16;
using mxtest::XingFrame;

// Audio after the tag: 40 frames of 128 kbit/s.
std::string Audio() { return Frames(Mpeg1Layer3Header128(), 417, 40); }

std::string Text(const std::string& s) { return std::string(1, '\0') + s; }

class MP3ParseTest : public mxtest::FacadeTest {
protected:
    mxtest::TagFile<CMP3FileParse> song{machine, "song.mp3"};
    AUDIOFILEINFO Parse(const std::string& bytes, int* result = nullptr) { return song.Parse(bytes, result); }
    int Write(const AUDIOFILEINFO& info, DWORD mask) { return song.Write(info, mask); }
    std::string Bytes() const { return song.Bytes(); }
};

// Unicode text in a version-3 tag asks for a version change, which reading leaves to a save.
TEST_F(MP3ParseTest, UnicodeInAVersion3TagAsksForAVersionChange) {
    CMP3FileParse unicode, plain;
    const std::string bytes = Tag(3, Frame3("TPE1", std::string(1, '\x01') + Utf16(u"\u6b4c\u624b"))) + Audio();
    song.Parse(bytes, nullptr, &unicode);
    EXPECT_EQ(1, unicode.IsNeedModifyVersion());
    EXPECT_EQ(bytes, Bytes());
    song.Parse(Tag(3, Frame3("TIT2", Text("plain"))) + Audio(), nullptr, &plain);
    EXPECT_EQ(0, plain.IsNeedModifyVersion());
}

TEST_F(MP3ParseTest, GenreTextsAndCodes) {
    const std::vector<std::tuple<std::string, int, const char*>> cases = {
        {"(17)", 17, "Rock"}, {"Rock", 17, "Rock"}, {"()", 255, "()"}, {"(300)", 44, "Space"}, {"Weird", 255, "Weird"},
        {"(52)(53)", 52, "Electronic"}};
    for (const auto& [text, code, name] : cases) {
        AUDIOFILEINFO info = Parse(Tag(3, Frame3("TCON", Text(text))) + Audio());
        EXPECT_EQ(code, info.byGenre) << text;
        EXPECT_STREQ(name, info.strGenre) << text;
    }
}

struct TextCase {
    const char* what;
    std::string bytes;  // the whole file
    CString AUDIOFILEINFO::*field;
    CString expected;
};

// Texts in every encoding, and tags as other taggers write them and as earlier versions of this module
// wrote them.
TEST_F(MP3ParseTest, FrameAndId3v1TextsOfEveryWriterAreDecoded) {
    const std::string longTitle(300, 'L');
    std::string unsync;  // a UTF-16 title, each FF of its mark followed by 00 as unsynchronisation does
    for (char c : Frame3("TIT2", std::string(1, '\x01') + Utf16(u"ab"))) unsync += c == '\xFF' ? std::string("\xFF\0", 2) : std::string(1, c);
    std::string unsyncTag = Tag(3, unsync);
    unsyncTag[5] = char(0x80);
    std::string dli = Frame4("TIT2", std::string("\0\0\0\x04\x03" "dli", 8));
    dli[9] = 0x01;  // data length indicator
    std::string flagOnly = Tag4(Frame4("TIT2", Text("flag")), 0);
    flagOnly[5] = 0x40;
    const std::string title = Gbk("中文标题").str();
    std::string v1 = Id3v1("v1 title", "v1 artist", 200, 17, "tag");
    v1.replace(93, 4, "2007");
    const std::string both = Tag(3, Frame3("TIT2", Text("v2 title"))) + Audio() + v1;
    const std::string garbage = std::string("\x01\x02junk", 6) + Frame3("TIT2", Text("first")) + Frame3("XXXX", "zz") +
                                Frame3("TIT2", Text("second")) + Frame3("TPE1", "");
    const std::vector<TextCase> cases = {
        {"GBK", Tag(3, Frame3("TIT2", Text(title))) + Audio(), &AUDIOFILEINFO::strTitle, title.c_str()},
        {"UTF-16 outside GBK", Tag(3, Frame3("TPE1", std::string(1, '\x01') + Utf16(u"\u6b4c\uC74C\U0001F600"))) + Audio(),
         &AUDIOFILEINFO::strArtist, Gbk("歌음😀")},
        {"UTF-8", Tag(3, Frame3("TALB", "\x03\xE4\xB8\x93\xE8\xBE\x91")) + Audio(), &AUDIOFILEINFO::strAlbum, Gbk("专辑")},
        {"track trimmed", Tag(3, Frame3("TRCK", Text(" 7 "))) + Audio(), &AUDIOFILEINFO::strTrack, "7"},
        {"first frame of a kind, garbage skipped", Tag(3, garbage) + Audio(), &AUDIOFILEINFO::strTitle, "first"},
        {"big-endian mark", Tag(4, Frame3("TIT2", std::string("\x01\xFE\xFF\0A\0B\0\0", 9))) + Audio(), &AUDIOFILEINFO::strTitle, "AB"},
        {"encoding 2 without a mark", Tag(4, Frame3("TPE1", std::string("\x02\x4E\x2D\0\0", 5))) + Audio(), &AUDIOFILEINFO::strArtist, Gbk("中")},
        // The comment's description is not skipped: the text read starts with it and ends at its terminator.
        {"comment description", Tag(3, Frame3("COMM", std::string("\0eng", 4) + "x" + std::string(1, '\0') + "hello")) + Audio(),
         &AUDIOFILEINFO::strComment, "x"},
        {"empty description", Tag(3, Frame3("COMM", std::string("\0chi\0", 5) + "plain")) + Audio(), &AUDIOFILEINFO::strComment, "plain"},
        {"cut in a character", Tag(3, Frame3("TIT2", Text(Gbk("中文").str().substr(0, 3)))) + Audio(), &AUDIOFILEINFO::strTitle, Gbk("中")},
        {"ID3v1 fills the gaps", both, &AUDIOFILEINFO::strArtist, "v1 artist"},
        {"ID3v2 wins", both, &AUDIOFILEINFO::strTitle, "v2 title"},
        {"ID3v1 track", both, &AUDIOFILEINFO::strTrack, "200"},
        {"ID3v1 year", both, &AUDIOFILEINFO::strYear, "2007"},
        {"ID3v1 genre", both, &AUDIOFILEINFO::strGenre, "Rock"},
        {"ID3v1 no genre", Audio() + Id3v1("t", "", 1, 255), &AUDIOFILEINFO::strGenre, "Unknow"},
        {"ID3v1 30-byte title", Audio() + Id3v1(std::string(30, 'T'), "", 1, 255), &AUDIOFILEINFO::strTitle, std::string(30, 'T').c_str()},
        {"ID3v1 GBK title", Audio() + Id3v1(title, Gbk("歌手").str(), 1, 1), &AUDIOFILEINFO::strTitle, title.c_str()},
        {"ID3v1 GBK artist", Audio() + Id3v1(title, Gbk("歌手").str(), 1, 1), &AUDIOFILEINFO::strArtist, Gbk("歌手")},
        // Cut after 29 bytes of double-byte text, the dangling lead byte goes.
        {"ID3v1 cut", Audio() + Id3v1(std::string(29, 'x') + "\xD6", "", 1, 1), &AUDIOFILEINFO::strTitle, std::string(29, 'x').c_str()},
        {"7-bit sizes", Tag4(Frame4("TIT2", Text(longTitle)) + Frame4("TPE1", Text("artist")), 512) + Audio(), &AUDIOFILEINFO::strArtist, "artist"},
        {"plain sizes in version 4", Tag(4, Frame3("TIT2", Text(longTitle)) + Frame3("TPE1", Text("artist"))) + Audio(), &AUDIOFILEINFO::strArtist, "artist"},
        {"footer", Tag4(Frame4("TPE1", Text("footed")), 0, true) + Audio(), &AUDIOFILEINFO::strArtist, "footed"},
        {"whole tag unsynchronised", unsyncTag + Audio(), &AUDIOFILEINFO::strTitle, "ab"},
        {"data length indicator", Tag4(dli, 0) + Audio(), &AUDIOFILEINFO::strTitle, "dli"},
        {"version-4 year", Tag4(Frame4("TYER", Text("1990")) + Frame4("TDRC", Text("2004-05")), 0) + Audio(), &AUDIOFILEINFO::strYear, "2004-05"},
        {"version-3 year", Tag(3, Frame3("TDRC", Text("2004")) + Frame3("TYER", Text("1990"))) + Audio(), &AUDIOFILEINFO::strYear, "1990"},
        {"frames after the padding", Tag(3, Frame3("TIT2", Text("t")) + std::string(1024, '\0') + Frame3("TPE1", Text("late"))) + Audio(),
         &AUDIOFILEINFO::strArtist, "late"},
        {"extended-header flag without one", flagOnly + Audio(), &AUDIOFILEINFO::strTitle, "flag"},
        // Plain sizes whose 7-bit reading lands on zeros inside a picture.
        {"plain size into zeros", Tag(4, Frame3("APIC", std::string("\0image/jpeg\0\x03\0", 14) + std::string(286, '\0')) +
                                             Frame3("TCOM", Text("composer"))) + Audio(), &AUDIOFILEINFO::strComposer, "composer"},
        {"UTF-16 comment starting with U+4E00", Tag(3, Frame3("COMM", std::string("\x01" "eng\xFF\xFE\0\0", 8) + Utf16(u"\u4e00\u9996"))) + Audio(),
         &AUDIOFILEINFO::strComment, Gbk("一首")},
        {"Latin-1 text of a Western tagger", Tag(3, Frame3("TIT2", Text("Caf\xE9 M\xFCller"))) + Audio(), &AUDIOFILEINFO::strTitle,
         MxUtf8ToAnsi("Café Müller")},
        {"Latin-1 ending in a letter", Tag(3, Frame3("TIT2", Text("Jos\xE9"))) + Audio(), &AUDIOFILEINFO::strTitle, MxUtf8ToAnsi("José")},
        {"ID3v1 Latin-1, padded with spaces", Audio() + Id3v1("Caf\xE9 Del Mar   ", "", 1, 1), &AUDIOFILEINFO::strTitle, MxUtf8ToAnsi("Café Del Mar")},
        {"the comment without description", Tag(3, Frame3("COMM", std::string("\0engiTunSMPB\0 0000", 18)) + Frame3("COMM", std::string("\0eng\0mine", 9))) + Audio(),
         &AUDIOFILEINFO::strComment, "mine"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(c.expected, Parse(c.bytes).*c.field) << c.what;
    EXPECT_EQ(17, Parse(both).byGenre);
}


// Written texts read the same everywhere: ASCII as it is, other text as UTF-16 with a mark in a version-3
// tag and as UTF-8 in a version-4 tag; frame sizes of version 4 in 7 bits; the year in "TDRC".
TEST_F(MP3ParseTest, WrittenFramesUseTheEncodingsAndSizesOfTheirVersion) {
    AUDIOFILEINFO info;
    info.strTitle = Gbk("月");
    info.strArtist = std::string(200, 'a').c_str();
    info.strYear = "2010";
    mxtest::WriteHostFile(machine.HostC("song.mp3"), Tag(3, Frame3("TIT2", Text("x"))) + Audio());
    ASSERT_EQ(1, Write(info, 0x43));
    EXPECT_NE(std::string::npos, Bytes().find(Frame3("TIT2", std::string("\x01\xFF\xFE\x08\x67", 5))));
    EXPECT_NE(std::string::npos, Bytes().find(Frame3("TYER", Text("2010"))));
    mxtest::WriteHostFile(machine.HostC("song.mp3"), Tag4(Frame4("TYER", Text("1990")) + Frame4("TIT2", Text("x")), 0, true) + Audio());
    ASSERT_EQ(1, Write(info, 0x43));
    EXPECT_EQ(Tag(4, Frame4("TDRC", Text("2010")) + Frame4("TIT2", "\x03\xE6\x9C\x88") + Frame4("TPE1", Text(info.strArtist.str()))) + Audio(),
              Bytes());
    // A first ID3v2 tag takes the ID3v1 fields too: readers that find it no longer look at the ID3v1 tag.
    mxtest::WriteHostFile(machine.HostC("song.mp3"), Audio() + Id3v1("V1 Title", "V1 Artist", 1, 255));
    ASSERT_EQ(1, Write(info, 0x40));
    const std::string seeded = Tag(4, Frame4("TIT2", Text("V1 Title")) + Frame4("TPE1", Text("V1 Artist")) + Frame4("TDRC", Text("2010")));
    EXPECT_EQ(seeded, Bytes().substr(0, seeded.size()));
}

// A save replaces the comment without description and the picture of the same type; what other
// players stored beside them (a gapless-playback comment, a back cover) stays.
TEST_F(MP3ParseTest, ASaveKeepsTheCommentsAndPicturesOfOthers) {
    const std::string smpb = Frame3("COMM", std::string("\0engiTunSMPB\0 0000", 18));
    const std::string back = Frame3("APIC", std::string("\0image/png\0\x04\0BACK", 16));
    mxtest::WriteHostFile(machine.HostC("song.mp3"), Tag(3, smpb + back + Frame3("COMM", std::string("\0eng\0old", 8)), 256) + Audio());
    AUDIOFILEINFO info;
    info.strComment = "new";
    info.byPictureType = 3;
    info.vecPicture = {'F', 'R', 'O', 'N', 'T'};
    ASSERT_EQ(1, Write(info, 0x180));
    EXPECT_NE(std::string::npos, Bytes().find(smpb));
    EXPECT_NE(std::string::npos, Bytes().find(back));
    AUDIOFILEINFO read = Parse(Bytes());
    EXPECT_STREQ("new", read.strComment);
    EXPECT_EQ(info.vecPicture, read.vecPicture);
    // A picture of no given type takes the front cover's place too: it is the one shown afterwards.
    info.byPictureType = 255;
    info.vecPicture = {'A', 'N', 'Y'};
    ASSERT_EQ(1, Write(info, 0x100));
    EXPECT_EQ(info.vecPicture, Parse(Bytes()).vecPicture);
    EXPECT_NE(std::string::npos, Bytes().find(back));
}

// A save that grows the file past what the disk takes fails and leaves every byte as it was.
TEST_F(MP3ParseTest, ASaveTheDiskRefusesLeavesTheFileAsItWas) {
    const std::string before = Tag(3, Frame3("TIT2", Text("t"))) + Audio();
    mxtest::WriteHostFile(machine.HostC("song.mp3"), before);
    EXPECT_EQ(0, mxtest::WithFileSizeLimit(off_t(before.size() + 1000), [&] {
        AUDIOFILEINFO info;
        info.vecPicture.assign(5000, 'P');
        return Write(info, 0x100);
    }));
    EXPECT_EQ(before, Bytes());
}

// A save keeps the tag's room: the first frame of a kind is replaced, a second one dropped, others kept;
// new frames go before the padding, which shrinks. A tag that counted its own header gets its true size
// and the audio's first bytes stay audio.
TEST_F(MP3ParseTest, ASaveRewritesTheTagInItsOwnRoom) {
    std::string counted = Tag(3, Frame3("TIT2", Text("t")), 10);
    for (int i = 0; i < 4; ++i) counted[6 + size_t(i)] = char((counted.size() >> (21 - 7 * i)) & 0x7F);
    EXPECT_STREQ("t", Parse(counted + Audio()).strTitle);
    const std::string frames = Frame3("TIT2", Text("old")) + Frame3("TXXX", Text("keep")) + Frame3("TIT2", Text("dup"));
    struct Row { const char* what; std::string before; const char *title, *artist; DWORD mask; std::string after; };
    const Row rows[] = {
        {"header counted in", counted, "t", "", 0x1, Tag(3, Frame3("TIT2", Text("t")), 10)},
        {"frames replaced, dropped, added", Tag(3, frames, 30), "new", "artist", 0x3,
         Tag(3, Frame3("TIT2", Text("new")) + Frame3("TXXX", Text("keep")) + Frame3("TPE1", Text("artist")), 27)},
    };
    for (const Row& row : rows) {
        Parse(row.before + Audio());
        EXPECT_EQ(row.before + Audio(), Bytes()) << row.what;  // reading writes nothing
        AUDIOFILEINFO info;
        info.strTitle = row.title, info.strArtist = row.artist;
        ASSERT_EQ(1, Write(info, row.mask)) << row.what;
        EXPECT_EQ(row.after + Audio(), Bytes()) << row.what;
    }
}

TEST_F(MP3ParseTest, EveryWriterRoundTripsIncludingAPicture) {
    mxtest::WriteHostFile(machine.HostC("song.mp3"), Tag(3, Frame3("TIT2", Text("x")), 64) + Audio() + Id3v1("t", "a", 1, 1));
    using F = CString AUDIOFILEINFO::*;
    const std::vector<std::pair<F, CString>> texts = {
        {&AUDIOFILEINFO::strTitle, Gbk("标题")}, {&AUDIOFILEINFO::strArtist, "Artist"}, {&AUDIOFILEINFO::strAlbum, "Album"},
        {&AUDIOFILEINFO::strTrack, "3"}, {&AUDIOFILEINFO::strGenre, "Jpop"}, {&AUDIOFILEINFO::strYear, "2001"},
        {&AUDIOFILEINFO::strComment, Gbk("评论")}, {&AUDIOFILEINFO::strPictureMime, "image/png"}, {&AUDIOFILEINFO::strPictureDesc, "cover"},
        {&AUDIOFILEINFO::strComposer, "Composer"}, {&AUDIOFILEINFO::strCopyright, "(c)"}, {&AUDIOFILEINFO::strEncodedBy, "enc"},
        {&AUDIOFILEINFO::strOriginalArtist, "orig"}};
    AUDIOFILEINFO info;
    for (const auto& [field, value] : texts) info.*field = value;
    info.byPictureType = 3;
    info.vecPicture = {0x89, 'P', 'N', 'G', 0, 0, 1, 2};
    ASSERT_EQ(1, Write(info, 0x1FFF));
    AUDIOFILEINFO back = Parse(Bytes());
    for (const auto& [field, value] : texts) EXPECT_EQ(value, back.*field);
    EXPECT_EQ(146, back.byGenre);
    EXPECT_EQ(3, back.byPictureType);
    EXPECT_EQ(info.vecPicture, back.vecPicture);
    EXPECT_EQ(Id3v1("t", "a", 1, 1), Bytes().substr(Bytes().size() - 128));  // the end of the file is carried over
}

TEST_F(MP3ParseTest, Version2TagsUseThreeLetterFrames) {
    std::string pic = std::string("\0JPG\x03", 5) + "d" + std::string(1, '\0') + "IMG";
    std::string frames = Frame2("TT2", Text("two")) + Frame2("TP1", Text("art")) + Frame2("PIC", pic);
    AUDIOFILEINFO info = Parse(Tag(2, frames) + Audio());
    EXPECT_STREQ("two", info.strTitle);
    EXPECT_STREQ("art", info.strArtist);
    EXPECT_STREQ("", info.strPictureMime);
    EXPECT_EQ(3, info.byPictureType);
    EXPECT_STREQ("d", info.strPictureDesc);
    EXPECT_EQ((std::vector<BYTE>{'I', 'M', 'G'}), info.vecPicture);
    info.strTitle = "new";
    ASSERT_EQ(1, Write(info, 0x0001));
    EXPECT_EQ(std::string("ID3\x02\0\0", 6), Bytes().substr(0, 6));
    EXPECT_EQ(10u, Bytes().find(Frame2("TT2", Text("new")) + Frame2("TP1", Text("art")) + Frame2("PIC", pic)));
    info.strPictureMime = "image/png";  // a version-2 picture names its format in three letters
    ASSERT_EQ(1, Write(info, 0x0100));
    EXPECT_NE(std::string::npos, Bytes().find(Frame2("PIC", std::string("\0PNG\x03", 5) + "d" + std::string(1, '\0') + "IMG")));
}

TEST_F(MP3ParseTest, EveryTruncationOfTheTagRegionParses) {
    std::string pic = std::string("\0image/jpeg\0\x03", 13) + "desc" + std::string(1, '\0') + std::string(100, 'P');
    std::string bytes = Tag(3, Frame3("TIT2", std::string(1, '\x01') + Utf16(u"title")) + Frame3("APIC", pic) +
                                   Frame3("COMM", std::string("\0eng\0c", 6)) + Frame3("TCON", Text("(9)")), 16) +
                        Audio();
    for (size_t n = 120; n < 400; ++n) {
        int result = -1;
        Parse(bytes.substr(0, n), &result);
        EXPECT_EQ(n >= 128 ? 1 : 0, result) << n;  // shorter than an ID3v1 tag: refused
    }
}

struct Computed {
    int ok, duration;
    std::string bitrate;
};

Computed Compute(const std::string& bytes, int total = -1) {
    CMxFile file(bytes.data(), int(bytes.size()));
    CMP3Info info;
    int ok = info.Calculate(&file, total);
    return {ok, info.GetDuration(), info.GetBitrateText().str()};
}

DWORD Header(const std::string& h) {
    return DWORD(BYTE(h[0])) << 24 | DWORD(BYTE(h[1])) << 16 | DWORD(BYTE(h[2])) << 8 | BYTE(h[3]);
}

struct FrameCase {
    int version, layer, rateIndex, srIndex, padding;
    int length;
    DWORD bitrate;
};

TEST(MP3InfoTest, FrameLengthsFollowTheStandardTables) {
    const std::vector<FrameCase> cases = {
        {3, 1, 9, 0, 0, 417, 128},   // MPEG-1 Layer III 128 kbit/s 44100 Hz
        {3, 1, 9, 0, 1, 418, 128},   // with padding
        {3, 1, 14, 1, 0, 960, 320},  // 320 kbit/s 48000 Hz
        {3, 2, 14, 2, 0, 1728, 384}, // Layer II 384 kbit/s 32000 Hz
        {3, 3, 1, 0, 1, 36, 32},     // Layer I: (12000 * 32 / 44100 + 1) * 4
        {2, 1, 8, 0, 0, 208, 64},    // MPEG-2 Layer III 64 kbit/s 22050 Hz: 72000 * 64 / 22050
        {0, 1, 1, 2, 0, 72, 8},      // MPEG-2.5 Layer III 8 kbit/s 8000 Hz
        {2, 2, 14, 0, 0, 1044, 160}, // MPEG-2 Layer II uses the 144000 rule
        {1, 1, 9, 0, 0, 0, 0},       // reserved version
        {3, 0, 9, 0, 0, 0, 0},       // reserved layer
        {3, 1, 0, 0, 0, 0, 0},       // free bit rate
        {3, 1, 15, 0, 0, 0, 0},      // bad bit rate
        {3, 1, 9, 3, 0, 0, 0},       // reserved sample rate
    };
    for (const FrameCase& c : cases) {
        double duration = -1;
        DWORD bitrate = 99;
        int length = CMP3Info::FrameLength(Header(MpegHeader(c.version, c.layer, c.rateIndex, c.srIndex, c.padding)),
                                           &duration, &bitrate);
        EXPECT_EQ(c.length, length) << c.version << "/" << c.layer << "/" << c.rateIndex;
        EXPECT_EQ(c.bitrate, bitrate);
        EXPECT_DOUBLE_EQ(c.length ? c.length * 8.0 / (c.bitrate * 1000.0) : 0.0, duration);
    }
}

TEST(MP3InfoTest, ConstantRateFileOfFourMillionAudioBytes) {
    std::string audio = Frames(Mpeg1Layer3Header128(), 417, 4000000 / 417);
    audio.resize(4000000, '\0');
    Computed c = Compute(audio);
    EXPECT_EQ(1, c.ok);
    EXPECT_EQ(249, c.duration);  // 9592 frames of 0.0260625 s = 249.9915
    EXPECT_EQ("128", c.bitrate);
    // Behind an ID3v2 tag the audio is measured from the frame on; the total length of a partial file
    // gives the whole play time.
    EXPECT_EQ(249, Compute(Tag(3, std::string(5000, '\xFF')) + audio).duration);
    EXPECT_EQ(249, Compute(audio.substr(0, 30 * 417), 4000000).duration);
    // A tag body full of frame headers of another rate: the scan starts after it.
    EXPECT_EQ("128", Compute(Tag(3, Frames(MpegHeader(3, 1, 14, 1), 960, 20)) + audio.substr(0, 100 * 417)).bitrate);
}

TEST(MP3InfoTest, XingHeaderGivesTheFrameCountOfAVariableRateFile) {
    std::string audio = XingFrame(Mpeg1Layer3Header128(), 417, 10000) + Frames(Mpeg1Layer3Header128(), 417, 50);
    Computed c = Compute(audio);
    EXPECT_EQ(1, c.ok);
    EXPECT_EQ(261, c.duration);  // 10000 * 0.0260625 + 0.9 = 261.525
    EXPECT_EQ("vbr", c.bitrate);
    // "Xing" must start 16 bytes before the frame's end at the latest.
    EXPECT_EQ("vbr", Compute(XingFrame(Mpeg1Layer3Header128(), 417, 1, 417 - 16) + Frames(Mpeg1Layer3Header128(), 417, 3)).bitrate);
    EXPECT_EQ("128", Compute(XingFrame(Mpeg1Layer3Header128(), 417, 1, 417 - 15) + Frames(Mpeg1Layer3Header128(), 417, 3)).bitrate);
    // An "Info" header (constant rate) in a 112 kbit/s frame before 128 kbit/s audio: the audio's rate.
    std::string info = XingFrame(mxtest::MpegHeader(3, 1, 8, 0), 365, 10000);
    info.replace(36, 4, "Info");
    Computed cbr = Compute(info + Frames(Mpeg1Layer3Header128(), 417, 50));
    EXPECT_EQ(261, cbr.duration);  // 10000 * 365 * 8 / 112000 + 0.9
    EXPECT_EQ("128", cbr.bitrate);
}

TEST(MP3InfoTest, FirstFrameFarIntoTheAudioIsFoundThroughOverlappingWindows) {
    // Each window searches 10240 bytes and needs the next header inside them: a frame that crosses the
    // end of a window is passed over, and the next window (half overlapping) finds the frame after it.
    const std::vector<std::pair<size_t, DWORD>> cases = {
        {0, 60 * 417}, {10000, 59 * 417}, {10239, 59 * 417}, {10240, 60 * 417}, {20470, 59 * 417}, {35000, 60 * 417}};
    for (const auto& c : cases) {
        std::string bytes = std::string(c.first, '\0') + Frames(Mpeg1Layer3Header128(), 417, 60);
        CMxFile file(bytes.data(), int(bytes.size()));
        CMP3Info info;
        ASSERT_EQ(1, info.Calculate(&file, -1)) << c.first;
        EXPECT_EQ(c.second, info.GetAudioLength()) << c.first;  // measured from the frame found
        EXPECT_EQ(int((c.second / 417) * 0.0260625), info.GetDuration());
    }
}

TEST(MP3InfoTest, EveryTruncationOfAFrameRunIsHandledAndALoneHeaderGivesNothing) {
    std::string bytes = Tag(3, "", 64) + XingFrame(Mpeg1Layer3Header128(), 417, 7) + Frames(Mpeg1Layer3Header128(), 417, 3);
    for (size_t n = 0; n <= bytes.size(); ++n) {
        Computed c = Compute(bytes.substr(0, n));
        EXPECT_GE(c.duration, 0);
        if (n < 74 + 417 + 2) {
            EXPECT_EQ(0, c.ok) << n;  // a frame counts only with the next header after it
        }
    }
    Computed lone = Compute(std::string(50000, '\0') + Mpeg1Layer3Header128() + std::string(1000, '\0'));
    EXPECT_EQ((std::make_tuple(0, 0, std::string("0"))), std::make_tuple(lone.ok, lone.duration, lone.bitrate));
}

TEST(GenreTableTest, NamesAndCodesBothWays) {
    const std::vector<std::pair<int, const char*>> table = {
        {0, "Blues"}, {17, "Rock"}, {92, "Progessive Rock"}, {144, "Trash Metal"}, {146, "Jpop"}, {147, "Synthpop"},
        {148, "Unknow"}, {255, "Unknow"}};
    for (const auto& row : table) EXPECT_STREQ(row.second, mxmeta::GenreName(BYTE(row.first))) << row.first;
    EXPECT_EQ(92, mxmeta::GenreCode("Progessive Rock"));
    EXPECT_EQ(255, mxmeta::GenreCode("Progressive Rock"));
    EXPECT_EQ(147, mxmeta::GenreCode("Synthpop"));
    EXPECT_EQ(255, mxmeta::GenreCode("synthpop"));
    EXPECT_EQ(255, mxmeta::GenreCode("Unknow"));
    EXPECT_EQ(255, mxmeta::GenreCode(" Rock"));
    for (int code = 0; code < 148; ++code) EXPECT_EQ(code, mxmeta::GenreCode(mxmeta::GenreName(BYTE(code))));
}

}  // namespace
