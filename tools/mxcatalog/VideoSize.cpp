#include "VideoSize.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace mxcatalog {
namespace {

uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t Be24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }
uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// A reader of AMF0 values inside [m_p, m_end).
class CAmfReader {
public:
    CAmfReader(const uint8_t* p, const uint8_t* end) : m_p(p), m_end(end) {}

    bool String(std::string& s) {
        if (m_end - m_p < 2) return false;
        size_t n = Be16(m_p);
        m_p += 2;
        if (size_t(m_end - m_p) < n) return false;
        s.assign(reinterpret_cast<const char*>(m_p), n);
        m_p += n;
        return true;
    }

    // Reads one value; a number goes to *pNumber. Nested objects are walked up to a depth.
    bool Value(double* pNumber, int nDepth, int* pWidth, int* pHeight) {
        if (m_p >= m_end || nDepth > 8) return false;
        uint8_t type = *m_p++;
        switch (type) {
            case 0: {  // number
                if (m_end - m_p < 8) return false;
                uint64_t bits = 0;
                for (int i = 0; i < 8; ++i) bits = bits << 8 | m_p[i];
                m_p += 8;
                double d;
                std::memcpy(&d, &bits, sizeof d);
                if (pNumber) *pNumber = d;
                return true;
            }
            case 1: return Skip(1);
            case 2: {
                std::string s;
                return String(s);
            }
            case 3: return Properties(nDepth, pWidth, pHeight);
            case 5: case 6: return true;
            case 7: return Skip(2);
            case 8: return Skip(4) && Properties(nDepth, pWidth, pHeight);
            case 10: {
                if (m_end - m_p < 4) return false;
                uint32_t n = Be32(m_p);
                m_p += 4;
                for (uint32_t i = 0; i < n; ++i) {
                    if (!Value(nullptr, nDepth + 1, nullptr, nullptr)) return false;
                }
                return true;
            }
            case 11: return Skip(10);
            case 12: {
                if (m_end - m_p < 4) return false;
                uint32_t n = Be32(m_p);
                m_p += 4;
                return Skip(n);
            }
            default: return false;
        }
    }

private:
    bool Skip(size_t n) {
        if (size_t(m_end - m_p) < n) return false;
        m_p += n;
        return true;
    }

    // Name/value pairs up to the end marker (an empty name and type 9). Width and height of the top
    // level are taken when asked for.
    bool Properties(int nDepth, int* pWidth, int* pHeight) {
        for (;;) {
            std::string name;
            if (!String(name)) return false;
            if (name.empty() && m_p < m_end && *m_p == 9) {
                ++m_p;
                return true;
            }
            double number = NAN;
            if (!Value(&number, nDepth + 1, nullptr, nullptr)) return false;
            bool fits = std::isfinite(number) && number >= 0 && number < 1e6;
            if (pWidth && name == "width" && fits) *pWidth = int(number);
            if (pHeight && name == "height" && fits) *pHeight = int(number);
        }
    }

    const uint8_t* m_p;
    const uint8_t* m_end;
};

constexpr int MAX_BOXES = 4096;

// Walks the boxes of [begin, end) at one level; finds tkhd inside moov/trak.
bool WalkBoxes(const READAT& read, uint64_t begin, uint64_t end, int nDepth, int& nBoxes, int& nWidth, int& nHeight) {
    uint64_t pos = begin;
    while (end - pos >= 8 && pos < end) {
        if (++nBoxes > MAX_BOXES) return false;
        uint8_t head[16];
        if (!read(pos, head, 8)) return false;
        uint64_t size = Be32(head);
        uint32_t type = Be32(head + 4);
        uint64_t headerSize = 8;
        if (size == 1) {
            if (end - pos < 16 || !read(pos + 8, head + 8, 8)) return false;
            size = uint64_t(Be32(head + 8)) << 32 | Be32(head + 12);
            headerSize = 16;
        } else if (size == 0) {
            size = end - pos;  // the box runs to the end of its parent
        }
        if (size < headerSize || size > end - pos) return false;
        uint64_t bodyStart = pos + headerSize, bodyEnd = pos + size;
        if (type == 0x6D6F6F76 /* moov */ || type == 0x7472616B /* trak */) {
            if (nDepth < 4 && WalkBoxes(read, bodyStart, bodyEnd, nDepth + 1, nBoxes, nWidth, nHeight)) return true;
        } else if (type == 0x746B6864 /* tkhd */ && nDepth > 0) {
            uint8_t version = 0;
            if (bodyEnd - bodyStart < 1 || !read(bodyStart, &version, 1)) return false;
            // version and flags, times, track id, reserved, duration, reserved, layer, group, volume,
            // reserved, matrix: then width and height.
            uint64_t at = bodyStart + (version == 1 ? 4 + 8 + 8 + 4 + 4 + 8 : 4 + 4 + 4 + 4 + 4 + 4) + 8 + 2 + 2 + 2 + 2 + 36;
            uint8_t wh[8];
            if (at + 8 <= bodyEnd && read(at, wh, 8)) {
                int w = int(Be32(wh) >> 16), h = int(Be32(wh + 4) >> 16);
                if (w > 0 && h > 0) {
                    nWidth = w;
                    nHeight = h;
                    return true;
                }
            }
        }
        pos = bodyEnd;
    }
    return false;
}

}  // namespace

bool FlvFrameSize(const uint8_t* pData, size_t nSize, int& nWidth, int& nHeight) {
    if (nSize < 9 || std::memcmp(pData, "FLV", 3) != 0) return false;
    uint64_t pos = Be32(pData + 5);
    pos += 4;  // the first "previous tag size"
    for (int tags = 0; tags < 16 && pos + 11 <= nSize; ++tags) {
        const uint8_t* tag = pData + pos;
        uint8_t type = tag[0] & 0x1F;
        uint32_t dataSize = Be24(tag + 1);
        uint64_t dataStart = pos + 11;
        if (dataStart + dataSize > nSize) return false;
        if (type == 18 && dataSize > 0 && pData[dataStart] == 2) {
            CAmfReader amf(pData + dataStart + 1, pData + dataStart + dataSize);
            std::string name;
            int w = 0, h = 0;
            // A damaged end of the metadata still leaves the sizes read before it.
            if (amf.String(name) && name == "onMetaData") {
                amf.Value(nullptr, 0, &w, &h);
                if (w > 0 && h > 0) {
                    nWidth = w;
                    nHeight = h;
                    return true;
                }
            }
        }
        pos = dataStart + dataSize + 4;
    }
    return false;
}

bool Mp4FrameSize(const READAT& read, uint64_t nFileSize, int& nWidth, int& nHeight) {
    int boxes = 0;
    return WalkBoxes(read, 0, nFileSize, 0, boxes, nWidth, nHeight);
}

bool Mp4FrameSize(const uint8_t* pData, size_t nSize, int& nWidth, int& nHeight) {
    READAT read = [pData, nSize](uint64_t offset, void* buf, size_t n) {
        if (offset > nSize || n > nSize - offset) return false;
        std::memcpy(buf, pData + offset, n);
        return true;
    };
    return Mp4FrameSize(read, nSize, nWidth, nHeight);
}

bool VideoFrameSize(FILE* f, int& nWidth, int& nHeight) {
    bool ok = false;
    std::vector<uint8_t> head(64 * 1024);
    size_t got = std::fread(head.data(), 1, head.size(), f);
    if (got >= 3 && std::memcmp(head.data(), "FLV", 3) == 0) {
        ok = FlvFrameSize(head.data(), got, nWidth, nHeight);
    } else if (got >= 8 && std::fseek(f, 0, SEEK_END) == 0) {
        long end = std::ftell(f);
        READAT read = [f](uint64_t offset, void* buf, size_t n) {
            return offset <= uint64_t(INT64_MAX) && fseeko(f, off_t(offset), SEEK_SET) == 0 && std::fread(buf, 1, n, f) == n;
        };
        if (end > 0) ok = Mp4FrameSize(read, uint64_t(end), nWidth, nHeight);
    }
    return ok;
}

}  // namespace mxcatalog
