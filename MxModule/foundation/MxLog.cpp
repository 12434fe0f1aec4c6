#include "MxModule/foundation/MxLog.h"

#include <string>

#include "MxModule/foundation/CriticalSectionGuard.h"
#include "MxModule/foundation/RegistryValue.h"
#include "platform/files.h"

std::unique_ptr<CMxLog> CMxLog::m_pInstance;
CCriticalSection CMxLog::m_csLogGuard;

CMxLog::CMxLog() : m_pLogFile(nullptr) {
    registry_string<std::string> file("SOFTWARE\\Tamborinebox\\Setting\\MxLogFile", HKEY_CURRENT_USER);
    std::string path = file;
    if (!path.empty()) m_pLogFile = MxFOpen(path.c_str(), "a");
}

CMxLog::~CMxLog() {
    if (m_pLogFile) fclose(m_pLogFile);
}

CMxLog* CMxLog::Instance() {
    CCriticalSectionGuard guard(&m_csLogGuard);
    if (!m_pInstance) m_pInstance.reset(new CMxLog());
    return m_pInstance.get();
}

void CMxLog::Log(CString strText) {
    if (!m_pLogFile) return;
    CCriticalSectionGuard guard(&m_csLogGuard);
    std::fprintf(m_pLogFile, "%s\n", static_cast<LPCSTR>(strText));
    std::fflush(m_pLogFile);
}
