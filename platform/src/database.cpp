#include "platform/database.h"

#include <strings.h>

// The ODBC headers bring their own Windows types unless told that the program has them; these are the
// ones they need beyond windef.h.
#define ALREADY_HAVE_WINDOWS_TYPE
#define FAR
#define SQL_API
typedef unsigned char UCHAR;
typedef signed char SCHAR;
typedef SCHAR SQLSCHAR;
typedef int SDWORD;
typedef unsigned int UDWORD;
typedef short SWORD;
typedef unsigned short UWORD;
typedef long SLONG;
typedef short SSHORT;
typedef unsigned short USHORT;
typedef double SDOUBLE;
typedef double LDOUBLE;
typedef float SFLOAT;
typedef void* PTR;
typedef void* SQLHWND;
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "config.h"
#include "platform/text.h"

namespace {

// A value longer than this is cut (the longest text a recordset binds): a damaged or hostile database
// cannot fill the memory.
const size_t kMaxValueChars = 65536;

std::mutex g_envLock;
SQLHENV g_env = SQL_NULL_HENV;

SQLHENV Environment() {
    std::lock_guard<std::mutex> lock(g_envLock);
    if (g_env == SQL_NULL_HENV) {
        // Access 97 files hold text in the code page of the machine that wrote them; the mdbtools driver
        // assumes Western European unless told.
        if (mxp::config().acp != 65001) setenv("MDB_JET3_CHARSET", "CP936", 0);
    }
    if (g_env == SQL_NULL_HENV && SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &g_env))) {
        SQLSetEnvAttr(g_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    return g_env;
}

std::string Trimmed(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// The library of a driver named in the emulated machine's odbcinst.ini (MX_ODBCINST), or "". The file
// is read at each connection: the driver manager keeps the first driver list it read for the process.
std::string DriverLibrary(const std::string& name) {
    const std::string& ini = mxp::config().odbcinst;
    if (ini.empty()) return std::string();
    FILE* f = std::fopen(ini.c_str(), "r");
    if (!f) return std::string();
    std::string library, line;
    bool inSection = false;
    char buffer[1024];
    while (library.empty() && std::fgets(buffer, sizeof buffer, f)) {
        line = Trimmed(buffer);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            inSection = strcasecmp(line.substr(1, line.size() - 2).c_str(), name.c_str()) == 0;
        } else if (inSection && line.size() > 7 && strncasecmp(line.c_str(), "Driver", 6) == 0 && Trimmed(line.substr(6)).front() == '=') {
            library = Trimmed(Trimmed(line.substr(6)).substr(1));
        }
    }
    std::fclose(f);
    return library;
}

struct Attribute {
    std::string key, value;
};

// "KEY=value;KEY={value; with braces}" into its attributes, in order.
std::vector<Attribute> SplitConnect(const std::string& text) {
    std::vector<Attribute> out;
    size_t p = 0;
    while (p < text.size()) {
        size_t eq = text.find('=', p), semi = text.find(';', p);
        if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
            p = semi == std::string::npos ? text.size() : semi + 1;
            continue;
        }
        Attribute a{text.substr(p, eq - p), std::string()};
        size_t v = eq + 1;
        if (v < text.size() && text[v] == '{') {
            size_t close = text.find('}', v);
            close = close == std::string::npos ? text.size() : close + 1;
            a.value = text.substr(v, close - v);
            semi = text.find(';', close);
        } else {
            a.value = text.substr(v, semi == std::string::npos ? std::string::npos : semi - v);
        }
        out.push_back(a);
        p = semi == std::string::npos ? text.size() : semi + 1;
    }
    return out;
}

bool IsKey(const Attribute& a, const char* key) { return strcasecmp(a.key.c_str(), key) == 0; }

// The connection text as the driver manager here needs it (see the header).
std::string HostConnect(const CString& strConnect) {
    std::string text = strConnect.str();
    if (text.size() >= 5 && strncasecmp(text.c_str(), "ODBC;", 5) == 0) text.erase(0, 5);
    std::vector<Attribute> in = SplitConnect(text), out;
    bool driver = false, database = false;
    std::string file;
    for (const Attribute& a : in) database = database || IsKey(a, "Database");
    for (Attribute a : in) {
        if (IsKey(a, "DRIVER")) {
            driver = true;
            std::string name = a.value.size() >= 2 && a.value.front() == '{' ? a.value.substr(1, a.value.size() - 2) : a.value;
            std::string library = DriverLibrary(name);
            if (!library.empty()) a.value = "{" + library + "}";
        }
        if (IsKey(a, "DSN") && driver) continue;
        if (IsKey(a, "DBQ")) {
            std::string host;
            if (MxWindowsPathToHost(a.value.c_str(), host)) a.value = host;
            file = a.value;
        }
        out.push_back(a);
    }
    // Drivers other than Access's name the database file so.
    if (!file.empty() && !database) out.push_back({"Database", file});
    std::string joined;
    for (const Attribute& a : out) joined += a.key + "=" + a.value + ";";
    return joined;
}

CDBException* Diagnostics(RETCODE nRetCode, SQLSMALLINT type, SQLHANDLE handle) {
    auto* e = new CDBException(nRetCode);
    std::string errors, states;
    for (SQLSMALLINT i = 1; handle; ++i) {
        SQLCHAR state[6] = {}, message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length))) break;
        std::string text = reinterpret_cast<char*>(message);
        size_t origin = text.rfind(']');  // "[vendor][component]": where the message comes from
        errors += (origin == std::string::npos ? text : text.substr(origin + 1)) + "\n";
        states += "State:" + std::string(reinterpret_cast<char*>(state)) + ",Native:" + std::to_string(native) + ",Origin:" +
                  (origin == std::string::npos ? std::string() : text.substr(0, origin + 1)) + "\n";
    }
    if (errors.empty()) errors = "ODBC call failed\n";
    e->m_strError = CString(errors.c_str());
    e->m_strStateNativeOrigin = CString(states.c_str());
    return e;
}

bool StateIs(SQLSMALLINT type, SQLHANDLE handle, const char* state) {
    SQLCHAR s[6] = {}, message[8];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    return SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, s, &native, message, sizeof message, &length)) &&
           std::string(reinterpret_cast<char*>(s)) == state;
}

// One column of the current row as text in the system code page; false when the driver refuses.
bool ReadColumn(SQLHSTMT stmt, SQLUSMALLINT column, CString& value) {
    std::u16string wide;
    SQLWCHAR buffer[2048];
    while (wide.size() < kMaxValueChars) {
        SQLLEN indicator = 0;
        SQLRETURN r = SQLGetData(stmt, column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
        if (r == SQL_NO_DATA || indicator == SQL_NULL_DATA) break;
        if (!SQL_SUCCEEDED(r)) return false;
        size_t units = sizeof buffer / sizeof buffer[0] - 1;
        if (indicator >= 0) units = std::min(units, size_t(indicator) / sizeof(SQLWCHAR));
        for (size_t i = 0; i < units && wide.size() < kMaxValueChars; ++i) wide += char16_t(buffer[i]);
        if (r == SQL_SUCCESS) break;
        if (!StateIs(SQL_HANDLE_STMT, stmt, "01004")) break;  // a warning other than "more to come"
    }
    value = CString(MxWideToAnsi(wide));
    return true;
}

bool IsStatement(const std::string& sql) {
    size_t p = sql.find_first_not_of(" \t\r\n");
    return p != std::string::npos && (sql[p] == '{' || strncasecmp(sql.c_str() + p, "SELECT", 6) == 0 ||
                                      strncasecmp(sql.c_str() + p, "CALL", 4) == 0);
}

}  // namespace

void AfxThrowDBException(RETCODE nRetCode, CDatabase* pdb, HSTMT hstmt) {
    if (hstmt) throw Diagnostics(nRetCode, SQL_HANDLE_STMT, hstmt);
    if (pdb && pdb->m_hdbc) throw Diagnostics(nRetCode, SQL_HANDLE_DBC, pdb->m_hdbc);
    throw Diagnostics(nRetCode, SQL_HANDLE_ENV, g_env);
}

// ---- CDatabase ----

CDatabase::CDatabase() : m_hdbc(nullptr) {}

CDatabase::~CDatabase() { Close(); }

BOOL CDatabase::OpenEx(LPCSTR lpszConnectString, DWORD dwOptions) {
    Close();
    m_strConnect = lpszConnectString ? lpszConnectString : "";
    SQLHENV env = Environment();
    if (env == SQL_NULL_HENV) AfxThrowDBException(SQL_ERROR, nullptr, nullptr);
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLRETURN r = SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(r)) AfxThrowDBException(r, nullptr, nullptr);
    if (dwOptions & openReadOnly) SQLSetConnectAttr(dbc, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
    std::string text = HostConnect(m_strConnect);
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    r = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(&text[0]), SQLSMALLINT(text.size()), out, sizeof out, &outLength,
                         SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(r)) {
        CDBException* e = Diagnostics(r, SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        throw e;
    }
    m_hdbc = dbc;
    return TRUE;
}

void CDatabase::Close() {
    if (!m_hdbc) return;
    SQLDisconnect(m_hdbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_hdbc);
    m_hdbc = nullptr;
}

// ---- CRecordset ----

CRecordset::CRecordset(CDatabase* pDatabase)
    : m_nFields(0), m_nDefaultType(snapshot), m_pDatabase(pDatabase), m_hstmt(nullptr), m_bOwnDatabase(false), m_bEOF(TRUE),
      m_bBOF(TRUE) {}

CRecordset::~CRecordset() {
    Close();
    if (m_bOwnDatabase) delete m_pDatabase;
}

BOOL CRecordset::Check(RETCODE nRetCode) const { return SQL_SUCCEEDED(nRetCode); }

BOOL CRecordset::Open(UINT, LPCSTR lpszSQL, DWORD) {
    Close();
    if (!m_pDatabase) {
        m_pDatabase = new CDatabase();
        m_bOwnDatabase = true;
    }
    if (!m_pDatabase->IsOpen()) m_pDatabase->OpenEx(GetDefaultConnect(), CDatabase::noOdbcDialog);
    m_bound.clear();
    if (m_nFields > 0) {
        CFieldExchange names(this, CFieldExchange::Name);
        DoFieldExchange(&names);
    }
    std::string sql = lpszSQL ? lpszSQL : GetDefaultSQL().str();
    if (!IsStatement(sql)) {
        std::string columns;
        for (const std::string& name : m_bound) columns += (columns.empty() ? "" : ",") + name;
        sql = "SELECT " + (columns.empty() ? std::string("*") : columns) + " FROM " + sql;
    }
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLRETURN r = SQLAllocHandle(SQL_HANDLE_STMT, m_pDatabase->m_hdbc, &stmt);
    if (!Check(r)) AfxThrowDBException(r, m_pDatabase, nullptr);
    m_hstmt = stmt;
    r = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(&sql[0]), SQLINTEGER(sql.size()));
    if (!Check(r)) {
        CDBException* e = Diagnostics(r, SQL_HANDLE_STMT, stmt);
        Close();
        throw e;
    }
    SQLSMALLINT count = 0;
    SQLNumResultCols(stmt, &count);
    m_names.clear();
    for (SQLUSMALLINT i = 1; i <= SQLUSMALLINT(count > 0 ? count : 0); ++i) {
        SQLCHAR name[256] = {};
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeCol(stmt, i, name, sizeof name, &length, &type, &size, &digits, &nullable);
        m_names.emplace_back(reinterpret_cast<char*>(name));
    }
    m_bBOF = FALSE;
    Fetch();
    m_bBOF = m_bEOF;
    return TRUE;
}

void CRecordset::Close() {
    if (m_hstmt) {
        SQLFreeHandle(SQL_HANDLE_STMT, m_hstmt);
        m_hstmt = nullptr;
    }
    m_bEOF = m_bBOF = TRUE;
    m_row.clear();
}

void CRecordset::Fetch() {
    SQLRETURN r = SQLFetch(m_hstmt);
    m_row.clear();
    if (r == SQL_NO_DATA) {
        m_bEOF = TRUE;
        return;
    }
    if (!Check(r)) AfxThrowDBException(r, m_pDatabase, m_hstmt);
    m_bEOF = FALSE;
    if (m_nFields > 0) {
        CFieldExchange fetch(this, CFieldExchange::Fetch);
        DoFieldExchange(&fetch);
    }
}

void CRecordset::MoveNext() {
    if (!m_hstmt || m_bEOF) throw new CDBException(SQL_ERROR);
    Fetch();
}

// Columns are read in order as they are asked for (drivers need not give them in any order), and kept.
const CString& CRecordset::Column(size_t nIndex) {
    while (m_row.size() <= nIndex) {
        CString value;
        if (!ReadColumn(m_hstmt, SQLUSMALLINT(m_row.size() + 1), value)) AfxThrowDBException(SQL_ERROR, m_pDatabase, m_hstmt);
        m_row.push_back(value);
    }
    return m_row[nIndex];
}

void CRecordset::GetFieldValue(short nIndex, CString& strValue) {
    if (!m_hstmt || m_bEOF || nIndex < 0 || size_t(nIndex) >= m_names.size()) throw new CDBException(SQL_ERROR);
    strValue = Column(size_t(nIndex));
}

void CRecordset::GetFieldValue(LPCSTR lpszName, CString& strValue) {
    for (size_t i = 0; lpszName && i < m_names.size(); ++i) {
        if (strcasecmp(m_names[i].c_str(), lpszName) == 0) return GetFieldValue(short(i), strValue);
    }
    auto* e = new CDBException(SQL_ERROR);
    e->m_strError = CString((std::string("Field not found: ") + (lpszName ? lpszName : "")).c_str());
    throw e;
}

// ---- field exchange ----

// The value of the next bound column, or null while names are collected.
const CString* CRecordset::Exchange(CFieldExchange* pFX, LPCSTR szName) {
    if (pFX->m_nFieldType != CFieldExchange::outputColumn) return nullptr;
    int column = pFX->m_nColumn++;
    CRecordset* rs = pFX->m_prs;
    if (pFX->m_nOperation == CFieldExchange::Name) {
        rs->m_bound.emplace_back(szName);
        return nullptr;
    }
    return size_t(column) < rs->m_names.size() ? &rs->Column(size_t(column)) : nullptr;
}

void RFX_Long(CFieldExchange* pFX, LPCSTR szName, long& value) {
    if (const CString* text = CRecordset::Exchange(pFX, szName)) value = std::strtol(*text, nullptr, 10);
}

void RFX_Text(CFieldExchange* pFX, LPCSTR szName, CString& value, int nMaxLength, int, short) {
    const CString* text = CRecordset::Exchange(pFX, szName);
    if (!text) return;
    value = *text;
    if (nMaxLength > 0 && value.GetLength() > nMaxLength) value = value.Left(nMaxLength);
}
