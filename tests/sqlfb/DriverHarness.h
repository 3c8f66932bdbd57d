#pragma once
// Loads the driver library built beside the test program and opens driver objects on a
// database, with small helpers that turn result codes into test failures carrying the driver's
// error text.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/DynamicLibrary.h"
#include "sqlfb/SQLDriver.h"
#include "sqlfb/TestStore.h"

namespace tarnwick::testing {

inline sqlfb::ISQLDriver& Driver() {
    static std::unique_ptr<sqlfb::ISQLDriver> driver = [] {
        EnsureFirebirdLockFolder();
        void* library = platform::LoadLibrary("libsqlfb.so");
        if (library == nullptr) throw std::runtime_error("libsqlfb.so: " + platform::LibraryError());
        auto entry = reinterpret_cast<sqlfb::GetDriverFunc>(platform::LibrarySymbol(library, "getSQLDriverFIREBIRD"));
        if (entry == nullptr) throw std::runtime_error("entry point missing");
        sqlfb::ISQLDriver* made = nullptr;
        if (entry("libfbclient.so.2", "", &made) != 0) throw std::runtime_error("client library missing");
        return std::unique_ptr<sqlfb::ISQLDriver>(made);
    }();
    return *driver;
}

template <class Object>
std::string ErrorOf(Object& object) {
    std::uint16_t length = 0;
    object.GetErrorMessageLen(&length);
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    object.GetErrorMessage(text.data(), static_cast<std::uint32_t>(text.size()));
    return text.data();
}

inline std::unique_ptr<sqlfb::ISQLConnection> Connect(const std::string& database, const std::string& password,
                                                       const std::vector<std::pair<std::uint16_t, std::intptr_t>>& options = {}) {
    sqlfb::ISQLConnection* raw = nullptr;
    EXPECT_EQ(Driver().GetSQLConnection(&raw), 0);
    std::unique_ptr<sqlfb::ISQLConnection> connection(raw);
    for (const auto& [id, value] : options) connection->SetOption(id, value);
    const auto rc = connection->Connect(database.c_str(), "SYSDBA", password.c_str());
    EXPECT_EQ(rc, 0) << ErrorOf(*connection);
    return connection;
}

inline std::unique_ptr<sqlfb::ISQLCommand> Command(sqlfb::ISQLConnection& connection) {
    sqlfb::ISQLCommand* raw = nullptr;
    EXPECT_EQ(connection.GetSQLCommand(&raw), 0) << ErrorOf(connection);
    return std::unique_ptr<sqlfb::ISQLCommand>(raw);
}

// Prepares and executes `sql` with no parameters; answers the rows affected.
inline std::uint32_t Exec(sqlfb::ISQLConnection& connection, const std::string& sql) {
    auto command = Command(connection);
    EXPECT_EQ(command->Prepare(sql.c_str(), 0), 0) << ErrorOf(*command);
    sqlfb::ISQLCursor* cursor = nullptr;
    EXPECT_EQ(command->Execute(&cursor), 0) << ErrorOf(*command);
    delete cursor;
    std::uint32_t rows = 0;
    command->GetRowsAffected(&rows);
    return rows;
}

// A prepared query with its open cursor.
struct Query {
    std::unique_ptr<sqlfb::ISQLCommand> command;
    std::unique_ptr<sqlfb::ISQLCursor> cursor;  // declared last: goes first
};

inline Query Open(sqlfb::ISQLConnection& connection, const std::string& sql) {
    Query q;
    q.command = Command(connection);
    EXPECT_EQ(q.command->Prepare(sql.c_str(), 0), 0) << ErrorOf(*q.command);
    sqlfb::ISQLCursor* cursor = nullptr;
    EXPECT_EQ(q.command->Execute(&cursor), 0) << ErrorOf(*q.command);
    q.cursor.reset(cursor);
    return q;
}

}  // namespace tarnwick::testing
