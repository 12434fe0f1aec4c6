// The WMA parser: walks the objects of the ASF Header Object for the tags, the play time, the bit rate,
// and whether the file is DRM-protected, carries script commands or holds a video stream. Saving rebuilds
// the Header Object and rewrites the file in place.
#pragma once

#include <string>

#include "MxModule/MxExport.h"
#include "MxModule/metadata/AudioFileInfo.h"

class MX_EXPORT CWMAFileParse : public CAudioFileParseBase {
public:
    int GetRawTags(CMxFile* pFile, BYTE** ppTail, DWORD* pTailLen, BYTE** ppHeader, DWORD* pHeaderLen) override;
    int ParseBuffer(CMxFile* pFile, DWORD* pHeaderSize, AUDIOFILEINFO* pInfo, int nOption) override;
    int ParseFile(CMxFile* pFile, AUDIOFILEINFO* pInfo, int nOption) override;
    // Mask bits as for MP3, with 0x10 (WM/GenreID) and 0x20 (WM/Genre) distinct.
    int WriteTags(CMxFile* pFile, AUDIOFILEINFO* pInfo, DWORD dwMask) override;

    BOOL IsDRM() const { return m_bDRM; }
    BOOL IsScriptCommand() const { return m_bScriptCommand; }
    BOOL IsVideoStream() const { return m_bVideoStream; }

private:
    // Reads the Header Object into `header`; false unless the file starts with one that fits.
    // *pDeclaredSize gets its size once the file holds the size field, whole or not.
    bool ReadHeaderObject(CMxFile* pFile, std::string& header, DWORD* pDeclaredSize = nullptr);
    int Read(CMxFile* pFile, AUDIOFILEINFO* pInfo, DWORD* pHeaderSize);

    DWORD m_dwFileLength = 0;
    BOOL m_bDRM = FALSE;
    BOOL m_bScriptCommand = FALSE;
    BOOL m_bVideoStream = FALSE;
};
