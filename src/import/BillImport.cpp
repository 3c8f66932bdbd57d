#include "import/BillImport.h"

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

// Every row naming the detail table is marked done, whatever its mark; the last one supplies
// the detail file.
TDetailRow FindDetailRow(IWorkGrid& grid, std::string_view detailTable) {
    TDetailRow detail;
    for (int row = 0; row < grid.RowCount(); ++row) {
        if (grid.Cell(3, row) != detailTable) continue;
        detail = {true, grid.Cell(1, row), grid.Cell(3, row)};
        grid.SetCell(0, row, std::string(kDoneMark));
    }
    return detail;
}

void DeleteStoredLines(TImportData& data, const std::string& detailTable, const std::string& bill) {
    data.SQLQuery1.Close();
    data.SQLQuery1.ClearSQL();
    data.SQLQuery1.AddSQL("DELETE FROM " + detailTable + " WHERE MASTERBILLID = " + QuotedKey(bill));
    data.SQLQuery1.RunSQL();
}

}  // namespace

TRuleCounts ImportBills(const TTableRule& rule, TTransfer& transfer, TImportContext& context) {
    TImportData& data = transfer.Data();
    IImportView& view = context.View;
    const std::string& masterTable = context.TableName;
    const std::string& masterPath = context.Path;
    TRuleCounts lines;

    const TDetailRow detail = FindDetailRow(view.Grid(), rule.Target);
    if (IsEmptyFile(masterPath)) return lines;  // no packet, no bills

    data.CDS_Main.LoadPacketFile(masterPath);
    // A detail file of 0 bytes would reopen the lines of the file loaded before, or none at all;
    // either way every bill's stored lines would be deleted. Stop before any bill is touched.
    if (detail.Found && IsEmptyFile(detail.Path) && data.CDS_Main.RecordTotal() > 0)
        throw EImportError(std::string(FileNameOf(detail.Path)) + ": the detail file is empty (0 bytes) while " +
                           std::string(FileNameOf(masterPath)) + " holds " +
                           std::to_string(data.CDS_Main.RecordTotal()) +
                           " bills; no bill was imported, since their stored lines would be deleted");
    if (detail.Found && IsEmptyFile(detail.Path)) return lines;
    data.CDS_Mast.LoadPacketFile(detail.Path);
    view.ProgressBar1().SetMax(data.CDS_Main.RecordTotal());
    view.ProgressBar1().SetPosition(0);

    TCommandDataSet& target = data.ClientDataSet2;
    TClientDataSet& details = data.CDS_Mast;
    transfer.RecordLoop(data.CDS_Main, [&] {
        const std::string bill = data.CDS_Main.FieldNamed(kBillField).StringValue();
        const std::string billKey = QuotedKey(bill);
        details.SetFiltered(false);
        details.SetFilter("MASTERBILLID = " + billKey);
        details.SetFiltered(true);

        const bool existed = transfer.KeyedOpen("SELECT * FROM " + masterTable + " where MASTERBILLID = " + billKey);
        transfer.RecordCopy(data.CDS_Main);
        transfer.CountApplied(transfer.ApplyStep(data.CDS_Main, masterPath, "MASTERBILLID = " + billKey), existed);

        DeleteStoredLines(data, detail.Table, bill);

        const std::string lineBill = details.AtEnd() ? std::string() : details.FieldNamed(kBillField).StringValue();
        target.Close();
        target.SetCommandText("SELECT * FROM " + detail.Table + " where MASTERBILLID = " + QuotedKey(lineBill));
        target.Open();

        details.MoveFirst();
        view.ProgressBar2().SetMax(details.RecordTotal());
        view.ProgressBar2().SetPosition(0);
        while (!details.AtEnd()) {
            view.ProgressBar2().SetPosition(details.RecordNumber());
            ++lines.Read;
            target.BeginInsert();
            transfer.RecordCopy(details);
            const std::string keyText = "MASTERBILLID = " + billKey + ", line " + std::to_string(details.RecordNumber());
            if (transfer.ApplyStep(details, detail.Path, keyText)) ++lines.Inserted;
            else ++lines.Refused;
            details.MoveNext();
        }
    });
    return lines;
}

}  // namespace tarnwick::import
