// Files and folders with Windows semantics over the drive map: Win32 file functions, MFC's CFile and
// CStdioFile, and the edge mappings between Windows paths and host paths.
//
// A path "X:\a\b" is found under the host folder of drive X; its bytes are in the system code page and
// become UTF-8 host names. A component that does not exist in the given letter case is looked up without
// regard to case, as Windows would. Share modes are honoured between the handles of this process.
#pragma once

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/windef.h"

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define IO_REPARSE_TAG_SYMLINK 0xA000000CL
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(-1))

#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

DWORD GetFileAttributesA(LPCSTR lpFileName);
BOOL SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes);
// Entries come in name order; a folder other than a drive's root also lists "." and "..". A symbolic
// link is listed with the attributes of what it points to plus FILE_ATTRIBUTE_REPARSE_POINT, and
// dwReserved0 holds IO_REPARSE_TAG_SYMLINK, as Windows lists its links and junctions.
HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);
BOOL CreateDirectoryA(LPCSTR lpPathName, void* lpSecurityAttributes);
BOOL RemoveDirectoryA(LPCSTR lpPathName);
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
BOOL MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);
BOOL DeleteFileA(LPCSTR lpFileName);
BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes);
DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
DWORD GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart);
DWORD GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer);
BOOL SetCurrentDirectoryA(LPCSTR lpPathName);
UINT GetDriveTypeA(LPCSTR lpRootPathName);
DWORD GetLogicalDrives();

// The edges (not Win32). Host paths are UTF-8.
// The Windows path of the drive that holds a host path (relative to the host's working folder);
// FALSE when no drive of the map holds it.
BOOL MxHostPathToWindows(const std::string& hostPath, CString& winPath);
// The host path a Windows path names, existing components in their on-disk letter case; FALSE with the
// last error set when the drive is unknown or the name is invalid.
BOOL MxWindowsPathToHost(LPCSTR winPath, std::string& hostPath);
// Renames a host file or folder without ever replacing what is at the target, also when another process
// makes it meanwhile: 0, or an errno (EEXIST when the target is taken).
int MxRenameNoReplace(const std::string& fromHost, const std::string& toHost);
// fopen for a Windows path (the CRT's narrow fopen); null with the last error set on failure.
FILE* MxFOpen(LPCSTR winPath, LPCSTR mode);
// What GetFileInformationByHandle tells of a handle opened on the path (links followed), without the
// handle: the volume serial number and the file index identify a file or folder on this machine.
// FALSE with the last error set when the path cannot be found.
BOOL MxGetFileInformationByPath(LPCSTR lpFileName, LPBY_HANDLE_FILE_INFORMATION lpInfo);

// ---- MFC file classes ----

class CException {
public:
    virtual ~CException() = default;
    // MFC exceptions are thrown as pointers; the catcher calls Delete.
    void Delete() { delete this; }
};

class CNotSupportedException : public CException {};

class CFileException : public CException {
public:
    enum {
        none,
        generic,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };
    explicit CFileException(int cause = none, LONG lOsError = -1, LPCSTR fileName = nullptr)
        : m_cause(cause), m_lOsError(lOsError), m_strFileName(fileName) {}
    static int OsErrorToException(LONG lOsError);

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

class CTime {
public:
    CTime() = default;
    explicit CTime(time_t t) : m_time(t) {}
    time_t GetTime() const { return m_time; }
    bool operator==(const CTime& o) const { return m_time == o.m_time; }

private:
    time_t m_time = 0;
};

struct CFileStatus {
    CTime m_ctime;
    CTime m_mtime;
    CTime m_atime;
    LONG m_size;
    BYTE m_attribute;
    BYTE m_padding;
    CHAR m_szFullName[MAX_PATH];
};

class CFile {
public:
    enum OpenFlags {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000
    };
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"  // MFC's enumerator `system` meets the C library's system()
    enum Attribute { normal = 0x00, readOnly = 0x01, hidden = 0x02, system = 0x04, volume = 0x08, directory = 0x10, archive = 0x20 };
#pragma GCC diagnostic pop
    enum SeekPosition { begin = 0x0, current = 0x1, end = 0x2 };
    enum BufferCommand { bufferRead, bufferWrite, bufferCommit, bufferCheck };
    static const UINT hFileNull;

    CFile();
    // Opens or throws a CFileException*.
    CFile(LPCSTR lpszFileName, UINT nOpenFlags);
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();

    virtual DWORD GetPosition() const;
    virtual CString GetFileName() const;
    virtual CString GetFileTitle() const;
    virtual CString GetFilePath() const;
    virtual void SetFilePath(LPCSTR lpszNewName);
    // FALSE on failure, with pError (when given) filled in; never throws.
    virtual BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
    virtual CFile* Duplicate() const;
    virtual LONG Seek(LONG lOff, UINT nFrom);
    virtual void SetLength(DWORD dwNewLen);
    virtual DWORD GetLength() const;
    virtual UINT Read(void* lpBuf, UINT nCount);
    virtual void Write(const void* lpBuf, UINT nCount);
    virtual void LockRange(DWORD dwPos, DWORD dwCount);
    virtual void UnlockRange(DWORD dwPos, DWORD dwCount);
    virtual void Abort();
    virtual void Flush();
    virtual void Close();
    virtual UINT GetBufferPtr(UINT nCommand, UINT nCount = 0, void** ppBufStart = nullptr, void** ppBufMax = nullptr);

    void SeekToBegin() { Seek(0, begin); }
    DWORD SeekToEnd() { return DWORD(Seek(0, end)); }
    BOOL GetStatus(CFileStatus& rStatus) const;

    static void Rename(LPCSTR lpszOldName, LPCSTR lpszNewName);
    static void Remove(LPCSTR lpszFileName);
    static BOOL GetStatus(LPCSTR lpszFileName, CFileStatus& rStatus);
    static void SetStatus(LPCSTR lpszFileName, const CFileStatus& status);

    UINT m_hFile;
    BOOL m_bCloseOnDelete;
    CString m_strFileName;

protected:
    // Opens the host file behind a Windows path with Windows create, access and share rules. On success
    // m_hFile is the descriptor and the handle is registered for share checks; on failure the Windows
    // error code is returned.
    DWORD OpenHandle(LPCSTR lpszFileName, UINT nOpenFlags);
    void ReleaseHandle();
    [[noreturn]] void ThrowOsError(DWORD error) const;

    ULONG_PTR m_nShareId = 0;
    LONGLONG m_qwOpenLength = -1;  // the file's length when OpenHandle opened it
};

class CStdioFile : public CFile {
public:
    CStdioFile();
    CStdioFile(LPCSTR lpszFileName, UINT nOpenFlags);
    ~CStdioFile() override;

    DWORD GetPosition() const override;
    BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;
    CFile* Duplicate() const override;  // not supported: throws CNotSupportedException*
    LONG Seek(LONG lOff, UINT nFrom) override;
    void SetLength(DWORD dwNewLen) override;
    DWORD GetLength() const override;
    UINT Read(void* lpBuf, UINT nCount) override;
    void Write(const void* lpBuf, UINT nCount) override;
    void Abort() override;
    void Flush() override;
    void Close() override;

    // Text mode (the default) writes "\n" as CR LF and reads CR LF as "\n", as the Windows C library does.
    virtual void WriteString(LPCSTR lpsz);
    // Reads a line of at most nMax - 1 bytes, keeping its "\n"; null at the end of the file.
    virtual LPSTR ReadString(LPSTR lpsz, UINT nMax);
    // Reads a line without its "\n"; FALSE at the end of the file.
    virtual BOOL ReadString(CString& rString);

protected:
    // The stream keeps one buffer: a cache of what was read, or the writes not yet given to the system
    // (all in one stretch of the file). Seeking costs no system call, and each flush is one positioned
    // write, so data reaches the system in the order the flushes ask for.
    void FlushPending() const;
    UINT RawRead(char* pOut, UINT nCount);
    void RawWrite(const char* pData, UINT nCount);
    int GetChar();
    // Our own writes reached qwEnd: a kept length grows with them.
    void Wrote(ULONGLONG qwEnd) const;

    bool m_bText = true;
    mutable ULONGLONG m_qwPos = 0;
    mutable std::unique_ptr<char[]> m_buffer;  // allocated on first use
    mutable ULONGLONG m_qwBufferStart = 0;
    mutable size_t m_nBufferLen = 0;
    mutable bool m_bPending = false;
    // While no one else may write (deny-write or exclusive sharing), the length changes only by our
    // own writes: it is asked of the system once and then kept (-1: not known).
    bool m_bKeepLength = false;
    mutable LONGLONG m_qwLength = -1;
};

// A read-only view of the first bytes of an open file (MapViewOfFile on a file mapping, in one call): at
// most dwLength bytes and never past the file's end, so *pdwMapped may be less. It sees the file's
// later writes once they reach the system. Its pages come in as they are read. Null with the last error
// set when nothing could be mapped (an empty file included); MxUnmapViewOfFile takes the view and its
// mapped length.
const BYTE* MxMapViewOfFile(const CFile& file, DWORD dwLength, DWORD* pdwMapped);
BOOL MxUnmapViewOfFile(const BYTE* pView, DWORD dwMapped);
// For a view read from front to back: brings the pages of a range in at once (PrefetchVirtualMemory),
// or takes those of a range already read out of the process's resident set (they stay in the system's
// cache and come back if read again). Ranges are clipped to the view; failures only cost time.
void MxPrefetchViewRange(const BYTE* pView, DWORD dwMapped, DWORD dwOffset, DWORD dwLength);
void MxTrimViewRange(const BYTE* pView, DWORD dwMapped, DWORD dwOffset, DWORD dwLength);
