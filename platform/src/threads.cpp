// Threads and synchronisation.
#include "platform/threads.h"

#include <mutex>
#include <new>

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::opaque), "CRITICAL_SECTION too small");
static_assert(alignof(std::recursive_mutex) <= 8, "CRITICAL_SECTION alignment");

namespace {
std::recursive_mutex& Mutex(LPCRITICAL_SECTION cs) { return *std::launder(reinterpret_cast<std::recursive_mutex*>(cs->opaque)); }
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { new (cs->opaque) std::recursive_mutex(); }
void DeleteCriticalSection(LPCRITICAL_SECTION cs) { Mutex(cs).~recursive_mutex(); }
void EnterCriticalSection(LPCRITICAL_SECTION cs) { Mutex(cs).lock(); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) { return Mutex(cs).try_lock(); }
void LeaveCriticalSection(LPCRITICAL_SECTION cs) { Mutex(cs).unlock(); }
