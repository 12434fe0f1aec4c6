// The import worker: registers the MP3 and WMA files of the given files and folders in the library
// where they lie. The first files found, up to the analysis quota, have their tags read at once; every
// further file gets a quick record, to be analysed later.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateThreadBase.h"

// One candidate file of the walk.
struct FINDFILEUINT {
    CString strPath;
    CString strExtension;  // after the last dot, lower case
    unsigned long nSize = 0;
};

class MX_TESTABLE CFileOperateImportMultiFilePathThread : public CFileOperateThreadBase {
public:
    // Sorts the given paths into files and folders, without trailing backslashes; paths that do not
    // exist are dropped.
    void SetPaths(const CStringList& paths);
    int Run(int bOwnThread) override;

    CStringList m_listFiles;
    CStringList m_listFolders;
    int m_nQuota = 0;

private:
    // State of one run of the body.
    struct Walk {
        CList<FINDFILEUINT, FINDFILEUINT&> candidates;
        CStringList* pNotAnalysed = nullptr;
        CWalkedFolders folders;
        bool stopped = false;
    };
    void HandleFile(Walk& walk, const CString& strPath, unsigned long nSize, bool bSizeKnown);
    void WalkFolder(Walk& walk, const CString& strFolder);
    void RegisterQuickly(Walk& walk, const FINDFILEUINT& file);
    // Analyses every candidate so far; false when the stop flag ended it.
    bool RunBatch(Walk& walk);
};
