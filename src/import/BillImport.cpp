#include "import/BillImport.h"

#include <unordered_set>

#include "import/SqlText.h"
#include "import/WorkList.h"

namespace tarnwick::import {

namespace {

constexpr std::string_view kBillField = "MASTERBILLID";

struct TDetailRow {
    bool Found = false;
    std::string Path;
    std::string Table;
};

// The detail row a master row takes among the rows naming the detail table: the one of the same
// download (prefix and remainder equal to the master's), else the last one in grid order. -1
// when the grid has none.
int DetailRowFor(const IWorkGrid& grid, std::string_view detailTable, int masterRow) {
    int last = -1;
    for (int row = 0; row < grid.RowCount(); ++row) {
        if (grid.Cell(3, row) != detailTable) continue;
        if (grid.Cell(2, row) == grid.Cell(2, masterRow) && grid.Cell(4, row) == grid.Cell(4, masterRow)) return row;
        last = row;
    }
    return last;
}

// Every row naming the detail table is marked done, whatever its mark; the master takes the
// row of its own download, or else the last one.
TDetailRow FindDetailRow(IWorkGrid& grid, std::string_view detailTable, int masterRow) {
    for (int row = 0; row < grid.RowCount(); ++row)
        if (grid.Cell(3, row) == detailTable) grid.SetCell(0, row, std::string(kDoneMark));
    const int row = DetailRowFor(grid, detailTable, masterRow);
    if (row < 0) return {};
    return {true, grid.Cell(1, row), grid.Cell(3, row)};
}

// Detail rows that no master row of the kind takes: their lines would never be imported. Answered
// only to the first master row of the kind in the grid, so that they are reported once.
std::vector<int> UntakenDetailRows(const IWorkGrid& grid, std::string_view masterTable, std::string_view detailTable,
                                   int masterRow) {
    std::vector<int> masters;
    for (int row = 1; row < grid.RowCount(); ++row)
        if (grid.Cell(3, row) == masterTable) masters.push_back(row);
    if (masters.empty() || masters.front() != masterRow) return {};
    std::vector<int> untaken;
    for (int row = 0; row < grid.RowCount(); ++row) {
        if (grid.Cell(3, row) != detailTable) continue;
        bool taken = false;
        for (int master : masters) taken = taken || DetailRowFor(grid, detailTable, master) == row;
        if (!taken) untaken.push_back(row);
    }
    return untaken;
}

void DeleteStoredLines(TImportData& data, const std::string& detailTable, const std::string& bill) {
    data.SQLQuery1.Close();
    data.SQLQuery1.ClearSQL();
    data.SQLQuery1.AddSQL("DELETE FROM " + detailTable + " WHERE MASTERBILLID = " + QuotedKey(bill));
    data.SQLQuery1.RunSQL();
}

std::string NoBillText(const std::string& bill, std::string_view where) {
    return "no bill " + QuotedKey(bill) + " in the master file " + std::string(where);
}

}  // namespace

bool HasMasterRow(const IWorkGrid& grid, std::string_view masterTable) {
    for (int row = 1; row < grid.RowCount(); ++row)
        if (grid.Cell(3, row) == masterTable) return true;
    return false;
}

TRuleCounts KeepLinesWithoutMaster(const TTableRule& rule, TTransfer& transfer, TImportContext& context) {
    TRuleCounts lines;
    if (HasMasterRow(context.View.Grid(), rule.Name) || IsEmptyFile(context.Path)) return lines;
    TImportData& data = transfer.Data();
    TClientDataSet& details = data.CDS_Mast;
    details.SetFiltered(false);
    transfer.ReadingFile(context.Path);
    details.LoadPacketFile(context.Path);
    const std::string where = "(no " + std::string(rule.Name) + " file in the work list)";
    for (details.MoveFirst(); !details.AtEnd(); details.MoveNext()) {
        const std::string bill = details.FieldNamed(kBillField).StringValue();
        ++lines.Read;
        ++lines.Refused;
        data.Rejected().Add(details, context.Path, "MASTERBILLID = " + QuotedKey(bill), NoBillText(bill, where));
    }
    transfer.Transaction().Commit();
    return lines;
}

TRuleCounts ImportBills(const TTableRule& rule, TTransfer& transfer, TImportContext& context) {
    TImportData& data = transfer.Data();
    IImportView& view = context.View;
    const std::string& masterTable = context.TableName;
    const std::string& masterPath = context.Path;
    const std::string masterName(FileNameOf(masterPath));
    TRuleCounts lines;

    const TDetailRow detail = FindDetailRow(view.Grid(), rule.Target, context.Row);
    const std::vector<int> untaken = UntakenDetailRows(view.Grid(), masterTable, rule.Target, context.Row);
    TClientDataSet& details = data.CDS_Mast;

    // Lines of a detail file that no master takes are kept as refused, never dropped unseen.
    const auto keepUntakenLines = [&] {
        for (int row : untaken) {
            const std::string path = view.Grid().Cell(1, row);
            if (IsEmptyFile(path)) continue;
            details.SetFiltered(false);
            transfer.ReadingFile(path);
            details.LoadPacketFile(path);
            for (details.MoveFirst(); !details.AtEnd(); details.MoveNext()) {
                ++lines.Read;
                ++lines.Refused;
                data.Rejected().Add(details, path, "MASTERBILLID = " + QuotedKey(details.FieldNamed(kBillField).StringValue()),
                                    NoBillText(details.FieldNamed(kBillField).StringValue(),
                                               "(no master file of this download in the work list)"));
            }
        }
    };

    if (IsEmptyFile(masterPath)) {  // no packet, no bills
        keepUntakenLines();
        transfer.Transaction().Commit();
        return lines;
    }

    transfer.ReadingFile(masterPath);
    data.CDS_Main.LoadPacketFile(masterPath);
    // A detail file of 0 bytes would reopen the lines of the file loaded before, or none at all;
    // either way every bill's stored lines would be deleted. Stop before any bill is touched.
    if (detail.Found && IsEmptyFile(detail.Path) && data.CDS_Main.RecordTotal() > 0)
        throw EImportError(std::string(FileNameOf(detail.Path)) + ": the detail file is empty (0 bytes) while " +
                           masterName + " holds " + std::to_string(data.CDS_Main.RecordTotal()) +
                           " bills; no bill was imported, since their stored lines would be deleted");
    if (detail.Found && IsEmptyFile(detail.Path)) {
        keepUntakenLines();
        transfer.Transaction().Commit();
        return lines;
    }
    details.SetFiltered(false);
    transfer.ReadingFile(detail.Path);
    details.LoadPacketFile(detail.Path);
    transfer.ReadingFile(masterPath);
    // A bill's lines are those whose identifier equals the bill's exactly: a trailing "*" of an
    // identifier is a character of it, not a prefix match.
    details.SetFilterOptions(foNoPartialCompare);
    view.ProgressBar1().SetMax(data.CDS_Main.RecordTotal());
    view.ProgressBar1().SetPosition(0);

    TCommandDataSet& target = data.ClientDataSet2;
    std::unordered_set<std::string> bills;
    // A bill is one unit: its master, the delete of its lines and its lines never span a commit.
    transfer.Transaction().Begin();
    transfer.RecordLoop(data.CDS_Main, [&] {
        const std::string bill = data.CDS_Main.FieldNamed(kBillField).StringValue();
        const std::string billKey = QuotedKey(bill);
        bills.insert(bill);
        details.SetFiltered(false);
        details.SetFilter("MASTERBILLID = " + billKey);
        details.SetFiltered(true);
        const auto ofThisBill = [&] { return details.FieldNamed(kBillField).StringValue() == bill; };
        const auto lineKey = [&] { return "MASTERBILLID = " + billKey + ", line " + std::to_string(details.RecordNumber()); };

        const bool existed = transfer.KeyedOpen("SELECT * FROM " + masterTable + " where MASTERBILLID = " + billKey);
        transfer.RecordCopy(data.CDS_Main);
        const bool masterWritten = transfer.ApplyStep(data.CDS_Main, masterPath, "MASTERBILLID = " + billKey);
        transfer.CountApplied(masterWritten, existed);

        if (!masterWritten) {
            // The stored lines stay with the stored master; the file's lines are kept beside the
            // refused master, to go back into download/ with it.
            for (details.MoveFirst(); !details.AtEnd(); details.MoveNext()) {
                if (!ofThisBill()) continue;
                ++lines.Read;
                ++lines.Refused;
                data.Rejected().Add(details, detail.Path, lineKey(),
                                    "not imported: the database refused the master record of bill " + billKey);
            }
            transfer.Transaction().UnitDone();
            return;
        }

        DeleteStoredLines(data, detail.Table, bill);

        const std::string lineBill = details.AtEnd() ? std::string() : bill;
        target.Close();
        target.SetCommandText("SELECT * FROM " + detail.Table + " where MASTERBILLID = " + QuotedKey(lineBill));
        target.Open();

        details.MoveFirst();
        view.ProgressBar2().SetMax(details.RecordTotal());
        view.ProgressBar2().SetPosition(0);
        while (!details.AtEnd()) {
            if (ofThisBill()) {
                view.ProgressBar2().SetPosition(details.RecordNumber());
                ++lines.Read;
                target.BeginInsert();
                transfer.RecordCopy(details);
                if (transfer.ApplyStep(details, detail.Path, lineKey())) ++lines.Inserted;
                else ++lines.Refused;
            }
            details.MoveNext();
        }
        transfer.Transaction().UnitDone();
    });

    // Lines of bills the master file does not name.
    details.SetFiltered(false);
    for (details.MoveFirst(); !details.AtEnd(); details.MoveNext()) {
        const std::string bill = details.FieldNamed(kBillField).StringValue();
        if (bills.contains(bill)) continue;
        ++lines.Read;
        ++lines.Refused;
        data.Rejected().Add(details, detail.Path, "MASTERBILLID = " + QuotedKey(bill), NoBillText(bill, masterName));
    }
    keepUntakenLines();
    transfer.Transaction().Commit();
    return lines;
}

}  // namespace tarnwick::import
