// The library files on disk: "LocalSearch.smdb" and its mirror "LocalSearch.bkk" share one layout, and
// each playlist has a ".upl" file of 10-byte entries. All integers are little-endian.
//
// Library file: a 24-byte header, an extension area of (u32 at 16) bytes, then blocks back to back.
//   header  0: state byte (0xFF while a write is in progress, 0x00 when consistent)
//           1: 7 zero bytes   8: u32 format number 2   12: u32 0   16: u32 extension length   20: u32 0
//   block   0: u32 song ID   4: u32 payload length L   8: u32 slack S   12: u16 flags (low byte 0x00 live,
//           0xFF free, anything else skipped)   14: L payload bytes   14+L: S slack bytes
//   payload: the 19 fields of DBRECORD in order, each a u32 byte count and that many bytes, no terminator.
//
// Playlist entry (".upl"): 0: u32 position number   4: u32 song ID   8: state (0x00 live, 0xFF free)   9: 0x00
#pragma once

#include <cstdint>
#include <cstring>

namespace mxlib {

const char kLibraryFile[] = "LocalSearch.smdb";
const char kMirrorFile[] = "LocalSearch.bkk";
const char kLegacyFile[] = "LocalSearch.mdb";   // the older Access form of the library, imported once
const char kImportingSuffix[] = ".importing";    // a legacy file whose rows are going into a new library
const char kUnimportedSuffix[] = ".unimported";  // a legacy file that could not be read, set aside
const char kNewFileSuffix[] = ".new";            // a library file being restored, renamed into place when whole
const char kDamagedFile[] = "LocalSearch.damaged";  // bytes a load could not read, kept for recovery
const char kPlaylistIndexFile[] = "playlist.idx";
const char kPlaylistExtension[] = ".upl";
const char kUserDbFolder[] = "\\Tamborinebox\\user_musicDB\\";
const char kDefaultPlaylist[] = "\xC4\xAC\xC8\xCF\xC1\xD0\xB1\xED";  // 默认列表, the default list
const char kUnknown[] = "\xCE\xB4\xD6\xAA";                          // 未知, unknown
const char kUnknownGenre[] = "Unknow";

const unsigned char kStateBusy = 0xFF;
const unsigned char kStateClean = 0x00;
const uint32_t kFormatNumber = 2;
const uint32_t kHeaderSize = 24;
const uint32_t kExtensionLengthOffset = 16;

const uint32_t kBlockHeaderSize = 14;
const uint32_t kBlockFlagsOffset = 12;
const unsigned char kBlockLive = 0x00;
const unsigned char kBlockFree = 0xFF;
const uint32_t kMinBlock = 128;
const uint32_t kMaxBlock = 32768;
const uint32_t kFieldHeaderSize = 4;

const uint32_t kEntrySize = 10;
const uint32_t kEntryStateOffset = 8;
const unsigned char kEntryLive = 0x00;
const unsigned char kEntryFree = 0xFF;

inline uint32_t GetU32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void PutU32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// The slack that gives a payload of L bytes its block: the smallest power of two from 128 to 32768 above
// L, or as much again as L for payloads of 32768 bytes or more.
inline uint32_t SlackFor(uint32_t L) {
    if (L >= kMaxBlock) return L;
    uint32_t p = kMinBlock;
    while (p <= L) p <<= 1;
    return p - L;
}

inline bool IsBlockCapacity(uint64_t capacity) {
    for (uint64_t p = kMinBlock; p <= kMaxBlock; p <<= 1) {
        if (capacity == p) return true;
    }
    return false;
}

}  // namespace mxlib
