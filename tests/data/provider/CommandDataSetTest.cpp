// The command dataset, its provider and applying changes, against a real embedded database made
// by the test: the data side is wired as the window wires it (one owner, components found by name).

#include "data/clientdataset/CommandDataSet.h"
#include "data/provider/DataSetProvider.h"
#include "data/sql/SQLConnection.h"
#include "data/sql/SQLDataSet.h"
#include "sqlfb/TestStore.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

using provider::TDataSetProvider;
using sql::TSQLConnection;
using sql::TSQLDataSet;

constexpr const char* kSchema = R"(
CREATE TABLE PRODUCT (
  PROD_ID     VARCHAR(20) NOT NULL,
  PROD_NAME   VARCHAR(60),
  TAX_TYPE    CHAR(1),
  PRICE       NUMERIC(9,2),
  NOW_QTY     INTEGER,
  ON_SALE     BOOLEAN,
  SERIAL_NO   BIGINT,
  UPDATED_AT  TIMESTAMP,
  NOTE        BLOB SUB_TYPE TEXT,
  CONSTRAINT PK_PRODUCT PRIMARY KEY (PROD_ID)
);
CREATE TABLE LOOSE_ROWS (
  CODE VARCHAR(10),
  QTY  INTEGER
);
CREATE INDEX LOOSE_ROWS_CODE ON LOOSE_ROWS (CODE);
CREATE TABLE CODED_ROWS (
  CODE VARCHAR(10) UNIQUE,
  QTY  INTEGER
);
CREATE TABLE WATCHED (
  ID  VARCHAR(10) NOT NULL PRIMARY KEY,
  QTY INTEGER
);
CREATE TABLE TALLY (
  N INTEGER
);
)";

struct Refusal {
    std::string message;
    TUpdateKind kind;
    TReconcileAction proposed;
};

// An SQL dataset whose caller marks one more field as key by hand after every open.
class HandKeyedSQLDataSet : public TSQLDataSet {
public:
    using TSQLDataSet::TSQLDataSet;
    std::string HandKey;

protected:
    void AfterOpenDone() override {
        TSQLDataSet::AfterOpenDone();
        if (TField* field = FindFieldNamed(HandKey)) {
            TProviderFlags flags = field->ProviderFlags();
            flags.Include(pfInKey);
            field->SetProviderFlags(flags);
        }
    }
};

class CommandDataSetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { store_ = new testing::TestStore(std::string_view(kSchema)); }
    static void TearDownTestSuite() {
        delete store_;
        store_ = nullptr;
    }

    void SetUp() override {
        Run("DELETE FROM PRODUCT");
        Run("DELETE FROM LOOSE_ROWS");
        Run("DELETE FROM CODED_ROWS");
        Run("INSERT INTO PRODUCT (PROD_ID, PROD_NAME, TAX_TYPE, PRICE, NOW_QTY, ON_SALE, SERIAL_NO, UPDATED_AT, NOTE) "
            "VALUES ('P1', '綠茶', 'T', 25.50, 7, TRUE, 9000000000, '2026-12-10 08:30:00', '冷泡')");
        Run("INSERT INTO PRODUCT (PROD_ID, PROD_NAME, PRICE, NOW_QTY) VALUES ('P2', 'Black tea', 30, 3)");
        Run("INSERT INTO PRODUCT (PROD_ID, PROD_NAME, PRICE, NOW_QTY) VALUES ('P3', 'Oolong', 40, 1)");
    }

    void TearDown() override {
        owner_.reset();  // the data side goes before the shared connection's next user
    }

    // The components, owned by one owner like the window's.
    void Build(provider::TProviderOptions options = {provider::poAllowCommandText}, const std::string& handKey = {}) {
        owner_ = std::make_unique<TComponent>();
        connection_ = &TComponent::Create<TSQLConnection>(*owner_);
        connection_->SetName("SQLConnection1");
        connection_->SetConnectionName("Morvane");
        connection_->SetDriverName("Firebird");
        connection_->SetLoadParamsOnConnect(true);
        connection_->SetLoginPrompt(false);
        auto& sqlDataSet = TComponent::Create<HandKeyedSQLDataSet>(*owner_);
        sqlDataSet.HandKey = handKey;
        sqlDataSet_ = &sqlDataSet;
        sqlDataSet_->SetName("SQLDataSet2");
        sqlDataSet_->SetSQLConnection(connection_);
        sqlDataSet_->SetMaxBlobSize(-1);
        provider_ = &TComponent::Create<TDataSetProvider>(*owner_);
        provider_->SetName("DataSetProvider2");
        provider_->SetDataSet(sqlDataSet_);
        provider_->SetOptions(options);
        cds_ = &TComponent::Create<TCommandDataSet>(*owner_);
        cds_->SetName("ClientDataSet2");
        cds_->SetProviderName("DataSetProvider2");
        cds_->SetOnReconcileError([this](TCommandDataSet&, EReconcileError& e, TUpdateKind kind, TReconcileAction action) {
            refusals_.push_back({e.Message(), kind, action});
            return action;
        });
    }

    void OpenWith(const std::string& text) {
        cds_->Close();
        cds_->SetCommandText(text);
        cds_->Open();
    }

    // Edits QTY of the open row (one of rows sharing their key) and applies it inside a transaction
    // of the caller's that inserted ('D', 4) first: the update is refused alone, and the
    // transaction goes on and commits the insert.
    void ApplyUpdateOfSharedRowsInCallersTransaction() {
        cds_->BeginEdit();
        cds_->FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{9}));
        cds_->PostRecord();
        connection_->BeginTransaction(connection_->DefaultTransactionDesc());
        connection_->ExecuteStatement("INSERT INTO LOOSE_ROWS VALUES ('D', 4)", nullptr);
        EXPECT_EQ(cds_->ApplyChanges(0), 1);
        ASSERT_EQ(refusals_.size(), 1u);
        EXPECT_EQ(refusals_[0].message, "Update affected more than 1 record.");
        ASSERT_TRUE(connection_->TransactionActive());
        connection_->CommitTransaction(connection_->DefaultTransactionDesc());
    }

    static void Run(const std::string& sql) { store_->RunSql(sql + ";\n"); }

    // One value read straight from the database, "null" for null, "(none)" without a row.
    std::string Value(const std::string& select) {
        TSQLDataSet query(nullptr);
        query.SetSQLConnection(connection_);
        query.SetCommandText(select);
        query.Open();
        if (query.AtEnd()) return "(none)";
        const TField& field = query.FieldAt(0);
        return field.IsNull() ? "null" : field.StringValue();
    }

    static std::string MessageOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(no error)";
    }

    static testing::TestStore* store_;
    std::unique_ptr<TComponent> owner_;
    TSQLConnection* connection_ = nullptr;
    TSQLDataSet* sqlDataSet_ = nullptr;
    TDataSetProvider* provider_ = nullptr;
    TCommandDataSet* cds_ = nullptr;
    std::vector<Refusal> refusals_;
};

testing::TestStore* CommandDataSetTest::store_ = nullptr;

TEST_F(CommandDataSetTest, OpenBringsEveryRowAndFieldOrNone) {
    Build();
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P1'");
    EXPECT_TRUE(cds_->Active());
    EXPECT_EQ(cds_->RecordTotal(), 1);
    ASSERT_EQ(cds_->FieldTotal(), 9);
    EXPECT_EQ(cds_->FieldNamed("PROD_NAME").StringValue(), "綠茶");
    EXPECT_EQ(cds_->FieldNamed("TAX_TYPE").StringValue(), "T");
    EXPECT_EQ(cds_->FieldNamed("PRICE").StringValue(), "25.5");
    EXPECT_EQ(cds_->FieldNamed("NOW_QTY").StringValue(), "7");
    EXPECT_EQ(cds_->FieldNamed("SERIAL_NO").StringValue(), "9000000000");
    EXPECT_EQ(cds_->FieldNamed("NOTE").StringValue(), "冷泡");
    EXPECT_TRUE(cds_->FieldNamed("PROD_ID").ProviderFlags().Contains(pfInKey));
    EXPECT_FALSE(sqlDataSet_->Active()) << "the provider closes its dataset after the fetch";

    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'none'");
    EXPECT_EQ(cds_->RecordTotal(), 0);
    EXPECT_EQ(cds_->FieldTotal(), 9);

    OpenWith("SELECT * FROM PRODUCT");
    EXPECT_EQ(cds_->RecordTotal(), 3);
}

TEST_F(CommandDataSetTest, EditAndInsertAreWrittenByApply) {
    Build();
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P1'");
    cds_->BeginEdit();
    cds_->FieldNamed("PROD_NAME").SetVariantValue(TVariant("抹茶"));
    cds_->FieldNamed("PRICE").SetVariantValue(TVariant(19.9));
    cds_->PostRecord();
    EXPECT_EQ(cds_->ChangeCount(), 1);
    EXPECT_EQ(cds_->ApplyChanges(0), 0);
    EXPECT_EQ(cds_->ChangeCount(), 0);
    EXPECT_TRUE(cds_->Active());
    EXPECT_EQ(Value("SELECT PROD_NAME FROM PRODUCT WHERE PROD_ID = 'P1'"), "抹茶");
    EXPECT_EQ(Value("SELECT PRICE FROM PRODUCT WHERE PROD_ID = 'P1'"), "19.9");
    EXPECT_EQ(Value("SELECT NOTE FROM PRODUCT WHERE PROD_ID = 'P1'"), "冷泡");

    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P9'");
    cds_->BeginInsert();
    cds_->FieldNamed("PROD_ID").SetVariantValue(TVariant("P9"));
    cds_->FieldNamed("PROD_NAME").SetVariantValue(TVariant("新品"));
    cds_->FieldNamed("TAX_TYPE").SetVariantValue(TVariant("X"));
    cds_->FieldNamed("NOTE").SetVariantValue(TVariant("備註"));
    cds_->PostRecord();
    EXPECT_EQ(cds_->ApplyChanges(0), 0);
    EXPECT_EQ(Value("SELECT PROD_NAME FROM PRODUCT WHERE PROD_ID = 'P9'"), "新品");
    EXPECT_EQ(Value("SELECT TAX_TYPE FROM PRODUCT WHERE PROD_ID = 'P9'"), "X");
    EXPECT_EQ(Value("SELECT NOTE FROM PRODUCT WHERE PROD_ID = 'P9'"), "備註");
    EXPECT_EQ(Value("SELECT PRICE FROM PRODUCT WHERE PROD_ID = 'P9'"), "null");
    EXPECT_FALSE(connection_->TransactionActive());
    EXPECT_TRUE(refusals_.empty());
}

TEST_F(CommandDataSetTest, ApplyWithoutChangesReachesNothing) {
    Build();
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P1'");
    // Without its provider, any call on the held server fails (see ServerHeldAfterItsProviderWent):
    // an apply that reached the provider could not answer 0.
    owner_->RemoveComponent(*provider_).reset();
    provider_ = nullptr;
    EXPECT_EQ(cds_->ApplyChanges(0), 0);
    EXPECT_FALSE(connection_->TransactionActive());
    MessageOf([&] { cds_->Close(); });  // the reset call at close has no provider either
    EXPECT_EQ(MessageOf([&] { cds_->ApplyChanges(0); }),
              "ClientDataSet2: Cannot perform this operation on a closed dataset");
}

TEST_F(CommandDataSetTest, CloseDropsUnappliedChanges) {
    Build();
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P2'");
    cds_->BeginEdit();
    cds_->FieldNamed("NOW_QTY").SetVariantValue(TVariant(std::int32_t{99}));
    cds_->PostRecord();
    EXPECT_EQ(cds_->ChangeCount(), 1);
    cds_->Close();
    EXPECT_FALSE(cds_->HasAppServer());
    EXPECT_EQ(cds_->ChangeCount(), 0);
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P2'");
    EXPECT_EQ(cds_->FieldNamed("NOW_QTY").StringValue(), "3");
    EXPECT_EQ(Value("SELECT NOW_QTY FROM PRODUCT WHERE PROD_ID = 'P2'"), "3");
}

TEST_F(CommandDataSetTest, ExecuteDeletesWithoutOpening) {
    Build();
    Run("INSERT INTO LOOSE_ROWS VALUES ('A', 1)");
    cds_->Close();
    cds_->SetCommandText("DELETE FROM LOOSE_ROWS");
    cds_->ExecuteCommand();
    EXPECT_FALSE(cds_->Active());
    EXPECT_FALSE(connection_->TransactionActive());
    EXPECT_EQ(Value("SELECT COUNT(*) FROM LOOSE_ROWS"), "0");
    // The server stays held after an execute, until an open dataset is closed.
    EXPECT_TRUE(cds_->HasAppServer());
    cds_->Close();
    EXPECT_TRUE(cds_->HasAppServer());
}

TEST_F(CommandDataSetTest, RowChangedMeanwhileIsRefusedAndDropped) {
    Build();
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P2'");
    Run("UPDATE PRODUCT SET NOW_QTY = 4 WHERE PROD_ID = 'P2'");
    cds_->BeginEdit();
    cds_->FieldNamed("PROD_NAME").SetVariantValue(TVariant("Earl Grey"));
    cds_->PostRecord();
    EXPECT_EQ(cds_->ApplyChanges(0), 1);
    ASSERT_EQ(refusals_.size(), 1u);
    EXPECT_EQ(refusals_[0].message, "Record not found or changed by another user");
    EXPECT_EQ(refusals_[0].kind, ukModify);
    EXPECT_EQ(refusals_[0].proposed, raAbort);
    EXPECT_EQ(Value("SELECT PROD_NAME FROM PRODUCT WHERE PROD_ID = 'P2'"), "Black tea");
    EXPECT_FALSE(connection_->TransactionActive());
    // The refused change left the log: the next change on the same open dataset applies alone.
    EXPECT_EQ(cds_->ChangeCount(), 0);
    cds_->MoveFirst();
    cds_->BeginEdit();
    cds_->FieldNamed("PRICE").SetVariantValue(TVariant(std::int32_t{31}));
    cds_->PostRecord();
    Run("UPDATE PRODUCT SET NOW_QTY = 3 WHERE PROD_ID = 'P2'");
    EXPECT_EQ(cds_->ApplyChanges(0), 0);
    EXPECT_EQ(Value("SELECT PRICE FROM PRODUCT WHERE PROD_ID = 'P2'"), "31");
    EXPECT_EQ(Value("SELECT PROD_NAME FROM PRODUCT WHERE PROD_ID = 'P2'"), "Black tea");
}

TEST_F(CommandDataSetTest, DuplicateKeyInsertReportsTheDatabaseMessage) {
    Build();
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P1x'");
    cds_->BeginInsert();
    cds_->FieldNamed("PROD_ID").SetVariantValue(TVariant("P1"));
    cds_->FieldNamed("PROD_NAME").SetVariantValue(TVariant("dup"));
    cds_->PostRecord();
    EXPECT_EQ(cds_->ApplyChanges(0), 1);
    ASSERT_EQ(refusals_.size(), 1u);
    EXPECT_NE(refusals_[0].message.find("PK_PRODUCT"), std::string::npos) << refusals_[0].message;
    EXPECT_EQ(refusals_[0].kind, ukInsert);
    EXPECT_EQ(Value("SELECT PROD_NAME FROM PRODUCT WHERE PROD_ID = 'P1'"), "綠茶");
    EXPECT_EQ(cds_->ChangeCount(), 0);
}

TEST_F(CommandDataSetTest, TwoIdenticalRowsRollBackAtOnce) {
    Build();
    Run("INSERT INTO LOOSE_ROWS VALUES ('A', 1)");
    Run("INSERT INTO LOOSE_ROWS VALUES ('A', 1)");
    OpenWith("SELECT * FROM LOOSE_ROWS");
    ASSERT_EQ(cds_->RecordTotal(), 2);
    cds_->BeginEdit();
    cds_->FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{5}));
    cds_->PostRecord();
    EXPECT_EQ(cds_->ApplyChanges(0), 1);
    ASSERT_EQ(refusals_.size(), 1u);
    EXPECT_EQ(refusals_[0].message, "Update affected more than 1 record.");
    EXPECT_EQ(Value("SELECT SUM(QTY) FROM LOOSE_ROWS"), "2");
    EXPECT_FALSE(connection_->TransactionActive());
}

// When the transaction must outlive a failed row (failures tolerated, or the caller's own
// transaction), an update that matched two rows is taken back alone: nothing reported as applied
// is missing afterwards, and the caller's transaction and its work stay.
TEST_F(CommandDataSetTest, UpdateOfTwoRowsIsTakenBackAlone) {
    Build();
    Run("INSERT INTO LOOSE_ROWS VALUES ('A', 1)");
    Run("INSERT INTO LOOSE_ROWS VALUES ('A', 1)");
    Run("INSERT INTO LOOSE_ROWS VALUES ('B', 1)");
    OpenWith("SELECT * FROM LOOSE_ROWS ORDER BY CODE DESC");
    cds_->BeginEdit();  // B
    cds_->FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{7}));
    cds_->PostRecord();
    cds_->MoveNext();  // one of the two A rows
    cds_->BeginEdit();
    cds_->FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{5}));
    cds_->PostRecord();
    cds_->BeginInsert();
    cds_->FieldNamed("CODE").SetVariantValue(TVariant(std::string("C")));
    cds_->FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{3}));
    cds_->PostRecord();
    EXPECT_EQ(cds_->ApplyChanges(-1), 1);
    ASSERT_EQ(refusals_.size(), 1u);
    EXPECT_EQ(refusals_[0].message, "Update affected more than 1 record.");
    EXPECT_FALSE(connection_->TransactionActive());
    EXPECT_EQ(Value("SELECT LIST(CODE || QTY, ',') FROM (SELECT CODE, QTY FROM LOOSE_ROWS ORDER BY 1, 2)"), "A1,A1,B7,C3");

    refusals_.clear();
    OpenWith("SELECT * FROM LOOSE_ROWS where CODE = 'A'");
    ASSERT_NO_FATAL_FAILURE(ApplyUpdateOfSharedRowsInCallersTransaction());
    EXPECT_EQ(Value("SELECT LIST(CODE || QTY, ',') FROM (SELECT CODE, QTY FROM LOOSE_ROWS ORDER BY 1, 2)"), "A1,A1,B7,C3,D4");
}

// Inside the caller's transaction a row's statement runs behind a savepoint only when it could
// touch several rows; an update or delete found by the whole of a unique index cannot.
TEST_F(CommandDataSetTest, RowSavepointOnlyWhereSeveralRowsCouldMatch) {
    struct Case {
        const char* what;
        const char* row;  // inserted first
        const char* select;
        bool savepoint;
    } cases[] = {
        {"primary key", nullptr, "SELECT * FROM PRODUCT where PROD_ID = 'P2'", false},
        {"unique column", "INSERT INTO CODED_ROWS VALUES ('A', 1)", "SELECT * FROM CODED_ROWS", false},
        {"unique column, old value null", "INSERT INTO CODED_ROWS VALUES (NULL, 1)", "SELECT * FROM CODED_ROWS", true},
        {"only a non-unique index", "INSERT INTO LOOSE_ROWS VALUES ('A', 1)", "SELECT * FROM LOOSE_ROWS", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.row) Run(c.row);
        Build();
        refusals_.clear();
        OpenWith(c.select);
        cds_->BeginEdit();
        cds_->FieldNamed(std::string(c.select).find("PRODUCT") != std::string::npos ? "NOW_QTY" : "QTY")
            .SetVariantValue(TVariant(std::int32_t{8}));
        cds_->PostRecord();
        connection_->BeginTransaction(connection_->DefaultTransactionDesc());
        EXPECT_EQ(cds_->ApplyChanges(0), 0);
        EXPECT_TRUE(refusals_.empty());
        // Only a savepoint set by the apply can be gone back to.
        const std::string back =
            MessageOf([&] { connection_->ExecuteStatement("ROLLBACK TO SAVEPOINT APPLY_ROW", nullptr); });
        EXPECT_EQ(back == "(no error)", c.savepoint) << back;
        connection_->RollbackTransaction(connection_->DefaultTransactionDesc());
        owner_.reset();
    }
}

// A key set by hand on a column whose value several rows share: the update that matched them all
// is taken back alone, and the caller's transaction and its work stay.
TEST_F(CommandDataSetTest, HandSetKeyOverSharedValuesUndoesThatRowAlone) {
    Build({provider::poAllowCommandText}, "CODE");
    provider_->SetUpdateMode(provider::upWhereKeyOnly);
    Run("INSERT INTO LOOSE_ROWS VALUES ('A', 1)");
    Run("INSERT INTO LOOSE_ROWS VALUES ('A', 1)");
    Run("INSERT INTO LOOSE_ROWS VALUES ('B', 1)");
    OpenWith("SELECT * FROM LOOSE_ROWS where CODE = 'A'");
    ASSERT_NO_FATAL_FAILURE(ApplyUpdateOfSharedRowsInCallersTransaction());
    EXPECT_EQ(Value("SELECT LIST(CODE || QTY, ',') FROM (SELECT CODE, QTY FROM LOOSE_ROWS ORDER BY 1, 2)"), "A1,A1,B1,D4");
}

// The rows a trigger changes in other tables are not counted as rows the statement affected: an
// update or delete of one row reports one, so the rule above never mistakes it for several.
TEST_F(CommandDataSetTest, RowsChangedByTriggersAreNotCounted) {
    Build();
    connection_->ExecuteStatement("CREATE OR ALTER TRIGGER WATCHED_TALLY FOR WATCHED AFTER UPDATE OR DELETE AS "
                                  "BEGIN UPDATE TALLY SET N = N + 1; END",
                                  nullptr);
    Run("DELETE FROM TALLY");
    Run("DELETE FROM WATCHED");
    for (int i = 0; i < 3; ++i) Run("INSERT INTO TALLY VALUES (0)");
    Run("INSERT INTO WATCHED VALUES ('W1', 1)");
    Run("INSERT INTO WATCHED VALUES ('W2', 2)");
    connection_->BeginTransaction(connection_->DefaultTransactionDesc());
    sql::TParams params;
    params.AddValue(TVariant("W1"), ftString);
    EXPECT_EQ(connection_->ExecuteStatement("UPDATE WATCHED SET QTY = 5 WHERE ID = ?", &params), 1);
    EXPECT_EQ(connection_->ExecuteStatement("DELETE FROM WATCHED WHERE ID = ?", &params), 1);
    OpenWith("SELECT * FROM WATCHED where ID = 'W2'");
    cds_->BeginEdit();
    cds_->FieldNamed("QTY").SetVariantValue(TVariant(std::int32_t{9}));
    cds_->PostRecord();
    EXPECT_EQ(cds_->ApplyChanges(0), 0);
    EXPECT_TRUE(refusals_.empty());
    ASSERT_TRUE(connection_->TransactionActive());
    connection_->CommitTransaction(connection_->DefaultTransactionDesc());
    EXPECT_EQ(Value("SELECT SUM(N) FROM TALLY"), "9");
    EXPECT_EQ(Value("SELECT LIST(ID || QTY) FROM WATCHED"), "W29");
}

// Rows compared with null or with a value, written or not, one table then another: each row
// runs the statement of its own shape.
TEST_F(CommandDataSetTest, RowsOfDifferentShapesEachRunTheirOwnStatement) {
    Build();
    const auto edit = [&](const char* field, const TVariant& value) {
        cds_->BeginEdit();
        cds_->FieldNamed(field).SetVariantValue(value);
        cds_->PostRecord();
    };
    const auto products = [&] {
        return Value("SELECT LIST(PROD_ID || ':' || COALESCE(TAX_TYPE, '-') || ':' || NOW_QTY || ':' || PROD_NAME, ',') "
                     "FROM (SELECT * FROM PRODUCT ORDER BY PROD_ID)");
    };
    OpenWith("SELECT * FROM PRODUCT ORDER BY PROD_ID");  // P1 has a tax type, P2 and P3 none
    edit("NOW_QTY", TVariant(std::int32_t{11}));
    cds_->MoveNext();
    edit("NOW_QTY", TVariant(std::int32_t{12}));
    cds_->MoveNext();
    edit("PROD_NAME", TVariant("Oolong 2"));
    EXPECT_EQ(cds_->ApplyChanges(0), 0);
    EXPECT_EQ(products(), "P1:T:11:綠茶,P2:-:12:Black tea,P3:-:1:Oolong 2");

    OpenWith("SELECT * FROM LOOSE_ROWS");
    cds_->BeginInsert();
    cds_->FieldNamed("CODE").SetVariantValue(TVariant("L"));
    cds_->PostRecord();
    EXPECT_EQ(cds_->ApplyChanges(0), 0);

    OpenWith("SELECT * FROM PRODUCT ORDER BY PROD_ID");
    edit("TAX_TYPE", TVariant::Null());
    cds_->MoveNext();
    edit("TAX_TYPE", TVariant("X"));
    cds_->MoveNext();
    edit("NOW_QTY", TVariant(std::int32_t{13}));
    EXPECT_EQ(cds_->ApplyChanges(0), 0);
    EXPECT_TRUE(refusals_.empty());
    EXPECT_EQ(products(), "P1:-:11:綠茶,P2:X:12:Black tea,P3:-:13:Oolong 2");
    EXPECT_EQ(Value("SELECT CODE || COALESCE(QTY, 0) FROM LOOSE_ROWS"), "L0");
}

TEST_F(CommandDataSetTest, MaxErrorsDecidesHowFarAndWhetherToCommit) {
    struct Case {
        int maxErrors;
        std::vector<std::string> failing;  // rows changed behind the dataset's back
        int errors;
        const char* written;  // NOW_QTY of P1, P2, P3 afterwards
    } cases[] = {
        {-1, {"P1", "P3"}, 2, "50,11,52"},
        {0, {"P1", "P3"}, 1, "50,1,52"},
        {0, {"P3"}, 1, "0,1,52"},
        {2, {"P1", "P2", "P3"}, 3, "50,51,52"},
        {2, {"P1", "P3"}, 2, "50,11,52"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.maxErrors) + " with " + ::testing::PrintToString(c.failing.size()));
        SetUp();
        Run("UPDATE PRODUCT SET NOW_QTY = 0 WHERE PROD_ID = 'P1'");
        Run("UPDATE PRODUCT SET NOW_QTY = 1 WHERE PROD_ID = 'P2'");
        Run("UPDATE PRODUCT SET NOW_QTY = 2 WHERE PROD_ID = 'P3'");
        Build();
        refusals_.clear();
        OpenWith("SELECT * FROM PRODUCT ORDER BY PROD_ID");
        for (int i = 0; i < 3; ++i) {
            cds_->BeginEdit();
            cds_->FieldNamed("NOW_QTY").SetVariantValue(TVariant(std::int32_t{10 + i}));
            cds_->PostRecord();
            cds_->MoveNext();
        }
        for (const std::string& id : c.failing) Run("UPDATE PRODUCT SET NOW_QTY = 50 + NOW_QTY WHERE PROD_ID = '" + id + "'");
        EXPECT_EQ(cds_->ApplyChanges(c.maxErrors), c.errors);
        EXPECT_EQ(static_cast<int>(refusals_.size()), c.errors);
        EXPECT_EQ(Value("SELECT NOW_QTY FROM PRODUCT WHERE PROD_ID = 'P1'") + "," +
                      Value("SELECT NOW_QTY FROM PRODUCT WHERE PROD_ID = 'P2'") + "," +
                      Value("SELECT NOW_QTY FROM PRODUCT WHERE PROD_ID = 'P3'"),
                  c.written);
        EXPECT_FALSE(connection_->TransactionActive());
    }
}

TEST_F(CommandDataSetTest, ApplyInsideAnOpenTransactionLeavesItOpen) {
    Build();
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P3'");
    cds_->BeginEdit();
    cds_->FieldNamed("NOW_QTY").SetVariantValue(TVariant(std::int32_t{77}));
    cds_->PostRecord();
    connection_->BeginTransaction(connection_->DefaultTransactionDesc());
    EXPECT_EQ(cds_->ApplyChanges(0), 0);
    EXPECT_TRUE(connection_->TransactionActive());
    connection_->RollbackTransaction(connection_->DefaultTransactionDesc());
    EXPECT_EQ(Value("SELECT NOW_QTY FROM PRODUCT WHERE PROD_ID = 'P3'"), "1");
}

TEST_F(CommandDataSetTest, RejectedSelectArrivesTrimmedAndLeavesTheDataSetClosed) {
    Build();
    cds_->SetCommandText("SELECT * FROM NO_SUCH_TABLE");
    try {
        cds_->Open();
        FAIL() << "no error";
    } catch (const EOleException& e) {
        EXPECT_NE(e.Message().find("NO_SUCH_TABLE"), std::string::npos) << e.Message();
        const char last = e.Message().back();
        EXPECT_TRUE(last != '.' && static_cast<unsigned char>(last) > ' ') << e.Message();
        EXPECT_EQ(static_cast<std::uint32_t>(e.ErrorCode()), 0x8000FFFFu);
    }
    EXPECT_FALSE(cds_->Active());
    EXPECT_FALSE(cds_->HasAppServer());
    EXPECT_FALSE(sqlDataSet_->Active());
    OpenWith("SELECT * FROM PRODUCT");
    EXPECT_EQ(cds_->RecordTotal(), 3);
}

TEST_F(CommandDataSetTest, RequiredFieldLeftNullIsRefusedAtPost) {
    Build();
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'none'");
    cds_->BeginInsert();
    cds_->FieldNamed("PROD_NAME").SetVariantValue(TVariant("no key"));
    EXPECT_EQ(MessageOf([&] { cds_->PostRecord(); }), "Field 'PROD_ID' must have a value");
    EXPECT_EQ(cds_->State(), dsInsert);
    EXPECT_EQ(cds_->ChangeCount(), 0);
}

TEST_F(CommandDataSetTest, ProviderLookupAndProviderFailures) {
    Build();
    cds_->SetProviderName("NoSuchProvider");
    cds_->SetCommandText("SELECT * FROM PRODUCT");
    EXPECT_EQ(MessageOf([&] { cds_->Open(); }), "ClientDataSet2: Missing data provider or data packet");
    EXPECT_EQ(MessageOf([&] { cds_->ExecuteCommand(); }), "ClientDataSet2: Missing data provider or data packet");

    cds_->SetProviderName("DataSetProvider2");
    provider_->SetOptions({});
    EXPECT_EQ(MessageOf([&] { cds_->Open(); }), "CommandText changes are not allowed");
    EXPECT_FALSE(cds_->Active());

    provider_->SetOptions({provider::poAllowCommandText});
    provider_->SetDataSet(nullptr);
    EXPECT_EQ(MessageOf([&] { cds_->Open(); }), "Missing DataSet property");

    // The same text again changes nothing; parameters follow the markers of a new text.
    cds_->SetCommandText("SELECT * FROM PRODUCT where PROD_ID = :ID and NAME = ':NOT'");
    ASSERT_EQ(cds_->Params().size(), 1u);
    EXPECT_EQ(cds_->Params()[0].Name, "ID");
    cds_->Params()[0].Value = TVariant("P1");
    cds_->SetCommandText("SELECT * FROM PRODUCT where PROD_ID = :ID and NAME = ':NOT'");
    EXPECT_EQ(cds_->Params()[0].Value, TVariant("P1"));
    cds_->SetCommandText("SELECT * FROM PRODUCT");
    EXPECT_TRUE(cds_->Params().empty());
}

TEST_F(CommandDataSetTest, PacketCarriesFieldsKeysAndOrder) {
    Build();
    int recsOut = 0;
    TParamPacket params = TParamPacket::MakeNull();
    TVariant ownerData;
    const std::vector<std::uint8_t> packet = provider_->GetRecords(
        -1, recsOut, kGetRecordsMetaData, "SELECT * FROM PRODUCT ORDER BY PROD_NAME", params, ownerData);
    EXPECT_EQ(recsOut, 3);
    EXPECT_FALSE(sqlDataSet_->Active());
    EXPECT_EQ(provider_->RecordsSent(), 0) << "all rows sent: the provider reset itself";

    std::unique_ptr<dsengine::IDSBase> base;
    ASSERT_EQ(dsengine::CreateDSBase(base), 0u);
    ASSERT_EQ(base->AppendData(packet.data(), packet.size(), true), 0u);
    std::vector<dsengine::DSFLDDesc> descs;
    ASSERT_EQ(base->GetFieldDescs(descs), 0u);
    ASSERT_EQ(descs.size(), 9u);
    const auto param = [&](std::uint32_t field, const char* name) {
        std::string value;
        return base->GetOptParameter(field, name, value) == 0 ? value : std::string("(absent)");
    };
    EXPECT_EQ(std::string(descs[0].szName), "PROD_ID");
    EXPECT_TRUE(descs[0].iFldAttr & dsengine::fldAttrREQUIRED);
    EXPECT_EQ(param(1, "PROVFLAGS"), "7");
    EXPECT_EQ(param(2, "PROVFLAGS"), "(absent)");
    EXPECT_EQ(descs[2].iFldSubType, dsengine::fldstFIXED);  // TAX_TYPE CHAR(1)
    EXPECT_EQ(descs[3].iFldType, dsengine::fldBCD);          // PRICE NUMERIC(9,2)
    EXPECT_EQ(descs[3].iUnits1, 10);  // the digits an INTEGER holds
    EXPECT_EQ(descs[3].iUnits2, 2);
    EXPECT_EQ(descs[8].iFldType, dsengine::fldBLOB);
    EXPECT_EQ(descs[8].iFldSubType, dsengine::fldstMEMO);
    EXPECT_EQ(param(0, "PRIMARY_KEY"), "1");
    EXPECT_EQ(param(0, "DEFAULT_ORDER"), "2");
    EXPECT_NE(param(0, "LCID"), "(absent)");
    EXPECT_EQ(param(0, "DISABLE_EDITS"), "(absent)");

    // Without ORDER BY the primary key gives the order; the clause is found in any letter case.
    for (const auto& [text, order] : {std::pair{"SELECT * FROM PRODUCT", "1"},
                                      std::pair{"SELECT * FROM PRODUCT order by PROD_NAME", "2"}}) {
        const std::vector<std::uint8_t> again =
            provider_->GetRecords(-1, recsOut, kGetRecordsMetaData, text, params, ownerData);
        std::unique_ptr<dsengine::IDSBase> read;
        ASSERT_EQ(dsengine::CreateDSBase(read), 0u);
        ASSERT_EQ(read->AppendData(again.data(), again.size(), true), 0u);
        std::string value;
        EXPECT_EQ(read->GetOptParameter(0, "DEFAULT_ORDER", value), 0u) << text;
        EXPECT_EQ(value, order) << text;
    }
}

// Packet after packet of one statement shape: each packet carries its own rows, and a changed
// option or another table changes what the packets describe.
TEST_F(CommandDataSetTest, RepeatedPacketsFollowOptionsAndTables) {
    Build();
    struct TRead {
        std::vector<dsengine::DSFLDDesc> descs;
        std::unique_ptr<dsengine::IDSBase> base;
        std::string Param(std::uint32_t field, const char* name) const {
            std::string value;
            return base->GetOptParameter(field, name, value) == 0 ? value : std::string("(absent)");
        }
    };
    const auto read = [&](const std::string& text, int expectedRows) {
        int recsOut = 0;
        TParamPacket params = TParamPacket::MakeNull();
        TVariant ownerData;
        const std::vector<std::uint8_t> packet =
            provider_->GetRecords(-1, recsOut, kGetRecordsMetaData, text, params, ownerData);
        EXPECT_EQ(recsOut, expectedRows) << text;
        TRead r;
        EXPECT_EQ(dsengine::CreateDSBase(r.base), 0u);
        EXPECT_EQ(r.base->AppendData(packet.data(), packet.size(), true), 0u) << text;
        EXPECT_EQ(r.base->GetFieldDescs(r.descs), 0u);
        return r;
    };
    for (const char* key : {"P1", "P2", "P9"}) {
        const TRead r = read(std::string("SELECT * FROM PRODUCT where PROD_ID = '") + key + "'", key[1] == '9' ? 0 : 1);
        ASSERT_EQ(r.descs.size(), 9u) << key;
        EXPECT_EQ(r.Param(0, "PRIMARY_KEY"), "1") << key;
        EXPECT_EQ(r.Param(1, "PROVFLAGS"), "7") << key;
        EXPECT_EQ(r.Param(0, "READONLY"), "(absent)") << key;
    }
    provider_->SetOptions({provider::poAllowCommandText, provider::poReadOnly});
    EXPECT_EQ(read("SELECT * FROM PRODUCT where PROD_ID = 'P3'", 1).Param(0, "READONLY"), "TRUE");
    provider_->SetOptions({provider::poAllowCommandText});
    EXPECT_EQ(read("SELECT * FROM PRODUCT where PROD_ID = 'P2'", 1).Param(0, "READONLY"), "(absent)");

    const TRead loose = read("SELECT * FROM LOOSE_ROWS where CODE = 'A'", 0);
    ASSERT_EQ(loose.descs.size(), 2u);
    EXPECT_EQ(std::string(loose.descs[0].szName), "CODE");
    EXPECT_EQ(loose.Param(0, "PRIMARY_KEY"), "(absent)");
    EXPECT_EQ(loose.Param(1, "PROVFLAGS"), "(absent)");
    const TRead back = read("SELECT * FROM PRODUCT where PROD_ID = 'P1'", 1);
    EXPECT_EQ(back.Param(0, "PRIMARY_KEY"), "1");
    EXPECT_EQ(std::string(back.descs[8].szName), "NOTE");
}

// The provider's answer to a refused row: one error row with the six error columns and the row's
// current values read back from the database where they differ from the old ones.
TEST_F(CommandDataSetTest, ErrorPacketCarriesTheFailureAndCurrentValues) {
    Build();
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P2'");
    cds_->BeginEdit();
    cds_->FieldNamed("PROD_NAME").SetVariantValue(TVariant("Assam"));
    cds_->PostRecord();
    Run("UPDATE PRODUCT SET NOW_QTY = 42 WHERE PROD_ID = 'P2'");
    std::vector<std::uint8_t> delta;
    ASSERT_EQ(cds_->DSBase()->GetDelta(delta), 0u);
    int errorCount = 0;
    TVariant ownerData;
    const std::vector<std::uint8_t> errors = provider_->ApplyUpdates(delta, -1, errorCount, ownerData);
    EXPECT_EQ(errorCount, 1);
    EXPECT_FALSE(connection_->TransactionActive());
    ASSERT_FALSE(errors.empty());

    std::unique_ptr<dsengine::IDSBase> base;
    std::unique_ptr<dsengine::IDSCursor> cursor;
    ASSERT_EQ(dsengine::CreateDSBase(base), 0u);
    ASSERT_EQ(base->AppendData(errors.data(), errors.size(), true), 0u);
    ASSERT_EQ(dsengine::CreateDSCursor(cursor), 0u);
    ASSERT_EQ(cursor->InitCursor(base.get()), 0u);
    std::uint32_t count = 0, size = 0;
    ASSERT_EQ(cursor->GetRecordCount(count), 0u);
    ASSERT_EQ(count, 1u);
    ASSERT_EQ(cursor->GetProp(dsengine::curpropRECORDSIZE, size), 0u);
    std::vector<std::uint8_t> record(size);
    ASSERT_EQ(cursor->MoveRelative(1), 0u);
    ASSERT_EQ(cursor->GetCurrentRecord(record.data()), 0u);
    std::vector<dsengine::DSFLDDesc> descs;
    ASSERT_EQ(base->GetFieldDescs(descs), 0u);
    const auto fieldNo = [&](const std::string& name) {
        for (std::size_t i = 0; i < descs.size(); ++i)
            if (name == descs[i].szName) return static_cast<std::uint32_t>(i + 1);
        return 0u;
    };
    const auto intOf = [&](const std::string& name) {
        std::int32_t v = -1;
        std::uint32_t blank = 0;
        cursor->GetField(record.data(), fieldNo(name), &v, blank);
        return blank == dsengine::BLANK_NONE ? v : -1;
    };
    std::vector<char> text(2048, 0);
    std::uint32_t blank = 0;
    ASSERT_EQ(cursor->GetField(record.data(), fieldNo("ERROR_MESSAGE"), text.data(), blank), 0u);
    EXPECT_STREQ(text.data(), "Record not found or changed by another user");
    EXPECT_EQ(intOf("ERROR_RECORDNO"), 2);  // the modified row, after its old-values row
    EXPECT_EQ(intOf("ERROR_RESPONSE"), 1);  // rrSkip + 1 with no limit
    EXPECT_EQ(intOf("ERROR_CATEGORY"), 1);
    EXPECT_EQ(intOf("ERROR_ERRORCODE"), 1);
    EXPECT_EQ(intOf("NOW_QTY"), 42) << "the current value read back";
    EXPECT_EQ(intOf("PRICE") , -1) << "unchanged values are not conflict values";
}

TEST_F(CommandDataSetTest, ReadOnlyProviderRefusesTheWholeApply) {
    Build({provider::poAllowCommandText, provider::poReadOnly});
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P1'");
    EXPECT_EQ(MessageOf([&] { cds_->BeginEdit(); }), "ClientDataSet2: Cannot modify a read-only dataset");
    provider_->SetOptions({provider::poAllowCommandText});
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P1'");
    cds_->BeginEdit();
    cds_->FieldNamed("NOW_QTY").SetVariantValue(TVariant(std::int32_t{8}));
    cds_->PostRecord();
    provider_->SetOptions({provider::poAllowCommandText, provider::poReadOnly});
    EXPECT_EQ(MessageOf([&] { cds_->ApplyChanges(0); }), "Cannot apply updates to a ReadOnly provider");
    EXPECT_FALSE(connection_->TransactionActive());
    EXPECT_EQ(cds_->ChangeCount(), 1) << "the change stays for a later apply";
    EXPECT_EQ(Value("SELECT NOW_QTY FROM PRODUCT WHERE PROD_ID = 'P1'"), "7");
}

TEST_F(CommandDataSetTest, FailingReconcileHandlerAbortsTheRowWithoutRaising) {
    Build();
    cds_->SetOnReconcileError([](TCommandDataSet&, EReconcileError&, TUpdateKind, TReconcileAction) -> TReconcileAction {
        throw EDatabaseError("handler broke");
    });
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'x'");
    cds_->BeginInsert();
    cds_->FieldNamed("PROD_ID").SetVariantValue(TVariant("P3"));
    cds_->PostRecord();
    EXPECT_EQ(cds_->ApplyChanges(0), 1);
    EXPECT_EQ(cds_->ReconcileHandlerError(), "handler broke");
    EXPECT_EQ(cds_->ChangeCount(), 0);
}

TEST_F(CommandDataSetTest, ReconcileHandlerThatClosesTheDatasetClosesItOnceReconciled) {
    Build();
    int calls = 0;
    cds_->SetOnReconcileError([&calls](TCommandDataSet& ds, EReconcileError&, TUpdateKind, TReconcileAction action) {
        ++calls;
        ds.Close();
        return action;
    });
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'x'");
    for (const char* id : {"P2", "P9", "P3"}) {  // P2 and P3 exist already
        cds_->BeginInsert();
        cds_->FieldNamed("PROD_ID").SetVariantValue(TVariant(id));
        cds_->PostRecord();
    }
    EXPECT_EQ(cds_->ApplyChanges(-1), 2);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(cds_->Active());
    EXPECT_TRUE(cds_->ReconcileHandlerError().empty());
    EXPECT_EQ(Value("SELECT COUNT(*) FROM PRODUCT"), "4");
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P9'");
    EXPECT_EQ(cds_->RecordTotal(), 1);
}

TEST_F(CommandDataSetTest, ServerHeldAfterItsProviderWentFailsCleanly) {
    Build();
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P1'");
    cds_->BeginEdit();
    cds_->FieldNamed("NOW_QTY").SetVariantValue(TVariant(std::int32_t{8}));
    cds_->PostRecord();
    owner_->RemoveComponent(*provider_).reset();
    provider_ = nullptr;
    EXPECT_EQ(MessageOf([&] { cds_->ApplyChanges(0); }), "Missing data provider or data packet");
    // The reset call at close reports the same; the dataset is closed all the same.
    EXPECT_EQ(MessageOf([&] { cds_->Close(); }), "Missing data provider or data packet");
    EXPECT_FALSE(cds_->Active());
    EXPECT_FALSE(cds_->HasAppServer());
    EXPECT_EQ(Value("SELECT NOW_QTY FROM PRODUCT WHERE PROD_ID = 'P1'"), "7");
}

TEST_F(CommandDataSetTest, PacketOptionsReachTheCommandDataSet) {
    Build({provider::poAllowCommandText, provider::poDisableEdits, provider::poDisableInserts});
    OpenWith("SELECT * FROM PRODUCT where PROD_ID = 'P1'");
    EXPECT_TRUE(cds_->EditsDisabled());
    EXPECT_EQ(MessageOf([&] { cds_->BeginEdit(); }), "ClientDataSet2: Modifications are not allowed");
    EXPECT_EQ(MessageOf([&] { cds_->BeginInsert(); }), "ClientDataSet2: Inserts are not allowed");
}

}  // namespace
}  // namespace tarnwick
