// The import of the legacy Access library ("LocalSearch.mdb", table AudioIndex) into the store and the
// default playlist.
#include <functional>

#include "MxModule/foundation/CriticalSectionGuard.h"
#include "MxModule/foundation/MxLog.h"
#include "MxModule/foundation/MxPublic.h"
#include "MxModule/library/DBCore.h"
#include "MxModule/library/DBOperater.h"
#include "MxModule/library/DBPLFile.h"
#include "MxModule/library/LibraryFormat.h"
#include "platform/database.h"

using namespace mxlib;

namespace {

const char kAccessDriver[] = "MICROSOFT ACCESS DRIVER (*.mdb)";
// The columns read into fields 0 to 14 of the record.
const char* const kColumns[15] = {"FileName", "Song",  "Artist",  "Album",       "Type",        "Duration", "Opinion", "FileLength",
                                  "Track",    "Genre", "MD5",     "CanPlay",     "GenreString", "DownloadURL", "Bitrate"};

// Reads the table row by row into fresh records (fields 0 to 14 as text, analysed, type in lower case);
// false, with the driver's reason, when it was not read to its end.
bool ReadLegacyTable(const CString& strPath, const std::function<void(DBRECORD&)>& onRow, CString& strWhy) {
    CString connect;
    connect.Format("DRIVER={%s};DSN='';UID=sa;PWD='';DBQ=%s", kAccessDriver, static_cast<LPCSTR>(strPath));
    try {
        CDatabase db;
        db.OpenEx(connect, CDatabase::noOdbcDialog);
        CRecordset rs(&db);
        rs.Open(CRecordset::forwardOnly, "SELECT * FROM AudioIndex", CRecordset::readOnly);
        for (; !rs.IsEOF(); rs.MoveNext()) {
            DBRECORD rec;
            for (int k = 0; k < 15; ++k) rs.GetFieldValue(kColumns[k], rec.Field(k));
            rec.Analyzed = "1";
            rec.Type.MakeLower();
            onRow(rec);
        }
        return true;
    } catch (CDBException* e) {
        strWhy = e->m_strError;
        strWhy.Trim();
        e->Delete();
    } catch (CException* e) {
        strWhy = "the database could not be read";
        e->Delete();
    }
    return false;
}

}  // namespace

int CDBCore::ImportLegacyDatabase(CString strPath) {
    CString why;
    ImportLegacyRows(strPath, why);
    return 1;
}

bool CDBCore::ImportLegacyRows(const CString& strPath, CString& strWhy) {
    CString folder = strPath.Left(strPath.ReverseFind('\\') + 1);
    CMxFile playlist;
    if (!playlist.Open(folder + CMxPublic::GbkLiteral(kDefaultPlaylist) + kPlaylistExtension,
                       CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite | CFile::typeBinary)) {
        strWhy = "the default playlist could not be opened";
        return false;
    }
    int position = 1;
    return ReadLegacyTable(strPath, [&](DBRECORD& rec) { AddImportedRecord(&rec, &playlist, position++); }, strWhy);
}

int CDBCore::AddImportedRecord(DBRECORD* pRecord, CMxFile* pPlaylist, int nPosition) {
    // A row whose path the library already holds (a table listing a file twice) is passed over: one
    // path, one record.
    int id = 0;
    if (!pRecord || AddRecord(pRecord) != 1 || !GetRecordId(pRecord->FileName, &id)) return 0;
    unsigned char entry[kEntrySize] = {};
    PutU32(entry, uint32_t(nPosition));
    PutU32(entry + 4, uint32_t(id));
    entry[kEntryStateOffset] = kEntryLive;
    pPlaylist->Flush();
    pPlaylist->Seek(0, CFile::end);
    pPlaylist->Write(entry, kEntrySize);
    pPlaylist->Flush();
    return 1;
}

int CDBOperater::ImportLegacyDatabase(CString strPath, CString& strWhy) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    CDBPLFile* list = FindPlaylist(CMxPublic::GbkLiteral(kDefaultPlaylist));
    int added = 0;
    bool whole = ReadLegacyTable(strPath, [&](DBRECORD& rec) {
        int id = 0;
        if (m_pStore->AddRecord(&rec) != 1 || !m_pStore->GetRecordId(rec.FileName, &id)) return;
        ++added;
        if (list) list->AddSong(id);
    }, strWhy);
    if (!whole) CMxLog::Instance()->Log("library: the legacy library " + strPath + " was not read to its end: " + strWhy);
    return whole ? added : -1;
}
