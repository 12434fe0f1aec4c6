// File typing on a file the caller has open, for readers that go on to parse it.
#pragma once

#include "MxModule/fileops/FileOperateManager.h"
#include "MxModule/foundation/MxFile.h"

namespace mxfileops {

// True when the path's extension is "mp3" or "wma" in any case: only those are typed by content.
bool HasAudioExtension(const CString& strPath);
// The content classification of GetFileTypeByContent, from the file's first bytes; the position is
// left anywhere.
void ClassifyOpenFile(CMxFile& file, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat);

}  // namespace mxfileops
