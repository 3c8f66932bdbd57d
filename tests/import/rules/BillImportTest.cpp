// Bills end to end: the detail file found by its table name anywhere in the work list, every
// bill's master upserted and its stored lines replaced by those of the detail file.

#include "ImportFixture.h"

#include <fstream>
#include <iterator>

#include "import/SqlText.h"

namespace tarnwick::import::testing {
namespace {

using sampledata::TRow;

TRow Master(const std::string& bill, const std::string& employee) {
    return {{"MASTERBILLID", bill}, {"EMPLOYEE_ID", employee}};
}
TRow Line(const std::string& bill, int line, const std::string& product) {
    return {{"MASTERBILLID", bill}, {"LINE_NO", std::to_string(line)}, {"PROD_ID", product}};
}

class BillImportTest : public ImportStore {
protected:
    std::vector<std::string> Lines() {
        return Rows("SELECT MASTERBILLID, LINE_NO, PROD_ID FROM PSALE_SUB ORDER BY 1, 2");
    }
    std::vector<std::string> Masters() { return Rows("SELECT MASTERBILLID, EMPLOYEE_ID FROM PSALE_MASTER ORDER BY 1"); }
};

TEST_F(BillImportTest, LinesOfEachBillAreReplaced) {
    Sql("INSERT INTO PSALE_MASTER (MASTERBILLID, EMPLOYEE_ID) VALUES ('B1', 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 1, 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 2, 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 3, 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B2', 1, 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('Z9', 1, 'kept')");
    Put("HQ__PSALE_MASTER__1.XML", "PSALE_MASTER", {Master("B1", "E1"), Master("B2", "E2"), Master("B'4", "E4")});
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB",
        {Line("B1", 1, "P1"), Line("B3", 1, "only in the detail file"), Line("B1", 2, "P2"), Line("B'4", 1, "P4")});
    Walk();

    EXPECT_EQ(Masters(), (std::vector<std::string>{"B'4|E4", "B1|E1", "B2|E2"}));
    // B1 has the file's two lines, B2 none (the file has none for it), B3 is not a bill here:
    // its line is kept in rejected/.
    EXPECT_EQ(Lines(), (std::vector<std::string>{"B'4|1|P4", "B1|1|P1", "B1|2|P2", "Z9|1|kept"}));
    EXPECT_EQ(view_.grid.Cell(0, 2), "*");
    EXPECT_EQ(view_.summaries[1],
              "bills read 3, inserted 2, updated 1, skipped 0, refused 0; "
              "lines read 4, inserted 3, updated 0, skipped 0, refused 1");
    EXPECT_EQ(view_.summaries.count(2), 0u);  // the detail row is passed over, not imported on its own
    EXPECT_EQ(view_.bar1.Max(), 3);
    EXPECT_EQ(view_.bar1.Position(), 3);
    EXPECT_EQ(view_.bar2.Max(), 1);  // the last bill's lines
    EXPECT_EQ(view_.bar2.Position(), 1);
}

TEST_F(BillImportTest, LastDetailRowWinsWhereverItStands) {
    Put("A__PSALE_SUB__1.XML", "PSALE_SUB", {Line("B1", 1, "first file")});
    Put("HQ__PSALE_MASTER__1.XML", "PSALE_MASTER", {Master("B1", "E1")});
    Put("B__PSALE_SUB__2.XML", "PSALE_SUB", {Line("B1", 1, "second file"), Line("B1", 2, "second file")});
    Walk();
    EXPECT_EQ(Lines(), (std::vector<std::string>{"B1|1|second file", "B1|2|second file"}));
    EXPECT_EQ(view_.grid.Cell(0, 1), "*");
    EXPECT_EQ(view_.grid.Cell(0, 3), "*");
}

// Two downloads of the same kind: each master takes the detail file of its own download, and
// a detail file without a master of its own keeps its lines in rejected/.
TEST_F(BillImportTest, EachMasterTakesTheDetailFileOfItsDownload) {
    Sql("INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('A1', 9, 'stored');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('C1', 9, 'stored')");
    Put("X__PSALE_MASTER__20261210_01.XML", "PSALE_MASTER", {Master("A1", "E1"), Master("A2", "E1")});
    Put("X__PSALE_SUB__20261210_01.XML", "PSALE_SUB", {Line("A1", 1, "a"), Line("A1", 2, "a"), Line("A2", 1, "a")});
    Put("X__PSALE_MASTER__20261210_02.XML", "PSALE_MASTER", {Master("B1", "E2")});
    Put("X__PSALE_SUB__20261210_02.XML", "PSALE_SUB", {Line("B1", 1, "b"), Line("B1", 2, "b"), Line("B1", 3, "b")});
    Put("X__PSALE_SUB__20261210_03.XML", "PSALE_SUB", {Line("C1", 1, "c")});
    Walk();
    EXPECT_EQ(Lines(), (std::vector<std::string>{"A1|1|a", "A1|2|a", "A2|1|a", "B1|1|b", "B1|2|b", "B1|3|b", "C1|9|stored"}));
    for (int row = 1; row <= 5; ++row) EXPECT_EQ(view_.grid.Cell(0, row), "*") << row;
    EXPECT_EQ(data_->Rejected().Count(), 1);
    TClientDataSet kept;
    kept.LoadPacketFile(RejectedFolder() + "X__PSALE_SUB__20261210_03.XML");
    EXPECT_EQ(kept.RecordTotal(), 1);
}

// A bill is matched by its identifier exactly: "B00*" is not a prefix of B001. Lines of bills the
// master file does not name are kept as refused, and a refused master keeps its stored lines and
// sends the file's lines to rejected/ beside it.
TEST_F(BillImportTest, BillsMatchExactlyAndNoLineIsDroppedUnseen) {
    Sql("INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B002', 1, 'stored');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B002', 2, 'stored')");
    Put("HQ__PSALE_MASTER__1.XML", "PSALE_MASTER",
        {Master("B00*", "E1"), Master("B001", "E1"), Master("B002", std::string(11, 'e'))});
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB",
        {Line("B001", 1, "one"), Line("B00*", 1, "star"), Line("B002", 1, "new"), Line("B003", 1, "none"),
         Line("B003", 2, "none")});
    Walk();
    EXPECT_EQ(Lines(), (std::vector<std::string>{"B00*|1|star", "B001|1|one", "B002|1|stored", "B002|2|stored"}));
    EXPECT_EQ(Masters(), (std::vector<std::string>{"B00*|E1", "B001|E1"}));
    EXPECT_EQ(view_.summaries[1],
              "bills read 3, inserted 2, updated 0, skipped 0, refused 1; "
              "lines read 5, inserted 2, updated 0, skipped 0, refused 3");
    EXPECT_EQ(data_->Rejected().Count(), 4);
    TClientDataSet kept;
    kept.LoadPacketFile(RejectedFolder() + "HQ__PSALE_SUB__1.XML");
    ASSERT_EQ(kept.RecordTotal(), 3);
    std::vector<std::string> keptLines;
    for (; !kept.AtEnd(); kept.MoveNext())
        keptLines.push_back(kept.FieldNamed("MASTERBILLID").StringValue() + "|" + kept.FieldNamed("PROD_ID").StringValue());
    EXPECT_EQ(keptLines, (std::vector<std::string>{"B002|new", "B003|none", "B003|none"}));
    std::ifstream log(RejectedFolder() + "rejected.log");
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("no bill 'B003' in the master file HQ__PSALE_MASTER__1.XML"), std::string::npos) << text;
    EXPECT_NE(text.find("refused the master record of bill 'B002'"), std::string::npos) << text;
}

// A detail file whose master file never came: its lines are kept in rejected/, the stored bills
// stay as they are, and a detail row reached before its master is left to that master.
TEST_F(BillImportTest, DetailFileWithoutMasterKeepsItsLines) {
    Sql("INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 1, 'stored')");
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB", {Line("B1", 1, "new"), Line("B2", 1, "new")});
    Walk();
    EXPECT_EQ(Lines(), (std::vector<std::string>{"B1|1|stored"}));
    EXPECT_EQ(view_.summaries[1], "no PSALE_MASTER file in the work list; lines read 2, inserted 0, updated 0, "
                                  "skipped 0, refused 2");
    EXPECT_EQ(data_->Rejected().Count(), 2);
    TClientDataSet kept;
    kept.LoadPacketFile(RejectedFolder() + "HQ__PSALE_SUB__1.XML");
    EXPECT_EQ(kept.RecordTotal(), 2);
    std::ifstream log(RejectedFolder() + "rejected.log");
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("no bill 'B2' in the master file (no PSALE_MASTER file in the work list)"), std::string::npos)
        << text;
}

TEST_F(BillImportTest, MasterWithoutDetailFileEndsTheWalk) {
    Put("HQ__CHGPRICE_MASTER__1.XML", "CHGPRICE_MASTER", {{{"MASTERBILLID", "C1"}}});
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB", {Line("B1", 1, "P1")});
    EXPECT_THROW(Walk(), EFOpenError);
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM CHGPRICE_MASTER"), std::vector<std::string>{"0"});
}

TEST_F(BillImportTest, EmptyFiles) {
    Sql("INSERT INTO PSALE_MASTER (MASTERBILLID, EMPLOYEE_ID) VALUES ('B1', 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 1, 'stored')");
    // A master file of 0 bytes brings no bills.
    PutBytes("HQ__PSALE_MASTER__1.XML", "");
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB", {Line("B1", 1, "P1")});
    Walk();
    EXPECT_EQ(Lines(), std::vector<std::string>{"B1|1|stored"});

    // A detail file of 0 bytes beside a master with bills would delete every bill's lines.
    view_.memo1.clear();
    Put("HQ__PSALE_MASTER__2.XML", "PSALE_MASTER", {Master("B1", "E1")});
    PutBytes("HQ__PSALE_SUB__2.XML", "");
    try {
        Walk();
        FAIL() << "the walk went on";
    } catch (const EImportError& failure) {
        EXPECT_EQ(failure.Message(),
                  "HQ__PSALE_SUB__2.XML: the detail file is empty (0 bytes) while HQ__PSALE_MASTER__2.XML holds 1 bills; "
                  "no bill was imported, since their stored lines would be deleted");
    }
    EXPECT_EQ(Masters(), std::vector<std::string>{"B1|old"});
    EXPECT_EQ(Lines(), std::vector<std::string>{"B1|1|stored"});
}

}  // namespace
}  // namespace tarnwick::import::testing
