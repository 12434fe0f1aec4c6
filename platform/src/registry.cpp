// The registry over one SQLite database: keys form a tree of rows, values hang off their key.
#include "platform/registry.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "config.h"
#include "platform/text.h"

namespace {

struct KeyHandle {
    sqlite3_int64 id;
    REGSAM sam;
};

std::mutex g_lock;  // guards the connection and the handle set
sqlite3* g_db = nullptr;
std::set<KeyHandle*> g_handles;

// Predefined roots are rows 1 to 4 with parent 0.
sqlite3_int64 RootId(HKEY h) {
    auto v = reinterpret_cast<ULONG_PTR>(h);
    return v >= 0x80000000u && v <= 0x80000003u ? sqlite3_int64(v - 0x80000000u + 1) : 0;
}

const char kSchema[] =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=NORMAL;"
    "CREATE TABLE IF NOT EXISTS reg_key(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, name BLOB NOT NULL,"
    " fold BLOB NOT NULL, UNIQUE(parent, fold));"
    "CREATE TABLE IF NOT EXISTS reg_value(key INTEGER NOT NULL, name BLOB NOT NULL, fold BLOB NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, fold)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO reg_key VALUES(1, 0, 'HKEY_CLASSES_ROOT', 'hkey_classes_root'),"
    " (2, 0, 'HKEY_CURRENT_USER', 'hkey_current_user'), (3, 0, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine'),"
    " (4, 0, 'HKEY_USERS', 'hkey_users');";

void MakeParentDirs(const std::string& file) {
    for (size_t i = 1; (i = file.find('/', i)) != std::string::npos; ++i) mkdir(file.substr(0, i).c_str(), 0777);
}

// The connection, opened on first use; null when the database cannot be opened.
sqlite3* Db() {
    if (g_db) return g_db;
    const std::string& path = mxp::config().registry;
    MakeParentDirs(path);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 10000);
    if (sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    g_db = db;
    return g_db;
}

class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_s, nullptr); }
    ~Stmt() { sqlite3_finalize(m_s); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    bool ok() const { return m_s != nullptr; }
    Stmt& Bind(int i, sqlite3_int64 v) {
        sqlite3_bind_int64(m_s, i, v);
        return *this;
    }
    Stmt& Bind(int i, const std::string& v) {
        sqlite3_bind_blob(m_s, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Bind(int i, const void* p, DWORD n) {
        sqlite3_bind_blob(m_s, i, n ? p : "", int(n), SQLITE_TRANSIENT);
        return *this;
    }
    int Step() { return m_s ? sqlite3_step(m_s) : SQLITE_ERROR; }
    sqlite3_int64 Int(int i) { return sqlite3_column_int64(m_s, i); }
    std::string Blob(int i) {
        const void* p = sqlite3_column_blob(m_s, i);
        return std::string(static_cast<const char*>(p ? p : ""), size_t(sqlite3_column_bytes(m_s, i)));
    }

private:
    sqlite3_stmt* m_s = nullptr;
};

// Begins an immediate transaction and rolls back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : m_db(db) { m_ok = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK; }
    ~Transaction() {
        if (m_ok && !m_done) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool ok() const { return m_ok; }
    bool Commit() {
        m_done = true;
        return sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    sqlite3* m_db;
    bool m_ok = false;
    bool m_done = false;
};

std::string Fold(const std::string& name) {
    CString s(name);
    s.MakeLower();
    return s.str();
}

std::vector<std::string> SplitKeyPath(LPCSTR path) {
    std::vector<std::string> parts;
    std::string cur;
    for (const char* p = path ? path : ""; *p;) {
        const char* next = CharNextA(p);
        if (next - p == 1 && *p == '\\') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur.append(p, size_t(next - p));
        }
        p = next;
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

bool KeyExists(sqlite3* db, sqlite3_int64 id) {
    Stmt s(db, "SELECT 1 FROM reg_key WHERE id=?");
    return s.Bind(1, id).Step() == SQLITE_ROW;
}

sqlite3_int64 ChildId(sqlite3* db, sqlite3_int64 parent, const std::string& name) {
    Stmt s(db, "SELECT id FROM reg_key WHERE parent=? AND fold=?");
    return s.Bind(1, parent).Bind(2, Fold(name)).Step() == SQLITE_ROW ? s.Int(0) : 0;
}

// The key behind a handle whose access rights include `need`; the Windows error otherwise.
LONG Lookup(HKEY h, REGSAM need, sqlite3*& db, sqlite3_int64& id) {
    db = Db();
    if (!db) return ERROR_ACCESS_DENIED;
    REGSAM granted = KEY_ALL_ACCESS;
    if (!(id = RootId(h))) {
        auto it = g_handles.find(reinterpret_cast<KeyHandle*>(h));
        if (it == g_handles.end()) return ERROR_INVALID_HANDLE;
        id = (*it)->id;
        granted = (*it)->sam;
        if (!KeyExists(db, id)) return ERROR_KEY_DELETED;
    }
    return (granted & need & 0xFFFF) == (need & 0xFFFF) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// One registry call: holds the lock for its whole length and finds the key behind the handle.
struct KeyCall {
    KeyCall(HKEY h, REGSAM need) : lock(g_lock) { error = Lookup(h, need, db, id); }
    std::lock_guard<std::mutex> lock;
    sqlite3* db = nullptr;
    sqlite3_int64 id = 0;
    LONG error = ERROR_SUCCESS;
};

// Follows a subkey path down from id; false when a part is missing.
bool Descend(sqlite3* db, sqlite3_int64& id, LPCSTR subKey) {
    for (const std::string& part : SplitKeyPath(subKey)) {
        if (!(id = ChildId(db, id, part))) return false;
    }
    return true;
}

// Hands out value data with Win32's size rules: the size alone without a buffer, ERROR_MORE_DATA (and
// the size) for a buffer too small.
LONG CopyData(const std::string& data, LPBYTE lpData, LPDWORD lpcbData) {
    if (!lpcbData) return ERROR_SUCCESS;
    DWORD room = *lpcbData;
    *lpcbData = DWORD(data.size());
    if (!lpData) return ERROR_SUCCESS;
    if (room < data.size()) return ERROR_MORE_DATA;
    std::memcpy(lpData, data.data(), data.size());
    return ERROR_SUCCESS;
}

LONG CopyName(const std::string& name, LPSTR out, LPDWORD cch) {
    if (!out || !cch) return ERROR_INVALID_PARAMETER;
    if (*cch < name.size() + 1) return ERROR_MORE_DATA;
    std::memcpy(out, name.c_str(), name.size() + 1);
    *cch = DWORD(name.size());
    return ERROR_SUCCESS;
}

HKEY NewHandle(sqlite3_int64 id, REGSAM sam) {
    auto* k = new KeyHandle{id, sam};
    g_handles.insert(k);
    return reinterpret_cast<HKEY>(k);
}

}  // namespace

void mxp::RegistryCloseDatabase() {
    std::lock_guard<std::mutex> lock(g_lock);
    if (g_db) sqlite3_close(g_db);
    g_db = nullptr;
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, 0);
    if (call.error) return call.error;
    sqlite3* db = call.db;
    sqlite3_int64 id = call.id;
    if (!Descend(db, id, lpSubKey)) return ERROR_FILE_NOT_FOUND;
    *phkResult = NewHandle(id, samDesired);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired, void*, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, 0);
    if (call.error) return call.error;
    sqlite3* db = call.db;
    sqlite3_int64 id = call.id;
    Transaction tx(db);
    if (!tx.ok()) return ERROR_ACCESS_DENIED;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    for (const std::string& part : SplitKeyPath(lpSubKey)) {
        sqlite3_int64 child = ChildId(db, id, part);
        if (!child) {
            Stmt ins(db, "INSERT INTO reg_key(parent, name, fold) VALUES(?, ?, ?)");
            if (ins.Bind(1, id).Bind(2, part).Bind(3, Fold(part)).Step() != SQLITE_DONE) return ERROR_ACCESS_DENIED;
            child = sqlite3_last_insert_rowid(db);
            disposition = REG_CREATED_NEW_KEY;
        }
        id = child;
    }
    if (!tx.Commit()) return ERROR_ACCESS_DENIED;
    *phkResult = NewHandle(id, samDesired);
    if (lpdwDisposition) *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, KEY_QUERY_VALUE);
    if (call.error) return call.error;
    sqlite3* db = call.db;
    sqlite3_int64 id = call.id;
    Stmt s(db, "SELECT type, data FROM reg_value WHERE key=? AND fold=?");
    if (s.Bind(1, id).Bind(2, Fold(lpValueName ? lpValueName : "")).Step() != SQLITE_ROW) return ERROR_FILE_NOT_FOUND;
    if (lpType) *lpType = DWORD(s.Int(0));
    return CopyData(s.Blob(1), lpData, lpcbData);
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, KEY_SET_VALUE);
    if (call.error) return call.error;
    sqlite3* db = call.db;
    sqlite3_int64 id = call.id;
    std::string name = lpValueName ? lpValueName : "";
    // The first spelling of a value's name is kept, as Windows does.
    Stmt s(db, "INSERT INTO reg_value(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
               " ON CONFLICT(key, fold) DO UPDATE SET type=?4, data=?5");
    s.Bind(1, id).Bind(2, name).Bind(3, Fold(name)).Bind(4, sqlite3_int64(dwType)).Bind(5, lpData, cbData);
    return s.Step() == SQLITE_DONE ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    KeyCall call(hKey, KEY_SET_VALUE);
    if (call.error) return call.error;
    sqlite3* db = call.db;
    sqlite3_int64 id = call.id;
    Stmt s(db, "DELETE FROM reg_value WHERE key=? AND fold=?");
    if (s.Bind(1, id).Bind(2, Fold(lpValueName ? lpValueName : "")).Step() != SQLITE_DONE) return ERROR_ACCESS_DENIED;
    return sqlite3_changes(db) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, 0);
    if (call.error) return call.error;
    sqlite3* db = call.db;
    sqlite3_int64 id = call.id;
    Transaction tx(db);
    if (!tx.ok()) return ERROR_ACCESS_DENIED;
    if (!Descend(db, id, lpSubKey)) return ERROR_FILE_NOT_FOUND;
    if (id <= 4) return ERROR_ACCESS_DENIED;
    Stmt children(db, "SELECT 1 FROM reg_key WHERE parent=?");
    if (children.Bind(1, id).Step() == SQLITE_ROW) return ERROR_ACCESS_DENIED;
    Stmt delValues(db, "DELETE FROM reg_value WHERE key=?");
    Stmt delKey(db, "DELETE FROM reg_key WHERE id=?");
    if (delValues.Bind(1, id).Step() != SQLITE_DONE || delKey.Bind(1, id).Step() != SQLITE_DONE) return ERROR_ACCESS_DENIED;
    return tx.Commit() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegCloseKey(HKEY hKey) {
    if (RootId(hKey)) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = g_handles.find(reinterpret_cast<KeyHandle*>(hKey));
    if (it == g_handles.end()) return ERROR_INVALID_HANDLE;
    delete *it;
    g_handles.erase(it);
    return ERROR_SUCCESS;
}


LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR, LPDWORD lpcchClass, FILETIME*) {
    KeyCall call(hKey, KEY_ENUMERATE_SUB_KEYS);
    if (call.error) return call.error;
    sqlite3* db = call.db;
    sqlite3_int64 id = call.id;
    Stmt s(db, "SELECT name FROM reg_key WHERE parent=? ORDER BY fold LIMIT 1 OFFSET ?");
    if (s.Bind(1, id).Bind(2, sqlite3_int64(dwIndex)).Step() != SQLITE_ROW) return ERROR_NO_MORE_ITEMS;
    if (lpcchClass) *lpcchClass = 0;
    return CopyName(s.Blob(0), lpName, lpcchName);
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                   LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, KEY_QUERY_VALUE);
    if (call.error) return call.error;
    sqlite3* db = call.db;
    sqlite3_int64 id = call.id;
    Stmt s(db, "SELECT name, type, data FROM reg_value WHERE key=? ORDER BY fold LIMIT 1 OFFSET ?");
    if (s.Bind(1, id).Bind(2, sqlite3_int64(dwIndex)).Step() != SQLITE_ROW) return ERROR_NO_MORE_ITEMS;
    LONG e = CopyName(s.Blob(0), lpValueName, lpcchValueName);
    if (e) return e;
    if (lpType) *lpType = DWORD(s.Int(1));
    return CopyData(s.Blob(2), lpData, lpcbData);
}
