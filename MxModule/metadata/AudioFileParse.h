// The one entry point for the metadata of an audio file: it picks the MP3 or WMA parser by the file's
// content, runs it, normalises the texts and hands back an AUDIOFILEINFO; it also saves edited tags.
#pragma once

#include <memory>

#include "MxModule/MxExport.h"
#include "MxModule/metadata/AudioFileInfo.h"
#include "platform/windows.h"

// Posted (wParam 0) to the calling thread's main window after a file's extension was corrected; lParam
// is a `new CString[3]` (old path, new path, tag string) that the receiver frees with delete[].
#define WM_MX_EXTENSION_CORRECTED (WM_USER + 403)

enum ModifyAudioFileResult { MAFR_OK = 0, MAFR_OPENFAILED = 1, MAFR_WRITEFAILED = 2, MAFR_INVALID = 3 };

class MX_EXPORT CAudioFileParse {
public:
    CAudioFileParse();
    ~CAudioFileParse();
    // A copy takes the flags, never the parser of its source.
    CAudioFileParse(const CAudioFileParse& other);
    CAudioFileParse& operator=(const CAudioFileParse& other);

    // Parses the file at strPath; with bFixExtension a file whose extension contradicts its content is
    // renamed, and strPath follows. Non-zero on success.
    int ParseAudioFile(CString& strPath, AUDIOFILEINFO* pInfo, int nOption, int bFixExtension, CString strTag);
    // Parses a file image in memory; nOption is the whole file's length (-1: the buffer is the file).
    int ParseAudioFile(BYTE* pBuffer, int nLength, AUDIOFILEINFO* pInfo, int& nHeaderSize, int nOption);
    // The raw tag blocks, as new buffers the caller frees with delete[].
    void GetAudioFileID3Info(CString strPath, BYTE*& pTail, int& nTailLength, BYTE*& pHeader, int& nHeaderLength);
    ModifyAudioFileResult SetAudioFileInfo(CString strPath, AUDIOFILEINFO* pInfo, DWORD dwMask);
    int IsNeedModifyVersion();
    // The current parser's raw blocks (valid until the next operation); null and 0 without a parser.
    BYTE* GetHeaderInfo(int& nLength);
    BYTE* GetTailInfo(int& nLength);

    static CString ConvertGenreToString(BYTE byGenre);
    static BYTE ConvertGenreToCode(CString strGenre);

    int m_bDRM;
    int m_bScriptCommand;
    int m_bNeedModifyVersion;

protected:
    // 0 WMA, 1 MP3, -1 neither.
    static int GetFileTypeByContent(const BYTE* pBuffer, int nLength);
    // Leading and trailing dots become blanks, then blanks are trimmed.
    static void LegalString(CString& strText);

private:
    // Classifies the file by its content (read through pOpen when the caller has it open); the extension
    // comes back in lower case.
    static void Classify(const CString& strPath, CString& strExtension, bool& bMp3, bool& bWma, CMxFile* pOpen = nullptr);
    // Makes the parser of that content; false for anything but MP3 and WMA.
    bool MakeParser(bool bMp3, bool bWma);

    std::unique_ptr<CAudioFileParseBase> m_pParser;
};
