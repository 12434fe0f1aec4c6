// The base of every file-operation worker: it runs its body on its own thread, reports through the
// manager's callback, and deletes itself when the body has returned.
#pragma once

#include <atomic>
#include <functional>
#include <set>
#include <tuple>
#include <vector>

#include "MxModule/MxExport.h"
#include "MxModule/fileops/FileOperateCallBack.h"
#include "platform/text.h"
#include "platform/threads.h"

struct AUDIOFILEINFO;
struct PLAYLISTINFO;
class CAudioFileParse;

class MX_EXPORT CFileOperateThreadBase {
public:
    CFileOperateThreadBase();
    virtual ~CFileOperateThreadBase();
    CFileOperateThreadBase(const CFileOperateThreadBase&) = delete;
    CFileOperateThreadBase& operator=(const CFileOperateThreadBase&) = delete;

    // The worker's body. bOwnThread is 1 on its own thread (failures are reported, the result is 0) and
    // 0 in the caller (failures are returned as a FileOperateResultCode, not reported).
    virtual int Run(int bOwnThread) = 0;
    // Starts the thread; a non-zero priority is applied. -1 when the thread cannot be made, else 0.
    virtual int Start(int nPriority);
    // Suspension parks the worker at its next stop check; suspensions count, and m_bSuspended stays set
    // until each is undone. -1 without a thread, else 0.
    virtual int Suspend();
    virtual int Resume();
    // Raises the stop flag and undoes every suspension; the body ends at its next stop check.
    virtual int Stop();
    virtual int RunInCaller();

    // Creates every folder of the path up to its last backslash; 1 on success, 0 otherwise.
    int CreateMultiDirectory(CString strPath);
    // The path when the library holds it and the file exists; "" otherwise. A record whose file has
    // vanished is removed from the library.
    CString GetImportedPath(CString strPath);

    // Names for a song placed in the destination directory, or "" when none can be made. The own-name
    // rule keeps the source's name, adding (1), (2), ... before its first dot while the name is taken.
    CString MakeOwnDestFileName(CString strSource);
    // The tag rule: "artist-title.ext", in a folder of the artist when the settings say so; texts of
    // pPreferred that are neither empty nor unknown replace those of pInfo first.
    CString MakeDestFileName(CString strSource, AUDIOFILEINFO* pInfo, AUDIOFILEINFO* pPreferred);
    // The text with the characters a file name cannot hold turned into spaces; "未知" when nothing usable
    // is left or the system refuses the name.
    static CString MakeLegalFileName(CString strText);

    // Tells the download library's share companion that the file of strOldPath now lies at strNewPath,
    // with the tag lengths found there (by pParsed when it has read that file, else read anew).
    static void ShareMovedFile(const CString& strOldPath, const CString& strNewPath, CAudioFileParse* pParsed = nullptr);

    // Sorts given paths into files and folders, without trailing backslashes; missing paths are dropped.
    static void SortPaths(const CStringList& paths, CStringList& files, CStringList& folders);

    CFileOperateCallBack* m_pCallBack;  // a silent one until the manager sets itself
    CString m_strDestDirectory;
    int m_nID;
    HANDLE m_hThread;
    std::atomic<int> m_bSuspended;
    std::atomic<int> m_bStop;

protected:
    // True when the body must end. A suspended worker parks here first, outside every lock.
    bool IsStopped();
    // A failed precondition: reported on the worker's own thread (the body's result is then 0),
    // returned as the code when the body runs in the caller.
    int Failed(int bOwnThread, FileOperateResultCode nCode, const CString& strText2 = "");
    // Whether moving qwTotal bytes from strFrom's drive onto the destination's needs more room than it
    // has. A move within one drive takes none, and a drive that cannot be asked is not tested.
    bool TooLittleSpaceForMove(const CString& strFrom, ULONGLONG qwTotal);

    // One audio file found by a walk, and the folder walked to find it.
    struct OPERATEFILEINFO {
        CString strPath;
        CString strFolder;
    };
    // Whether a listed name stands for one the system code page cannot hold; such a file cannot be opened.
    static bool NameNotInCodePage(const CString& strName);
    // The folders a walk has entered, by volume and file index: it enters each folder once, so a link
    // back up or to a folder met already is not followed again and every walk ends.
    class CWalkedFolders {
    public:
        // True the first time the walk meets the folder.
        bool Enter(const CString& strFolder);

    private:
        std::set<std::tuple<DWORD, DWORD, DWORD>> m_setWalked;
    };
    // Walks a folder depth first, counting the files that are audio by content and not empty, adding
    // their sizes and (when pFound is given) listing them; a name the code page cannot hold is reported
    // and passed over. False when the stop flag ended the walk.
    bool WalkAudioFolder(const CString& strFolder, int& nCount, ULONGLONG& qwTotal, CList<OPERATEFILEINFO, OPERATEFILEINFO&>* pFound);
    // A protected system folder (hidden and system at once, like the host's /proc) holds no songs of the
    // user's; the walks pass it by.
    static bool IsProtectedFolder(DWORD dwAttributes);
    // The same, within a walk of several folders that share what they entered.
    bool WalkAudioFolder(CWalkedFolders& walked, const CString& strFolder, int& nCount, ULONGLONG& qwTotal,
                         CList<OPERATEFILEINFO, OPERATEFILEINFO&>* pFound);
    // The import of other players' songs and of automatic discovery: counts the playlists' songs and the
    // audio files below the folders, reports the import's begin, imports each playlist's songs under its
    // name and then the folders' files under the default list (importSong: path, playlist name, songs
    // begun so far, their total; false when the stop flag ended it), and reports the end. False when
    // the stop flag ended the body (then without end report).
    typedef std::function<bool(const CString&, const CString&, int&, int)> IMPORTSONG;
    bool ImportPlaylistsAndFolders(const CList<PLAYLISTINFO, PLAYLISTINFO&>& playlists, const CStringList& folders,
                                   const IMPORTSONG& importSong);
    // The checks both folder moves begin with: strOld receives the old folder without its trailing
    // backslash; nMissing is the code for an old folder that does not exist. FOR_NONE lets the move go on.
    FileOperateResultCode CheckFolderMove(const CString& strOldPath, CString& strOld, FileOperateResultCode nMissing);
    // Audio by content (the extension must be "mp3" or "wma").
    static bool IsAudioFile(const CString& strPath);

private:
    static DWORD ThreadProc(LPVOID pParam);
};
