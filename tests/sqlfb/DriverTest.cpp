// The Firebird driver against a real embedded database created per test.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "DriverHarness.h"
#include "TestStore.h"
#include "base/ValueForms.h"
#include "sqlfb/FbValues.h"

namespace tarnwick::testing {
namespace {

using namespace tarnwick::sqlfb;

constexpr const char* kSchema = R"(
CREATE TABLE ALLTYPES (
  ID        INTEGER NOT NULL PRIMARY KEY,
  C_CHAR    CHAR(5),
  C_VARCHAR VARCHAR(10),
  C_SMALL   SMALLINT,
  C_INT     INTEGER,
  C_BIG     BIGINT,
  C_NUM92   NUMERIC(9,2),
  C_NUM152  NUMERIC(15,2),
  C_NUM42   NUMERIC(4,2),
  C_DEC185  DECIMAL(18,5),
  C_FLOAT   FLOAT,
  C_DOUBLE  DOUBLE PRECISION,
  C_DATE    DATE,
  C_TIME    TIME,
  C_TS      TIMESTAMP,
  C_BOOL    BOOLEAN,
  C_MEMO    BLOB SUB_TYPE TEXT,
  C_BIN     BLOB SUB_TYPE BINARY
);
CREATE TABLE IDX (
  A VARCHAR(5) NOT NULL,
  B INTEGER NOT NULL,
  C INTEGER,
  D VARCHAR(5),
  CONSTRAINT PK_IDX PRIMARY KEY (A, B)
);
CREATE UNIQUE INDEX UX_IDX_C ON IDX (C);
CREATE DESCENDING INDEX DX_IDX_D ON IDX (D);
CREATE TABLE NOKEY (N INTEGER, T VARCHAR(10));
CREATE TABLE TIMES (ID INTEGER NOT NULL PRIMARY KEY, TS TIMESTAMP, T TIME, N INTEGER);
CREATE TABLE RAWTEXT (N INTEGER, T VARCHAR(4) CHARACTER SET NONE, O CHAR(4) CHARACTER SET OCTETS);
CREATE TABLE LATIN (T VARCHAR(10) CHARACTER SET WIN1252, F CHAR(3) CHARACTER SET WIN1252,
                    M BLOB SUB_TYPE TEXT CHARACTER SET WIN1252);
)";

class DriverTest : public ::testing::Test {
protected:
    DriverTest() : store_(kSchema), conn_(Connect(store_.Database(), TestStore::kPassword)) {}

    TestStore store_;
    std::unique_ptr<ISQLConnection> conn_;
};

// Binds one parameter of the given logical type from raw bytes.
void Bind(ISQLCommand& command, std::uint16_t position, std::uint16_t logType, const void* data, std::size_t size,
          std::uint16_t subType = 0) {
    ASSERT_EQ(command.SetParameter(position, 0, kParamInput, logType, subType, 0, 0, static_cast<std::uint32_t>(size),
                                   data, data == nullptr ? 1 : 0),
              0);
}

void BindText(ISQLCommand& command, std::uint16_t position, const std::string& text) {
    Bind(command, position, kLogString, text.c_str(), text.size() + 1);
}

void BindBcd(ISQLCommand& command, std::uint16_t position, const char* decimal) {
    const TBcd bcd = BcdFromString(decimal).value();
    Bind(command, position, kLogBcd, &bcd, sizeof bcd);
}

std::string ReadText(ISQLCursor& cursor, std::uint16_t column, std::uint32_t size = 256) {
    std::vector<char> buffer(size, 'X');
    int isNull = 0;
    EXPECT_EQ(cursor.GetString(column, buffer.data(), size, &isNull), 0) << ErrorOf(cursor);
    return isNull ? "<null>" : std::string(buffer.data());
}

std::string ReadBcd(ISQLCursor& cursor, std::uint16_t column) {
    TBcd bcd;
    int isNull = 0;
    EXPECT_EQ(cursor.GetBcd(column, &bcd, &isNull), 0) << ErrorOf(cursor);
    return isNull ? "<null>" : BcdToString(bcd);
}

std::vector<char> ReadBlob(ISQLCursor& cursor, std::uint16_t column, bool* isNullOut = nullptr) {
    std::uint32_t size = 0;
    int isNull = 0;
    EXPECT_EQ(cursor.GetBlobSize(column, &size, &isNull), 0) << ErrorOf(cursor);
    std::vector<char> data(size);
    if (size > 0) {
        EXPECT_EQ(cursor.GetBlob(column, data.data(), &isNull, size), 0) << ErrorOf(cursor);
    }
    if (isNullOut != nullptr) *isNullOut = isNull != 0;
    return data;
}

TEST_F(DriverTest, DescribesEveryColumnTypeForTheDataLayer) {
    struct Expected {
        const char* name;
        std::uint16_t logType, subType, precision;
        std::int16_t scale;
        std::uint32_t length;
        int nullable;
    };
    // Text sizes count bytes of the UTF8 connection (4 per character); every 64-bit integer
    // comes as BCD, never as a 64-bit logical type that would read as null. Exact numerics give
    // the precision of their storage (SMALLINT 5, INTEGER 10, BIGINT 19), which holds every
    // value the server keeps, not the declared one.
    const Expected expected[] = {
        {"ID", kLogInt32, 0, 10, 0, 4, 0},          {"C_CHAR", kLogString, kSubFixed, 20, 0, 20, 1},
        {"C_VARCHAR", kLogString, 0, 40, 0, 40, 1}, {"C_SMALL", kLogInt16, 0, 5, 0, 2, 1},
        {"C_INT", kLogInt32, 0, 10, 0, 4, 1},       {"C_BIG", kLogBcd, 0, 19, 0, 34, 1},
        {"C_NUM92", kLogBcd, 0, 10, 2, 34, 1},      {"C_NUM152", kLogBcd, 0, 19, 2, 34, 1},
        {"C_NUM42", kLogBcd, 0, 5, 2, 34, 1},       {"C_DEC185", kLogBcd, 0, 19, 5, 34, 1},
        {"C_FLOAT", kLogFloat, 0, 15, 0, 8, 1},     {"C_DOUBLE", kLogFloat, 0, 15, 0, 8, 1},
        {"C_DATE", kLogDate, 0, 0, 0, 4, 1},        {"C_TIME", kLogTime, 0, 0, 0, 4, 1},
        {"C_TS", kLogTimeStamp, 0, 0, 0, 16, 1},    {"C_BOOL", kLogBoolean, 0, 0, 0, 2, 1},
        {"C_MEMO", kLogBlob, kSubMemo, 0, 0, 0, 1}, {"C_BIN", kLogBlob, kSubBinary, 0, 0, 0, 1},
    };
    Query q = Open(*conn_, "SELECT * FROM ALLTYPES");
    std::uint16_t count = 0;
    ASSERT_EQ(q.cursor->GetColumnCount(&count), 0);
    ASSERT_EQ(count, std::size(expected));
    for (std::uint16_t i = 1; i <= count; ++i) {
        const Expected& e = expected[i - 1];
        char name[32];
        std::uint16_t logType = 99, subType = 99, precision = 99;
        std::int16_t scale = 99;
        std::uint32_t length = 99;
        int nullable = 99;
        ASSERT_EQ(q.cursor->GetColumnName(i, name, sizeof name), 0);
        ASSERT_EQ(q.cursor->GetColumnType(i, &logType, &subType), 0);
        ASSERT_EQ(q.cursor->GetColumnPrecision(i, &precision), 0);
        ASSERT_EQ(q.cursor->GetColumnScale(i, &scale), 0);
        ASSERT_EQ(q.cursor->GetColumnLength(i, &length), 0);
        ASSERT_EQ(q.cursor->IsNullable(i, &nullable), 0);
        SCOPED_TRACE(e.name);
        EXPECT_STREQ(name, e.name);
        EXPECT_EQ(logType, e.logType);
        EXPECT_EQ(subType, e.subType);
        EXPECT_EQ(precision, e.precision);
        EXPECT_EQ(scale, e.scale);
        EXPECT_EQ(length, e.length);
        EXPECT_EQ(nullable, e.nullable);
    }
    EXPECT_EQ(q.cursor->GetColumnType(count + 1, nullptr, nullptr), kSQLOutOfRange);
}

TEST_F(DriverTest, BoundValuesOfEveryTypeComeBackAsWritten) {
    auto insert = Command(*conn_);
    ASSERT_EQ(insert->Prepare("INSERT INTO ALLTYPES VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", 18),
              0)
        << ErrorOf(*insert);
    const std::int32_t id = 1;
    const std::int16_t small = -7;
    const std::int32_t integer = 123456;
    const double floating = 1.5, dbl = 3.25;
    const std::int32_t day = DayNumberFromCivil(2024, 2, 29);
    const std::int32_t ms = ((13 * 60 + 45) * 60 + 30) * 1000 + 250;
    TSQLTimeStamp ts;
    ts.Year = 1999; ts.Month = 12; ts.Day = 31; ts.Hour = 23; ts.Minute = 59; ts.Second = 59; ts.Fractions = 999;
    const std::int16_t yes = 1;
    const std::string memo = "長い memo text";
    std::vector<char> binary(256);
    for (int i = 0; i < 256; ++i) binary[static_cast<std::size_t>(i)] = static_cast<char>(i);

    Bind(*insert, 1, kLogInt32, &id, 4);
    BindText(*insert, 2, "ab");
    BindText(*insert, 3, "héllo 世界");
    Bind(*insert, 4, kLogInt16, &small, 2);
    Bind(*insert, 5, kLogInt32, &integer, 4);
    BindBcd(*insert, 6, "9223372036854775807");
    BindBcd(*insert, 7, "1234567.89");
    BindBcd(*insert, 8, "-1234567890123.45");
    BindBcd(*insert, 9, "-0.05");
    BindBcd(*insert, 10, "1234567890123.12345");
    Bind(*insert, 11, kLogFloat, &floating, 8);
    Bind(*insert, 12, kLogFloat, &dbl, 8);
    Bind(*insert, 13, kLogDate, &day, 4);
    Bind(*insert, 14, kLogTime, &ms, 4);
    Bind(*insert, 15, kLogTimeStamp, &ts, sizeof ts);
    Bind(*insert, 16, kLogBoolean, &yes, 2);
    Bind(*insert, 17, kLogBlob, memo.data(), memo.size(), kSubMemo);
    Bind(*insert, 18, kLogBlob, binary.data(), binary.size(), kSubBinary);
    ISQLCursor* none = nullptr;
    ASSERT_EQ(insert->Execute(&none), 0) << ErrorOf(*insert);
    EXPECT_EQ(none, nullptr);
    std::uint32_t rows = 0;
    insert->GetRowsAffected(&rows);
    EXPECT_EQ(rows, 1u);

    Query q = Open(*conn_, "SELECT * FROM ALLTYPES");
    ASSERT_EQ(q.cursor->Next(), 0);
    ISQLCursor& c = *q.cursor;
    int isNull = 0;
    std::int32_t i32 = 0;
    std::int16_t i16 = 0;
    double d = 0;
    EXPECT_EQ(c.GetLong(1, &i32, &isNull), 0);
    EXPECT_EQ(i32, 1);
    EXPECT_EQ(ReadText(c, 2), "ab   ");  // fixed CHAR keeps its blanks, 5 characters
    EXPECT_EQ(ReadText(c, 3), "héllo 世界");
    EXPECT_EQ(c.GetShort(4, &i16, &isNull), 0);
    EXPECT_EQ(i16, -7);
    EXPECT_EQ(c.GetLong(5, &i32, &isNull), 0);
    EXPECT_EQ(i32, 123456);
    EXPECT_EQ(ReadBcd(c, 6), "9223372036854775807");
    EXPECT_EQ(ReadBcd(c, 7), "1234567.89");
    EXPECT_EQ(ReadBcd(c, 8), "-1234567890123.45");
    EXPECT_EQ(ReadBcd(c, 9), "-0.05");
    EXPECT_EQ(ReadBcd(c, 10), "1234567890123.12345");
    EXPECT_EQ(c.GetDouble(11, &d, &isNull), 0);
    EXPECT_EQ(d, 1.5);
    EXPECT_EQ(c.GetDouble(12, &d, &isNull), 0);
    EXPECT_EQ(d, 3.25);
    EXPECT_EQ(c.GetDate(13, &i32, &isNull), 0);
    EXPECT_EQ(i32, day);
    EXPECT_EQ(c.GetTime(14, &i32, &isNull), 0);
    EXPECT_EQ(i32, ms);
    TSQLTimeStamp back;
    EXPECT_EQ(c.GetTimeStamp(15, &back, &isNull), 0);
    EXPECT_EQ(back, ts);
    EXPECT_EQ(c.GetShort(16, &i16, &isNull), 0);
    EXPECT_EQ(i16, 1);
    const auto memoBack = ReadBlob(c, 17);
    EXPECT_EQ(std::string(memoBack.begin(), memoBack.end()), memo);
    EXPECT_EQ(ReadBlob(c, 18), binary);
    EXPECT_EQ(c.Next(), kSQLEndOfData);
    EXPECT_EQ(c.Next(), kSQLEndOfData);
}

TEST_F(DriverTest, NullsAndBigintLimitsAreReadCorrectly) {
    Exec(*conn_, "INSERT INTO ALLTYPES (ID, C_BIG) VALUES (2, -9223372036854775808)");
    Exec(*conn_, "INSERT INTO ALLTYPES (ID, C_BIG) VALUES (3, 0)");
    Exec(*conn_, "INSERT INTO ALLTYPES (ID) VALUES (4)");
    Query q = Open(*conn_, "SELECT C_BIG, C_VARCHAR, C_MEMO, C_DATE FROM ALLTYPES ORDER BY ID");
    ASSERT_EQ(q.cursor->Next(), 0);
    EXPECT_EQ(ReadBcd(*q.cursor, 1), "-9223372036854775808");
    ASSERT_EQ(q.cursor->Next(), 0);
    EXPECT_EQ(ReadBcd(*q.cursor, 1), "0");  // zero is a value, not null
    ASSERT_EQ(q.cursor->Next(), 0);
    EXPECT_EQ(ReadBcd(*q.cursor, 1), "<null>");
    EXPECT_EQ(ReadText(*q.cursor, 2), "<null>");
    bool blobNull = false;
    EXPECT_TRUE(ReadBlob(*q.cursor, 3, &blobNull).empty());
    EXPECT_TRUE(blobNull);
    std::int32_t day = 77;
    int isNull = 0;
    EXPECT_EQ(q.cursor->GetDate(4, &day, &isNull), 0);
    EXPECT_EQ(isNull, 1);
    EXPECT_EQ(day, 77);  // a null leaves the buffer alone

    // Null parameters of any type store nulls.
    auto update = Command(*conn_);
    ASSERT_EQ(update->Prepare("UPDATE ALLTYPES SET C_BIG = ?, C_MEMO = ? WHERE ID = 2", 2), 0) << ErrorOf(*update);
    Bind(*update, 1, kLogBcd, nullptr, 0);
    Bind(*update, 2, kLogBlob, nullptr, 0, kSubMemo);
    ASSERT_EQ(update->Execute(nullptr), 0) << ErrorOf(*update);
    Query again = Open(*conn_, "SELECT C_BIG FROM ALLTYPES WHERE ID = 2");
    ASSERT_EQ(again.cursor->Next(), 0);
    EXPECT_EQ(ReadBcd(*again.cursor, 1), "<null>");
}

TEST_F(DriverTest, TextReadsNeverSplitACharacterAndTrimCharStripsBlanks) {
    Exec(*conn_, "INSERT INTO ALLTYPES (ID, C_CHAR, C_VARCHAR) VALUES (1, 'x', '世界世界')");
    {
        Query q = Open(*conn_, "SELECT C_CHAR, C_VARCHAR FROM ALLTYPES");
        ASSERT_EQ(q.cursor->Next(), 0);
        EXPECT_EQ(ReadText(*q.cursor, 2, 6), "世");  // 5 bytes of room: one 3-byte character
    }
    auto trimming = Connect(store_.Database(), TestStore::kPassword, {{kConnTrimChar, 1}});
    Query q = Open(*trimming, "SELECT C_CHAR FROM ALLTYPES");
    ASSERT_EQ(q.cursor->Next(), 0);
    EXPECT_EQ(ReadText(*q.cursor, 1), "x");
}

TEST_F(DriverTest, TextInAnotherCharacterSetIsConvertedBothWays) {
    auto insert = Command(*conn_);
    ASSERT_EQ(insert->Prepare("INSERT INTO LATIN VALUES (?, ?, ?)", 3), 0) << ErrorOf(*insert);
    BindText(*insert, 1, "café");
    BindText(*insert, 2, "é");
    const std::string memo = "crème brûlée";
    Bind(*insert, 3, kLogBlob, memo.data(), memo.size(), kSubMemo);
    ASSERT_EQ(insert->Execute(nullptr), 0) << ErrorOf(*insert);
    Query q = Open(*conn_, "SELECT T, F, M, OCTET_LENGTH(T) FROM LATIN");
    ASSERT_EQ(q.cursor->Next(), 0);
    EXPECT_EQ(ReadText(*q.cursor, 1), "café");
    EXPECT_EQ(ReadText(*q.cursor, 2), "é  ");
    const auto back = ReadBlob(*q.cursor, 3);
    EXPECT_EQ(std::string(back.begin(), back.end()), memo);
    EXPECT_EQ(ReadBcd(*q.cursor, 4), "4");  // stored as four single-byte characters

    // "ServerCharSet" picks the connection's character set; sizes then count its bytes.
    const char* charSet = "WIN1252";
    auto latin = Connect(store_.Database(), TestStore::kPassword,
                         {{kConnServerCharSet, reinterpret_cast<std::intptr_t>(charSet)}});
    Query w = Open(*latin, "SELECT T FROM LATIN");
    ASSERT_EQ(w.cursor->Next(), 0);
    EXPECT_EQ(ReadText(*w.cursor, 1), "caf\xE9");
    std::uint16_t precision = 0;
    w.cursor->GetColumnPrecision(1, &precision);
    EXPECT_EQ(precision, 10);
}

TEST_F(DriverTest, LargeBlobIsReadWholeAndBlobSizeOptionLimitsIt) {
    std::vector<char> big(1024 * 1024);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
    auto insert = Command(*conn_);
    ASSERT_EQ(insert->Prepare("INSERT INTO ALLTYPES (ID, C_BIN) VALUES (1, ?)", 1), 0);
    Bind(*insert, 1, kLogBlob, big.data(), big.size(), kSubBinary);
    ASSERT_EQ(insert->Execute(nullptr), 0) << ErrorOf(*insert);
    {
        Query q = Open(*conn_, "SELECT C_BIN FROM ALLTYPES");
        ASSERT_EQ(q.cursor->Next(), 0);
        EXPECT_EQ(ReadBlob(*q.cursor, 1), big);
    }
    ASSERT_EQ(conn_->SetOption(kConnBlobSize, 2), 0);  // 2 KiB
    Query q = Open(*conn_, "SELECT C_BIN FROM ALLTYPES");
    ASSERT_EQ(q.cursor->Next(), 0);
    EXPECT_EQ(ReadBlob(*q.cursor, 1), std::vector<char>(big.begin(), big.begin() + 2048));
}

TEST_F(DriverTest, RowsAffectedCountChangedRows) {
    for (int i = 1; i <= 5; ++i) Exec(*conn_, "INSERT INTO NOKEY VALUES (" + std::to_string(i) + ", 'r')");
    struct Case {
        const char* sql;
        std::uint32_t rows;
    };
    const Case cases[] = {
        {"UPDATE NOKEY SET T = 'u' WHERE N <= 3", 3},
        {"DELETE FROM NOKEY WHERE N = 99", 0},
        {"DELETE FROM NOKEY WHERE N > 3", 2},
        {"INSERT INTO NOKEY SELECT N + 10, T FROM NOKEY", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(Exec(*conn_, c.sql), c.rows) << c.sql;
    auto select = Command(*conn_);
    ASSERT_EQ(select->Prepare("SELECT * FROM NOKEY", 0), 0);
    ISQLCursor* cursor = nullptr;
    ASSERT_EQ(select->Execute(&cursor), 0);
    std::unique_ptr<ISQLCursor> owned(cursor);
    std::uint32_t rows = 99;
    select->GetRowsAffected(&rows);
    EXPECT_EQ(rows, 0u);
}

TEST_F(DriverTest, StatementsOutsideATransactionAreCommittedAndExplicitOnesRollBack) {
    auto other = Connect(store_.Database(), TestStore::kPassword);
    const auto count = [&](ISQLConnection& connection) {
        Query q = Open(connection, "SELECT COUNT(*) FROM NOKEY");
        EXPECT_EQ(q.cursor->Next(), 0);
        TBcd bcd;
        int isNull = 0;
        q.cursor->GetBcd(1, &bcd, &isNull);
        return BcdToString(bcd);
    };
    Exec(*conn_, "INSERT INTO NOKEY VALUES (1, 'auto')");
    EXPECT_EQ(count(*other), "1");  // committed by the driver

    TTransactionDesc desc;
    ASSERT_EQ(conn_->BeginTransaction(&desc), 0);
    EXPECT_EQ(conn_->BeginTransaction(&desc), kSQLTransactionActive);
    Exec(*conn_, "INSERT INTO NOKEY VALUES (2, 'explicit')");
    EXPECT_EQ(count(*conn_), "2");
    EXPECT_EQ(count(*other), "1");
    ASSERT_EQ(conn_->Rollback(&desc), 0);
    EXPECT_EQ(count(*conn_), "1");
    EXPECT_EQ(conn_->Commit(&desc), kSQLInvalidTransactionId);

    ASSERT_EQ(conn_->BeginTransaction(&desc), 0);
    Exec(*conn_, "INSERT INTO NOKEY VALUES (3, 'explicit')");
    ASSERT_EQ(conn_->Commit(&desc), 0);
    EXPECT_EQ(count(*other), "2");
}

TEST_F(DriverTest, IsolationLevelsAndLockWaiting) {
    Exec(*conn_, "INSERT INTO NOKEY VALUES (1, 'a')");
    auto other = Connect(store_.Database(), TestStore::kPassword, {{kConnWaitOnLocks, 0}});
    TTransactionDesc desc;

    // Repeatable read: a snapshot that does not see a later commit of another connection.
    desc.IsolationLevel = kIsoRepeatableRead;
    ASSERT_EQ(conn_->BeginTransaction(&desc), 0);
    Query before = Open(*conn_, "SELECT COUNT(*) FROM NOKEY");
    before.cursor.reset();
    Exec(*other, "INSERT INTO NOKEY VALUES (2, 'b')");
    {
        Query q = Open(*conn_, "SELECT COUNT(*) FROM NOKEY");
        ASSERT_EQ(q.cursor->Next(), 0);
        TBcd bcd;
        int isNull = 0;
        q.cursor->GetBcd(1, &bcd, &isNull);
        EXPECT_EQ(BcdToString(bcd), "1");
    }
    ASSERT_EQ(conn_->Commit(&desc), 0);

    // Dirty reads do not exist in Firebird: the transaction runs read committed and says so.
    desc.IsolationLevel = kIsoDirtyRead;
    EXPECT_EQ(conn_->BeginTransaction(&desc), kSQLNotSupported);
    Exec(*conn_, "UPDATE NOKEY SET T = 'locked' WHERE N = 1");

    // Without waiting on locks the other connection fails at once on the locked row.
    TTransactionDesc otherDesc;
    ASSERT_EQ(other->BeginTransaction(&otherDesc), 0);
    auto update = Command(*other);
    ASSERT_EQ(update->Prepare("UPDATE NOKEY SET T = 'second' WHERE N = 1", 0), 0);
    EXPECT_EQ(update->Execute(nullptr), kSQLServerError);
    EXPECT_NE(ErrorOf(*update).find("update conflicts with concurrent update"), std::string::npos) << ErrorOf(*update);
    EXPECT_EQ(other->Rollback(&otherDesc), 0);
    EXPECT_EQ(conn_->Commit(&desc), 0);

    EXPECT_EQ(conn_->BeginTransaction(nullptr), 0);  // no descriptor: the connection's level
    desc.IsolationLevel = 9;
    EXPECT_EQ(conn_->Rollback(&desc), 0);
    EXPECT_EQ(conn_->BeginTransaction(&desc), kSQLInvalidIsolation);
}

TEST_F(DriverTest, ServerRefusalsCarryTheServerTextAndSqlCode) {
    auto command = Command(*conn_);
    EXPECT_EQ(command->Prepare("SELECT * FROM NO_SUCH_TABLE", 0), kSQLServerError);
    const std::string prepareError = ErrorOf(*command);
    EXPECT_NE(prepareError.find("Table unknown"), std::string::npos) << prepareError;
    EXPECT_NE(prepareError.find("NO_SUCH_TABLE"), std::string::npos) << prepareError;
    EXPECT_NE(prepareError.find("SQL code: -204"), std::string::npos) << prepareError;
    EXPECT_EQ(command->Execute(nullptr), kSQLInvalidHandle);

    Exec(*conn_, "INSERT INTO IDX (A, B) VALUES ('k', 1)");
    ASSERT_EQ(command->Prepare("INSERT INTO IDX (A, B) VALUES ('k', 1)", 0), 0);
    EXPECT_EQ(command->Execute(nullptr), kSQLServerError);
    EXPECT_NE(ErrorOf(*command).find("SQL code: -803"), std::string::npos) << ErrorOf(*command);

    // The failed statement's own transaction was rolled back: nothing is left half done.
    EXPECT_EQ(Exec(*conn_, "DELETE FROM IDX"), 1u);

    // A missing parameter value is refused before the server sees the statement.
    ASSERT_EQ(command->Prepare("INSERT INTO NOKEY VALUES (?, ?)", 2), 0);
    const std::int32_t n = 1;
    Bind(*command, 1, kLogInt32, &n, 4);
    EXPECT_EQ(command->Execute(nullptr), kSQLParameterNotSet);
    EXPECT_EQ(command->SetParameter(2, 0, kParamInput, kLogCursor, 0, 0, 0, 0, nullptr, 1), kSQLInvalidFieldType);
}

TEST_F(DriverTest, ConnectFailureGivesTheServerText) {
    ISQLConnection* raw = nullptr;
    ASSERT_EQ(Driver().GetSQLConnection(&raw), 0);
    std::unique_ptr<ISQLConnection> connection(raw);
    const std::string missing = store_.Folder() + "/missing.fdb";
    EXPECT_EQ(connection->Connect(missing.c_str(), "SYSDBA", "secretpw"), kSQLConnectionFailed);
    const std::string text = ErrorOf(*connection);
    EXPECT_NE(text.find("missing.fdb"), std::string::npos) << text;
    EXPECT_EQ(text.find("secretpw"), std::string::npos);
    ISQLCommand* command = nullptr;
    EXPECT_EQ(connection->GetSQLCommand(&command), kSQLInvalidHandle);
    EXPECT_EQ(command, nullptr);
}

struct IndexEntry {
    std::string index, column, sortOrder;
    std::int16_t type;
    bool operator==(const IndexEntry&) const = default;
};

std::vector<IndexEntry> ReadIndexList(ISQLMetaData& meta, const char* table) {
    ISQLCursor* raw = nullptr;
    EXPECT_EQ(meta.GetIndices(table, 0, &raw), 0) << ErrorOf(meta);
    std::unique_ptr<ISQLCursor> cursor(raw);
    // Columns are found by name, as the data layer does.
    std::uint16_t count = 0;
    cursor->GetColumnCount(&count);
    std::map<std::string, std::uint16_t> columns;
    for (std::uint16_t i = 1; i <= count; ++i) {
        char name[32];
        cursor->GetColumnName(i, name, sizeof name);
        columns[name] = i;
    }
    std::vector<IndexEntry> entries;
    while (cursor->Next() == 0) {
        IndexEntry e;
        e.index = ReadText(*cursor, columns.at("INDEX_NAME"));
        e.column = ReadText(*cursor, columns.at("COLUMN_NAME"));
        e.sortOrder = ReadText(*cursor, columns.at("SORT_ORDER"));
        int isNull = 0;
        cursor->GetShort(columns.at("INDEX_TYPE"), &e.type, &isNull);
        entries.push_back(e);
    }
    return entries;
}

TEST_F(DriverTest, IndexListFromTheSystemTables) {
    // The table name as a statement writes it becomes the stored object name.
    const struct {
        const char* written;
        const char* object;
    } names[] = {{"idx", "IDX"}, {"\"Mixed Case\"", "Mixed Case"}, {"owner.nokey", "NOKEY"},
                 {"owner.\"Mixed\"", "Mixed"}, {"\"Say \"\"Hi\"\"\"", "Say \"Hi\""}};
    for (const auto& n : names) {
        ASSERT_EQ(conn_->SetOption(kConnQualifiedName, reinterpret_cast<std::intptr_t>(n.written)), 0);
        char object[256];
        std::int32_t length = 0;
        ASSERT_EQ(conn_->GetOption(kConnObjectName, object, sizeof object, &length), 0);
        EXPECT_STREQ(object, n.object);
        ASSERT_EQ(conn_->GetOption(kConnCatalogName, object, sizeof object, &length), 0);
        EXPECT_STREQ(object, "");
    }

    ISQLMetaData* raw = nullptr;
    ASSERT_EQ(conn_->GetSQLMetaData(&raw), 0);
    std::unique_ptr<ISQLMetaData> meta(raw);
    char quote = 0;
    std::int32_t length = 0;
    ASSERT_EQ(meta->GetOption(kMetaObjectQuoteChar, &quote, 1, &length), 0);
    EXPECT_EQ(quote, '"');

    const std::vector<IndexEntry> expected = {
        {"DX_IDX_D", "D", "D", kIndexNonUnique},
        {"PK_IDX", "A", "A", kIndexPrimary | kIndexUnique},
        {"PK_IDX", "B", "A", kIndexPrimary | kIndexUnique},
        {"UX_IDX_C", "C", "A", kIndexUnique},
    };
    EXPECT_EQ(ReadIndexList(*meta, "IDX"), expected);
    EXPECT_TRUE(ReadIndexList(*meta, "NOKEY").empty());

    // An index made through the driver shows at the next read: the kept list is dropped.
    Exec(*conn_, "CREATE INDEX IX_NOKEY_T ON NOKEY (T)");
    const std::vector<IndexEntry> made = {{"IX_NOKEY_T", "T", "A", kIndexNonUnique}};
    EXPECT_EQ(ReadIndexList(*meta, "NOKEY"), made);
}

TEST_F(DriverTest, ReexecutingAndClosingCursors) {
    for (int i = 1; i <= 3; ++i) Exec(*conn_, "INSERT INTO NOKEY VALUES (" + std::to_string(i) + ", 't')");
    auto command = Command(*conn_);
    ASSERT_EQ(command->Prepare("SELECT N FROM NOKEY WHERE N >= ? ORDER BY N", 1), 0);
    for (std::int32_t from : {2, 1}) {
        Bind(*command, 1, kLogInt32, &from, 4);
        ISQLCursor* raw = nullptr;
        ASSERT_EQ(command->Execute(&raw), 0) << ErrorOf(*command);
        std::unique_ptr<ISQLCursor> cursor(raw);
        std::vector<std::int32_t> seen;
        while (cursor->Next() == 0) {
            std::int32_t n = 0;
            int isNull = 0;
            cursor->GetLong(1, &n, &isNull);
            seen.push_back(n);
        }
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(4 - from));
    }
    // Executing again while a cursor is open ends the old cursor; it answers, it does not crash.
    ISQLCursor* first = nullptr;
    ASSERT_EQ(command->Execute(&first), 0);
    std::unique_ptr<ISQLCursor> old(first);
    ISQLCursor* second = nullptr;
    ASSERT_EQ(command->Execute(&second), 0);
    std::unique_ptr<ISQLCursor> current(second);
    EXPECT_EQ(old->Next(), kSQLInvalidHandle);
    EXPECT_EQ(current->Next(), 0);
    old.reset();
    EXPECT_EQ(current->Next(), 0);  // deleting the dead cursor leaves the live one alone
}

TEST_F(DriverTest, RepeatedTextsReuseTheirStatementAndSeeCatalogChanges) {
    for (int i = 1; i <= 3; ++i) Exec(*conn_, "INSERT INTO NOKEY VALUES (" + std::to_string(i) + ", 't')");
    for (std::int32_t n : {1, 2, 3, 2}) {
        auto update = Command(*conn_);  // a new command each time, as the statement side makes them
        ASSERT_EQ(update->Prepare("UPDATE NOKEY SET T = ? WHERE N >= ?", 2), 0) << ErrorOf(*update);
        BindText(*update, 1, "v" + std::to_string(n));
        Bind(*update, 2, kLogInt32, &n, 4);
        ASSERT_EQ(update->Execute(nullptr), 0) << ErrorOf(*update);
        std::uint32_t rows = 0;
        update->GetRowsAffected(&rows);
        EXPECT_EQ(rows, static_cast<std::uint32_t>(4 - n));
    }
    // A cursor still open keeps its statement: preparing the command anew leaves it working.
    auto command = Command(*conn_);
    ASSERT_EQ(command->Prepare("SELECT T FROM NOKEY ORDER BY N", 0), 0);
    ISQLCursor* raw = nullptr;
    ASSERT_EQ(command->Execute(&raw), 0);
    std::unique_ptr<ISQLCursor> open(raw);
    ASSERT_EQ(command->Prepare("SELECT T FROM NOKEY ORDER BY N", 0), 0);
    ASSERT_EQ(open->Next(), 0);
    EXPECT_EQ(ReadText(*open, 1), "v1");
    open.reset();
    command.reset();

    Exec(*conn_, "ALTER TABLE NOKEY ADD EXTRA INTEGER");
    {
        Query q = Open(*conn_, "SELECT * FROM NOKEY");
        std::uint16_t count = 0;
        q.cursor->GetColumnCount(&count);
        EXPECT_EQ(count, 3);
    }
    // Statements kept for reuse never hold a table that is to be dropped.
    EXPECT_EQ(Exec(*conn_, "DELETE FROM NOKEY"), 3u);
    auto drop = Command(*conn_);
    ASSERT_EQ(drop->Prepare("DROP TABLE NOKEY", 0), 0) << ErrorOf(*drop);
    EXPECT_EQ(drop->Execute(nullptr), 0) << ErrorOf(*drop);
}

TEST_F(DriverTest, QueriesComparingWithStringValuesFindTheRightRows) {
    Exec(*conn_, "INSERT INTO NOKEY VALUES (1, 'a')");
    Exec(*conn_, "INSERT INTO NOKEY VALUES (2, 'it''s')");
    Exec(*conn_, "INSERT INTO NOKEY VALUES (3, 'b')");
    Exec(*conn_, "INSERT INTO NOKEY VALUES (4, '')");
    // The same query shape with other values, and texts that must be taken as written.
    const struct {
        const char* sql;
        std::vector<std::int32_t> rows;
    } cases[] = {
        {"SELECT N FROM NOKEY where T = 'a'", {1}},
        {"SELECT N FROM NOKEY where T = 'it''s'", {2}},
        {"SELECT N FROM NOKEY where T = 'b'", {3}},
        {"SELECT N FROM NOKEY where T = ''", {4}},
        {"SELECT N FROM NOKEY where T = 'longer than ten characters'", {}},
        {"SELECT N FROM NOKEY WHERE T = 'a' || ''", {1}},
        {"SELECT N FROM NOKEY WHERE N = '2'", {2}},
        {"SELECT N FROM NOKEY WHERE T <> 'a' AND T = 'b'", {3}},
        {"SELECT N FROM NOKEY WHERE T IN ('a', 'b') ORDER BY N", {1, 3}},
        {"SELECT N FROM NOKEY WHERE T = 'a' UNION SELECT N FROM NOKEY WHERE T = 'b'", {1, 3}},
        {"SELECT N FROM NOKEY WHERE T = 'a' -- comment", {1}},
        {"SELECT N FROM NOKEY N1 WHERE N1.T = 'b' AND N1.N = 3", {3}},
    };
    // The first column of every row of a query, as integers.
    const auto numbers = [&](const char* sql) {
        Query q = Open(*conn_, sql);
        EXPECT_NE(q.cursor, nullptr) << sql;
        std::vector<std::int32_t> rows;
        while (q.cursor != nullptr && q.cursor->Next() == 0) {
            std::int32_t n = 0;
            int isNull = 0;
            q.cursor->GetLong(1, &n, &isNull);
            rows.push_back(n);
        }
        return rows;
    };
    for (const auto& c : cases) EXPECT_EQ(numbers(c.sql), c.rows) << c.sql;
    // A value in the select list stays a value.
    {
        Query q = Open(*conn_, "SELECT 'lit' AS L, N FROM NOKEY where T = 'a'");
        ASSERT_EQ(q.cursor->Next(), 0);
        EXPECT_EQ(ReadText(*q.cursor, 1), "lit");
    }

    // Deletes of the same shape remove just the rows their own values name.
    const struct {
        const char* sql;
        std::uint32_t removed;
    } deletes[] = {
        {"DELETE FROM NOKEY WHERE T = 'it''s'", 1},
        {"DELETE FROM NOKEY WHERE T = 'no such'", 0},
        {"DELETE FROM NOKEY WHERE T = 'b'", 1},
        {"DELETE FROM NOKEY WHERE T = 'a' || 'x'", 0},
    };
    for (const auto& d : deletes) EXPECT_EQ(Exec(*conn_, d.sql), d.removed) << d.sql;
    EXPECT_EQ(numbers("SELECT N FROM NOKEY ORDER BY N"), (std::vector<std::int32_t>{1, 4}));
}

TEST_F(DriverTest, ObjectsOutlivingTheirConnectionStaySafe) {
    auto command = Command(*conn_);
    ASSERT_EQ(command->Prepare("SELECT * FROM NOKEY", 0), 0);
    ISQLCursor* raw = nullptr;
    ASSERT_EQ(command->Execute(&raw), 0);
    std::unique_ptr<ISQLCursor> cursor(raw);
    ASSERT_EQ(conn_->Disconnect(), 0);
    EXPECT_EQ(cursor->Next(), kSQLInvalidHandle);
    EXPECT_EQ(command->Execute(nullptr), kSQLInvalidHandle);
    conn_.reset();
    cursor.reset();
    command.reset();
}

TEST_F(DriverTest, RowsHoldingTenthsOfMillisecondsAreFoundByTheTimesReadFromThem) {
    // Another program wrote tenths of milliseconds; a read gives whole milliseconds.
    Exec(*conn_, "INSERT INTO TIMES VALUES (1, '2026-12-10 08:30:00.1234', '08:30:00.5678', 0)");
    Exec(*conn_, "INSERT INTO TIMES VALUES (2, '2026-12-10 08:30:00.1234', '08:30:00.5678', 0)");
    TSQLTimeStamp ts;
    std::int32_t ms = 0;
    {
        Query q = Open(*conn_, "SELECT TS, T FROM TIMES WHERE ID = 1");
        ASSERT_EQ(q.cursor->Next(), 0);
        int isNull = 0;
        ASSERT_EQ(q.cursor->GetTimeStamp(1, &ts, &isNull), 0);
        ASSERT_EQ(q.cursor->GetTime(2, &ms, &isNull), 0);
    }
    ASSERT_EQ(ts.Fractions, 123u);
    ASSERT_EQ(ms, 30600567);
    // The row is found by the values read, as an update that compares every column finds it; the
    // value set is stored as bound, without tenths.
    const auto update = [&](std::int32_t id, const char* sql) {
        auto command = Command(*conn_);
        EXPECT_EQ(command->Prepare(sql, 4), 0) << ErrorOf(*command);
        Bind(*command, 1, kLogTimeStamp, &ts, sizeof ts);
        Bind(*command, 2, kLogInt32, &id, 4);
        Bind(*command, 3, kLogTimeStamp, &ts, sizeof ts);
        Bind(*command, 4, kLogTime, &ms, 4);
        EXPECT_EQ(command->Execute(nullptr), 0) << ErrorOf(*command);
        std::uint32_t rows = 0;
        command->GetRowsAffected(&rows);
        return rows;
    };
    const char* kUpdate = "update TIMES set TS = ?, N = N + 1 where ID = ? and TS = ? and \"T\" = ?";
    EXPECT_EQ(update(1, kUpdate), 1u);
    EXPECT_EQ(update(2, kUpdate), 1u);  // the kept statement again
    Query stored = Open(*conn_, "SELECT CAST(EXTRACT(MILLISECOND FROM TS) * 10 AS INTEGER), N FROM TIMES WHERE ID = 1");
    ASSERT_EQ(stored.cursor->Next(), 0);
    std::int32_t tenths = 0, n = 0;
    int isNull = 0;
    stored.cursor->GetLong(1, &tenths, &isNull);
    stored.cursor->GetLong(2, &n, &isNull);
    EXPECT_EQ(tenths, 1230);
    EXPECT_EQ(n, 1);

    // A row another user changed, even by a millisecond, is not found.
    Exec(*conn_, "UPDATE TIMES SET TS = '2026-12-10 08:30:00.1244' WHERE ID = 2");
    EXPECT_EQ(update(2, kUpdate), 0u);
    Exec(*conn_, "UPDATE TIMES SET TS = '2026-12-10 08:30:00.1230', T = '08:30:00.5680' WHERE ID = 2");
    EXPECT_EQ(update(2, kUpdate), 0u);
    Exec(*conn_, "UPDATE TIMES SET T = '08:30:00.5670' WHERE ID = 2");
    EXPECT_EQ(update(2, kUpdate), 1u);

    // A delete finds its row the same way.
    Exec(*conn_, "UPDATE TIMES SET TS = '2026-12-10 08:30:00.1239' WHERE ID = 2");
    auto remove = Command(*conn_);
    ASSERT_EQ(remove->Prepare("delete from TIMES where TS=? and ID = ?", 2), 0) << ErrorOf(*remove);
    Bind(*remove, 1, kLogTimeStamp, &ts, sizeof ts);
    const std::int32_t id = 2;
    Bind(*remove, 2, kLogInt32, &id, 4);
    ASSERT_EQ(remove->Execute(nullptr), 0) << ErrorOf(*remove);
    std::uint32_t removed = 0;
    remove->GetRowsAffected(&removed);
    EXPECT_EQ(removed, 1u);
}

TEST_F(DriverTest, ImpossibleTimeStampsAreRefused) {
    const struct {
        int year, month, day, hour;
        SQLResult result;
    } cases[] = {
        {2024, 2, 29, 0, kSQLSuccess},      {2000, 2, 29, 23, kSQLSuccess},    {2026, 12, 31, 12, kSQLSuccess},
        {2024, 2, 31, 0, kSQLInvalidTime},  {2023, 2, 29, 0, kSQLInvalidTime}, {1900, 2, 29, 0, kSQLInvalidTime},
        {2026, 4, 31, 0, kSQLInvalidTime},  {2026, 13, 1, 0, kSQLInvalidTime}, {2026, 1, 0, 0, kSQLInvalidTime},
        {2026, 1, 1, 24, kSQLInvalidTime},
    };
    std::int32_t id = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day));
        TSQLTimeStamp ts;
        ts.Year = static_cast<std::int16_t>(c.year);
        ts.Month = static_cast<std::uint16_t>(c.month);
        ts.Day = static_cast<std::uint16_t>(c.day);
        ts.Hour = static_cast<std::uint16_t>(c.hour);
        auto insert = Command(*conn_);
        ASSERT_EQ(insert->Prepare("INSERT INTO TIMES (ID, TS) VALUES (?, ?)", 2), 0) << ErrorOf(*insert);
        ++id;
        Bind(*insert, 1, kLogInt32, &id, 4);
        Bind(*insert, 2, kLogTimeStamp, &ts, sizeof ts);
        EXPECT_EQ(insert->Execute(nullptr), c.result) << ErrorOf(*insert);
        if (c.result != kSQLSuccess) continue;
        Query q = Open(*conn_, "SELECT TS FROM TIMES WHERE ID = " + std::to_string(id));
        ASSERT_EQ(q.cursor->Next(), 0);
        TSQLTimeStamp back;
        int isNull = 0;
        ASSERT_EQ(q.cursor->GetTimeStamp(1, &back, &isNull), 0);
        EXPECT_EQ(back, ts);
    }
    Query count = Open(*conn_, "SELECT COUNT(*) FROM TIMES");
    ASSERT_EQ(count.cursor->Next(), 0);
    std::int32_t n = 0;
    int isNull = 0;
    count.cursor->GetLong(1, &n, &isNull);
    EXPECT_EQ(n, 3);
}

TEST_F(DriverTest, ValuesComparedWithByteCountedColumnsFindNothingWhenTooLong) {
    // NONE and OCTETS columns count bytes: three characters of two bytes each do not fit four.
    Exec(*conn_, "INSERT INTO RAWTEXT VALUES (1, 'ab', 'ab')");
    const struct {
        const char* sql;
        bool found;
    } cases[] = {
        {"SELECT N FROM RAWTEXT where T = 'ab'", true},
        {"SELECT N FROM RAWTEXT where T = 'äöü'", false},
        {"SELECT N FROM RAWTEXT where T = 'abcde'", false},
        {"SELECT N FROM RAWTEXT where O = 'äöü'", false},
        {"SELECT N FROM RAWTEXT where T = 'äb'", false},
    };
    for (const auto& c : cases) {
        auto command = Command(*conn_);
        ASSERT_EQ(command->Prepare(c.sql, 0), 0) << ErrorOf(*command) << c.sql;
        ISQLCursor* raw = nullptr;
        ASSERT_EQ(command->Execute(&raw), 0) << ErrorOf(*command) << c.sql;
        std::unique_ptr<ISQLCursor> cursor(raw);
        EXPECT_EQ(cursor->Next(), c.found ? kSQLSuccess : kSQLEndOfData) << ErrorOf(*cursor) << c.sql;
    }
}

}  // namespace
}  // namespace tarnwick::testing
