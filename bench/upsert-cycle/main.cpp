// Keyed-upsert benchmark. A store database whose PRODUCT table holds every other key of 5 000
// records; each record is written the way the import writes it: ClientDataSet2 is closed, given
// "SELECT * FROM PRODUCT where PROD_ID = '<key>'", opened, edited (row present) or inserted, every
// field assigned, posted and applied with MaxErrors 0. The reference does the same work straight on
// the client library: the select, the update or insert prepared once, one transaction per record.
// Every run starts from its own copy of the same seeded database file: a run leaves deleted and
// back versions behind, which would make whoever runs later pay for the garbage of the others.
// Each contender runs three times, alternating; the best run of each counts.
// Prints records per second of both, their ratio, and where the command dataset's time goes
// (from a further, separately clocked run).
//
// Usage: bench_upsert_cycle [records [--forced-writes | --dataset-only | --reference-only]]
//        (default 5 000 records, writes not forced; the last two run one side alone)

#include <ibase.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <algorithm>
#include <string>
#include <vector>

#include "base/Text.h"
#include "common/RawClient.h"
#include "data/clientdataset/CommandDataSet.h"
#include "data/provider/DataSetProvider.h"
#include "data/sql/SQLConnection.h"
#include "data/sql/SQLDataSet.h"
#include "sqlfb/TestStore.h"

using namespace tarnwick;
using Clock = std::chrono::steady_clock;
using bench::Attach;
using bench::Check;
using bench::CpuNow;
using bench::NewSqlda;

struct Rate {
    double wall = 0;  // records per second of elapsed time
    double cpu = 0;   // records per second of process CPU time
};

namespace {

constexpr int kColumns = 17;
const char* const kColumnNames[kColumns] = {
    "PROD_ID", "PROD_NAME",  "BARCODE",  "PD_ITEMID", "PROVIDER_ID", "UNIT",      "TAX_TYPE",  "PRICE",     "COST",
    "MEMBER_PRICE", "NOW_QTY", "BEFORE_QTY", "SAFE_QTY", "WEIGHT",     "ON_SALE",   "SERIAL_NO", "UPDATED_AT"};

std::string KeyOf(int n) { return Format("P%07d", n); }

// The values of record n in round r, as text (the reference binds text; the database converts).
std::vector<std::string> TextValues(int n, int round) {
    return {KeyOf(n),
            Format("商品 %d 第%d版", n, round),
            Format("471%010d", n),
            Format("IT%d", n % 100),
            Format("PV%d", n % 50),
            "PCS",
            round % 2 ? "1" : "2",
            Format("%d.%02d", n % 1000 + round, n % 100),
            Format("%d.1234", n % 700 + round),
            Format("%d.50", n % 900 + round),
            std::to_string(n % 300 + round),
            std::to_string(round),
            "5",
            Format("%d.25", n % 40 + round),
            (n + round) % 2 ? "TRUE" : "FALSE",
            std::to_string(static_cast<long long>(n) * 1000003 + round),
            Format("2026-12-%02d 08:%02d:%02d", 1 + round % 28, n % 60, round % 60)};
}

// The same values as the import hands them over: variants of the file's kinds.
std::vector<TVariant> VariantValues(int n, int round) {
    const std::vector<std::string> t = TextValues(n, round);
    std::vector<TVariant> v;
    for (int i = 0; i < 7; ++i) v.emplace_back(t[static_cast<std::size_t>(i)]);
    v.emplace_back(std::atof(t[7].c_str()));
    v.emplace_back(std::atof(t[8].c_str()));
    v.emplace_back(std::atof(t[9].c_str()));
    v.emplace_back(static_cast<std::int32_t>(std::atoi(t[10].c_str())));
    v.emplace_back(static_cast<std::int32_t>(std::atoi(t[11].c_str())));
    v.emplace_back(static_cast<std::int32_t>(5));
    v.emplace_back(std::atof(t[13].c_str()));
    v.emplace_back((n + round) % 2 != 0);
    v.emplace_back(static_cast<std::int64_t>(n) * 1000003 + round);
    v.emplace_back(TVariant::FromDateTime(46357.0 + round % 28 + (n % 60) / 1440.0));
    return v;
}

// ---------------------------------------------------------------------------------------------
// ClientDataSet2

// CPU seconds per phase of the cycle.
struct Profile {
    double open = 0;   // close, command text, open (select, packet, load)
    double edit = 0;   // begin edit or insert, assignments, post
    double apply = 0;  // delta, resolver, statement, commit, reconcile
};

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// With `profile`, each phase is clocked on its own (which costs time of its own).
Rate RunCommandDataSet(int records, int round, Profile* profile, int& refused) {
    TComponent owner;
    auto& connection = TComponent::Create<sql::TSQLConnection>(owner);
    connection.SetName("SQLConnection1");
    connection.SetConnectionName("Morvane");
    connection.SetDriverName("Firebird");
    connection.SetLoadParamsOnConnect(true);
    connection.SetLoginPrompt(false);
    auto& sqlDataSet = TComponent::Create<sql::TSQLDataSet>(owner);
    sqlDataSet.SetName("SQLDataSet2");
    sqlDataSet.SetSQLConnection(&connection);
    sqlDataSet.SetMaxBlobSize(-1);
    auto& provider = TComponent::Create<provider::TDataSetProvider>(owner);
    provider.SetName("DataSetProvider2");
    provider.SetDataSet(&sqlDataSet);
    provider.SetOptions({provider::poAllowCommandText});
    auto& cds = TComponent::Create<TCommandDataSet>(owner);
    cds.SetName("ClientDataSet2");
    cds.SetProviderName("DataSetProvider2");
    connection.EnsureConnected();

    refused = 0;
    const Clock::time_point start = Clock::now();
    const double cpuStart = CpuNow();
    const auto clock = [profile] { return profile != nullptr ? CpuNow() : 0.0; };
    for (int n = 1; n <= records; ++n) {
        const double t0 = clock();
        cds.Close();
        cds.SetCommandText("SELECT * FROM PRODUCT where PROD_ID = '" + KeyOf(n) + "'");
        cds.Open();
        const double t1 = clock();
        if (cds.RecordTotal() > 0) cds.BeginEdit();
        else cds.BeginInsert();
        const std::vector<TVariant> values = VariantValues(n, round);
        for (int c = 0; c < kColumns; ++c) cds.FieldNamed(kColumnNames[c]).SetVariantValue(values[static_cast<std::size_t>(c)]);
        cds.PostRecord();
        const double t2 = clock();
        refused += cds.ApplyChanges(0);
        if (profile == nullptr) continue;
        const double t3 = clock();
        profile->open += t1 - t0;
        profile->edit += t2 - t1;
        profile->apply += t3 - t2;
    }
    Rate rate{records / Seconds(start, Clock::now()), records / (CpuNow() - cpuStart)};
    cds.Close();
    return rate;
}

// ---------------------------------------------------------------------------------------------
// The reference, straight on the client library.

struct Statement {
    isc_stmt_handle handle = 0;
    XSQLDA* in = nullptr;
};

Statement Prepare(isc_db_handle& db, isc_tr_handle& tr, const std::string& text, int params) {
    ISC_STATUS_ARRAY status;
    Statement s;
    isc_dsql_allocate_statement(status, &db, &s.handle);
    Check(status, "allocate");
    isc_dsql_prepare(status, &tr, &s.handle, 0, text.c_str(), 3, nullptr);
    Check(status, "prepare");
    s.in = NewSqlda(params);
    isc_dsql_describe_bind(status, &s.handle, 1, s.in);
    Check(status, "describe");
    return s;
}

// Binds every parameter as text; the server converts it to the column's type.
void BindText(XSQLDA* in, const std::vector<const std::string*>& values, short& notNull) {
    for (int i = 0; i < in->sqld; ++i) {
        XSQLVAR& var = in->sqlvar[i];
        const std::string& v = *values[static_cast<std::size_t>(i)];
        var.sqltype = SQL_TEXT + 1;
        var.sqlsubtype = 0;
        var.sqlscale = 0;
        var.sqllen = static_cast<short>(v.size());
        var.sqldata = const_cast<char*>(v.data());
        var.sqlind = &notNull;
    }
}

// literalSelect: the select is the import's text with the key written into it, prepared for every
// record (what the command dataset must do), instead of prepared once with a parameter.
Rate RunReference(const std::string& database, int records, int round, bool literalSelect = false) {
    ISC_STATUS_ARRAY status;
    isc_db_handle db = Attach(database, testing::TestStore::kPassword);
    static char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait};
    isc_tr_handle tr = 0;
    isc_start_transaction(status, &tr, 1, &db, static_cast<unsigned short>(sizeof tpb), tpb);
    Check(status, "start");

    std::string columns, marks, sets;
    for (int c = 0; c < kColumns; ++c) {
        columns += std::string(c ? ", " : "") + kColumnNames[c];
        marks += c ? ", ?" : "?";
        if (c) sets += std::string(c > 1 ? ", " : "") + kColumnNames[c] + " = ?";
    }
    Statement select = Prepare(db, tr, "SELECT * FROM PRODUCT where PROD_ID = ?", 1);
    Statement update = Prepare(db, tr, "update PRODUCT set " + sets + " where PROD_ID = ?", kColumns);
    Statement insert = Prepare(db, tr, "insert into PRODUCT (" + columns + ") values (" + marks + ")", kColumns);
    XSQLDA* out = NewSqlda(40);
    isc_dsql_describe(status, &select.handle, 1, out);
    Check(status, "describe select");
    std::vector<std::vector<char>> outBuffers(static_cast<std::size_t>(out->sqld));
    std::vector<short> outNulls(static_cast<std::size_t>(out->sqld));
    for (int i = 0; i < out->sqld; ++i) {
        outBuffers[static_cast<std::size_t>(i)].assign(static_cast<std::size_t>(out->sqlvar[i].sqllen) + 10, 0);
        out->sqlvar[i].sqldata = outBuffers[static_cast<std::size_t>(i)].data();
        out->sqlvar[i].sqlind = &outNulls[static_cast<std::size_t>(i)];
    }
    isc_commit_transaction(status, &tr);
    Check(status, "commit");

    short notNull = 0;
    const Clock::time_point start = Clock::now();
    const double cpuStart = CpuNow();
    for (int n = 1; n <= records; ++n) {
        const std::vector<std::string> values = TextValues(n, round);
        isc_start_transaction(status, &tr, 1, &db, static_cast<unsigned short>(sizeof tpb), tpb);
        Check(status, "start");
        bool found = false;
        if (literalSelect) {
            isc_stmt_handle literal = 0;
            isc_dsql_allocate_statement(status, &db, &literal);
            const std::string text = "SELECT * FROM PRODUCT where PROD_ID = '" + values[0] + "'";
            isc_dsql_prepare(status, &tr, &literal, 0, text.c_str(), 3, out);
            Check(status, "prepare literal select");
            isc_dsql_execute(status, &tr, &literal, 1, nullptr);
            Check(status, "execute literal select");
            while (isc_dsql_fetch(status, &literal, 1, out) == 0) found = true;
            isc_dsql_free_statement(status, &literal, DSQL_drop);
        } else {
            BindText(select.in, {&values[0]}, notNull);
            isc_dsql_execute(status, &tr, &select.handle, 1, select.in);
            Check(status, "execute select");
            while (isc_dsql_fetch(status, &select.handle, 1, out) == 0) found = true;
            isc_dsql_free_statement(status, &select.handle, DSQL_close);
        }
        std::vector<const std::string*> bound;
        if (found) {
            for (int c = 1; c < kColumns; ++c) bound.push_back(&values[static_cast<std::size_t>(c)]);
            bound.push_back(&values[0]);
            BindText(update.in, bound, notNull);
            isc_dsql_execute(status, &tr, &update.handle, 1, update.in);
        } else {
            for (int c = 0; c < kColumns; ++c) bound.push_back(&values[static_cast<std::size_t>(c)]);
            BindText(insert.in, bound, notNull);
            isc_dsql_execute(status, &tr, &insert.handle, 1, insert.in);
        }
        Check(status, "execute upsert");
        isc_commit_transaction(status, &tr);
        Check(status, "commit");
    }
    const Rate rate{records / Seconds(start, Clock::now()), records / (CpuNow() - cpuStart)};
    for (Statement* s : {&select, &update, &insert}) {
        isc_dsql_free_statement(status, &s->handle, DSQL_drop);
        std::free(s->in);
    }
    std::free(out);
    isc_detach_database(status, &db);
    return rate;
}

// Every odd key present, every even key absent.
void Seed() {
    sql::TSQLConnection connection;
    connection.SetConnectionName("Morvane");
    connection.SetDriverName("Firebird");
    connection.SetLoadParamsOnConnect(true);
    connection.SetLoginPrompt(false);
    connection.ExecuteStatement(
        "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN\n"
        "  WHILE (I <= 5000) DO BEGIN\n"
        "    INSERT INTO PRODUCT (PROD_ID, PROD_NAME, PRICE, NOW_QTY, ON_SALE, UPDATED_AT)\n"
        "    VALUES ('P' || LPAD(:I, 7, '0'), 'Old ' || :I, 1.5, 1, FALSE, CURRENT_TIMESTAMP);\n"
        "    I = I + 2;\n"
        "  END\n"
        "END",
        nullptr);
}

// Puts the seeded database back in place; nothing may be attached to `database` meanwhile.
void Restore(const std::string& seed, const std::string& database) {
    std::filesystem::copy_file(seed, database, std::filesystem::copy_options::overwrite_existing);
}

Rate Best(const Rate& a, const Rate& b) { return {std::max(a.wall, b.wall), std::max(a.cpu, b.cpu)}; }

}  // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 5000;
    testing::TestStore store;
    const std::string option = argc > 2 ? argv[2] : "";
    const bool forcedWrites = option == "--forced-writes";
    // --dataset-only, --reference-only: one of the two alone, for a profiler.
    const bool datasetOnly = option == "--dataset-only";
    const bool referenceOnly = option == "--reference-only";
    if (!forcedWrites) {
        ISC_STATUS_ARRAY status;
        isc_db_handle db = Attach(store.Database(), testing::TestStore::kPassword, true);
        isc_detach_database(status, &db);
    }
    Seed();
    const std::string seed = store.Folder() + "/SEED.FDB";
    const std::string reference = store.Folder() + "/REFERENCE.FDB";
    std::filesystem::copy_file(store.Database(), seed);
    std::printf("store database %s, %d PRODUCT records, every other one present, forced writes %s\n",
                store.Database().c_str(), records, forcedWrites ? "on" : "off");

    int refused = 0;
    if (referenceOnly) {
        const Rate rate = RunReference(store.Database(), records, 1);
        std::printf("reference: %.0f records/s elapsed, %.0f records/s of CPU\n", rate.wall, rate.cpu);
        return 0;
    }
    if (datasetOnly) {
        const Rate rate = RunCommandDataSet(records, 2, nullptr, refused);
        std::printf("ClientDataSet2: %.0f records/s elapsed, %.0f records/s of CPU\n", rate.wall, rate.cpu);
        return refused == 0 ? 0 : 1;
    }
    Restore(seed, reference);
    RunReference(reference, std::min(records, 300), 9);  // warms the page cache
    Rate best, literal, tarnwick;
    for (int trial = 0; trial < 3; ++trial) {
        Restore(seed, reference);
        best = Best(best, RunReference(reference, records, 1));
        Restore(seed, reference);
        literal = Best(literal, RunReference(reference, records, 3, true));
        Restore(seed, store.Database());
        int refusedNow = 0;
        tarnwick = Best(tarnwick, RunCommandDataSet(records, 2, nullptr, refusedNow));
        refused = std::max(refused, refusedNow);
    }
    Restore(seed, store.Database());
    Profile profile;
    RunCommandDataSet(records, 2, &profile, refused);
    std::filesystem::remove(seed);
    std::filesystem::remove(reference);

    const double total = profile.open + profile.edit + profile.apply;
    std::printf("records:                 %d (refused %d), best of 3 runs each\n", records, refused);
    std::printf("reference (isc):         %.0f records/s elapsed, %.0f records/s of CPU\n", best.wall, best.cpu);
    std::printf("reference, literal select prepared per record: %.0f records/s elapsed, %.0f records/s of CPU\n",
                literal.wall, literal.cpu);
    std::printf("ClientDataSet2:          %.0f records/s elapsed, %.0f records/s of CPU\n", tarnwick.wall,
                tarnwick.cpu);
    std::printf("ratio:                   %.2f elapsed, %.2f CPU (goal >= 0.60)\n", tarnwick.wall / best.wall,
                tarnwick.cpu / best.cpu);
    std::printf("CPU per record, ClientDataSet2, phases clocked apart (us): open %.0f, edit+post %.0f, apply %.0f, "
                "total %.0f\n",
                profile.open / records * 1e6, profile.edit / records * 1e6, profile.apply / records * 1e6,
                total / records * 1e6);
    return refused == 0 ? 0 : 1;
}
