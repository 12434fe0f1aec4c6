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

// The twelve managed frames, by slot: version-2 identifier, version-3/4 identifier, mask bits.
struct ManagedFrame {
    const char* v2;
    const char* v3;
    DWORD mask;
};
const ManagedFrame kManaged[12] = {
    {"TT2", "TIT2", 0x0001}, {"TP1", "TPE1", 0x0002}, {"TAL", "TALB", 0x0004}, {"TRK", "TRCK", 0x0008},
    {"TCO", "TCON", 0x0030}, {"TYE", "TYER", 0x0040}, {"COM", "COMM", 0x0080}, {"PIC", "APIC", 0x0100},
    {"TCM", "TCOM", 0x0200}, {"TCR", "TCOP", 0x0400}, {"TEN", "TENC", 0x0800}, {"TOA", "TOPE", 0x1000}};
enum { kSlotGenre = 4, kSlotComment = 6, kSlotPicture = 7 };

// Every frame identifier of ID3v2.2 but "STC", and of ID3v2.3.
const char kIdsV2[] =
    "BUF CNT COM CRA CRM ETC EQU GEO IPL LNK MCI MLL PIC POP REV RVA SLT TAL TBP TCM TCO TCR TDA TDY TEN TFT TIM "
    "TKE TLA TLE TMT TOA TOF TOL TOR TOT TP1 TP2 TP3 TP4 TPA TPB TRC TRD TRK TSI TSS TT1 TT2 TT3 TXT TXX TYE UFI "
    "ULT WAF WAR WAS WCM WCP WPB WXX ";
const char kIdsV3[] =
    "AENC APIC COMM COMR ENCR EQUA ETCO GEOB GRID IPLS LINK MCDI MLLT OWNE PRIV PCNT POPM POSS RBUF RVAD RVRB SYLT "
    "SYTC TALB TBPM TCOM TCON TCOP TDAT TDLY TENC TEXT TFLT TIME TIT1 TIT2 TIT3 TKEY TLAN TLEN TMED TOAL TOFN TOLY "
    "TOPE TORY TOWN TPE1 TPE2 TPE3 TPE4 TPOS TPUB TRCK TRDA TRSN TRSO TSIZ TSRC TSSE TYER TXXX UFID USER USLT WCOM "
    "WCOP WOAF WOAR WOAS WORS WPAY WPUB WXXX ";

bool IsKnownId(const BYTE* p, int idLength) {
    const char* ids = idLength == 3 ? kIdsV2 : kIdsV3;
    for (const char* id = ids; *id; id += idLength + 1) {
        if (std::memcmp(id, p, size_t(idLength)) == 0) return true;
    }
    return false;
}

int ManagedSlot(const BYTE* id, int idLength) {
    for (int slot = 0; slot < 12; ++slot) {
        if (std::memcmp(idLength == 3 ? kManaged[slot].v2 : kManaged[slot].v3, id, size_t(idLength)) == 0) return slot;
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

// Text after an encoding byte, up to its terminator, in the system code page.
CString DecodeText(int encoding, const BYTE* p, const BYTE* end) {
    std::string narrow;
    if (encoding == 1 || encoding == 2 || encoding == 6) {
        // Little-endian unless a FE FF mark (or encoding 2 without a mark) says big-endian.
        bool bigEndian = encoding == 2;
        if (end - p >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
            bigEndian = p[0] == 0xFE;
            p += 2;
        }
        std::u16string wide;
        for (; end - p >= 2 && (p[0] || p[1]); p += 2) wide += bigEndian ? char16_t(p[0] << 8 | p[1]) : char16_t(p[0] | p[1] << 8);
        if (!wide.empty()) {
            int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
            narrow.resize(size_t(n > 0 ? n : 0));
            if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), &narrow[0], n, nullptr, nullptr);
        }
    } else {
        const BYTE* stop = p;
        while (stop < end && *stop) ++stop;
        std::string bytes(reinterpret_cast<const char*>(p), size_t(stop - p));
        if (encoding == 3) {
            std::u16string wide;
            int w = bytes.empty() ? 0 : MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), nullptr, 0);
            wide.resize(size_t(w > 0 ? w : 0));
            if (w > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), &wide[0], w);
            int n = wide.empty() ? 0 : WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
            narrow.resize(size_t(n > 0 ? n : 0));
            if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), &narrow[0], n, nullptr, nullptr);
        } else {
            narrow = bytes;
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
        while (text < end && (*text == 0 || (end - text >= 2 && ((text[0] == 0xFF && text[1] == 0xFE) || (text[0] == 0xFE && text[1] == 0xFF))))) {
            text += *text == 0 ? 1 : 2;
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

// The frames the mask selects, in the tag version's form, by slot ("" for a slot not selected).
std::vector<std::string> BuildFrames(const AUDIOFILEINFO& info, DWORD dwMask, bool version2) {
    std::vector<std::string> frames(12);
    const CString* texts[12] = {&info.strTitle, &info.strArtist, &info.strAlbum, &info.strTrack, &info.strGenre,
                                &info.strYear, &info.strComment, nullptr, &info.strComposer, &info.strCopyright,
                                &info.strEncodedBy, &info.strOriginalArtist};
    for (int slot = 0; slot < 12; ++slot) {
        if (!(dwMask & kManaged[slot].mask)) continue;
        std::string payload(1, '\0');
        if (slot == kSlotPicture) {
            CString mime = info.strPictureMime.IsEmpty() ? CString(version2 ? "JPG" : "image/jpeg") : info.strPictureMime;
            payload += mime.str();
            if (!version2) payload += '\0';
            payload += char(info.byPictureType == 255 ? 0 : info.byPictureType);
            payload += info.strPictureDesc.str();
            payload += '\0';
            payload.append(info.vecPicture.begin(), info.vecPicture.end());
        } else if (slot == kSlotComment) {
            payload += "chi";
            payload += '\0';
            payload += texts[slot]->str();
        } else {
            payload += texts[slot]->str();
        }
        std::string& frame = frames[size_t(slot)];
        if (version2) {
            frame = std::string(kManaged[slot].v2) + BigEndianBytes(DWORD(payload.size()), 3) + payload;
        } else {
            frame = std::string(kManaged[slot].v3) + BigEndianBytes(DWORD(payload.size()), 4) + std::string(2, '\0') + payload;
        }
    }
    return frames;
}

}  // namespace

bool CMP3FileParse::IsFrameHeader(const BYTE* p) {
    return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0 && (p[1] & 0x18) != 0x08 && (p[1] & 0x06) != 0 && (p[2] & 0xF0) != 0x00 &&
           (p[2] & 0xF0) != 0xF0 && (p[2] & 0x0C) < 0x0C;
}

DWORD CMP3FileParse::GetTagSize(CMxFile* pFile) {
    BYTE header[kTagHeaderSize];
    pFile->Seek(0, CFile::begin);
    if (pFile->Read(header, kTagHeaderSize) != kTagHeaderSize || !StartsWithNoCase(header, "ID3")) return 0;
    return Syncsafe(header + 6) + kTagHeaderSize;
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
        CMxPublic::CheckStringValidTail(buf, width);
        return CString(buf);
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
    bool version2 = version <= 2;
    int idLength = version2 ? 3 : 4, frameHeader = version2 ? 6 : 10;
    DWORD size = GetRealTagSize(pFile);
    DWORD length = pFile->GetLength();
    if (length == DWORD(-1) || size > length) return 1;  // a tag that does not fit is ignored
    std::vector<BYTE> tag(size);
    pFile->Seek(0, CFile::begin);
    if (pFile->Read(tag.data(), size) != size) return 1;
    SetBlock(m_header, tag.data(), size);
    bool filled[12] = {};
    bool unicode = false;
    size_t p = kTagHeaderSize, end = size;
    while (end - p >= size_t(version2 ? 3 : 4)) {
        if (!IsKnownId(tag.data() + p, idLength)) {
            ++p;
            continue;
        }
        if (end - p < 10) break;
        const BYTE* id = tag.data() + p;
        DWORD payloadSize = BigEndian(id + idLength, version2 ? 3 : 4);
        p += size_t(frameHeader);
        if (p >= end) break;
        if (payloadSize == 0) continue;
        if (payloadSize > end - p) break;
        std::vector<BYTE> payload(tag.begin() + long(p), tag.begin() + long(p + payloadSize));
        payload.push_back(0);
        payload.push_back(0);
        p += payloadSize;
        int slot = ManagedSlot(id, idLength);
        if (slot < 0 || filled[slot]) continue;
        filled[slot] = true;
        DecodeFrame(slot, version2, payload.data(), payload.data() + payload.size(), info);
        int encoding = payload[0];
        unicode = unicode || encoding == 1 || encoding == 2 || encoding == 3 || encoding == 6;
    }
    if (!version2 && unicode) m_bNeedModifyVersion = 1;
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
    if (length == DWORD(-1) || oldSize >= length) return 0;
    std::string tag;
    if (oldSize == 0) {
        std::vector<std::string> frames = BuildFrames(*pInfo, dwMask, false);
        std::string body;
        for (const std::string& f : frames) body += f;
        if (body.empty()) return 0;
        tag = std::string("ID3\x04\x00\x00", 6) + std::string(4, '\0') + body;
        PutSyncsafe(tag, 6, DWORD(body.size()));
    } else {
        std::string old(oldSize, '\0');
        pFile->Seek(0, CFile::begin);
        if (pFile->Read(&old[0], oldSize) != oldSize) return 0;
        const auto* bytes = reinterpret_cast<const BYTE*>(old.data());
        bool version2 = bytes[3] <= 2;
        int idLength = version2 ? 3 : 4, frameHeader = version2 ? 6 : 10;
        std::vector<std::string> frames = BuildFrames(*pInfo, dwMask, version2);
        bool any = false;
        for (const std::string& f : frames) any = any || !f.empty();
        if (!any) return 0;
        std::vector<bool> written(12, false);
        std::string body;
        size_t p = kTagHeaderSize, end = oldSize >= 2 * kTagHeaderSize ? oldSize - kTagHeaderSize : kTagHeaderSize;
        // Zeros from a frame boundary to the end of the tag are its padding: other readers stop there, so
        // the new frames go before it and it stays at the end.
        size_t paddingStart = end;
        while (paddingStart > p && bytes[paddingStart - 1] == 0) --paddingStart;
        std::string padding;
        bool atFrame = true;
        while (p < end) {
            if (atFrame && p >= paddingStart) {
                padding = old.substr(p, end - p);
                break;
            }
            atFrame = false;
            if (end - p >= size_t(idLength) && IsKnownId(bytes + p, idLength)) {
                if (oldSize - p < size_t(frameHeader)) return 0;
                DWORD payloadSize = BigEndian(bytes + p + idLength, version2 ? 3 : 4);
                size_t frameEnd = p + size_t(frameHeader) + payloadSize;
                if (frameEnd > oldSize) return 0;  // the frame runs past its tag
                int slot = ManagedSlot(bytes + p, idLength);
                if (slot >= 0 && !frames[size_t(slot)].empty()) {
                    if (!written[size_t(slot)]) body += frames[size_t(slot)];
                    written[size_t(slot)] = true;
                } else {
                    body.append(old, p, frameEnd - p);
                }
                p = frameEnd;
                atFrame = true;
            } else {
                body += old[p++];
            }
        }
        for (size_t slot = 0; slot < 12; ++slot) {
            if (!written[slot]) body += frames[slot];
        }
        body += padding;
        tag = old.substr(0, kTagHeaderSize) + body;
        PutSyncsafe(tag, 6, DWORD(body.size()));
    }
    std::string rest(length - oldSize, '\0');
    pFile->Seek(LONG(oldSize), CFile::begin);
    if (pFile->Read(&rest[0], UINT(rest.size())) != rest.size()) return 0;
    pFile->Seek(0, CFile::begin);
    pFile->Write(tag.data(), UINT(tag.size()));
    pFile->Write(rest.data(), UINT(rest.size()));
    pFile->SetLength(DWORD(tag.size() + rest.size()));
    pFile->Flush();
    SetBlock(m_header, reinterpret_cast<const BYTE*>(tag.data()), DWORD(tag.size()));
    m_tail.clear();
    AUDIOFILEINFO ignored;
    ReadId3v1(pFile, ignored);
    return 1;
}
