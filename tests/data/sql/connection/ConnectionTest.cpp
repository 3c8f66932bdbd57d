// TSQLConnection: connect sequence, driver options, transactions and driver error messages,
// against a real embedded store database and, for codes a server will not give, the scripted
// fake driver.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "../../../fakedriver/FakeDriver.h"
#include "base/DatabaseError.h"
#include "base/Exception.h"
#include "data/sql/SQLConnection.h"
#include "platform/DynamicLibrary.h"
#include "sqlfb/TestStore.h"

namespace tarnwick::sql {
namespace {

using tarnwick::testing::TestStore;
using namespace tarnwick::sqlfb;

// SQLConnection1 as the main window sets it up.
std::unique_ptr<TSQLConnection> MakeConnection() {
    auto connection = std::make_unique<TSQLConnection>();
    connection->SetName("SQLConnection1");
    connection->SetConnectionName("Morvane");
    connection->SetDriverName("Firebird");
    connection->SetLibraryName("libsqlfb.so");
    connection->SetVendorLib("libfbclient.so.2");
    connection->SetGetDriverFunc("getSQLDriverFIREBIRD");
    connection->SetLoadParamsOnConnect(true);
    connection->SetLoginPrompt(false);
    return connection;
}

std::string ExpectFailure(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& e) {
        return e.Message();
    }
    ADD_FAILURE() << "no failure";
    return {};
}

// ---------------------------------------------------------------------------------------------
// The scripted driver

struct FakeLibrary {
    decltype(&fakeDriverSetScript) setScript;
    decltype(&fakeDriverLog) log;
};

FakeLibrary& Fake() {
    static FakeLibrary fake = [] {
        void* library = platform::LoadLibrary("libfakedriver.so");
        if (library == nullptr) throw std::runtime_error(platform::LibraryError());
        return FakeLibrary{
            reinterpret_cast<decltype(&fakeDriverSetScript)>(platform::LibrarySymbol(library, "fakeDriverSetScript")),
            reinterpret_cast<decltype(&fakeDriverLog)>(platform::LibrarySymbol(library, "fakeDriverLog"))};
    }();
    return fake;
}

// A folder with the two configuration files for the fake driver, and the settings pointing at it.
class FakeStore {
public:
    static constexpr const char* kDesignParams =
        "DriverName=Fake\nDatabase=/stores/POSDATA.FDB\nRoleName=RoleName\nUser_Name=SYSDBA\n"
        "Password=secret99x\nServerCharSet=\nSQLDialect=3\nBlobSize=-1\nCommitRetain=False\n"
        "WaitOnLocks=True\nErrorResourceFile=\nLocaleCode=0000\nFake TransIsolation=ReadCommited\n"
        "Trim Char=False\n";
    static constexpr const char* kDriverSection =
        "[Fake]\nLibraryName=libfakedriver.so\nVendorLib=libvendor.so\nGetDriverFunc=getSQLDriverFAKE\n";

    FakeStore() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-fake-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old != nullptr) old_ = old;
        ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
        std::filesystem::create_directories(folder_ + "/morvane");
        std::ofstream(folder_ + "/morvane/sqllink.ini")
            << "[SQLLink]\nConnection Registry File=" << Connections() << "\nDriver Registry File=" << Drivers() << "\n";
        Write(std::string("[Morvane]\n") + kDesignParams, kDriverSection);
    }
    ~FakeStore() {
        if (old_.empty()) ::unsetenv("XDG_CONFIG_HOME");
        else ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        std::filesystem::remove_all(folder_);
    }
    std::string Connections() const { return folder_ + "/conn.ini"; }
    std::string Drivers() const { return folder_ + "/drv.ini"; }
    void Write(const std::string& connections, const std::string& drivers) const {
        std::filesystem::remove(Connections());
        std::filesystem::remove(Drivers());
        if (!connections.empty()) std::ofstream(Connections()) << connections;
        if (!drivers.empty()) std::ofstream(Drivers()) << drivers;
    }

    std::unique_ptr<TSQLConnection> Connection() const {
        auto connection = MakeConnection();
        connection->SetDriverName("Fake");
        return connection;
    }

private:
    std::string folder_;
    std::string old_;
};

TEST(ConnectionFakeTest, DesignParametersBecomeTheseDriverOptions) {
    FakeStore store;
    Fake().setScript("");
    auto connection = store.Connection();
    connection->EnsureConnected();
    EXPECT_TRUE(connection->Connected());
    EXPECT_EQ(Fake().log(),
              std::string("Entry libvendor.so\n"
                          "SetOption 3=RoleName\n"
                          "SetOption 4=1\n"
                          "SetOption 5=0\n"
                          "SetOption 6=0\n"
                          "SetOption 16=3\n"
                          "SetOption 25=0\n"
                          "Connect /stores/POSDATA.FDB SYSDBA\n"
                          "MetaSetOption 1=SYSDBA\n"
                          "SetOption 2=-1\n"));
    EXPECT_EQ(connection->QuoteChar(), "\"");
    EXPECT_EQ(connection->IsolationLevel(), 0);
    EXPECT_EQ(connection->LocaleCode(), 0u);
    // Values read from the parameters follow every change of them.
    connection->Params().SetValue("LocaleCode", "0411");
    EXPECT_EQ(connection->LocaleCode(), 0x411u);
    sql::TConnectionParams copy = connection->Params();
    copy.SetValue("LocaleCode", "x");
    connection->Params() = copy;
    EXPECT_EQ(connection->LocaleCode(), 0u);
    Fake().setScript("");
    connection->Close();
    EXPECT_EQ(Fake().log(), std::string("SetOption 9=0\nSetOption 12=0\nDisconnect\n"));
    EXPECT_EQ(connection->ConnectionState(), TConnectionState::csStateClosed);
}

TEST(ConnectionFakeTest, IsolationAndFlagValues) {
    FakeStore store;
    struct Case {
        const char* line;
        const char* option;
        std::int32_t isolation;
    };
    const Case cases[] = {
        {"Fake TransIsolation=RepeatableRead", "SetOption 6=1\n", 1},
        {"Fake TransIsolation=DIRTYREAD", "SetOption 6=2\n", 2},
        {"Fake TransIsolation=ReadCommited", "SetOption 6=0\n", 0},
        {"Fake TransIsolation=Snapshot", "SetOption 6=0\n", 0},
        {"WaitOnLocks=true", "SetOption 4=1\n", 0},
        {"WaitOnLocks=tRuE", "SetOption 4=1\n", 0},
        {"WaitOnLocks=yes", "SetOption 4=0\n", 0},
        {"WaitOnLocks=1", "SetOption 4=0\n", 0},
        {"Trim Char=True", "SetOption 25=1\n", 0},
        {"ServerCharSet=WIN1252", "SetOption 15=WIN1252\n", 0},
        {"HostName=shop-server", "SetOption 10=shop-server\n", 0},
        {"Multiple Transaction=TRUE", "SetOption 22=1\n", 0},
        {"Connection Timeout=30", "SetOption 32=30\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        store.Write(std::string("[Morvane]\nDriverName=Fake\nDatabase=/db.fdb\n") + c.line + "\n",
                    FakeStore::kDriverSection);
        Fake().setScript("");
        auto connection = store.Connection();
        connection->Open();
        EXPECT_NE(std::string(Fake().log()).find(c.option), std::string::npos) << Fake().log();
        EXPECT_EQ(connection->IsolationLevel(), c.isolation);
    }

    // Parameters set by hand keep their blanks; a flag is read trimmed, the isolation untrimmed.
    Fake().setScript("");
    auto connection = store.Connection();
    connection->SetLoadParamsOnConnect(false);
    connection->SetLibraryName("libfakedriver.so");
    connection->SetVendorLib("libvendor.so");
    connection->SetGetDriverFunc("getSQLDriverFAKE");
    connection->Params().SetLines({"Database=/db.fdb", "WaitOnLocks= true ", "Fake TransIsolation= repeatableread"});
    connection->Open();
    EXPECT_NE(std::string(Fake().log()).find("SetOption 4=1\n"), std::string::npos);
    EXPECT_NE(std::string(Fake().log()).find("SetOption 6=0\n"), std::string::npos);
}

TEST(ConnectionFakeTest, ConnectFailuresLeaveTheConnectionClosed) {
    FakeStore store;
    const std::string params = std::string("[Morvane]\n") + FakeStore::kDesignParams;
    struct Case {
        std::string connections, drivers, script, connectionName, message;
    };
    const std::vector<Case> cases = {
        {params, FakeStore::kDriverSection, "", "", "Connection name missing"},
        {"", FakeStore::kDriverSection, "", "Morvane",
         "Driver/Connection Registry File '" + store.Connections() + "' not found"},
        {"[Elsewhere]\nDriverName=Fake\n", FakeStore::kDriverSection, "", "Morvane", "Missing DriverName property"},
        {params, "", "", "Morvane", "SQLConnection1: DLL/Shared Library Name not Set"},
        {params, "[Fake]\nLibraryName=libfakedriver.so\nVendorLib=  \n", "", "Morvane",
         "SQLConnection1: DLL/Shared Library Name not Set"},
        {"[Morvane]\nDriverName=Fake\nDatabase=\n", FakeStore::kDriverSection, "", "Morvane", "Missing Database property"},
        {params, "[Fake]\nLibraryName=libnosuch.so\nVendorLib=libvendor.so\n", "", "Morvane", "Unable to Load libnosuch.so"},
        {params, "[Fake]\nLibraryName=libfakedriver.so\nVendorLib=libvendor.so\nGetDriverFunc=getNothing\n", "",
         "Morvane", "Unable to Find Procedure getNothing"},
        {params, FakeStore::kDriverSection, "entry=22", "Morvane", "Unable to Load libvendor.so"},
        {params, FakeStore::kDriverSection, "connect=21;message=refused", "Morvane",
         "SQLLink Error: [0x0015]: Connection failed\r\nSQL Server Error: refused"},
        {"[Morvane]\nDriverName=Fake\nDatabase=/db.fdb\nBlobSize=abc\n", FakeStore::kDriverSection, "", "Morvane",
         "'abc' is not a valid integer value"},
        {"[Morvane]\nDriverName=Fake\nDatabase=/db.fdb\nSqlDialect=3x\n", FakeStore::kDriverSection, "", "Morvane",
         "'3x' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        store.Write(c.connections, c.drivers);
        Fake().setScript(c.script.c_str());
        auto connection = store.Connection();
        connection->SetConnectionName(c.connectionName);
        const std::string message = ExpectFailure([&] { connection->EnsureConnected(); });
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(message.find("secret99x"), std::string::npos);
        EXPECT_FALSE(connection->Connected());
        EXPECT_EQ(connection->ConnectionState(), TConnectionState::csStateClosed);
        EXPECT_EQ(connection->DriverConnection(), nullptr);
    }
}

TEST(ConnectionFakeTest, TransactionResultCodes) {
    FakeStore store;
    const TTransactionDesc desc;

    // Code 5 counts as done.
    Fake().setScript("begin=5;commit=5;rollback=5");
    auto connection = store.Connection();
    connection->BeginTransaction(desc);
    EXPECT_EQ(connection->TransactionCount(), 1);
    connection->CommitTransaction(desc);
    EXPECT_EQ(connection->TransactionCount(), 0);
    connection->BeginTransaction(desc);
    connection->RollbackTransaction(desc);
    EXPECT_FALSE(connection->TransactionActive());
    EXPECT_EQ(ExpectFailure([&] { connection->CommitTransaction(desc); }),
              "SQLConnection1: There is no active transaction");
    connection->BeginTransaction(desc);
    EXPECT_EQ(ExpectFailure([&] { connection->BeginTransaction(desc); }),
              "SQLConnection1: A transaction is already active");

    // Code 30 has no text of its own: the server part, else the previous message, else "unknown".
    Fake().setScript("commit=65;message=first");
    EXPECT_EQ(ExpectFailure([&] { connection->CommitTransaction(desc); }),
              "SQLLink Error: [0x0065]: SQL Error\r\nSQL Server Error: first");
    EXPECT_EQ(connection->TransactionCount(), 1);  // a refused commit leaves the transaction
    Fake().setScript("commit=30");
    EXPECT_EQ(ExpectFailure([&] { connection->CommitTransaction(desc); }),
              "SQLLink Error: [0x0065]: SQL Error\r\nSQL Server Error: first");
    Fake().setScript("commit=30;message=second");
    EXPECT_EQ(ExpectFailure([&] { connection->CommitTransaction(desc); }), "SQL Server Error: second");
    EXPECT_EQ(connection->LastError(), "SQL Server Error: second");
    connection->Close();
    Fake().setScript("rollback=30");
    auto fresh = store.Connection();
    fresh->BeginTransaction(desc);
    EXPECT_EQ(ExpectFailure([&] { fresh->RollbackTransaction(desc); }), "SQLLink Error: Unknown Error Code '30'");

    // A driver without transactions: begin, commit and rollback do nothing.
    Fake().setScript("transactions=0;quote=none");
    auto plain = store.Connection();
    plain->BeginTransaction(desc);
    EXPECT_FALSE(plain->TransactionActive());
    plain->CommitTransaction(desc);
    plain->RollbackTransaction(desc);
    EXPECT_EQ(std::string(Fake().log()).find("Begin"), std::string::npos);
    EXPECT_EQ(plain->QuoteChar(), "");
}

// ---------------------------------------------------------------------------------------------
// The real driver on an embedded store database

class StubClient : public ISQLConnectionClient {
public:
    bool active = false;
    int closed = 0;
    bool destroyed = false;
    std::vector<bool> notices;
    bool ClientActive() const override { return active; }
    void CloseForDisconnect() override {
        ++closed;
        active = false;
    }
    void ConnectionStateChanged(bool connecting) override { notices.push_back(connecting); }
    void ConnectionDestroyed() override { destroyed = true; }
};

TEST(ConnectionStoreTest, ConnectsWithTheStoreConfigurationAndRunsTransactions) {
    TestStore store;
    auto connection = MakeConnection();
    StubClient client;
    connection->RegisterClient(&client);
    int busy = 0;
    TBusyCursor::SetHook([&](bool on) { busy += on ? 1 : 0; });
    connection->EnsureConnected();
    TBusyCursor::SetHook(nullptr);

    EXPECT_TRUE(connection->Connected());
    EXPECT_GT(busy, 0);
    EXPECT_EQ(client.notices, std::vector<bool>{true});
    EXPECT_EQ(connection->ParamValue("Database"), store.Database());
    EXPECT_EQ(connection->QuoteChar(), "\"");
    EXPECT_TRUE(connection->TransactionsSupported());
    EXPECT_FALSE(connection->MultipleTransactionsSupported());
    EXPECT_EQ(connection->MaxStmtsPerConn(), 0);
    ASSERT_NE(connection->MetaData(), nullptr);

    const auto run = [&](const char* sql) {
        ISQLCommand* raw = nullptr;
        EXPECT_EQ(connection->DriverConnection()->GetSQLCommand(&raw), 0);
        std::unique_ptr<ISQLCommand> command(raw);
        const SQLResult rc = command->Prepare(sql, 0);
        if (rc != 0) connection->RaiseDriverError(rc, TErrorSource::eSourceCommand, command.get());
        ISQLCursor* cursor = nullptr;
        EXPECT_EQ(command->Execute(&cursor), 0);
        std::unique_ptr<ISQLCursor> owned(cursor);
        std::uint32_t rows = 0;
        command->GetRowsAffected(&rows);
        return rows;
    };
    const TTransactionDesc desc = connection->DefaultTransactionDesc();
    connection->BeginTransaction(desc);
    EXPECT_EQ(run("INSERT INTO PROD_DEPART (PD_DEPID, PD_DEPNAME) VALUES ('01', 'Fresh')"), 1u);
    connection->RollbackTransaction(desc);
    EXPECT_EQ(run("DELETE FROM PROD_DEPART"), 0u);
    connection->BeginTransaction(desc);
    EXPECT_EQ(run("INSERT INTO PROD_DEPART (PD_DEPID, PD_DEPNAME) VALUES ('01', 'Fresh')"), 1u);
    connection->CommitTransaction(desc);
    EXPECT_EQ(run("DELETE FROM PROD_DEPART"), 1u);

    // A statement the server refuses: the message carries the server's text.
    const std::string message = ExpectFailure([&] { run("SELECT * FROM NO_SUCH_TABLE"); });
    EXPECT_EQ(message.rfind("SQLLink Error: [0x0065]: SQL Error\r\nSQL Server Error: ", 0), 0u) << message;
    EXPECT_NE(message.find("NO_SUCH_TABLE"), std::string::npos);
    EXPECT_EQ(connection->LastError(), message);

    // A clone shares the settings and connects when its parent is connected.
    auto clone = connection->CloneConnection();
    EXPECT_EQ(clone->Name(), "SQLConnection1Clone1");
    EXPECT_TRUE(clone->Connected());
    EXPECT_TRUE(clone->IsClone());
    EXPECT_FALSE(clone->LoadParamsOnConnect());
    clone.reset();

    // Disconnecting closes the registered datasets first.
    client.active = true;
    connection->Close();
    EXPECT_EQ(client.closed, 1);
    EXPECT_EQ(client.notices, (std::vector<bool>{true, false}));
    EXPECT_FALSE(connection->Connected());
    connection->UnregisterClient(&client);
}

TEST(ConnectionStoreTest, CloseIfIdleOnlyWithoutKeepConnection) {
    TestStore store;
    auto connection = MakeConnection();
    StubClient client;
    connection->RegisterClient(&client);
    connection->Open();
    connection->CloseIfIdle();
    EXPECT_TRUE(connection->Connected());  // KeepConnection is on by default
    connection->SetKeepConnection(false);
    client.active = true;
    connection->CloseIfIdle();
    EXPECT_TRUE(connection->Connected());
    client.active = false;
    const TTransactionDesc desc = connection->DefaultTransactionDesc();
    connection->BeginTransaction(desc);
    connection->CloseIfIdle();
    EXPECT_TRUE(connection->Connected());
    connection->CommitTransaction(desc);  // the commit ends the last reason to stay connected
    EXPECT_FALSE(connection->Connected());
    connection.reset();
    EXPECT_TRUE(client.destroyed);  // a dataset outliving its connection is told
}

TEST(ConnectionStoreTest, WrongDatabaseGivesTheServerTextAndNoPassword) {
    TestStore store;
    std::ofstream(store.Folder() + "/sqlconnections.ini")
        << "[Morvane]\nDriverName=Firebird\nDatabase=" << store.Folder() << "/nothing.fdb\nUser_Name=SYSDBA\n"
        << "Password=" << TestStore::kPassword << "\n";
    auto connection = MakeConnection();
    const std::string message = ExpectFailure([&] { connection->EnsureConnected(); });
    EXPECT_EQ(message.rfind("SQLLink Error: [0x0015]: Connection failed\r\nSQL Server Error: ", 0), 0u) << message;
    EXPECT_NE(message.find("nothing.fdb"), std::string::npos);
    EXPECT_EQ(message.find(TestStore::kPassword), std::string::npos);
    EXPECT_FALSE(connection->Connected());
    EXPECT_EQ(connection->ConnectionState(), TConnectionState::csStateClosed);
}

}  // namespace
}  // namespace tarnwick::sql
