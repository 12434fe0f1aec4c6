// The ASF objects the WMA parser reads and writes. All integers are little-endian; object sizes are
// 64-bit and include the 24-byte object header (GUID and size); strings are UTF-16LE.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

namespace mxasf {

// The 16 stored bytes of a GUID written "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX": the first three groups
// little-endian, the last two as written.
inline std::string Guid(const char* text) {
    auto hex = [&](int at, int n) { return std::strtoul(std::string(text + at, size_t(n)).c_str(), nullptr, 16); };
    std::string g;
    unsigned long d1 = hex(0, 8), d2 = hex(9, 4), d3 = hex(14, 4);
    for (int i = 0; i < 4; ++i) g += char((d1 >> (8 * i)) & 0xFF);
    for (int i = 0; i < 2; ++i) g += char((d2 >> (8 * i)) & 0xFF);
    for (int i = 0; i < 2; ++i) g += char((d3 >> (8 * i)) & 0xFF);
    for (int at : {19, 21, 24, 26, 28, 30, 32, 34}) g += char(hex(at, 2));
    return g;
}

// Guid() of one of the constants below, computed once per thread.
inline const std::string& GuidOf(const char* text) {
    thread_local std::map<const char*, std::string> cache;
    auto it = cache.find(text);
    if (it == cache.end()) it = cache.emplace(text, Guid(text)).first;
    return it->second;
}

const char kHeaderObject[] = "75B22630-668E-11CF-A6D9-00AA0062CE6C";
const char kFileProperties[] = "8CABDCA1-A947-11CF-8EE4-00C00C205365";
const char kContentDescription[] = "75B22633-668E-11CF-A6D9-00AA0062CE6C";
const char kExtendedContentDescription[] = "D2D0A440-E307-11D2-97F0-00A0C95EA850";
const char kStreamProperties[] = "B7DC0791-A9B7-11CF-8EE6-00C00C205365";
const char kContentEncryption[] = "2211B3FB-BD23-11D2-B4B7-00A0C955FC6E";
const char kScriptCommand[] = "1EFB1A30-0B62-11D0-A39B-00A0C90348F6";
const char kCodecList[] = "86D15240-311D-11D0-A3A4-00A0C90348F6";
const char kVideoMedia[] = "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B";
const char kAudioMedia[] = "F8699E40-5B4D-11CF-A8FD-00805F5C442B";
// The Header Extension Object holds further objects; its payload starts with a fixed GUID and the
// number 6, then the 32-bit size of the objects it holds.
const char kHeaderExtension[] = "5FBF03B5-A92E-11CF-8EE3-00C00C205365";
const char kHeaderExtensionReserved[] = "ABD3D211-A9BA-11CF-8EE6-00C00C205365";
// Inside the Header Extension: attributes with 32-bit value lengths (the library also has a language
// index where the metadata object has a reserved word), and the per-stream bit rates.
const char kMetadataLibrary[] = "44231C94-9498-49D1-A141-1D134E457054";
const char kMetadata[] = "C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA";
const char kExtendedStreamProperties[] = "14E6A5CB-C672-4332-8399-A96952065B5A";

const uint32_t kObjectHeader = 24;        // GUID and 64-bit size
const uint32_t kHeaderObjectFixed = 30;   // plus object count (4) and two reserved bytes
const uint32_t kHeaderExtensionFixed = 46;  // plus reserved GUID (16), reserved word (2), data size (4)

// Extended Content Description value types.
enum { kTypeString = 0, kTypeBytes = 1, kTypeBool = 2, kTypeDword = 3, kTypeQword = 4, kTypeWord = 5 };

inline uint64_t Get(const unsigned char* p, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}
inline std::string Put(uint64_t v, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += char((v >> (8 * i)) & 0xFF);
    return out;
}

}  // namespace mxasf
