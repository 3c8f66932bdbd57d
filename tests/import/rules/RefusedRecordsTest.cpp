// Records the database refuses are not lost: the walk goes on with the next record, each refusal
// gets a line in rejected/rejected.log, each file a packet of only its refused records that can be
// dropped back into download/, and the walk's warning says how many and where. Also: a file that
// cannot be read or holds 0 bytes leaves its table as it was.

#include "ImportFixture.h"

#include <fstream>
#include <sstream>

namespace tarnwick::import::testing {
namespace {

namespace fs = std::filesystem;
using sampledata::TRow;

// The log line without its date-time and message: file, record, key.
std::string Middle(const std::string& line) {
    std::vector<std::string> parts;
    std::stringstream stream(line);
    for (std::string part; std::getline(stream, part, '\t');) parts.push_back(part);
    if (parts.size() != 5) return "malformed: " + line;
    return parts[1] + "|" + parts[2] + "|" + parts[3];
}

using RefusedRecordsTest = ImportStore;

TEST_F(RefusedRecordsTest, KeptInRejectedAndReported) {
    const std::string tooLong(41, 'x');  // MEMBER_NAME holds 40 characters
    Put("HQ__PROD_SALE__1.XML", "PROD_SALE",
        {{{"SALE_ID", "1"}, {"PROD_ID", "P1"}}, {{"SALE_ID", "1"}, {"PROD_ID", "duplicate"}}, {{"SALE_ID", "2"}, {"PROD_ID", "P2"}}});
    Put("HQ__MEMBER__1.XML", "MEMBER",
        {{{"MEMBER_ID", "M1"}, {"MEMBER_NAME", tooLong}, {"NOTE", "5YKZ6Ki7"}}, {{"MEMBER_ID", "M2"}, {"MEMBER_NAME", "王小明"}}});
    Put("HQ__PSALE_MASTER__1.XML", "PSALE_MASTER", {{{"MASTERBILLID", "B1"}}});
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB",
        {{{"MASTERBILLID", "B1"}, {"LINE_NO", "1"}, {"PROD_ID", "P1"}}, {{"MASTERBILLID", "B1"}, {"LINE_NO", "1"}, {"PROD_ID", "again"}},
         {{"MASTERBILLID", "B1"}, {"LINE_NO", "2"}, {"PROD_ID", "P2"}}});
    Walk();

    // The records after a refused one are written all the same.
    EXPECT_EQ(Rows("SELECT SALE_ID, PROD_ID FROM PROD_SALE ORDER BY 1"), (std::vector<std::string>{"1|P1", "2|P2"}));
    EXPECT_EQ(Rows("SELECT MEMBER_ID FROM MEMBER"), std::vector<std::string>{"M2"});
    EXPECT_EQ(Rows("SELECT LINE_NO, PROD_ID FROM PSALE_SUB ORDER BY 1"), (std::vector<std::string>{"1|P1", "2|P2"}));
    EXPECT_EQ(view_.summaries[2], "read 2, inserted 1, updated 0, skipped 0, refused 1");

    const std::vector<std::string> log = LogLines(RejectedFolder() + "rejected.log");
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(Middle(log[0]), "HQ__PROD_SALE__1.XML|record 2|(whole table)");
    EXPECT_EQ(Middle(log[1]), "HQ__MEMBER__1.XML|record 1|MEMBER_ID = 'M1'");
    EXPECT_EQ(Middle(log[2]), "HQ__PSALE_SUB__1.XML|record 2|MASTERBILLID = 'B1', line 2");
    for (const std::string& line : log) EXPECT_LT(line.rfind('\t') + 1, line.size()) << "no message: " << line;
    EXPECT_NE(log[0].find("PRIMARY"), std::string::npos) << log[0];  // the database's own words

    EXPECT_EQ(data_->RefusalWarning(), RefusalWarningText(3, RejectedFolder()));
    EXPECT_EQ(RefusalWarningText(3, "/s/rejected/"),
              "3 records were refused by the database and not imported. They are kept in /s/rejected/ "
              "(one data packet per file, reasons in rejected.log).");

    // Each packet holds only its file's refused records, with every field of the file.
    TClientDataSet packet;
    packet.LoadPacketFile(RejectedFolder() + "HQ__MEMBER__1.XML");
    ASSERT_EQ(packet.RecordTotal(), 1);
    EXPECT_EQ(packet.FieldTotal(), static_cast<int>(sampledata::StoreTable("MEMBER").Columns.size()));
    EXPECT_EQ(packet.FieldNamed("MEMBER_NAME").StringValue(), tooLong);
    EXPECT_EQ(packet.FieldNamed("NOTE").StringValue(), "備註");
    packet.LoadPacketFile(RejectedFolder() + "HQ__PROD_SALE__1.XML");
    ASSERT_EQ(packet.RecordTotal(), 1);
    EXPECT_EQ(packet.FieldNamed("PROD_ID").StringValue(), "duplicate");
    EXPECT_FALSE(fs::exists(RejectedFolder() + "HQ__PSALE_MASTER__1.XML"));

    // Dropped back unchanged, it is refused again: the second packet keeps the first. Fixed, it imports.
    fs::copy_file(RejectedFolder() + "HQ__MEMBER__1.XML", download_ + "HQ__MEMBER__1.XML", fs::copy_options::overwrite_existing);
    view_.memo1 = {download_ + "HQ__MEMBER__1.XML"};
    Walk();
    EXPECT_EQ(data_->RefusalWarning(), RefusalWarningText(1, RejectedFolder()));
    EXPECT_TRUE(fs::exists(RejectedFolder() + "HQ__MEMBER__1-2.XML"));
    view_.memo1.clear();
    Put("HQ__MEMBER__2.XML", "MEMBER", {{{"MEMBER_ID", "M1"}, {"MEMBER_NAME", "林美玲"}}});
    Walk();
    EXPECT_EQ(data_->RefusalWarning(), "");
    EXPECT_EQ(Rows("SELECT MEMBER_ID, MEMBER_NAME FROM MEMBER ORDER BY 1"), (std::vector<std::string>{"M1|林美玲", "M2|王小明"}));
}

TEST_F(RefusedRecordsTest, UnreadableOrEmptyFileLeavesTheTable) {
    Sql("INSERT INTO PROD_SALE (SALE_ID, PROD_ID) VALUES (9, 'kept');"
        "INSERT INTO CUSTOMER (CUST_ID, CUST_NAME) VALUES ('C1', 'kept')");
    // A 0-byte file after a file with records: those records must not go into its table.
    Put("HQ__MEMBER__1.XML", "MEMBER", {{{"MEMBER_ID", "M1"}}});
    PutBytes("HQ__CUSTOMER__1.XML", "");
    PutBytes("HQ__PROD_SALE__1.XML", "");
    view_.memo1.push_back(download_ + "HQ__PROD_SALE__missing.XML");
    EXPECT_THROW(Walk(), EFOpenError);
    EXPECT_EQ(Rows("SELECT CUST_ID, CUST_NAME FROM CUSTOMER"), std::vector<std::string>{"C1|kept"});
    EXPECT_EQ(Rows("SELECT SALE_ID, PROD_ID FROM PROD_SALE"), std::vector<std::string>{"9|kept"});
    EXPECT_EQ(view_.summaries[2], "empty file (0 bytes): passed over, table left as it was");
    EXPECT_EQ(view_.summaries[3], "empty file (0 bytes): passed over, table left as it was");
}

}  // namespace
}  // namespace tarnwick::import::testing
