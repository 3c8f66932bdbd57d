#include "data/provider/DataPacketWriter.h"

#include "base/DatabaseError.h"
#include "base/Text.h"
#include "data/sql/SQLScanner.h"

#include <cstring>

namespace tarnwick::provider {

using namespace dsengine;

namespace {

struct EngineType {
    std::int32_t type;
    std::int32_t subtype;
};

// The engine type and subtype of a field type; type fldUNKNOWN for types a packet cannot carry.
EngineType EngineTypeOf(const TField& field) {
    switch (field.DataType()) {
    case ftString: {
        const auto* text = dynamic_cast<const TStringField*>(&field);
        return {fldZSTRING, text && text->FixedChar() ? fldstFIXED : fldstNONE};
    }
    case ftFixedChar: return {fldZSTRING, fldstFIXED};
    case ftGuid: return {fldZSTRING, fldstGUID};
    case ftWideString: return {fldWIDESTRING, fldstNONE};
    case ftSmallint: return {fldINT16, fldstNONE};
    case ftWord: return {fldUINT16, fldstNONE};
    case ftInteger: return {fldINT32, fldstNONE};
    case ftAutoInc: return {fldINT32, fldstAUTOINC};
    case ftLargeint: return {fldINT64, fldstNONE};
    case ftBoolean: return {fldBOOL, fldstNONE};
    case ftFloat: return {fldFLOAT, fldstNONE};
    case ftCurrency: return {fldFLOAT, fldstMONEY};
    case ftBCD: return {fldBCD, fldstNONE};
    case ftFMTBcd: return {fldFMTBCD, fldstNONE};
    case ftDate: return {fldDATE, fldstNONE};
    case ftTime: return {fldTIME, fldstNONE};
    case ftDateTime: return {fldDATETIME, fldstNONE};
    case ftTimeStamp: return {fldSQLTIMESTAMP, fldstNONE};
    case ftBytes: return {fldBYTES, fldstNONE};
    case ftVarBytes: return {fldVARBYTES, fldstNONE};
    case ftBlob: return {fldBLOB, fldstBINARY};
    case ftMemo: return {fldBLOB, fldstMEMO};
    case ftGraphic: return {fldBLOB, fldstGRAPHIC};
    case ftFmtMemo: return {fldBLOB, fldstFMTMEMO};
    case ftParadoxOle: return {fldBLOB, fldstOLEOBJ};
    case ftDBaseOle: return {fldBLOB, fldstDBSOLEOBJ};
    case ftTypedBinary: return {fldBLOB, fldstTYPEDBINARY};
    case ftOraBlob: return {fldBLOB, fldstHBINARY};
    case ftOraClob: return {fldBLOB, fldstHMEMO};
    default: return {fldUNKNOWN, fldstNONE};
    }
}

int PrecisionOf(const TField& field) {
    int precision = 0;
    if (field.DataType() == ftBCD)
        if (const auto* bcd = dynamic_cast<const TBCDField*>(&field)) precision = bcd->Precision();
    if (field.DataType() == ftFMTBcd)
        if (const auto* fmt = dynamic_cast<const TFMTBCDField*>(&field)) precision = fmt->Precision();
    return precision == 0 ? 32 : precision;
}

std::vector<std::string> SplitFieldList(const std::string& list) {
    std::vector<std::string> names;
    std::string name;
    for (const char c : list + ";") {
        if (c != ';') {
            name += c;
            continue;
        }
        if (!name.empty()) names.push_back(name);
        name.clear();
    }
    return names;
}

// An index as packet positions: blank-separated 1-based field numbers, 0x4000 added for a
// case-insensitive and 0x8000 for a descending field. Empty when a field is not in the packet.
std::string IndexPositions(const sql::TCustomSQLDataSet& dataSet, const std::string& fields,
                           sql::TIndexOptions options) {
    std::string out;
    for (const std::string& name : SplitFieldList(fields)) {
        const TField* field = dataSet.FindFieldNamed(name);
        if (!field) return {};
        int position = 0;
        for (int i = 0; i < dataSet.FieldTotal(); ++i)
            if (&dataSet.FieldAt(i) == field) position = i + 1;
        if (options.Contains(sql::ixCaseInsensitive)) position += 0x4000;
        if (options.Contains(sql::ixDescending)) position += 0x8000;
        if (!out.empty()) out += ' ';
        out += std::to_string(position);
    }
    return out;
}

}  // namespace

DSFLDDesc FieldDescriptor(const TField& field) {
    const EngineType engine = EngineTypeOf(field);
    if (engine.type == fldUNKNOWN)
        DatabaseError(Format("Field '%s' is of an unknown type", field.FieldName().c_str()));
    DSFLDDesc desc;
    std::memset(&desc, 0, sizeof desc);
    const std::string_view name = Utf8Prefix(field.FieldName(), sizeof desc.szName - 1);
    std::memcpy(desc.szName, name.data(), name.size());
    desc.iFldType = engine.type;
    desc.iFldSubType = engine.subtype;
    switch (engine.type) {
    case fldZSTRING:
    case fldBYTES:
    case fldVARBYTES:
    case fldBLOB: desc.iUnits1 = field.Size(); break;
    case fldWIDESTRING: desc.iUnits1 = field.Size() * 2; break;
    case fldBCD:
    case fldFMTBCD:
        desc.iUnits1 = PrecisionOf(field);
        desc.iUnits2 = field.Size();
        break;
    default: break;
    }
    if (field.ReadOnly() || field.FieldKind() != fkData) desc.iFldAttr |= fldAttrREADONLY;
    if (field.Required() && field.DataType() != ftAutoInc) desc.iFldAttr |= fldAttrREQUIRED;
    if (field.ProviderFlags().Contains(pfHidden)) desc.iFldAttr |= fldAttrHIDDEN | fldAttrREADONLY;
    return desc;
}

TDataPacketWriter::TDataPacketWriter() {
    std::unique_ptr<IDSWriter> writer;
    if (IsFailure(CreateDSWriter(writer)) || !writer) throw EDatabaseError("Cannot create the packet writer");
    writer_ = std::move(writer);
}

void TDataPacketWriter::Check(DBResult status) {
    if (!IsFailure(status)) return;
    std::string text;
    writer_->GetErrorString(status, text);
    if (text.empty()) text = Format("Dataset engine error %04X", static_cast<unsigned>(status));
    throw EDBClient(text, static_cast<std::int32_t>(status));
}

void TDataPacketWriter::Reset() {
    // Descriptions kept for the next packet stay: it compares its inputs with theirs anyway.
    if (headerKept_) writer_->ResetRows();
    else writer_->Reset();
}

bool TDataPacketWriter::ReadHeaderInputs(sql::TCustomSQLDataSet& dataSet, TProviderOptions options,
                                         THeaderInputs& inputs) {
    if (sql::MayHoldOrderBy(dataSet.CommandText())) return false;
    inputs.Fields.resize(static_cast<std::size_t>(dataSet.FieldTotal()));
    for (int i = 0; i < dataSet.FieldTotal(); ++i) {
        const TField& field = dataSet.FieldAt(i);
        THeaderInputs::TFieldInputs& f = inputs.Fields[static_cast<std::size_t>(i)];
        f.Name = field.FieldName();
        f.Desc = FieldDescriptor(field);
        f.Kind = field.FieldKind();
        f.Flags = field.ProviderFlags().Bits();
        f.Origin = field.Origin();
    }
    inputs.Options = options.Bits();
    inputs.CommandType = static_cast<int>(dataSet.CommandType());
    inputs.LocaleCode = dataSet.PSGetLocaleCode();
    return true;
}

bool TDataPacketWriter::SameInputs(const THeaderInputs& a, const THeaderInputs& b,
                                   const std::vector<sql::TIndexDef>& indexes) {
    if (a.Options != b.Options || a.CommandType != b.CommandType || a.LocaleCode != b.LocaleCode ||
        a.Fields.size() != b.Fields.size() || indexes.size() != b.Indexes.size())
        return false;
    for (std::size_t i = 0; i < a.Fields.size(); ++i) {
        const auto& x = a.Fields[i];
        const auto& y = b.Fields[i];
        if (x.Name != y.Name || x.Kind != y.Kind || x.Flags != y.Flags || x.Origin != y.Origin ||
            std::memcmp(&x.Desc, &y.Desc, sizeof x.Desc) != 0)
            return false;
    }
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        const sql::TIndexDef& x = indexes[i];
        const sql::TIndexDef& y = b.Indexes[i];
        if (x.Name != y.Name || x.Fields != y.Fields || x.Options.Bits() != y.Options.Bits()) return false;
    }
    return true;
}

std::vector<std::uint8_t> TDataPacketWriter::WritePacket(sql::TCustomSQLDataSet& dataSet,
                                                         TProviderOptions options, int count, int& recsOut) {
    // Packet after packet of the same statement shape (a keyed select per record) describes the
    // same fields with the same attributes: those are made once and kept in the writer.
    const bool comparable = ReadHeaderInputs(dataSet, options, next_);
    if (comparable && headerKept_ && SameInputs(next_, written_, dataSet.IndexDefs())) {
        Check(writer_->ResetRows());
    } else {
        headerKept_ = false;
        writer_->Reset();
        Check(writer_->SetProp(basepropXMLMODE, xmlmodeBINARY));
        WriteFields(dataSet);
        WriteDataSetAttributes(dataSet, options);
        if (comparable) {
            next_.Indexes = dataSet.IndexDefs();
            std::swap(written_, next_);
            headerKept_ = true;
        }
    }
    recsOut = 0;
    while (count != 0 && !dataSet.AtEnd()) {
        WriteRow(dataSet);
        ++recsOut;
        if (recsOut == count) break;
        dataSet.MoveNext();
    }
    std::vector<std::uint8_t> packet;
    Check(writer_->GetPacket(packet));
    Check(writer_->ResetRows());
    return packet;
}

void TDataPacketWriter::WriteFields(sql::TCustomSQLDataSet& dataSet) {
    for (int i = 0; i < dataSet.FieldTotal(); ++i) {
        const TField& field = dataSet.FieldAt(i);
        Check(writer_->AddField(FieldDescriptor(field)));
        const auto no = static_cast<std::uint32_t>(i + 1);
        if (field.FieldKind() != fkData) Check(writer_->AddOptParameter(no, "SERVER_CALC", "TRUE"));
        if (!(field.ProviderFlags() == kDefaultProviderFlags))
            Check(writer_->AddOptParameter(no, "PROVFLAGS", std::to_string(field.ProviderFlags().Bits())));
        if (!field.Origin().empty()) Check(writer_->AddOptParameter(no, "ORIGIN", field.Origin()));
    }
}

void TDataPacketWriter::WriteDataSetAttributes(sql::TCustomSQLDataSet& dataSet, TProviderOptions options) {
    if (options.Contains(poReadOnly)) Check(writer_->AddOptParameter(0, "READONLY", "TRUE"));
    if (options.Contains(poDisableEdits)) Check(writer_->AddOptParameter(0, "DISABLE_EDITS", "TRUE"));
    if (options.Contains(poDisableInserts)) Check(writer_->AddOptParameter(0, "DISABLE_INSERTS", "TRUE"));
    if (options.Contains(poDisableDeletes)) Check(writer_->AddOptParameter(0, "DISABLE_DELETES", "TRUE"));
    if (options.Contains(poNoReset)) Check(writer_->AddOptParameter(0, "NO_RESET_CALL", "TRUE"));
    if (!options.Contains(poRetainServerOrder)) {
        if (const auto order = dataSet.PSGetDefaultOrder()) {
            const std::string positions = IndexPositions(dataSet, order->Fields, order->Options);
            if (!positions.empty()) Check(writer_->AddOptParameter(0, "DEFAULT_ORDER", positions));
        }
        const std::string keys = dataSet.PSGetKeyFields();
        const std::vector<sql::TIndexDef> unique = dataSet.PSGetIndexDefs(sql::TIndexOptions{sql::ixUnique});
        if (!keys.empty()) {
            std::string positions;
            for (const sql::TIndexDef& index : unique)
                if (SameTextAscii(index.Fields, keys)) positions = IndexPositions(dataSet, index.Fields, index.Options);
            if (positions.empty()) positions = IndexPositions(dataSet, keys, sql::TIndexOptions());
            if (!positions.empty()) Check(writer_->AddOptParameter(0, "PRIMARY_KEY", positions));
        }
        // A packet holds one UNIQUE_KEY attribute: the first unique index.
        for (const sql::TIndexDef& index : unique) {
            const std::string positions = IndexPositions(dataSet, index.Fields, index.Options);
            if (positions.empty()) continue;
            Check(writer_->AddOptParameter(0, "UNIQUE_KEY", positions));
            break;
        }
    }
    Check(writer_->AddOptParameter(0, "LCID", std::to_string(dataSet.PSGetLocaleCode())));
}

void TDataPacketWriter::WriteRow(sql::TCustomSQLDataSet& dataSet) {
    Check(writer_->InitRow());
    for (int i = 0; i < dataSet.FieldTotal(); ++i) {
        const TField& field = dataSet.FieldAt(i);
        const auto no = static_cast<std::uint32_t>(i + 1);
        if (field.IsBlob()) {
            // An empty blob travels as null.
            if (!dataSet.GetBlobData(field, blob_) || blob_.empty()) continue;
            Check(writer_->PutBlob(no, blob_.data(), static_cast<std::uint32_t>(blob_.size())));
            continue;
        }
        buffer_.assign(static_cast<std::size_t>(field.DataSize()) + 1, 0);
        if (!field.GetData(buffer_.data())) continue;
        Check(writer_->PutField(no, buffer_.data()));
    }
    Check(writer_->PostRow());
}

}  // namespace tarnwick::provider
