#include "MxModule/fileops/SongImport.h"

#include "MxModule/fileops/FileAnalysis.h"
#include "MxModule/fileops/FileOperateManager.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/metadata/AudioFileParse.h"

mxfileops::SONGTAGS mxfileops::ReadSongTags(const CString& strPath, int bFixExtension) {
    SONGTAGS song;
    song.strPath = strPath;
    CAudioFileParse parser;
    song.bRead = parser.ParseAudioFile(song.strPath, &song.info, 1, bFixExtension, "") != 0;
    song.bDRM = parser.m_bDRM != 0;
    song.bScriptCommand = parser.m_bScriptCommand != 0;
    return song;
}

bool mxfileops::AddSongRecord(const SONGTAGS& song) {
    VelaPlayerFileType nClass = FILETYPE_UNKNOWN, nFormat = FILETYPE_UNKNOWN;
    CString type = CFileOperateManager::GetFileType(song.strPath, nClass, nFormat, 1);
    DBRECORD record = AnalysedRecord(song.strPath, song.info, type, CMxPublic::GetFileLen(song.strPath));
    return CDBOperater::Instance()->AddSongInfo(&record, 0) != 0;
}
