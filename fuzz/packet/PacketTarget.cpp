// Packet reader target: any bytes, read as a data packet (XML or binary, told apart by their first
// bytes). A packet the engine takes must then be walkable field by field, its own image must read
// back in the same form, and a client dataset opened on it must show every value as text. A packet
// the engine refuses must come with a text saying why. The image in the other form must read back
// as well: both forms take the same packets.

#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "data/clientdataset/ClientDataSet.h"
#include "dsengine/DSIntf.h"
#include "dsengine/Table.h"

namespace tarnwick::fuzz {
namespace {

using namespace dsengine;

// Every field of every record through GetField; blobs through GetBlobLen/GetBlob.
void WalkRecords(IDSBase& base) {
    std::unique_ptr<IDSCursor> cursor;
    Check(CreateDSCursor(cursor) == DBERR_NONE, "cursor");
    Check(cursor->InitCursor(&base) == DBERR_NONE, "cursor on a loaded base");
    std::vector<DSFLDDesc> descs;
    Check(base.GetFieldDescs(descs) == DBERR_NONE, "field descriptions of a loaded base");
    std::uint32_t recordSize = 0;
    cursor->GetProp(curpropRECORDSIZE, recordSize);
    std::vector<std::uint8_t> record(recordSize);
    std::vector<std::uint8_t> value(recordSize + 8);
    cursor->MoveToBOF();
    while (cursor->MoveRelative(1) == DBERR_NONE) {
        if (cursor->GetCurrentRecord(record.data()) != DBERR_NONE) break;
        for (std::uint32_t no = 1; no <= descs.size(); ++no) {
            std::uint32_t blank = 0;
            if (descs[no - 1].iFldType == fldBLOB) {
                std::uint32_t length = 0;
                if (cursor->GetBlobLen(record.data(), no, length) == DBERR_NONE && length > 0) {
                    std::vector<std::uint8_t> blob(length);
                    cursor->GetBlob(record.data(), no, 0, blob.data(), length);
                }
                continue;
            }
            cursor->GetField(record.data(), no, value.data(), blank);
        }
    }
}

void ReadBackOwnImage(IDSBase& base, bool binary) {
    base.SetProp(basepropXMLMODE, binary ? xmlmodeBINARY : xmlmodeXMLUTF8);
    std::vector<std::uint8_t> image;
    Check(base.StreamDS(image) == DBERR_NONE, "a loaded base writes its image");
    std::unique_ptr<IDSBase> again;
    CreateDSBase(again);
    const DBResult status = again->AppendData(image.data(), image.size(), true);
    if (status != DBERR_NONE) {
        std::string text;
        again->GetErrorString(status, text);
        Fail(binary ? "the binary image of a loaded packet is refused" : "the XML image of a loaded packet is refused",
             text);
    }
    // The same packet again into the base it came from: replaced or left alone, never broken.
    bool replaced = false;
    base.ReplaceData(image.data(), image.size(), replaced);
    WalkRecords(base);
}

void ThroughClientDataSet(const std::uint8_t* data, std::size_t size) {
    TClientDataSet dataSet;
    dataSet.SetName("ClientDataSet1");
    dataSet.SetRetainedPacket(std::vector<std::uint8_t>(data, data + size));
    RaisesOnlyOwnFailures([&] {
        dataSet.Open();
        for (dataSet.MoveFirst(); !dataSet.AtEnd(); dataSet.MoveNext())
            for (int i = 0; i < dataSet.FieldTotal(); ++i) (void)dataSet.FieldAt(i).StringValue();
    });
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnwick::dsengine;
    using namespace tarnwick::fuzz;
    std::unique_ptr<IDSBase> base;
    CreateDSBase(base);
    const DBResult status = base->AppendData(data, size, true);
    if (status != DBERR_NONE) {
        std::string text;
        base->GetErrorString(status, text);
        Check(!text.empty(), "a refused packet comes with a text");
        return 0;
    }
    WalkRecords(*base);
    // The image is written in the form the packet came in: both forms must read their own output.
    const bool binary = detail::IsBinaryPacket(data, size);
    ReadBackOwnImage(*base, binary);
    ReadBackOwnImage(*base, !binary);
    ThroughClientDataSet(data, size);
    return 0;
}
