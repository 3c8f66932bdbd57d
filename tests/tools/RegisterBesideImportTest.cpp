// A cash register beside the import, on a store whose database is on the local Firebird server
// (tools/make-store --server): while `tarnwick --run` imports a large PRODUCT and PROD_SALE file,
// a second connection, standing in for a register, reads PROD_SALE and PRODUCT in a loop and adds
// to NOW_QTY of a product the file holds.
//   - every read of PROD_SALE sees the whole old or the whole new table, never a part of either;
//   - the register's update lands, or fails with the server's conflict error; nothing else;
//   - no update is lost: NOW_QTY ends as its start plus every update that landed, and the
//     register never reads it lower than before;
//   - the import finishes with exit 0, and PRODUCT holds every product of both files.
// The longest wait of a register update is printed (and kept as the test property
// longest_update_wait_ms).
//
// Needs root and the server of tools/start-firebird (skipped without them).
//   TARNWICK_FB_PASSWORD         SYSDBA's password (default masterkey)
//   TARNWICK_REGISTER_TEST_ROWS  PROD_SALE records and products of the large files (default 2000)

#include <gtest/gtest.h>
#include <ibase.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "SamplePackets.h"
#include "platform/ExecutablePath.h"
#include "sqlfb/FbClient.h"

namespace tarnwick::testing {
namespace {

namespace fs = std::filesystem;
using sqlfb::FbClient;

int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
std::string Quote(const std::string& text) { return "'" + text + "'"; }
std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
// The value of `name=` in the store's connections file.
std::string ConnectionValue(const fs::path& store, const std::string& name) {
    std::istringstream lines(ReadFile(store / "sqlconnections.ini"));
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(name + "=")) return line.substr(name.size() + 1);
    return {};
}

// One attachment of the register, through the Firebird client library directly.
class TRegister {
public:
    struct TSaleState {
        std::int64_t Rows = 0;
        std::int64_t Sum = 0;
        bool operator<(const TSaleState& other) const { return std::tie(Rows, Sum) < std::tie(other.Rows, other.Sum); }
        bool operator==(const TSaleState&) const = default;
    };
    struct TRead {
        TSaleState Sale;
        std::int64_t Products = 0;
        std::int64_t NowQty = 0;
    };
    enum class TUpdate { Landed, Conflict, Failed };

    TRegister(const std::string& database, const std::string& user, const std::string& password) {
        std::string error;
        api_ = FbClient::Load("libfbclient.so.2", &error);
        if (api_ == nullptr) throw std::runtime_error(error);
        std::string dpb(1, static_cast<char>(isc_dpb_version1));
        const auto item = [&dpb](char tag, const std::string& value) {
            dpb += tag;
            dpb += static_cast<char>(value.size());
            dpb += value;
        };
        item(isc_dpb_user_name, user);
        item(isc_dpb_password, password);
        item(isc_dpb_lc_ctype, "UTF8");
        ISC_STATUS_ARRAY status;
        if (api_->attach_database(status, 0, database.c_str(), &db_, static_cast<short>(dpb.size()), dpb.data()) != 0)
            throw std::runtime_error(api_->StatusText(status));
    }
    ~TRegister() {
        ISC_STATUS_ARRAY status;
        if (db_ != 0) api_->detach_database(status, &db_);
    }

    // PROD_SALE and PRODUCT in one snapshot.
    TRead Read(const std::string& product) {
        const char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_concurrency, isc_tpb_nowait};
        isc_tr_handle tr = Start(tpb, sizeof tpb);
        TRead read;
        const auto sale = SelectInts(tr,
                                     "select count(*), cast(coalesce(sum(SALE_ID * 1000 + "
                                     "cast(coalesce(SALE_PRICE, 0) * 100 as bigint)), 0) as bigint) from PROD_SALE",
                                     2);
        const auto products = SelectInts(tr,
                                         "select count(*), cast(coalesce(max(case when PROD_ID = '" + product +
                                             "' then coalesce(NOW_QTY, 0) end), -1) as bigint) from PRODUCT",
                                         2);
        ISC_STATUS_ARRAY status;
        api_->commit_transaction(status, &tr);
        read.Sale = {sale[0], sale[1]};
        read.Products = products[0];
        read.NowQty = products[1];
        return read;
    }

    // NOW_QTY + 1 of the product, waiting for locks as a register does (at most 60 seconds).
    TUpdate AddOne(const std::string& product, std::string* error) {
        const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                            isc_tpb_wait, isc_tpb_lock_timeout, 4, 60, 0, 0, 0};
        isc_tr_handle tr = Start(tpb, sizeof tpb);
        const std::string sql =
            "update PRODUCT set NOW_QTY = coalesce(NOW_QTY, 0) + 1 where PROD_ID = '" + product + "'";
        ISC_STATUS_ARRAY status;
        ISC_STATUS rc = api_->dsql_execute_immediate(status, &db_, &tr, 0, sql.c_str(), 3, nullptr);
        if (rc == 0) rc = api_->commit_transaction(status, &tr);
        if (rc == 0) return TUpdate::Landed;
        *error = api_->StatusText(status);
        const bool conflict = HasCode(status, isc_lock_conflict) || HasCode(status, isc_update_conflict) ||
                              HasCode(status, isc_deadlock);
        ISC_STATUS_ARRAY ignored;
        if (tr != 0) api_->rollback_transaction(ignored, &tr);
        return conflict ? TUpdate::Conflict : TUpdate::Failed;
    }

private:
    isc_tr_handle Start(const char* tpb, std::size_t size) {
        ISC_STATUS_ARRAY status;
        isc_tr_handle tr = 0;
        if (api_->start_transaction(status, &tr, 1, &db_, static_cast<int>(size), tpb) != 0)
            throw std::runtime_error(api_->StatusText(status));
        return tr;
    }
    std::vector<std::int64_t> SelectInts(isc_tr_handle& tr, const std::string& sql, short columns) {
        ISC_STATUS_ARRAY status;
        isc_stmt_handle statement = 0;
        std::vector<char> area(XSQLDA_LENGTH(columns));
        auto* out = reinterpret_cast<XSQLDA*>(area.data());
        out->version = SQLDA_VERSION1;
        out->sqln = columns;
        std::vector<std::int64_t> values(static_cast<std::size_t>(columns));
        std::vector<short> nulls(static_cast<std::size_t>(columns));
        const auto check = [&](ISC_STATUS rc) {
            if (rc != 0) throw std::runtime_error(sql + "\n" + api_->StatusText(status));
        };
        check(api_->dsql_allocate_statement(status, &db_, &statement));
        check(api_->dsql_prepare(status, &tr, &statement, 0, sql.c_str(), 3, out));
        for (short i = 0; i < columns; ++i) {
            out->sqlvar[i].sqltype = SQL_INT64 + 1;
            out->sqlvar[i].sqlscale = 0;
            out->sqlvar[i].sqllen = sizeof(std::int64_t);
            out->sqlvar[i].sqldata = reinterpret_cast<char*>(&values[static_cast<std::size_t>(i)]);
            out->sqlvar[i].sqlind = &nulls[static_cast<std::size_t>(i)];
        }
        check(api_->dsql_execute(status, &tr, &statement, 1, nullptr));
        check(api_->dsql_fetch(status, &statement, 1, out));
        api_->dsql_free_statement(status, &statement, DSQL_drop);
        return values;
    }
    static bool HasCode(const ISC_STATUS* status, ISC_STATUS code) {
        for (const ISC_STATUS* p = status; *p != isc_arg_end;) {
            if (p[0] == isc_arg_gds && p[1] == code) return true;
            p += p[0] == isc_arg_cstring ? 3 : 2;
        }
        return false;
    }

    std::shared_ptr<const FbClient> api_;
    isc_db_handle db_ = 0;
};

class RegisterBesideImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to set up a server store";
        root_ = fs::temp_directory_path() / ("tarnwick-register-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        store_ = root_ / ("tw_register_" + std::to_string(::getpid()));
        made_ = true;
        ASSERT_EQ(MakeStore(""), 0) << ReadFile(root_ / "make-store.log");
    }
    void TearDown() override {
        if (made_) MakeStore("--remove");
        if (!root_.empty()) fs::remove_all(root_);
    }
    int MakeStore(const std::string& option) {
        return Shell("bash " + Quote(std::string(TARNWICK_SOURCE_DIR) + "/tools/make-store") + " --bin " +
                     Quote(platform::ExecutableDir()) + " --server " + option + " " + Quote(store_.string()) +
                     " >> " + Quote((root_ / "make-store.log").string()) + " 2>&1");
    }
    int Run(const std::string& log) {
        return Shell("cd " + Quote(store_.string()) + " && ./tarnwick --run > " + Quote((root_ / log).string()) +
                     " 2>&1");
    }

    fs::path root_, store_;
    bool made_ = false;
};

TEST_F(RegisterBesideImportTest, RegisterReadsAndUpdatesWhileTheStoreImports) {
    // The old state: the small sample files of make-store.
    ASSERT_EQ(Run("first-run.log"), 0) << ReadFile(root_ / "first-run.log");

    const char* rowsText = std::getenv("TARNWICK_REGISTER_TEST_ROWS");
    const int rows = rowsText != nullptr && *rowsText != '\0' ? std::atoi(rowsText) : 2000;
    sampledata::TSampleSizes sizes;
    sizes.Rows = rows;
    sizes.Products = rows;
    const fs::path large = root_ / "large";
    fs::create_directories(large);
    sampledata::WriteSampleFiles(large.string(), sizes);
    for (const char* table : {"PRODUCT", "PROD_SALE"}) {
        const std::string name = std::string("HQ__") + table + "__20261210_01.XML";
        fs::rename(large / name, store_ / "outbox" / name);
    }
    // Row 1 of the PRODUCT file; the PRODUCT_UPDATE file of the first run starts past it.
    const std::string product = sampledata::SampleKey(*sampledata::StoreTable("PRODUCT").Find("PROD_ID"), 1);

    TRegister reg(ConnectionValue(store_, "Database"), ConnectionValue(store_, "User_Name"),
                  ConnectionValue(store_, "Password"));
    const TRegister::TRead before = reg.Read(product);
    ASSERT_GE(before.NowQty, 0) << product << " is not in PRODUCT after the first run";

    auto import = std::async(std::launch::async, [this] { return Run("large-run.log"); });
    std::set<TRegister::TSaleState> seen;
    std::int64_t landed = 0, conflicts = 0, lastQty = before.NowQty;
    double longestWaitMs = 0;
    std::vector<std::string> failures;
    do {
        const TRegister::TRead read = reg.Read(product);
        seen.insert(read.Sale);
        EXPECT_GE(read.NowQty, lastQty) << "the register's count of " << product << " went back";
        lastQty = std::max(lastQty, read.NowQty);

        std::string error;
        const auto start = std::chrono::steady_clock::now();
        const TRegister::TUpdate update = reg.AddOne(product, &error);
        longestWaitMs = std::max(
            longestWaitMs, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (update == TRegister::TUpdate::Landed) ++landed;
        else if (update == TRegister::TUpdate::Conflict) ++conflicts;
        else failures.push_back(error);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (import.wait_for(std::chrono::seconds(0)) != std::future_status::ready);

    EXPECT_EQ(import.get(), 0) << ReadFile(root_ / "large-run.log");
    EXPECT_TRUE(failures.empty()) << "an update failed other than by a conflict:\n" << failures.front();
    const TRegister::TRead after = reg.Read(product);
    EXPECT_EQ(after.Sale.Rows, rows);
    EXPECT_EQ(after.Products, rows);
    EXPECT_EQ(after.NowQty, before.NowQty + landed) << landed << " updates landed, " << conflicts << " conflicts";
    std::vector<std::int64_t> torn;
    for (const TRegister::TSaleState& state : seen)
        if (!(state == before.Sale || state == after.Sale)) torn.push_back(state.Rows);
    EXPECT_TRUE(torn.empty()) << "the register read PROD_SALE " << torn.size()
                              << " times neither whole old (" << before.Sale.Rows << " rows) nor whole new ("
                              << after.Sale.Rows << " rows), first with " << torn.front() << " rows";

    std::cout << "register beside the import: " << landed << " updates landed, " << conflicts
              << " conflicts, longest wait " << longestWaitMs << " ms, " << seen.size()
              << " states of PROD_SALE seen\n";
    RecordProperty("longest_update_wait_ms", std::to_string(static_cast<long long>(longestWaitMs)));
}

}  // namespace
}  // namespace tarnwick::testing
