// Play time and bit rate of an MP3 file from its first MPEG audio frame (and a "Xing" header in it, for
// variable-rate files). Created on the stack for one computation.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/foundation/MxFile.h"

class MX_EXPORT CMP3Info {
public:
    CMP3Info() = default;
    virtual ~CMP3Info() = default;

    // Finds the first frame after any ID3v2 tag and computes the results. nTotalLength is the length of
    // the whole file when pFile holds only its first part, or -1 to use the file's own length. 1 on
    // success; 0 (play time 0) when no frame is found.
    int Calculate(CMxFile* pFile, int nTotalLength);

    int GetDuration() const { return m_nDuration; }
    DWORD GetBitrate() const { return m_dwBitrate; }
    BOOL IsVBR() const { return m_bVBR; }
    DWORD GetAudioLength() const { return m_dwAudioLength; }
    // "vbr" for a variable-rate file, else the first frame's bit rate in kbit/s.
    CString GetBitrateText() const;

    // The header's frame length in bytes and its duration in seconds; 0 for an invalid header.
    static int FrameLength(DWORD dwHeader, double* pDuration = nullptr, DWORD* pBitrate = nullptr);
    // The offset in [pData, pData + nSize) of the first frame header followed by a second one; -1 if none.
    static int FindFirstFrame(const BYTE* pData, int nSize);

private:
    DWORD m_dwAudioLength = 0;
    int m_nDuration = 0;
    DWORD m_dwBitrate = 0;
    BOOL m_bVBR = FALSE;
};
