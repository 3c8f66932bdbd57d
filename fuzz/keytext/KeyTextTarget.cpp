// Key text target: the import's texts made from a record's values. The input holds one or two
// values (split at the first 0x01 byte); they become the key fields of a loaded record, and every
// keyed rule builds its select text from it, as does the bill import its select, delete and
// filter texts. A value must always read back from those texts as itself: never as a parameter
// marker, another table or more SQL, and the bill filter must show every line of its own bill.
//
// The bill filter runs as the import runs it, without partial compare, so that an identifier
// ending in "*" is matched as it stands; the import also compares each line's identifier exactly,
// so a line of another bill that the filter lets through is passed over there.

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "data/clientdataset/ClientDataSet.h"
#include "data/sql/ParamMarkers.h"
#include "data/sql/SQLScanner.h"
#include "dsengine/DSIntf.h"
#include "import/SqlText.h"
#include "import/TableRules.h"
#include "import/TransferSteps.h"

namespace tarnwick::fuzz {
namespace {

using namespace dsengine;

constexpr int kWidth = 255;

// A packet of string fields (and an integer LINENO first) with one row per value list.
std::vector<std::uint8_t> StringPacket(const std::vector<std::string>& names,
                                       const std::vector<std::vector<std::string>>& rows) {
    std::unique_ptr<IDSWriter> writer;
    CreateDSWriter(writer);
    DSFLDDesc line{};
    std::strcpy(line.szName, "LINENO");
    line.iFldType = fldINT32;
    writer->AddField(line);
    for (const std::string& name : names) {
        DSFLDDesc desc{};
        std::strncpy(desc.szName, name.c_str(), sizeof desc.szName - 1);
        desc.iFldType = fldZSTRING;
        desc.iUnits1 = kWidth;
        writer->AddField(desc);
    }
    std::int32_t lineNo = 0;
    for (const auto& row : rows) {
        writer->InitRow();
        ++lineNo;
        writer->PutField(1, &lineNo);
        for (std::size_t i = 0; i < row.size(); ++i) {
            std::string value = row[i].substr(0, kWidth);
            value.resize(kWidth + 1, '\0');
            writer->PutField(static_cast<std::uint32_t>(i + 2), value.data());
        }
        writer->PostRow();
    }
    std::vector<std::uint8_t> packet;
    Check(writer->GetPacket(packet) == DBERR_NONE, "the writer makes a packet");
    return packet;
}

void Open(TClientDataSet& dataSet, std::vector<std::uint8_t> packet) {
    dataSet.SetRetainedPacket(std::move(packet));
    dataSet.Open();
}

// The quoted values of a text in order, as the statement scanner reads them.
std::vector<std::string> ScannedValues(std::string_view text) {
    std::vector<std::string> values;
    std::size_t pos = 0;
    std::string token;
    sql::TSQLToken section = sql::TSQLToken::stUnknown;
    while (true) {
        const sql::TSQLToken kind = sql::ScanToken(text, pos, token, section);
        if (kind == sql::TSQLToken::stEnd) break;
        if (sql::IsClauseKeyword(kind)) section = kind;
        if (kind == sql::TSQLToken::stValue) values.push_back(token);
    }
    return values;
}

// A statement text with quoted values: one table, no marker, and the values read back as written.
void CheckStatement(const std::string& text, std::string_view table, const std::vector<std::string>& values) {
    Check(sql::ParseParamNames(text).empty(), "a key value makes no parameter marker", text);
    Check(sql::ReplaceParamMarkers(text, "\"") == text, "a key value is never rewritten as a marker", text);
    Check(sql::FindTableName(text) == table, "the text names its table", text);
    // The one-table test looks for "inner join " / "outer join " in the whole rest of the text,
    // quoted values included, so a key may make it answer "several tables"; never another table.
    std::string single;
    if (sql::ReadSingleTable(text, single)) Check(single == table, "the text reads its one table", text);
    Check(ScannedValues(text) == values, "the key values read back from the text", text);
}

void CheckKeyedRules(const std::string& first, const std::string& second) {
    // Every field a rule keys on: the first field of a key gets the first value, a second field
    // the second value.
    std::vector<std::string> names;
    std::vector<std::string> values;
    for (const import::TTableRule& rule : import::StoreTableRules()) {
        for (std::size_t part = 0; part < rule.Key.size(); ++part) {
            const std::string field(rule.Key[part].Field);
            bool known = false;
            for (const auto& name : names) known = known || name == field;
            if (known) continue;
            names.push_back(field);
            values.push_back(part == 0 ? first : second);
        }
    }
    TClientDataSet source;
    source.SetName("ClientDataSet1");
    Open(source, StringPacket(names, {values}));

    for (const import::TTableRule& rule : import::StoreTableRules()) {
        if (rule.Key.empty()) continue;
        std::string clause;
        std::vector<std::string> quoted;
        bool plainNumber = true;
        for (const auto& part : rule.Key) {
            const std::string value = source.FieldNamed(part.Field).StringValue();
            if (part.Quoted) quoted.push_back(value);
            else plainNumber = import::IsPlainDecimal(std::string(import::TrimBlanks(value)));
        }
        const bool refused = RaisesOnlyOwnFailures([&] { clause = import::KeyClause(rule, source, "HQ__KEYS__1.XML"); });
        Check(refused == !plainNumber, "only a key that is no plain number is refused");
        if (refused) continue;
        const std::string text = "SELECT * FROM " + std::string(rule.Target) + clause;
        CheckStatement(text, rule.Target, quoted);
        if (!plainNumber) continue;
        for (const auto& part : rule.Key) {
            if (part.Quoted) continue;
            // The unquoted number is the whole rest of the text after its connector.
            const std::size_t at = text.find(part.Connector);
            Check(at != std::string::npos, "the connector is in the text");
            const std::string rest = text.substr(at + part.Connector.size());
            Check(rest.find_first_not_of("+-.0123456789") == std::string::npos,
                  "an unquoted key adds nothing but a number", text);
        }
    }
}

void CheckBill(const std::string& first, const std::string& second) {
    TClientDataSet master;
    master.SetName("CDS_Main");
    Open(master, StringPacket({"MASTERBILLID"}, {{first}}));
    const std::string bill = master.FieldNamed("MASTERBILLID").StringValue();
    const std::string key = import::QuotedKey(bill);
    CheckStatement("SELECT * FROM PSALE_MASTER where MASTERBILLID = " + key, "PSALE_MASTER", {bill});
    CheckStatement("DELETE FROM PSALE_SUB WHERE MASTERBILLID = " + key, "PSALE_SUB", {bill});

    // Lines of this bill and of bills close to it.
    std::vector<std::vector<std::string>> lines = {{first}, {second}, {first + "1"}, {"B001"}, {"O'NEIL"}, {""}};
    if (!first.empty()) lines.push_back({first.substr(0, first.size() - 1)});
    lines.push_back({first});
    TClientDataSet details;
    details.SetName("CDS_Mast");
    Open(details, StringPacket({"MASTERBILLID"}, lines));
    std::vector<std::int32_t> own;
    for (details.MoveFirst(); !details.AtEnd(); details.MoveNext())
        if (details.FieldNamed("MASTERBILLID").StringValue() == bill)
            own.push_back(VarToInt32(details.FieldNamed("LINENO").VariantValue()));

    // As the bill import switches the filter from bill to bill.
    details.SetFilterOptions(foNoPartialCompare);
    details.SetFilter("MASTERBILLID = 'B001'");
    details.SetFiltered(true);
    const bool refused = RaisesOnlyOwnFailures([&] {
        details.SetFiltered(false);
        details.SetFilter("MASTERBILLID = " + key);
        details.SetFiltered(true);
    });
    if (refused) return;  // the import stops with the parser's message: nothing is lost
    std::vector<std::int32_t> shown;
    for (details.MoveFirst(); !details.AtEnd(); details.MoveNext())
        shown.push_back(VarToInt32(details.FieldNamed("LINENO").VariantValue()));
    for (const std::int32_t line : own) {
        bool found = false;
        for (const std::int32_t s : shown) found = found || s == line;
        Check(found, "the bill filter shows every line of its bill", key);
    }
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwick::fuzz;
    const std::string_view input = AsText(data, size);
    const std::size_t split = input.find('\x01');
    const std::string first(input.substr(0, split));
    const std::string second(split == std::string_view::npos ? first : std::string(input.substr(split + 1)));
    CheckKeyedRules(first, second);
    CheckBill(first, second);
    return 0;
}
