// The import of the legacy Access library ("LocalSearch.mdb", table AudioIndex) into the store and the
// default playlist.
#include <algorithm>
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

// Reads the table row by row into fresh records (fields 0 to 14 as text, analysed, type in lower case)
// and hands each to onRow, which may stop the read (its reason in strWhy); false, with the reason, when
// the table was not read to its end.
bool ReadLegacyTable(const CString& strPath, const std::function<bool(DBRECORD&, CString&)>& onRow, CString& strWhy) {
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
            if (!onRow(rec, strWhy)) return false;
        }
        return true;
    } catch (CDBException* e) {
        strWhy = e->m_strError;
        strWhy.Trim();
        e->Delete();
    } catch (CException* e) {
        strWhy = "the database could not be read";
        e->Delete();
    } catch (...) {
        strWhy = "the database could not be read (out of memory)";
    }
    return false;
}

bool Exists(const CString& strPath) { return GetFileAttributesA(strPath) != INVALID_FILE_ATTRIBUTES; }

// The highest position number among the live entries of a playlist file.
uint32_t HighestPosition(CMxFile& list) {
    uint32_t highest = 0;
    unsigned char entry[kEntrySize];
    list.Seek(0, CFile::begin);
    while (list.Read(entry, kEntrySize) == kEntrySize) {
        if (entry[kEntryStateOffset] == kEntryLive) highest = std::max(highest, GetU32(entry));
    }
    return highest;
}

}  // namespace

int CDBCore::ImportLegacyDatabase(CString strPath) {
    CString why;
    ImportLegacyRows(strPath, why);
    return 1;
}

void CDBCore::FinishLegacyImport() {
    CString legacy = Folder() + kLegacyFile, importing = legacy + kImportingSuffix;
    if (!Exists(importing)) return;
    CString why;
    if (ImportLegacyRows(importing, why)) {
        DeleteFileA(importing);
        return;
    }
    // Set aside under a name no earlier attempt took; never tried again at a start.
    CString aside = legacy + kUnimportedSuffix;
    for (int n = 2; Exists(aside); ++n) aside.Format("%s%s.%d", static_cast<LPCSTR>(legacy), kUnimportedSuffix, n);
    bool moved = MoveFileA(importing, aside) != 0;
    CMxLog::Instance()->Log("library: " + CString(kLegacyFile) + " could not be imported (" + why + "); " +
                            (moved ? "kept as " + aside : "left as " + importing));
}

bool CDBCore::ImportLegacyRows(const CString& strPath, CString& strWhy) {
    CMxFile playlist;
    if (!playlist.Open(Folder() + CMxPublic::GbkLiteral(kDefaultPlaylist) + kPlaylistExtension,
                       CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite | CFile::typeBinary)) {
        strWhy = "the default playlist could not be opened";
        return false;
    }
    // A resumed import goes on after the entries the interrupted one wrote.
    uint32_t position = HighestPosition(playlist) + 1;
    return ReadLegacyTable(strPath, [&](DBRECORD& rec, CString& why) {
        if (AddImportedRecord(&rec, &playlist, int(position++)) >= 0) return true;
        why.Format("the library could not store %s (error %lu)", static_cast<LPCSTR>(rec.FileName), static_cast<unsigned long>(GetLastError()));
        return false;
    }, strWhy);
}

int CDBCore::AddImportedRecord(DBRECORD* pRecord, CMxFile* pPlaylist, int nPosition) {
    // One path, one record: a row whose path the library holds (a table listing a file twice, or an
    // import resumed) is passed over, as a row without a path is.
    int id = 0;
    if (!pRecord || !pPlaylist || pRecord->FileName.IsEmpty() || GetRecordId(pRecord->FileName, &id)) return 0;
    if (AddRecord(pRecord) != 1 || !GetRecordId(pRecord->FileName, &id)) return -1;
    unsigned char entry[kEntrySize] = {};
    PutU32(entry, uint32_t(nPosition));
    PutU32(entry + 4, uint32_t(id));
    entry[kEntryStateOffset] = kEntryLive;
    pPlaylist->ClearFailure();
    pPlaylist->Flush();
    pPlaylist->Seek(0, CFile::end);
    pPlaylist->Write(entry, kEntrySize);
    pPlaylist->Flush();
    if (DWORD failure = pPlaylist->GetFailure()) {
        SetLastError(failure);
        return -1;
    }
    return 1;
}

int CDBOperater::ImportLegacyDatabase(CString strPath, CString& strWhy) {
    CCriticalSectionGuard guard(&m_csDBGuard);
    CDBPLFile* list = FindPlaylist(CMxPublic::GbkLiteral(kDefaultPlaylist));
    if (!list) {
        strWhy = "the library is not open";
        return -1;
    }
    int added = 0;
    bool whole = ReadLegacyTable(strPath, [&](DBRECORD& rec, CString& why) {
        int id = 0;
        if (rec.FileName.IsEmpty() || m_pStore->GetRecordId(rec.FileName, &id)) return true;
        if (m_pStore->AddRecord(&rec) != 1 || !m_pStore->GetRecordId(rec.FileName, &id)) {
            why.Format("the library could not store %s (error %lu)", static_cast<LPCSTR>(rec.FileName), static_cast<unsigned long>(GetLastError()));
            return false;
        }
        ++added;
        if (list->AddSong(id)) return true;
        why.Format("the default playlist could not list %s", static_cast<LPCSTR>(rec.FileName));
        return false;
    }, strWhy);
    if (!whole) CMxLog::Instance()->Log("library: the legacy library " + strPath + " was not imported to its end: " + strWhy);
    return whole ? added : -1;
}
