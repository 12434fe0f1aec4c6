// The file operation manager: it starts long file operations on worker threads, suspends, resumes and
// stops them, and turns each report of a worker into a window message to the operation's window. Its
// static operations classify files, analyse a file into its library record and change single fields.
#pragma once

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateCallBack.h"
#include "MxModule/fileops/FileOperateThreadBase.h"
#include "platform/collections.h"
#include "platform/text.h"
#include "platform/threads.h"
#include "platform/windows.h"

struct AUDIOFILEINFO;
struct PLAYLISTINFO;
struct AUDIORESULTUINT;

// A classification is a pair of these: a class (audio, video, unknown) and a format.
enum VelaPlayerFileType {
    FILETYPE_AUDIO = 0,
    FILETYPE_MP3 = 1,
    FILETYPE_WMA = 2,
    FILETYPE_VIDEO = 3,
    FILETYPE_AVI = 4,
    FILETYPE_WMV = 5,
    FILETYPE_UNKNOWN = 6
};

// One running operation: its worker (which deletes itself) and the window of its messages.
struct MX_EXPORT FILEOPERATETHREADINFO {
    CFileOperateThreadBase* pThread = nullptr;
    HWND hWnd = nullptr;
    int bNotifyOff = 0;
};

class MX_EXPORT CFileOperateManager : public CFileOperateCallBack {
public:
    CFileOperateManager();
    // Stops every operation and waits for its thread. A class derived from the manager stops them in
    // its own destructor: the workers call the reports until they end.
    ~CFileOperateManager() override;
    CFileOperateManager(const CFileOperateManager&) = delete;
    CFileOperateManager& operator=(const CFileOperateManager&) = delete;

    // Ignored when empty; one trailing backslash is dropped. Seen by operations started afterwards.
    void SetFileOperateDestDirectory(CString strFolder);
    // The window of operations started without one.
    void SetDefaultFileOperateCallBackHWND(HWND hWnd);

    // Starters: the new operation's identifier, or -1 (no window, a failed precondition, no identifier
    // left, no thread). bImport non-zero registers the songs where they lie, analysing the first
    // nQuota of them.
    int AsynAddMultiFilePaths(CStringList* pPaths, HWND hWnd, int bImport, int nFlag, int nQuota);
    int AsynMoveAudioPath(CString strOldFolder, HWND hWnd);
    int AsynMoveLyricPath(CString strOldFolder, HWND hWnd);
    int AsynAutoAddSongs(HWND hWnd);
    int AsynAddSelfDircFiles(HWND hWnd, CStringList* pPaths);
    int AsynAddDownloadFile(CString strPath, AUDIOFILEINFO* pInfo, HWND hWnd, CString str1, CString str2);
    int AsynAddOtherPlayerInfos(CList<PLAYLISTINFO, PLAYLISTINFO&>* pPlaylists, CStringList* pFolders, HWND hWnd);

    // nID 0 acts on every operation. Stop: 0, or -1 for an unknown operation; with bWait the call returns
    // once the thread has ended (its exit message posted). Suspend and resume: always 0.
    int StopFileOperateThread(int nID, int bWait);
    int SuspendFileOperateThread(int nID);
    int ResumeFileOperateThread(int nID);

    // Whether the library holds a song of the result's artist, album and file size.
    static int CheckFileImported(AUDIORESULTUINT* pResult);

    // Classifies an extension (without the dot, any letter case) and returns it unchanged.
    static CString GetFileTypeByExtName(CString strExt, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat);
    // Classifies a ".mp3" or ".wma" file by its first bytes; anything else is unknown.
    static void GetFileTypeByContent(CString strPath, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat);
    // The extension (as written in the path) of a supported MP3 or WMA file, else ""; by content when
    // bByContent is non-zero, else by extension.
    static CString GetFileType(CString strPath, VelaPlayerFileType& nClass, VelaPlayerFileType& nFormat, int bByContent);

    // Reads the file's tags and stream data into its whole library record (which must exist); on success
    // the tag record is copied to pInfo when given.
    static FileOperateResultCode AnalyzingFile(CString strPath, AUDIOFILEINFO* pInfo);
    static int IsFileAnalyzed(CString strPath);
    // Registers a network address as a song of the library.
    static int AddURLToDB(CString strURL);
    static int UpdateOpinion(CString strPath, unsigned long nValue);
    static int UpdateDuration(CString strPath, unsigned long nValue);
    static int UpdateMD5(CString strPath, CString strDigest);
    static int UpdateCanPlay(CString strPath, unsigned int nValue);

    // The reports, each posted as one message to the operation's window.
    void OnImportSearching(int nID, CString strText) override;
    void OnBeginImport(int nID, unsigned long nCount) override;
    void OnBeginImportOneOfPlayList(int nID, CString strName) override;
    void OnEndImportOneOfPlayList(int nID, CString strName) override;
    void OnBeginImportOneOfFile(int nID, CString strPath) override;
    void OnEndImportOneOfFile(int nID, CString str1, CString str2, int nValue) override;
    void OnEndImport(int nID) override;
    void OnBeginCopySingleFile(int nID, CString str1, CString str2) override;
    void OnCopyingSingleFile(int nID, CString str1, CString str2, int nValue) override;
    void OnEndCopySingleFile(int nID, CString str1, CString str2) override;
    void OnBeginCopyMultiFiles(int nID, unsigned long nCount) override;
    void OnBeginCopyOneOfMultiPath(int nID, CString strPath) override;
    void OnBeginCopyOneOfMultiFiles(int nID, CString str1, CString str2) override;
    void OnEndCopyOneOfMultiFiles(int nID, CString str1, CString str2, int nValue) override;
    void OnEndCopyOneOfMultiPath(int nID, CString strPath) override;
    void OnEndCopyAnalyzedMultiFiles(int nID, CStringList* pList) override;
    void OnEndCopyNotAnalyzedMultiFiles(int nID, CStringList* pList) override;
    void OnEndCopyMultiFiles(int nID) override;
    void OnBeginMoveSingleFile(int nID, CString str1, CString str2) override;
    void OnMovingSingleFile(int nID, CString str1, CString str2, int nValue) override;
    void OnEndMoveSingleFile(int nID, CString str1, CString str2) override;
    void OnBeginMoveMultiFiles(int nID, unsigned long nCount) override;
    void OnBeginMoveOneOfMultiPath(int nID, CString strPath) override;
    void OnBeginMoveOneOfMultiFiles(int nID, CString str1, CString str2) override;
    void OnEndMoveOneOfMultiFiles(int nID, CString str1, CString str2, int nValue) override;
    void OnEndMoveOneOfMultiPath(int nID, CString strPath) override;
    void OnEndMoveMultiFiles(int nID) override;
    void OnBeginDeleteSingleFile(int nID, CString strPath) override;
    void OnEndDeleteSingleFile(int nID, CString strPath) override;
    void OnBeginDeleteMultiFiles(int nID) override;
    void OnBeginDeleteOneOfMultiFiles(int nID, CString strPath) override;
    void OnEndDeleteOneOfMultiFiles(int nID, CString strPath, int nValue) override;
    void OnEndDeleteMultiFiles(int nID) override;
    void OnDownloadSetNewAudioInfo(int nID, CString str1, CString str2, CString str3) override;
    void OnFileOperateError(int nID, CString s1, CString s2, FileOperateResultCode nCode, CString s3,
                            CString s4) override;
    void OnThreadExit(int nID) override;

protected:
    int StopAllFileOperateThread(int bWait);
    int StopSingalFileOperateThread(int nID, int bWait);
    int SuspendAllFileOperateThread();
    int SuspendSingalFileOperateThread(int nID);
    int ResumeAllFileOperateThread();
    int ResumeSingalFileOperateThread(int nID);

    CString m_strDestDirectory;
    HWND m_hDefaultWnd;
    CCriticalSection m_csLock;
    CMap<int, int, FILEOPERATETHREADINFO, FILEOPERATETHREADINFO&> m_mapThreads;

private:
    // The given window, else the default one (null when neither is set). Under the lock.
    HWND WindowFor(HWND hWnd) const;
    // Takes an identifier, registers and starts the worker; -1 (and the worker deleted) on failure.
    int Launch(CFileOperateThreadBase* pThread, HWND hWnd, int nPriority);
    // The operation's window while it reports, else null.
    HWND ReportWindow(int nID);
    // Posts to the operation's window; false when there is none or the post fails (the caller then
    // frees what it meant to post).
    bool Post(int nID, UINT nMsg, LPARAM lParam);
    // Posts a FILEOPERATEMSGINFO, or a list; deleted here when it cannot be posted.
    void PostBlock(int nID, UINT nMsg, const CString& s1, const CString& s2, int nValue = 0,
                   FileOperateResultCode nCode = FOR_NONE, const CString& s3 = "", const CString& s4 = "");
    void PostList(int nID, UINT nMsg, CStringList* pList);
    // Whether the window's thread waits for the operation to end, and so cannot make room in its queue.
    bool WindowThreadWaitsFor(HWND hWnd, int nID);
    // The operation the calling thread is about to wait for, under the lock; the position to forget it by.
    POSITION NoteWaiter(int nID);
    void ForgetWaiters(const POSITION* pPositions, size_t nCount);

    struct STOPWAITER {
        DWORD dwThread;
        int nID;
    };
    CList<STOPWAITER, const STOPWAITER&> m_listWaiters;  // threads waiting in a stop, and for what
};
