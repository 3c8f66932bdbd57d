#include "import/TableRules.h"

#include <chrono>

#include "import/BillImport.h"
#include "import/SqlText.h"
#include "import/TransferSteps.h"
#include "import/WorkList.h"

namespace tarnwick::import {

namespace {

using enum TRuleKind;

TKeyPart Unquoted(std::string_view connector, std::string_view field) { return {connector, field, false}; }

}  // namespace

const std::vector<TTableRule>& StoreTableRules() {
    // clang-format off
    static const std::vector<TTableRule> rules{
        // Name               Kind         Target             Key                                                                      Presence
        {"ADDCASH_SUB",       FullReplace, "ADDCASH_SUB",     {},                                                                      {}},
        {"SMARTCARD_DATA",    FullReplace, "SMARTCARD_DATA",  {},                                                                      {}},
        {"MEMBER_CLASS",      FullReplace, "MEMBER_CLASS",    {},                                                                      {}},
        {"PROD_DEPART",       KeyedUpsert, "PROD_DEPART",     {{" where PD_DEPID = ", "PD_DEPID"}},                                    {}},
        {"PROD_TOPITEM",      KeyedUpsert, "PROD_TOPITEM",    {{" where TOP_ITEMID = ", "TOP_ITEMID"}},                                {}},
        {"PROD_HIITEM",       KeyedUpsert, "PROD_HIITEM",     {{" where PD_GRPID = ", "PD_GRPID"}},                                    {}},
        {"PROD_ITEM",         KeyedUpsert, "PROD_ITEM",       {{" where PD_ITEMID = ", "PD_ITEMID"}},                                  "PD_ITEMID"},
        {"PROVIDER",          KeyedUpsert, "PROVIDER",        {{" where PROVIDER_ID = ", "PROVIDER_ID"}},                              {}},
        {"MEMBER",            KeyedUpsert, "MEMBER",          {{" where MEMBER_ID = ", "MEMBER_ID"}},                                  {}},
        {"MEMBER_UPDATE",     KeyedUpsert, "MEMBER",          {{"  where MEMBER_ID = ", "MEMBER_ID"}},                                 {}},
        {"PRODUCT",           KeyedUpsert, "PRODUCT",         {{" where PROD_ID = ", "PROD_ID"}},                                      {}, TQuantities::KeptOrZeroed},
        {"PRODUCT_UPDATE",    KeyedUpsert, "PRODUCT",         {{" where PROD_ID = ", "PROD_ID"}},                                      {}, TQuantities::Copied, true},
        {"PROD_SALE",         FullReplace, "PROD_SALE",       {},                                                                      {}},
        {"CUSTOMER",          KeyedUpsert, "CUSTOMER",        {{" where CUST_ID = ", "CUST_ID"}},                                      {}},
        {"PSALE_MASTER",      Bill,        "PSALE_SUB",       {},                                                                      {}},
        {"CHGPRICE_MASTER",   Bill,        "CHGPRICE_SUB",    {},                                                                      {}},
        {"PTSALE_MASTER",     Bill,        "PTSALE_SUB",      {},                                                                      {}},
        {"EMPLOYEE",          KeyedUpsert, "EMPLOYEE",        {{" where EMPLOYEE_ID = ", "EMPLOYEE_ID"}},                              "EMPLOYEE_ID"},
        {"LOC_KEY_MAP",       KeyedUpsert, "LOC_KEY_MAP",     {Unquoted(" where BASE_NO = ", "BASE_NO")},                              "BASE_NO"},
        {"LOC_KEY_MAP_SUB",   KeyedUpsert, "LOC_KEY_MAP_SUB", {{" where PDC_NO = ", "PDC_NO"}, {" and ID_NO = ", "ID_NO"}},            "PDC_NO"},
        {"ORG_MAIN",          KeyedUpsert, "ORG_MAIN",        {{" where ORG_MAIN_ID = ", "ORG_MAIN_ID"}},                              "ORG_MAIN_ID"},
        {"ORG_POWER_SET",     KeyedUpsert, "ORG_POWER_SET",   {{" where ORG_MAIN_ID = ", "ORG_MAIN_ID"}, {" AND FORM_NAME = ", "FORM_NAME"}}, "FORM_NAME"},
        {"ORG_POWER_SET2",    KeyedUpsert, "ORG_POWER_SET2",  {{" where ORG_MAIN_ID = ", "ORG_MAIN_ID"}, {" AND FORM_NAME = ", "FORM_NAME"}}, "FORM_NAME"},
        {"STORE_QTY",         KeyedUpsert, "STORE_QTY",       {{" where PROD_ID = ", "PROD_ID"}, {" AND STOCK_ID = ", "STOCK_ID"}},    {}},
    };
    // clang-format on
    return rules;
}

std::string KeyClause(const TTableRule& rule, const TDataSet& source, const std::string& fileName) {
    std::string clause;
    for (const TKeyPart& part : rule.Key) {
        const std::string value = source.FieldNamed(part.Field).StringValue();
        clause += part.Connector;
        if (part.Quoted) {
            clause += QuotedKey(value);
            continue;
        }
        // Without quotes the value is SQL text of its own: only a number may go there.
        const std::string_view number = TrimBlanks(value);
        if (!IsPlainDecimal(number))
            throw EImportError(fileName + ": record " + std::to_string(source.RecordNumber()) + ": field '" +
                               std::string(part.Field) + "' holds \"" + value +
                               "\", which is not a plain decimal number");
        clause += number;
    }
    return clause;
}

namespace {

constexpr std::string_view kNowQty = "NOW_QTY";
constexpr std::string_view kBeforeQty = "BEFORE_QTY";

// The key text of a refusal: the clause without its leading blanks and "where".
std::string KeyText(std::string_view clause) {
    clause = TrimBlanks(clause);
    if (clause.starts_with("where ")) clause.remove_prefix(6);
    return std::string(clause);
}

void ImportFullReplace(const TTableRule& rule, TTransfer& transfer, const std::string& path) {
    TImportData& data = transfer.Data();
    // The file is loaded before the table is emptied, so a file that cannot be read leaves the
    // table as it was.
    transfer.LoadStep(data.ClientDataSet1, path);
    // The delete and every insert are one transaction: other connections see the old rows until
    // the last record is written, and a failure on the way gives the old rows back.
    transfer.Transaction().Begin();
    transfer.WholeTableOpen(std::string(rule.Target));
    transfer.RecordLoop(data.ClientDataSet1, [&] {
        data.ClientDataSet2.BeginInsert();
        transfer.RecordCopy(data.ClientDataSet1);
        transfer.CountApplied(transfer.ApplyStep(data.ClientDataSet1, path, "(whole table)"), false);
    });
    transfer.Transaction().Commit();
}

void ImportKeyedUpsert(const TTableRule& rule, TTransfer& transfer, const std::string& path) {
    TImportData& data = transfer.Data();
    TClientDataSet& source = data.ClientDataSet1;
    const std::string fileName(FileNameOf(path));
    const std::string select = "SELECT * FROM " + std::string(rule.Target);
    const bool quantitiesKept = rule.Quantities == TQuantities::KeptOrZeroed;
    const TFieldNames excluded = quantitiesKept ? TFieldNames{std::string(kNowQty), std::string(kBeforeQty)} : TFieldNames{};

    transfer.LoadStep(source, path);
    transfer.Transaction().Begin();
    transfer.RecordLoop(source, [&] {
        if (!rule.Presence.empty() && TrimBlanks(source.FieldNamed(rule.Presence).StringValue()).empty()) {
            ++transfer.Counts().Skipped;
            return;
        }
        const std::string clause = KeyClause(rule, source, fileName);
        const bool existed = transfer.KeyedOpen(select + clause);
        transfer.RecordCopy(source, excluded);
        if (quantitiesKept && !existed) {
            data.ClientDataSet2.FieldNamed(kNowQty).SetVariantValue(TVariant(std::int32_t{0}));
            data.ClientDataSet2.FieldNamed(kBeforeQty).SetVariantValue(TVariant(std::int32_t{0}));
        }
        transfer.CountApplied(transfer.ApplyStep(source, path, KeyText(clause)), existed);
        transfer.Transaction().UnitDone();
    });
    transfer.Transaction().Commit();
}

// A failure ends the rule: its open transaction is rolled back and its refusals forgotten; what
// earlier commits kept is written out, and the failure's message says how much of it there is.
void Abandon(TTransfer& transfer) noexcept {
    transfer.Transaction().Rollback();
    try {
        transfer.Data().Rejected().WritePackets();
    } catch (...) {
        // The refusals are in rejected.log already; the first failure is the one to show.
    }
}

const char* RuleWord(TRuleKind kind) {
    switch (kind) {
        case FullReplace: return "full replace";
        case KeyedUpsert: return "keyed";
        case Bill: return "bill";
    }
    return "";
}

// Tells the view what the rule run did, and notes where a failure stopped it.
void ReportRow(const TTableRule& rule, TTransfer& transfer, TImportContext& context, const TRuleCounts& lines,
               std::chrono::steady_clock::time_point started, bool failed) {
    if (failed) {
        const TTransferPlace& place = transfer.Place();
        const std::string& path = place.Path.empty() ? context.Path : place.Path;
        transfer.Data().NoteFailurePlace(
            FailurePlaceText(std::string(FileNameOf(path)), context.TableName, place.Record, place.Total));
    }
    const TRuleCounts& counts = transfer.Counts();
    TRowResult result;
    result.Row = context.Row;
    result.Table = context.TableName;
    result.Path = context.Path;
    result.Rule = RuleWord(rule.Kind);
    result.Read = counts.Read + lines.Read;
    result.Inserted = counts.Inserted + lines.Inserted;
    result.Updated = counts.Updated + lines.Updated;
    result.Skipped = counts.Skipped + lines.Skipped;
    result.Refused = counts.Refused + lines.Refused;
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.Failed = failed;
    try {
        context.View.RowResult(result);
    } catch (...) {
        if (!failed) throw;
        // The failure that ended the rule is the one to report.
    }
}

// Runs one rule on the row of `context` and reports what it did. Refused records kept before a
// failure are still written out before the failure travels on.
// `detailRow`: the row names the detail table of the bill rule `rule`.
void RunRule(const TTableRule& rule, TImportData& data, TImportContext& context, bool detailRow = false) {
    const auto started = std::chrono::steady_clock::now();
    TTransfer transfer(data, context.View);
    TRuleCounts lines;
    std::string summary;
    try {
        if (rule.ClearFirst && data.ClientDataSet1.Active()) data.ClientDataSet1.ClearRecords();
        if (detailRow) {
            lines = KeepLinesWithoutMaster(rule, transfer, context);
            if (HasMasterRow(context.View.Grid(), rule.Name))
                summary = "imported with its " + std::string(rule.Name) + " file";
            else if (IsEmptyFile(context.Path))
                summary = "empty file (0 bytes): passed over, table left as it was";
            else
                summary = "no " + std::string(rule.Name) + " file in the work list; lines " + lines.Summary();
        } else if (rule.Kind == Bill) {
            lines = ImportBills(rule, transfer, context);
            summary = "bills " + transfer.Counts().Summary() + "; lines " + lines.Summary();
        } else if (IsEmptyFile(context.Path)) {
            // A file of 0 bytes holds no packet; loading it would bring back the records of the
            // file loaded before.
            summary = "empty file (0 bytes): passed over, table left as it was";
        } else {
            if (rule.Kind == FullReplace) ImportFullReplace(rule, transfer, context.Path);
            else ImportKeyedUpsert(rule, transfer, context.Path);
            summary = transfer.Counts().Summary();
        }
    } catch (Exception& failure) {
        Abandon(transfer);
        ReportRow(rule, transfer, context, lines, started, true);
        const int kept = data.Rejected().Count();
        if (kept > 0) failure.SetMessage(failure.Message() + "\n" + KeptRefusalsText(kept, data.Rejected().Folder()));
        throw;
    } catch (...) {
        Abandon(transfer);
        ReportRow(rule, transfer, context, lines, started, true);
        throw;
    }
    data.Rejected().WritePackets();
    if (rule.Kind != Bill) context.View.Grid().SetCell(0, context.Row, std::string(kDoneMark));
    context.View.RuleFinished(context.Row, context.TableName, summary);
    ReportRow(rule, transfer, context, lines, started, false);
}

}  // namespace

TRuleTable MakeStoreRules(TImportData& data) {
    TRuleTable table;
    for (const TTableRule& rule : StoreTableRules())
        table.Add(std::string(rule.Name), [&rule, &data](TImportContext& context) { RunRule(rule, data, context); });
    // A bill detail file is imported with its master file; one whose master file never comes must
    // not be deleted unseen.
    for (const TTableRule& rule : StoreTableRules())
        if (rule.Kind == Bill)
            table.Add(std::string(rule.Target),
                      [&rule, &data](TImportContext& context) { RunRule(rule, data, context, true); });
    return table;
}

}  // namespace tarnwick::import
