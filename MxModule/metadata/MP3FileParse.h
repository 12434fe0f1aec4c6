// The MP3 parser: the ID3v2 tag at the start of the file (versions 2, 3 and 4; twelve managed frames),
// the ID3v1 tag at its end as a fallback, and the play time and bit rate of the MPEG stream. Saving
// rebuilds the ID3v2 tag and rewrites the file in place; the ID3v1 tag is never written.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/metadata/AudioFileInfo.h"

class MX_EXPORT CMP3FileParse : public CAudioFileParseBase {
public:
    int GetRawTags(CMxFile* pFile, BYTE** ppTail, DWORD* pTailLen, BYTE** ppHeader, DWORD* pHeaderLen) override;
    // nOption: the length of the whole file whose first part pFile holds (-1: pFile is the whole file).
    int ParseBuffer(CMxFile* pFile, DWORD* pHeaderSize, AUDIOFILEINFO* pInfo, int nOption) override;
    int ParseFile(CMxFile* pFile, AUDIOFILEINFO* pInfo, int nOption) override;
    // Mask bits: 0x1 title, 0x2 artist, 0x4 album, 0x8 track, 0x10/0x20 genre, 0x40 year, 0x80 comment,
    // 0x100 picture, 0x200 composer, 0x400 copyright, 0x800 encoded by, 0x1000 original artist.
    int WriteTags(CMxFile* pFile, AUDIOFILEINFO* pInfo, DWORD dwMask) override;

    // The total size of the file's ID3v2 tag (header included), or 0.
    static DWORD GetTagSize(CMxFile* pFile);
    // The size the tag really has: a tag whose size field counted its own header is 10 bytes shorter
    // than the field says (its first audio frame seems to begin inside it).
    static DWORD GetRealTagSize(CMxFile* pFile);
    // True when the bytes start a plausible MPEG audio frame header (the fourth byte is not looked at).
    static bool IsFrameHeader(const BYTE* p);

private:
    int ReadId3v1(CMxFile* pFile, AUDIOFILEINFO& info);
    int ReadId3v2(CMxFile* pFile, AUDIOFILEINFO& info);
};
