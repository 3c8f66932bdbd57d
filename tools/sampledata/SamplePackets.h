#pragma once
// Data packet files for the store's tables, as the download program leaves them: the fields of a
// table taken from the store schema, rows in the XML packet form, and a generator of realistic
// sample rows (CJK names, prices, dates, memos, bills with lines). Used by the sample-data tool,
// the import tests and the import benchmark. Plain functions and values; nothing is kept.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::sampledata {

struct TColumn {
    std::string Name;
    std::string SqlType;    // as in the schema: VARCHAR, NUMERIC, BLOB TEXT ...
    int Length = 0;         // characters of VARCHAR/CHAR, precision of NUMERIC
    int Scale = 0;          // NUMERIC decimals
    bool NotNull = false;
    bool Key = false;       // part of the primary key
};

struct TTable {
    std::string Name;
    std::vector<TColumn> Columns;
    const TColumn* Find(std::string_view name) const;
};

// The tables of a schema script (CREATE TABLE statements; other statements are passed over).
std::vector<TTable> ParseSchema(std::string_view script);
// A table of the store schema; throws std::out_of_range for an unknown name.
const TTable& StoreTable(std::string_view name);

// One row: field name and value in the packet's text form. Fields left out are null.
using TRow = std::vector<std::pair<std::string, std::string>>;

// The XML packet of `rows` with the table's columns as fields, less those in `omit`, plus the
// string fields in `extra` (fields only the file has).
std::string PacketXml(const TTable& table, const std::vector<TRow>& rows, const std::vector<std::string>& omit = {},
                      const std::vector<std::string>& extra = {});
void WriteFile(const std::string& path, std::string_view bytes);

// Sample rows. `first` numbers the first row's key, so two calls can overlap or not.
std::vector<TRow> SampleRows(const TTable& table, int count, int first = 1, std::uint32_t seed = 1);
// Bills: master rows and their lines (`lines` per bill).
struct TBills {
    std::vector<TRow> Masters;
    std::vector<TRow> Lines;
};
TBills SampleBills(const TTable& master, const TTable& detail, int bills, int lines, int first = 1,
                   std::uint32_t seed = 1);
// The key value of row `n` of a column, as SampleRows makes it.
std::string SampleKey(const TColumn& column, int n);

struct TSampleSizes {
    int Rows = 40;        // records per single-table file
    int Products = 200;   // PRODUCT records
    int Bills = 20;       // bills per kind
    int LinesPerBill = 4;
};
// Writes one file per rule into `folder`, named "HQ__<TABLE>__<date>_01.XML" (bills as pairs).
// Answers the file names written.
std::vector<std::string> WriteSampleFiles(const std::string& folder, const TSampleSizes& sizes = {});

}  // namespace tarnwick::sampledata
