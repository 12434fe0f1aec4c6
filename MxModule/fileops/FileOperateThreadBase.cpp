#include "MxModule/fileops/FileOperateThreadBase.h"

#include <algorithm>
#include <atomic>

#include "MxModule/download/DownloadAVFile.h"
#include "MxModule/fileops/FileOperateManager.h"
#include "MxModule/foundation/MxFile.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/foundation/SettingManager.h"
#include "MxModule/importers/OtherPlayerInfo.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/library/LibraryFormat.h"
#include "MxModule/metadata/AudioFileInfo.h"
#include "MxModule/metadata/AudioFileParse.h"
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
    DWORD previous = ResumeThread(m_hThread);
    // Still suspended while another suspension (of this worker or of all) is not undone.
    m_bSuspended = previous != DWORD(-1) && previous > 1;
    return 0;
}

int CFileOperateThreadBase::Stop() {
    // The flag goes up before the worker is resumed, so that it stops at its first check and does not
    // run on through the rest of its work.
    m_bStop = 1;
    if (m_hThread != nullptr && m_hThread != INVALID_HANDLE_VALUE) {
        // Every suspension is undone, whatever the flag says: a worker left suspended never sees the flag.
        DWORD previous;
        do {
            previous = ResumeThread(m_hThread);
        } while (previous != DWORD(-1) && previous > 1);
        m_bSuspended = 0;
    }
    return 0;
}

int CFileOperateThreadBase::RunInCaller() { return Run(0); }

bool CFileOperateThreadBase::IsStopped() {
    MxSuspensionPoint();
    return m_bStop != 0;
}

int CFileOperateThreadBase::Failed(int bOwnThread, FileOperateResultCode nCode, const CString& strText2) {
    if (!bOwnThread) return nCode;
    m_pCallBack->OnFileOperateError(m_nID, "", strText2, nCode, "", "");
    return 0;
}

bool CFileOperateThreadBase::TooLittleSpaceForMove(const CString& strFrom, ULONGLONG qwTotal) {
    int fromColon = strFrom.Find(':'), toColon = m_strDestDirectory.Find(':');
    CString from = fromColon < 0 ? CString() : strFrom.Left(fromColon);
    CString to = toColon < 0 ? CString() : m_strDestDirectory.Left(toColon);
    if (from.IsEmpty() || to.IsEmpty() || from.CompareNoCase(to) == 0) return false;
    ULARGE_INTEGER available{};
    return GetDiskFreeSpaceExA(to + ":\\", &available, nullptr, nullptr) && qwTotal > available.QuadPart;
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

void CFileOperateThreadBase::SortPaths(const CStringList& paths, CStringList& files, CStringList& folders) {
    for (POSITION pos = paths.GetHeadPosition(); pos;) {
        CString path = paths.GetNext(pos);
        path.TrimRight('\\');
        DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            folders.AddTail(path);
        else
            files.AddTail(path);
    }
}

bool CFileOperateThreadBase::IsAudioFile(const CString& strPath) {
    VelaPlayerFileType nClass, nFormat;
    CFileOperateManager::GetFileType(strPath, nClass, nFormat, 1);
    return nClass == FILETYPE_AUDIO;
}

bool CFileOperateThreadBase::NameNotInCodePage(const CString& strName) {
    // A real name never holds '?': a folder listing puts it for each character the code page lacks.
    return strName.Find('?') >= 0;
}

bool CFileOperateThreadBase::CWalkedFolders::Enter(const CString& strFolder) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!MxGetFileInformationByPath(strFolder, &info)) return false;
    return m_setWalked.emplace(info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow).second;
}

bool CFileOperateThreadBase::IsProtectedFolder(DWORD dwAttributes) {
    const DWORD kProtected = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return (dwAttributes & kProtected) == kProtected;
}

bool CFileOperateThreadBase::WalkAudioFolder(const CString& strFolder, int& nCount, ULONGLONG& qwTotal,
                                             CList<OPERATEFILEINFO, OPERATEFILEINFO&>* pFound) {
    CWalkedFolders walked;
    return WalkAudioFolder(walked, strFolder, nCount, qwTotal, pFound);
}

bool CFileOperateThreadBase::WalkAudioFolder(CWalkedFolders& walked, const CString& strFolder, int& nCount,
                                             ULONGLONG& qwTotal, CList<OPERATEFILEINFO, OPERATEFILEINFO&>* pFound) {
    if (IsStopped()) return false;
    if (!walked.Enter(strFolder)) return true;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(strFolder + "\\*.*", &data);
    bool going = true;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            CString name = data.cFileName;
            if (name == "." || name == "..") continue;
            CString path = strFolder + "\\" + name;
            if (NameNotInCodePage(name)) {
                m_pCallBack->OnFileOperateError(m_nID, path, "", FOR_NAME_NOT_IN_CODE_PAGE, "", "");
            } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!IsProtectedFolder(data.dwFileAttributes)) going = WalkAudioFolder(walked, path, nCount, qwTotal, pFound);
            } else {
                ULONGLONG size = (ULONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
                if (size != 0 && IsAudioFile(path)) {
                    ++nCount;
                    qwTotal += size;
                    if (pFound) {
                        OPERATEFILEINFO info{path, strFolder};
                        pFound->AddTail(info);
                    }
                }
            }
            going = going && !IsStopped();
        } while (going && FindNextFileA(find, &data));
        FindClose(find);
    }
    return going;
}

CString CFileOperateThreadBase::MakeOwnDestFileName(CString strSource) {
    int slash = strSource.ReverseFind('\\');
    if (m_strDestDirectory.IsEmpty() || strSource.IsEmpty() || slash < 0) return "";
    int dot = strSource.Find('.', slash + 1);
    if (dot < 0) return "";
    CString title = strSource.Mid(slash + 1, dot - slash - 1);
    CString extension = strSource.Mid(dot + 1);
    CString candidate = m_strDestDirectory + "\\" + title + "." + extension;
    for (unsigned int n = 1; GetFileAttributesA(candidate) != INVALID_FILE_ATTRIBUTES; ++n) {
        if (n == 0) return "";  // every counter value is taken
        candidate.Format("%s(%u).%s", static_cast<LPCSTR>(m_strDestDirectory + "\\" + title), n, static_cast<LPCSTR>(extension));
    }
    return candidate;
}

CString CFileOperateThreadBase::MakeLegalFileName(CString strText) {
    for (char c : {'\\', '/', '*', '"', ':', '|', '<', '>', '?'}) strText.Replace(c, ' ');
    strText.Remove('\r');
    strText.Remove('\n');
    std::string s = strText.str();
    for (size_t i = 0; i < s.size() && s[i] == '.'; ++i) s[i] = ' ';
    for (size_t i = s.size(); i > 0 && s[i - 1] == '.'; --i) s[i - 1] = ' ';
    strText = CString(std::move(s));
    strText.Trim();
    if (strText.IsEmpty()) return CMxPublic::GbkLiteral(mxlib::kUnknown);
    // The system has the last word: a name it refuses is not used. The name is tried in a folder made
    // for this probe alone, so no file of the user's is touched and two probes never meet.
    static std::atomic<unsigned int> s_nProbe{0};
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    CString folder;
    for (int attempt = 0;; ++attempt) {
        folder.Format("%sMxNameProbe-%lu-%lu-%u", temp, static_cast<unsigned long>(GetCurrentProcessId()),
                      static_cast<unsigned long>(GetCurrentThreadId()), s_nProbe.fetch_add(1));
        if (CreateDirectoryA(folder, nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt == 100) return CMxPublic::GbkLiteral(mxlib::kUnknown);  // someone else's
    }
    CString probe = folder + "\\" + strText;
    CMxFile file;
    bool legal = file.Open(probe, CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary) != 0;
    if (legal) {
        file.Close();
        DeleteFileA(probe);
    }
    RemoveDirectoryA(folder);
    return legal ? strText : CMxPublic::GbkLiteral(mxlib::kUnknown);
}

CString CFileOperateThreadBase::MakeDestFileName(CString strSource, AUDIOFILEINFO* pInfo, AUDIOFILEINFO* pPreferred) {
    if (m_strDestDirectory.IsEmpty() || strSource.IsEmpty() || !pInfo) return "";
    if (pPreferred) {
        for (auto field : {&AUDIOFILEINFO::strTitle, &AUDIOFILEINFO::strArtist, &AUDIOFILEINFO::strAlbum}) {
            const CString& preferred = pPreferred->*field;
            if (!preferred.IsEmpty() && preferred != CMxPublic::GbkLiteral(mxlib::kUnknown)) pInfo->*field = preferred;
        }
    }
    CString title = MakeLegalFileName(pInfo->strTitle);
    CString artist = MakeLegalFileName(pInfo->strArtist);
    VelaPlayerFileType nClass, nFormat;
    CString extension = CFileOperateManager::GetFileType(strSource, nClass, nFormat, 1);
    bool byArtist = CSettingManager::Instance()->GetCurrentSetting()->SaveSongByArtist != 0;
    // The artist folder, when there is one, ends with a backslash.
    CString folder = m_strDestDirectory + "\\" + (byArtist ? artist + "\\" : CString());
    CString candidate = folder + artist + "-" + title + "." + extension;
    for (unsigned int n = 1; GetFileAttributesA(candidate) != INVALID_FILE_ATTRIBUTES; ++n) {
        if (n == 0) return "";
        candidate.Format("%s%s-%s%u.%s", static_cast<LPCSTR>(folder), static_cast<LPCSTR>(artist), static_cast<LPCSTR>(title), n,
                         static_cast<LPCSTR>(extension));
    }
    return candidate;
}

void CFileOperateThreadBase::ShareMovedFile(const CString& strOldPath, const CString& strNewPath, CAudioFileParse* pParsed) {
    CAudioFileParse parser;
    if (!pParsed) {
        AUDIOFILEINFO info;
        CString path = strNewPath;
        parser.ParseAudioFile(path, &info, 0, 0, "");
        pParsed = &parser;
    }
    int nHeader = 0, nTail = 0;
    pParsed->GetHeaderInfo(nHeader);
    pParsed->GetTailInfo(nTail);
    CDownloadAVFile::Instance()->ShareEditID3(strOldPath, strNewPath, nTail, nHeader);
}

bool CFileOperateThreadBase::ImportPlaylistsAndFolders(const CList<PLAYLISTINFO, PLAYLISTINFO&>& playlists,
                                                       const CStringList& folders, const IMPORTSONG& importSong) {
    static const char kDefaultList[] = "\xC4\xAC\xC8\xCF\xC1\xD0\xB1\xED";  // 默认列表, the default list
    int nCount = 0;
    for (POSITION pos = playlists.GetHeadPosition(); pos;) nCount += playlists.GetNext(pos).lstFilePath.GetCount();
    CList<OPERATEFILEINFO, OPERATEFILEINFO&> found;
    CWalkedFolders walked;
    for (POSITION pos = folders.GetHeadPosition(); pos;) {
        CString folder = folders.GetNext(pos);
        folder.TrimRight('\\');
        DWORD attributes = GetFileAttributesA(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        ULONGLONG qwTotal = 0;
        if (!WalkAudioFolder(walked, folder, nCount, qwTotal, &found)) return false;
    }

    m_pCallBack->OnBeginImport(m_nID, static_cast<unsigned long>(nCount));
    int nDone = 0;
    for (POSITION pos = playlists.GetHeadPosition(); pos;) {
        const PLAYLISTINFO& playlist = playlists.GetNext(pos);
        m_pCallBack->OnBeginImportOneOfPlayList(m_nID, playlist.strPLName);
        for (POSITION file = playlist.lstFilePath.GetHeadPosition(); file;)
            if (!importSong(playlist.lstFilePath.GetNext(file), playlist.strPLName, nDone, nCount)) return false;
        m_pCallBack->OnEndImportOneOfPlayList(m_nID, playlist.strPLName);
    }
    CString defaultList = CMxPublic::GbkLiteral(kDefaultList);
    for (POSITION pos = found.GetHeadPosition(); pos;)
        if (!importSong(found.GetNext(pos).strPath, defaultList, nDone, nCount)) return false;
    m_pCallBack->OnEndImport(m_nID);
    return true;
}

FileOperateResultCode CFileOperateThreadBase::CheckFolderMove(const CString& strOldPath, CString& strOld,
                                                              FileOperateResultCode nMissing) {
    if (m_strDestDirectory.IsEmpty()) return FOR_NO_DEST_DIRECTORY;
    strOld = strOldPath;
    if (strOld.Right(1) == "\\") strOld = strOld.Left(strOld.GetLength() - 1);
    if (strOld.IsEmpty()) return FOR_NO_VALID_PATH;
    DWORD attributes = GetFileAttributesA(strOld);
    if (attributes == INVALID_FILE_ATTRIBUTES) return nMissing;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? FOR_NONE : FOR_NOT_A_FOLDER;
}
