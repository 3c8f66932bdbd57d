// Import benchmark: whole unattended runs (list, import, clear, hand-off) on an embedded store
// database, first with a 20 000-record PRODUCT file whose keys are half present, then with a PSALE
// pair of 4 000 bills of 5 lines each; once committing every record on its own
// (--commit-each-record) and once as the import commits by default (a file, or batches of whole
// records and bills). The reference does the same writes straight on the client library with the
// same transactions (per product: select, update or insert; per bill: master select and upsert,
// delete of its lines, the select of its lines, each line inserted), on a copy of the same
// database, with prepared statements and values already in memory.
// Every run starts from a fresh copy of the seeded database; each side runs three times, the best
// run of each counts. The store's database has forced writes on, as a store sets it up.
// Prints records per second of each, the ratios, and how long loading the packets alone takes.
//
// Usage: bench_import_run [products [bills]] [--no-forced-writes] [--batched-only] [--batch RECORDS MS]
//                         [--tarnwick-only] [--trials N]
//        (default 20 000 and 4 000, three trials; --tarnwick-only leaves the reference out, for
//        profiling the import alone)

#include <ibase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "SamplePackets.h"
#include "common/RawClient.h"
#include "app/CommandLine.h"
#include "base/Text.h"
#include "data/sql/SQLConnection.h"
#include "import/ImportData.h"
#include "import/TableRules.h"
#include "platform/ExecutablePath.h"
#include "sqlfb/TestStore.h"

using namespace tarnwick;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using sampledata::TRow;
using sampledata::TTable;

using bench::Attach;
using bench::Check;
using bench::CpuNow;
using bench::NewSqlda;

namespace {

struct Timing {
    double Wall = 0;
    double Cpu = 0;
};

class Stopwatch {
public:
    Timing Stop() const {
        return {std::chrono::duration<double>(Clock::now() - wall_).count(), CpuNow() - cpu_};
    }

private:
    Clock::time_point wall_ = Clock::now();
    double cpu_ = CpuNow();
};

// ---- the reference, straight on the client library -------------------------------------------

// A statement prepared once; parameters bound as text, which the server converts.
class TStatement {
public:
    TStatement(isc_db_handle& db, isc_tr_handle& tr, const std::string& text) {
        ISC_STATUS_ARRAY status;
        isc_dsql_allocate_statement(status, &db, &handle_);
        Check(status, "allocate");
        isc_dsql_prepare(status, &tr, &handle_, 0, text.c_str(), 3, nullptr);
        Check(status, text.c_str());
        in_ = NewSqlda(64);
        isc_dsql_describe_bind(status, &handle_, 1, in_);
        Check(status, "describe bind");
        out_ = NewSqlda(64);
        isc_dsql_describe(status, &handle_, 1, out_);
        Check(status, "describe");
        buffers_.resize(static_cast<std::size_t>(out_->sqld));
        nulls_.resize(static_cast<std::size_t>(out_->sqld));
        for (int i = 0; i < out_->sqld; ++i) {
            buffers_[static_cast<std::size_t>(i)].assign(static_cast<std::size_t>(out_->sqlvar[i].sqllen) + 8, 0);
            out_->sqlvar[i].sqldata = buffers_[static_cast<std::size_t>(i)].data();
            out_->sqlvar[i].sqlind = &nulls_[static_cast<std::size_t>(i)];
        }
    }
    ~TStatement() {
        ISC_STATUS_ARRAY status;
        isc_dsql_free_statement(status, &handle_, DSQL_drop);
        std::free(in_);
        std::free(out_);
    }

    // Runs with `values` (null pointer: null); for a select answers whether a row came.
    bool Run(isc_tr_handle& tr, const std::vector<const std::string*>& values) {
        ISC_STATUS_ARRAY status;
        for (int i = 0; i < in_->sqld; ++i) {
            XSQLVAR& var = in_->sqlvar[i];
            const std::string* v = values[static_cast<std::size_t>(i)];
            var.sqltype = SQL_TEXT + 1;
            var.sqlsubtype = 0;
            var.sqlscale = 0;
            var.sqllen = static_cast<short>(v ? v->size() : 0);
            var.sqldata = const_cast<char*>(v ? v->data() : "");
            var.sqlind = v ? &notNull_ : &null_;
        }
        isc_dsql_execute(status, &tr, &handle_, 1, in_);
        Check(status, "execute");
        if (out_->sqld == 0) return false;
        bool found = false;
        while (isc_dsql_fetch(status, &handle_, 1, out_) == 0) found = true;
        isc_dsql_free_statement(status, &handle_, DSQL_close);
        return found;
    }

private:
    isc_stmt_handle handle_ = 0;
    XSQLDA* in_ = nullptr;
    XSQLDA* out_ = nullptr;
    std::vector<std::vector<char>> buffers_;
    std::vector<short> nulls_;
    short notNull_ = 0;
    short null_ = -1;
};

// Packet value forms the server does not read as text: dates and time stamps.
std::string ServerText(const sampledata::TColumn& column, const std::string& value) {
    if (column.SqlType == "DATE") return value.substr(0, 4) + "-" + value.substr(4, 2) + "-" + value.substr(6, 2);
    if (column.SqlType == "TIMESTAMP")
        return value.substr(0, 4) + "-" + value.substr(4, 2) + "-" + value.substr(6, 2) + " " + value.substr(9);
    return value;
}

// A table's rows as server texts, in column order.
std::vector<std::vector<std::string>> ServerRows(const TTable& table, const std::vector<TRow>& rows) {
    std::vector<std::vector<std::string>> out;
    for (const TRow& row : rows) {
        std::vector<std::string> values;
        for (std::size_t c = 0; c < table.Columns.size(); ++c) values.push_back(ServerText(table.Columns[c], row[c].second));
        out.push_back(std::move(values));
    }
    return out;
}

std::string ColumnList(const TTable& table, const char* format) {
    std::string list;
    for (const auto& column : table.Columns) {
        if (!list.empty()) list += ", ";
        char part[128];
        std::snprintf(part, sizeof part, format, column.Name.c_str());
        list += part;
    }
    return list;
}

std::string InsertText(const TTable& table) {
    return "insert into " + table.Name + " (" + ColumnList(table, "%s") + ") values (" + ColumnList(table, "?") + ")";
}

// "update T set A = ?, ... where KEY = ?": every column, the key last.
std::string UpdateText(const TTable& table) {
    return "update " + table.Name + " set " + ColumnList(table, "%s = ?") + " where " + table.Columns[0].Name + " = ?";
}

std::vector<const std::string*> Pointers(const std::vector<std::string>& values, bool keyAgain) {
    std::vector<const std::string*> out;
    for (const std::string& v : values) out.push_back(&v);
    if (keyAgain) out.push_back(&values[0]);
    return out;
}

const char kTpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait};

void Start(isc_db_handle& db, isc_tr_handle& tr) {
    ISC_STATUS_ARRAY status;
    isc_start_transaction(status, &tr, 1, &db, static_cast<unsigned short>(sizeof kTpb), kTpb);
    Check(status, "start");
}
void Commit(isc_tr_handle& tr) {
    ISC_STATUS_ARRAY status;
    isc_commit_transaction(status, &tr);
    Check(status, "commit");
}

// The import's batches, unless --batch RECORDS MS sets others (a huge batch: one transaction per file).
import::TCommitPolicy gPolicy;

// When the reference commits: after every record, or as the import's batches do.
class TBatch {
public:
    explicit TBatch(bool eachRecord) : eachRecord_(eachRecord) {}
    // A unit (record, bill) is done: answers whether to commit now.
    bool UnitDone() {
        if (eachRecord_) return true;
        const import::TCommitPolicy& policy = gPolicy;
        if (++units_ < policy.BatchRecords && Clock::now() - started_ < policy.BatchTime) return false;
        units_ = 0;
        started_ = Clock::now();
        return true;
    }

private:
    bool eachRecord_;
    int units_ = 0;
    Clock::time_point started_ = Clock::now();
};

Timing ReferenceProducts(const std::string& database, const std::vector<std::vector<std::string>>& products,
                         bool eachRecord) {
    const TTable& table = sampledata::StoreTable("PRODUCT");
    isc_db_handle db = Attach(database, testing::TestStore::kPassword);
    isc_tr_handle tr = 0;
    Start(db, tr);
    TStatement select(db, tr, "SELECT * FROM PRODUCT where PROD_ID = ?");
    TStatement update(db, tr, UpdateText(table));
    TStatement insert(db, tr, InsertText(table));
    Commit(tr);
    const Stopwatch watch;
    TBatch batch(eachRecord);
    Start(db, tr);
    for (const std::vector<std::string>& values : products) {
        const bool found = select.Run(tr, {&values[0]});
        if (found) update.Run(tr, Pointers(values, true));
        else insert.Run(tr, Pointers(values, false));
        if (batch.UnitDone()) {
            Commit(tr);
            Start(db, tr);
        }
    }
    Commit(tr);
    const Timing timing = watch.Stop();
    ISC_STATUS_ARRAY status;
    isc_detach_database(status, &db);
    return timing;
}

Timing ReferenceBills(const std::string& database, const std::vector<std::vector<std::string>>& masters,
                      const std::vector<std::vector<std::string>>& lines, int linesPerBill, bool eachRecord) {
    const TTable& master = sampledata::StoreTable("PSALE_MASTER");
    const TTable& detail = sampledata::StoreTable("PSALE_SUB");
    isc_db_handle db = Attach(database, testing::TestStore::kPassword);
    isc_tr_handle tr = 0;
    Start(db, tr);
    TStatement select(db, tr, "SELECT * FROM PSALE_MASTER where MASTERBILLID = ?");
    TStatement update(db, tr, UpdateText(master));
    TStatement insert(db, tr, InsertText(master));
    TStatement remove(db, tr, "DELETE FROM PSALE_SUB WHERE MASTERBILLID = ?");
    TStatement selectLines(db, tr, "SELECT * FROM PSALE_SUB where MASTERBILLID = ?");
    TStatement insertLine(db, tr, InsertText(detail));
    Commit(tr);
    const Stopwatch watch;
    TBatch batch(eachRecord);
    // Per record: every statement commits on its own; batched: a commit between bills.
    const auto step = [&](bool unitEnds) {
        if (eachRecord || (unitEnds && batch.UnitDone())) {
            Commit(tr);
            Start(db, tr);
        }
    };
    Start(db, tr);
    for (std::size_t b = 0; b < masters.size(); ++b) {
        const std::vector<std::string>& values = masters[b];
        if (select.Run(tr, {&values[0]})) update.Run(tr, Pointers(values, true));
        else insert.Run(tr, Pointers(values, false));
        step(false);
        remove.Run(tr, {&values[0]});
        step(false);
        selectLines.Run(tr, {&values[0]});
        step(false);
        for (int l = 0; l < linesPerBill; ++l) {
            insertLine.Run(tr, Pointers(lines[b * static_cast<std::size_t>(linesPerBill) + static_cast<std::size_t>(l)], false));
            step(l + 1 == linesPerBill);
        }
    }
    Commit(tr);
    const Timing timing = watch.Stop();
    ISC_STATUS_ARRAY status;
    isc_detach_database(status, &db);
    return timing;
}

// ---- Tarnwick -------------------------------------------------------------------------------

// One unattended run from the list stage, with the files of download/; answers its exit code.
int RunTarnwick(const std::string& storeDir, Timing& timing, bool eachRecord) {
    import::TImportData data(storeDir);
    data.CommitPolicy() = gPolicy;
    data.SetCommitEachRecord(eachRecord);
    const import::TRuleTable rules = import::MakeStoreRules(data);
    const app::TWalkHooks hooks = app::WalkHooksFor(data);
    std::ostringstream out;
    const Stopwatch watch;
    const int code = app::RunUnattended(app::TLaunchMode::List, rules, hooks, storeDir, out, std::cerr);
    timing = watch.Stop();
    return code;
}

void SeedProducts(int products) {
    sql::TSQLConnection connection;
    connection.SetConnectionName("Morvane");
    connection.SetDriverName("Firebird");
    connection.SetLoadParamsOnConnect(true);
    connection.SetLoginPrompt(false);
    // Every odd key of the file is present, every even one new.
    connection.ExecuteStatement(Format("EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN\n"
                                       "  WHILE (I <= %d) DO BEGIN\n"
                                       "    INSERT INTO PRODUCT (PROD_ID, PROD_NAME, NOW_QTY, BEFORE_QTY)\n"
                                       "    VALUES ('P' || LPAD(:I, 7, '0'), 'old ' || :I, 3, 2);\n"
                                       "    I = I + 2;\n"
                                       "  END\n"
                                       "END",
                                       products),
                                nullptr);
}

struct TSides {
    Timing Tarnwick, Reference;
};

void PrintSide(const char* how, int records, const TSides& side) {
    if (side.Tarnwick.Wall == 0) return;
    std::printf("  %-9s tarnwick   %8.0f records/s elapsed  %8.0f records/s of CPU\n", how,
                records / side.Tarnwick.Wall, records / side.Tarnwick.Cpu);
    if (side.Reference.Wall == 0) return;
    std::printf("  %-9s reference  %8.0f records/s elapsed  %8.0f records/s of CPU\n", how,
                records / side.Reference.Wall, records / side.Reference.Cpu);
    std::printf("  %-9s ratio      %8.2f elapsed            %8.2f of CPU\n", how,
                side.Reference.Wall / side.Tarnwick.Wall, side.Reference.Cpu / side.Tarnwick.Cpu);
}

void Print(const char* what, int records, const TSides& perRecord, const TSides& batched) {
    std::printf("%s: %d records\n", what, records);
    PrintSide("per record", records, perRecord);
    PrintSide("per file", records, batched);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const auto take = [&](const char* option) {
        const auto before = args.size();
        std::erase(args, std::string(option));
        return args.size() != before;
    };
    const bool forcedWrites = !take("--no-forced-writes");
    take("--forced-writes");  // the default; accepted as before
    const bool batchedOnly = take("--batched-only");
    const bool tarnwickOnly = take("--tarnwick-only");
    int trials = 3;
    if (const auto at = std::find(args.begin(), args.end(), "--trials"); at != args.end() && args.end() - at >= 2) {
        trials = std::max(1, std::atoi(at[1].c_str()));
        args.erase(at, at + 2);
    }
    if (const auto at = std::find(args.begin(), args.end(), "--batch"); at != args.end() && args.end() - at >= 3) {
        gPolicy.BatchRecords = std::atoi(at[1].c_str());
        gPolicy.BatchTime = std::chrono::milliseconds(std::atoi(at[2].c_str()));
        args.erase(at, at + 3);
    }
    std::printf("batches: %d records or %lld ms\n", gPolicy.BatchRecords, static_cast<long long>(gPolicy.BatchTime.count()));
    const int products = !args.empty() ? std::atoi(args[0].c_str()) : 20000;
    const int bills = args.size() > 1 ? std::atoi(args[1].c_str()) : 4000;
    constexpr int kLines = 5;

    tarnwick::testing::TestStore store;
    const std::string storeDir = store.Folder() + "/";
    const std::string download = storeDir + "download/";
    fs::create_directories(download);
    fs::copy_file(platform::ExecutableDir() + "lantrel", storeDir + "Lantrel.exe");
    if (!forcedWrites) {
        ISC_STATUS_ARRAY status;
        isc_db_handle db = Attach(store.Database(), testing::TestStore::kPassword, true);
        isc_detach_database(status, &db);
    }
    SeedProducts(products);
    // Every run starts from its own copy of the seeded database; each side runs three times and
    // its best run counts.
    const std::string seed = storeDir + "SEED.FDB";
    const std::string reference = storeDir + "REFERENCE.FDB";
    fs::copy_file(store.Database(), seed);

    const TTable& product = sampledata::StoreTable("PRODUCT");
    const std::vector<TRow> productRows = sampledata::SampleRows(product, products, 1, 11);
    const sampledata::TBills billRows =
        sampledata::SampleBills(sampledata::StoreTable("PSALE_MASTER"), sampledata::StoreTable("PSALE_SUB"), bills, kLines, 1, 12);
    const std::string productXml = sampledata::PacketXml(product, productRows);
    const std::string masterXml = sampledata::PacketXml(sampledata::StoreTable("PSALE_MASTER"), billRows.Masters);
    const std::string linesXml = sampledata::PacketXml(sampledata::StoreTable("PSALE_SUB"), billRows.Lines);
    std::printf("store %s, forced writes %s; PRODUCT file %.1f MB\n", storeDir.c_str(), forcedWrites ? "on" : "off",
                static_cast<double>(productXml.size()) / 1e6);

    // Loading alone, for the share of the packets in the run.
    sampledata::WriteFile(storeDir + "load.XML", productXml);
    TClientDataSet load;
    const Stopwatch loadWatch;
    load.LoadPacketFile(storeDir + "load.XML");
    const Timing loadTiming = loadWatch.Stop();
    load.Close();

    const auto productValues = ServerRows(product, productRows);
    const auto masterValues = ServerRows(sampledata::StoreTable("PSALE_MASTER"), billRows.Masters);
    const auto lineValues = ServerRows(sampledata::StoreTable("PSALE_SUB"), billRows.Lines);
    const auto best = [](const Timing& a, const Timing& b) {
        return Timing{a.Wall == 0 ? b.Wall : std::min(a.Wall, b.Wall), a.Cpu == 0 ? b.Cpu : std::min(a.Cpu, b.Cpu)};
    };
    TSides productSides[2], billSides[2];  // [0] per record, [1] batched
    int code = 0;
    for (const bool eachRecord : {true, false}) {
        if (eachRecord && batchedOnly) continue;
        TSides& productSide = productSides[eachRecord ? 0 : 1];
        TSides& billSide = billSides[eachRecord ? 0 : 1];
        for (int trial = 0; trial < trials; ++trial) {
            fs::copy_file(seed, store.Database(), fs::copy_options::overwrite_existing);
            Timing product, bill;
            sampledata::WriteFile(download + "HQ__PRODUCT__1.XML", productXml);
            code = std::max(code, RunTarnwick(storeDir, product, eachRecord));
            sampledata::WriteFile(download + "HQ__PSALE_MASTER__1.XML", masterXml);
            sampledata::WriteFile(download + "HQ__PSALE_SUB__1.XML", linesXml);
            code = std::max(code, RunTarnwick(storeDir, bill, eachRecord));
            productSide.Tarnwick = best(productSide.Tarnwick, product);
            billSide.Tarnwick = best(billSide.Tarnwick, bill);

            if (tarnwickOnly) continue;
            fs::copy_file(seed, reference, fs::copy_options::overwrite_existing);
            productSide.Reference = best(productSide.Reference, ReferenceProducts(reference, productValues, eachRecord));
            billSide.Reference =
                best(billSide.Reference, ReferenceBills(reference, masterValues, lineValues, kLines, eachRecord));
        }
    }
    if (code != 0) std::printf("tarnwick exit code %d\n", code);

    Print("PRODUCT (half present)", products, productSides[0], productSides[1]);
    Print("PSALE bills + lines", bills * (1 + kLines), billSides[0], billSides[1]);
    std::printf("loading the PRODUCT packet alone: %.2f s elapsed, %.2f s CPU (%.0f%% of its per-file run)\n",
                loadTiming.Wall, loadTiming.Cpu, 100.0 * loadTiming.Wall / productSides[1].Tarnwick.Wall);
    fs::remove(reference);
    fs::remove(seed);
    return code;
}
