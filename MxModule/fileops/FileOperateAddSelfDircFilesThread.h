// The worker that takes in the songs already lying in the library folder (the destination directory)
// that the library does not know yet, except the paths the front end lists.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateThreadBase.h"

class MX_TESTABLE CFileOperateAddSelfDircFilesThread : public CFileOperateThreadBase {
public:
    // A copy of the paths to leave out; null leaves out nothing.
    explicit CFileOperateAddSelfDircFilesThread(const CStringList* pExcluded);
    int Run(int bOwnThread) override;

    CStringList m_lstExcludePath;
};
