// The whole unattended import against a client library that fails one call: a lost connection, a
// lock conflict, an update conflict or a full disk, at call numbers spread over a whole run. A
// store is laid out by tools/make-store; its drivers file names the stand-in client library
// (libfbfault.so). Every faulted run must end without a crash or a hang and keep what it has not
// imported: either the chain stops with the database's message (exit 1), the files stay in
// download/ and nothing is handed off, or the refused record is kept in rejected/ (exit 3), or
// the fault did no harm (exit 0 with every table as an uninterrupted run leaves it). A clean run
// afterwards must then leave every table as an uninterrupted run does.
//
// After every run the fault stopped, each full-replace table must hold its old rows or its new
// rows and every bill its old lines or its new lines: never a mix.
// TARNWICK_FAULTS_POINTS sets how many call numbers are tried (default 24).

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SamplePackets.h"
#include "StoreDb.h"
#include "data/sql/SQLConnection.h"
#include "data/sql/SQLQuery.h"
#include "platform/ExecutablePath.h"
#include "platform/TestFolders.h"
#include "sqlfb/TestStore.h"

namespace tarnwick::faults {
namespace {

namespace fs = std::filesystem;
using tarnwick::testing::ReadFile;

// The rows of every table, each row its column texts joined by "|", sorted.
using TTableRows = std::vector<std::string>;
using TStoreDump = std::map<std::string, TTableRows>;

const std::vector<std::string> kFullReplaceTables = {"ADDCASH_SUB", "SMARTCARD_DATA", "MEMBER_CLASS", "PROD_SALE"};
const std::vector<std::string> kBillLineTables = {"PSALE_SUB", "CHGPRICE_SUB", "PTSALE_SUB"};

struct TFaultKind {
    const char* Name;
    const char* Message;  // what the database says, as the error box shows it
};
const TFaultKind kKinds[] = {
    {"network", "Unable to complete network request to host"},
    {"lock", "lock conflict on no wait transaction"},
    {"deadlock", "deadlock"},
    {"disk", "I/O error during \"write\" operation"},
};

int PointCount() {
    const char* value = std::getenv("TARNWICK_FAULTS_POINTS");
    const int count = value != nullptr ? std::atoi(value) : 0;
    return count > 1 ? count : 24;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

struct TRunResult {
    int Exit = -1;
    std::string Out, Err;
};

class FaultRun : public ::testing::Test {
protected:
    void SetUp() override {
        testing::EnsureFirebirdLockFolder();
        store_ = root_.Path() + "store";
        // The store as a store is laid out, with the stand-in client library as its vendor library.
        const std::string log = root_.Path() + "make-store.log";
        const int made = std::system(("bash " + Quote(std::string(TARNWICK_SOURCE_DIR) + "/tools/make-store") + " --bin " +
                                      Quote(platform::ExecutableDir()) + " " + Quote(store_) + " > " + Quote(log) + " 2>&1")
                                         .c_str());
        ASSERT_EQ(made, 0) << ReadFile(log);
        fs::remove_all(store_ + "/outbox");
        fs::create_directories(store_ + "/outbox");
        std::string drivers = ReadFile(store_ + "/sqldrivers.ini");
        const auto vendor = drivers.find("VendorLib=");
        ASSERT_NE(vendor, std::string::npos) << drivers;
        drivers.replace(vendor, drivers.find('\n', vendor) - vendor, "VendorLib=" + platform::ExecutableDir() + "libfbfault.so");
        testing::WriteFile(store_ + "/sqldrivers.ini", drivers);

        // This process reads the tables through the real client library, from files of its own.
        storedb::DatabaseLogin login;
        login.Password = testing::TestStore::kPassword;
        fs::create_directories(root_.Path() + "reader");
        storedb::WriteStoreConfig(root_.Path() + "reader", store_ + "/POSDATA.FDB", login);
        testing::WriteFile(root_.Path() + "reader-config/morvane/sqllink.ini",
                           "[SQLLink]\nConnection Registry File=" + root_.Path() + "reader/sqlconnections.ini\n"
                           "Driver Registry File=" + root_.Path() + "reader/sqldrivers.ini\n");
        fs::create_directories(root_.Path() + "child-config");
        oldXdg_ = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
        ::setenv("XDG_CONFIG_HOME", (root_.Path() + "reader-config").c_str(), 1);

        // Old data imported first (other sizes, so the new files replace and add rows), then new
        // data kept aside to be delivered by the download program for every run.
        WriteSamples(store_ + "/outbox", {3, 4, 2, 3});
        const TRunResult old = Run(0, "network");
        ASSERT_EQ(old.Exit, 0) << old.Err;
        old_ = Dump();
        fs::copy_file(store_ + "/POSDATA.FDB", root_.Path() + "OLD.FDB");
        newFiles_ = root_.Path() + "new";
        WriteSamples(newFiles_, {5, 6, 3, 2});
    }

    void TearDown() override {
        if (oldXdg_.empty()) ::unsetenv("XDG_CONFIG_HOME");
        else ::setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    }

    static void WriteSamples(const std::string& folder, const sampledata::TSampleSizes& sizes) {
        fs::create_directories(folder);
        sampledata::WriteSampleFiles(folder, sizes);
    }

    // The store as it was after the old import, with the new files waiting in outbox/.
    void ResetStore() {
        fs::copy_file(root_.Path() + "OLD.FDB", store_ + "/POSDATA.FDB", fs::copy_options::overwrite_existing);
        for (const char* folder : {"/download", "/rejected", "/outbox"}) fs::remove_all(store_ + folder);
        fs::create_directories(store_ + "/download");
        fs::copy(newFiles_, store_ + "/outbox");
    }

    // `tarnwick --run` in the store, with the N-th client call failing (0: none); a run that
    // does not end within a minute is killed and answers 124.
    TRunResult Run(long failAt, const char* kind) {
        const std::string out = root_.Path() + "out", err = root_.Path() + "err";
        const std::string command = "cd " + Quote(store_) + " && XDG_CONFIG_HOME=" + Quote(root_.Path() + "child-config") +
                                    " TARNWICK_FAULT_AT=" + std::to_string(failAt) + " TARNWICK_FAULT_KIND=" + kind +
                                    " TARNWICK_FAULT_LOG=" + Quote(FaultLog()) +
                                    " timeout -k 5 60 ./tarnwick --run > " + Quote(out) + " 2> " + Quote(err);
        fs::remove(FaultLog());
        const int status = std::system(command.c_str());
        TRunResult result;
        result.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.Out = ReadFile(out);
        result.Err = ReadFile(err);
        return result;
    }
    std::string FaultLog() const { return root_.Path() + "fault.log"; }

    // Every table of the store schema, read through the real client library.
    TStoreDump Dump() {
        TStoreDump dump;
        sql::TSQLConnection connection;
        connection.SetConnectionName("Morvane");
        connection.SetDriverName("Firebird");
        connection.SetLoginPrompt(false);
        connection.SetLoadParamsOnConnect(true);
        for (const auto& table : sampledata::ParseSchema(storedb::StoreSchema())) {
            sql::TSQLQuery query;
            query.SetSQLConnection(&connection);
            query.SetMaxBlobSize(-1);
            query.AddSQL("SELECT * FROM " + table.Name);
            query.Open();
            TTableRows& rows = dump[table.Name];
            for (; !query.AtEnd(); query.MoveNext()) {
                std::string row;
                for (int i = 0; i < query.FieldTotal(); ++i)
                    row += (i ? "|" : "") + query.FieldAt(i).FieldName() + "=" + query.FieldAt(i).StringValue();
                rows.push_back(row);
            }
            query.Close();
            std::sort(rows.begin(), rows.end());
        }
        connection.Close();  // the embedded database is opened by one process at a time
        return dump;
    }

    static std::string Differences(const TStoreDump& got, const TStoreDump& want) {
        std::ostringstream text;
        for (const auto& [table, rows] : want) {
            const auto it = got.find(table);
            if (it == got.end()) text << table << ": missing\n";
            else if (it->second != rows) text << table << ": " << it->second.size() << " rows, want " << rows.size() << "\n";
        }
        return text.str();
    }

    // Lines of every bill, by bill identifier.
    static std::map<std::string, TTableRows> BillLines(const TTableRows& rows) {
        std::map<std::string, TTableRows> bills;
        for (const std::string& row : rows) {
            const auto at = row.find("MASTERBILLID=");
            const auto end = row.find('|', at);
            bills[row.substr(at + 13, end == std::string::npos ? std::string::npos : end - at - 13)].push_back(row);
        }
        return bills;
    }

    // Full-replace tables hold their old rows or their new rows; every bill its old lines or its
    // new lines.
    std::string MixedTables(const TStoreDump& got) const {
        std::ostringstream text;
        for (const std::string& table : kFullReplaceTables) {
            const TTableRows& rows = got.at(table);
            if (rows != old_.at(table) && rows != new_.at(table))
                text << table << ": " << rows.size() << " rows, neither the old " << old_.at(table).size()
                     << " nor the new " << new_.at(table).size() << "\n";
        }
        for (const std::string& table : kBillLineTables) {
            const auto oldBills = BillLines(old_.at(table)), newBills = BillLines(new_.at(table));
            for (const auto& [bill, lines] : BillLines(got.at(table))) {
                const auto o = oldBills.find(bill), n = newBills.find(bill);
                if ((o == oldBills.end() || o->second != lines) && (n == newBills.end() || n->second != lines))
                    text << table << " bill " << bill << ": " << lines.size() << " lines, a mix\n";
            }
        }
        return text.str();
    }

    long CallsOfLastRun() const {
        std::istringstream log(ReadFile(FaultLog()));
        std::string word;
        long calls = 0;
        while (log >> word)
            if (word == "calls") log >> calls;
        return calls;
    }

    std::size_t HandOffs() const {
        const std::string log = ReadFile(store_ + "/handoff.log");
        return static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n'));
    }

    testing::TTempFolder root_{"tarnwick-faults"};
    testing::TPrivateRuntimeFolder runtime_;
    std::string store_, newFiles_, oldXdg_;
    TStoreDump old_, new_;
};

TEST_F(FaultRun, EveryFaultStopsCleanlyAndACleanRunCompletesTheImport) {
    // An uninterrupted run: its tables and the number of client calls it makes.
    ResetStore();
    const TRunResult clean = Run(0, "network");
    ASSERT_EQ(clean.Exit, 0) << clean.Err;
    const long calls = CallsOfLastRun();
    ASSERT_GT(calls, 10) << ReadFile(FaultLog());
    new_ = Dump();
    ASSERT_NE(Differences(new_, old_), "") << "the new files change nothing";

    const int points = PointCount();
    std::set<long> tried;
    for (int i = 0; i < points; ++i) {
        const long at = 1 + static_cast<long>(static_cast<double>(i) * static_cast<double>(calls - 1) / (points - 1));
        if (!tried.insert(at).second) continue;
        const TFaultKind& kind = kKinds[i % std::size(kKinds)];
        SCOPED_TRACE("call " + std::to_string(at) + " of " + std::to_string(calls) + " fails: " + kind.Name);

        ResetStore();
        const std::size_t handOffsBefore = HandOffs();
        const TRunResult run = Run(at, kind.Name);
        const std::string faultLog = ReadFile(FaultLog());
        ASSERT_NE(run.Exit, 124) << "the run hung\n" << faultLog << run.Out;
        ASSERT_TRUE(run.Exit == 0 || run.Exit == 1 || run.Exit == 3)
            << "exit " << run.Exit << "\n" << run.Err << "\n" << faultLog;
        EXPECT_EQ(run.Err.find("Sanitizer"), std::string::npos) << run.Err;
        EXPECT_EQ(run.Err.find("runtime error:"), std::string::npos) << run.Err;
        if (faultLog.find("fault ") == std::string::npos) {
            // No call from there on could fail this way (e.g. a lock conflict after the last
            // statement): nothing to check.
            EXPECT_EQ(run.Exit, 0) << run.Err;
            continue;
        }
        const std::string failedCall = faultLog.substr(0, faultLog.find('\n'));
        std::cout << failedCall << " (from call " << at << " of " << calls << "): exit " << run.Exit << "\n";

        if (run.Exit == 1) {
            // Stopped: the database's message, every file still waiting, no hand-off.
            EXPECT_NE(run.Err.find(kind.Message), std::string::npos) << failedCall << "\n" << run.Err;
            for (const auto& entry : fs::directory_iterator(newFiles_))
                EXPECT_TRUE(fs::exists(store_ + "/download/" + entry.path().filename().string()))
                    << failedCall << ": " << entry.path().filename() << " was deleted";
            EXPECT_EQ(HandOffs(), handOffsBefore) << failedCall << ": handed off after a failure";
            EXPECT_EQ(MixedTables(Dump()), "") << failedCall;
        } else if (run.Exit == 3) {
            // A record the database refused is kept with the database's message.
            EXPECT_NE(ReadFile(store_ + "/rejected/rejected.log").find(kind.Message), std::string::npos)
                << failedCall << "\n" << run.Err;
        } else {
            // The fault did no harm: the import is whole.
            EXPECT_EQ(Differences(Dump(), new_), "") << failedCall << ": a failure was reported as success";
            continue;
        }

        // A clean run afterwards; files that a completed run deleted are delivered again.
        if (fs::is_empty(store_ + "/download")) fs::copy(newFiles_, store_ + "/outbox");
        const TRunResult again = Run(0, "network");
        EXPECT_EQ(again.Exit, 0) << failedCall << "\n" << again.Err;
        EXPECT_EQ(Differences(Dump(), new_), "") << failedCall << ": the clean run after the fault";
    }
}

}  // namespace
}  // namespace tarnwick::faults
