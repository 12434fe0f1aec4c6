// The optional diagnostic log of the front end: on when the per-user value
// "SOFTWARE\Tamborinebox\Setting\MxLogFile" names a file, decided once when the log is created.
#pragma once

#include <cstdio>
#include <memory>

#include "MxModule/MxExport.h"
#include "platform/text.h"
#include "platform/threads.h"

class MX_EXPORT CMxLog {
public:
    static CMxLog* Instance();
    // Appends the text and a line feed; nothing when the log is off. Safe from any thread.
    void Log(CString strText);
    ~CMxLog();
    CMxLog(const CMxLog&) = delete;
    CMxLog& operator=(const CMxLog&) = delete;

private:
    CMxLog();

    FILE* m_pLogFile;
    static std::unique_ptr<CMxLog> m_pInstance;
    static CCriticalSection m_csLogGuard;  // guards creation and every write
};

class MX_EXPORT CLogTrace {
public:
    CLogTrace() = default;
    void SetActive(int bActive) { m_bActive = bActive; }
    CString GetFileName() const { return m_strFileName; }

private:
    int m_bActive = 0;
    CString m_strFileName;
};
