// The lyric-folder move: the lyric files ("*.lrc") lying directly in the old folder go into the
// destination directory under their own names.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateThreadBase.h"

class MX_TESTABLE CFileOperateMoveLyricPathThread : public CFileOperateThreadBase {
public:
    int Run(int bOwnThread) override;

    CString m_strOldPath;  // the old lyric folder
};
