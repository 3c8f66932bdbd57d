// The program itself, run as a store runs it: a store laid out by the set-up tool, then
// `tarnwick --run` and friends as child processes.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

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
}

}  // namespace
}  // namespace tarnwick::app
