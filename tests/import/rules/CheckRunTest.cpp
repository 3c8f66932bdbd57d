// The dry run (--check) on an embedded store database: every rule runs, nothing lasts, and it
// reports what a real run on the same files reports.

#include <algorithm>
#include <sstream>

#include "ImportFixture.h"
#include "app/CommandLine.h"
#include "platform/ExecutablePath.h"

namespace tarnwick::import::testing {
namespace {

namespace fs = std::filesystem;
using sampledata::TRow;

class CheckRunTest : public ImportStore {
protected:
    // Every row of every table of the store, each table's rows in a fixed order.
    std::vector<std::string> Everything() {
        std::vector<std::string> all;
        for (const std::string& table :
             Rows("SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                  "AND RDB$VIEW_BLR IS NULL ORDER BY 1")) {
            std::vector<std::string> rows = Rows("SELECT * FROM " + table);
            std::sort(rows.begin(), rows.end());
            all.push_back("table " + table + ": " + std::to_string(rows.size()));
            all.insert(all.end(), rows.begin(), rows.end());
        }
        return all;
    }

    // Runs the program's unattended chain from the file list, as --check or --list does; a
    // check on a data side of its own, as the program makes one for it.
    int Run(app::TLaunchMode mode) {
        fs::copy_file(platform::ExecutableDir() + "lantrel", store_.Folder() + "/Lantrel.exe",
                      fs::copy_options::overwrite_existing);
        out_.str("");
        err_.str("");
        data_ = std::make_unique<TImportData>(store_.Folder());
        if (mode == app::TLaunchMode::Check) data_->StartDryRun();
        rules_ = MakeStoreRules(*data_);
        app::TUnattendedOptions options;
        options.WouldRefuse = [this] { return app::WouldRefuseLines(data_->Rejected()); };
        const int code = app::RunUnattended(mode, rules_, app::WalkHooksFor(*data_), store_.Folder(), out_, err_, options);
        if (mode == app::TLaunchMode::Check) data_->EndDryRun();
        return code;
    }
    // The per-row lines of the last run's output.
    std::vector<std::string> RowLines() const {
        std::vector<std::string> lines;
        std::istringstream in(out_.str());
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("row ")) lines.push_back(line);
        return lines;
    }
    std::vector<std::string> Downloaded() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(download_)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool HandedOff() const { return fs::exists(store_.Folder() + "/handoff.log"); }

    std::ostringstream out_, err_;
};

TEST_F(CheckRunTest, WritesNothingAndCountsAsARealRun) {
    Sql("INSERT INTO MEMBER (MEMBER_ID, MEMBER_NAME) VALUES ('M2', 'old');"
        "INSERT INTO PROD_SALE (SALE_ID, PROD_ID) VALUES (9, 'gone after a run');"
        "INSERT INTO PSALE_MASTER (MASTERBILLID, EMPLOYEE_ID) VALUES ('B1', 'old');"
        "INSERT INTO PSALE_SUB (MASTERBILLID, LINE_NO, PROD_ID) VALUES ('B1', 1, 'old')");
    Put("HQ__MEMBER__1.XML", "MEMBER",
        {{{"MEMBER_ID", "M1"}, {"MEMBER_NAME", std::string(41, 'x')}}, {{"MEMBER_ID", "M2"}, {"MEMBER_NAME", "new"}},
         {{"MEMBER_ID", "M3"}}});
    Put("HQ__PROD_SALE__1.XML", "PROD_SALE", {{{"SALE_ID", "1"}, {"PROD_ID", "P1"}}, {{"SALE_ID", "2"}}});
    Put("HQ__PSALE_MASTER__1.XML", "PSALE_MASTER", {{{"MASTERBILLID", "B1"}, {"EMPLOYEE_ID", "E1"}}});
    Put("HQ__PSALE_SUB__1.XML", "PSALE_SUB",
        {{{"MASTERBILLID", "B1"}, {"LINE_NO", "1"}, {"PROD_ID", "P1"}},
         {{"MASTERBILLID", "B1"}, {"LINE_NO", "2"}, {"PROD_ID", "P2"}}});
    PutBytes("HQ__NOTHING__1.XML", "not a rule's file");
    const std::vector<std::string> before = Everything(), files = Downloaded();

    EXPECT_EQ(Run(app::TLaunchMode::Check), 3) << err_.str();
    EXPECT_EQ(Everything(), before);
    EXPECT_EQ(Downloaded(), files);
    EXPECT_FALSE(fs::exists(RejectedFolder()));
    EXPECT_FALSE(HandedOff());
    EXPECT_EQ(err_.str(), app::CheckRefusalText(1) + "\n");
    const std::string checked = out_.str();
    EXPECT_NE(checked.find("would be refused: HQ__MEMBER__1.XML, record 1, MEMBER_ID = 'M1': "), std::string::npos)
        << checked;
    EXPECT_NE(checked.find("\ntotal            3 files                              8         5        2        0        1 "), std::string::npos) << checked;
    const std::vector<std::string> checkedRows = RowLines();

    // The real run on the same files says the same per row, and does write.
    EXPECT_EQ(Run(app::TLaunchMode::List), 3) << err_.str();
    EXPECT_EQ(RowLines(), checkedRows);
    EXPECT_NE(Everything(), before);
    EXPECT_EQ(Rows("SELECT MEMBER_ID, MEMBER_NAME FROM MEMBER ORDER BY 1"), (std::vector<std::string>{"M2|new", "M3|"}));
    EXPECT_TRUE(fs::exists(RejectedFolder()));
    EXPECT_TRUE(HandedOff());
}

// Bad input stops a check as it stops a real run: the same message and exit code, and the
// check still leaves everything as it was.
TEST_F(CheckRunTest, BadInputEndsItAsItEndsARealRun) {
    struct Case {
        const char* name;
        std::function<void()> put;
        int code;
    };
    const Case cases[] = {
        {"no download folder", [this] { fs::remove_all(download_); }, 2},
        {"unreadable file", [this] { PutBytes("HQ__MEMBER__1.XML", "<?xml version=\"1.0\"?><DATAPACKET>"); }, 1},
        {"missing field",
         [this] { Put("HQ__MEMBER__1.XML", "MEMBER", {{{"MEMBER_NAME", "x"}}}, {"MEMBER_ID"}); }, 1},
        {"unreadable file after a good one",
         [this] {
             Put("HQ__CUSTOMER__1.XML", "CUSTOMER", {{{"CUST_ID", "C1"}}});
             PutBytes("HQ__MEMBER__1.XML", "<?xml version=\"1.0\"?><DATAPACKET>");
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(download_);
        fs::create_directories(download_);
        Sql("DELETE FROM CUSTOMER");
        c.put();
        const std::vector<std::string> before = Everything();
        EXPECT_EQ(Run(app::TLaunchMode::Check), c.code);
        const std::string checkErr = err_.str();
        EXPECT_FALSE(checkErr.empty());
        EXPECT_EQ(Everything(), before);
        EXPECT_EQ(Run(app::TLaunchMode::List), c.code);
        EXPECT_EQ(err_.str(), checkErr);
        EXPECT_FALSE(HandedOff());
    }
}

}  // namespace
}  // namespace tarnwick::import::testing
