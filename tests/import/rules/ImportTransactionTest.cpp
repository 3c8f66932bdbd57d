// When the import commits: a full-replace file as one transaction, keyed files and bill files in
// batches of whole records and bills, a failure rolling back what is not committed, refused
// records undoing themselves alone, and rejected/ keeping only refusals of committed work.

#include "ImportFixture.h"

#include <ibase.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "base/Text.h"

namespace tarnwick::import::testing {
namespace {

namespace fs = std::filesystem;
using sampledata::TRow;

class ImportTransactionTest : public ImportStore {
protected:
    // The walk's failure message; "(no failure)" when it went through.
    std::string WalkFailure() {
        try {
            Walk();
        } catch (const Exception& failure) {
            return failure.Message();
        }
        return "(no failure)";
    }

    // Every table of the store, each row as its column texts.
    std::map<std::string, std::vector<std::string>> AllTables() {
        std::map<std::string, std::vector<std::string>> tables;
        for (const sampledata::TTable& table : sampledata::ParseSchema(storedb::StoreSchema())) {
            std::string order;
            for (std::size_t i = 1; i <= table.Columns.size(); ++i) {
                if (table.Columns[i - 1].SqlType.starts_with("BLOB")) continue;
                order += (order.empty() ? "" : ", ") + std::to_string(i);
            }
            tables[table.Name] = Rows("SELECT * FROM " + table.Name + " ORDER BY " + order);
        }
        return tables;
    }

    // A new data module on the same store, committing as `eachRecord` says.
    void Renew(bool eachRecord) {
        data_ = std::make_unique<TImportData>(store_.Folder());
        data_->SetCommitEachRecord(eachRecord);
        rules_ = MakeStoreRules(*data_);
        view_ = TTestView();
    }

    void EmptyEveryTable() {
        std::string script;
        for (const sampledata::TTable& table : sampledata::ParseSchema(storedb::StoreSchema()))
            script += "DELETE FROM " + table.Name + ";\n";
        data_.reset();
        Sql(script);
        fs::remove_all(RejectedFolder());
    }

    std::vector<std::string> Log() { return LogLines(RejectedFolder() + "rejected.log"); }

    // One statement on the import's own connection (scripts split at every ";").
    void Exec(const std::string& sql) { data_->SQLConnection1.ExecuteStatement(sql, nullptr); }
};

// The fields of a store table with one of them a text field in the file, so that a value the
// table's field cannot take reaches the record copy.
sampledata::TTable WithTextField(const std::string& table, const std::string& field) {
    sampledata::TTable copy = sampledata::StoreTable(table);
    for (sampledata::TColumn& column : copy.Columns)
        if (column.Name == field) column = {field, "VARCHAR", 10, 0, false, false};
    return copy;
}

std::string ClassFile(ImportStore&, const std::vector<TRow>& rows) {
    return sampledata::PacketXml(WithTextField("MEMBER_CLASS", "DISCOUNT_RATE"), rows);
}

TRow Class(const std::string& id, const std::string& rate) {
    return {{"CLASS_ID", id}, {"CLASS_NAME", "級" + id}, {"DISCOUNT_RATE", rate}, {"POINT_RATE", "1.5"}};
}

// The sample files of every rule and the import tests' edge cases, once with a transaction per
// record and once per file: the tables end the same, and so do the refusals kept.
TEST_F(ImportTransactionTest, EachRecordAndPerFileEndTheSame) {
    const auto putAll = [&] {
        view_.memo1.clear();
        for (const std::string& name : sampledata::WriteSampleFiles(download_)) view_.memo1.push_back(download_ + name);
        const std::string tooLong(41, 'x');
        Put("EC__PROD_SALE__1.XML", "PROD_SALE",
            {{{"SALE_ID", "1"}, {"PROD_ID", "P1"}}, {{"SALE_ID", "1"}, {"PROD_ID", "duplicate"}}, {{"SALE_ID", "2"}, {"PROD_ID", "P2"}}});
        Put("EC__MEMBER__1.XML", "MEMBER", {{{"MEMBER_ID", "M1"}, {"MEMBER_NAME", tooLong}}, {{"MEMBER_ID", "M2"}, {"MEMBER_NAME", "王小明"}}});
        Put("EC__PROD_ITEM__1.XML", "PROD_ITEM", {{{"PD_ITEMID", "  "}, {"PD_ITEMNAME", "blank"}}, {{"PD_ITEMID", "I9"}}});
        Put("EC__PTSALE_MASTER__1.XML", "PTSALE_MASTER",
            {{{"MASTERBILLID", "T1"}, {"EMPLOYEE_ID", "E1"}}, {{"MASTERBILLID", "T2"}, {"EMPLOYEE_ID", std::string(11, 'e')}},
             {{"MASTERBILLID", "T0*"}}});
        Put("EC__PTSALE_SUB__1.XML", "PTSALE_SUB",
            {{{"MASTERBILLID", "T1"}, {"LINE_NO", "1"}}, {{"MASTERBILLID", "T2"}, {"LINE_NO", "1"}},
             {{"MASTERBILLID", "T0*"}, {"LINE_NO", "1"}}, {{"MASTERBILLID", "T01"}, {"LINE_NO", "1"}}});
    };
    Sql("INSERT INTO PTSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('T2', 1, 'stored')");
    Renew(false);
    putAll();
    Walk();
    const auto perFile = AllTables();
    const auto perFileLog = Log().size();
    EXPECT_GT(data_->Rejected().Count(), 0);

    EmptyEveryTable();
    Sql("INSERT INTO PTSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('T2', 1, 'stored')");
    Renew(true);
    putAll();
    Walk();
    EXPECT_EQ(Log().size(), perFileLog);
    const auto perRecord = AllTables();
    for (const auto& [table, rows] : perFile) {
        EXPECT_EQ(perRecord.at(table), rows) << table;
        if (table != "ADDCASH_SUB") {
            EXPECT_FALSE(rows.empty()) << table;
        }
    }
    // T2's master was refused: its stored line stays; T01 is not bill T0*'s line.
    EXPECT_EQ(Rows("SELECT MASTERBILLID, LINE_NO, PROD_ID FROM PTSALE_SUB WHERE MASTERBILLID STARTING WITH 'T' ORDER BY 1"),
              (std::vector<std::string>{"T0*|1|", "T1|1|", "T2|1|stored"}));
}

// A failure that ends the chain rolls back what its file had not committed.
TEST_F(ImportTransactionTest, FailureGivesBackWhatWasNotCommitted) {
    std::string classes;
    for (int i = 0; i < 40; ++i)
        classes += "INSERT INTO MEMBER_CLASS (CLASS_ID, CLASS_NAME) VALUES ('O" + std::to_string(i) + "', 'old');\n";
    Sql(classes);
    Sql("INSERT INTO PSALE_MASTER (MASTERBILLID, EMPLOYEE_ID) VALUES ('B1', 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 1, 'stored');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 2, 'stored');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B2', 1, 'stored')");
    const auto before = AllTables();

    struct Case {
        const char* what;
        std::function<void()> put;
        const char* message;  // how the failure's message begins
    };
    const std::vector<Case> cases{
        {"full replace, field missing",
         [&] { Put("HQ__MEMBER_CLASS__1.XML", "MEMBER_CLASS", {Class("A", "1"), Class("B", "2")}, {"POINT_RATE"}); },
         "ClientDataSet1: Field 'POINT_RATE' not found"},
        {"full replace, value that does not convert",
         [&] { PutBytes("HQ__MEMBER_CLASS__1.XML", ClassFile(*this, {Class("A", "1"), Class("B", "2"), Class("C", "abc")})); },
         "Invalid value for field 'DISCOUNT_RATE'"},
        {"bill, detail field missing",
         [&] {
             Put("HQ__PSALE_MASTER__1.XML", "PSALE_MASTER", {{{"MASTERBILLID", "B1"}, {"EMPLOYEE_ID", "new"}}});
             Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB", {{{"MASTERBILLID", "B1"}, {"LINE_NO", "1"}}}, {"PRICE"});
         },
         "CDS_Mast: Field 'PRICE' not found"},
        {"bill, second bill's delete refused by the database",
         [&] {
             Exec("CREATE EXCEPTION E_KEEP 'lines of B2 are kept'");
             Exec("CREATE TRIGGER T_KEEP FOR PSALE_SUB BEFORE DELETE AS BEGIN "
                  "IF (OLD.MASTERBILLID = 'B2') THEN EXCEPTION E_KEEP; END");
             Put("HQ__PSALE_MASTER__1.XML", "PSALE_MASTER",
                 {{{"MASTERBILLID", "B1"}, {"EMPLOYEE_ID", "new"}}, {{"MASTERBILLID", "B2"}, {"EMPLOYEE_ID", "new"}}});
             Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB",
                 {{{"MASTERBILLID", "B1"}, {"LINE_NO", "1"}}, {{"MASTERBILLID", "B2"}, {"LINE_NO", "1"}}});
         },
         "E_KEEP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Renew(false);
        c.put();
        const std::string message = WalkFailure();
        EXPECT_NE(message, "(no failure)");
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_EQ(message.find("kept in"), std::string::npos) << message;
        EXPECT_EQ(AllTables(), before);
        EXPECT_FALSE(fs::exists(RejectedFolder())) << "nothing was committed, so nothing is kept";
        EXPECT_FALSE(data_->SQLConnection1.TransactionActive());
    }
}

// A keyed file keeps its committed batches, and only their refusals: the failure's message says
// how many were kept.
TEST_F(ImportTransactionTest, KeyedFileKeepsWholeCommittedBatches) {
    Renew(false);
    data_->CommitPolicy().BatchRecords = 3;
    data_->CommitPolicy().BatchTime = std::chrono::hours(1);
    const std::string tooLong(41, 'x');
    // SORT_NO comes as text, so that "many" reaches the record copy.
    const sampledata::TTable depart = WithTextField("PROD_DEPART", "SORT_NO");
    PutBytes("HQ__PROD_DEPART__1.XML",
             sampledata::PacketXml(depart,
                                   {{{"PD_DEPID", "D1"}, {"PD_DEPNAME", tooLong}},  // refused, batch 1 commits: kept
                                    {{"PD_DEPID", "D2"}},
                                    {{"PD_DEPID", "D3"}},
                                    {{"PD_DEPID", "D4"}, {"PD_DEPNAME", tooLong}},  // refused, batch 2 rolls back: dropped
                                    {{"PD_DEPID", "D5"}, {"SORT_NO", "many"}}}));
    const std::string message = WalkFailure();
    EXPECT_NE(message.find("\n" + KeptRefusalsText(1, RejectedFolder())), std::string::npos) << message;
    EXPECT_EQ(KeptRefusalsText(2, "/s/rejected/"),
              "2 records refused by the database before this failure are kept in /s/rejected/ "
              "(one data packet per file, reasons in rejected.log)");
    EXPECT_EQ(Rows("SELECT PD_DEPID FROM PROD_DEPART ORDER BY 1"), (std::vector<std::string>{"D2", "D3"}));
    const std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("PD_DEPID = 'D1'"), std::string::npos);
    TClientDataSet packet;
    packet.LoadPacketFile(RejectedFolder() + "HQ__PROD_DEPART__1.XML");
    EXPECT_EQ(packet.RecordTotal(), 1);

    // The fixed file, run again, writes what was rolled back; D1, refused again, gets its second line.
    view_.memo1.clear();
    Renew(false);
    Put("HQ__PROD_DEPART__1.XML", "PROD_DEPART",
        {{{"PD_DEPID", "D1"}, {"PD_DEPNAME", tooLong}}, {{"PD_DEPID", "D4"}}, {{"PD_DEPID", "D5"}, {"SORT_NO", "5"}}});
    EXPECT_EQ(WalkFailure(), "(no failure)");
    EXPECT_EQ(Rows("SELECT PD_DEPID FROM PROD_DEPART ORDER BY 1"), (std::vector<std::string>{"D2", "D3", "D4", "D5"}));
    EXPECT_EQ(Log().size(), 2u);
}

// Inside a file's transaction a refused record undoes itself alone: a duplicate key, a CHECK
// constraint, and an update that matches two rows.
TEST_F(ImportTransactionTest, RefusedRecordUndoesItselfAlone) {
    Sql("ALTER TABLE PROD_DEPART DROP CONSTRAINT PK_PROD_DEPART;"
        "ALTER TABLE PROD_DEPART ADD CONSTRAINT CK_DEPNAME CHECK (PD_DEPNAME <> 'bad');"
        "INSERT INTO PROD_DEPART (PD_DEPID, PD_DEPNAME) VALUES ('D2', 'twin');"
        "INSERT INTO PROD_DEPART (PD_DEPID, PD_DEPNAME) VALUES ('D2', 'twin')");
    for (const bool eachRecord : {false, true}) {
        SCOPED_TRACE(eachRecord ? "each record" : "per file");
        Sql("DELETE FROM PROD_DEPART WHERE PD_DEPID <> 'D2'; DELETE FROM PROD_SALE");
        Renew(eachRecord);
        Put("HQ__PROD_DEPART__1.XML", "PROD_DEPART",
            {{{"PD_DEPID", "D1"}, {"PD_DEPNAME", "one"}},
             {{"PD_DEPID", "D2"}, {"PD_DEPNAME", "changed"}},
             {{"PD_DEPID", "D3"}, {"PD_DEPNAME", "bad"}},
             {{"PD_DEPID", "D4"}, {"PD_DEPNAME", "four"}}});
        Put("HQ__PROD_SALE__1.XML", "PROD_SALE",
            {{{"SALE_ID", "1"}, {"PROD_ID", "P1"}}, {{"SALE_ID", "1"}, {"PROD_ID", "again"}}, {{"SALE_ID", "2"}, {"PROD_ID", "P2"}}});
        EXPECT_EQ(WalkFailure(), "(no failure)");
        EXPECT_EQ(Rows("SELECT PD_DEPID, PD_DEPNAME FROM PROD_DEPART ORDER BY 1, 2"),
                  (std::vector<std::string>{"D1|one", "D2|twin", "D2|twin", "D4|four"}));
        EXPECT_EQ(Rows("SELECT SALE_ID, PROD_ID FROM PROD_SALE ORDER BY 1"), (std::vector<std::string>{"1|P1", "2|P2"}));
        EXPECT_EQ(data_->Rejected().Count(), 3);
        EXPECT_FALSE(data_->SQLConnection1.TransactionActive());
    }
    const std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_NE(log[0].find("Update affected more than 1 record."), std::string::npos) << log[0];
    EXPECT_NE(log[1].find("CK_DEPNAME"), std::string::npos) << log[1];
    EXPECT_NE(log[2].find("PRIMARY"), std::string::npos) << log[2];
}

// ---- locks held by the import, seen from a register's own connection ------------------------

// A progress bar whose position another thread may read.
class TSharedBar : public IProgressBar {
public:
    int Max() const override { return max_; }
    void SetMax(int max) override { max_ = max; }
    int Position() const override { return position_; }
    void SetPosition(int position) override { position_ = position; }

private:
    std::atomic<int> max_{0}, position_{0};
};

class TThreadView : public TTestView {
public:
    IProgressBar& ProgressBar1() override { return shared; }
    TSharedBar shared;
};

// A register's update on its own attachment, in a transaction that waits for locks.
struct TRegisterUpdate {
    double Waited = 0;    // seconds
    std::string Outcome;  // "updated", or the server's message
};

TRegisterUpdate RegisterUpdate(const std::string& database, const std::string& key) {
    ISC_STATUS_ARRAY status;
    isc_db_handle db = 0;
    std::string dpb{static_cast<char>(isc_dpb_version1)};
    const auto add = [&](char item, const std::string& value) {
        dpb += item;
        dpb += static_cast<char>(value.size());
        dpb += value;
    };
    add(isc_dpb_user_name, "SYSDBA");
    add(isc_dpb_password, tarnwick::testing::TestStore::kPassword);
    TRegisterUpdate result;
    if (isc_attach_database(status, 0, database.c_str(), &db, static_cast<short>(dpb.size()), dpb.data()) != 0) {
        result.Outcome = "attach failed";
        return result;
    }
    const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait};
    isc_tr_handle tr = 0;
    isc_start_transaction(status, &tr, 1, &db, static_cast<unsigned short>(sizeof tpb), tpb);
    const std::string sql = "UPDATE PRODUCT SET NOW_QTY = NOW_QTY - 1 WHERE PROD_ID = '" + key + "'";
    const auto start = std::chrono::steady_clock::now();
    const ISC_STATUS failed = isc_dsql_execute_immediate(status, &db, &tr, 0, sql.c_str(), 3, nullptr);
    result.Waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failed == 0) {
        result.Outcome = "updated";
        isc_commit_transaction(status, &tr);
    } else {
        char text[512];
        const ISC_STATUS* vector = status;
        while (fb_interpret(text, sizeof text, &vector) > 0) result.Outcome += (result.Outcome.empty() ? "" : "; ") + std::string(text);
        ISC_STATUS_ARRAY ignored;
        isc_rollback_transaction(ignored, &tr);
    }
    ISC_STATUS_ARRAY ignored;
    isc_detach_database(ignored, &db);
    return result;
}

// While a long keyed file is imported, a register updating a product the import has just
// written waits at most for the import's batch to commit: never longer than about a second.
TEST_F(ImportTransactionTest, RegisterWaitsAtMostForOneBatch) {
    constexpr int kProducts = 12000;
    Renew(false);
    Exec(Format("EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= %d) DO BEGIN "
               "INSERT INTO PRODUCT (PROD_ID, PROD_NAME, NOW_QTY, BEFORE_QTY) VALUES ('P' || LPAD(:I, 7, '0'), 'old', 100, 0); "
               "I = I + 1; END END",
               kProducts));
    const sampledata::TTable& product = sampledata::StoreTable("PRODUCT");
    TThreadView view;
    const std::string path = download_ + "HQ__PRODUCT__1.XML";
    sampledata::WriteFile(path, sampledata::PacketXml(product, sampledata::SampleRows(product, kProducts, 1, 3)));
    view.memo1.push_back(path);

    std::atomic<bool> done{false};
    std::string failure;
    std::thread import([&] {
        try {
            BuildWorkList(view);
            WalkWorkList(view, rules_);
        } catch (const Exception& e) {
            failure = e.Message();
        }
        done = true;
    });
    std::vector<TRegisterUpdate> updates;
    while (!done && updates.size() < 8) {
        const int position = view.shared.Position();
        if (position < 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        updates.push_back(RegisterUpdate(store_.Database(), sampledata::SampleKey(product.Columns[0], position - 1)));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    import.join();
    EXPECT_EQ(failure, "");
    ASSERT_FALSE(updates.empty()) << "the import ended before a register could try";
    double longest = 0;
    for (const TRegisterUpdate& update : updates) {
        longest = std::max(longest, update.Waited);
        std::printf("register update waited %.3f s: %s\n", update.Waited, update.Outcome.c_str());
        EXPECT_LT(update.Waited, 1.5) << update.Outcome;
        // Firebird 3 does not retry a read-committed update that waited for a row a committed
        // transaction changed meanwhile: the register gets the update conflict and tries again.
        EXPECT_TRUE(update.Outcome == "updated" || update.Outcome.find("update conflicts") != std::string::npos)
            << update.Outcome;
    }
    std::printf("longest register wait: %.3f s over %zu updates\n", longest, updates.size());
}

}  // namespace
}  // namespace tarnwick::import::testing
