#include "MxModule/metadata/WMAFileParse.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "MxModule/foundation/MxPublic.h"
#include "MxModule/metadata/AsfFormat.h"
#include "MxModule/metadata/GenreTable.h"

using namespace mxasf;

namespace {

// UTF-16LE bytes (up to a zero unit or the end) in the system code page.
CString FromUtf16(const unsigned char* p, size_t bytes) {
    std::u16string wide;
    for (size_t i = 0; i + 1 < bytes && (p[i] || p[i + 1]); i += 2) wide += char16_t(p[i] | p[i + 1] << 8);
    return CString(MxWideToAnsi(wide).c_str());
}

// The system code page text as UTF-16LE with its terminator.
std::string ToUtf16(const CString& text) {
    std::u16string wide;
    if (!text.IsEmpty()) {
        int n = MultiByteToWideChar(CP_ACP, 0, text, text.GetLength(), nullptr, 0);
        wide.resize(size_t(n > 0 ? n : 0));
        if (n > 0) MultiByteToWideChar(CP_ACP, 0, text, text.GetLength(), &wide[0], n);
    }
    std::string out;
    for (char16_t c : wide) out += Put(c, 2);
    return out + std::string(2, '\0');
}

bool Is(const unsigned char* p, const char* guid) { return std::memcmp(p, GuidOf(guid).data(), 16) == 0; }

// One attribute as stored in a description object: its bytes [start, end) within the object's payload,
// its name, value type and value.
struct ASFATTRIBUTE {
    size_t start = 0, end = 0;
    CString name;
    int type = 0;
    const unsigned char* value = nullptr;
    size_t length = 0;
};

// The attributes of an Extended Content Description (16-bit lengths) or, with `library`, of a Metadata
// or Metadata Library Object (a 12-byte head with a 32-bit value length). False when one runs past the
// payload; the whole ones before it are in `out`.
bool ReadAttributes(const unsigned char* d, size_t n, bool library, std::vector<ASFATTRIBUTE>& out) {
    if (n < 2) return false;
    size_t p = 2;  // p never passes n
    for (uint64_t a = 0, total = Get(d, 2); a < total; ++a) {
        ASFATTRIBUTE attr;
        attr.start = p;
        size_t nameLength = 0;
        if (library) {
            if (n - p < 12) return false;
            nameLength = size_t(Get(d + p + 4, 2));
            attr.type = int(Get(d + p + 6, 2));
            attr.length = size_t(Get(d + p + 8, 4));
            p += 12;
            if (n - p < nameLength) return false;
            attr.name = FromUtf16(d + p, nameLength);
            p += nameLength;
        } else {
            if (n - p < 2) return false;
            nameLength = size_t(Get(d + p, 2));
            p += 2;
            if (n - p < nameLength + 4) return false;
            attr.name = FromUtf16(d + p, nameLength);
            p += nameLength;
            attr.type = int(Get(d + p, 2));
            attr.length = size_t(Get(d + p + 2, 2));
            p += 4;
        }
        if (n - p < attr.length) return false;
        attr.value = d + p;
        p += attr.length;
        attr.end = p;
        out.push_back(attr);
    }
    return true;
}

// The objects a Header Extension Object's payload holds, as (offset, size) within the payload. False
// when the payload or one of them runs past its end; the whole ones before it are in `out`.
bool ReadExtension(const unsigned char* d, size_t n, std::vector<std::pair<size_t, size_t>>& out) {
    const size_t fixed = kHeaderExtensionFixed - kObjectHeader;
    if (n < fixed || Get(d + fixed - 4, 4) > n - fixed) return false;
    size_t end = fixed + size_t(Get(d + fixed - 4, 4));
    for (size_t p = fixed; p < end;) {
        if (end - p < kObjectHeader) return false;
        uint64_t size = Get(d + p + 16, 8);
        if (size < kObjectHeader || size > end - p) return false;
        out.emplace_back(p, size_t(size));
        p += size_t(size);
    }
    return true;
}

// Every attribute of the Extended Content Descriptions and of the metadata objects in the Header
// Extension of a whole Header Object; what runs past its object is left out.
std::vector<ASFATTRIBUTE> AllAttributes(const std::string& header) {
    std::vector<ASFATTRIBUTE> out;
    const auto* h = reinterpret_cast<const unsigned char*>(header.data());
    size_t pos = kHeaderObjectFixed;
    for (uint32_t i = 0, count = uint32_t(Get(h + 24, 4)); i < count && header.size() - pos >= kObjectHeader; ++i) {
        const unsigned char* o = h + pos;
        uint64_t size = Get(o + 16, 8);
        if (size < kObjectHeader || size > header.size() - pos) break;
        const unsigned char* d = o + kObjectHeader;
        size_t n = size_t(size) - kObjectHeader;
        if (Is(o, kExtendedContentDescription)) ReadAttributes(d, n, false, out);
        std::vector<std::pair<size_t, size_t>> inner;
        if (Is(o, kHeaderExtension)) ReadExtension(d, n, inner);
        for (const auto& child : inner) {
            const unsigned char* co = d + child.first;
            if (Is(co, kMetadataLibrary) || Is(co, kMetadata)) ReadAttributes(co + kObjectHeader, child.second - kObjectHeader, true, out);
        }
        pos += size_t(size);
    }
    return out;
}

// One attribute of the Extended Content Description or the Metadata Library into the record.
void ReadAttribute(const CString& name, int type, const unsigned char* v, size_t n, AUDIOFILEINFO& info) {
    CString text = type == kTypeString ? FromUtf16(v, n) : CString();
    auto is = [&name](const char* s) { return name.CompareNoCase(s) == 0; };
    if (is("WM/AlbumTitle")) info.strAlbum = text;
    else if (is("WM/Year")) info.strYear = text;
    else if (is("WM/Composer")) info.strComposer = text;
    else if (is("WM/EncodedBy")) info.strEncodedBy = text;
    else if (is("WM/OriginalArtist")) info.strOriginalArtist = text;
    else if (is("WM/AlbumArtist")) info.strAlbumArtist = text;
    else if (is("WM/Genre")) mxmeta::ParseGenreText(text, info.byGenre, info.strGenre);
    else if (is("WM/TrackNumber")) {
        if (type == kTypeString) info.strTrack = text;
        else if (type >= kTypeBool && n >= 2) info.strTrack.Format("%d", int(Get(v, type == kTypeWord ? 2 : n >= 4 ? 4 : 2)));
    } else if (is("IsVBR")) {
        if (n >= 2 && Get(v, n >= 4 ? 4 : 2) != 0) info.strBitrate = "vbr";
    } else if (is("WM/Picture") && n >= 5) {
        info.byPictureType = v[0];
        size_t length = size_t(Get(v + 1, 4)), p = 5;
        auto utf16z = [&](CString& out) {
            size_t start = p;
            while (p + 1 < n && (v[p] || v[p + 1])) p += 2;
            out = FromUtf16(v + start, p - start);
            p += 2;
        };
        utf16z(info.strPictureMime);
        utf16z(info.strPictureDesc);
        if (p < n) info.vecPicture.assign(v + p, v + p + std::min(length, n - p));
    }
}

std::string Object(const char* guid, const std::string& payload) {
    return GuidOf(guid) + Put(kObjectHeader + payload.size(), 8) + payload;
}

// An attribute the write puts in the file.
struct NEWATTRIBUTE {
    const char* name;
    int type;
    std::string value;
};

// As stored in the Extended Content Description.
std::string ContentAttribute(const NEWATTRIBUTE& a) {
    std::string n = ToUtf16(a.name);
    return Put(n.size(), 2) + n + Put(uint64_t(a.type), 2) + Put(a.value.size(), 2) + a.value;
}

// As stored in the Metadata Library: language 0 and stream 0 (the whole file).
std::string LibraryAttribute(const NEWATTRIBUTE& a) {
    std::string n = ToUtf16(a.name);
    return Put(0, 2) + Put(0, 2) + Put(n.size(), 2) + Put(uint64_t(a.type), 2) + Put(a.value.size(), 4) + n + a.value;
}

// The attributes the mask replaces, built from the record.
std::vector<NEWATTRIBUTE> NewAttributes(const AUDIOFILEINFO& info, DWORD mask) {
    std::vector<NEWATTRIBUTE> out;
    auto text = [&](const char* name, DWORD bit, const CString& value) {
        if (mask & bit) out.push_back({name, kTypeString, ToUtf16(value)});
    };
    text("WM/AlbumTitle", 0x0004, info.strAlbum);
    text("WM/Year", 0x0040, info.strYear);
    text("WM/TrackNumber", 0x0008, info.strTrack);
    text("WM/Genre", 0x0020, info.strGenre);
    CString genreId;
    genreId.Format("(%d)", info.byGenre);
    text("WM/GenreID", 0x0010, genreId);
    text("WM/Composer", 0x0200, info.strComposer);
    text("WM/EncodedBy", 0x0800, info.strEncodedBy);
    text("WM/OriginalArtist", 0x1000, info.strOriginalArtist);
    if (mask & 0x0100) {
        std::string picture = std::string(1, char(info.byPictureType == 255 ? 3 : info.byPictureType)) + Put(info.vecPicture.size(), 4) +
                              ToUtf16(info.strPictureMime) + ToUtf16(info.strPictureDesc) +
                              std::string(info.vecPicture.begin(), info.vecPicture.end());
        out.push_back({"WM/Picture", kTypeBytes, picture});
    }
    return out;
}

}  // namespace

bool CWMAFileParse::ReadHeaderObject(CMxFile* pFile, std::string& header, DWORD* pDeclaredSize) {
    m_dwFileLength = pFile->GetLength();
    if (m_dwFileLength == DWORD(-1) || m_dwFileLength < kObjectHeader) return false;
    unsigned char fixed[kHeaderObjectFixed];
    pFile->Seek(0, CFile::begin);
    UINT got = pFile->Read(fixed, kHeaderObjectFixed);
    if (got < kObjectHeader || !Is(fixed, kHeaderObject)) return false;
    uint64_t size = Get(fixed + 16, 8);
    if (size < kHeaderObjectFixed || size >= DWORD(-1)) return false;
    // Known even when the file is cut inside the Header Object: a caller learns how much it needs.
    if (pDeclaredSize) *pDeclaredSize = DWORD(size);
    if (got != kHeaderObjectFixed || size > m_dwFileLength) return false;
    header.resize(size_t(size));
    pFile->Seek(0, CFile::begin);
    return pFile->Read(&header[0], UINT(size)) == size;
}

int CWMAFileParse::Read(CMxFile* pFile, AUDIOFILEINFO* pInfo, DWORD* pHeaderSize) {
    m_bDRM = m_bScriptCommand = m_bVideoStream = FALSE;
    if (!pFile) return 0;
    std::string header;
    if (!ReadHeaderObject(pFile, header, pHeaderSize)) return 0;
    SetBlock(m_header, reinterpret_cast<const BYTE*>(header.data()), DWORD(header.size()));
    m_tail.clear();
    const auto* h = reinterpret_cast<const unsigned char*>(header.data());
    uint32_t count = uint32_t(Get(h + 24, 4));
    size_t pos = kHeaderObjectFixed;
    AUDIOFILEINFO info;
    // Bit rates in bits per second, for a file whose codec list names none.
    uint64_t streamRate = 0, extendedRate = 0, maxRate = 0;
    int result = 1;
    for (uint32_t i = 0; i < count; ++i) {
        if (header.size() - pos < kObjectHeader) {
            result = pos == header.size() ? 1 : 0;
            break;
        }
        const unsigned char* o = h + pos;
        uint64_t size = Get(o + 16, 8);
        if (size < kObjectHeader || size > header.size() - pos) {
            result = 0;  // an object that runs past the header is not read
            break;
        }
        const unsigned char* d = o + kObjectHeader;
        size_t n = size_t(size) - kObjectHeader;
        if (Is(o, kFileProperties) && n >= 64) {
            // Hostile sizes wrap around as the 64-bit arithmetic of the format would, without overflow.
            uint64_t duration = Get(d + 40, 8), preroll = Get(d + 56, 8);
            info.nDuration = int(int64_t(duration / 10000 - preroll) / 1000);
            if (n >= 80) maxRate = Get(d + 76, 4);
        } else if (Is(o, kContentDescription) && n >= 10) {
            size_t lengths[5], p = 10;
            for (int k = 0; k < 5; ++k) lengths[k] = size_t(Get(d + 2 * k, 2));
            CString* fields[4] = {&info.strTitle, &info.strArtist, &info.strCopyright, &info.strComment};
            for (int k = 0; k < 4 && p + lengths[k] <= n; ++k) {
                *fields[k] = FromUtf16(d + p, lengths[k]);
                p += lengths[k];
            }
        } else if (Is(o, kExtendedContentDescription) && n >= 2) {
            std::vector<ASFATTRIBUTE> attributes;
            ReadAttributes(d, n, false, attributes);  // the whole ones count
            for (const ASFATTRIBUTE& a : attributes) ReadAttribute(a.name, a.type, a.value, a.length, info);
        } else if (Is(o, kHeaderExtension)) {
            std::vector<std::pair<size_t, size_t>> inner;
            ReadExtension(d, n, inner);
            for (const auto& child : inner) {
                const unsigned char* co = d + child.first;
                const unsigned char* cd = co + kObjectHeader;
                size_t cn = child.second - kObjectHeader;
                if (Is(co, kMetadataLibrary) || Is(co, kMetadata)) {
                    std::vector<ASFATTRIBUTE> attributes;
                    ReadAttributes(cd, cn, true, attributes);
                    for (const ASFATTRIBUTE& a : attributes) ReadAttribute(a.name, a.type, a.value, a.length, info);
                } else if (Is(co, kExtendedStreamProperties) && cn >= 20 && !extendedRate) {
                    extendedRate = Get(cd + 16, 4);
                }
            }
        } else if (Is(o, kStreamProperties) && n >= 16) {
            if (Is(d, kVideoMedia)) m_bVideoStream = TRUE;
            // The audio format's average bytes per second.
            if (Is(d, kAudioMedia) && n >= 66 && Get(d + 40, 4) >= 12 && !streamRate) streamRate = Get(d + 62, 4) * 8;
        } else if (Is(o, kContentEncryption) && n >= 4) {
            size_t secret = size_t(Get(d, 4));
            if (4 + secret + 4 <= n) {
                size_t typeLength = size_t(Get(d + 4 + secret, 4));
                const char* type = reinterpret_cast<const char*>(d + 8 + secret);
                if (8 + secret + typeLength <= n && typeLength >= 3 && std::strncmp(type, "DRM", 3) == 0) m_bDRM = TRUE;
            }
        } else if (Is(o, kScriptCommand)) {
            m_bScriptCommand = TRUE;
        } else if (Is(o, kCodecList) && n >= 20 && info.strBitrate != "vbr") {
            size_t p = 20;
            for (uint64_t c = 0, total = Get(d + 16, 4); c < total && p + 4 <= n; ++c) {
                size_t nameChars = size_t(Get(d + p + 2, 2));
                if (p + 4 + 2 * nameChars + 2 > n) break;
                CString name = FromUtf16(d + p + 4, 2 * nameChars);
                p += 4 + 2 * nameChars;
                size_t descChars = size_t(Get(d + p, 2));
                if (p + 2 + 2 * descChars + 2 > n) break;
                CString desc = FromUtf16(d + p + 2, 2 * descChars);
                p += 2 + 2 * descChars;
                size_t infoLength = size_t(Get(d + p, 2));
                p += 2 + infoLength;
                if (CMxPublic::FindNoCase(name, "Windows Media Audio") >= 0) {
                    desc.Trim();
                    info.strBitrate = desc.SpanExcluding(" ");
                    break;
                }
            }
        }
        pos += size_t(size);
    }
    if (info.strBitrate.IsEmpty()) {
        // No codec description (ffmpeg writes none): the stream's own rate, in whole kbps.
        uint64_t rate = streamRate ? streamRate : extendedRate ? extendedRate : maxRate;
        if (rate) info.strBitrate.Format("%u", unsigned((rate + 500) / 1000));
    }
    if (info.strArtist.IsEmpty()) {
        // No author: the album artist, and then the original artist, stand in.
        if (!info.strAlbumArtist.IsEmpty()) info.strArtist = info.strAlbumArtist;
        if (!info.strOriginalArtist.IsEmpty()) info.strArtist = info.strOriginalArtist;
    }
    m_info = info;
    if (pInfo) CopyInfo(pInfo);
    return result;
}

int CWMAFileParse::ParseFile(CMxFile* pFile, AUDIOFILEINFO* pInfo, int) { return Read(pFile, pInfo, nullptr); }

int CWMAFileParse::ParseBuffer(CMxFile* pFile, DWORD* pHeaderSize, AUDIOFILEINFO* pInfo, int) {
    if (pHeaderSize) *pHeaderSize = DWORD(-1);
    return Read(pFile, pInfo, pHeaderSize);
}

int CWMAFileParse::GetRawTags(CMxFile* pFile, BYTE** ppTail, DWORD* pTailLen, BYTE** ppHeader, DWORD* pHeaderLen) {
    if (ppTail && pTailLen) {
        *ppTail = nullptr;
        *pTailLen = 0;
    }
    if (!ppHeader || !pHeaderLen) return 1;
    *ppHeader = nullptr;
    *pHeaderLen = 0;
    std::string header;
    if (!pFile || !ReadHeaderObject(pFile, header)) return 1;
    *ppHeader = new BYTE[header.size()];
    std::memcpy(*ppHeader, header.data(), header.size());
    *pHeaderLen = DWORD(header.size());
    return 1;
}

int CWMAFileParse::WriteTags(CMxFile* pFile, AUDIOFILEINFO* pInfo, DWORD dwMask) {
    std::string old;
    if (!pFile || !pInfo || !ReadHeaderObject(pFile, old)) return 0;
    const auto* h = reinterpret_cast<const unsigned char*>(old.data());
    uint32_t count = uint32_t(Get(h + 24, 4));
    const CString* texts[4] = {&pInfo->strTitle, &pInfo->strArtist, &pInfo->strCopyright, &pInfo->strComment};
    const DWORD bits[4] = {0x0001, 0x0002, 0x0400, 0x0080};
    const DWORD kDescriptionBits = 0x0001 | 0x0002 | 0x0400 | 0x0080;
    std::vector<NEWATTRIBUTE> attributes = NewAttributes(*pInfo, dwMask);
    // A text saved as it was read keeps its old UTF-16: characters the code page cannot hold (read as
    // '?') are not lost by a save of the whole record.
    std::vector<ASFATTRIBUTE> stored = AllAttributes(old);
    for (NEWATTRIBUTE& a : attributes) {
        for (const ASFATTRIBUTE& o : stored) {
            if (a.type == kTypeString && o.type == kTypeString && o.name.CompareNoCase(a.name) == 0 &&
                FromUtf16(o.value, o.length) == FromUtf16(reinterpret_cast<const unsigned char*>(a.value.data()), a.value.size())) {
                a.value.assign(reinterpret_cast<const char*>(o.value), o.length);
                break;
            }
        }
    }
    // Old attributes of these names go wherever they are: the ones written, and the copies of the
    // description texts written that some encoders (ffmpeg) also keep as attributes.
    std::vector<const char*> replaced;
    for (const NEWATTRIBUTE& a : attributes) replaced.push_back(a.name);
    const char* copies[4] = {"Title", "Author", "Copyright", "Description"};
    for (int k = 0; k < 4; ++k) {
        if (dwMask & bits[k]) replaced.push_back(copies[k]);
    }
    auto isReplaced = [&replaced](const CString& name) {
        for (const char* r : replaced) {
            if (name.CompareNoCase(r) == 0) return true;
        }
        return false;
    };
    // A value too long for the 16-bit lengths of the Extended Content Description goes to the Metadata
    // Library, whose lengths have 32 bits.
    std::string small, large;
    size_t smallCount = 0, largeCount = 0;
    for (const NEWATTRIBUTE& a : attributes) {
        if (a.value.size() <= 0xFFFF) {
            small += ContentAttribute(a);
            ++smallCount;
        } else if (a.value.size() <= 0xFFFFFFFFu) {
            large += LibraryAttribute(a);
            ++largeCount;
        } else {
            return 0;
        }
    }
    // Title, author, copyright, description: new texts for the mask bits set, else the old bytes. A text
    // longer than its 16-bit length allows is refused, not cut.
    auto description = [&](const std::string* old5, std::string& out) {
        std::string lengths, strings;
        for (int k = 0; k < 5; ++k) {
            std::string s = k < 4 && (dwMask & bits[k]) ? ToUtf16(*texts[k]) : old5 ? old5[k] : std::string();
            if (k < 4 && old5 && FromUtf16(reinterpret_cast<const unsigned char*>(old5[k].data()), old5[k].size()) == *texts[k]) {
                s = old5[k];  // saved as read: the old UTF-16, as for the attributes
            }
            if (s.size() > 0xFFFF) return false;
            lengths += Put(s.size(), 2);
            strings += s;
        }
        out = Object(kContentDescription, lengths + strings);
        return true;
    };
    // An attribute object without the replaced names, and with `added` (count of them) at its end.
    auto attributeObject = [&](const char* guid, bool library, const unsigned char* d, size_t n, const std::string& added,
                               size_t addedCount, std::string& out) {
        std::vector<ASFATTRIBUTE> olds;
        if (d && !ReadAttributes(d, n, library, olds)) return false;
        std::string kept;
        size_t keptCount = 0;
        for (const ASFATTRIBUTE& a : olds) {
            if (isReplaced(a.name)) continue;
            kept.append(reinterpret_cast<const char*>(d + a.start), a.end - a.start);
            ++keptCount;
        }
        if (keptCount + addedCount > 0xFFFF) return false;
        out = Object(guid, Put(keptCount + addedCount, 2) + kept + added);
        return true;
    };
    // The Header Extension (d null: a new one) with its metadata objects rebuilt and the long values in
    // its Metadata Library.
    auto extension = [&](const unsigned char* d, size_t n, std::string& out) {
        std::vector<std::pair<size_t, size_t>> inner;
        if (d && !ReadExtension(d, n, inner)) return false;
        std::string body;
        bool wroteLibrary = false;
        for (const auto& child : inner) {
            const unsigned char* co = d + child.first;
            bool library = Is(co, kMetadataLibrary);
            if (library || Is(co, kMetadata)) {
                bool add = library && !wroteLibrary;
                std::string rebuilt;
                if (!attributeObject(library ? kMetadataLibrary : kMetadata, true, co + kObjectHeader, child.second - kObjectHeader,
                                     add ? large : std::string(), add ? largeCount : 0, rebuilt)) {
                    return false;
                }
                wroteLibrary = wroteLibrary || library;
                body += rebuilt;
            } else {
                body.append(reinterpret_cast<const char*>(co), child.second);
            }
        }
        if (!wroteLibrary && largeCount) {
            std::string library;
            if (!attributeObject(kMetadataLibrary, true, nullptr, 0, large, largeCount, library)) return false;
            body += library;
        }
        if (body.size() > 0xFFFFFFFFu) return false;
        std::string fixed = d ? std::string(reinterpret_cast<const char*>(d), 18) : GuidOf(kHeaderExtensionReserved) + Put(6, 2);
        out = Object(kHeaderExtension, fixed + Put(body.size(), 4) + body);
        return true;
    };
    bool wroteDescription = false, wroteExtended = false, wroteExtension = false;
    std::string objects;
    size_t fileProperties = std::string::npos;  // where the File Properties Object lands in `objects`
    uint32_t written = 0;
    size_t pos = kHeaderObjectFixed;
    for (uint32_t i = 0; i < count && pos < old.size(); ++i) {
        if (old.size() - pos < kObjectHeader) return 0;
        const unsigned char* o = h + pos;
        uint64_t size = Get(o + 16, 8);
        if (size < kObjectHeader || size > old.size() - pos) return 0;
        const unsigned char* d = o + kObjectHeader;
        size_t n = size_t(size) - kObjectHeader;
        std::string rebuilt;
        if (Is(o, kContentDescription) && n >= 10) {
            std::string old5[5];
            size_t p = 10;
            for (int k = 0; k < 5; ++k) {
                size_t length = size_t(Get(d + 2 * k, 2));
                if (p + length > n) return 0;
                old5[k].assign(reinterpret_cast<const char*>(d + p), length);
                p += length;
            }
            if (!description(old5, rebuilt)) return 0;
            wroteDescription = true;
        } else if (Is(o, kExtendedContentDescription) && n >= 2) {
            // The new attributes go into the first one only.
            if (!attributeObject(kExtendedContentDescription, false, d, n, wroteExtended ? std::string() : small,
                                 wroteExtended ? 0 : smallCount, rebuilt)) {
                return 0;
            }
            wroteExtended = true;
        } else if (Is(o, kHeaderExtension) && !wroteExtension) {
            if (!extension(d, n, rebuilt)) return 0;
            wroteExtension = true;
        } else {
            if (Is(o, kFileProperties) && n >= 24 && fileProperties == std::string::npos) fileProperties = objects.size();
            rebuilt.assign(reinterpret_cast<const char*>(o), size_t(size));
        }
        objects += rebuilt;
        ++written;
        pos += size_t(size);
    }
    // Objects the file lacked are added after the others.
    std::string added;
    if (!wroteDescription && (dwMask & kDescriptionBits)) {
        if (!description(nullptr, added)) return 0;
        objects += added;
        ++written;
    }
    if (!wroteExtended && smallCount) {
        if (!attributeObject(kExtendedContentDescription, false, nullptr, 0, small, smallCount, added)) return 0;
        objects += added;
        ++written;
    }
    if (!wroteExtension && largeCount) {
        if (!extension(nullptr, 0, added)) return 0;
        objects += added;
        ++written;
    }
    std::string header = old.substr(0, 16) + Put(kHeaderObjectFixed + objects.size(), 8) + Put(written, 4) +
                         old.substr(28, 2) + objects;
    uint64_t length = uint64_t(header.size()) + (m_dwFileLength - old.size());
    if (length >= DWORD(-1)) return 0;
    // The file size the File Properties declare follows the new length.
    if (fileProperties != std::string::npos) header.replace(kHeaderObjectFixed + fileProperties + kObjectHeader + 16, 8, Put(length, 8));
    if (!ReplaceHead(pFile, header, DWORD(old.size()))) return 0;
    SetBlock(m_header, reinterpret_cast<const BYTE*>(header.data()), DWORD(header.size()));
    return 1;
}
