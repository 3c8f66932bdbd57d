#include "data/clientdataset/CustomClientDataSet.h"

#include "base/Text.h"
#include "data/clientdataset/filter/DataSetFilter.h"
#include "platform/FileRead.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tarnwick {

using namespace dsengine;

namespace {

// Statuses that mean "no record there" when fetching, not failures.
bool NoRecordThere(DBResult status) { return status == DBERR_BOF || status == DBERR_EOF; }

// The record count may answer this status with a usable count.
constexpr DBResult kCountEstimated = 0x400A;

std::string DescriptorName(const DSFLDDesc& desc) {
    return std::string(desc.szName, strnlen(desc.szName, sizeof desc.szName));
}

TFieldType BlobFieldType(std::int32_t subtype) {
    switch (subtype) {
    case fldstMEMO: return ftMemo;
    case fldstBINARY: return ftBlob;
    case fldstFMTMEMO: return ftFmtMemo;
    case fldstOLEOBJ: return ftParadoxOle;
    case fldstGRAPHIC: return ftGraphic;
    case fldstDBSOLEOBJ: return ftDBaseOle;
    case fldstTYPEDBINARY: return ftTypedBinary;
    case fldstHMEMO: return ftOraClob;
    case fldstHBINARY: return ftOraBlob;
    default: return ftBlob;
    }
}

// The field type, size and precision of an engine descriptor; ftUnknown: no field.
struct DefShape {
    TFieldType type = ftUnknown;
    int size = 0;
    int precision = 0;
};

DefShape ShapeOf(const DSFLDDesc& d) {
    DefShape s;
    switch (d.iFldType) {
    case fldZSTRING:
        s.type = d.iFldSubType == fldstGUID ? ftGuid : ftString;
        s.size = d.iUnits1;
        break;
    case fldDATE: s.type = ftDate; break;
    case fldBLOB:
        s.type = BlobFieldType(d.iFldSubType);
        s.size = d.iUnits1;
        break;
    case fldBOOL: s.type = ftBoolean; break;
    case fldINT16: s.type = d.iFldLen == 2 ? ftSmallint : ftUnknown; break;
    case fldINT32: s.type = d.iFldSubType == fldstAUTOINC ? ftAutoInc : ftInteger; break;
    case fldFLOAT: s.type = d.iFldSubType == fldstMONEY ? ftCurrency : ftFloat; break;
    case fldBCD:
    case fldFMTBCD:
        s.type = d.iFldType == fldBCD ? ftBCD : ftFMTBcd;
        s.precision = d.iUnits1;
        s.size = std::abs(d.iUnits2);
        break;
    case fldBYTES:
        s.type = d.iFldSubType == fldstGUID ? ftGuid : ftBytes;
        s.size = d.iUnits1;
        break;
    case fldTIME: s.type = ftTime; break;
    case fldDATETIME: s.type = ftDateTime; break;
    case fldUINT16: s.type = d.iFldLen == 2 ? ftWord : ftUnknown; break;
    case fldUINT32: s.type = ftInteger; break;
    case fldVARBYTES:
        s.type = d.iFldSubType == fldstGUID ? ftGuid : ftVarBytes;
        s.size = d.iUnits1;
        break;
    case fldINT64:
    case fldUINT64: s.type = ftLargeint; break;
    case fldADT:
        s.type = ftADT;
        s.size = d.iUnits1;
        break;
    case fldARRAY:
        s.type = ftArray;
        s.size = d.iUnits1;
        break;
    case fldREF: s.type = ftReference; break;
    case fldTABLE: s.type = d.iFldSubType == fldstREFERENCE ? ftReference : ftDataSet; break;
    case fldSQLTIMESTAMP: s.type = ftTimeStamp; break;
    case fldWIDESTRING:
        s.type = ftWideString;
        s.size = d.iUnits1 / 2;
        break;
    default: break;
    }
    // Widths come from outside input; a negative one is taken as none.
    s.size = std::max(0, s.size);
    s.precision = std::max(0, s.precision);
    return s;
}

TFieldAttributes AttributesOf(const DSFLDDesc& d) {
    TFieldAttributes a;
    if (d.iFldAttr & fldAttrHIDDEN) a.Include(faHiddenCol);
    if (d.iFldAttr & fldAttrREADONLY) a.Include(faReadonly);
    if (d.iFldAttr & fldAttrREQUIRED) a.Include(faRequired);
    if (d.iFldAttr & fldAttrLINK) a.Include(faLink);
    if (d.iFldAttr & fldAttrUNNAMED) a.Include(faUnNamed);
    if ((d.iFldAttr & fldAttrFIXED) || d.iFldSubType == fldstFIXED) a.Include(faFixed);
    return a;
}

}  // namespace

TCustomClientDataSet::TCustomClientDataSet(TComponent* owner) : TDataSet(owner) {}

TCustomClientDataSet::~TCustomClientDataSet() {
    try {
        // Nothing opens the records again: they are not kept as a packet.
        CloseDiscarding();
    } catch (...) {
        // Destruction cannot report anything; the engine objects are released below regardless.
    }
    ReleaseEngine();
}

void TCustomClientDataSet::CheckEngine(DBResult status) const {
    if (!IsFailure(status)) return;
    std::string text;
    if (base_) base_->GetErrorString(status, text);
    if (text.empty()) text = Format("Dataset engine error %04X", static_cast<unsigned>(status));
    if (text.size() > 2048) text.resize(Utf8Prefix(text, 2048).size());
    throw EDBClient(text, static_cast<std::int32_t>(status));
}

// ---------------------------------------------------------------------------------------------
// Loading, opening, closing

void TCustomClientDataSet::LoadPacketFile(const std::string& path) {
    const std::string& source = path.empty() ? fileName_ : path;
    // The file is read before the close: when it holds a packet, the records of the open dataset
    // are replaced by it and need not be kept as a packet of their own first.
    std::vector<std::uint8_t> content;
    try {
        content = platform::ReadWholeFile(source);
    } catch (const EVariantArrayCreateError&) {
        // The old packet is given up for the new one, which could not be held.
        CloseDiscarding();
        retained_.reset();
        throw;
    } catch (...) {
        Close();
        throw;
    }
    // A file of length 0 leaves the retained packet (the records of the open dataset) as it was.
    if (content.empty()) Close();
    else CloseDiscarding();
    struct OpeningFlag {
        bool& flag;
        explicit OpeningFlag(bool& f) : flag(f) { flag = true; }
        ~OpeningFlag() { flag = false; }
    } opening(openingFromFile_);
    if (!content.empty()) retained_ = std::move(content);
    Open();
}

void TCustomClientDataSet::CloseDiscarding() {
    struct Discarding {
        bool& flag;
        explicit Discarding(bool& f) : flag(f) { flag = true; }
        ~Discarding() { flag = false; }
    } discarding(discardOnClose_);
    Close();
}

std::vector<std::uint8_t> TCustomClientDataSet::FetchPacket() {
    Error("Missing data provider or data packet");
}

void TCustomClientDataSet::InternalOpen() {
    providerEnd_ = true;
    retainOnClose_ = false;
    std::vector<std::uint8_t> fetched;
    if (!retained_) fetched = FetchPacket();
    const std::vector<std::uint8_t>& packet = retained_ ? *retained_ : fetched;

    // The engine dataset of the last open, emptied at close, takes a packet of its own shape
    // (the same query for another key) without its fields being made again.
    if (std::unique_ptr<IDSBase> spare = std::move(spareBase_)) {
        bool replaced = false;
        if (spare->ReplaceData(packet.data(), packet.size(), replaced) == DBERR_NONE && replaced)
            base_ = std::move(spare);
    }
    if (!base_) {
        fieldParamsKnown_ = false;  // a new engine dataset: its parameters are read anew
        std::unique_ptr<IDSBase> base;
        CheckEngine(CreateDSBase(base));
        base_ = std::move(base);
        CheckEngine(base_->AppendData(packet.data(), packet.size(), true));
    }
    {
        std::unique_ptr<IDSCursor> cursor;
        CheckEngine(CreateDSCursor(cursor));
        cursor_ = std::move(cursor);
    }
    CheckEngine(cursor_->InitCursor(base_.get()));
    std::uint32_t value = 0;
    CheckEngine(cursor_->GetProp(curpropRECORDSIZE, recordSize_));
    CheckEngine(cursor_->GetProp(curpropBOOKMARKSIZE, bookmarkSize_));
    CheckEngine(cursor_->GetProp(curpropREADONLY, value));
    cursorReadOnly_ = value != 0;
    current_.assign(recordSize_, 0);
    bookmark_.assign(bookmarkSize_, 0);
    hasCurrent_ = false;
    seqNo_ = -1;

    ReadPacketOptions();

    CheckEngine(base_->SetProp(basepropEXPANDARRAYS, 1));
    std::vector<DSFLDDesc> descs;
    CheckEngine(base_->GetFieldDescs(descs));
    // The definitions stay when the packet describes its fields exactly as the last one did
    // (the same query opened again for another key).
    const bool sameDescs = FieldDefs().Count() > 0 && descs.size() == defsMadeFrom_.size() &&
                           (descs.empty() || std::memcmp(descs.data(), defsMadeFrom_.data(),
                                                         descs.size() * sizeof(DSFLDDesc)) == 0);
    if (!sameDescs) {
        defsMadeFrom_.clear();
        FieldDefs().Clear();
        BuildFieldDefs(descs);
        defsMadeFrom_ = std::move(descs);
    }
    CreateFields();
    ApplyFieldParameters();

    CheckEngine(cursor_->MoveToBOF());
    if (disableStringTrim_) CheckEngine(base_->SetProp(basepropKEEPTRAILINGBLANKS, 1));
    if (readOnly_) CheckEngine(base_->SetProp(basepropREADONLY, 1));
    if (filtered_ && !filterText_.empty()) ActivateFilter(filterText_, filterOptions_);
}

bool TCustomClientDataSet::ReplaceRecords(const std::vector<std::uint8_t>& packet) {
    if (!Active() || State() != dsBrowse || filterHandle_ != 0 || !base_) return false;
    bool replaced = false;
    CheckEngine(base_->ReplaceData(packet.data(), packet.size(), replaced));
    if (!replaced) return false;
    retained_.reset();
    providerEnd_ = true;
    hasCurrent_ = false;
    seqNo_ = -1;
    for (int i = 0; i < FieldTotal(); ++i) {
        FieldAt(i).SetOrigin(std::string());
        FieldAt(i).SetProviderFlags(kDefaultProviderFlags);
    }
    ApplyFieldParameters();
    MoveFirst();
    return true;
}

void TCustomClientDataSet::AfterOpenDone() {
    retained_.reset();
    retainOnClose_ = true;
}

void TCustomClientDataSet::InternalClose() {
    struct Release {
        TCustomClientDataSet* self;
        ~Release() { self->ReleaseEngine(); }
    } release{this};
    if (filterHandle_ != 0 && cursor_) cursor_->DropFilter(filterHandle_);
    filterHandle_ = 0;
    hasCurrent_ = false;
    edit_.clear();
    if (!retainOnClose_ || discardOnClose_ || !fileName_.empty() || HasProvider() || !KeepsDataOnClose() || !base_)
        return;
    retainOnClose_ = false;
    CheckEngine(base_->SetProp(basepropXMLMODE, xmlmodeBINARY));
    std::vector<std::uint8_t> packet;
    CheckEngine(base_->StreamDS(packet));
    retained_ = std::move(packet);
}

void TCustomClientDataSet::ReleaseEngine() {
    cursor_.reset();
    // Kept without its records and with the settings of a new one, for the next open.
    spareBase_.reset();
    if (base_ && base_->Recycle() == DBERR_NONE) spareBase_ = std::move(base_);
    base_.reset();
    retainOnClose_ = false;
    filterHandle_ = 0;
    hasCurrent_ = false;
    seqNo_ = -1;
}

bool TCustomClientDataSet::BoolParameter(std::uint32_t fieldNo, const char* name) const {
    std::string value;
    if (base_->GetOptParameter(fieldNo, name, value) != DBERR_NONE) return false;
    return SameTextAscii(value, "TRUE");
}

void TCustomClientDataSet::ReadPacketOptions() {
    disableEdits_ = BoolParameter(0, "DISABLE_EDITS");
    disableInserts_ = BoolParameter(0, "DISABLE_INSERTS");
    disableDeletes_ = BoolParameter(0, "DISABLE_DELETES");
    noResetCall_ = BoolParameter(0, "NO_RESET_CALL");
}

void TCustomClientDataSet::ReadFieldParameters() {
    fieldParams_.clear();
    std::vector<std::string> names;
    for (int i = 0; i < FieldTotal(); ++i) {
        const std::uint32_t engineNo = EngineFieldNo(FieldAt(i));
        if (engineNo == 0) continue;
        if (fieldParams_.size() <= engineNo) fieldParams_.resize(engineNo + 1);
        if (base_->GetOptParameterNames(engineNo, names) != DBERR_NONE) continue;
        TFieldParams& params = fieldParams_[engineNo];
        for (std::string& name : names) {
            std::string value;
            if (base_->GetOptParameter(engineNo, name, value) == DBERR_NONE)
                params.emplace_back(std::move(name), std::move(value));
        }
    }
    fieldParamsKnown_ = true;
}

const std::string* TCustomClientDataSet::FieldParameter(std::uint32_t engineNo, std::string_view name) const {
    if (!fieldParamsKnown_ || engineNo >= fieldParams_.size()) return nullptr;
    for (const auto& [key, value] : fieldParams_[engineNo])
        if (key == name) return &value;
    return nullptr;
}

void TCustomClientDataSet::ApplyFieldParameters() {
    // A packet the engine dataset took in place of its last one (the same query for another key,
    // the next delta) carries the very parameters it held before: they are not read again.
    if (!fieldParamsKnown_) ReadFieldParameters();
    for (int i = 0; i < FieldTotal(); ++i) {
        TField& field = FieldAt(i);
        const std::uint32_t engineNo = EngineFieldNo(field);
        if (engineNo == 0) continue;
        if (const std::string* origin = FieldParameter(engineNo, "ORIGIN")) field.SetOrigin(*origin);
        if (const std::string* flags = FieldParameter(engineNo, "PROVFLAGS"))
            field.SetProviderFlags(TProviderFlags::FromBits(static_cast<std::uint32_t>(std::atoi(flags->c_str()))));
    }
}

// Definitions in descriptor order with a running field number: a link descriptor consumes a
// number without a definition, a descriptor of no field type consumes nothing; an ADT is followed
// by its children, an array by its element descriptor.
void TCustomClientDataSet::BuildFieldDefs(const std::vector<DSFLDDesc>& descs) {
    engineFieldNo_.assign(1, 0);
    std::size_t index = 0;
    int fieldNo = 1;
    AddFieldDefs(FieldDefs(), descs, index, -1, fieldNo);
}

void TCustomClientDataSet::AddFieldDefs(TFieldDefs& defs, const std::vector<DSFLDDesc>& descs,
                                        std::size_t& index, int count, int& fieldNo) {
    for (int taken = 0; index < descs.size() && (count < 0 || taken < count); ++taken) {
        const DSFLDDesc& desc = descs[index];
        const auto engineNo = static_cast<std::uint32_t>(++index);
        if (desc.iFldAttr & fldAttrLINK) {
            ++fieldNo;
            continue;
        }
        const DefShape shape = ShapeOf(desc);
        if (shape.type == ftUnknown) continue;
        TFieldDef& def = defs.AddFieldDef();
        def.Name = defs.UniqueName(DescriptorName(desc));
        def.DataType = shape.type;
        def.Size = shape.size;
        def.Precision = shape.precision;
        def.Attributes = AttributesOf(desc);
        def.InternalCalcField = desc.bCalculated != 0;
        def.FieldNo = fieldNo++;
        if (engineFieldNo_.size() <= static_cast<std::size_t>(def.FieldNo))
            engineFieldNo_.resize(static_cast<std::size_t>(def.FieldNo) + 1, 0);
        engineFieldNo_[static_cast<std::size_t>(def.FieldNo)] = engineNo;
        if (shape.type == ftADT) AddFieldDefs(def.ChildDefs(), descs, index, desc.iUnits1, fieldNo);
        if (shape.type == ftArray) {
            AddFieldDefs(def.ChildDefs(), descs, index, 1, fieldNo);
            fieldNo += desc.iUnits2;
        }
    }
}

std::uint32_t TCustomClientDataSet::EngineFieldNo(const TField& field) const {
    const auto no = static_cast<std::size_t>(field.FieldNo());
    return no < engineFieldNo_.size() ? engineFieldNo_[no] : 0;
}

// ---------------------------------------------------------------------------------------------
// Navigation and counting

void TCustomClientDataSet::InternalFirst() {
    CheckEngine(cursor_->MoveToBOF());
    hasCurrent_ = false;
    seqNo_ = -1;
}

bool TCustomClientDataSet::InternalNext() {
    const DBResult status = cursor_->MoveRelative(1);
    if (NoRecordThere(status)) return false;
    CheckEngine(status);
    FetchCurrentRecord();
    return true;
}

void TCustomClientDataSet::FetchCurrentRecord() {
    const DBResult status = cursor_->GetCurrentRecord(current_.data());
    if (NoRecordThere(status)) {
        hasCurrent_ = false;
        return;
    }
    CheckEngine(status);
    std::uint32_t seqNo = 0;
    CheckEngine(cursor_->GetSequenceNumber(seqNo));
    CheckEngine(cursor_->GetRecordAttribute(updateStatus_));
    if (bookmarkSize_ > 0) CheckEngine(cursor_->GetCurrentBookmark(bookmark_.data()));
    seqNo_ = static_cast<std::int32_t>(seqNo);
    hasCurrent_ = true;
}

int TCustomClientDataSet::GetRecordTotal() const {
    std::uint32_t count = 0;
    const DBResult status = cursor_->GetRecordCount(count);
    if (status != kCountEstimated) CheckEngine(status);
    return static_cast<int>(count);
}

int TCustomClientDataSet::GetRecordNumber() const {
    if (State() == dsInsert) return -1;
    return hasCurrent_ ? seqNo_ : -1;
}

void TCustomClientDataSet::ClearRecords() {
    CheckActive();
    FinishEdit();
    CheckEngine(base_->Reset());
    CheckEngine(base_->SetProp(basepropCHANGESMADE, 1));
    providerEnd_ = true;
    CheckEngine(cursor_->MoveToBOF());
    hasCurrent_ = false;
    seqNo_ = -1;
    SetAtStart(true);
    SetAtEnd(true);
}

// ---------------------------------------------------------------------------------------------
// Filters

void TCustomClientDataSet::ActivateFilter(const std::string& text, TFilterOptions options) {
    // The image is built before the old filter goes, so a text that does not parse leaves the
    // active filter in place.
    const std::vector<std::uint8_t> image = BuildFilterImage(*this, text, options);
    DeactivateFilter();
    dsengine::FilterHandle handle = 0;
    CheckEngine(cursor_->AddFilter(image.data(), image.size(), handle));
    filterHandle_ = handle;
}

void TCustomClientDataSet::DeactivateFilter() {
    if (filterHandle_ == 0) return;
    const dsengine::FilterHandle handle = filterHandle_;
    filterHandle_ = 0;
    CheckEngine(cursor_->DropFilter(handle));
}

void TCustomClientDataSet::SetFilter(std::string text) {
    if (!Active() || !filtered_) {
        filterText_ = std::move(text);
        return;
    }
    FinishEdit();
    if (text != filterText_) {
        if (text.empty()) DeactivateFilter();
        else ActivateFilter(text, filterOptions_);
    }
    filterText_ = std::move(text);
    MoveFirst();
}

void TCustomClientDataSet::SetFilterOptions(TFilterOptions options) {
    if (!Active() || !filtered_) {
        filterOptions_ = options;
        return;
    }
    FinishEdit();
    if (!(options == filterOptions_)) {
        if (filterText_.empty()) DeactivateFilter();
        else ActivateFilter(filterText_, options);
    }
    filterOptions_ = options;
    MoveFirst();
}

void TCustomClientDataSet::SetFiltered(bool value) {
    if (!Active()) {
        filtered_ = value;
        return;
    }
    FinishEdit();
    if (value != filtered_) {
        // A text that does not parse fails here, before the record window is touched.
        if (!value) DeactivateFilter();
        else if (!filterText_.empty()) ActivateFilter(filterText_, filterOptions_);
        CheckEngine(cursor_->MoveToBOF());
        hasCurrent_ = false;
    }
    filtered_ = value;
    MoveFirst();
}

// ---------------------------------------------------------------------------------------------
// Field values

const std::uint8_t* TCustomClientDataSet::ReadBuffer() const {
    if (State() == dsEdit || State() == dsInsert) return edit_.data();
    return hasCurrent_ ? current_.data() : nullptr;
}

bool TCustomClientDataSet::GetFieldData(const TField& field, void* buffer) const {
    const std::uint8_t* record = ReadBuffer();
    if (!record || !cursor_) return false;
    std::uint32_t blank = BLANK_NULL;
    CheckEngine(cursor_->GetField(record, EngineFieldNo(field), buffer, blank));
    return blank == BLANK_NONE;
}

bool TCustomClientDataSet::GetBlobData(const TField& field, std::string& out) const {
    out.clear();
    const std::uint8_t* record = ReadBuffer();
    if (!record || !cursor_) return false;
    const std::uint32_t no = EngineFieldNo(field);
    std::uint32_t blank = BLANK_NULL;
    CheckEngine(cursor_->GetField(record, no, nullptr, blank));
    if (blank != BLANK_NONE) return false;
    std::uint32_t length = 0;
    CheckEngine(cursor_->GetBlobLen(record, no, length));
    out.resize(length);
    if (length > 0) {
        CheckEngine(cursor_->GetBlob(record, no, 0, out.data(), length));
        out.resize(length);
    }
    return true;
}

void TCustomClientDataSet::SetFieldData(TField& field, const void* buffer) {
    const std::uint32_t no = EngineFieldNo(field);
    if (buffer) CheckEngine(cursor_->VerifyField(no, buffer));
    CheckEngine(cursor_->PutField(edit_.data(), no, buffer));
}

void TCustomClientDataSet::SetBlobData(TField& field, std::string_view bytes) {
    // A failed hand-over is raised like every other engine failure, so the caller never takes an
    // unstored blob for stored.
    CheckEngine(cursor_->PutBlob(edit_.data(), EngineFieldNo(field), 0, bytes.data(),
                                 static_cast<std::uint32_t>(bytes.size())));
}

// ---------------------------------------------------------------------------------------------
// Record states

bool TCustomClientDataSet::CanModify() const { return Active() && !cursorReadOnly_ && !readOnly_; }

void TCustomClientDataSet::InternalEdit() {
    if (disableEdits_) Error("Modifications are not allowed");
    // The cursor may stand after the last record (MoveNext at the end): bring it back to the
    // record being edited.
    if (bookmarkSize_ > 0) CheckEngine(cursor_->MoveToBookmark(bookmark_.data()));
    edit_ = current_;
}

void TCustomClientDataSet::InternalInsert() {
    if (disableInserts_) Error("Inserts are not allowed");
    edit_.assign(recordSize_, 0);
    CheckEngine(cursor_->InitRecord(edit_.data()));
    CheckEngine(cursor_->SetProp(curpropGETORGVALUES, 0));
}

void TCustomClientDataSet::InternalPost() {
    if (State() == dsEdit) CheckEngine(cursor_->ModifyRecord(edit_.data()));
    else CheckEngine(cursor_->InsertRecord(edit_.data()));
    edit_.clear();
    FetchCurrentRecord();
}

void TCustomClientDataSet::InternalCancel() {
    edit_.clear();
    if (base_) base_->ReleaseBlobs();
}

}  // namespace tarnwick
