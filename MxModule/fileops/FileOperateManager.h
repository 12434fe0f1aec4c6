// The file operation manager. For now it holds the file typing: what kind of media file a path is, by
// its extension and by its content.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/text.h"

// A classification is a pair of these: a class (audio, video, unknown) and a format.
enum VelaPlayerFileType {
    FILETYPE_AUDIO = 0,
    FILETYPE_MP3 = 1,
    FILETYPE_WMA = 2,
    FILETYPE_VIDEO = 3,
    FILETYPE_AVI = 4,
    FILETYPE_WMV = 5,
    FILETYPE_UNKNOWN = 6
};

class MX_EXPORT CFileOperateManager {
public:
    // Classifies an extension (without the dot, any letter case) and returns it unchanged.
    static CString GetFileTypeByExtName(CString strExt, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat);
    // Classifies a ".mp3" or ".wma" file by its first bytes; anything else is unknown.
    static void GetFileTypeByContent(CString strPath, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat);
    // The extension (as written in the path) of a supported MP3 or WMA file, else ""; by content when
    // bByContent is non-zero, else by extension.
    static CString GetFileType(CString strPath, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat, int bByContent);
};
