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

// bFixExtension renames a file whose extension says the other format; only files of the library folder
// are ever renamed, never another player's or one found on the disk.
SONGTAGS ReadSongTags(const CString& strPath, int bFixExtension);

// Adds the song's record (type by content, length, analysed); false when the library refuses it.
bool AddSongRecord(const SONGTAGS& song);

}  // namespace mxfileops
