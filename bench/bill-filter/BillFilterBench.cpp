// Bill import's detail filter: a detail packet of 50,000 lines for 10,000 bills is loaded into a
// file dataset and filtered bill by bill exactly as the bill import does it (Filtered off, Filter
// := "MASTERBILLID = 'key'", Filtered on, MoveFirst, RecordTotal, walk to AtEnd), then walked.
// Prints the time per bill, and the parse time alone for comparison. Goal: under 20 us per bill.
//
//   bench_bill_filter [bills] [lines-per-bill]

#include "data/clientdataset/ClientDataSet.h"
#include "data/clientdataset/filter/DataSetFilter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string BillKey(int bill) {
    char key[16];
    std::snprintf(key, sizeof key, "PS%08d", bill);
    return key;
}

// The lines of a bill stand together, bills in key order, as the download program writes them.
void WriteDetailPacket(const std::filesystem::path& path, int bills, int linesPerBill) {
    std::ofstream out(path, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
           "<FIELD attrname=\"MASTERBILLID\" fieldtype=\"string\" WIDTH=\"20\" required=\"true\"/>"
           "<FIELD attrname=\"LINENO\" fieldtype=\"i4\"/>"
           "<FIELD attrname=\"PROD_ID\" fieldtype=\"string\" WIDTH=\"20\"/>"
           "<FIELD attrname=\"PROD_NAME\" fieldtype=\"string\" WIDTH=\"60\"/>"
           "<FIELD attrname=\"QTY\" fieldtype=\"i4\"/>"
           "<FIELD attrname=\"PRICE\" fieldtype=\"fixed\" WIDTH=\"12\" DECIMALS=\"2\"/>"
           "</FIELDS><PARAMS LCID=\"1028\"/></METADATA><ROWDATA>\n";
    for (int bill = 1; bill <= bills; ++bill) {
        for (int line = 1; line <= linesPerBill; ++line) {
            out << "<ROW MASTERBILLID=\"" << BillKey(bill) << "\" LINENO=\"" << line
                << "\" PROD_ID=\"P" << (bill * 7 + line) % 5000 << "\" PROD_NAME=\"綠茶 600ml\" QTY=\""
                << line << "\" PRICE=\"" << line * 10 << ".50\"/>\n";
        }
    }
    out << "</ROWDATA></DATAPACKET>\n";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tarnwick;
    const int bills = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int linesPerBill = argc > 2 ? std::atoi(argv[2]) : 5;
    const auto path = std::filesystem::temp_directory_path() /
                      ("bill-filter-" + std::to_string(::getpid()) + ".xml");
    WriteDetailPacket(path, bills, linesPerBill);

    TClientDataSet detail;
    detail.SetName("CDS_Mast");
    auto start = Clock::now();
    detail.LoadPacketFile(path.string());
    const double loadSeconds = Seconds(start);
    std::filesystem::remove(path);

    // The bills in the order a master file lists them: not the detail file's order.
    std::vector<int> order(static_cast<std::size_t>(bills));
    for (int i = 0; i < bills; ++i) order[static_cast<std::size_t>(i)] = i + 1;
    std::shuffle(order.begin(), order.end(), std::mt19937(42));

    long long linesSeen = 0;
    long long qtySum = 0;
    TField& qty = detail.FieldNamed("QTY");
    start = Clock::now();
    for (int bill : order) {
        detail.SetFiltered(false);
        detail.SetFilter("MASTERBILLID = '" + BillKey(bill) + "'");
        detail.SetFiltered(true);
        detail.MoveFirst();
        const int total = detail.RecordTotal();
        int walked = 0;
        while (!detail.AtEnd()) {
            qtySum += VarToInt32(qty.VariantValue());
            ++walked;
            detail.MoveNext();
        }
        if (walked != total || total != linesPerBill) {
            std::fprintf(stderr, "bill %s: RecordTotal %d, walked %d, expected %d\n",
                         BillKey(bill).c_str(), total, walked, linesPerBill);
            return 1;
        }
        linesSeen += walked;
    }
    const double filterSeconds = Seconds(start);

    // The parse alone, to tell the parser's share from the engine's.
    start = Clock::now();
    std::size_t imageBytes = 0;
    for (int bill : order)
        imageBytes += BuildFilterImage(detail, "MASTERBILLID = '" + BillKey(bill) + "'", {}).size();
    const double parseSeconds = Seconds(start);

    std::printf("bill filter: %d bills, %lld lines (qty sum %lld)\n", bills, linesSeen, qtySum);
    std::printf("  load            %8.3f s\n", loadSeconds);
    std::printf("  filter + walk   %8.3f s   %8.2f us/bill   (goal < 20 us/bill)\n", filterSeconds,
                filterSeconds * 1e6 / bills);
    std::printf("  parse only      %8.3f s   %8.2f us/bill   (%zu image bytes)\n", parseSeconds,
                parseSeconds * 1e6 / bills, imageBytes);
    return 0;
}
