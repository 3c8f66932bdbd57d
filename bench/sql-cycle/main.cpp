// SQL cycle benchmark. A store database with 100 000 PRODUCT rows; each cycle opens a SELECT of
// one product by a new key through a TSQLDataSet, reads every field, closes it, then runs one
// UPDATE with "?" parameters through ExecuteStatement inside a transaction of its own and commits.
// The reference does the same work straight on the client library (statements prepared once,
// one transaction per cycle). Prints cycles per second of both and their ratio.
//
// Usage: bench_sql_cycle [cycles]   (default 10 000)

#include <ibase.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/Text.h"
#include "common/RawClient.h"
#include "data/sql/SQLConnection.h"
#include "data/sql/SQLDataSet.h"

using namespace tarnwick;
using namespace tarnwick::sql;
using tarnwick::bench::Check;
using tarnwick::bench::NewSqlda;

namespace {

constexpr int kRows = 100000;

// Wall-clock and CPU (user + system) seconds of one run. The embedded engine runs inside this
// process, so CPU time counts the server's work too; it is far less disturbed by other load on
// the machine than wall-clock time, which also waits for the disk at every commit.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class Stopwatch {
public:
    Stopwatch() : wall_(std::chrono::steady_clock::now()), cpu_(CpuSeconds()) {}
    Timing Elapsed() const {
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wall_;
        return {wall.count(), CpuSeconds() - cpu_};
    }

private:
    std::chrono::steady_clock::time_point wall_;
    double cpu_;
};

std::string KeyOf(int n) { return Format("P%07d", n); }

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
}

// Creates the database from the store schema and fills PRODUCT in one server-side loop.
void CreateDatabase(const std::string& folder, const std::string& database) {
    std::ifstream schemaIn(TARNWICK_STORE_SCHEMA);
    const std::string schema((std::istreambuf_iterator<char>(schemaIn)), std::istreambuf_iterator<char>());
    const std::string script = folder + "/create.sql";
    WriteFile(script,
              "SET SQL DIALECT 3;\nCREATE DATABASE '" + database +
                  "' USER 'SYSDBA' PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8;\n" + schema +
                  "\nCOMMIT;\nSET TERM ^;\n"
                  "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN\n"
                  "  WHILE (I <= " + std::to_string(kRows) + ") DO BEGIN\n"
                  "    INSERT INTO PRODUCT (PROD_ID, PROD_NAME, BARCODE, PD_ITEMID, PROVIDER_ID, UNIT,\n"
                  "      TAX_TYPE, PRICE, COST, MEMBER_PRICE, NOW_QTY, BEFORE_QTY, SAFE_QTY, WEIGHT,\n"
                  "      ON_SALE, SERIAL_NO, UPDATED_AT)\n"
                  "    VALUES ('P' || LPAD(:I, 7, '0'), 'Product ' || :I, '471' || LPAD(:I, 10, '0'),\n"
                  "      'IT' || MOD(:I, 100), 'PV' || MOD(:I, 50), 'PCS', '1', MOD(:I, 1000) + 0.99,\n"
                  "      MOD(:I, 700) + 0.1234, MOD(:I, 900) + 0.5, MOD(:I, 300), 0, 5, :I / 7.0,\n"
                  "      MOD(:I, 2) = 0, :I * 1000003, CURRENT_TIMESTAMP);\n"
                  "    I = I + 1;\n"
                  "  END\n"
                  "END^\nSET TERM ;^\nCOMMIT;\n");
    const std::string command = "isql-fb -q -b -i '" + script + "' > '" + folder + "/isql.log' 2>&1";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "creating the database failed, see %s/isql.log\n", folder.c_str());
        std::exit(1);
    }
}

void WriteConfiguration(const std::string& folder, const std::string& database) {
    WriteFile(folder + "/sqlconnections.ini",
              "[Morvane]\nDriverName=Firebird\nDatabase=" + database +
                  "\nRoleName=RoleName\nUser_Name=SYSDBA\nPassword=masterkey\nServerCharSet=\n"
                  "SQLDialect=3\nBlobSize=-1\nCommitRetain=False\nWaitOnLocks=True\n"
                  "ErrorResourceFile=\nLocaleCode=0000\nFirebird TransIsolation=ReadCommited\n"
                  "Trim Char=False\n");
    WriteFile(folder + "/sqldrivers.ini",
              "[Firebird]\nLibraryName=libsqlfb.so\nVendorLib=libfbclient.so.2\n"
              "GetDriverFunc=getSQLDriverFIREBIRD\n");
    std::filesystem::create_directories(folder + "/morvane");
    WriteFile(folder + "/morvane/sqllink.ini",
              "[SQLLink]\nConnection Registry File=" + folder + "/sqlconnections.ini\n"
              "Driver Registry File=" + folder + "/sqldrivers.ini\n");
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
}

// ---------------------------------------------------------------------------------------------
// The data layer.

Timing RunDataLayer(const std::vector<int>& keys, long& checksum) {
    TSQLConnection connection;
    connection.SetName("SQLConnection1");
    connection.SetConnectionName("Morvane");
    connection.SetDriverName("Firebird");
    connection.SetLoadParamsOnConnect(true);
    connection.SetLoginPrompt(false);
    TSQLDataSet dataset;
    dataset.SetName("SQLDataSet2");
    dataset.SetSQLConnection(&connection);
    dataset.SetMaxBlobSize(-1);
    connection.EnsureConnected();

    const Stopwatch watch;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string key = KeyOf(keys[i]);
        dataset.SetCommandText("SELECT * FROM PRODUCT where PROD_ID = '" + key + "'");
        dataset.Open();
        for (; !dataset.AtEnd(); dataset.MoveNext())
            for (int f = 0; f < dataset.FieldTotal(); ++f)
                checksum += static_cast<long>(dataset.FieldAt(f).StringValue().size());
        dataset.Close();

        const sqlfb::TTransactionDesc desc = connection.DefaultTransactionDesc();
        connection.BeginTransaction(desc);
        TParams params;
        params.AddValue(TVariant(static_cast<std::int32_t>(i % 1000)), ftInteger);
        params.AddValue(TVariant(key), ftString);
        checksum += connection.ExecuteStatement("update PRODUCT set NOW_QTY = ? where PROD_ID = ?", &params);
        connection.CommitTransaction(desc);
    }
    return watch.Elapsed();
}

// ---------------------------------------------------------------------------------------------
// The reference, straight on the client library.

// Gives every described column a buffer and a null indicator.
void BindBuffers(XSQLDA* sqlda, std::vector<std::vector<char>>& buffers, std::vector<short>& nulls) {
    buffers.resize(static_cast<std::size_t>(sqlda->sqld));
    nulls.resize(static_cast<std::size_t>(sqlda->sqld));
    for (int i = 0; i < sqlda->sqld; ++i) {
        XSQLVAR& var = sqlda->sqlvar[i];
        std::size_t size = static_cast<std::size_t>(var.sqllen);
        if ((var.sqltype & ~1) == SQL_VARYING) size += 2;
        buffers[static_cast<std::size_t>(i)].assign(size + 8, 0);
        var.sqldata = buffers[static_cast<std::size_t>(i)].data();
        var.sqlind = &nulls[static_cast<std::size_t>(i)];
    }
}

Timing RunReference(const std::string& database, const std::vector<int>& keys, long& checksum) {
    ISC_STATUS_ARRAY status;
    isc_db_handle db = bench::Attach(database, "masterkey");

    static char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait};
    isc_tr_handle tr = 0;
    isc_start_transaction(status, &tr, 1, &db, static_cast<unsigned short>(sizeof tpb), tpb);
    Check(status, "start");

    isc_stmt_handle select = 0, update = 0;
    isc_dsql_allocate_statement(status, &db, &select);
    isc_dsql_allocate_statement(status, &db, &update);
    Check(status, "allocate");
    XSQLDA* out = NewSqlda(40);
    isc_dsql_prepare(status, &tr, &select, 0, "SELECT * FROM PRODUCT where PROD_ID = ?", 3, out);
    Check(status, "prepare select");
    std::vector<std::vector<char>> outBuffers;
    std::vector<short> outNulls;
    BindBuffers(out, outBuffers, outNulls);

    XSQLDA* selectIn = NewSqlda(1);
    isc_dsql_describe_bind(status, &select, 1, selectIn);
    Check(status, "describe select");
    isc_dsql_prepare(status, &tr, &update, 0, "update PRODUCT set NOW_QTY = ? where PROD_ID = ?", 3, nullptr);
    Check(status, "prepare update");
    XSQLDA* updateIn = NewSqlda(2);
    isc_dsql_describe_bind(status, &update, 1, updateIn);
    Check(status, "describe update");
    isc_commit_transaction(status, &tr);
    Check(status, "commit");

    char keyBuffer[32];
    short notNull = 0;
    ISC_LONG qty = 0;
    auto bindKey = [&](XSQLVAR& var, const std::string& key) {
        std::memcpy(keyBuffer, key.data(), key.size());
        var.sqltype = SQL_TEXT + 1;
        var.sqllen = static_cast<short>(key.size());
        var.sqldata = keyBuffer;
        var.sqlind = &notNull;
    };
    updateIn->sqlvar[0].sqltype = SQL_LONG + 1;
    updateIn->sqlvar[0].sqlscale = 0;
    updateIn->sqlvar[0].sqldata = reinterpret_cast<char*>(&qty);
    updateIn->sqlvar[0].sqlind = &notNull;

    const Stopwatch watch;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string key = KeyOf(keys[i]);
        isc_start_transaction(status, &tr, 1, &db, static_cast<unsigned short>(sizeof tpb), tpb);
        Check(status, "start");
        bindKey(selectIn->sqlvar[0], key);
        isc_dsql_execute(status, &tr, &select, 1, selectIn);
        Check(status, "execute select");
        while (isc_dsql_fetch(status, &select, 1, out) == 0)
            for (int c = 0; c < out->sqld; ++c)
                if (outNulls[static_cast<std::size_t>(c)] == 0) checksum += out->sqlvar[c].sqllen;
        isc_dsql_free_statement(status, &select, DSQL_close);
        Check(status, "close select");

        qty = static_cast<ISC_LONG>(i % 1000);
        bindKey(updateIn->sqlvar[1], key);
        isc_dsql_execute(status, &tr, &update, 1, updateIn);
        Check(status, "execute update");
        isc_commit_transaction(status, &tr);
        Check(status, "commit");
        ++checksum;
    }
    const Timing timing = watch.Elapsed();

    isc_dsql_free_statement(status, &select, DSQL_drop);
    isc_dsql_free_statement(status, &update, DSQL_drop);
    isc_detach_database(status, &db);
    std::free(out);
    std::free(selectIn);
    std::free(updateIn);
    return timing;
}

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 10000;
    char pattern[] = "/tmp/sql-cycle-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) return 1;
    const std::string folder = made;
    const std::string database = folder + "/store.fdb";

    std::printf("creating %d PRODUCT rows in %s ...\n", kRows, database.c_str());
    CreateDatabase(folder, database);
    WriteConfiguration(folder, database);

    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> pick(1, kRows);
    std::vector<int> keys(static_cast<std::size_t>(cycles));
    for (int& key : keys) key = pick(random);

    long checksumRef = 0, checksumData = 0;
    // Warm the page cache once so that neither run pays for the first reads alone.
    {
        std::vector<int> warm(keys.begin(), keys.begin() + std::min<std::ptrdiff_t>(500, cycles));
        long ignored = 0;
        RunReference(database, warm, ignored);
    }
    const Timing reference = RunReference(database, keys, checksumRef);
    const Timing dataLayer = RunDataLayer(keys, checksumData);

    const double n = static_cast<double>(cycles);
    std::printf("cycles:           %d\n", cycles);
    std::printf("reference (isc):  %.0f cycles/s   (%.0f cycles per CPU second)\n", n / reference.wall, n / reference.cpu);
    std::printf("data layer:       %.0f cycles/s   (%.0f cycles per CPU second)\n", n / dataLayer.wall, n / dataLayer.cpu);
    std::printf("ratio:            %.2f (goal >= 0.70)   CPU ratio: %.2f\n", reference.wall / dataLayer.wall,
                reference.cpu / dataLayer.cpu);

    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
