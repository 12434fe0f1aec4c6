// The thread of a search worker, alike for both managers: COM for the thread, the search, the exit
// report, then the worker is gone.
#include "MxModule/search/AudioSearchThreadBase.h"
#include "MxModule/search/VideoSearchThreadBase.h"
#include "platform/msxml.h"

namespace {

void ReportExit(CAudioSearchThreadBase* worker) { worker->m_pCallBack->OnAudioSearchThreadExit(worker->m_nID); }
void ReportExit(CVideoSearchThreadBase* worker) { worker->m_pCallBack->OnVideoSearchThreadExit(worker->m_nID); }

template <class Worker>
DWORD WINAPI SearchThreadProc(LPVOID pParam) {
    auto* self = static_cast<Worker*>(pParam);
    CoInitialize(nullptr);
    int result = 0;
    try {
        result = self->Run();
    } catch (...) {
        result = 0;
    }
    ReportExit(self);
    CloseHandle(self->m_hThread);
    self->m_hThread = INVALID_HANDLE_VALUE;
    delete self;
    CoUninitialize();
    return DWORD(result);
}

template <class Worker>
int StartSearchThread(Worker* self) {
    // Made suspended so that the handle is stored before the search can end and close it.
    HANDLE h = CreateThread(nullptr, 0, SearchThreadProc<Worker>, self, CREATE_SUSPENDED, nullptr);
    if (!h) return -1;
    self->m_hThread = h;
    ResumeThread(h);
    return 0;
}

}  // namespace

int CAudioSearchThreadBase::Start() { return StartSearchThread(this); }

int CAudioSearchThreadBase::Stop() {
    m_bStop = 1;
    return 0;
}

int CVideoSearchThreadBase::Start() { return StartSearchThread(this); }

int CVideoSearchThreadBase::Stop() {
    m_bStop = 1;
    return 0;
}
