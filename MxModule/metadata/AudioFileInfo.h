// The tag record of one audio file, and the interface every format parser implements.
#pragma once

#include <vector>

#include "MxModule/MxExport.h"
#include "MxModule/foundation/MxFile.h"
#include "platform/text.h"

struct MX_EXPORT AUDIOFILEINFO {
    CString strTitle;
    CString strArtist;
    CString strAlbum;
    CString strYear;
    CString strComment;
    CString strTrack;
    BYTE byGenre = 255;          // genre code; 255 = unknown
    int nDuration = 0;           // play time in whole seconds
    CString strGenre = "Unknow";
    CString strBitrate;          // kbit/s as decimal text, or "vbr"
    CString strPictureMime;      // MIME type, or the three-letter image format of ID3v2.2
    BYTE byPictureType = 255;    // picture type of the ID3v2 picture frame; 255 = none
    CString strPictureDesc;
    std::vector<BYTE> vecPicture;
    CString strComposer;
    CString strCopyright;
    CString strEncodedBy;
    CString strOriginalArtist;
    CString strAlbumArtist;      // filled by the WMA reader only
};

// A format parser. It owns the raw blocks it read last: the header block (for MP3 the whole ID3v2 tag,
// for WMA the ASF Header Object) and the tail block (for MP3 the 128-byte ID3v1 tag).
class MX_EXPORT CAudioFileParseBase {
public:
    CAudioFileParseBase() = default;
    virtual ~CAudioFileParseBase();
    CAudioFileParseBase(const CAudioFileParseBase&) = delete;
    CAudioFileParseBase& operator=(const CAudioFileParseBase&) = delete;

    // Copies the raw blocks out of the file into new buffers the caller owns (delete[]); a null out-pair
    // is skipped; a missing block gives null and 0.
    virtual int GetRawTags(CMxFile* pFile, BYTE** ppTail, DWORD* pTailLen, BYTE** ppHeader, DWORD* pHeaderLen) = 0;
    // Parses the first part of a file held in memory; *pHeaderSize receives the size of the leading tag.
    virtual int ParseBuffer(CMxFile* pFile, DWORD* pHeaderSize, AUDIOFILEINFO* pInfo, int nOption) = 0;
    virtual int ParseFile(CMxFile* pFile, AUDIOFILEINFO* pInfo, int nOption) = 0;
    // Writes the fields the mask selects; non-zero on success.
    virtual int WriteTags(CMxFile* pFile, AUDIOFILEINFO* pInfo, DWORD dwMask) = 0;
    virtual int IsNeedModifyVersion();
    virtual int CopyInfo(AUDIOFILEINFO* pInfo);
    // As CopyInfo, but 0 without copying for a null record.
    virtual int GetInfo(AUDIOFILEINFO* pInfo);
    virtual CString GetTitle();
    virtual CString GetArtist();
    virtual CString GetAlbum();
    virtual CString GetYear();
    virtual CString GetComment();
    virtual int GetDuration();

    // The raw blocks of the last operation, owned by the parser (null and 0 when there is none).
    BYTE* GetHeaderBlock(int& nLength) {
        nLength = int(m_header.size());
        return m_header.empty() ? nullptr : m_header.data();
    }
    BYTE* GetTailBlock(int& nLength) {
        nLength = int(m_tail.size());
        return m_tail.empty() ? nullptr : m_tail.data();
    }

protected:
    // Replaces a raw block with a copy of the given bytes (none for a null pointer).
    static void SetBlock(std::vector<BYTE>& block, const BYTE* pData, DWORD dwLength);
    // Puts strHead in place of the file's first dwOldSize bytes, the rest following unchanged; false when
    // a read or write failed. A file that grows is first extended with its new end, so that a full disk
    // refuses the save before any byte of the old file is overwritten (and the file stays as it was).
    static bool ReplaceHead(CMxFile* pFile, const std::string& strHead, DWORD dwOldSize);

    AUDIOFILEINFO m_info;
    int m_bNeedModifyVersion = 0;
    std::vector<BYTE> m_header;
    std::vector<BYTE> m_tail;
};
