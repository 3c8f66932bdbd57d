// Filter target: the first byte picks the filter options, the rest is a filter text. The text is
// parsed against a small bill-detail dataset, its image handed to the engine cursor and evaluated
// over every record, as the bill import does. A text the parser refuses raises the system's own
// failure; a text it takes can only narrow the view.

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "data/clientdataset/ClientDataSet.h"

namespace tarnwick::fuzz {
namespace {

const char* const kDetailPacket =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
    "<FIELD attrname=\"LINENO\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"MASTERBILLID\" fieldtype=\"string\" WIDTH=\"20\"/>"
    "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"
    "<FIELD attrname=\"SEQ\" fieldtype=\"i2\"/>"
    "<FIELD attrname=\"PRICE\" fieldtype=\"fixed\" WIDTH=\"10\" DECIMALS=\"2\"/>"
    "<FIELD attrname=\"AMOUNT\" fieldtype=\"r8\"/>"
    "<FIELD attrname=\"SALEDAY\" fieldtype=\"date\"/>"
    "<FIELD attrname=\"UPD_TIME\" fieldtype=\"SQLdateTime\"/>"
    "<FIELD attrname=\"品名\" fieldtype=\"string.uni\" WIDTH=\"40\"/>"
    "<FIELD attrname=\"BIG\" fieldtype=\"i8\"/>"
    "<FIELD attrname=\"OK\" fieldtype=\"boolean\"/>"
    "</FIELDS><PARAMS LCID=\"1028\"/></METADATA><ROWDATA>"
    "<ROW LINENO=\"1\" MASTERBILLID=\"B001\" SEQ=\"1\" PRICE=\"12.50\" AMOUNT=\"1.5\" SALEDAY=\"20261210\" "
    "UPD_TIME=\"20261210T08:30:00.000\" 品名=\"綠茶\" BIG=\"9000000000\" OK=\"TRUE\"/>"
    "<ROW LINENO=\"2\" MASTERBILLID=\"B001\" SEQ=\"2\" PRICE=\"-3.00\" AMOUNT=\"-0.25\" OK=\"FALSE\"/>"
    "<ROW LINENO=\"3\" MASTERBILLID=\"B002\" SEQ=\"1\" NOTE=\"5LqM\"/>"
    "<ROW LINENO=\"4\" MASTERBILLID=\"B0021\" SEQ=\"-32768\" 品名=\"O'NEIL\"/>"
    "<ROW LINENO=\"5\" MASTERBILLID=\"O'NEIL\" SEQ=\"32767\"/>"
    "<ROW LINENO=\"6\" MASTERBILLID=\"b001\" SALEDAY=\"00010101\"/>"
    "<ROW LINENO=\"7\" MASTERBILLID=\"\" BIG=\"-9223372036854775808\"/>"
    "<ROW LINENO=\"8\"/>"
    "</ROWDATA></DATAPACKET>\n";

TClientDataSet& Detail() {
    static TClientDataSet* detail = [] {
        auto* dataSet = new TClientDataSet;
        dataSet->SetName("CDS_Mast");
        const std::string packet = kDetailPacket;
        dataSet->SetRetainedPacket(std::vector<std::uint8_t>(packet.begin(), packet.end()));
        dataSet->Open();
        return dataSet;
    }();
    return *detail;
}

int CountView(TClientDataSet& dataSet) {
    int count = 0;
    for (dataSet.MoveFirst(); !dataSet.AtEnd(); dataSet.MoveNext()) {
        ++count;
        Check(dataSet.RecordNumber() == count, "record numbers of a filtered view run 1, 2, ...");
    }
    Check(dataSet.RecordTotal() == count, "the record total of a filtered view is the records it shows");
    return count;
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwick;
    using namespace tarnwick::fuzz;
    if (size == 0) return 0;
    TClientDataSet& detail = Detail();
    TFilterOptions options;
    if (data[0] & 1) options.Include(foCaseInsensitive);
    if (data[0] & 2) options.Include(foNoPartialCompare);
    const std::string text(AsText(data + 1, size - 1));

    detail.SetFiltered(false);
    const int all = CountView(detail);
    const bool refused = RaisesOnlyOwnFailures([&] {
        detail.SetFilterOptions(options);
        detail.SetFilter(text);
        detail.SetFiltered(true);
    });
    if (!refused) Check(CountView(detail) <= all, "a filter never adds records");
    // Whatever happened, the dataset must be usable for the next bill.
    RaisesOnlyOwnFailures([&] { detail.SetFiltered(false); });
    detail.SetFilter("");
    Check(CountView(detail) == all, "switching the filter off shows every record again");
    return 0;
}
