// The copy worker: copies the audio files among the given files and folders into the destination
// directory under their own names, with progress reports. The library is not touched; the front end
// imports the copies afterwards.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateThreadBase.h"

class MX_TESTABLE CFileOperateAddMultiFilePathThread : public CFileOperateThreadBase {
public:
    void SetPaths(const CStringList& paths) { SortPaths(paths, m_listFiles, m_listFolders); }
    int Run(int bOwnThread) override;

    CStringList m_listFiles;
    CStringList m_listFolders;
};
