#include <string>
#include <vector>

#include "MxModule/metadata/GenreTable.h"
#include "support/AudioBuilders.h"
#include "support/TempMachine.h"

namespace {

using mxtest::Frames;
using mxtest::Mpeg1Layer3Header128;
using mxtest::MpegHeader;
using mxtest::Tag;
using mxtest::XingFrame;

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

TEST(MP3InfoTest, NoPairOfFrameHeadersGivesNothing) {
    Computed c = Compute(std::string(50000, '\0') + Mpeg1Layer3Header128() + std::string(1000, '\0'));
    EXPECT_EQ(0, c.ok);
    EXPECT_EQ(0, c.duration);
    EXPECT_EQ("0", c.bitrate);
}

TEST(MP3InfoTest, SyncBytesInsideTheTagAreNotFrames) {
    // The tag body is full of frame headers; the scan starts after it.
    std::string tag = Tag(3, Frames(MpegHeader(3, 1, 14, 1), 960, 20));
    EXPECT_EQ("128", Compute(tag + Frames(Mpeg1Layer3Header128(), 417, 100)).bitrate);
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

TEST(MP3InfoTest, EveryTruncationOfAFrameRunIsHandled) {
    std::string bytes = Tag(3, "", 64) + XingFrame(Mpeg1Layer3Header128(), 417, 7) + Frames(Mpeg1Layer3Header128(), 417, 3);
    for (size_t n = 0; n <= bytes.size(); ++n) {
        Computed c = Compute(bytes.substr(0, n));
        EXPECT_GE(c.duration, 0);
        if (n < 74 + 417 + 2) {
            EXPECT_EQ(0, c.ok) << n;  // a frame counts only with the next header after it
        }
    }
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
