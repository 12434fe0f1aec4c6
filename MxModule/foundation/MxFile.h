// The module's file object: a stdio-style file that reports every failure by its result instead of
// throwing, and that can also serve a block of memory as a read-only file.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/files.h"

class MX_EXPORT CMxFile : public CStdioFile {
public:
    CMxFile();
    // Memory mode: keeps a copy of nLength bytes and reads them from position 0.
    CMxFile(const char* pData, int nLength);
    ~CMxFile() override;
    CMxFile(const CMxFile&) = delete;
    CMxFile& operator=(const CMxFile&) = delete;

    // Failures: -1 (as DWORD) for positions and lengths, 0 for reads and Open, null for Duplicate and
    // the buffer form of ReadString; the operations without a result ignore them.
    DWORD GetPosition() const override;
    void SetFilePath(LPCSTR lpszNewName) override;
    BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;
    CFile* Duplicate() const override;
    // Memory mode: from the beginning or the end only (-1 from the current position), without bound check.
    LONG Seek(LONG lOff, UINT nFrom) override;
    void SetLength(DWORD dwNewLen) override;
    DWORD GetLength() const override;
    UINT Read(void* lpBuf, UINT nCount) override;
    void Write(const void* lpBuf, UINT nCount) override;
    void LockRange(DWORD dwPos, DWORD dwCount) override;
    void UnlockRange(DWORD dwPos, DWORD dwCount) override;
    void Flush() override;
    void Close() override;
    void WriteString(LPCSTR lpsz) override;
    LPSTR ReadString(LPSTR lpsz, UINT nMax) override;
    BOOL ReadString(CString& rString) override;

    void SeekToBegin();
    DWORD SeekToEnd();
    DWORD ReadHuge(void* lpBuffer, DWORD dwCount);
    void WriteHuge(const void* lpBuffer, DWORD dwCount);

    // The Windows error of the first disk operation that failed since the file was opened or this was
    // cleared; 0 when none did. A writer that must know its bytes reached the system asks here.
    DWORD GetFailure() const { return m_dwFailure; }
    void ClearFailure() { m_dwFailure = 0; }

    static void Rename(LPCSTR lpszOldName, LPCSTR lpszNewName);
    static void Remove(LPCSTR lpszFileName);
    static void SetStatus(LPCSTR lpszFileName, const CFileStatus& status);

private:
    bool IsMemory() const { return m_nMode == 1; }

    int m_nMode;             // 0 = disk file, 1 = memory image
    BYTE* m_pImage;          // owned in memory mode
    BYTE* m_pCurrent;        // the byte at the current position
    DWORD m_dwImageLength;
    DWORD m_dwPosition;
    mutable DWORD m_dwFailure;  // set by const operations too
};
