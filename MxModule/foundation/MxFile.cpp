#include "MxModule/foundation/MxFile.h"

#include <cstring>
#include <new>

namespace {
// The Windows error an exception of a disk operation stands for.
DWORD ErrorOf(CException* e) {
    auto* file = dynamic_cast<CFileException*>(e);
    return file && file->m_lOsError ? DWORD(file->m_lOsError) : DWORD(ERROR_WRITE_FAULT);
}

// Runs a disk operation of CStdioFile and turns any exception into the given failure value; the first
// failure is kept in `failed`.
template <typename Fn, typename R>
R Guarded(DWORD& failed, Fn fn, R failure) {
    try {
        return fn();
    } catch (CException* e) {
        if (!failed) failed = ErrorOf(e);
        e->Delete();
    } catch (...) {
        if (!failed) failed = ERROR_WRITE_FAULT;
    }
    return failure;
}

template <typename Fn>
void Guarded(DWORD& failed, Fn fn) {
    Guarded(failed, [&] { return fn(), 0; }, 0);
}
}  // namespace

CMxFile::CMxFile()
    : m_nMode(0), m_pImage(nullptr), m_pCurrent(nullptr), m_dwImageLength(0), m_dwPosition(0), m_dwFailure(0) {}

CMxFile::CMxFile(const char* pData, int nLength) : CMxFile() {
    m_nMode = 1;
    if (pData && nLength > 0) {
        m_pImage = new (std::nothrow) BYTE[size_t(nLength)];
        if (m_pImage) {
            std::memcpy(m_pImage, pData, size_t(nLength));
            m_dwImageLength = DWORD(nLength);
        }
    }
    m_pCurrent = m_pImage;
}

CMxFile::~CMxFile() {
    if (IsMemory()) delete[] m_pImage;
    else Guarded(m_dwFailure, [this] { CStdioFile::Abort(); });
}

DWORD CMxFile::GetPosition() const {
    if (IsMemory()) return m_dwPosition;
    if (m_hFile == hFileNull) return DWORD(-1);
    return Guarded(m_dwFailure, [this] { return CStdioFile::GetPosition(); }, DWORD(-1));
}

void CMxFile::SetFilePath(LPCSTR lpszNewName) { m_strFileName = lpszNewName; }

BOOL CMxFile::Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
    if (IsMemory()) return FALSE;
    m_dwFailure = 0;
    return Guarded(m_dwFailure, [&] { return CStdioFile::Open(lpszFileName, nOpenFlags, pError); }, BOOL(FALSE));
}

CFile* CMxFile::Duplicate() const {
    if (IsMemory() || m_hFile == hFileNull) return nullptr;
    return Guarded(m_dwFailure, [this] { return CStdioFile::Duplicate(); }, static_cast<CFile*>(nullptr));
}

LONG CMxFile::Seek(LONG lOff, UINT nFrom) {
    if (IsMemory()) {
        if (nFrom != begin && nFrom != end) return -1;
        m_dwPosition = (nFrom == begin ? 0 : m_dwImageLength) + DWORD(lOff);
        m_pCurrent = m_pImage + (m_dwPosition <= m_dwImageLength ? m_dwPosition : m_dwImageLength);
        return LONG(m_dwPosition);
    }
    if (m_hFile == hFileNull) return -1;
    return Guarded(m_dwFailure, [&] { return CStdioFile::Seek(lOff, nFrom); }, LONG(-1));
}

void CMxFile::SeekToBegin() { Seek(0, begin); }

DWORD CMxFile::SeekToEnd() { return DWORD(Seek(0, end)); }

void CMxFile::SetLength(DWORD dwNewLen) {
    if (!IsMemory() && m_hFile != hFileNull) Guarded(m_dwFailure, [&] { CStdioFile::SetLength(dwNewLen); });
}

DWORD CMxFile::GetLength() const {
    if (IsMemory()) return m_dwImageLength;
    if (m_hFile == hFileNull) return DWORD(-1);
    return Guarded(m_dwFailure, [this] { return CStdioFile::GetLength(); }, DWORD(-1));
}

UINT CMxFile::Read(void* lpBuf, UINT nCount) {
    if (IsMemory()) {
        if (m_dwPosition >= m_dwImageLength || !lpBuf) return 0;
        UINT n = nCount < m_dwImageLength - m_dwPosition ? nCount : m_dwImageLength - m_dwPosition;
        std::memcpy(lpBuf, m_pImage + m_dwPosition, n);
        m_dwPosition += n;
        m_pCurrent = m_pImage + m_dwPosition;
        return n;
    }
    if (m_hFile == hFileNull || !lpBuf) return 0;
    return Guarded(m_dwFailure, [&] { return CStdioFile::Read(lpBuf, nCount); }, UINT(0));
}

DWORD CMxFile::ReadHuge(void* lpBuffer, DWORD dwCount) {
    if (IsMemory()) return Read(lpBuffer, dwCount);
    if (m_hFile == hFileNull || !lpBuffer) return DWORD(-1);
    return Guarded(m_dwFailure, [&] { return DWORD(CStdioFile::Read(lpBuffer, dwCount)); }, DWORD(-1));
}

void CMxFile::Write(const void* lpBuf, UINT nCount) {
    if (!IsMemory() && m_hFile != hFileNull && lpBuf) Guarded(m_dwFailure, [&] { CStdioFile::Write(lpBuf, nCount); });
}

void CMxFile::WriteHuge(const void* lpBuffer, DWORD dwCount) { Write(lpBuffer, dwCount); }

void CMxFile::WriteString(LPCSTR lpsz) {
    if (!IsMemory() && m_hFile != hFileNull && lpsz) Guarded(m_dwFailure, [&] { CStdioFile::WriteString(lpsz); });
}

void CMxFile::LockRange(DWORD dwPos, DWORD dwCount) {
    if (!IsMemory() && m_hFile != hFileNull) Guarded(m_dwFailure, [&] { CStdioFile::LockRange(dwPos, dwCount); });
}

void CMxFile::UnlockRange(DWORD dwPos, DWORD dwCount) {
    if (!IsMemory() && m_hFile != hFileNull) Guarded(m_dwFailure, [&] { CStdioFile::UnlockRange(dwPos, dwCount); });
}

void CMxFile::Flush() {
    if (!IsMemory() && m_hFile != hFileNull) Guarded(m_dwFailure, [this] { CStdioFile::Flush(); });
}

void CMxFile::Close() {
    if (!IsMemory()) Guarded(m_dwFailure, [this] { CStdioFile::Close(); });
}

LPSTR CMxFile::ReadString(LPSTR lpsz, UINT nMax) {
    if (IsMemory() || m_hFile == hFileNull) return nullptr;
    return Guarded(m_dwFailure, [&] { return CStdioFile::ReadString(lpsz, nMax); }, static_cast<LPSTR>(nullptr));
}

BOOL CMxFile::ReadString(CString& rString) {
    if (IsMemory() || m_hFile == hFileNull) return FALSE;
    return Guarded(m_dwFailure, [&] { return CStdioFile::ReadString(rString); }, BOOL(FALSE));
}

void CMxFile::Rename(LPCSTR lpszOldName, LPCSTR lpszNewName) {
    DWORD failed = 0;
    Guarded(failed, [&] { CFile::Rename(lpszOldName, lpszNewName); });
}

void CMxFile::Remove(LPCSTR lpszFileName) {
    DWORD failed = 0;
    Guarded(failed, [&] { CFile::Remove(lpszFileName); });
}

void CMxFile::SetStatus(LPCSTR lpszFileName, const CFileStatus& status) {
    DWORD failed = 0;
    Guarded(failed, [&] { CFile::SetStatus(lpszFileName, status); });
}
