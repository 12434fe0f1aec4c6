// The ODBC classes through the real driver manager, with the SQLite ODBC driver registered under the
// Access driver's name in the emulated machine's odbcinst.ini.
#include <sqlite3.h>

#include <string>

#include "platform/database.h"
#include "support/TempMachine.h"

namespace {

const char kConnect[] = "DRIVER={MICROSOFT ACCESS DRIVER (*.mdb)};DSN='';UID=sa;PWD='';DBQ=C:\\db\\\xB8\xE8.mdb";  // 歌.mdb

// Whether fn throws the MFC database exception (which the catcher deletes).
template <class F>
bool ThrowsDbException(F fn) {
    try {
        fn();
    } catch (CDBException* e) {
        e->Delete();
        return true;
    }
    return false;
}

class DatabaseTest : public mxtest::MachineTest {
protected:
    void SetUp() override {
        machine.RegisterOdbcDriver("MICROSOFT ACCESS DRIVER (*.mdb)", MX_SQLITE_ODBC);
        mxtest::RunCommand("mkdir -p " + machine.HostC("db"));
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open(machine.HostC("db/歌.mdb").c_str(), &db));
        ASSERT_EQ(SQLITE_OK, sqlite3_exec(db,
                                          "CREATE TABLE AudioIndex(Idx INTEGER, FileName TEXT, Song TEXT, Opinion INTEGER);"
                                          "INSERT INTO AudioIndex VALUES(1, 'C:\\a.mp3', '月亮', 5);"
                                          "INSERT INTO AudioIndex VALUES(2, 'C:\\b.mp3', NULL, NULL);",
                                          nullptr, nullptr, nullptr));
        sqlite3_close(db);
    }
};

// A recordset with bound members, as a subclass declares them.
class CIndexSet : public CRecordset {
public:
    explicit CIndexSet(CDatabase* pdb) : CRecordset(pdb) { m_nFields = 3; }
    long m_Idx = -1, m_Opinion = -1;
    CString m_Song;
    CString GetDefaultSQL() override { return "[AudioIndex]"; }
    void DoFieldExchange(CFieldExchange* pFX) override {
        pFX->SetFieldType(CFieldExchange::outputColumn);
        RFX_Long(pFX, "[Idx]", m_Idx);
        RFX_Text(pFX, "[Song]", m_Song, 65536);
        RFX_Long(pFX, "[Opinion]", m_Opinion);
    }
};

TEST_F(DatabaseTest, RowsReadByNameAndByBoundMembersInTheSystemCodePage) {
    CDatabase db;
    ASSERT_TRUE(db.OpenEx(kConnect, CDatabase::noOdbcDialog));
    CRecordset rs(&db);
    ASSERT_TRUE(rs.Open(CRecordset::forwardOnly, "SELECT * FROM AudioIndex", CRecordset::readOnly));
    CString value;
    ASSERT_FALSE(rs.IsEOF());
    rs.GetFieldValue("filename", value);
    EXPECT_STREQ("C:\\a.mp3", value);
    rs.GetFieldValue("Song", value);
    EXPECT_EQ(mxtest::Gbk("月亮"), value);
    rs.GetFieldValue("Opinion", value);
    EXPECT_STREQ("5", value);
    rs.MoveNext();
    rs.GetFieldValue("Song", value);
    EXPECT_STREQ("", value);  // NULL
    EXPECT_TRUE(ThrowsDbException([&] { rs.GetFieldValue("NoSuchField", value); }));
    rs.MoveNext();
    EXPECT_TRUE(rs.IsEOF());
    rs.Close();

    CIndexSet bound(&db);
    ASSERT_TRUE(bound.Open());
    EXPECT_EQ(1, bound.m_Idx);
    EXPECT_EQ(mxtest::Gbk("月亮"), bound.m_Song);
    EXPECT_EQ(5, bound.m_Opinion);
    bound.MoveNext();
    EXPECT_EQ(2, bound.m_Idx);
    EXPECT_EQ(0, bound.m_Opinion);
}

TEST_F(DatabaseTest, FailuresAreDatabaseExceptionsWithTheDriversReason) {
    CDatabase db;
    try {
        db.OpenEx("DRIVER={No Such Driver};DBQ=C:\\x.mdb", CDatabase::noOdbcDialog);
        ADD_FAILURE() << "opened";
    } catch (CDBException* e) {
        EXPECT_NE(std::string::npos, e->m_strError.str().find("No Such Driver")) << e->m_strError.str();
        EXPECT_EQ(0u, e->m_strStateNativeOrigin.str().find("State:")) << e->m_strStateNativeOrigin.str();
        e->Delete();
    }
    EXPECT_FALSE(db.IsOpen());
    ASSERT_TRUE(db.OpenEx(kConnect, CDatabase::noOdbcDialog));
    CRecordset rs(&db);
    EXPECT_TRUE(ThrowsDbException([&] { rs.Open(CRecordset::forwardOnly, "SELECT * FROM NoSuchTable", CRecordset::readOnly); }));
    EXPECT_FALSE(rs.IsOpen());
}

}  // namespace
