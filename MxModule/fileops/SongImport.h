// One song found elsewhere taken into the library where it lies: its tags read, then a record as an
// analysis writes it. Shared by the workers that import other players' songs and discovered folders.
#pragma once

#include "MxModule/metadata/AudioFileInfo.h"
#include "platform/text.h"

namespace mxfileops {

struct SONGTAGS {
    CString strPath;  // the path after reading, which may have had its extension corrected
    AUDIOFILEINFO info;
    bool bRead = false;
    bool bDRM = false;
    bool bScriptCommand = false;
};

SONGTAGS ReadSongTags(const CString& strPath);

// Adds the song's record (type by content, length, analysed); false when the library refuses it.
bool AddSongRecord(const SONGTAGS& song);

}  // namespace mxfileops
