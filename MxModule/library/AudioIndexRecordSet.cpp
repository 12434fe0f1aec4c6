#include "MxModule/library/AudioIndexRecordSet.h"

namespace {
const int kTextLength = 65536;
}

CAudioIndexRecordSet::CAudioIndexRecordSet(CDatabase* pDatabase)
    : CRecordset(pDatabase), m_Idx(0), m_Duration(0), m_Opinion(0), m_FileLength(0), m_Genre(0), m_CanPlay(0) {
    m_nFields = 16;
    m_nDefaultType = snapshot;
}

CString CAudioIndexRecordSet::GetDefaultConnect() { return "ODBC;DSN=MS Access Database"; }

CString CAudioIndexRecordSet::GetDefaultSQL() { return "[AudioIndex]"; }

void CAudioIndexRecordSet::DoFieldExchange(CFieldExchange* pFX) {
    pFX->SetFieldType(CFieldExchange::outputColumn);
    RFX_Long(pFX, "[Idx]", m_Idx);
    RFX_Text(pFX, "[FileName]", m_FileName, kTextLength);
    RFX_Text(pFX, "[Song]", m_Song, kTextLength);
    RFX_Text(pFX, "[Artist]", m_Artist, kTextLength);
    RFX_Text(pFX, "[Album]", m_Album, kTextLength);
    RFX_Text(pFX, "[Type]", m_Type, kTextLength);
    RFX_Long(pFX, "[Duration]", m_Duration);
    RFX_Long(pFX, "[Opinion]", m_Opinion);
    RFX_Long(pFX, "[FileLength]", m_FileLength);
    RFX_Text(pFX, "[Track]", m_Track, kTextLength);
    RFX_Long(pFX, "[Genre]", m_Genre);
    RFX_Text(pFX, "[MD5]", m_MD5, kTextLength);
    RFX_Long(pFX, "[CanPlay]", m_CanPlay);
    RFX_Text(pFX, "[GenreString]", m_GenreString, kTextLength);
    RFX_Text(pFX, "[DownloadURL]", m_DownloadURL, kTextLength);
    RFX_Text(pFX, "[Bitrate]", m_Bitrate, kTextLength);
}

BOOL CAudioIndexRecordSet::Check(RETCODE nRetCode) const {
    if (!CRecordset::Check(nRetCode)) AfxThrowDBException(nRetCode, m_pDatabase, m_hstmt);
    return TRUE;
}
