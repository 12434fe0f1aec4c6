// Byte-by-byte builders of audio files for tests, so that each test shows the bytes it depends on.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace mxtest {

// A 4-byte MPEG audio frame header. version: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5; layer: 3 I, 2 II, 1 III.
inline std::string MpegHeader(int version, int layer, int bitrateIndex, int sampleRateIndex, int padding = 0) {
    uint32_t h = 0xFFE00000u | uint32_t(version) << 19 | uint32_t(layer) << 17 | 1u << 16 |
                 uint32_t(bitrateIndex) << 12 | uint32_t(sampleRateIndex) << 10 | uint32_t(padding) << 9;
    return std::string{char(h >> 24), char(h >> 16), char(h >> 8), char(h)};
}

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz: frames of 417 bytes (418 with padding).
inline std::string Mpeg1Layer3Header128(int padding = 0) { return MpegHeader(3, 1, 9, 0, padding); }

// `count` frames of `length` bytes, each starting with `header`, the rest zero.
inline std::string Frames(const std::string& header, int length, int count) {
    std::string frame = header + std::string(size_t(length) - header.size(), '\0');
    std::string out;
    out.reserve(frame.size() * size_t(count));
    for (int i = 0; i < count; ++i) out += frame;
    return out;
}

// A frame of `length` bytes holding a Xing header (flags: frame count present) announcing `frames`.
inline std::string XingFrame(const std::string& header, int length, uint32_t frames, int at = 36) {
    std::string frame = header + std::string(size_t(length) - header.size(), '\0');
    std::string xing = "Xing";
    xing += std::string("\0\0\0\x01", 4);
    xing += std::string{char(frames >> 24), char(frames >> 16), char(frames >> 8), char(frames)};
    frame.replace(size_t(at), xing.size(), xing);
    return frame;
}

// An ID3v2.3/2.4 frame: identifier, plain big-endian size, zero flags, payload.
inline std::string Frame3(const std::string& id, const std::string& payload) {
    uint32_t n = uint32_t(payload.size());
    return id + std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + std::string(2, '\0') + payload;
}
// An ID3v2.4 frame as taggers write it: the size 7 bits per byte.
inline std::string Frame4(const std::string& id, const std::string& payload) {
    uint32_t n = uint32_t(payload.size());
    std::string size;
    for (int shift : {21, 14, 7, 0}) size += char((n >> shift) & 0x7F);
    return id + size + std::string(2, '\0') + payload;
}
// An ID3v2.2 frame: identifier, 3-byte size, payload.
inline std::string Frame2(const std::string& id, const std::string& payload) {
    uint32_t n = uint32_t(payload.size());
    return id + std::string{char(n >> 16), char(n >> 8), char(n)} + payload;
}
// A whole ID3v2 tag of the given version around the frames, with `padding` zero bytes after them.
inline std::string Tag(int version, const std::string& frames, size_t padding = 0) {
    std::string body = frames + std::string(padding, '\0');
    uint32_t n = uint32_t(body.size());
    std::string tag = "ID3";
    tag += char(version);
    tag += std::string(2, '\0');
    for (int shift : {21, 14, 7, 0}) tag += char((n >> shift) & 0x7F);
    return tag + body;
}
// A version-4 tag as taggers write it, with padding, or with a footer (which excludes padding).
inline std::string Tag4(const std::string& frames, size_t padding, bool footer = false) {
    std::string tag = Tag(4, frames, padding);
    if (!footer) return tag;
    tag[5] = 0x10;
    return tag + "3DI" + tag.substr(3, 7);
}
// A 128-byte ID3v1 tag.
inline std::string Id3v1(const std::string& title, const std::string& artist, int track, int genre,
                         const char* magic = "TAG") {
    std::string t(128, '\0');
    t.replace(0, 3, magic);
    t.replace(3, std::min<size_t>(title.size(), 30), title.substr(0, 30));
    t.replace(33, std::min<size_t>(artist.size(), 30), artist.substr(0, 30));
    t[126] = char(track);
    t[127] = char(genre);
    return t;
}
// UTF-16LE with a byte-order mark and a terminator, from ASCII or already-wide text.
inline std::string Utf16(const std::u16string& text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out + std::string(2, '\0');
}

}  // namespace mxtest
