#include "MxModule/metadata/MP3Info.h"

#include <cstring>
#include <vector>

namespace {

const int kReadWindow = 20480;
const int kSearchWindow = 10240;

// kbit/s by [MPEG-1 or not][layer I, II, III][index 1-14].
const int kBitrates[2][3][14] = {
    {{32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
// Hz by [MPEG-1, MPEG-2, MPEG-2.5][index 0-2].
const int kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

bool IsSync(const BYTE* p) { return p[0] == 0xFF && (p[1] & 0xE0) == 0xE0; }

DWORD BigEndian(const BYTE* p) { return DWORD(p[0]) << 24 | DWORD(p[1]) << 16 | DWORD(p[2]) << 8 | p[3]; }

}  // namespace

int CMP3Info::FrameLength(DWORD h, double* pDuration, DWORD* pBitrate) {
    if (pDuration) *pDuration = 0;
    if (pBitrate) *pBitrate = 0;
    int version = int(h >> 19) & 3, layer = int(h >> 17) & 3, rateIndex = int(h >> 12) & 15;
    int srIndex = int(h >> 10) & 3, padding = int(h >> 9) & 1;
    if (version == 1 || layer == 0 || srIndex == 3 || rateIndex == 0 || rateIndex == 15) return 0;
    bool mpeg1 = version == 3;
    int layerIndex = 3 - layer;  // 0 = Layer I, 1 = II, 2 = III
    int bitrate = kBitrates[mpeg1 ? 0 : 1][layerIndex][rateIndex - 1];
    int sampleRate = kSampleRates[version == 3 ? 0 : version == 2 ? 1 : 2][srIndex];
    int length = 0;
    if (layerIndex == 0) length = (12000 * bitrate / sampleRate + padding) * 4;
    else if (layerIndex == 1 || mpeg1) length = 144000 * bitrate / sampleRate + padding;
    else length = 72000 * bitrate / sampleRate + padding;
    if (length <= 0 || bitrate < 1) return 0;
    if (pDuration) *pDuration = length * 8.0 / (bitrate * 1000.0);
    if (pBitrate) *pBitrate = DWORD(bitrate);
    return length;
}

int CMP3Info::FindFirstFrame(const BYTE* pData, int nSize) {
    for (int p = 0; p + 1 < nSize; ++p) {
        if (!IsSync(pData + p)) continue;
        if (nSize - p < 4) return -1;
        int length = FrameLength(BigEndian(pData + p));
        if (length <= 0) continue;
        if (p + length + 1 >= nSize) return -1;
        if (IsSync(pData + p + length)) return p;  // a second frame header follows the first
    }
    return -1;
}

CString CMP3Info::GetBitrateText() const {
    CString text;
    if (m_bVBR) text = "vbr";
    else text.Format("%lu", static_cast<unsigned long>(m_dwBitrate));
    return text;
}

int CMP3Info::Calculate(CMxFile* pFile, int nTotalLength) {
    m_dwAudioLength = 0;
    m_nDuration = 0;
    m_dwBitrate = 0;
    m_bVBR = FALSE;
    if (!pFile) return 0;
    DWORD fileLength = pFile->GetLength();
    if (fileLength == DWORD(-1)) return 0;
    // The audio starts after an ID3v2 tag: its size is 4 bytes of 7 bits at offset 6, plus the header
    // and any footer.
    BYTE head[10] = {};
    pFile->Seek(0, CFile::begin);
    DWORD start = 0;
    if (pFile->Read(head, sizeof head) == sizeof head && std::memcmp(head, "ID3", 3) == 0) {
        start = (DWORD(head[6] & 0x7F) << 21 | DWORD(head[7] & 0x7F) << 14 | DWORD(head[8] & 0x7F) << 7 | (head[9] & 0x7F)) + 10;
        if (head[3] == 4 && (head[5] & 0x10)) start += 10;  // a footer
    }
    m_dwAudioLength = fileLength > start ? fileLength - start : 0;
    pFile->Seek(LONG(start), CFile::begin);

    std::vector<BYTE> window(kReadWindow);
    DWORD offset = 0;
    int frame = -1, n = 0;
    while (true) {
        n = int(pFile->Read(window.data(), kReadWindow));
        if (n <= 0) return 0;
        if (n < kReadWindow) {
            frame = FindFirstFrame(window.data(), n);
            if (frame < 0) return 0;
            break;
        }
        frame = FindFirstFrame(window.data(), kSearchWindow);
        if (frame >= 0) break;
        // The next window overlaps this one by half.
        offset += kSearchWindow;
        pFile->Seek(LONG(start + offset), CFile::begin);
    }
    const BYTE* first = window.data() + frame;
    double frameDuration = 0;
    int frameLength = FrameLength(BigEndian(first), &frameDuration, &m_dwBitrate);
    DWORD F = offset + DWORD(frame);
    // A Xing header counts the frames of a variable-rate stream; an "Info" header does the same for a
    // constant-rate one, whose rate is then the next frame's (the header's own frame may differ).
    const BYTE* end = window.data() + n;
    for (int q = 0; q + 16 <= frameLength && first + q + 16 <= end; ++q) {
        bool xing = std::memcmp(first + q, "Xing", 4) == 0;
        if (!xing && std::memcmp(first + q, "Info", 4) != 0) continue;
        if (!(first[q + 7] & 0x01)) break;  // no frame count
        DWORD frames = BigEndian(first + q + 8);
        m_bVBR = xing ? TRUE : FALSE;
        if (!xing && first + frameLength + 4 <= end) {
            DWORD bitrate = 0;
            if (FrameLength(BigEndian(first + frameLength), nullptr, &bitrate) > 0) m_dwBitrate = bitrate;
        }
        m_nDuration = int(frames * frameDuration + 0.9);
        return 1;
    }
    DWORD total = nTotalLength == -1 ? m_dwAudioLength : DWORD(nTotalLength);
    m_dwAudioLength = total > F ? total - F : 0;
    m_nDuration = int((m_dwAudioLength / DWORD(frameLength)) * frameDuration);
    return 1;
}
