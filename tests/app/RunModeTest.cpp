// The program itself, run as a store runs it: a store laid out by the set-up tool, then
// `tarnwick --run` and friends as child processes.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "app/StoreFixture.h"

namespace tarnwick::app {
namespace {

using testing::Exists;
using testing::ReadFile;

class RunModeTest : public testing::StoreFixture {
protected:
    // Runs a shell command line; answers its exit code.
    static int Shell(const std::string& command) {
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Quote(const std::string& text) { return "'" + text + "'"; }

    void MakeStore() {
        const std::string command = "bash " + Quote(std::string(TARNWICK_SOURCE_DIR) + "/tools/make-store") +
                                    " --bin " + Quote(platform::ExecutableDir()) + " " + Quote(Store()) +
                                    " > " + Quote(Root() + "make-store.log") + " 2>&1";
        ASSERT_EQ(Shell(command), 0) << ReadFile(Root() + "make-store.log");
    }
    int Tarnwick(const std::string& args) {
        return Shell("cd " + Quote(Store()) + " && SCRIVEL_DELAY_MS=200 ./tarnwick " + args + " > " +
                     Quote(Root() + "out") + " 2> " + Quote(Root() + "err"));
    }
    std::string Out() const { return ReadFile(Root() + "out"); }
    std::string Err() const { return ReadFile(Root() + "err"); }
};

TEST_F(RunModeTest, RunOnAFreshStoreGoesThroughTheWholeChain) {
    MakeStore();
    ASSERT_FALSE(std::filesystem::is_empty(Store() + "outbox"));
    for (const char* file : {"tarnwick", "Scrivel.exe", "Lantrel.exe"}) EXPECT_TRUE(Exists(Store() + file)) << file;
    if (Exists(std::string(TARNWICK_SOURCE_DIR) + "/tools/storedb/setup-store")) {
        for (const char* file : {"libsqlfb.so", "sqlconnections.ini", "sqldrivers.ini"})
            EXPECT_TRUE(Exists(Store() + file)) << file;
    }

    EXPECT_EQ(Tarnwick("--run"), 0) << Err();
    EXPECT_TRUE(std::filesystem::is_empty(Store() + "outbox"));
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
    EXPECT_NE(Out().find("row 1  "), std::string::npos) << Out();
    EXPECT_NE(Out().find("files upload Success..!"), std::string::npos);
    const std::string log = ReadFile(Store() + "handoff.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find(" AS\n"), std::string::npos);
}

TEST_F(RunModeTest, ExitCodesOfWarningsHelpAndBadArguments) {
    MakeStore();
    std::filesystem::remove(Download());
    EXPECT_EQ(Tarnwick("--list"), 2);
    EXPECT_EQ(Err(), "[download]資料夾不存在..!\n");
    EXPECT_FALSE(Exists(Store() + "handoff.log"));

    EXPECT_EQ(Tarnwick("--help"), 0);
    EXPECT_NE(Out().find("--run"), std::string::npos);
    EXPECT_EQ(Tarnwick("--bogus"), 64);
    for (const char* combined : {"--run --check", "--check --commit-each-record", "--check --list"}) {
        EXPECT_EQ(Tarnwick(combined), 64) << combined;
        EXPECT_TRUE(Err().starts_with("Usage: tarnwick")) << combined;
    }
}

// The store's files checked, then imported: the check leaves them and starts nothing, and both
// runs print the same rows, a summary, no progress line (stdout is a file), and go into import.log.
TEST_F(RunModeTest, CheckThenListOnTheSameFiles) {
    MakeStore();
    if (!Exists(Store() + "libsqlfb.so")) GTEST_SKIP() << "built without the driver";
    for (const auto& entry : std::filesystem::directory_iterator(Store() + "outbox"))
        std::filesystem::copy_file(entry.path(), Download() + entry.path().filename().string());
    const auto rowLines = [this] {
        std::string rows;
        std::istringstream in(Out());
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("row ")) rows += line + "\n";
        return rows;
    };

    const int checked = Tarnwick("--check");
    EXPECT_TRUE(checked == 0 || checked == 3) << Err();
    const std::string checkRows = rowLines();
    EXPECT_FALSE(checkRows.empty());
    EXPECT_FALSE(std::filesystem::is_empty(Download()));
    EXPECT_FALSE(HandedOff());
    EXPECT_FALSE(Exists(Store() + "rejected"));
    EXPECT_NE(Out().find("\ntable            file "), std::string::npos) << Out();
    EXPECT_EQ(Out().find('\r'), std::string::npos);

    EXPECT_EQ(Tarnwick("--list"), checked) << Err();
    EXPECT_EQ(rowLines(), checkRows);
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
    EXPECT_TRUE(HandedOff());

    const std::string log = ReadFile(Store() + "import.log");
    EXPECT_NE(log.find("\tstart\tcheck\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\tstart\tlist\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\tend\t" + std::string(checked == 0 ? "complete\t0" : "complete\t3") + "\t0\tno\t"),
              std::string::npos) << log;
}

}  // namespace
}  // namespace tarnwick::app
