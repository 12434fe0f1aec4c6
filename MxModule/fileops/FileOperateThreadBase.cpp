#include "MxModule/fileops/FileOperateThreadBase.h"

#include "MxModule/library/DBOperater.h"
#include "platform/files.h"

namespace {

// Where a worker run without a manager reports: nowhere. The lists it hands over are freed.
class CSilentCallBack : public CFileOperateCallBack {
public:
    void OnImportSearching(int, CString) override {}
    void OnBeginImport(int, unsigned long) override {}
    void OnBeginImportOneOfPlayList(int, CString) override {}
    void OnEndImportOneOfPlayList(int, CString) override {}
    void OnBeginImportOneOfFile(int, CString) override {}
    void OnEndImportOneOfFile(int, CString, CString, int) override {}
    void OnEndImport(int) override {}
    void OnBeginCopySingleFile(int, CString, CString) override {}
    void OnCopyingSingleFile(int, CString, CString, int) override {}
    void OnEndCopySingleFile(int, CString, CString) override {}
    void OnBeginCopyMultiFiles(int, unsigned long) override {}
    void OnBeginCopyOneOfMultiPath(int, CString) override {}
    void OnBeginCopyOneOfMultiFiles(int, CString, CString) override {}
    void OnEndCopyOneOfMultiFiles(int, CString, CString, int) override {}
    void OnEndCopyOneOfMultiPath(int, CString) override {}
    void OnEndCopyAnalyzedMultiFiles(int, CStringList* pList) override { delete pList; }
    void OnEndCopyNotAnalyzedMultiFiles(int, CStringList* pList) override { delete pList; }
    void OnEndCopyMultiFiles(int) override {}
    void OnBeginMoveSingleFile(int, CString, CString) override {}
    void OnMovingSingleFile(int, CString, CString, int) override {}
    void OnEndMoveSingleFile(int, CString, CString) override {}
    void OnBeginMoveMultiFiles(int, unsigned long) override {}
    void OnBeginMoveOneOfMultiPath(int, CString) override {}
    void OnBeginMoveOneOfMultiFiles(int, CString, CString) override {}
    void OnEndMoveOneOfMultiFiles(int, CString, CString, int) override {}
    void OnEndMoveOneOfMultiPath(int, CString) override {}
    void OnEndMoveMultiFiles(int) override {}
    void OnBeginDeleteSingleFile(int, CString) override {}
    void OnEndDeleteSingleFile(int, CString) override {}
    void OnBeginDeleteMultiFiles(int) override {}
    void OnBeginDeleteOneOfMultiFiles(int, CString) override {}
    void OnEndDeleteOneOfMultiFiles(int, CString, int) override {}
    void OnEndDeleteMultiFiles(int) override {}
    void OnDownloadSetNewAudioInfo(int, CString, CString, CString) override {}
    void OnFileOperateError(int, CString, CString, FileOperateResultCode, CString, CString) override {}
    void OnThreadExit(int) override {}
};

CSilentCallBack g_silent;

}  // namespace

CFileOperateThreadBase::CFileOperateThreadBase()
    : m_pCallBack(&g_silent), m_nID(0), m_hThread(INVALID_HANDLE_VALUE), m_bSuspended(0), m_bStop(0) {}

CFileOperateThreadBase::~CFileOperateThreadBase() = default;

DWORD CFileOperateThreadBase::ThreadProc(LPVOID pParam) {
    auto* self = static_cast<CFileOperateThreadBase*>(pParam);
    int result = self->Run(1);
    self->m_pCallBack->OnThreadExit(self->m_nID);
    CloseHandle(self->m_hThread);
    self->m_hThread = INVALID_HANDLE_VALUE;
    delete self;
    return DWORD(result);
}

int CFileOperateThreadBase::Start(int nPriority) {
    // Made suspended so that the handle is stored before the body can end and close it.
    HANDLE h = CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, nullptr);
    if (!h) return -1;
    m_hThread = h;
    if (nPriority != 0) SetThreadPriority(h, nPriority);
    ResumeThread(h);
    return 0;
}

int CFileOperateThreadBase::Suspend() {
    if (m_hThread == nullptr || m_hThread == INVALID_HANDLE_VALUE) return -1;
    SuspendThread(m_hThread);
    m_bSuspended = 1;
    return 0;
}

int CFileOperateThreadBase::Resume() {
    if (m_hThread == nullptr || m_hThread == INVALID_HANDLE_VALUE) return -1;
    ResumeThread(m_hThread);
    m_bSuspended = 0;
    return 0;
}

int CFileOperateThreadBase::Stop() {
    if (m_hThread != nullptr && m_hThread != INVALID_HANDLE_VALUE && m_bSuspended) {
        // Every suspension is undone: a worker suspended twice would otherwise never see the flag.
        while (ResumeThread(m_hThread) > 1) {
        }
        m_bSuspended = 0;
    }
    m_bStop = 1;
    return 0;
}

int CFileOperateThreadBase::RunInCaller() { return Run(0); }

bool CFileOperateThreadBase::IsStopped() {
    MxSuspensionPoint();
    return m_bStop != 0;
}

int CFileOperateThreadBase::CreateMultiDirectory(CString strPath) {
    int colon = strPath.Find(':');
    if (colon < 0) return 0;
    for (int slash = strPath.Find('\\', colon + 2); slash >= 0; slash = strPath.Find('\\', slash + 1)) {
        CString folder = strPath.Left(slash);
        folder.TrimRight();
        if (!CreateDirectoryA(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return 0;
    }
    return 1;
}

CString CFileOperateThreadBase::GetImportedPath(CString strPath) {
    CDBOperater* db = CDBOperater::Instance();
    if (!db->CheckFileImportedByFileName(strPath)) return "";
    if (GetFileAttributesA(strPath) == INVALID_FILE_ATTRIBUTES) {
        db->DeleteSongInfo("", strPath);
        return "";
    }
    return strPath;
}
