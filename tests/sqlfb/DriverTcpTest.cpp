// The driver over TCP against the local Firebird server that tools/start-firebird starts.
//   TARNWICK_FB_HOST      host, "host/port" also allowed (default: localhost)
//   TARNWICK_FB_PASSWORD  SYSDBA's password (default: masterkey, as start-firebird sets it)

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

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

// A loopback TCP proxy to the server that forwards until it is frozen; from then on it moves
// nothing and closes nothing (a link that went dead on the way), and takes new connections
// without answering them. Everything it holds is closed `hardStop` after the freeze at the
// latest, and when it goes.
class FreezingProxy {
public:
    FreezingProxy(const std::string& host, const std::string& port) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr)
            throw std::runtime_error("cannot resolve " + host);
        std::memcpy(&target_, found->ai_addr, sizeof target_);
        ::freeaddrinfo(found);
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        port_ = ntohs(local.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~FreezingProxy() {
        stop_ = true;
        thread_.join();
        for (const auto& [a, b] : pairs_) {
            ::close(a);
            if (b >= 0) ::close(b);
        }
        ::close(listener_);
    }

    int Port() const { return port_; }
    void Freeze() {
        frozenAt_ = std::chrono::steady_clock::now();
        frozen_ = true;
    }

    static constexpr auto kHardStop = std::chrono::seconds(30);

private:
    void Run() {
        while (!stop_) {
            if (frozen_ && std::chrono::steady_clock::now() - frozenAt_.load() > kHardStop) {
                for (auto& [a, b] : pairs_) {
                    ::shutdown(a, SHUT_RDWR);
                    if (b >= 0) ::shutdown(b, SHUT_RDWR);
                }
            }
            std::vector<pollfd> fds{{listener_, POLLIN, 0}};
            if (!frozen_) {
                for (const auto& [a, b] : pairs_) {
                    fds.push_back({a, POLLIN, 0});
                    fds.push_back({b, POLLIN, 0});
                }
            }
            if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                const int client = ::accept(listener_, nullptr, nullptr);
                int server = -1;
                if (!frozen_) {
                    server = ::socket(AF_INET, SOCK_STREAM, 0);
                    if (::connect(server, reinterpret_cast<sockaddr*>(&target_), sizeof target_) != 0) {
                        ::close(server);
                        server = -1;
                    }
                }
                if (client >= 0) pairs_.push_back({client, server});
                continue;
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
                const auto& pair = pairs_[(i - 1) / 2];
                const int to = fds[i].fd == pair.first ? pair.second : pair.first;
                char buffer[16384];
                const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
                if (got <= 0 || to < 0) {
                    ::shutdown(to, SHUT_WR);
                    continue;
                }
                for (ssize_t sent = 0; sent < got;) {
                    const ssize_t n = ::write(to, buffer + sent, static_cast<std::size_t>(got - sent));
                    if (n <= 0) break;
                    sent += n;
                }
            }
        }
    }

    sockaddr_in target_{};
    int listener_ = -1;
    int port_ = 0;
    std::vector<std::pair<int, int>> pairs_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> frozen_{false};
    std::atomic<std::chrono::steady_clock::time_point> frozenAt_{};
    std::thread thread_;
};

TEST(DriverTcpTest, AFrozenLinkEndsTheWaitingCallWithinTheTimeOut) {
    const std::string host = Env("TARNWICK_FB_HOST", "localhost");
    const std::string hostName = host.substr(0, host.find('/'));
    const std::string port = host.find('/') == std::string::npos ? "3050" : host.substr(host.find('/') + 1);
    storedb::DatabaseLogin login;
    login.Password = Env("TARNWICK_FB_PASSWORD", "masterkey");
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tarnwick-freeze-" + std::to_string(::getpid()) + ".fdb")).string();
    ASSERT_NO_THROW(storedb::CreateDatabase(host + ":" + path, login, "CREATE TABLE T (ID INTEGER)"))
        << "is the server up? run tools/start-firebird";
    struct Drop {
        std::string database;
        storedb::DatabaseLogin login;
        ~Drop() { storedb::DropDatabase(database, login); }
    } drop{host + ":" + path, login};

    FreezingProxy proxy(hostName, port);
    const std::string database = "127.0.0.1/" + std::to_string(proxy.Port()) + ":" + path;
    constexpr int kTimeout = 3;
    using Clock = std::chrono::steady_clock;
    const auto bound = std::chrono::seconds(kTimeout + 10);
    {
        auto connection = Connect(database, login.Password, {{kConnTimeout, kTimeout}});
        ASSERT_NE(connection, nullptr);
        EXPECT_EQ(Exec(*connection, "INSERT INTO T VALUES (1)"), 1u);

        proxy.Freeze();
        const auto start = Clock::now();
        auto command = Command(*connection);
        SQLResult rc = command->Prepare("SELECT COUNT(*) FROM T WHERE ID > 0", 0);
        ISQLCursor* cursor = nullptr;
        if (rc == kSQLSuccess) rc = command->Execute(&cursor);
        delete cursor;
        EXPECT_LT(Clock::now() - start, bound);
        EXPECT_EQ(rc, kSQLServerError);
        const std::string text = ErrorOf(*command);
        EXPECT_NE(text.find("connection"), std::string::npos) << text;  // the client library's network error
        EXPECT_NE(text.find("No answer from the server within 3 seconds"), std::string::npos) << text;

        // The link stays closed: the next call fails at once.
        const auto again = Clock::now();
        auto next = Command(*connection);
        EXPECT_NE(next->Prepare("SELECT ID FROM T", 0), kSQLSuccess);
        EXPECT_LT(Clock::now() - again, std::chrono::seconds(kTimeout));
    }
    {
        // A connect through the frozen link gives up as well.
        const auto start = Clock::now();
        ISQLConnection* raw = nullptr;
        ASSERT_EQ(Driver().GetSQLConnection(&raw), 0);
        std::unique_ptr<ISQLConnection> connection(raw);
        connection->SetOption(kConnTimeout, kTimeout);
        EXPECT_EQ(connection->Connect(database.c_str(), "SYSDBA", login.Password.c_str()), kSQLConnectionFailed);
        EXPECT_LT(Clock::now() - start, bound);
    }
    // The row committed before the freeze is there.
    auto direct = Connect(host + ":" + path, login.Password);
    Query q = Open(*direct, "SELECT COUNT(*) FROM T");
    ASSERT_EQ(q.cursor->Next(), 0);
    std::int32_t n = 0;
    int isNull = 0;
    q.cursor->GetLong(1, &n, &isNull);
    EXPECT_EQ(n, 1);
}

}  // namespace
}  // namespace tarnwick::testing
