// File typing: the static classification operations of CFileOperateManager.
#include <cstring>

#include "MxModule/fileops/FileOperateManager.h"
#include "MxModule/fileops/FileTyping.h"
#include "MxModule/foundation/MxFile.h"
#include "MxModule/metadata/AsfFormat.h"
#include "MxModule/metadata/MP3FileParse.h"
#include "MxModule/metadata/WMAFileParse.h"

namespace {

const int kScanBlock = 100;
const int kScanBlocks = 50;
const int kScanPositions = 97;  // 0 to 96: the header's first three bytes lie in the block

// The text after the last "."; false when there is none.
bool Extension(const CString& path, CString& ext) {
    int dot = path.ReverseFind('.');
    if (dot < 0) return false;
    ext = path.Mid(dot + 1);
    return true;
}

bool IsMp3OrWma(const CString& ext) { return !ext.CompareNoCase("mp3") || !ext.CompareNoCase("wma"); }

}  // namespace

CString CFileOperateManager::GetFileTypeByExtName(CString strExt, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat) {
    struct Row {
        const char* ext;
        VelaPlayerFileType cls, format;
    };
    static const Row kRows[] = {{"MP3", FILETYPE_AUDIO, FILETYPE_MP3},
                                {"WMA", FILETYPE_AUDIO, FILETYPE_WMA},
                                {"AVI", FILETYPE_VIDEO, FILETYPE_AVI},
                                {"WMV", FILETYPE_VIDEO, FILETYPE_WMV}};
    nClass = nFormat = FILETYPE_UNKNOWN;
    for (const Row& row : kRows) {
        if (!strExt.CompareNoCase(row.ext)) {
            nClass = row.cls;
            nFormat = row.format;
        }
    }
    return strExt;
}

void mxfileops::ClassifyOpenFile(CMxFile& file, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat) {
    nClass = nFormat = FILETYPE_UNKNOWN;
    file.Seek(0, CFile::begin);
    BYTE head[16] = {};
    UINT got = file.Read(head, sizeof head);
    if (got < 4 || std::memcmp(head, ".RMF", 4) == 0) return;
    if (got == 16 && std::memcmp(head, mxasf::GuidOf(mxasf::kHeaderObject).data(), 16) == 0) {
        nClass = FILETYPE_AUDIO;
        nFormat = FILETYPE_WMA;
        // A video stream makes it a Windows Media video.
        CWMAFileParse parser;
        AUDIOFILEINFO scratch;
        parser.ParseFile(&file, &scratch, 0);
        if (parser.IsVideoStream()) {
            nClass = FILETYPE_VIDEO;
            nFormat = FILETYPE_WMV;
        }
        return;
    }
    bool mp3 = std::memcmp(head, "ID3", 3) == 0;
    DWORD length = mp3 ? 0 : file.GetLength();
    if (!mp3 && length != DWORD(-1) && length >= 128) {
        BYTE tag[3] = {};
        file.Seek(LONG(length - 128), CFile::begin);
        mp3 = file.Read(tag, 3) == 3 && std::memcmp(tag, "TAG", 3) == 0;
    }
    if (!mp3) {
        BYTE block[kScanBlock];
        file.Seek(0, CFile::begin);
        for (int b = 0; b < kScanBlocks && !mp3 && file.Read(block, kScanBlock) == UINT(kScanBlock); ++b) {
            for (int p = 0; p < kScanPositions && !mp3; ++p) mp3 = CMP3FileParse::IsFrameHeader(block + p);
        }
    }
    if (mp3) {
        nClass = FILETYPE_AUDIO;
        nFormat = FILETYPE_MP3;
    }
}

bool mxfileops::HasAudioExtension(const CString& strPath) {
    CString ext;
    return Extension(strPath, ext) && IsMp3OrWma(ext);
}

void CFileOperateManager::GetFileTypeByContent(CString strPath, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat) {
    nClass = nFormat = FILETYPE_UNKNOWN;
    if (!mxfileops::HasAudioExtension(strPath)) return;
    CMxFile file;
    if (file.Open(strPath, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) mxfileops::ClassifyOpenFile(file, nClass, nFormat);
}

CString CFileOperateManager::GetFileType(CString strPath, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat,
                                         int bByContent) {
    nClass = nFormat = FILETYPE_UNKNOWN;
    CString ext;
    if (!Extension(strPath, ext) || !IsMp3OrWma(ext)) return CString();
    if (!bByContent) return GetFileTypeByExtName(ext, nClass, nFormat);
    GetFileTypeByContent(strPath, nClass, nFormat);
    return nClass != FILETYPE_UNKNOWN ? ext : CString();
}
