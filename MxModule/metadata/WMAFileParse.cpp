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
    if (wide.empty()) return CString();
    int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), &out[0], n, nullptr, nullptr);
    return CString(out.c_str());
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

// One attribute of the Extended Content Description into the record.
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

std::string Attribute(const char* name, int type, const std::string& value) {
    std::string n = ToUtf16(name);
    return Put(n.size(), 2) + n + Put(uint64_t(type), 2) + Put(value.size(), 2) + value;
}

// The attributes the mask replaces, built from the record: (name, mask bit, encoded attribute).
std::vector<std::pair<std::string, std::string>> NewAttributes(const AUDIOFILEINFO& info, DWORD mask) {
    std::vector<std::pair<std::string, std::string>> out;
    auto text = [&](const char* name, DWORD bit, const CString& value) {
        if (mask & bit) out.emplace_back(name, Attribute(name, kTypeString, ToUtf16(value)));
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
        std::string picture = std::string(1, char(info.byPictureType)) + Put(info.vecPicture.size(), 4) +
                              ToUtf16(info.strPictureMime) + ToUtf16(info.strPictureDesc) +
                              std::string(info.vecPicture.begin(), info.vecPicture.end());
        out.emplace_back("WM/Picture", Attribute("WM/Picture", kTypeBytes, picture));
    }
    return out;
}

}  // namespace

bool CWMAFileParse::ReadHeaderObject(CMxFile* pFile, std::string& header) {
    m_dwFileLength = pFile->GetLength();
    if (m_dwFileLength == DWORD(-1) || m_dwFileLength < kHeaderObjectFixed) return false;
    unsigned char fixed[kHeaderObjectFixed];
    pFile->Seek(0, CFile::begin);
    if (pFile->Read(fixed, kHeaderObjectFixed) != kHeaderObjectFixed || !Is(fixed, kHeaderObject)) return false;
    uint64_t size = Get(fixed + 16, 8);
    if (size < kHeaderObjectFixed || size > m_dwFileLength) return false;
    header.resize(size_t(size));
    pFile->Seek(0, CFile::begin);
    return pFile->Read(&header[0], UINT(size)) == size;
}

int CWMAFileParse::Read(CMxFile* pFile, AUDIOFILEINFO* pInfo, DWORD* pHeaderSize) {
    m_bDRM = m_bScriptCommand = m_bVideoStream = FALSE;
    if (!pFile) return 0;
    std::string header;
    if (!ReadHeaderObject(pFile, header)) return 0;
    if (pHeaderSize) *pHeaderSize = DWORD(header.size());
    SetBlock(m_header, reinterpret_cast<const BYTE*>(header.data()), DWORD(header.size()));
    m_tail.clear();
    const auto* h = reinterpret_cast<const unsigned char*>(header.data());
    uint32_t count = uint32_t(Get(h + 24, 4));
    size_t pos = kHeaderObjectFixed;
    AUDIOFILEINFO info;
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
        } else if (Is(o, kContentDescription) && n >= 10) {
            size_t lengths[5], p = 10;
            for (int k = 0; k < 5; ++k) lengths[k] = size_t(Get(d + 2 * k, 2));
            CString* fields[4] = {&info.strTitle, &info.strArtist, &info.strCopyright, &info.strComment};
            for (int k = 0; k < 4 && p + lengths[k] <= n; ++k) {
                *fields[k] = FromUtf16(d + p, lengths[k]);
                p += lengths[k];
            }
        } else if (Is(o, kExtendedContentDescription) && n >= 2) {
            size_t p = 2;
            for (uint64_t a = 0, total = Get(d, 2); a < total && p + 2 <= n; ++a) {
                size_t nameLength = size_t(Get(d + p, 2));
                if (p + 2 + nameLength + 4 > n) break;
                CString name = FromUtf16(d + p + 2, nameLength);
                p += 2 + nameLength;
                int type = int(Get(d + p, 2));
                size_t valueLength = size_t(Get(d + p + 2, 2));
                p += 4;
                if (p + valueLength > n) break;
                ReadAttribute(name, type, d + p, valueLength, info);
                p += valueLength;
            }
        } else if (Is(o, kStreamProperties) && n >= 16) {
            if (Is(d, kVideoMedia)) m_bVideoStream = TRUE;
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
    std::vector<std::pair<std::string, std::string>> attributes = NewAttributes(*pInfo, dwMask);
    const DWORD kDescriptionBits = 0x0001 | 0x0002 | 0x0400 | 0x0080;
    bool wroteDescription = false, wroteExtended = false;
    std::string objects;
    uint32_t written = 0;
    size_t pos = kHeaderObjectFixed;
    auto description = [&](const std::string* old4) {
        // Title, author, copyright, description: new texts for the mask bits set, else the old bytes.
        const CString* texts[4] = {&pInfo->strTitle, &pInfo->strArtist, &pInfo->strCopyright, &pInfo->strComment};
        const DWORD bits[4] = {0x0001, 0x0002, 0x0400, 0x0080};
        std::string lengths, strings;
        for (int k = 0; k < 5; ++k) {
            std::string s = k < 4 && (dwMask & bits[k]) ? ToUtf16(*texts[k]) : old4 ? old4[k] : std::string();
            lengths += Put(s.size(), 2);
            strings += s;
        }
        return Object(kContentDescription, lengths + strings);
    };
    auto extended = [&](const unsigned char* d, size_t n) {
        std::string kept;
        uint64_t keptCount = 0;
        size_t p = 2;
        for (uint64_t a = 0, total = d ? Get(d, 2) : 0; a < total && p + 2 <= n; ++a) {
            size_t start = p, nameLength = size_t(Get(d + p, 2));
            if (p + 2 + nameLength + 4 > n) return std::string();
            CString name = FromUtf16(d + p + 2, nameLength);
            size_t valueLength = size_t(Get(d + p + 4 + nameLength, 2));
            p += 2 + nameLength + 4 + valueLength;
            if (p > n) return std::string();
            bool replaced = false;
            for (const auto& attr : attributes) replaced = replaced || name.CompareNoCase(attr.first.c_str()) == 0;
            if (!replaced) {
                kept.append(reinterpret_cast<const char*>(d + start), p - start);
                ++keptCount;
            }
        }
        for (const auto& attr : attributes) kept += attr.second;
        return Object(kExtendedContentDescription, Put(keptCount + attributes.size(), 2) + kept);
    };
    for (uint32_t i = 0; i < count && pos < old.size(); ++i) {
        if (old.size() - pos < kObjectHeader) return 0;
        const unsigned char* o = h + pos;
        uint64_t size = Get(o + 16, 8);
        if (size < kObjectHeader || size > old.size() - pos) return 0;
        const unsigned char* d = o + kObjectHeader;
        size_t n = size_t(size) - kObjectHeader;
        if (Is(o, kContentDescription) && n >= 10) {
            std::string old4[5];
            size_t p = 10;
            for (int k = 0; k < 5; ++k) {
                size_t length = size_t(Get(d + 2 * k, 2));
                if (p + length > n) return 0;
                old4[k].assign(reinterpret_cast<const char*>(d + p), length);
                p += length;
            }
            objects += description(old4);
            wroteDescription = true;
        } else if (Is(o, kExtendedContentDescription) && n >= 2) {
            std::string rebuilt = extended(d, n);
            if (rebuilt.empty()) return 0;
            objects += rebuilt;
            wroteExtended = true;
        } else {
            objects.append(reinterpret_cast<const char*>(o), size_t(size));
        }
        ++written;
        pos += size_t(size);
    }
    // Objects the file lacked are added after the others.
    if (!wroteDescription && (dwMask & kDescriptionBits)) {
        objects += description(nullptr);
        ++written;
    }
    if (!wroteExtended && !attributes.empty()) {
        objects += extended(nullptr, 0);
        ++written;
    }
    std::string header = old.substr(0, 16) + Put(kHeaderObjectFixed + objects.size(), 8) + Put(written, 4) +
                         old.substr(28, 2) + objects;
    std::string rest(m_dwFileLength - old.size(), '\0');
    pFile->Seek(LONG(old.size()), CFile::begin);
    if (pFile->Read(&rest[0], UINT(rest.size())) != rest.size()) return 0;
    pFile->Seek(0, CFile::begin);
    pFile->Write(header.data(), UINT(header.size()));
    pFile->Write(rest.data(), UINT(rest.size()));
    pFile->SetLength(DWORD(header.size() + rest.size()));
    pFile->Flush();
    SetBlock(m_header, reinterpret_cast<const BYTE*>(header.data()), DWORD(header.size()));
    return 1;
}
