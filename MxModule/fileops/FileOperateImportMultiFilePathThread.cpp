#include "MxModule/fileops/FileOperateImportMultiFilePathThread.h"

#include <memory>

#include "MxModule/fileops/FileAnalysis.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/metadata/AudioFileParse.h"
#include "platform/files.h"

void CFileOperateImportMultiFilePathThread::SetPaths(const CStringList& paths) { SortPaths(paths, m_listFiles, m_listFolders); }

int CFileOperateImportMultiFilePathThread::Run(int bOwnThread) {
    if (IsStopped()) return 0;
    if (m_nQuota < 0) m_nQuota = 0;  // a negative quota analyses nothing; every file is still registered
    if (m_strDestDirectory.IsEmpty()) return Failed(bOwnThread, FOR_NO_DEST_DIRECTORY);
    if (m_listFiles.IsEmpty() && m_listFolders.IsEmpty()) return Failed(bOwnThread, FOR_NO_VALID_PATH);

    Walk walk;
    std::unique_ptr<CStringList> notAnalysed(new CStringList);
    walk.pNotAnalysed = notAnalysed.get();
    for (POSITION pos = m_listFiles.GetHeadPosition(); pos;) {
        const CString& path = m_listFiles.GetNext(pos);
        if (IsStopped()) return 0;
        HandleFile(walk, path, 0, false);
    }
    for (POSITION pos = m_listFolders.GetHeadPosition(); pos;) {
        const CString& folder = m_listFolders.GetNext(pos);
        if (IsStopped()) return 0;
        WalkFolder(walk, folder);
        if (walk.stopped) return 0;
    }
    if (m_nQuota > 0 && !walk.candidates.IsEmpty() && !RunBatch(walk)) return 0;
    if (walk.stopped) return 0;
    m_pCallBack->OnEndCopyNotAnalyzedMultiFiles(m_nID, notAnalysed.release());
    m_pCallBack->OnEndCopyMultiFiles(m_nID);
    return 0;
}

void CFileOperateImportMultiFilePathThread::HandleFile(Walk& walk, const CString& strPath, unsigned long nSize,
                                                      bool bSizeKnown) {
    CString imported = GetImportedPath(strPath);
    if (!imported.IsEmpty()) {
        m_pCallBack->OnFileOperateError(m_nID, strPath, imported, FOR_ALREADY_IMPORTED, "", "");
        return;
    }
    int dot = strPath.ReverseFind('.');
    CString extension = dot < 0 ? CString() : strPath.Mid(dot + 1);
    extension.MakeLower();
    if (extension != "mp3" && extension != "wma") return;

    FINDFILEUINT file;
    file.strPath = strPath;
    file.strExtension = extension;
    // A walked file's size comes with its folder entry, so a quick registration opens nothing.
    file.nSize = bSizeKnown ? nSize : CMxPublic::GetFileLen(strPath);
    walk.candidates.AddTail(file);
    if (m_nQuota == 0)
        RegisterQuickly(walk, file);
    else if (walk.candidates.GetCount() == m_nQuota && !RunBatch(walk))
        walk.stopped = true;
}

void CFileOperateImportMultiFilePathThread::WalkFolder(Walk& walk, const CString& strFolder) {
    if (walk.stopped || IsStopped()) {
        walk.stopped = true;
        return;
    }
    if (!walk.folders.Enter(strFolder)) return;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(strFolder + "\\*.*", &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            CString name = data.cFileName;
            if (name == "." || name == "..") continue;
            CString path = strFolder + "\\" + name;
            if (NameNotInCodePage(name))
                m_pCallBack->OnFileOperateError(m_nID, path, "", FOR_NAME_NOT_IN_CODE_PAGE, "", "");
            else if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                HandleFile(walk, path, data.nFileSizeLow, data.nFileSizeHigh == 0);
            else if (!IsProtectedFolder(data.dwFileAttributes))
                WalkFolder(walk, path);
            if (walk.stopped || IsStopped()) {
                walk.stopped = true;
                break;
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
}

void CFileOperateImportMultiFilePathThread::RegisterQuickly(Walk& walk, const FINDFILEUINT& file) {
    DBRECORD record;
    record.FileName = file.strPath;
    record.Type = file.strExtension;
    record.Opinion = "3";
    record.FileLength.Format("%lu", file.nSize);
    record.CanPlay = "1";
    record.Analyzed = "0";
    // Only songs the library holds are listed: a refused record (a full disk) is reported instead.
    if (CDBOperater::Instance()->AddSongInfo(&record, 0))
        walk.pNotAnalysed->AddTail(file.strPath);
    else
        m_pCallBack->OnFileOperateError(m_nID, file.strPath, file.strPath, FOR_DB_WRITE_FAILED, "", "");
}

bool CFileOperateImportMultiFilePathThread::RunBatch(Walk& walk) {
    m_pCallBack->OnBeginCopyMultiFiles(m_nID, static_cast<unsigned long>(walk.candidates.GetCount()));
    std::unique_ptr<CStringList> analysed(new CStringList);
    for (POSITION pos = walk.candidates.GetHeadPosition(); pos;) {
        const FINDFILEUINT& file = walk.candidates.GetNext(pos);
        if (IsStopped()) return false;
        CAudioFileParse parser;
        AUDIOFILEINFO info;
        CString working = file.strPath;
        // A file that cannot be read or is DRM-protected is reported, passed over and counts against the
        // quota: ending the batch there would leave the files after it neither analysed nor registered.
        bool readable = parser.ParseAudioFile(working, &info, 1, 1, "") != 0;
        if (!readable || parser.m_bDRM) {
            FileOperateResultCode why = readable ? FOR_DRM_PROTECTED : mxfileops::UnreadableReason(working);
            m_pCallBack->OnFileOperateError(m_nID, working, "", why, "", "");
            if (m_nQuota > 0) --m_nQuota;
            continue;
        }
        if (parser.m_bScriptCommand) m_pCallBack->OnFileOperateError(m_nID, working, "", FOR_SCRIPT_COMMANDS, "", "");
        DBRECORD record = mxfileops::AnalysedRecord(working, info, file.strExtension, file.nSize);
        if (CDBOperater::Instance()->AddSongInfo(&record, 0))
            analysed->AddTail(working);
        else
            m_pCallBack->OnFileOperateError(m_nID, working, working, FOR_DB_WRITE_FAILED, "", "");
        if (m_nQuota > 0) --m_nQuota;
    }
    m_pCallBack->OnEndCopyAnalyzedMultiFiles(m_nID, analysed.release());
    return true;
}
