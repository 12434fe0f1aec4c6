// Byte-by-byte builders of ASF (WMA) headers for tests.
#pragma once

#include <string>
#include <vector>

#include "MxModule/metadata/AsfFormat.h"

namespace mxtest {

using mxasf::Put;

inline std::string AsfObject(const char* guid, const std::string& payload) {
    return mxasf::Guid(guid) + Put(24 + payload.size(), 8) + payload;
}
// UTF-16LE of ASCII text (or of already wide text), with a terminator.
inline std::string W(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += Put(c, 2);
    return out + std::string(2, '\0');
}
inline std::string ContentDescription(const std::u16string& title, const std::u16string& author,
                                      const std::u16string& copyright = u"", const std::u16string& description = u"") {
    std::string s[4] = {W(title), W(author), W(copyright), W(description)};
    std::string lengths, strings;
    for (const std::string& x : s) {
        lengths += Put(x.size(), 2);
        strings += x;
    }
    return AsfObject(mxasf::kContentDescription, lengths + Put(0, 2) + strings);
}
struct AsfAttribute {
    std::u16string name;
    int type;
    std::string value;
};
inline std::string ExtendedContent(const std::vector<AsfAttribute>& attributes) {
    std::string body = Put(attributes.size(), 2);
    for (const AsfAttribute& a : attributes) {
        std::string name = W(a.name);
        body += Put(name.size(), 2) + name + Put(uint64_t(a.type), 2) + Put(a.value.size(), 2) + a.value;
    }
    return AsfObject(mxasf::kExtendedContentDescription, body);
}
// The Metadata Library's records: 32-bit value lengths.
inline std::string MetadataLibrary(const std::vector<AsfAttribute>& attributes) {
    std::string body = Put(attributes.size(), 2);
    for (const AsfAttribute& a : attributes) {
        std::string name = W(a.name);
        body += Put(0, 2) + Put(0, 2) + Put(name.size(), 2) + Put(uint64_t(a.type), 2) + Put(a.value.size(), 4) + name + a.value;
    }
    return AsfObject(mxasf::kMetadataLibrary, body);
}
inline std::string HeaderExtension(const std::vector<std::string>& objects) {
    std::string body;
    for (const std::string& o : objects) body += o;
    return AsfObject(mxasf::kHeaderExtension, mxasf::Guid(mxasf::kHeaderExtensionReserved) + Put(6, 2) + Put(body.size(), 4) + body);
}
// Play duration in 100-ns units, preroll in milliseconds, maximum bit rate in bits per second.
inline std::string FileProperties(uint64_t duration100ns, uint64_t prerollMs, uint32_t maxBitrate = 0) {
    std::string d(80, '\0');
    d.replace(40, 8, Put(duration100ns, 8));
    d.replace(56, 8, Put(prerollMs, 8));
    d.replace(76, 4, Put(maxBitrate, 4));
    return AsfObject(mxasf::kFileProperties, d);
}
// With bytesPerSecond, an audio stream carries its format (WMA 2, stereo, 44.1 kHz).
inline std::string StreamProperties(bool video, uint32_t bytesPerSecond = 0) {
    std::string rest(38, '\0'), format;
    if (bytesPerSecond) {
        format = Put(0x161, 2) + Put(2, 2) + Put(44100, 4) + Put(bytesPerSecond, 4) + Put(0, 2) + Put(16, 2) + Put(0, 2);
        rest.replace(24, 4, Put(format.size(), 4));
    }
    return AsfObject(mxasf::kStreamProperties, mxasf::Guid(video ? mxasf::kVideoMedia : mxasf::kAudioMedia) + rest + format);
}
// Only the data bit rate is filled.
inline std::string ExtendedStreamProperties(uint32_t bitrate) {
    std::string d(64, '\0');
    d.replace(16, 4, Put(bitrate, 4));
    return AsfObject(mxasf::kExtendedStreamProperties, d);
}
inline std::string ContentEncryption(const std::string& protection) {
    std::string type = protection + std::string(1, '\0');
    return AsfObject(mxasf::kContentEncryption, Put(3, 4) + "sec" + Put(type.size(), 4) + type + Put(0, 4) + Put(0, 4));
}
inline std::string CodecList(const std::u16string& name, const std::u16string& description) {
    std::string n = W(name), d = W(description);
    std::string entry = Put(2, 2) + Put(n.size() / 2, 2) + n + Put(d.size() / 2, 2) + d + Put(0, 2);
    return AsfObject(mxasf::kCodecList, std::string(16, '\0') + Put(1, 4) + entry);
}
inline std::string AsfHeader(const std::vector<std::string>& objects) {
    std::string body;
    for (const std::string& o : objects) body += o;
    return mxasf::Guid(mxasf::kHeaderObject) + Put(30 + body.size(), 8) + Put(objects.size(), 4) + "\x01\x02" + body;
}

}  // namespace mxtest
