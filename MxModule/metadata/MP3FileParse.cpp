#include "MxModule/metadata/MP3FileParse.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "MxModule/foundation/MxPublic.h"
#include "MxModule/metadata/GenreTable.h"
#include "MxModule/metadata/MP3Info.h"

namespace {

const DWORD kId3v1Size = 128;
const DWORD kTagHeaderSize = 10;

// Tag header flags.
const BYTE kTagUnsync = 0x80;
const BYTE kTagExtendedHeader = 0x40;
const BYTE kTagFooter = 0x10;

// The twelve managed frames, by slot: version-2 identifier, version-3 identifier, version-4 identifier,
// mask bits. The year moved to "TDRC" in version 4.
struct ManagedFrame {
    const char* v2;
    const char* v3;
    const char* v4;
    DWORD mask;
};
const ManagedFrame kManaged[12] = {
    {"TT2", "TIT2", "TIT2", 0x0001}, {"TP1", "TPE1", "TPE1", 0x0002}, {"TAL", "TALB", "TALB", 0x0004},
    {"TRK", "TRCK", "TRCK", 0x0008}, {"TCO", "TCON", "TCON", 0x0030}, {"TYE", "TYER", "TDRC", 0x0040},
    {"COM", "COMM", "COMM", 0x0080}, {"PIC", "APIC", "APIC", 0x0100}, {"TCM", "TCOM", "TCOM", 0x0200},
    {"TCR", "TCOP", "TCOP", 0x0400}, {"TEN", "TENC", "TENC", 0x0800}, {"TOA", "TOPE", "TOPE", 0x1000}};
enum { kSlotGenre = 4, kSlotYear = 5, kSlotComment = 6, kSlotPicture = 7 };

const char* ManagedId(int slot, int version) {
    return version <= 2 ? kManaged[slot].v2 : version == 3 ? kManaged[slot].v3 : kManaged[slot].v4;
}

// Every frame identifier of ID3v2.2 but "STC"; every one of ID3v2.3 and the ones ID3v2.4 added. They are
// where the scan picks up again after bytes that are no frame.
const char kIdsV2[] =
    "BUF CNT COM CRA CRM ETC EQU GEO IPL LNK MCI MLL PIC POP REV RVA SLT TAL TBP TCM TCO TCR TDA TDY TEN TFT TIM "
    "TKE TLA TLE TMT TOA TOF TOL TOR TOT TP1 TP2 TP3 TP4 TPA TPB TRC TRD TRK TSI TSS TT1 TT2 TT3 TXT TXX TYE UFI "
    "ULT WAF WAR WAS WCM WCP WPB WXX ";
const char kIdsV3[] =
    "AENC APIC COMM COMR ENCR EQUA ETCO GEOB GRID IPLS LINK MCDI MLLT OWNE PRIV PCNT POPM POSS RBUF RVAD RVRB SYLT "
    "SYTC TALB TBPM TCOM TCON TCOP TDAT TDLY TENC TEXT TFLT TIME TIT1 TIT2 TIT3 TKEY TLAN TLEN TMED TOAL TOFN TOLY "
    "TOPE TORY TOWN TPE1 TPE2 TPE3 TPE4 TPOS TPUB TRCK TRDA TRSN TRSO TSIZ TSRC TSSE TYER TXXX UFID USER USLT WCOM "
    "WCOP WOAF WOAR WOAS WORS WPAY WPUB WXXX ASPI EQU2 RVA2 SEEK SIGN TDEN TDOR TDRC TDRL TDTG TIPL TMCL TMOO TPRO "
    "TSOA TSOP TSOT TSST ";

uint32_t IdKey(const BYTE* p, int idLength) {
    uint32_t key = 0;
    for (int i = 0; i < idLength; ++i) key = key << 8 | p[i];
    return key;
}

std::vector<uint32_t> SortedKeys(const char* ids, int idLength) {
    std::vector<uint32_t> keys;
    for (const char* id = ids; *id; id += idLength + 1) keys.push_back(IdKey(reinterpret_cast<const BYTE*>(id), idLength));
    std::sort(keys.begin(), keys.end());
    return keys;
}

bool IsKnownId(const BYTE* p, int idLength) {
    static const std::vector<uint32_t> v2 = SortedKeys(kIdsV2, 3), v3 = SortedKeys(kIdsV3, 4);
    if (p[0] < 'A' || p[0] > 'Z') return false;  // most bytes a resynchronising scan meets
    const std::vector<uint32_t>& keys = idLength == 3 ? v2 : v3;
    return std::binary_search(keys.begin(), keys.end(), IdKey(p, idLength));
}

// An identifier other taggers write: upper-case letters and digits, the last one possibly a space.
bool IsWellFormedId(const BYTE* p, int idLength) {
    if (p[0] < 'A' || p[0] > 'Z') return false;
    for (int i = 1; i < idLength; ++i) {
        bool ok = (p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= '0' && p[i] <= '9') || (i == idLength - 1 && p[i] == ' ');
        if (!ok) return false;
    }
    return true;
}

// Slot of a managed frame, or -1. Either year frame fills the year slot in a version-3/4 tag.
int ManagedSlot(const BYTE* id, int version) {
    int idLength = version <= 2 ? 3 : 4;
    if (idLength == 4 && (std::memcmp(id, "TYER", 4) == 0 || std::memcmp(id, "TDRC", 4) == 0)) return kSlotYear;
    for (int slot = 0; slot < 12; ++slot) {
        if (std::memcmp(ManagedId(slot, version), id, size_t(idLength)) == 0) return slot;
    }
    return -1;
}

bool StartsWithNoCase(const BYTE* p, const char* text) { return CMxPublic::MemCmpNoCase(reinterpret_cast<const char*>(p), text, 3) == 0; }

DWORD Syncsafe(const BYTE* p) {
    return DWORD(p[0] & 0x7F) << 21 | DWORD(p[1] & 0x7F) << 14 | DWORD(p[2] & 0x7F) << 7 | DWORD(p[3] & 0x7F);
}

void PutSyncsafe(std::string& out, size_t at, DWORD v) {
    for (int i = 0; i < 4; ++i) out[at + size_t(i)] = char((v >> (21 - 7 * i)) & 0x7F);
}

DWORD BigEndian(const BYTE* p, int n) {
    DWORD v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

std::string BigEndianBytes(DWORD v, int n) {
    std::string out;
    for (int i = n - 1; i >= 0; --i) out += char((v >> (8 * i)) & 0xFF);
    return out;
}

// Undoes unsynchronisation: every FF 00 pair stands for FF.
std::string Resynchronise(const BYTE* p, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        out += char(p[i]);
        if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0) ++i;
    }
    return out;
}

// The frames of a tag body, found by one walk that reading and rewriting share.
struct FrameSpan {
    size_t at;       // in the body
    size_t header;   // 6 or 10
    size_t payload;  // payload bytes
};

struct TagBody {
    int version = 0;        // 2 (also for 1), 3 or 4
    BYTE flags = 0;
    std::string bytes;      // frames and padding: versions 2/3 resynchronised, no extended header
    std::vector<FrameSpan> frames;
    bool overrun = false;   // a frame declared more bytes than the tag holds; the walk stopped there
};

// A version-4 frame size is 7 bits per byte. Some writers put plain numbers there; the plain reading is
// taken when the 7-bit one does not end on a frame, padding or the tag's end and the plain one does.
DWORD FrameSize4(const std::string& body, size_t at) {
    const auto* b = reinterpret_cast<const BYTE*>(body.data());
    DWORD plain = BigEndian(b + at + 4, 4);
    bool syncsafe = !((b[at + 4] | b[at + 5] | b[at + 6] | b[at + 7]) & 0x80);
    if (!syncsafe) return plain;
    DWORD size = Syncsafe(b + at + 4);
    if (size == plain) return size;
    // A frame, padding or the end must follow; a frame's size must fit too (text rarely passes both).
    auto landsWell = [&](DWORD s) {
        size_t next = at + 10 + s;
        if (next == body.size()) return true;
        if (next > body.size()) return false;
        if (b[next] == 0) return std::all_of(b + next, b + body.size(), [](BYTE c) { return c == 0; });
        size_t rest = body.size() - next;
        return rest >= 10 && IsWellFormedId(b + next, 4) && std::min(Syncsafe(b + next + 4), BigEndian(b + next + 4, 4)) <= rest - 10;
    };
    return landsWell(size) || !landsWell(plain) ? size : plain;
}

// Walks the body: a frame where a well-formed identifier begins, padding from a zero byte at a frame
// boundary to the end, and bytes that are neither skipped up to the next known identifier.
void WalkFrames(TagBody& tag) {
    const auto* b = reinterpret_cast<const BYTE*>(tag.bytes.data());
    const size_t end = tag.bytes.size();
    const bool version2 = tag.version <= 2;
    const int idLength = version2 ? 3 : 4;
    const size_t header = version2 ? 6 : 10;
    size_t p = 0;
    while (end - p >= size_t(idLength)) {
        if (b[p] == 0) {
            // Padding, unless frames follow it (as a writer that appended after the padding left them).
            const BYTE* q = std::find_if(b + p, b + end, [](BYTE c) { return c != 0; });
            size_t at = size_t(q - b);
            if (end - at < header || !IsKnownId(q, idLength)) break;
            p = at;
        }
        if (!IsWellFormedId(b + p, idLength)) {
            do {
                ++p;
            } while (end - p >= size_t(idLength) && !IsKnownId(b + p, idLength));
            continue;
        }
        if (end - p < header) break;
        DWORD size = version2 ? BigEndian(b + p + 3, 3) : tag.version == 4 ? FrameSize4(tag.bytes, p) : BigEndian(b + p + 4, 4);
        if (size > end - p - header) {
            tag.overrun = true;
            break;
        }
        tag.frames.push_back({p, header, size});
        p += header + size;
    }
}

// The bytes of the extended header the flag announces, or 0 when what follows is no such header: a
// frame already (some taggers set the flag without one), or a size that fits neither form (version-3
// tags that an earlier reader relabelled as version 4 keep their version-3 header).
size_t ExtendedHeaderSize(const TagBody& body) {
    const auto* e = reinterpret_cast<const BYTE*>(body.bytes.data());
    size_t n = body.bytes.size();
    if (body.version < 3 || !(body.flags & kTagExtendedHeader) || n < 6 || IsKnownId(e, 4)) return 0;
    size_t v4 = Syncsafe(e);
    if (body.version == 4 && v4 >= 6 && v4 <= n && e[4] == 1) return v4;
    size_t v3 = size_t(BigEndian(e, 4));
    if ((v3 == 6 || v3 == 10) && v3 + 4 <= n) return v3 + 4;
    return 0;
}

// Splits a whole tag (header included, as many bytes as its size says or fewer) into its body and frames.
TagBody ReadBody(const BYTE* tag, size_t size, size_t footer) {
    TagBody body;
    body.version = tag[3] <= 2 ? 2 : tag[3];
    body.flags = tag[5];
    const BYTE* p = tag + kTagHeaderSize;
    size_t n = size - kTagHeaderSize - std::min(footer, size - kTagHeaderSize);
    if (body.version < 4 && (body.flags & kTagUnsync)) {
        body.bytes = Resynchronise(p, n);
    } else {
        body.bytes.assign(reinterpret_cast<const char*>(p), n);
    }
    body.bytes.erase(0, ExtendedHeaderSize(body));
    WalkFrames(body);
    return body;
}

// Whether a UTF-16 byte-order mark (FF FE or FE FF) starts at p.
bool IsBom(const BYTE* p, const BYTE* end) { return end - p >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF)); }

// Whether a frame is the one of its slot that wins when several are read, and the one a save replaces:
// the year frame of the tag's version, a comment without description, a picture of the given type.
bool IsPreferred(int slot, const BYTE* id, const std::string& payload, int version, BYTE pictureType) {
    const auto* p = reinterpret_cast<const BYTE*>(payload.data());
    size_t n = payload.size();
    if (slot == kSlotYear) return std::memcmp(id, ManagedId(kSlotYear, version), version <= 2 ? 3 : 4) == 0;
    if (slot == kSlotComment) {
        if (n < 5) return true;
        bool wide = p[0] == 1 || p[0] == 2 || p[0] == 6;
        size_t at = 4 + (wide && IsBom(p + 4, p + n) ? 2 : 0);
        return at < n && p[at] == 0 && (!wide || (at + 1 < n && p[at + 1] == 0));
    }
    if (slot == kSlotPicture) {
        size_t at = version <= 2 ? 4 : size_t(std::find(p + std::min<size_t>(1, n), p + n, 0) - p) + 1;
        return at < n && p[at] == pictureType;
    }
    return true;
}

// Whether a save replaces the frame: the preferred one, or a comment with no text (which some readers
// would show before the new one).
bool IsReplaced(int slot, const BYTE* id, const std::string& payload, int version, int pictureType) {
    // A picture of no given type becomes the front cover; it replaces that and the "other" pictures
    // earlier saves wrote.
    if (pictureType < 0) return IsPreferred(slot, id, payload, version, 0) || IsPreferred(slot, id, payload, version, 3);
    if (IsPreferred(slot, id, payload, version, BYTE(pictureType))) return true;
    if (slot != kSlotComment || payload.size() < 5) return false;
    const auto* p = reinterpret_cast<const BYTE*>(payload.data());
    size_t n = payload.size(), at = 4;
    bool wide = p[0] == 1 || p[0] == 2 || p[0] == 6;
    while (at < n && (p[at] || (wide && at + 1 < n && p[at + 1]))) at += wide ? 2 : 1;
    return std::all_of(p + std::min(n, at), p + n, [](BYTE c) { return c == 0; });
}

// The payload of a frame as its flags leave it readable, or false for a compressed or encrypted frame.
bool ReadablePayload(const TagBody& tag, const FrameSpan& f, std::string& payload) {
    const auto* h = reinterpret_cast<const BYTE*>(tag.bytes.data()) + f.at;
    payload = tag.bytes.substr(f.at + f.header, f.payload);
    if (tag.version == 3) {
        if (h[9] & 0xC0) return false;
        if (h[9] & 0x20) payload.erase(0, 1);  // group byte
    } else if (tag.version == 4) {
        if (h[9] & 0x0C) return false;
        size_t skip = (h[9] & 0x40 ? 1 : 0) + (h[9] & 0x01 ? 4 : 0);  // group byte, data length
        payload.erase(0, std::min(skip, payload.size()));
        if ((h[9] & 0x02) || (tag.flags & kTagUnsync)) payload = Resynchronise(reinterpret_cast<const BYTE*>(payload.data()), payload.size());
    }
    return true;
}

// Whether bytes read as GBK (GB18030's two- and four-byte forms); a lead byte cut off at the end is
// allowed, as a field cut in a character is read without it.
bool IsGbk(const std::string& bytes) {
    const auto* b = reinterpret_cast<const BYTE*>(bytes.data());
    size_t n = bytes.size();
    bool multibyte = false;  // a lone lead byte at the end is a cut character only after whole ones
    for (size_t i = 0; i < n;) {
        if (b[i] <= 0x80) {  // 0x80 is the euro sign of code page 936
            ++i;
        } else if (b[i] == 0xFF) {
            return false;
        } else if (i + 1 == n) {
            return multibyte;
        } else if (b[i + 1] >= 0x40 && b[i + 1] != 0x7F && b[i + 1] != 0xFF) {
            i += 2;
            multibyte = true;
        } else if (b[i + 1] >= 0x30 && b[i + 1] <= 0x39) {
            if (i + 3 >= n) return multibyte;
            if (b[i + 2] < 0x81 || b[i + 2] == 0xFF || b[i + 3] < 0x30 || b[i + 3] > 0x39) return false;
            i += 4;
            multibyte = true;
        } else {
            return false;
        }
    }
    return true;
}

// Narrow tag text in the system code page. Text that is no GBK came from a Western tagger in Latin-1
// (its letters then read as they were written, not as Chinese).
std::string NarrowText(const std::string& bytes) {
    if (IsGbk(bytes)) return bytes;
    std::u16string wide;
    for (unsigned char c : bytes) wide += char16_t(c);
    return MxWideToAnsi(wide);
}

// Text after an encoding byte, up to its terminator, in the system code page.
CString DecodeText(int encoding, const BYTE* p, const BYTE* end) {
    std::string narrow;
    if (encoding == 1 || encoding == 2 || encoding == 6) {
        // Little-endian unless a FE FF mark (or encoding 2 without a mark) says big-endian.
        bool bigEndian = encoding == 2;
        if (IsBom(p, end)) {
            bigEndian = p[0] == 0xFE;
            p += 2;
        }
        std::u16string wide;
        for (; end - p >= 2 && (p[0] || p[1]); p += 2) wide += bigEndian ? char16_t(p[0] << 8 | p[1]) : char16_t(p[0] | p[1] << 8);
        narrow = MxWideToAnsi(wide);
    } else {
        const BYTE* stop = p;
        while (stop < end && *stop) ++stop;
        std::string bytes(reinterpret_cast<const char*>(p), size_t(stop - p));
        if (encoding == 3) {
            std::u16string wide;
            int w = bytes.empty() ? 0 : MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), nullptr, 0);
            wide.resize(size_t(w > 0 ? w : 0));
            if (w > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), &wide[0], w);
            narrow = MxWideToAnsi(wide);
        } else {
            narrow = NarrowText(bytes);
        }
    }
    CString text(narrow.c_str());
    CMxPublic::CheckStringValidTail(text);
    text.Trim();
    return text;
}

bool KnownEncoding(int e) { return e >= 0 && e <= 6; }

// Decodes one managed frame's payload (which ends in two extra zero bytes) into the record.
void DecodeFrame(int slot, bool version2, const BYTE* p, const BYTE* end, AUDIOFILEINFO& info) {
    int encoding = p < end ? p[0] : 0;
    if (slot == kSlotPicture) {
        const BYTE* q = p + 1;
        if (version2) {
            q += 3;
        } else {
            const BYTE* stop = q;
            while (stop < end && *stop) ++stop;
            info.strPictureMime = CString(std::string(reinterpret_cast<const char*>(q), size_t(stop - q)));
            q = stop + 1;
        }
        if (q >= end) return;
        info.byPictureType = *q++;
        bool wide = encoding == 1 || encoding == 2 || encoding == 6;
        info.strPictureDesc = DecodeText(KnownEncoding(encoding) ? encoding : 0, q, end);
        // Past the description's terminator: the image bytes (without the two zero bytes added on reading).
        while (q < end && (wide ? (end - q >= 2 && (q[0] || q[1])) : *q)) q += wide ? 2 : 1;
        q += wide ? 2 : 1;
        if (q < end - 2) info.vecPicture.assign(q, end - 2);
        return;
    }
    const BYTE* text = KnownEncoding(encoding) ? p + 1 : p;
    int enc = KnownEncoding(encoding) ? encoding : 0;
    if (slot == kSlotComment) {
        text = p + 4;  // the encoding byte and the language
        if (enc == 1 || enc == 2 || enc == 6) {
            // An empty wide description (its mark and two zero bytes) is passed over whole, so that the
            // text stays aligned; a description that is not empty is read as the start of the comment.
            const BYTE* q = text + (IsBom(text, end) ? 2 : 0);
            if (end - q >= 2 && q[0] == 0 && q[1] == 0) text = q + 2;
        } else {
            while (text < end && (*text == 0 || IsBom(text, end))) {
                text += *text == 0 ? 1 : 2;
            }
        }
    }
    CString value = DecodeText(enc, std::min(text, end), end);
    switch (slot) {
        case 0: info.strTitle = value; break;
        case 1: info.strArtist = value; break;
        case 2: info.strAlbum = value; break;
        case 3: info.strTrack = value; break;
        case kSlotGenre: mxmeta::ParseGenreText(value, info.byGenre, info.strGenre); break;
        case 5: info.strYear = value; break;
        case kSlotComment: info.strComment = value; break;
        case 8: info.strComposer = value; break;
        case 9: info.strCopyright = value; break;
        case 10: info.strEncodedBy = value; break;
        case 11: info.strOriginalArtist = value; break;
        default: break;
    }
}

// A text as a frame writes it: pure ASCII with encoding 0, anything else as UTF-8 (version 4) or as
// UTF-16 with a byte-order mark (versions 2 and 3), so that every reader shows the same characters.
// The encoding byte comes first; with bTerminated the text ends in its encoding's terminator.
std::string EncodeText(const CString& text, int encoding, bool bTerminated) {
    std::string out(1, char(encoding));
    const std::string& bytes = text.str();
    if (encoding == 0) {
        out += bytes;
        if (bTerminated) out += '\0';
        return out;
    }
    if (encoding == 3) {
        out += MxAnsiToUtf8(bytes.c_str(), int(bytes.size()));
        if (bTerminated) out += '\0';
        return out;
    }
    std::u16string wide;
    int w = bytes.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    wide.resize(size_t(w > 0 ? w : 0));
    if (w > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), &wide[0], w);
    out += "\xFF\xFE";
    for (char16_t c : wide) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    if (bTerminated) out += std::string(2, '\0');
    return out;
}

int EncodingFor(const CString& text, int version) {
    for (char c : text.str()) {
        if (static_cast<unsigned char>(c) >= 0x80) return version == 4 ? 3 : 1;
    }
    return 0;
}

// The three-letter image format of a version-2 picture for a MIME type.
CString ImageFormat(CString mime) {
    mime.MakeLower();
    if (mime.Find("png") >= 0) return "PNG";
    if (mime.Find("gif") >= 0) return "GIF";
    if (mime.Find("bmp") >= 0) return "BMP";
    return "JPG";
}

// The frames the mask selects, in the tag version's form, by slot ("" for a slot not selected).
std::vector<std::string> BuildFrames(const AUDIOFILEINFO& info, DWORD dwMask, int version) {
    std::vector<std::string> frames(12);
    const CString* texts[12] = {&info.strTitle, &info.strArtist, &info.strAlbum, &info.strTrack, &info.strGenre,
                                &info.strYear, &info.strComment, nullptr, &info.strComposer, &info.strCopyright,
                                &info.strEncodedBy, &info.strOriginalArtist};
    const bool version2 = version <= 2;
    for (int slot = 0; slot < 12; ++slot) {
        if (!(dwMask & kManaged[slot].mask)) continue;
        std::string payload;
        if (slot == kSlotPicture) {
            int encoding = EncodingFor(info.strPictureDesc, version);
            CString mime = info.strPictureMime.IsEmpty() ? CString(version2 ? "JPG" : "image/jpeg") : info.strPictureMime;
            if (version2 && mime.GetLength() != 3) mime = ImageFormat(mime);
            payload = std::string(1, char(encoding)) + mime.str();
            if (!version2) payload += '\0';
            // A picture of no given type is the front cover, the one every player shows.
            payload += char(info.byPictureType == 255 ? 3 : info.byPictureType);
            payload += EncodeText(info.strPictureDesc, encoding, true).substr(1);
            payload.append(info.vecPicture.begin(), info.vecPicture.end());
        } else if (slot == kSlotComment) {
            int encoding = EncodingFor(*texts[slot], version);
            payload = std::string(1, char(encoding)) + "chi" + EncodeText(CString(), encoding, true).substr(1) +
                      EncodeText(*texts[slot], encoding, false).substr(1);
        } else {
            payload = EncodeText(*texts[slot], EncodingFor(*texts[slot], version), false);
        }
        DWORD n = DWORD(payload.size());
        std::string& frame = frames[size_t(slot)];
        if (version2) {
            frame = std::string(kManaged[slot].v2) + BigEndianBytes(n, 3) + payload;
        } else {
            frame = std::string(ManagedId(slot, version)) + std::string(4, '\0') + std::string(2, '\0') + payload;
            if (version == 4) PutSyncsafe(frame, 4, n);
            else frame.replace(4, 4, BigEndianBytes(n, 4));
        }
    }
    return frames;
}

// The footer a version-4 tag may carry after its frames: 10 bytes its size does not count.
DWORD FooterSize(const BYTE* header) { return header[3] == 4 && (header[5] & kTagFooter) ? kTagHeaderSize : 0; }

}  // namespace

bool CMP3FileParse::IsFrameHeader(const BYTE* p) {
    return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && (p[1] & 0x18) != 0x08 && (p[1] & 0x06) != 0 && (p[2] & 0xF0) != 0x00 &&
           (p[2] & 0xF0) != 0xF0 && (p[2] & 0x0C) < 0x0C;
}

DWORD CMP3FileParse::GetTagSize(CMxFile* pFile) {
    BYTE header[kTagHeaderSize];
    pFile->Seek(0, CFile::begin);
    if (pFile->Read(header, kTagHeaderSize) != kTagHeaderSize || !StartsWithNoCase(header, "ID3")) return 0;
    return Syncsafe(header + 6) + kTagHeaderSize + FooterSize(header);
}

DWORD CMP3FileParse::GetRealTagSize(CMxFile* pFile) {
    // A tag whose size counted its own header seems to end inside the first audio frame.
    DWORD size = GetTagSize(pFile);
    BYTE probe[4];
    if (size < 2 * kTagHeaderSize) return size;
    pFile->Seek(LONG(size - kTagHeaderSize), CFile::begin);
    if (pFile->Read(probe, 4) != 4 || !IsFrameHeader(probe)) return size;
    return size - kTagHeaderSize;
}

int CMP3FileParse::GetRawTags(CMxFile* pFile, BYTE** ppTail, DWORD* pTailLen, BYTE** ppHeader, DWORD* pHeaderLen) {
    if (!pFile) return 0;
    DWORD length = pFile->GetLength();
    if (ppTail && pTailLen) {
        *ppTail = nullptr;
        *pTailLen = 0;
        BYTE tail[kId3v1Size];
        if (length != DWORD(-1) && length >= kId3v1Size && pFile->Seek(LONG(length - kId3v1Size), CFile::begin) >= 0 &&
            pFile->Read(tail, kId3v1Size) == kId3v1Size && StartsWithNoCase(tail, "TAG")) {
            *ppTail = new BYTE[kId3v1Size];
            std::memcpy(*ppTail, tail, kId3v1Size);
            *pTailLen = kId3v1Size;
        }
    }
    if (ppHeader && pHeaderLen) {
        *ppHeader = nullptr;
        *pHeaderLen = 0;
        DWORD size = GetTagSize(pFile);
        if (size && length != DWORD(-1) && size - kTagHeaderSize < length) {
            size = GetRealTagSize(pFile);
            std::vector<BYTE> block(size);
            pFile->Seek(0, CFile::begin);
            block.resize(pFile->Read(block.data(), size));
            *ppHeader = new BYTE[block.size() ? block.size() : 1];
            std::memcpy(*ppHeader, block.data(), block.size());
            *pHeaderLen = DWORD(block.size());
        }
    }
    return 1;
}

int CMP3FileParse::ReadId3v1(CMxFile* pFile, AUDIOFILEINFO& info) {
    DWORD length = pFile->GetLength();
    BYTE tag[kId3v1Size];
    if (length == DWORD(-1) || length < kId3v1Size) return 1;
    pFile->Seek(LONG(length - kId3v1Size), CFile::begin);
    if (pFile->Read(tag, kId3v1Size) != kId3v1Size || !StartsWithNoCase(tag, "TAG")) return 1;
    SetBlock(m_tail, tag, kId3v1Size);
    auto field = [&tag](int at, int width) {
        char buf[31] = {};
        std::memcpy(buf, tag + at, size_t(width));
        std::string raw(buf);
        // A full field whose last byte leads a character was cut in it.
        if (IsGbk(raw) || (raw.size() == size_t(width) && IsGbk(raw.substr(0, raw.size() - 1)))) {
            CMxPublic::CheckStringValidTail(buf, width);
            raw = buf;
        } else {
            raw = NarrowText(raw);  // Latin-1 from a Western tagger
        }
        CString text(raw.c_str());
        text.TrimRight();  // taggers pad the fields with spaces
        return text;
    };
    info.strTitle = field(3, 30);
    info.strArtist = field(33, 30);
    info.strAlbum = field(63, 30);
    info.strYear = field(93, 4);
    info.strComment = field(97, 28);
    info.strTrack.Format("%d", tag[126]);
    info.byGenre = tag[127];
    info.strGenre = mxmeta::GenreName(tag[127]);
    return 1;
}

int CMP3FileParse::ReadId3v2(CMxFile* pFile, AUDIOFILEINFO& info) {
    m_bNeedModifyVersion = 0;
    BYTE header[kTagHeaderSize];
    pFile->Seek(0, CFile::begin);
    if (pFile->Read(header, kTagHeaderSize) != kTagHeaderSize || !StartsWithNoCase(header, "ID3")) return 1;
    int version = header[3];
    if (version < 1 || version > 4) return 1;
    DWORD size = GetRealTagSize(pFile);
    DWORD length = pFile->GetLength();
    if (length == DWORD(-1) || size > length) return 1;  // a tag that does not fit is ignored
    std::vector<BYTE> whole(size);
    pFile->Seek(0, CFile::begin);
    if (pFile->Read(whole.data(), size) != size) return 1;
    SetBlock(m_header, whole.data(), size);
    TagBody tag = ReadBody(whole.data(), size, FooterSize(header));
    // The first frame of each kind fills its slot; a later preferred one (the tag version's own year
    // frame, a comment without description, the front cover) takes the slot over once.
    bool filled[12] = {}, preferred[12] = {};
    bool unicode = false;
    std::string payload;
    for (const FrameSpan& f : tag.frames) {
        const auto* id = reinterpret_cast<const BYTE*>(tag.bytes.data()) + f.at;
        int slot = ManagedSlot(id, tag.version);
        if (slot < 0 || f.payload == 0 || preferred[slot] || !ReadablePayload(tag, f, payload)) continue;
        bool best = IsPreferred(slot, id, payload, tag.version, 3);
        if (filled[slot] && !best) continue;
        payload.append(2, '\0');
        const auto* p = reinterpret_cast<const BYTE*>(payload.data());
        DecodeFrame(slot, tag.version == 2, p, p + payload.size(), info);
        filled[slot] = true;
        preferred[slot] = best;
        int encoding = p[0];
        unicode = unicode || encoding == 1 || encoding == 2 || encoding == 3 || encoding == 6;
    }
    if (tag.version > 2 && unicode) m_bNeedModifyVersion = 1;
    return 1;
}

int CMP3FileParse::ParseBuffer(CMxFile* pFile, DWORD* pHeaderSize, AUDIOFILEINFO* pInfo, int nOption) {
    if (!pFile) return 0;
    DWORD length = pFile->GetLength();
    if (length == DWORD(-1) || length < kId3v1Size) return 0;
    if (pHeaderSize) *pHeaderSize = GetTagSize(pFile);
    AUDIOFILEINFO info;
    if (!ReadId3v2(pFile, info)) return 0;
    CMP3Info mp3;
    mp3.Calculate(pFile, nOption);
    info.nDuration = mp3.GetDuration();
    info.strBitrate = mp3.GetBitrateText();
    m_info = info;
    if (pInfo) CopyInfo(pInfo);
    return 1;
}

int CMP3FileParse::ParseFile(CMxFile* pFile, AUDIOFILEINFO* pInfo, int) {
    if (!pFile) return 0;
    DWORD length = pFile->GetLength();
    if (length == DWORD(-1) || length < kId3v1Size) return 0;
    CMP3Info mp3;
    mp3.Calculate(pFile, -1);
    if (pInfo) {
        AUDIOFILEINFO fromTag;
        ReadId3v2(pFile, fromTag);
        m_info = fromTag;
        // The ID3v1 tag fills what the ID3v2 tag lacks, whether or not the library holds the song: a song
        // analysed again reads as it did on its first import.
        AUDIOFILEINFO v1;
        ReadId3v1(pFile, v1);
        for (auto field : {&AUDIOFILEINFO::strTitle, &AUDIOFILEINFO::strArtist, &AUDIOFILEINFO::strAlbum,
                           &AUDIOFILEINFO::strYear, &AUDIOFILEINFO::strComment, &AUDIOFILEINFO::strTrack}) {
            if ((m_info.*field).IsEmpty()) m_info.*field = v1.*field;
        }
        if (m_info.byGenre == 255) m_info.byGenre = v1.byGenre;
        if (m_info.strGenre.IsEmpty() || m_info.strGenre == "Unknow") m_info.strGenre = v1.strGenre;
        m_info.nDuration = mp3.GetDuration();
        m_info.strBitrate = mp3.GetBitrateText();
        CopyInfo(pInfo);
    }
    // Reading writes nothing: the need for a version change stays a flag for whoever saves the tag.
    return 1;
}

int CMP3FileParse::WriteTags(CMxFile* pFile, AUDIOFILEINFO* pInfo, DWORD dwMask) {
    if (!pFile || !pInfo) return 0;
    DWORD length = pFile->GetLength();
    // A size field that counted its own header is put right by the rebuilt header.
    DWORD oldSize = GetRealTagSize(pFile);
    if (length == DWORD(-1) || length < kId3v1Size || oldSize >= length) return 0;  // as reading refuses it
    if (!(dwMask & 0x1FFF)) return 0;  // no managed frame selected
    std::string tag;
    if (oldSize == 0) {
        // The first ID3v2 tag of a file also takes what its ID3v1 tag says, since readers that find an
        // ID3v2 tag stop looking at the ID3v1 tag.
        AUDIOFILEINFO merged = *pInfo, v1;
        DWORD mask = dwMask;
        ReadId3v1(pFile, v1);
        const struct {
            CString AUDIOFILEINFO::*field;
            DWORD bit;
        } kV1[] = {{&AUDIOFILEINFO::strTitle, 0x1}, {&AUDIOFILEINFO::strArtist, 0x2}, {&AUDIOFILEINFO::strAlbum, 0x4},
                   {&AUDIOFILEINFO::strYear, 0x40}, {&AUDIOFILEINFO::strComment, 0x80}};
        for (const auto& f : kV1) {
            (v1.*f.field).Trim();
            if (!(mask & f.bit) && !(v1.*f.field).IsEmpty()) {
                merged.*f.field = v1.*f.field;
                mask |= f.bit;
            }
        }
        std::string body;
        for (const std::string& f : BuildFrames(merged, mask, 4)) body += f;
        if (body.empty()) return 0;
        tag = std::string("ID3\x04\x00\x00", 6) + std::string(4, '\0') + body;
        PutSyncsafe(tag, 6, DWORD(body.size()));
    } else {
        std::string old(oldSize, '\0');
        pFile->Seek(0, CFile::begin);
        if (pFile->Read(&old[0], oldSize) != oldSize) return 0;
        const auto* bytes = reinterpret_cast<const BYTE*>(old.data());
        if (bytes[3] < 1 || bytes[3] > 4) return 0;  // a tag of a version no reader knows
        TagBody body = ReadBody(bytes, oldSize, FooterSize(bytes));
        if (body.overrun) return 0;  // a frame runs past its tag
        std::vector<std::string> frames = BuildFrames(*pInfo, dwMask, body.version);
        bool any = false;
        for (const std::string& f : frames) any = any || !f.empty();
        if (!any) return 0;
        // The old frames in their order, the first of each managed kind the mask selects replaced and
        // the others of that kind dropped; bytes that are no frame and empty frames are not carried
        // over, since other readers stop at them. The body is written without unsynchronisation,
        // extended header or footer, and version-4 frame sizes in their 7-bit form.
        std::vector<bool> written(12, false);
        std::string out;
        const int pictureType = pInfo->byPictureType == 255 ? -1 : pInfo->byPictureType;
        for (const FrameSpan& f : body.frames) {
            if (f.payload == 0) continue;
            std::string frame = body.bytes.substr(f.at, f.header + f.payload);
            int slot = ManagedSlot(reinterpret_cast<const BYTE*>(frame.data()), body.version);
            std::string payload;
            // Comments with a description and a text (a player's own data) and pictures of another type stay.
            bool replaced = slot >= 0 && !frames[size_t(slot)].empty() &&
                            ((slot != kSlotComment && slot != kSlotPicture) ||
                             (ReadablePayload(body, f, payload) &&
                              IsReplaced(slot, reinterpret_cast<const BYTE*>(frame.data()), payload, body.version, pictureType)));
            if (replaced) {
                if (!written[size_t(slot)]) out += frames[size_t(slot)];
                written[size_t(slot)] = true;
                continue;
            }
            if (body.version == 4) {
                PutSyncsafe(frame, 4, DWORD(f.payload));
                if (body.flags & kTagUnsync) frame[9] = char(frame[9] | 0x02);
            }
            out += frame;
        }
        for (size_t slot = 0; slot < 12; ++slot) {
            if (!written[slot]) out += frames[slot];
        }
        // Padding goes at the end. A tag that still fits in the old one's room keeps its size, so that only
        // the tag is written; a longer one keeps the old padding.
        size_t used = 0;
        for (const FrameSpan& f : body.frames) used = std::max(used, f.at + f.header + f.payload);
        size_t room = oldSize - kTagHeaderSize;
        out.resize(kTagHeaderSize + out.size() <= oldSize ? room : out.size() + (body.bytes.size() - std::min(used, body.bytes.size())), '\0');
        BYTE flags = BYTE(body.flags & ~(kTagUnsync | kTagExtendedHeader | kTagFooter));
        tag = old.substr(0, 5) + char(flags) + std::string(4, '\0') + out;
        PutSyncsafe(tag, 6, DWORD(out.size()));
    }
    if (tag.size() - kTagHeaderSize > 0x0FFFFFFF) return 0;  // beyond what the 28-bit size can say
    if (!ReplaceHead(pFile, tag, oldSize)) return 0;
    SetBlock(m_header, reinterpret_cast<const BYTE*>(tag.data()), DWORD(tag.size()));
    m_tail.clear();
    AUDIOFILEINFO ignored;
    ReadId3v1(pFile, ignored);
    return 1;
}
