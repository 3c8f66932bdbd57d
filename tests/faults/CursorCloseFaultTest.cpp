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

TEST(CursorCloseFault, AFailedCloseReportsTheDatabasesMessageAndTheNextOpenWorks) {
    // Read by the stand-in library when it is loaded, which happens below.
    ::setenv("TARNWICK_FAULT_KIND", "close", 1);
    ::setenv("TARNWICK_FAULT_AT", "1", 1);
    TestStore store("CREATE TABLE T (N INTEGER);\nINSERT INTO T VALUES (1);\nINSERT INTO T VALUES (2);\n"
                    "INSERT INTO T VALUES (3);\n");

    void* library = platform::LoadLibrary("libsqlfb.so");
    ASSERT_NE(library, nullptr) << platform::LibraryError();
    auto entry = reinterpret_cast<GetDriverFunc>(platform::LibrarySymbol(library, "getSQLDriverFIREBIRD"));
    ASSERT_NE(entry, nullptr);
    ISQLDriver* made = nullptr;
    const std::string client = platform::ExecutableDir() + "libfbfault.so";
    ASSERT_EQ(entry(client.c_str(), "", &made), 0);
    std::unique_ptr<ISQLDriver> driver(made);

    ISQLConnection* rawConnection = nullptr;
    ASSERT_EQ(driver->GetSQLConnection(&rawConnection), 0);
    std::unique_ptr<ISQLConnection> connection(rawConnection);
    ASSERT_EQ(connection->Connect(store.Database().c_str(), "SYSDBA", TestStore::kPassword), 0) << ErrorOf(*connection);
    ISQLCommand* rawCommand = nullptr;
    ASSERT_EQ(connection->GetSQLCommand(&rawCommand), 0);
    std::unique_ptr<ISQLCommand> command(rawCommand);
    ASSERT_EQ(command->Prepare("SELECT N FROM T", 0), 0) << ErrorOf(*command);

    ISQLCursor* rawCursor = nullptr;
    ASSERT_EQ(command->Execute(&rawCursor), 0) << ErrorOf(*command);
    std::unique_ptr<ISQLCursor> cursor(rawCursor);
    ASSERT_EQ(cursor->Next(), kSQLSuccess) << ErrorOf(*cursor);

    // The close fails with the database's message, not later as "reopen an open cursor".
    EXPECT_NE(command->Close(), kSQLSuccess);
    const std::string message = ErrorOf(*command);
    EXPECT_NE(message.find("network"), std::string::npos) << message;
    cursor.reset();

    // The same command opens again and reads every row.
    ASSERT_EQ(command->Execute(&rawCursor), 0) << ErrorOf(*command);
    cursor.reset(rawCursor);
    EXPECT_EQ(CountRows(*cursor), 3);
    cursor.reset();
    ASSERT_EQ(command->Execute(&rawCursor), 0) << ErrorOf(*command);
    cursor.reset(rawCursor);
    EXPECT_EQ(CountRows(*cursor), 3);
}

}  // namespace
}  // namespace tarnwick::testing
