// Import benchmark: whole unattended runs (list, import, clear, hand-off) on an embedded store
// database, first with a 20 000-record PRODUCT file whose keys are half present, then with a PSALE
// pair of 4 000 bills of 5 lines each. The reference does the same writes straight on the client
// library, with the same transactions per record (per product: select, update or insert, commit;
// per bill: master select and upsert, commit; delete of its lines, commit; the select of its
// lines; each line inserted and committed) on a copy of the same database, with prepared statements and values already in memory.
// Every run starts from a fresh copy of the seeded database; each side runs three times, the best
// run of each counts.
// Prints records per second of both, their ratio, and how long loading the packets alone takes.
//
// Usage: bench_import_run [products [bills [--forced-writes]]]   (default 20 000 and 4 000)

#include <ibase.h>

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

Timing ReferenceProducts(const std::string& database, const std::vector<std::vector<std::string>>& products) {
    const TTable& table = sampledata::StoreTable("PRODUCT");
    isc_db_handle db = Attach(database, testing::TestStore::kPassword);
    isc_tr_handle tr = 0;
    Start(db, tr);
    TStatement select(db, tr, "SELECT * FROM PRODUCT where PROD_ID = ?");
    TStatement update(db, tr, UpdateText(table));
    TStatement insert(db, tr, InsertText(table));
    Commit(tr);
    const Stopwatch watch;
    for (const std::vector<std::string>& values : products) {
        Start(db, tr);
        const bool found = select.Run(tr, {&values[0]});
        if (found) update.Run(tr, Pointers(values, true));
        else insert.Run(tr, Pointers(values, false));
        Commit(tr);
    }
    const Timing timing = watch.Stop();
    ISC_STATUS_ARRAY status;
    isc_detach_database(status, &db);
    return timing;
}

Timing ReferenceBills(const std::string& database, const std::vector<std::vector<std::string>>& masters,
                      const std::vector<std::vector<std::string>>& lines, int linesPerBill) {
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
    for (std::size_t b = 0; b < masters.size(); ++b) {
        const std::vector<std::string>& values = masters[b];
        Start(db, tr);
        if (select.Run(tr, {&values[0]})) update.Run(tr, Pointers(values, true));
        else insert.Run(tr, Pointers(values, false));
        Commit(tr);
        Start(db, tr);
        remove.Run(tr, {&values[0]});
        Commit(tr);
        Start(db, tr);
        selectLines.Run(tr, {&values[0]});
        Commit(tr);
        for (int l = 0; l < linesPerBill; ++l) {
            Start(db, tr);
            insertLine.Run(tr, Pointers(lines[b * static_cast<std::size_t>(linesPerBill) + static_cast<std::size_t>(l)], false));
            Commit(tr);
        }
    }
    const Timing timing = watch.Stop();
    ISC_STATUS_ARRAY status;
    isc_detach_database(status, &db);
    return timing;
}

// ---- Tarnwick -------------------------------------------------------------------------------

// One unattended run from the list stage, with the files of download/; answers its exit code.
int RunTarnwick(const std::string& storeDir, Timing& timing) {
    import::TImportData data(storeDir);
    const import::TRuleTable rules = import::MakeStoreRules(data);
    const app::TWalkHooks hooks{[&data] { data.WalkStarted(); }, [&data] { return data.RefusalWarning(); }};
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

void Print(const char* what, int records, const Timing& tarnwick, const Timing& reference) {
    std::printf("%s: %d records\n", what, records);
    std::printf("  tarnwick --run   %8.0f records/s elapsed  %8.0f records/s of CPU\n", records / tarnwick.Wall,
                records / tarnwick.Cpu);
    std::printf("  reference (isc)  %8.0f records/s elapsed  %8.0f records/s of CPU\n", records / reference.Wall,
                records / reference.Cpu);
    std::printf("  ratio            %8.2f elapsed            %8.2f of CPU   (goal >= 0.60)\n",
                reference.Wall / tarnwick.Wall, reference.Cpu / tarnwick.Cpu);
}

}  // namespace

int main(int argc, char** argv) {
    const int products = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int bills = argc > 2 ? std::atoi(argv[2]) : 4000;
    const bool forcedWrites = argc > 3 && std::string(argv[3]) == "--forced-writes";
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
    Timing productRun, billRun, productRef, billRef;
    int code = 0;
    for (int trial = 0; trial < 3; ++trial) {
        fs::copy_file(seed, store.Database(), fs::copy_options::overwrite_existing);
        Timing product, bill;
        sampledata::WriteFile(download + "HQ__PRODUCT__1.XML", productXml);
        code = std::max(code, RunTarnwick(storeDir, product));
        sampledata::WriteFile(download + "HQ__PSALE_MASTER__1.XML", masterXml);
        sampledata::WriteFile(download + "HQ__PSALE_SUB__1.XML", linesXml);
        code = std::max(code, RunTarnwick(storeDir, bill));
        productRun = best(productRun, product);
        billRun = best(billRun, bill);

        fs::copy_file(seed, reference, fs::copy_options::overwrite_existing);
        productRef = best(productRef, ReferenceProducts(reference, productValues));
        billRef = best(billRef, ReferenceBills(reference, masterValues, lineValues, kLines));
    }
    if (code != 0) std::printf("tarnwick exit code %d\n", code);

    Print("PRODUCT (half present)", products, productRun, productRef);
    Print("PSALE bills + lines", bills * (1 + kLines), billRun, billRef);
    std::printf("loading the PRODUCT packet alone: %.2f s elapsed, %.2f s CPU (%.0f%% of its run)\n", loadTiming.Wall,
                loadTiming.Cpu, 100.0 * loadTiming.Wall / productRun.Wall);
    fs::remove(reference);
    fs::remove(seed);
    return code;
}
