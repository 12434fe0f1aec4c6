// Holds a critical section for the lifetime of a scope.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/threads.h"

class MX_EXPORT CCriticalSectionGuard {
public:
    // Enters the section; a null pointer guards nothing.
    explicit CCriticalSectionGuard(CRITICAL_SECTION* pSection) : m_pSection(pSection) {
        if (m_pSection) EnterCriticalSection(m_pSection);
    }
    explicit CCriticalSectionGuard(CCriticalSection* pSection)
        : CCriticalSectionGuard(pSection ? &pSection->m_sect : nullptr) {}
    ~CCriticalSectionGuard() {
        if (m_pSection) LeaveCriticalSection(m_pSection);
    }
    CCriticalSectionGuard(const CCriticalSectionGuard&) = delete;
    CCriticalSectionGuard& operator=(const CCriticalSectionGuard&) = delete;

private:
    CRITICAL_SECTION* m_pSection;
};
