// Analysis of a file into its library record, and the single-field updates.
#include "MxModule/fileops/FileAnalysis.h"

#include <algorithm>
#include <cstdint>

#include "MxModule/fileops/FileOperateManager.h"
#include "MxModule/foundation/MxFile.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/DBCore.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/library/LibraryFormat.h"
#include "MxModule/metadata/AudioFileParse.h"

namespace {

CString Decimal(long long value) {
    CString text;
    text.Format("%lld", value);
    return text;
}

// Field masks of the single-field updates.
constexpr DWORD kDurationMask = 1u << 5;
constexpr DWORD kOpinionMask = 1u << 6;
constexpr DWORD kMD5Mask = 1u << 10;
constexpr DWORD kCanPlayMask = 1u << 11;

int UpdateOneField(const CString& strPath, CString DBRECORD::*field, const CString& value, DWORD dwMask) {
    DBRECORD record;
    record.*field = value;
    return CDBOperater::Instance()->UpdateSongInfo(strPath, &record, dwMask);
}

}  // namespace

DBRECORD mxfileops::AnalysedRecord(const CString& strPath, const AUDIOFILEINFO& info, const CString& strType, DWORD dwSize) {
    DBRECORD record;
    record.FileName = strPath;
    record.Song = info.strTitle;
    record.Artist = info.strArtist;
    record.Album = info.strAlbum;
    record.Type = strType;
    record.Duration = Decimal(info.nDuration);
    record.Opinion = "3";
    record.FileLength = Decimal(dwSize);
    record.Track = info.strTrack;
    record.Genre = Decimal(info.byGenre);
    record.CanPlay = "1";
    record.GenreString = info.strGenre;
    record.Bitrate = info.strBitrate;
    record.Analyzed = "1";
    FillEmptyTexts(record);
    return record;
}

FileOperateResultCode mxfileops::UnreadableReason(const CString& strPath) {
    if (GetFileAttributesA(strPath) == INVALID_FILE_ATTRIBUTES) return FOR_FILE_NOT_FOUND;
    CMxFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) return FOR_READ_FAILED;
    return FOR_NOT_AUDIO;
}

FileOperateResultCode CFileOperateManager::AnalyzingFile(CString strPath, AUDIOFILEINFO* pInfo) {
    CAudioFileParse parser;
    AUDIOFILEINFO info;
    CString working = strPath;
    // A song that cannot be read keeps its record as it was: it is not analysed with empty tags.
    if (!parser.ParseAudioFile(working, &info, 1, 1, "")) return mxfileops::UnreadableReason(working);
    if (parser.m_bDRM) return FOR_DRM_PROTECTED;
    VelaPlayerFileType nClass, nFormat;
    CString type = GetFileType(working, nClass, nFormat, 1);
    DBRECORD record = mxfileops::AnalysedRecord(working, info, type, CMxPublic::GetFileLen(working));
    // Analysing a library song again keeps what the user gave it.
    if (!CDBOperater::Instance()->UpdateSongInfo(strPath, &record, DBRECORD::kAllFields & ~mxfileops::kUserFields))
        return FOR_DB_WRITE_FAILED;
    if (pInfo) *pInfo = info;
    return FOR_SUCCESS;
}

int CFileOperateManager::IsFileAnalyzed(CString strPath) { return CDBOperater::Instance()->IsFileAnalyzed(strPath); }

int CFileOperateManager::AddURLToDB(CString strURL) {
    DBRECORD record;
    record.FileName = strURL;
    record.Song = strURL;
    record.Artist = CMxPublic::GbkLiteral(mxlib::kUnknown);
    record.Album = CMxPublic::GbkLiteral(mxlib::kUnknown);
    // The extension of the address's last part, if that part has one.
    int dot = strURL.ReverseFind('.');
    int slash = std::max(strURL.ReverseFind('/'), strURL.ReverseFind('\\'));
    if (dot > slash && dot + 1 < strURL.GetLength()) {
        record.Type = strURL.Mid(dot + 1);
        record.Type.MakeLower();
    }
    record.Analyzed = "0";
    return CDBOperater::Instance()->AddSongInfo(&record, 0);
}

int CFileOperateManager::UpdateOpinion(CString strPath, unsigned long nValue) {
    return UpdateOneField(strPath, &DBRECORD::Opinion, Decimal(int32_t(nValue)), kOpinionMask);
}

int CFileOperateManager::UpdateDuration(CString strPath, unsigned long nValue) {
    return UpdateOneField(strPath, &DBRECORD::Duration, Decimal(int32_t(nValue)), kDurationMask);
}

int CFileOperateManager::UpdateMD5(CString strPath, CString strDigest) {
    return UpdateOneField(strPath, &DBRECORD::MD5, strDigest, kMD5Mask);
}

int CFileOperateManager::UpdateCanPlay(CString strPath, unsigned int nValue) {
    return UpdateOneField(strPath, &DBRECORD::CanPlay, Decimal(int32_t(nValue)), kCanPlayMask);
}
