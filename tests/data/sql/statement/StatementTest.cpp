// Statements and result sets against a real embedded Firebird database.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "base/Text.h"
#include "data/sql/SQLBlobStream.h"
#include "data/sql/SQLDataSet.h"
#include "data/sql/SQLQuery.h"
#include "TestDatabase.h"

namespace tarnwick::sql {
namespace {

using testing::TestDatabase;

const char* const kSchema = R"(
CREATE TABLE PSALE_SUB (MASTERBILLID VARCHAR(20) NOT NULL, LINE_NO INTEGER NOT NULL,
  QTY NUMERIC(9,2), PRIMARY KEY (MASTERBILLID, LINE_NO));
INSERT INTO PSALE_SUB VALUES ('A:1', 1, 2.50);
INSERT INTO PSALE_SUB VALUES ('A:1', 2, 1.00);
INSERT INTO PSALE_SUB VALUES ('B', 1, 7.25);
CREATE TABLE ALLTYPES (
  ID INTEGER NOT NULL PRIMARY KEY,
  C_CHAR CHAR(5), C_VARCHAR VARCHAR(30), C_SMALL SMALLINT, C_BIG BIGINT,
  C_NUM92 NUMERIC(9,2), C_NUM152 NUMERIC(15,2), C_NUM95 NUMERIC(9,5), C_DEC184 DECIMAL(18,4),
  C_DOUBLE DOUBLE PRECISION, C_FLOAT FLOAT, C_DATE DATE, C_TIME TIME, C_TS TIMESTAMP,
  C_BOOL BOOLEAN, C_MEMO BLOB SUB_TYPE TEXT, C_BLOB BLOB SUB_TYPE 0,
  C_CODE VARCHAR(10) NOT NULL, C_X INTEGER, C_Y INTEGER);
CREATE UNIQUE INDEX ALLTYPES_CODE ON ALLTYPES (C_CODE);
CREATE UNIQUE INDEX ALLTYPES_XY ON ALLTYPES (C_X, C_Y);
CREATE DESCENDING INDEX ALLTYPES_DATE ON ALLTYPES (C_DATE);
INSERT INTO ALLTYPES VALUES (1, 'ab', 'Grüße', -12, 9007199254740993, 1234567.89,
  1234567890123.45, 1.23456, -12345678901234.5678, 2.5, 0.5, '2024-02-29', '13:45:30.250',
  '2024-02-29 13:45:30.250', TRUE, 'memo text', NULL, 'K1', 1, 2);
INSERT INTO ALLTYPES (ID, C_CODE) VALUES (2, 'K2');
INSERT INTO ALLTYPES (ID, C_CODE, C_NUM92, C_NUM152, C_NUM95, C_DEC184)
  VALUES (3, 'K3', 21474836.47, -92233720368547758.08, -21474.83648, 922337203685477.5807);
CREATE TABLE "Mixed" (ID INTEGER NOT NULL PRIMARY KEY, K VARCHAR(5));
CREATE TABLE MIXED (K VARCHAR(5) NOT NULL PRIMARY KEY, ID INTEGER);
CREATE TABLE OWNER_T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10));
INSERT INTO OWNER_T VALUES (1, 'one');
)";

class SQLStatementTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { db_ = new TestDatabase(kSchema); }
    static void TearDownTestSuite() {
        delete db_;
        db_ = nullptr;
    }
    void SetUp() override { connection_ = db_->Connection(); }

    std::unique_ptr<TSQLQuery> Query(const std::string& text) {
        auto query = std::make_unique<TSQLQuery>();
        query->SetName("SQLQuery1");
        query->SetSQLConnection(connection_.get());
        query->SetMaxBlobSize(-1);
        query->AddSQL(text);
        return query;
    }
    std::unique_ptr<TSQLDataSet> DataSet(const std::string& text) {
        auto dataset = std::make_unique<TSQLDataSet>();
        dataset->SetName("SQLDataSet2");
        dataset->SetSQLConnection(connection_.get());
        dataset->SetMaxBlobSize(-1);
        dataset->SetCommandText(text);
        return dataset;
    }
    int Count(const std::string& where) {
        auto ds = DataSet("SELECT * FROM PSALE_SUB where " + where);
        ds->Open();
        int n = 0;
        for (; !ds->AtEnd(); ds->MoveNext()) ++n;
        return n;
    }
    std::string ErrorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const EDatabaseError& e) {
            return e.Message();
        }
        return "(no error)";
    }

    static TestDatabase* db_;
    std::unique_ptr<TSQLConnection> connection_;
};

TestDatabase* SQLStatementTest::db_ = nullptr;

TEST_F(SQLStatementTest, QuotedColonIsNoParameterAndRunSQLCountsRows) {
    connection_->ExecuteStatement("INSERT INTO PSALE_SUB VALUES ('D:1', 1, 1)", nullptr);
    connection_->ExecuteStatement("INSERT INTO PSALE_SUB VALUES ('D:1', 2, 1)", nullptr);

    auto query = Query("DELETE FROM PSALE_SUB WHERE MASTERBILLID = 'D:1'");
    EXPECT_EQ(query->Params().Count(), 0);
    EXPECT_EQ(query->RunSQL(false), 2);
    EXPECT_EQ(query->NativeCommand(), "DELETE FROM PSALE_SUB WHERE MASTERBILLID = 'D:1'\r\n");
    // The statement stays prepared: the same text runs again without a new prepare.
    EXPECT_TRUE(query->Prepared());
    EXPECT_EQ(query->RunSQL(false), 0);

    // A new text (clear, then add) releases the old statement and prepares the new one.
    query->ClearSQL();
    EXPECT_FALSE(query->Prepared());
    query->AddSQL("DELETE FROM PSALE_SUB WHERE MASTERBILLID = 'none'");
    EXPECT_EQ(query->RunSQL(false), 0);
    EXPECT_EQ(query->RunSQL(true), 0);  // direct run, no prepare
}

TEST_F(SQLStatementTest, NamedParameterNeedsAValue) {
    auto query = Query("DELETE FROM PSALE_SUB WHERE MASTERBILLID = :BILL and LINE_NO = 99");
    ASSERT_EQ(query->Params().Count(), 1);
    EXPECT_EQ(query->Params()[0].Name(), "BILL");
    EXPECT_EQ(ErrorOf([&] { query->RunSQL(false); }), "No value for parameter 'BILL'");

    query->Params()[0].SetValue(TVariant("B"));
    EXPECT_EQ(query->RunSQL(false), 0);

    // The value survives a change of the text when the new text names the same parameter.
    query->SetSQL({"SELECT * FROM PSALE_SUB", "WHERE MASTERBILLID = :BILL"});
    ASSERT_EQ(query->Params().Count(), 1);
    EXPECT_EQ(query->Params()[0].Value(), TVariant("B"));
    query->Open();
    EXPECT_FALSE(query->AtEnd());
    EXPECT_EQ(query->FieldNamed("QTY").StringValue(), "7.25");
}

TEST_F(SQLStatementTest, UnsupportedParameterTypes) {
    for (TFieldType type : {ftLargeint, ftWideString, ftGuid}) {
        auto query = Query("DELETE FROM PSALE_SUB WHERE LINE_NO = :N");
        query->Params()[0].SetValue(TVariant(std::int32_t{5}), type);
        EXPECT_EQ(ErrorOf([&] { query->RunSQL(false); }), "Field 'N' is of an unsupported type")
            << FieldTypeName(type);
    }
}

TEST_F(SQLStatementTest, RefusedPrepareKeepsTheServerText) {
    auto query = Query("SELECT * FROM NO_SUCH_TABLE");
    const std::string message = ErrorOf([&] { query->Open(); });
    EXPECT_EQ(message.rfind("SQLLink Error: [0x0065]: SQL Error\r\nSQL Server Error: ", 0), 0u) << message;
    EXPECT_NE(message.find("NO_SUCH_TABLE"), std::string::npos) << message;
    EXPECT_FALSE(query->Active());
    EXPECT_FALSE(query->Prepared());

    // An empty text reports itself, not the refusal kept from the text before.
    query->ClearSQL();
    EXPECT_EQ(ErrorOf([&] { query->RunSQL(false); }), "Unable to execute Query");
    EXPECT_EQ(ErrorOf([&] { query->Open(); }), "Missing query, table name or procedure name");

    // A statement that is no query gives no cursor.
    auto del = Query("DELETE FROM PSALE_SUB WHERE LINE_NO = 99");
    EXPECT_EQ(ErrorOf([&] { del->Open(); }), "SQLQuery1: Cursor not returned from Query");

    // Text change and RunSQL are refused while open.
    auto ds = DataSet("SELECT * FROM OWNER_T where ID = 1");
    ds->Open();
    EXPECT_EQ(ErrorOf([&] { ds->SetCommandText("SELECT 1 FROM RDB$DATABASE"); }),
              "SQLDataSet2: Cannot perform this operation on an open dataset");
    EXPECT_EQ(ErrorOf([&] { ds->RunSQL(); }), "SQLDataSet2: Cannot perform this operation on an open dataset");

    TSQLQuery detached;
    detached.AddSQL("DELETE FROM OWNER_T");
    EXPECT_EQ(ErrorOf([&] { detached.RunSQL(); }), "SQLConnection property required for this operation");
}

TEST_F(SQLStatementTest, ExecuteStatementBindsPositionalParameters) {
    TParams params;
    params.AddValue(TVariant("E"), ftString);
    params.AddValue(TVariant(std::int32_t{3}), ftInteger);
    params.AddValue(TVariant(*BcdFromString("12.5")), ftFMTBcd);
    EXPECT_EQ(connection_->ExecuteStatement("insert into PSALE_SUB (MASTERBILLID, LINE_NO, QTY) values (?, ?, ?)", &params), 1);

    TParams update;
    update.AddValue(TVariant::FromCurrency(99900), ftBCD);  // 9.99
    update.AddValue(TVariant("E"), ftString);
    EXPECT_EQ(connection_->ExecuteStatement("update PSALE_SUB set QTY = ? where MASTERBILLID = ?", &update), 1);
    auto ds = DataSet("SELECT * FROM PSALE_SUB where MASTERBILLID = 'E'");
    ds->Open();
    EXPECT_EQ(ds->FieldNamed("LINE_NO").StringValue(), "3");
    EXPECT_EQ(ds->FieldNamed("QTY").StringValue(), "9.99");
    ds->Close();

    // A null BCD value reaches the server as null.
    TParams nulls;
    nulls.AddValue(TVariant::Null(), ftFMTBcd);
    nulls.AddValue(TVariant("E"), ftString);
    EXPECT_EQ(connection_->ExecuteStatement("update PSALE_SUB set QTY = ? where MASTERBILLID = ?", &nulls), 1);
    ds->Open();
    EXPECT_TRUE(ds->FieldNamed("QTY").IsNull());
    ds->Close();

    EXPECT_EQ(connection_->ExecuteStatement("delete from PSALE_SUB where MASTERBILLID = 'E'", nullptr), 1);
    EXPECT_EQ(connection_->ConnectionState(), TConnectionState::csStateOpen);

    const std::string message = ErrorOf([&] { connection_->ExecuteStatement("update NOPE set A = 1", nullptr); });
    EXPECT_NE(message.find("SQL Server Error: "), std::string::npos) << message;
    EXPECT_EQ(connection_->ConnectionState(), TConnectionState::csStateOpen);

    // After a refused statement and across a reconnect, statements run as before.
    EXPECT_EQ(connection_->ExecuteStatement("insert into PSALE_SUB (MASTERBILLID, LINE_NO, QTY) values (?, ?, ?)", &params), 1);
    connection_->Close();
    TParams key;
    key.AddValue(TVariant("E"), ftString);
    EXPECT_EQ(connection_->ExecuteStatement("delete from PSALE_SUB where MASTERBILLID = ?", &key), 1);
    EXPECT_EQ(connection_->ExecuteStatement("delete from PSALE_SUB where MASTERBILLID = ?", &key), 0);
}

TEST_F(SQLStatementTest, DataSetParametersAndReopen) {
    auto ds = DataSet("SELECT * FROM PSALE_SUB where MASTERBILLID = :M order by LINE_NO");
    ASSERT_EQ(ds->Params().Count(), 1);
    EXPECT_EQ(ds->Params()[0].ParamType(), ptInput);
    ds->Params()[0].SetValue(TVariant("A:1"));
    ds->Open();
    EXPECT_EQ(ds->FieldNamed("LINE_NO").StringValue(), "1");
    ds->MoveNext();
    EXPECT_EQ(ds->FieldNamed("LINE_NO").StringValue(), "2");
    ds->MoveNext();
    EXPECT_TRUE(ds->AtEnd());
    ds->MoveNext();  // past the end: no error
    EXPECT_TRUE(ds->AtEnd());

    // Back to the first row of a forward-only cursor.
    ds->MoveFirst();
    EXPECT_EQ(ds->FieldNamed("LINE_NO").StringValue(), "1");
    ds->Close();
    EXPECT_TRUE(ds->Prepared());  // kept across close with the same text
    ds->Open();
    EXPECT_EQ(ds->FieldNamed("LINE_NO").StringValue(), "1");
    EXPECT_EQ(ErrorOf([&] { (void)ds->FieldNamed("NOPE"); }), "SQLDataSet2: Field 'NOPE' not found");
}

struct DefCase {
    const char* column;
    TFieldType type;
    int size;
    int precision;
    bool required;
};

TEST_F(SQLStatementTest, FieldDefinitionsFromColumns) {
    auto ds = DataSet("SELECT * FROM ALLTYPES where ID = 1");
    ds->Open();
    const DefCase cases[] = {
        {"ID", ftInteger, 0, 0, true},
        {"C_CHAR", ftString, 20, 0, false},  // UTF8: four bytes per character
        {"C_VARCHAR", ftString, 120, 0, false},  // UTF8: four bytes per character
        {"C_SMALL", ftSmallint, 0, 0, false},
        {"C_BIG", ftFMTBcd, 0, 19, false},
        // Exact numerics carry the digits of their storage (INTEGER 10, BIGINT 19), which hold
        // every value the server keeps in them.
        {"C_NUM92", ftBCD, 2, 10, false},
        {"C_NUM152", ftFMTBcd, 2, 19, false},
        {"C_NUM95", ftFMTBcd, 5, 10, false},
        {"C_DEC184", ftFMTBcd, 4, 19, false},
        {"C_DOUBLE", ftFloat, 0, 0, false},
        {"C_FLOAT", ftFloat, 0, 0, false},
        {"C_DATE", ftDate, 0, 0, false},
        {"C_TIME", ftTime, 0, 0, false},
        {"C_TS", ftTimeStamp, 0, 0, false},
        {"C_BOOL", ftBoolean, 0, 0, false},
        {"C_MEMO", ftMemo, 0, 0, false},
        {"C_BLOB", ftBlob, 0, 0, false},
        {"C_CODE", ftString, 40, 0, true},
    };
    for (const DefCase& c : cases) {
        SCOPED_TRACE(c.column);
        const TFieldDef* def = ds->FieldDefs().Find(c.column);
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(def->DataType, c.type) << FieldTypeName(def->DataType);
        if (c.type != ftMemo && c.type != ftBlob) {
            EXPECT_EQ(def->Size, c.size);
        }
        EXPECT_EQ(def->Precision, c.precision);
        EXPECT_EQ(def->Required(), c.required);
    }
    EXPECT_TRUE(ds->FieldDefs().Find("C_CHAR")->Attributes.Contains(faFixed));
    EXPECT_EQ(ds->FieldDefs()[0].FieldNo, 1);
    EXPECT_EQ(ds->FieldDefs()[4].FieldNo, 5);
}

TEST_F(SQLStatementTest, EveryColumnTypeReadsBack) {
    auto ds = DataSet("SELECT * FROM ALLTYPES where ID = 1");
    ds->Open();
    ASSERT_FALSE(ds->AtEnd());
    struct Expect {
        const char* field;
        const char* text;
    };
    const Expect texts[] = {
        {"ID", "1"},
        {"C_CHAR", "ab   "},
        {"C_VARCHAR", "Grüße"},
        {"C_SMALL", "-12"},
        {"C_BIG", "9007199254740993"},
        {"C_NUM92", "1234567.89"},
        {"C_NUM152", "1234567890123.45"},
        {"C_NUM95", "1.23456"},
        {"C_DEC184", "-12345678901234.5678"},
        {"C_BOOL", "True"},
        {"C_MEMO", "memo text"},
        {"C_CODE", "K1"},
    };
    for (const Expect& e : texts) {
        SCOPED_TRACE(e.field);
        EXPECT_EQ(ds->FieldNamed(e.field).StringValue(), e.text);
    }
    EXPECT_EQ(ds->FieldNamed("C_DOUBLE").VariantValue(), TVariant(2.5));
    EXPECT_EQ(ds->FieldNamed("C_FLOAT").VariantValue(), TVariant(0.5));
    // 2024-02-29 is TDateTime 45351; 13:45:30.250 is 49530250 ms of the day.
    EXPECT_EQ(ds->FieldNamed("C_DATE").VariantValue(), TVariant::FromDateTime(45351.0));
    EXPECT_NEAR(ds->FieldNamed("C_TIME").VariantValue().DateTime(), 49530250.0 / 86400000.0, 1e-9);
    TSQLTimeStamp ts;
    ASSERT_TRUE(static_cast<TSQLTimeStampField&>(ds->FieldNamed("C_TS")).GetTimeStamp(ts));
    EXPECT_EQ(ts.Year, 2024);
    EXPECT_EQ(ts.Month, 2);
    EXPECT_EQ(ts.Day, 29);
    EXPECT_EQ(ts.Hour, 13);
    EXPECT_EQ(ts.Minute, 45);
    EXPECT_EQ(ts.Second, 30);
    EXPECT_EQ(ts.Fractions, 250u);
    EXPECT_EQ(BcdToString(ds->FieldNamed("C_NUM152").VariantValue().Bcd()), "1234567890123.45");
    EXPECT_EQ(ds->FieldNamed("C_NUM92").VariantValue(), TVariant::FromCurrency(12345678900));
    EXPECT_TRUE(ds->FieldNamed("C_BLOB").VariantValue() == TVariant(""));  // null blob: empty text

    // Another row: every nullable column reads as null.
    ds->Close();
    ds->SetCommandText("SELECT * FROM ALLTYPES where ID = 2");
    ds->Open();
    for (const char* name : {"C_CHAR", "C_VARCHAR", "C_SMALL", "C_BIG", "C_NUM92", "C_NUM152", "C_DOUBLE",
                             "C_DATE", "C_TIME", "C_TS", "C_BOOL"}) {
        EXPECT_TRUE(ds->FieldNamed(name).IsNull()) << name;
        EXPECT_EQ(ds->FieldNamed(name).StringValue(), "") << name;
    }
}

TEST_F(SQLStatementTest, ExactNumericsReadUpToTheirStorageLimits) {
    // The server keeps any value the storage type holds, beyond the declared precision.
    auto ds = DataSet("SELECT * FROM ALLTYPES where ID = 3");
    ds->Open();
    ASSERT_FALSE(ds->AtEnd());
    EXPECT_EQ(ds->FieldNamed("C_NUM92").StringValue(), "21474836.47");
    EXPECT_EQ(BcdToString(ds->FieldNamed("C_NUM152").VariantValue().Bcd()), "-92233720368547758.08");
    EXPECT_EQ(BcdToString(ds->FieldNamed("C_NUM95").VariantValue().Bcd()), "-21474.83648");
    EXPECT_EQ(BcdToString(ds->FieldNamed("C_DEC184").VariantValue().Bcd()), "922337203685477.5807");
}

TEST_F(SQLStatementTest, DuplicateColumnNames) {
    auto ds = DataSet("SELECT NAME, NAME, NAME, ID AS NAME_1 FROM OWNER_T where ID = 1");
    ds->Open();
    ASSERT_EQ(ds->FieldTotal(), 4);
    EXPECT_EQ(ds->FieldAt(0).FieldName(), "NAME");
    EXPECT_EQ(ds->FieldAt(1).FieldName(), "NAME_1");
    EXPECT_EQ(ds->FieldAt(2).FieldName(), "NAME_2");
    EXPECT_EQ(ds->FieldAt(3).FieldName(), "NAME_1_1");
    EXPECT_EQ(ds->FieldAt(2).StringValue(), "one");
}

TEST_F(SQLStatementTest, IndexDefinitionsAndKeyFields) {
    auto ds = DataSet("SELECT * FROM ALLTYPES where ID = 1");
    ds->Open();
    const auto& defs = ds->IndexDefs();
    auto find = [&](const std::string& fields) -> const TIndexDef* {
        for (const TIndexDef& d : defs)
            if (d.Fields == fields) return &d;
        return nullptr;
    };
    ASSERT_NE(find("ID"), nullptr);
    EXPECT_TRUE(find("ID")->Options.Contains(ixPrimary));
    EXPECT_TRUE(find("ID")->Options.Contains(ixUnique));
    ASSERT_NE(find("C_CODE"), nullptr);
    EXPECT_FALSE(find("C_CODE")->Options.Contains(ixPrimary));
    EXPECT_TRUE(find("C_CODE")->Options.Contains(ixUnique));
    ASSERT_NE(find("C_X;C_Y"), nullptr);
    ASSERT_NE(find("C_DATE"), nullptr);
    EXPECT_TRUE(find("C_DATE")->Options.Contains(ixDescending));
    EXPECT_FALSE(find("C_DATE")->Options.Contains(ixUnique));

    // The key is the first unique index of the list (a primary key is unique as well).
    const TIndexDef* firstUnique = nullptr;
    for (const TIndexDef& d : defs)
        if (firstUnique == nullptr && d.Options.Contains(ixUnique)) firstUnique = &d;
    ASSERT_NE(firstUnique, nullptr);
    const std::string key = firstUnique->Fields;
    EXPECT_EQ(ds->PSGetKeyFields(), key);
    for (int i = 0; i < ds->FieldTotal(); ++i)
        EXPECT_EQ(ds->FieldAt(i).ProviderFlags().Contains(pfInKey), ds->FieldAt(i).FieldName() == key)
            << ds->FieldAt(i).FieldName();
    ds->Close();

    auto owner = DataSet("SELECT * FROM OWNER_T where ID = 1");
    owner->Open();
    EXPECT_EQ(owner->PSGetKeyFields(), "ID");
    EXPECT_TRUE(owner->FieldNamed("ID").ProviderFlags().Contains(pfInKey));
    EXPECT_FALSE(owner->FieldNamed("NAME").ProviderFlags().Contains(pfInKey));
    // Once a field is marked, the marks themselves are the key fields.
    EXPECT_EQ(owner->PSGetKeyFields(), "ID");

    // Only some columns: indexes on other columns are not defined, and an index is never cut
    // down to the part of it that is in the result.
    auto some = DataSet("SELECT C_Y, C_CODE FROM ALLTYPES where ID = 1");
    some->Open();
    for (const TIndexDef& d : some->IndexDefs()) {
        EXPECT_NE(d.Fields, "ID");
        EXPECT_NE(d.Fields, "C_Y");
        EXPECT_NE(d.Fields, "C_X;C_Y");
    }
    EXPECT_EQ(some->PSGetKeyFields(), "C_CODE");
    EXPECT_TRUE(some->FieldNamed("C_CODE").ProviderFlags().Contains(pfInKey));

    // A query never reads index metadata.
    auto query = Query("SELECT * FROM ALLTYPES where ID = 1");
    query->Open();
    EXPECT_TRUE(query->IndexDefs().empty());
    EXPECT_FALSE(query->FieldNamed("ID").ProviderFlags().Contains(pfInKey));
}

TEST_F(SQLStatementTest, AQuotedTableNameKeepsItsLetterCaseForTheKey) {
    // "Mixed" and MIXED are two tables; only the quotes tell them apart.
    const struct {
        const char* text;
        const char* key;
    } cases[] = {
        {"SELECT * FROM \"Mixed\" where ID = 1", "ID"},
        {"SELECT * FROM Mixed where ID = 1", "K"},
        {"SELECT * FROM \"Mixed\" where ID = 2", "ID"},
        {"SELECT * FROM MIXED where ID = 1", "K"},
    };
    auto ds = DataSet(cases[0].text);
    for (const auto& c : cases) {
        ds->SetCommandText(c.text);
        ds->Open();
        EXPECT_EQ(ds->PSGetKeyFields(), c.key) << c.text;
        ds->Close();
    }
}

TEST_F(SQLStatementTest, KeyFieldsFollowCatalogChangesAcrossTexts) {
    connection_->ExecuteStatement("CREATE TABLE LOOSE_T (K VARCHAR(10) NOT NULL, V INTEGER)", nullptr);
    auto ds = DataSet("SELECT * FROM LOOSE_T where K = 'a'");
    ds->Open();
    EXPECT_EQ(ds->PSGetKeyFields(), "");
    ds->Close();

    connection_->ExecuteStatement("CREATE UNIQUE INDEX UX_LOOSE_K ON LOOSE_T (K)", nullptr);
    ds->SetCommandText("SELECT * FROM LOOSE_T where K = 'b'");
    ds->Open();
    EXPECT_EQ(ds->PSGetKeyFields(), "K");
    EXPECT_TRUE(ds->FieldNamed("K").ProviderFlags().Contains(pfInKey));
    ds->Close();

    // Another table, then other fields of the same table: each text gets its own indexes.
    ds->SetCommandText("SELECT * FROM OWNER_T where ID = 1");
    ds->Open();
    EXPECT_EQ(ds->PSGetKeyFields(), "ID");
    ds->Close();
    ds->SetCommandText("SELECT V FROM LOOSE_T where K = 'c'");
    ds->Open();
    EXPECT_EQ(ds->PSGetKeyFields(), "");
    ds->Close();

    ds->SetCommandText("SELECT * FROM OWNER_T where ID = 2");  // lets go of LOOSE_T for the drop
    connection_->ExecuteStatement("DROP INDEX UX_LOOSE_K", nullptr);
    ds->SetCommandText("SELECT * FROM LOOSE_T where K = 'd'");
    ds->Open();
    EXPECT_EQ(ds->PSGetKeyFields(), "");
}

TEST_F(SQLStatementTest, FieldsFollowTheStatementAcrossTexts) {
    connection_->ExecuteStatement("CREATE TABLE SHAPE_T (K VARCHAR(10) NOT NULL, V INTEGER)", nullptr);
    connection_->ExecuteStatement("INSERT INTO SHAPE_T VALUES ('a', 1)", nullptr);
    connection_->ExecuteStatement("INSERT INTO SHAPE_T VALUES ('b', 2)", nullptr);
    auto ds = DataSet("SELECT * FROM SHAPE_T where K = 'a'");
    ds->Open();
    ASSERT_EQ(ds->FieldTotal(), 2);
    EXPECT_EQ(ds->FieldNamed("V").VariantValue(), TVariant(std::int32_t{1}));
    ds->Close();
    ds->SetCommandText("SELECT * FROM SHAPE_T where K = 'b'");
    ds->Open();
    ASSERT_EQ(ds->FieldTotal(), 2);
    EXPECT_EQ(ds->FieldNamed("V").VariantValue(), TVariant(std::int32_t{2}));
    ds->Close();
    ds->SetCommandText("SELECT V AS W FROM SHAPE_T where K = 'b'");
    ds->Open();
    ASSERT_EQ(ds->FieldTotal(), 1);
    EXPECT_EQ(ds->FieldAt(0).FieldName(), "W");
    ds->Close();

    ds->SetCommandText("SELECT * FROM OWNER_T where ID = 1");  // lets go of SHAPE_T for the change
    connection_->ExecuteStatement("ALTER TABLE SHAPE_T ADD EXTRA INTEGER", nullptr);
    ds->SetCommandText("SELECT * FROM SHAPE_T where K = 'a'");
    ds->Open();
    ASSERT_EQ(ds->FieldTotal(), 3);
    EXPECT_EQ(ds->FieldAt(2).FieldName(), "EXTRA");
    EXPECT_TRUE(ds->FieldNamed("EXTRA").IsNull());
}

TEST_F(SQLStatementTest, JoinReadsNoIndexMetadata) {
    for (const char* text : {"SELECT * FROM ALLTYPES a inner join OWNER_T o on o.ID = a.ID",
                             "SELECT a.ID FROM ALLTYPES a, OWNER_T o where o.ID = a.ID"}) {
        SCOPED_TRACE(text);
        auto ds = DataSet(text);
        ds->Open();
        EXPECT_TRUE(ds->IndexDefsLoaded());
        EXPECT_TRUE(ds->IndexDefs().empty());
        EXPECT_EQ(ds->PSGetKeyFields(), "");
        EXPECT_FALSE(ds->FieldNamed("ID").ProviderFlags().Contains(pfInKey));
    }
}

TEST_F(SQLStatementTest, BlobsWholeOrNotAtAll) {
    std::string big(1 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    TParams params;
    params.AddValue(TVariant(big), ftBlob);
    connection_->ExecuteStatement("update ALLTYPES set C_BLOB = ? where ID = 2", &params);

    auto ds = DataSet("SELECT ID, C_BLOB FROM ALLTYPES where ID = 2");
    ds->Open();
    std::string read;
    ASSERT_TRUE(static_cast<TBlobField&>(ds->FieldNamed("C_BLOB")).GetBlob(read));
    EXPECT_EQ(read.size(), big.size());
    EXPECT_TRUE(read == big);
    EXPECT_FALSE(ds->FieldNamed("C_BLOB").IsNull());
    TSQLBlobStream stream(ds->FieldNamed("C_BLOB"));
    EXPECT_EQ(stream.Size(), big.size());
    char head[4] = {};
    EXPECT_EQ(stream.Read(head, 3), 3u);
    EXPECT_STREQ(head, "abc");
    EXPECT_EQ(stream.Position(), 3u);
    ds->Close();

    ds->SetMaxBlobSize(0);
    ds->Open();
    EXPECT_EQ(ds->FieldNamed("C_BLOB").StringValue(), "");
    ds->Close();
    connection_->ExecuteStatement("update ALLTYPES set C_BLOB = NULL where ID = 2", nullptr);
}

TEST_F(SQLStatementTest, MemoParameterStoresItsTextWithoutTheTerminator) {
    TParams params;
    params.AddValue(TVariant("綠茶 memo"), ftMemo);
    connection_->ExecuteStatement("update ALLTYPES set C_MEMO = ? where ID = 2", &params);

    auto ds = DataSet("SELECT C_MEMO, OCTET_LENGTH(C_MEMO) AS BYTES FROM ALLTYPES where ID = 2");
    ds->Open();
    EXPECT_EQ(ds->FieldNamed("C_MEMO").StringValue(), "綠茶 memo");
    EXPECT_EQ(ds->FieldNamed("BYTES").StringValue(), std::to_string(std::string("綠茶 memo").size()));
    ds->Close();
}

TEST_F(SQLStatementTest, DataSetOutlivesItsConnection) {
    auto ds = DataSet("SELECT * FROM OWNER_T where ID = 1");
    ds->Open();
    EXPECT_EQ(ds->FieldNamed("NAME").StringValue(), "one");
    connection_.reset();  // disconnects: the dataset is closed and lets go of the connection
    EXPECT_FALSE(ds->Active());
    EXPECT_EQ(ds->SQLConnection(), nullptr);
    EXPECT_EQ(ErrorOf([&] { ds->Open(); }), "SQLConnection property required for this operation");
}

}  // namespace
}  // namespace tarnwick::sql
