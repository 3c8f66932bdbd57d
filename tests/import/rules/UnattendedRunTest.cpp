// The unattended run with the store's rules, from the list stage: what it prints, its exit code,
// and what happens to the downloaded files and the hand-off after a refusal or a failure.

#include <functional>
#include <sstream>

#include "ImportFixture.h"
#include "app/CommandLine.h"
#include "platform/ExecutablePath.h"

namespace tarnwick::import::testing {
namespace {

namespace fs = std::filesystem;

class UnattendedRunTest : public ImportStore {
protected:
    int Run() {
        fs::copy_file(platform::ExecutableDir() + "lantrel", store_.Folder() + "/Lantrel.exe",
                      fs::copy_options::overwrite_existing);
        return app::RunUnattended(app::TLaunchMode::List, rules_, app::WalkHooksFor(*data_), store_.Folder(), out_, err_);
    }
    bool HandedOff() const { return fs::exists(store_.Folder() + "/handoff.log"); }

    std::ostringstream out_, err_;
};

TEST_F(UnattendedRunTest, RefusedRecordEndsWithExitCode3) {
    Put("HQ__MEMBER__1.XML", "MEMBER", {{{"MEMBER_ID", "M1"}, {"MEMBER_NAME", std::string(41, 'x')}}, {{"MEMBER_ID", "M2"}}});
    PutBytes("HQ__CUSTOMER__1.XML", "");
    EXPECT_EQ(Run(), 3);
    EXPECT_NE(out_.str().find("row 2  MEMBER: read 2, inserted 1, updated 0, skipped 0, refused 1\n"), std::string::npos) << out_.str();
    EXPECT_NE(out_.str().find("row 1  CUSTOMER: empty file (0 bytes): passed over, table left as it was\n"), std::string::npos)
        << out_.str();
    EXPECT_EQ(err_.str(), RefusalWarningText(1, store_.Folder() + "/rejected/") + "\n");
    EXPECT_TRUE(fs::is_empty(download_));
    EXPECT_TRUE(HandedOff());
}

TEST_F(UnattendedRunTest, MissingFieldKeepsTheFilesAndSkipsTheHandOff) {
    Put("HQ__MEMBER__1.XML", "MEMBER", {{{"MEMBER_NAME", "x"}}}, {"MEMBER_ID"});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(err_.str(), "ClientDataSet1: Field 'MEMBER_ID' not found.\nin HQ__MEMBER__1.XML (MEMBER), record 1 of 1\n");
    EXPECT_TRUE(fs::exists(download_ + "HQ__MEMBER__1.XML"));
    EXPECT_FALSE(HandedOff());
}

// The failure's own text stays as it was; the line after it names the file, its table and the
// record in hand, after files that imported well.
TEST_F(UnattendedRunTest, FailureNamesItsFileTableAndRecord) {
    struct Case {
        const char* name;
        std::function<void()> put;
        std::string place;
        std::string printed;  // a line of the output
    };
    const Case cases[] = {
        {"bad value in the middle",
         [this] {
             Put("HQ__MEMBER__1.XML", "MEMBER", {{{"MEMBER_ID", "M1"}}});
             // PRICE as text in the file: only a number converts into the table's column.
             sampledata::TTable product = sampledata::StoreTable("PRODUCT");
             for (sampledata::TColumn& column : product.Columns)
                 if (column.Name == "PRICE") column = {"PRICE", "VARCHAR", 20};
             PutBytes("HQ__PRODUCT__20261210_01.XML",
                      sampledata::PacketXml(product, {{{"PROD_ID", "P1"}, {"PRICE", "1"}},
                                                      {{"PROD_ID", "P2"}, {"PRICE", "2"}},
                                                      {{"PROD_ID", "P3"}, {"PRICE", "cheap"}},
                                                      {{"PROD_ID", "P4"}, {"PRICE", "4"}}}));
         },
         "in HQ__PRODUCT__20261210_01.XML (PRODUCT), record 3 of 4", "row 1  MEMBER: read 1, inserted 1"},
        {"unreadable packet",
         [this] { PutBytes("HQ__PRODUCT__20261210_01.XML", "<?xml version=\"1.0\"?><DATAPACKET><METADATA>"); },
         "in HQ__PRODUCT__20261210_01.XML (PRODUCT)", "row 1  PRODUCT  HQ__PRODUCT__20261210_01.XML"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(download_);
        fs::create_directories(download_);
        view_.memo1.clear();
        out_.str("");
        err_.str("");
        c.put();
        EXPECT_EQ(Run(), 1);
        const std::string err = err_.str();
        const auto lineBreak = err.find('\n');
        ASSERT_NE(lineBreak, std::string::npos) << err;
        EXPECT_EQ(err.substr(lineBreak + 1), c.place + "\n");
        EXPECT_NE(out_.str().find(c.printed), std::string::npos) << out_.str();
        EXPECT_EQ(data_->FailurePlace(), c.place);
    }
}

}  // namespace
}  // namespace tarnwick::import::testing
