// The unattended run with the store's rules, from the list stage: what it prints, its exit code,
// and what happens to the downloaded files and the hand-off after a refusal or a failure.

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
        const app::TWalkHooks hooks{[this] { data_->WalkStarted(); }, [this] { return data_->RefusalWarning(); }};
        return app::RunUnattended(app::TLaunchMode::List, rules_, hooks, store_.Folder(), out_, err_);
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
    EXPECT_EQ(err_.str(), "ClientDataSet1: Field 'MEMBER_ID' not found.\n");
    EXPECT_TRUE(fs::exists(download_ + "HQ__MEMBER__1.XML"));
    EXPECT_FALSE(HandedOff());
}

}  // namespace
}  // namespace tarnwick::import::testing
