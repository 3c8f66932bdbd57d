// The filter path through a real file dataset: a detail packet on disk, `Filter`, `Filtered` and
// `FilterOptions` as the bill import sets them, and the records the view then shows.

#include "base/DatabaseError.h"
#include "data/clientdataset/ClientDataSet.h"
#include "data/clientdataset/filter/DataSetFilter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace tarnwick {
namespace {

// LINENO, MASTERBILLID (field 2), NOTE (memo), SEQ (smallint).
const char* const kDetailPacket =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
    "<FIELD attrname=\"LINENO\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"MASTERBILLID\" fieldtype=\"string\" WIDTH=\"20\"/>"
    "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"
    "<FIELD attrname=\"SEQ\" fieldtype=\"i2\"/>"
    "</FIELDS></METADATA><ROWDATA>"
    "<ROW LINENO=\"1\" MASTERBILLID=\"B001\" SEQ=\"1\"/>"
    "<ROW LINENO=\"2\" MASTERBILLID=\"B001\" SEQ=\"2\"/>"
    "<ROW LINENO=\"3\" MASTERBILLID=\"B002\" SEQ=\"1\"/>"
    "<ROW LINENO=\"4\" MASTERBILLID=\"B0021\" SEQ=\"1\"/>"
    "<ROW LINENO=\"5\" MASTERBILLID=\"O'NEIL\" SEQ=\"1\"/>"
    "<ROW LINENO=\"6\" MASTERBILLID=\"AB'CD\" SEQ=\"1\"/>"
    "<ROW LINENO=\"7\" MASTERBILLID=\"b001\" SEQ=\"1\"/>"
    "<ROW LINENO=\"8\" MASTERBILLID=\"\" SEQ=\"3\"/>"
    "</ROWDATA></DATAPACKET>\n";

class DataSetFilter : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() /
                ("filter-detail-" + std::to_string(::getpid()) + ".xml");
        std::ofstream(path_, std::ios::binary) << kDetailPacket;
        detail_.SetName("CDS_Mast");
        detail_.LoadPacketFile(path_.string());
    }
    void TearDown() override { std::filesystem::remove(path_); }

    // The LINENO values of the view, walked from its first record; checks RecordNumber on the way.
    std::vector<int> Lines() {
        std::vector<int> lines;
        detail_.MoveFirst();
        while (!detail_.AtEnd()) {
            lines.push_back(VarToInt32(detail_.FieldNamed("LINENO").VariantValue()));
            EXPECT_EQ(detail_.RecordNumber(), static_cast<int>(lines.size()));
            detail_.MoveNext();
        }
        EXPECT_EQ(detail_.RecordTotal(), static_cast<int>(lines.size()));
        return lines;
    }

    // As the bill import switches the filter for each bill.
    void FilterTo(const std::string& text, TFilterOptions options = {}) {
        detail_.SetFiltered(false);
        detail_.SetFilterOptions(options);
        detail_.SetFilter(text);
        detail_.SetFiltered(true);
    }

    std::filesystem::path path_;
    TClientDataSet detail_;
};

TEST_F(DataSetFilter, EachFilterShowsItsRecords) {
    struct Case {
        const char* text;
        TFilterOptions options;
        std::vector<int> lines;
    };
    const Case cases[] = {
        {"MASTERBILLID = 'B001'", {}, {1, 2}},
        {"masterbillid = 'B002'", {}, {3}},
        {"MASTERBILLID = 'O''NEIL'", {}, {5}},
        {"MASTERBILLID = 'AB'CD'", {}, {6}},
        {"MASTERBILLID = ''", {}, {8}},
        {"MASTERBILLID = 'B00*'", {}, {1, 2, 3, 4}},
        {"MASTERBILLID = 'B00*'", foNoPartialCompare, {}},
        {"MASTERBILLID = 'b001'", foCaseInsensitive, {1, 2, 7}},
        {"MASTERBILLID = 'NONE'", {}, {}},
        {"MASTERBILLID <> 'B001'", {}, {3, 4, 5, 6, 7, 8}},
        {"SEQ = 1", {}, {1, 3, 4, 5, 6, 7}},
        {"LINENO >= '7'", {}, {7, 8}},
    };
    for (const Case& c : cases) {
        FilterTo(c.text, c.options);
        EXPECT_EQ(Lines(), c.lines) << c.text;
    }
}

TEST_F(DataSetFilter, FaultyFilterLeavesTheViewAsItWas) {
    FilterTo("MASTERBILLID = 'B001'");
    detail_.SetFiltered(false);
    detail_.SetFilter("NOFIELD = 'x'");
    try {
        detail_.SetFiltered(true);
        ADD_FAILURE() << "no failure";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "CDS_Mast: Field 'NOFIELD' not found");
    }
    EXPECT_FALSE(detail_.Filtered());
    EXPECT_EQ(Lines().size(), 8u);

    detail_.SetFilter("NOTE = 'x'");
    EXPECT_THROW(detail_.SetFiltered(true), EDatabaseError);
    EXPECT_FALSE(detail_.Filtered());
}

TEST_F(DataSetFilter, DatasetFieldsGiveTheImage) {
    // Field number, name as written and the constant's form come from the dataset's fields.
    const std::vector<std::uint8_t> image = BuildFilterImage(detail_, "seq = 7", {});
    ASSERT_EQ(image.size(), 10u + 12 + 12 + 14 + 4 + 2);
    EXPECT_EQ(image[10 + 12 + 8], 4);   // field number of SEQ
    EXPECT_EQ(image[10 + 24 + 8], 5);   // int16 constant
    EXPECT_EQ(image[10 + 24 + 10], 2);  // of 2 bytes
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image[48])), "seq");
    EXPECT_EQ(image[52], 7);
}

}  // namespace
}  // namespace tarnwick
