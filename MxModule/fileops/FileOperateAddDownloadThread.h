// The worker that takes a finished download into the library: it registers the file with the share
// companion, writes the tags the search result gave, copies the file into the library folder under the
// tag naming rule, and stores its record, replacing the record of the address it was downloaded from.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateThreadBase.h"
#include "MxModule/metadata/AudioFileInfo.h"

// The message a thread's main window gets when a download is not audio; lParam is a new CString* with
// the download key, which the receiver deletes.
#define WM_MX_DOWNLOAD_NOT_AUDIO (WM_USER + 601)

class MX_TESTABLE CFileOperateAddDownloadThread : public CFileOperateThreadBase {
public:
    // pPreferred (may be null) is copied: texts trimmed, an empty title, artist or album made unknown.
    CFileOperateAddDownloadThread(const CString& strPath, const AUDIOFILEINFO* pPreferred, const CString& strKey,
                                  const CString& strRecordKey);
    int Run(int bOwnThread) override;

    CString m_strPath;
    CString m_strKey;
    CString m_strRecordKey;
    AUDIOFILEINFO* m_pPreferred = nullptr;
    AUDIOFILEINFO m_infoPreferred;

private:
    // Reports a failure that ends the body: on its own thread as an error report, else as the result.
    int Fail(int bOwnThread, FileOperateResultCode nCode, const CString& strText2 = "");
};
