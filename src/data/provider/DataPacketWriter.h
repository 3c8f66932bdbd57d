#pragma once
// TDataPacketWriter: writes the fields and rows of a provider's SQL dataset into a data packet
// through the engine's packet writer, which it owns and reuses from packet to packet. The provider
// decides the content (field descriptions, optional attributes, dataset attributes, rows); the
// engine the bytes.

#include "dsengine/DSIntf.h"
#include "data/provider/DataSetProvider.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tarnwick::provider {

// The engine descriptor of a field: type, subtype, units and attribute bits. Fails with "Field
// '%s' is of an unknown type" for types a packet cannot carry.
dsengine::DSFLDDesc FieldDescriptor(const TField& field);

class TDataPacketWriter {
public:
    TDataPacketWriter();

    // Writes the field descriptions, the dataset attributes and up to `count` rows (-1: all) from
    // the dataset's current row on; `recsOut` answers the rows written. The dataset stands on the
    // last row written.
    std::vector<std::uint8_t> WritePacket(sql::TCustomSQLDataSet& dataSet, TProviderOptions options,
                                          int count, int& recsOut);
    // Forgets the rows of the current packet (descriptions kept for the next one stay).
    void Reset();

private:
    // What a packet's field descriptions and dataset attributes are made from. A packet whose
    // inputs equal those of the packet before gets the descriptions the writer still holds.
    struct THeaderInputs {
        struct TFieldInputs {
            std::string Name;
            dsengine::DSFLDDesc Desc;
            TFieldKind Kind;
            std::uint32_t Flags;
            std::string Origin;
        };
        std::vector<TFieldInputs> Fields;
        std::uint32_t Options = 0;
        int CommandType = 0;
        std::uint32_t LocaleCode = 0;
        std::vector<sql::TIndexDef> Indexes;
    };
    // Fills `inputs` but for the indexes; false when the text may order its rows (ORDER BY),
    // whose attributes are then always made anew.
    static bool ReadHeaderInputs(sql::TCustomSQLDataSet& dataSet, TProviderOptions options, THeaderInputs& inputs);
    // Whether `a` with `indexes` has the inputs of `b`.
    static bool SameInputs(const THeaderInputs& a, const THeaderInputs& b, const std::vector<sql::TIndexDef>& indexes);

    void Check(dsengine::DBResult status);
    void WriteFields(sql::TCustomSQLDataSet& dataSet);
    void WriteDataSetAttributes(sql::TCustomSQLDataSet& dataSet, TProviderOptions options);
    void WriteRow(sql::TCustomSQLDataSet& dataSet);

    std::unique_ptr<dsengine::IDSWriter> writer_;
    std::vector<std::uint8_t> buffer_;
    std::string blob_;
    THeaderInputs written_;   // the inputs of the descriptions the writer holds
    THeaderInputs next_;
    bool headerKept_ = false;  // the writer holds descriptions made from written_
};

}  // namespace tarnwick::provider
