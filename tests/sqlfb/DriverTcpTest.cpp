// The driver over TCP against the local Firebird server that tools/start-firebird starts.
//   TARNWICK_FB_HOST      host, "host/port" also allowed (default: localhost)
//   TARNWICK_FB_PASSWORD  SYSDBA's password (default: masterkey, as start-firebird sets it)

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "DriverHarness.h"
#include "StoreDb.h"
#include "base/ValueForms.h"

namespace tarnwick::testing {
namespace {

using namespace tarnwick::sqlfb;
using tarnwick::TBcd;

std::string Env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

TEST(DriverTcpTest, HostPathDatabaseRunsOverTheServer) {
    const std::string host = Env("TARNWICK_FB_HOST", "localhost");
    storedb::DatabaseLogin login;
    login.Password = Env("TARNWICK_FB_PASSWORD", "masterkey");
    // The server creates the file as its own user, so it goes to a folder everyone may write.
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tarnwick-tcp-" + std::to_string(::getpid()) + ".fdb")).string();
    const std::string database = host + ":" + path;
    ASSERT_NO_THROW(storedb::CreateDatabase(database, login, "CREATE TABLE T (ID BIGINT NOT NULL PRIMARY KEY, NAME VARCHAR(20))"))
        << "is the server up? run tools/start-firebird";
    struct Drop {
        std::string database;
        storedb::DatabaseLogin login;
        ~Drop() { storedb::DropDatabase(database, login); }
    } drop{database, login};

    // Same database through "host/port:path", the port form of the driver.
    const std::string withPort =
        host.find('/') == std::string::npos ? host + "/3050:" + path : database;
    for (const std::string& name : {database, withPort}) {
        auto connection = Connect(name, login.Password);
        ASSERT_NE(connection, nullptr);
        Exec(*connection, "DELETE FROM T");
        auto insert = Command(*connection);
        ASSERT_EQ(insert->Prepare("INSERT INTO T VALUES (?, ?)", 2), 0) << ErrorOf(*insert);
        const TBcd id = BcdFromString("9000000000000000001").value();
        insert->SetParameter(1, 0, kParamInput, kLogBcd, 0, 0, 0, sizeof id, &id, 0);
        insert->SetParameter(2, 0, kParamInput, kLogString, 0, 0, 0, 7, "remote", 0);  // text and its zero
        ASSERT_EQ(insert->Execute(nullptr), 0) << ErrorOf(*insert);
        Query q = Open(*connection, "SELECT ID, NAME FROM T");
        ASSERT_EQ(q.cursor->Next(), 0) << ErrorOf(*q.cursor);
        TBcd back;
        int isNull = 1;
        ASSERT_EQ(q.cursor->GetBcd(1, &back, &isNull), 0);
        EXPECT_EQ(isNull, 0);
        EXPECT_EQ(BcdToString(back), "9000000000000000001");
        char text[32];
        ASSERT_EQ(q.cursor->GetString(2, text, sizeof text, &isNull), 0);
        EXPECT_STREQ(text, "remote");
    }

    // A wrong password over TCP is refused with the server's text.
    ISQLConnection* raw = nullptr;
    ASSERT_EQ(Driver().GetSQLConnection(&raw), 0);
    std::unique_ptr<ISQLConnection> refused(raw);
    EXPECT_EQ(refused->Connect(database.c_str(), "SYSDBA", "wrong-password"), kSQLConnectionFailed);
    EXPECT_NE(ErrorOf(*refused).find("password"), std::string::npos) << ErrorOf(*refused);
    EXPECT_EQ(ErrorOf(*refused).find("wrong-password"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick::testing
