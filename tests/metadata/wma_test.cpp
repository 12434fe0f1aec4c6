#include <string>
#include <vector>

#include "support/AsfBuilders.h"
#include "support/TagFile.h"

namespace {

using mxtest::AsfHeader;
using mxtest::CodecList;
using mxtest::ContentDescription;
using mxtest::ExtendedContent;
using mxtest::FileProperties;
using mxtest::Put;
using mxtest::W;

const std::string kData = std::string("DATAOBJECT") + std::string(200, 'd');  // what follows the header

class WmaTest : public mxtest::MachineTest {
protected:
    mxtest::TagFile<CWMAFileParse> song{machine, "song.wma"};
    AUDIOFILEINFO Parse(const std::string& bytes, int* result = nullptr, CWMAFileParse* parser = nullptr) {
        return song.Parse(bytes, result, parser);
    }
    int Write(const AUDIOFILEINFO& info, DWORD mask) { return song.Write(info, mask); }
    std::string Bytes() const { return song.Bytes(); }
};

TEST_F(WmaTest, TagsDurationAndBitRateAreRead) {
    std::string header = AsfHeader({FileProperties(2500000000ull, 3000), ContentDescription(u"\u4e2d\uC74C Title", u"Artist", u"(c)", u"note"),
                                    ExtendedContent({{u"WM/AlbumTitle", 0, W(u"Album")},
                                                     {u"wm/year", 0, W(u"2005")},
                                                     {u"WM/TrackNumber", 3, Put(7, 4)},
                                                     {u"WM/Genre", 0, W(u"(17)")},
                                                     {u"WM/Composer", 0, W(u"Comp")}}),
                                    CodecList(u"Windows Media Audio 9", u" 64 kbps, 44 kHz, stereo")});
    AUDIOFILEINFO info = Parse(header + kData);
    EXPECT_EQ(mxtest::Gbk("中음 Title"), info.strTitle);  // GB18030 holds what GBK cannot
    EXPECT_STREQ("Artist", info.strArtist);
    EXPECT_STREQ("(c)", info.strCopyright);
    EXPECT_STREQ("note", info.strComment);
    EXPECT_STREQ("Album", info.strAlbum);
    EXPECT_STREQ("2005", info.strYear);  // names ignore case
    EXPECT_STREQ("7", info.strTrack);
    EXPECT_EQ(17, info.byGenre);
    EXPECT_STREQ("Rock", info.strGenre);
    EXPECT_STREQ("Comp", info.strComposer);
    EXPECT_EQ(247, info.nDuration);  // (250000 ms - 3000) / 1000
    EXPECT_STREQ("64", info.strBitrate);
}

TEST_F(WmaTest, ProtectionScriptsAndVideoAreRecognised) {
    CWMAFileParse marked, plain;
    Parse(AsfHeader({mxtest::ContentEncryption("DRM"), mxtest::AsfObject(mxasf::kScriptCommand, std::string(20, '\0')),
                     mxtest::StreamProperties(true)}) + kData, nullptr, &marked);
    Parse(AsfHeader({mxtest::ContentEncryption("XYZ"), mxtest::StreamProperties(false)}) + kData, nullptr, &plain);
    for (auto flag : {&CWMAFileParse::IsDRM, &CWMAFileParse::IsScriptCommand, &CWMAFileParse::IsVideoStream}) {
        EXPECT_TRUE((marked.*flag)());
        EXPECT_FALSE((plain.*flag)());
    }
}

TEST_F(WmaTest, MissingAuthorTakesTheOriginalArtistOverTheAlbumArtist) {
    AUDIOFILEINFO info = Parse(AsfHeader({ContentDescription(u"t", u""), ExtendedContent({{u"WM/AlbumArtist", 0, W(u"AA")},
                                                                                          {u"WM/OriginalArtist", 0, W(u"OA")}})}) +
                               kData);
    EXPECT_STREQ("OA", info.strArtist);
    EXPECT_STREQ("AA", info.strAlbumArtist);
}

TEST_F(WmaTest, NotAnAsfFileOrAnObjectOfAnImpossibleSizeFails) {
    int result = -1;
    Parse(std::string(100, 'x'), &result);
    EXPECT_EQ(0, result);
    // The second object claims more than the header holds, or less than its own 24-byte head.
    const std::string first = ContentDescription(u"ok", u"a");
    for (uint64_t size : {uint64_t(0x7F000000), uint64_t(0), uint64_t(16), uint64_t(23)}) {
        std::string header = AsfHeader({first, mxtest::AsfObject("11111111-2222-3333-4444-555555555555", "")});
        header.replace(30 + first.size() + 16, 8, Put(size, 8));
        AUDIOFILEINFO info = Parse(header + kData, &result);
        EXPECT_EQ(0, result) << size;
        EXPECT_STREQ("ok", info.strTitle) << size;  // what came before stays
    }
}

TEST_F(WmaTest, WritingRebuildsTheHeaderAndRoundTrips) {
    std::string other = mxtest::AsfObject("11111111-2222-3333-4444-555555555555", "keep me");
    mxtest::WriteHostFile(machine.HostC("song.wma"),
                          AsfHeader({ContentDescription(u"old", u"artist", u"cr"), other,
                                     ExtendedContent({{u"WM/AlbumTitle", 0, W(u"old album")}, {u"Custom", 0, W(u"x")}})}) + kData);
    const std::vector<std::pair<CString AUDIOFILEINFO::*, CString>> texts = {
        {&AUDIOFILEINFO::strTitle, mxtest::Gbk("新标题")}, {&AUDIOFILEINFO::strAlbum, "New Album"}, {&AUDIOFILEINFO::strGenre, "Jpop"},
        {&AUDIOFILEINFO::strPictureMime, "image/jpeg"}, {&AUDIOFILEINFO::strPictureDesc, "front"}};
    AUDIOFILEINFO info;
    for (const auto& [field, value] : texts) info.*field = value;
    info.byGenre = 146;
    info.byPictureType = 3;
    info.vecPicture = {1, 2, 3, 4};
    ASSERT_EQ(1, Write(info, 0x0001 | 0x0004 | 0x0010 | 0x0020 | 0x0100));
    std::string bytes = Bytes();
    EXPECT_NE(std::string::npos, bytes.find(other));
    AUDIOFILEINFO back = Parse(bytes);
    for (const auto& [field, value] : texts) EXPECT_EQ(value, back.*field);
    EXPECT_STREQ("artist", back.strArtist);  // not selected: kept
    EXPECT_STREQ("cr", back.strCopyright);
    EXPECT_EQ(146, back.byGenre);
    EXPECT_EQ(info.vecPicture, back.vecPicture);
    EXPECT_NE(std::string::npos, bytes.find(W(u"Custom")));  // other attributes stay
    EXPECT_EQ(std::string::npos, bytes.find(W(u"old album")));
    EXPECT_NE(std::string::npos, bytes.find(W(u"(146)")));
}

TEST_F(WmaTest, TextsTheCodePageCannotHoldSurviveASaveOfTheRecordAsRead) {
    machine.SetCodePage("936");  // GBK has no Hangul: they read as '?'
    mxtest::WriteHostFile(machine.HostC("song.wma"), AsfHeader({ContentDescription(u"\uC0AC\uB791", u"\uC74C"),
                                                                ExtendedContent({{u"WM/AlbumTitle", 0, W(u"\uC568\uBC94")}})}) + kData);
    AUDIOFILEINFO info = Parse(Bytes());
    EXPECT_STREQ("??", info.strTitle);
    info.strArtist = mxtest::Gbk("新");
    ASSERT_EQ(1, Write(info, 0x1 | 0x2 | 0x4));
    std::string bytes = Bytes();
    EXPECT_NE(std::string::npos, bytes.find(W(u"\uC0AC\uB791")));
    EXPECT_NE(std::string::npos, bytes.find(W(u"\uC568\uBC94")));
    EXPECT_NE(std::string::npos, bytes.find(W(u"\u65B0")));  // a changed text is written
}

// Adding the objects a file lacks: TagLibAgreementTest writes to a header of File and Stream Properties only.
TEST_F(WmaTest, WritingToAFileThatIsNotAsfLeavesItUntouched) {
    mxtest::WriteHostFile(machine.HostC("song.wma"), std::string(64, 'x'));
    AUDIOFILEINFO info;
    info.strTitle = "t";
    EXPECT_EQ(0, Write(info, 0x1));
    EXPECT_EQ(std::string(64, 'x'), Bytes());
}

TEST_F(WmaTest, EveryTruncationOfTheHeaderFailsAndStillTellsTheHeaderSize) {
    std::string header = AsfHeader({FileProperties(1, 1), ContentDescription(u"t", u"a"),
                                    ExtendedContent({{u"WM/Picture", 1, std::string("\x03\x02\0\0\0", 5) + W(u"m") + W(u"d") + "PP"}}),
                                    mxtest::HeaderExtension({mxtest::MetadataLibrary({{u"WM/Year", 0, W(u"1999")}}),
                                                             mxtest::ExtendedStreamProperties(8000)}),
                                    CodecList(u"Windows Media Audio", u"1")});
    std::string bytes = header + kData;
    for (size_t n = 0; n < bytes.size(); ++n) {
        CMxFile image(bytes.data(), int(n));
        CWMAFileParse parser;
        AUDIOFILEINFO info;
        DWORD size = 0;
        EXPECT_EQ(n >= header.size() ? 1 : 0, parser.ParseBuffer(&image, &size, &info, -1)) << n;
        // Once the size field is in, a caller learns how many bytes the header needs.
        EXPECT_EQ(n >= 24 ? DWORD(header.size()) : DWORD(-1), size) << n;
    }
}

TEST_F(WmaTest, ValuesTooLongForSixteenBitLengthsGoToTheMetadataLibraryOrAreRefused) {
    const std::string original = AsfHeader({FileProperties(0, 0), ContentDescription(u"t", u"a"),
                                            ExtendedContent({{u"WM/Picture", 1, "stale"}})}) + kData;
    struct {
        size_t picture, album, title;
        int result;
    } rows[] = {{100, 10, 10, 1}, {70000, 10, 10, 1}, {100, 40000, 10, 1}, {100, 10, 40000, 0}};
    for (const auto& row : rows) {
        mxtest::WriteHostFile(machine.HostC("song.wma"), original);
        AUDIOFILEINFO info;
        info.vecPicture.assign(row.picture, 'p');
        info.strAlbum = CString(std::string(row.album, 'b'));
        info.strTitle = CString(std::string(row.title, 't'));  // 2 bytes a character: 40000 do not fit
        ASSERT_EQ(row.result, Write(info, 0x1 | 0x4 | 0x100)) << row.picture;
        if (!row.result) {
            EXPECT_EQ(original, Bytes());
            continue;
        }
        AUDIOFILEINFO year;
        year.strYear = "1999";
        ASSERT_EQ(1, Write(year, 0x40));  // a later save keeps them whole
        std::string bytes = Bytes();
        AUDIOFILEINFO back = Parse(bytes);
        EXPECT_EQ(info.vecPicture, back.vecPicture) << row.picture;
        EXPECT_EQ(info.strAlbum, back.strAlbum) << row.album;
        EXPECT_EQ(info.strTitle, back.strTitle);
        EXPECT_STREQ("1999", back.strYear);
        EXPECT_EQ(std::string::npos, bytes.find("stale"));  // the old picture is gone wherever the new one went
        // The File Properties' file size (the first object's payload at 16) follows the new length.
        EXPECT_EQ(uint64_t(bytes.size()), mxasf::Get(reinterpret_cast<const unsigned char*>(bytes.data()) + 30 + 24 + 16, 8));
    }
}

// "vbr" when the file says so, else the codec's description, else the stream's rate; the play time is
// the duration less the preroll, negative if so.
TEST_F(WmaTest, BitRateAndPlayTimeComeFromTheFirstSourceThatHasThem) {
    // ffmpeg writes a codec list with an empty description.
    const std::string codecs = CodecList(u"Windows Media Audio V8", u"");
    const std::string properties = FileProperties(0, 0, 64000);
    struct {
        std::vector<std::string> objects;
        const char* bitrate;
        int duration;
    } rows[] = {
        {{FileProperties(10000000ull, 5000), ExtendedContent({{u"IsVBR", 2, Put(1, 4)}}), CodecList(u"Windows Media Audio", u"128 kbps")}, "vbr", -4},
        {{properties, mxtest::StreamProperties(false, 16000), codecs}, "128", 0},  // the stream's bytes a second first
        {{properties, mxtest::HeaderExtension({mxtest::ExtendedStreamProperties(96000)}), codecs}, "96", 0},
        {{properties, codecs}, "64", 0},
        {{properties, mxtest::StreamProperties(false, 16000), CodecList(u"Windows Media Audio 9", u"32 kbps")}, "32", 0},
        // Found by fuzzing: the subtraction overflowed a signed 64-bit number; now it wraps.
        {{FileProperties(0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull)}, "", 431063534},
    };
    for (const auto& row : rows) {
        AUDIOFILEINFO info = Parse(AsfHeader(row.objects) + kData);
        EXPECT_STREQ(row.bitrate, info.strBitrate) << row.bitrate;
        EXPECT_EQ(row.duration, info.nDuration) << row.bitrate;
    }
}

TEST_F(WmaTest, WritingADescriptionTextDropsItsStaleCopyAmongTheAttributes) {
    // ffmpeg keeps the title and the author in both objects; other readers take the attribute.
    mxtest::WriteHostFile(machine.HostC("song.wma"),
                          AsfHeader({ContentDescription(u"old", u"artist"),
                                     ExtendedContent({{u"title", 0, W(u"old")}, {u"Author", 0, W(u"artist")}}),
                                     mxtest::HeaderExtension({mxtest::MetadataLibrary({{u"Title", 0, W(u"old")}})})}) + kData);
    AUDIOFILEINFO info;
    info.strTitle = "new";
    ASSERT_EQ(1, Write(info, 0x1));
    std::string bytes = Bytes();
    EXPECT_EQ(std::string::npos, bytes.find(W(u"old")));
    EXPECT_NE(std::string::npos, bytes.find(W(u"Author")));  // not written: its copy stays
    EXPECT_STREQ("new", Parse(bytes).strTitle);
}

}  // namespace
