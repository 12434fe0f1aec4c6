// MFC's ODBC classes, the part the module uses: CDatabase opened with a connection text, CRecordset read
// forward (by field name or by the bound members of a derived class), CDBException for every ODBC
// failure. Underneath is the ODBC API of the machine's driver manager. The connection text is the one a
// Windows program passes: a DBQ file is a Windows path, seen through the drive map, and a DSN that a
// DRIVER before it overrides is dropped, as the Windows driver manager ignores it. A driver that the
// emulated machine's odbcinst.ini (MX_ODBCINST) names is taken from there, else from the system's.
//
// Texts arrive in the system code page, whatever the driver stores (values are fetched as UTF-16, and
// cut at 65536 characters). Every connection shares one ODBC environment; a driver that keeps state per
// environment (mdbtools does) wants one open database at a time, as the library's lock gives it.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"

typedef void* HDBC;   // the ODBC handles, opaque here
typedef void* HSTMT;
typedef short RETCODE;

#define AFX_DB_USE_DEFAULT_TYPE (0xFFFFFFFF)

class CDBException : public CException {
public:
    explicit CDBException(RETCODE nRetCode = -1) : m_nRetCode(nRetCode) {}
    RETCODE m_nRetCode;
    CString m_strError;              // the driver's messages, one per line
    CString m_strStateNativeOrigin;  // "State:%s,Native:%ld,Origin:%s" per message
};

// Throws a CDBException with the diagnostics of the statement, or else of the connection.
[[noreturn]] void AfxThrowDBException(RETCODE nRetCode, class CDatabase* pdb, HSTMT hstmt);

class CDatabase {
public:
    enum DbOpenOptions { openExclusive = 0x1, openReadOnly = 0x2, useCursorLib = 0x4, noOdbcDialog = 0x8, forceOdbcDialog = 0x10 };

    CDatabase();
    virtual ~CDatabase();
    CDatabase(const CDatabase&) = delete;
    CDatabase& operator=(const CDatabase&) = delete;

    // TRUE when connected; throws CDBException (the driver's reason) when not.
    virtual BOOL OpenEx(LPCSTR lpszConnectString, DWORD dwOptions = 0);
    virtual void Close();
    BOOL IsOpen() const { return m_hdbc != nullptr; }
    const CString& GetConnect() const { return m_strConnect; }

    HDBC m_hdbc;

protected:
    CString m_strConnect;
};

class CRecordset;

// The bound members of a CRecordset subclass, exchanged column by column in DoFieldExchange order.
class CFieldExchange {
public:
    enum FieldType { noFieldType = -1, outputColumn = 0, param = 1 };
    void SetFieldType(UINT nFieldType) { m_nFieldType = nFieldType; }

    // Internal: names are collected, or the current row's values stored.
    enum Operation { Name, Fetch };
    CFieldExchange(CRecordset* prs, Operation op) : m_prs(prs), m_nOperation(op) {}
    CRecordset* m_prs;
    Operation m_nOperation;
    UINT m_nFieldType = outputColumn;
    int m_nColumn = 0;
};

void RFX_Long(CFieldExchange* pFX, LPCSTR szName, long& value);
void RFX_Text(CFieldExchange* pFX, LPCSTR szName, CString& value, int nMaxLength = 255, int nColumnType = 12, short nScale = 0);

class CRecordset {
public:
    enum OpenType { dynaset, snapshot, forwardOnly, dynamic };
    enum OpenOptions { none = 0x0, readOnly = 0x4, appendOnly = 0x8 };

    // With no database the recordset opens its own on GetDefaultConnect.
    explicit CRecordset(CDatabase* pDatabase = nullptr);
    virtual ~CRecordset();
    CRecordset(const CRecordset&) = delete;
    CRecordset& operator=(const CRecordset&) = delete;

    // Runs the statement (a table name gives SELECT of the bound columns, or of all) and moves to the
    // first row. Throws CDBException when the statement fails.
    virtual BOOL Open(UINT nOpenType = AFX_DB_USE_DEFAULT_TYPE, LPCSTR lpszSQL = nullptr, DWORD dwOptions = none);
    virtual void Close();
    BOOL IsOpen() const { return m_hstmt != nullptr; }
    BOOL IsEOF() const { return m_bEOF; }
    BOOL IsBOF() const { return m_bBOF; }
    // Throws CDBException when the fetch fails; past the last row IsEOF turns TRUE.
    void MoveNext();
    // The current row's value as text (numbers in decimal, NULL as empty). An unknown name or index
    // throws CDBException.
    void GetFieldValue(LPCSTR lpszName, CString& strValue);
    void GetFieldValue(short nIndex, CString& strValue);
    short GetODBCFieldCount() const { return short(m_names.size()); }

    virtual CString GetDefaultConnect() { return "ODBC;"; }
    virtual CString GetDefaultSQL() { return CString(); }
    virtual void DoFieldExchange(CFieldExchange*) {}
    // TRUE for a successful return code.
    virtual BOOL Check(RETCODE nRetCode) const;

    long m_nFields;
    UINT m_nDefaultType;
    CDatabase* m_pDatabase;
    HSTMT m_hstmt;

private:
    friend void RFX_Long(CFieldExchange*, LPCSTR, long&);
    friend void RFX_Text(CFieldExchange*, LPCSTR, CString&, int, int, short);
    void Fetch();
    const CString& Column(size_t nIndex);
    static const CString* Exchange(CFieldExchange* pFX, LPCSTR szName);
    bool m_bOwnDatabase;
    BOOL m_bEOF;
    BOOL m_bBOF;
    std::vector<std::string> m_names;     // result columns, as the driver names them
    std::vector<CString> m_row;           // the current row's values read so far, from the first
    std::vector<std::string> m_bound;     // bound column names, in exchange order
};
