// The song record an analysis writes, shared by AnalyzingFile and the import worker's batches.
#pragma once

#include "MxModule/fileops/FileOperateCallBack.h"
#include "MxModule/library/DBRecord.h"
#include "MxModule/metadata/AudioFileInfo.h"

namespace mxfileops {

// What the user gave the song in the library and no tag holds: the rating, the address, the extras.
constexpr DWORD kUserFields = 1u << 6 | 1u << 13 | 1u << 16 | 1u << 17 | 1u << 18;

// A default record with the tag values, the type text, the size and the analysed mark.
DBRECORD AnalysedRecord(const CString& strPath, const AUDIOFILEINFO& info, const CString& strType, DWORD dwSize);

// Why a file's tags could not be read: it is gone, it does not open for reading, or it is not MP3 or WMA.
FileOperateResultCode UnreadableReason(const CString& strPath);

}  // namespace mxfileops
