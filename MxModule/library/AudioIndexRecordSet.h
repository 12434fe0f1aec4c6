// The AudioIndex table of the legacy Access library ("LocalSearch.mdb"), as a typed recordset: its
// sixteen columns bound in table order. The import reads the same columns by name; this class documents
// the table and serves a front end that reads it itself.
#pragma once

#include "MxModule/MxExport.h"
#include "platform/database.h"

class MX_EXPORT CAudioIndexRecordSet : public CRecordset {
public:
    explicit CAudioIndexRecordSet(CDatabase* pDatabase = nullptr);

    long m_Idx;
    CString m_FileName;
    CString m_Song;
    CString m_Artist;
    CString m_Album;
    CString m_Type;
    long m_Duration;
    long m_Opinion;
    long m_FileLength;
    CString m_Track;
    long m_Genre;
    CString m_MD5;
    long m_CanPlay;
    CString m_GenreString;
    CString m_DownloadURL;
    CString m_Bitrate;

    CString GetDefaultConnect() override;
    CString GetDefaultSQL() override;
    void DoFieldExchange(CFieldExchange* pFX) override;
    // Every failing return code raises the database exception.
    BOOL Check(RETCODE nRetCode) const override;
};
