// The song record an analysis writes, shared by AnalyzingFile and the import worker's batches.
#pragma once

#include "MxModule/library/DBRecord.h"
#include "MxModule/metadata/AudioFileInfo.h"

namespace mxfileops {

// A default record with the tag values, the type text, the size and the analysed mark.
DBRECORD AnalysedRecord(const CString& strPath, const AUDIOFILEINFO& info, const CString& strType, DWORD dwSize);

}  // namespace mxfileops
