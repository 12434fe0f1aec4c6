// The audio-folder move: every library song stored under the old folder goes into the destination
// directory, named by the tag rule, and its library record follows it.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateThreadBase.h"

class MX_TESTABLE CFileOperateMoveAudioPathThread : public CFileOperateThreadBase {
public:
    int Run(int bOwnThread) override;

    CString m_strOldPath;  // the old audio folder
};
