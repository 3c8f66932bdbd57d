#include "data/clientdataset/DataSet.h"

#include "base/Text.h"

namespace tarnwick {

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) {}

TDataSet::~TDataSet() = default;

void TDataSet::SetActive(bool value) {
    if (value == Active()) return;
    if (value) OpenDataSet();
    else if (!DeferClose()) CloseDataSet();
}

void TDataSet::OpenDataSet() {
    state_ = dsOpening;
    try {
        InternalOpen();
        const bool gotRecord = InternalNext();
        atStart_ = true;
        atEnd_ = !gotRecord;
        modified_ = false;
        state_ = dsBrowse;
        AfterOpenDone();
    } catch (...) {
        state_ = dsInactive;
        try {
            InternalClose();
        } catch (...) {
            // The failure of the open is the one the caller needs to see.
        }
        DestroyFields();
        atStart_ = atEnd_ = true;
        throw;
    }
}

void TDataSet::CloseDataSet() {
    if (state_ == dsEdit || state_ == dsInsert) InternalCancel();
    modified_ = false;
    state_ = dsInactive;
    atStart_ = atEnd_ = true;
    struct FieldsGone {
        TDataSet* self;
        ~FieldsGone() { self->DestroyFields(); }
    } fieldsGone{this};
    InternalClose();
}

void TDataSet::CheckActive() const {
    if (!Active()) Error("Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckEditing() const {
    if (state_ != dsEdit && state_ != dsInsert) Error("Dataset not in edit or insert mode");
}

void TDataSet::FinishEdit() {
    if (state_ != dsEdit && state_ != dsInsert) return;
    if (modified_) PostRecord();
    else CancelRecord();
}

void TDataSet::MoveFirst() {
    CheckActive();
    FinishEdit();
    InternalFirst();
    const bool gotRecord = InternalNext();
    atStart_ = true;
    atEnd_ = !gotRecord;
}

void TDataSet::MoveNext() {
    CheckActive();
    FinishEdit();
    if (atEnd_) return;
    atStart_ = false;
    atEnd_ = false;
    if (!InternalNext()) atEnd_ = true;
}

int TDataSet::RecordTotal() const {
    CheckActive();
    return GetRecordTotal();
}

int TDataSet::RecordNumber() const {
    CheckActive();
    return GetRecordNumber();
}

TField& TDataSet::FieldAt(int index) const {
    if (index < 0 || index >= FieldTotal())
        throw EListError(Format("List index out of bounds (%d)", index));
    return *fields_[static_cast<std::size_t>(index)];
}

TField* TDataSet::FindFieldNamed(std::string_view name) const {
    for (const auto& field : fields_)
        if (SameTextAscii(field->FieldName(), name)) return field.get();
    return nullptr;
}

TField& TDataSet::FieldNamed(std::string_view name) const {
    TField* field = FindFieldNamed(name);
    if (!field)
        Error(Format("Field '%.*s' not found", static_cast<int>(name.size()), name.data()));
    return *field;
}

void TDataSet::BeginEdit() {
    if (state_ == dsEdit || state_ == dsInsert) return;
    CheckActive();
    // No record to edit: the edit becomes an insert.
    if (atStart_ && atEnd_) {
        BeginInsert();
        return;
    }
    FinishEdit();
    if (!CanModify()) Error("Cannot modify a read-only dataset");
    InternalEdit();
    modified_ = false;
    state_ = dsEdit;
}

void TDataSet::BeginInsert() {
    CheckActive();
    FinishEdit();
    if (!CanModify()) Error("Cannot modify a read-only dataset");
    InternalInsert();
    modified_ = false;
    state_ = dsInsert;
}

void TDataSet::PostRecord() {
    CheckEditing();
    CheckRequiredFields();
    InternalPost();
    state_ = dsBrowse;
    modified_ = false;
    // The posted record is the current record now.
    atStart_ = false;
    atEnd_ = false;
}

void TDataSet::CancelRecord() {
    if (state_ != dsEdit && state_ != dsInsert) return;
    InternalCancel();
    state_ = dsBrowse;
    modified_ = false;
}

void TDataSet::CheckRequiredFields() const {
    for (const auto& field : fields_) {
        if (!field->Required() || field->ReadOnly() || field->FieldKind() != fkData) continue;
        if (field->IsNull())
            DatabaseError(Format("Field '%s' must have a value", field->DisplayName().c_str()));
    }
}

void TDataSet::NoteFieldChanged(TField&) { modified_ = true; }

void TDataSet::SetFieldData(TField&, const void*) { Error("Cannot modify a read-only dataset"); }

bool TDataSet::GetBlobData(const TField&, std::string& out) const {
    out.clear();
    return false;
}

void TDataSet::SetBlobData(TField&, std::string_view) { Error("Cannot modify a read-only dataset"); }

void TDataSet::CreateFields() {
    for (int i = 0; i < fieldDefs_.Count(); ++i) {
        const TFieldDef& def = fieldDefs_[i];
        if (def.DataType == ftUnknown || def.Attributes.Contains(faHiddenCol)) continue;
        if (auto field = CreateField(def)) AddField(std::move(field));
    }
}

std::unique_ptr<TField> TDataSet::CreateField(const TFieldDef& def) {
    auto field = CreateFieldOfType(*this, def.DataType);
    if (!field) return nullptr;
    field->SetFieldName(def.Name);
    field->SetFieldNo(def.FieldNo);
    field->SetRequired(def.Attributes.Contains(faRequired));
    field->SetReadOnly(def.Attributes.Contains(faReadonly));
    if (def.InternalCalcField) field->SetFieldKind(fkInternalCalc);
    switch (def.DataType) {
    case ftInteger: case ftSmallint: case ftWord: case ftAutoInc: case ftLargeint: case ftFloat:
    case ftCurrency: case ftBoolean: case ftDate: case ftTime: case ftDateTime: case ftTimeStamp:
        break;  // the class fixes the size
    case ftGuid:
        if (def.Size > 0) field->SetSize(def.Size);
        break;
    default:
        field->SetSize(def.Size);
        break;
    }
    // The classes CreateFieldOfType makes for these types.
    switch (def.DataType) {
    case ftBCD: static_cast<TBCDField&>(*field).SetPrecision(def.Precision); break;
    case ftFMTBcd: static_cast<TFMTBCDField&>(*field).SetPrecision(def.Precision); break;
    case ftString: case ftFixedChar: case ftWideString: case ftGuid:
        static_cast<TStringField&>(*field).SetFixedChar(def.DataType == ftFixedChar || def.Attributes.Contains(faFixed));
        break;
    default: break;
    }
    return field;
}

void TDataSet::AddField(std::unique_ptr<TField> field) { fields_.push_back(std::move(field)); }

void TDataSet::DestroyFields() { fields_.clear(); }

}  // namespace tarnwick
