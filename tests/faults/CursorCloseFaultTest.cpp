// The driver over the fault-injecting client library (libfbfault.so) with the close of a cursor
// failing once: the failure is reported with the database's message where the cursor is closed,
// and the statement runs again afterwards (the server's cursor is left open by the failed close,
// so the statement must not go on with its old handle).

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/DynamicLibrary.h"
#include "platform/ExecutablePath.h"
#include "sqlfb/SQLDriver.h"
#include "sqlfb/TestStore.h"

namespace tarnwick::testing {
namespace {

using namespace tarnwick::sqlfb;

template <class Object>
std::string ErrorOf(Object& object) {
    std::uint16_t length = 0;
    object.GetErrorMessageLen(&length);
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    object.GetErrorMessage(text.data(), static_cast<std::uint32_t>(text.size()));
    return text.data();
}

int CountRows(ISQLCursor& cursor) {
    int rows = 0;
    while (cursor.Next() == kSQLSuccess) ++rows;
    return rows;
}

// The driver over the stand-in library, a store with three rows in T, and one command prepared
// on "SELECT N FROM T" with its cursor open on the first row. The stand-in fails only once in a
// process, so each test needs a process of its own (ctest runs each test so); a second one in
// the same process is skipped.
class CursorCloseFault : public ::testing::Test {
protected:
    void SetUp() override {
        static bool used = false;
        if (used) GTEST_SKIP() << "the fault fires once per process: run this test on its own";
        used = true;
        // Read by the stand-in library when it is loaded, which happens below.
        ::setenv("TARNWICK_FAULT_KIND", "close", 1);
        ::setenv("TARNWICK_FAULT_AT", "1", 1);
        store_ = std::make_unique<TestStore>("CREATE TABLE T (N INTEGER);\nINSERT INTO T VALUES (1);\n"
                                             "INSERT INTO T VALUES (2);\nINSERT INTO T VALUES (3);\n");
        void* library = platform::LoadLibrary("libsqlfb.so");
        ASSERT_NE(library, nullptr) << platform::LibraryError();
        auto entry = reinterpret_cast<GetDriverFunc>(platform::LibrarySymbol(library, "getSQLDriverFIREBIRD"));
        ASSERT_NE(entry, nullptr);
        ISQLDriver* made = nullptr;
        const std::string client = platform::ExecutableDir() + "libfbfault.so";
        ASSERT_EQ(entry(client.c_str(), "", &made), 0);
        driver_.reset(made);
        ISQLConnection* connection = nullptr;
        ASSERT_EQ(driver_->GetSQLConnection(&connection), 0);
        connection_.reset(connection);
        ASSERT_EQ(connection_->Connect(store_->Database().c_str(), "SYSDBA", TestStore::kPassword), 0)
            << ErrorOf(*connection_);
        ISQLCommand* command = nullptr;
        ASSERT_EQ(connection_->GetSQLCommand(&command), 0);
        command_.reset(command);
        ASSERT_EQ(command_->Prepare("SELECT N FROM T", 0), 0) << ErrorOf(*command_);
        Open();
        ASSERT_EQ(cursor_->Next(), kSQLSuccess) << ErrorOf(*cursor_);
    }

    void Open() {
        ISQLCursor* cursor = nullptr;
        ASSERT_EQ(command_->Execute(&cursor), 0) << ErrorOf(*command_);
        cursor_.reset(cursor);
    }

    // The same command opens again, twice, and reads every row.
    void ExpectItRunsAgain() {
        cursor_.reset();
        for (int run = 0; run < 2; ++run) {
            Open();
            ASSERT_NE(cursor_, nullptr);
            EXPECT_EQ(CountRows(*cursor_), 3);
            cursor_.reset();
        }
    }

    std::unique_ptr<TestStore> store_;
    std::unique_ptr<ISQLDriver> driver_;
    std::unique_ptr<ISQLConnection> connection_;
    std::unique_ptr<ISQLCommand> command_;
    std::unique_ptr<ISQLCursor> cursor_;  // declared last: goes first
};

TEST_F(CursorCloseFault, AFailedCloseReportsTheDatabasesMessageAndTheNextOpenWorks) {
    // The close fails with the database's message, not later as "reopen an open cursor".
    EXPECT_NE(command_->Close(), kSQLSuccess);
    const std::string message = ErrorOf(*command_);
    EXPECT_NE(message.find("network"), std::string::npos) << message;
    ExpectItRunsAgain();
}

TEST_F(CursorCloseFault, ACloseThatFailsWhenTheCursorGoesLeavesTheCommandUsable) {
    // The data layer lets the cursor go before it closes the command: the cursor's own close
    // fails then, where no one can be told, and the command must still run.
    cursor_.reset();
    EXPECT_EQ(command_->Close(), kSQLSuccess) << ErrorOf(*command_);
    ExpectItRunsAgain();
}

}  // namespace
}  // namespace tarnwick::testing
