#include "MxModule/fileops/FileOperateAddDownloadThread.h"

#include "MxModule/download/DownloadAVFile.h"
#include "MxModule/fileops/FileAnalysis.h"
#include "MxModule/fileops/FileOperateManager.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/library/LibraryFormat.h"
#include "MxModule/metadata/AudioFileParse.h"
#include "MxModule/search/SearchCommon.h"
#include "platform/files.h"

namespace {

bool Known(const CString& strText) {
    return !strText.IsEmpty() && strText != CMxPublic::GbkLiteral(mxlib::kUnknown);
}

}  // namespace

CFileOperateAddDownloadThread::CFileOperateAddDownloadThread(const CString& strPath, const AUDIOFILEINFO* pPreferred,
                                                             const CString& strKey, const CString& strRecordKey)
    : m_strPath(strPath), m_strKey(strKey), m_strRecordKey(strRecordKey) {
    if (!pPreferred) return;
    m_infoPreferred = *pPreferred;
    for (CString* text : {&m_infoPreferred.strTitle, &m_infoPreferred.strArtist, &m_infoPreferred.strAlbum,
                          &m_infoPreferred.strYear, &m_infoPreferred.strComment})
        text->Trim();
    for (CString* text : {&m_infoPreferred.strTitle, &m_infoPreferred.strArtist, &m_infoPreferred.strAlbum})
        if (text->IsEmpty()) *text = CMxPublic::GbkLiteral(mxlib::kUnknown);
    m_pPreferred = &m_infoPreferred;
}

int CFileOperateAddDownloadThread::Fail(int bOwnThread, FileOperateResultCode nCode, const CString& strText2) {
    if (!bOwnThread) return nCode;
    m_pCallBack->OnFileOperateError(m_nID, m_strPath, strText2, nCode, "", "");
    return 0;
}

int CFileOperateAddDownloadThread::Run(int bOwnThread) {
    if (IsStopped()) return 0;
    if (m_strDestDirectory.IsEmpty()) return Fail(bOwnThread, FOR_NO_DEST_DIRECTORY);
    if (m_strPath.IsEmpty()) return Fail(bOwnThread, FOR_NO_FILE);
    DWORD attributes = GetFileAttributesA(m_strPath);
    if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(bOwnThread, FOR_FILE_NOT_FOUND);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(bOwnThread, FOR_NOT_A_FILE);

    // The share companion learns the file and its raw tag blocks, audio or not.
    CDownloadAVFile* share = CDownloadAVFile::Instance();
    CString md5 = CMxPublic::GetFileMD5(m_strPath);
    share->CommitFile("", m_strPath, md5);
    {
        CAudioFileParse parser;
        BYTE *pTail = nullptr, *pHeader = nullptr;
        int nTail = 0, nHeader = 0;
        parser.GetAudioFileID3Info(m_strPath, pTail, nTail, pHeader, nHeader);
        share->ShareSetID3(md5, reinterpret_cast<const char*>(pTail), nTail, reinterpret_cast<const char*>(pHeader), nHeader);
        delete[] pTail;
        delete[] pHeader;
    }

    VelaPlayerFileType nClass = FILETYPE_UNKNOWN, nFormat = FILETYPE_UNKNOWN;
    CFileOperateManager::GetFileType(m_strPath, nClass, nFormat, 1);
    if (nClass != FILETYPE_AUDIO) {
        CWinThread* thread = AfxGetThread();
        if (thread && thread->m_pMainWnd && thread->m_pMainWnd->m_hWnd) {
            auto* key = new CString(m_strKey);
            if (!PostMessageA(thread->m_pMainWnd->m_hWnd, WM_MX_DOWNLOAD_NOT_AUDIO, 0, reinterpret_cast<LPARAM>(key)))
                delete key;
        }
        return Fail(bOwnThread, FOR_NOT_AUDIO);
    }

    AUDIOFILEINFO info;
    CAudioFileParse parser;
    CString before = m_strPath;
    parser.ParseAudioFile(m_strPath, &info, 1, 1, "");
    ShareMovedFile(before, m_strPath, &parser);
    if (parser.m_bDRM) return Fail(bOwnThread, FOR_DRM_PROTECTED, m_strKey);
    if (parser.m_bScriptCommand && bOwnThread)
        m_pCallBack->OnFileOperateError(m_nID, m_strPath, m_strKey, FOR_SCRIPT_COMMANDS, "", "");

    // A result's text that is the file's own as the search cleans names ("AC DC" for "AC/DC") keeps the
    // file's, in the tags, the record and the name.
    const CString fileTexts[] = {info.strTitle, info.strArtist, info.strAlbum};
    CString* preferredTexts[] = {&m_infoPreferred.strTitle, &m_infoPreferred.strArtist, &m_infoPreferred.strAlbum};
    for (int k = 0; m_pPreferred && k < 3; ++k)
        if (!fileTexts[k].IsEmpty() && SearchCommon::CleanName(fileTexts[k]) == SearchCommon::CleanName(*preferredTexts[k]))
            *preferredTexts[k] = fileTexts[k];
    CString dest = MakeDestFileName(m_strPath, &info, m_pPreferred);
    if (dest.IsEmpty()) return Fail(bOwnThread, FOR_NO_DEST_NAME);
    if (m_pPreferred) {
        // The tag record now holds the known preferred texts and, where the result knew none, the file's
        // own: an unknown title never replaces a good one, and tags that already say it stay untouched.
        if (info.strTitle != fileTexts[0] || info.strArtist != fileTexts[1] || info.strAlbum != fileTexts[2]) {
            AUDIOFILEINFO written = m_infoPreferred;
            written.strTitle = info.strTitle;
            written.strArtist = info.strArtist;
            written.strAlbum = info.strAlbum;
            CAudioFileParse writer;
            writer.SetAudioFileInfo(m_strPath, &written, 7);
        }
        if (bOwnThread) m_pCallBack->OnDownloadSetNewAudioInfo(m_nID, m_strKey, info.strTitle, info.strArtist);
    }

    int colon = m_strDestDirectory.Find(':');
    ULARGE_INTEGER available{};
    if (colon > 0 && GetDiskFreeSpaceExA(m_strDestDirectory.Left(colon) + ":\\", &available, nullptr, nullptr) &&
        CMxPublic::GetFileLen(m_strPath) > available.QuadPart)
        return Fail(bOwnThread, FOR_DISK_FULL, dest);

    if (bOwnThread) m_pCallBack->OnBeginCopySingleFile(m_nID, m_strPath, dest);
    if (!CreateMultiDirectory(dest)) return Fail(bOwnThread, FOR_CREATE_FOLDER_FAILED, dest);
    // Never over a library file: another copy may take the name first; the next free name is taken then.
    BOOL copied = CopyFileA(m_strPath, dest, TRUE);
    for (int retry = 0; !copied && GetLastError() == ERROR_FILE_EXISTS && retry < 100; ++retry) {
        CString next = MakeDestFileName(m_strPath, &info, m_pPreferred);
        if (next.IsEmpty() || next == dest) break;
        dest = next;
        copied = CopyFileA(m_strPath, dest, TRUE);
    }
    if (!copied) return Fail(bOwnThread, FOR_COPY_FAILED, dest);
    ShareMovedFile(m_strPath, dest);

    CString type = CFileOperateManager::GetFileType(dest, nClass, nFormat, 1);
    DBRECORD record = mxfileops::AnalysedRecord(dest, info, type, CMxPublic::GetFileLen(dest));
    if (m_pPreferred) {
        if (Known(m_pPreferred->strTitle)) record.Song = m_pPreferred->strTitle;
        if (Known(m_pPreferred->strArtist)) record.Artist = m_pPreferred->strArtist;
        if (Known(m_pPreferred->strAlbum)) record.Album = m_pPreferred->strAlbum;
    }
    // A record that exists keeps what the user gave it (the rating, the extras) when the local file
    // replaces it.
    CDBOperater* db = CDBOperater::Instance();
    const DWORD dwMask = DBRECORD::kAllFields & ~mxfileops::kUserFields;
    int stored = 0;
    if (db->CheckFileImportedByFileName(dest))
        stored = db->UpdateSongInfo(dest, &record, dwMask);
    else if (!m_strRecordKey.IsEmpty() && db->CheckFileImportedByFileName(m_strRecordKey))
        stored = db->UpdateSongInfo(m_strRecordKey, &record, dwMask);
    else
        stored = db->AddSongInfo(&record, 0);
    if (!stored) {
        // The copy is this worker's own (never made over a file): it goes, and the share record with it.
        ShareMovedFile(dest, m_strPath);
        DeleteFileA(dest);
        return Fail(bOwnThread, FOR_DB_WRITE_FAILED, dest);
    }
    if (bOwnThread) m_pCallBack->OnEndCopySingleFile(m_nID, m_strPath, dest);
    return 0;
}
