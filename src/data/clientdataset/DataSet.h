#pragma once
// TDataSet: the base of every dataset (the client dataset over the dataset engine, the SQL dataset
// over a driver cursor). It owns its field definitions and its fields (created at open, destroyed
// at close), keeps the dataset state, the record window flags (AtStart, AtEnd) and the filter
// settings, and runs navigation and the edit/insert/post cycle through protected virtual
// operations that a subclass implements. Every failure is raised at once; messages for the
// dataset carry its name ("%s: %s").
//
// How a subclass supplies values:
//   InternalOpen    opens its source, fills FieldDefs(), calls CreateFields(), stands before the
//                   first record (and may activate a filter);
//   InternalFirst   goes before the first record;  InternalNext fetches the next record (false
//                   at the end, the last record staying current);
//   GetFieldData    copies the current record's value of a field in the field's value form
//                   (Field.h) and answers whether it is not null; GetBlobData likewise for blobs;
//   InternalClose   releases the source (fields are destroyed by TDataSet afterwards).
// Editable datasets also override CanModify, SetFieldData, SetBlobData and the Internal* record
// operations.

#include "base/Component.h"
#include "data/clientdataset/DataErrors.h"
#include "data/clientdataset/Field.h"
#include "data/clientdataset/FieldDefs.h"
#include "data/clientdataset/filter/FilterOptions.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

enum TDataSetState {
    dsInactive,
    dsBrowse,
    dsEdit,
    dsInsert,
    dsSetKey,
    dsCalcFields,
    dsFilter,
    dsNewValue,
    dsOldValue,
    dsCurValue,
    dsBlockRead,
    dsInternalCalc,
    dsOpening,
};

class TDataSet : public TComponent {
public:
    explicit TDataSet(TComponent* owner = nullptr);
    // A subclass closes the dataset in its own destructor (closing calls its virtual operations).
    ~TDataSet() override;

    // Open in every state except inactive and opening. Writing the current value does nothing.
    bool Active() const { return state_ != dsInactive && state_ != dsOpening; }
    void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    TDataSetState State() const { return state_; }

    // Record window.
    bool AtStart() const { return atStart_; }
    bool AtEnd() const { return atEnd_; }
    // Before the first record, then the first record of the view; finishes a pending edit.
    void MoveFirst();
    // The next record; nothing when AtEnd; finishes a pending edit.
    void MoveNext();
    // Records in the current view, and the sequence number of the current record (1-based).
    int RecordTotal() const;
    int RecordNumber() const;

    // Fields, in definition order.
    TFieldDefs& FieldDefs() { return fieldDefs_; }
    const TFieldDefs& FieldDefs() const { return fieldDefs_; }
    int FieldTotal() const { return static_cast<int>(fields_.size()); }
    // EListError "List index out of bounds (%d)" outside 0 .. FieldTotal-1.
    TField& FieldAt(int index) const;
    // ASCII letters folded, other bytes compared exactly; FieldNamed raises "Field '%s' not found".
    TField& FieldNamed(std::string_view name) const;
    TField* FindFieldNamed(std::string_view name) const;

    // Record states.
    void BeginEdit();
    void BeginInsert();
    void PostRecord();
    void CancelRecord();
    // A value was assigned since the edit or insert began.
    bool Modified() const { return modified_; }
    virtual bool CanModify() const { return false; }

    // Filter settings; a subclass reacts to changes while open.
    const std::string& Filter() const { return filterText_; }
    virtual void SetFilter(std::string text) { filterText_ = std::move(text); }
    bool Filtered() const { return filtered_; }
    virtual void SetFiltered(bool value) { filtered_ = value; }
    TFilterOptions FilterOptions() const { return filterOptions_; }
    virtual void SetFilterOptions(TFilterOptions options) { filterOptions_ = options; }

    // Value access used by the fields (see the contract above). `buffer` holds field.DataSize()
    // bytes or is null (null test only).
    virtual bool GetFieldData(const TField& field, void* buffer) const = 0;
    // Stores a value form (null buffer: null) into the record being edited or inserted. The
    // field has already checked the state and ReadOnly.
    virtual void SetFieldData(TField& field, const void* buffer);
    // The whole content of a blob field; false when null.
    virtual bool GetBlobData(const TField& field, std::string& out) const;
    virtual void SetBlobData(TField& field, std::string_view bytes);

    // Raises EDatabaseError with this dataset's name in front.
    [[noreturn]] void Error(const std::string& message) const { DatabaseError(message, this); }
    // "Cannot perform this operation on a closed dataset" unless open.
    void CheckActive() const;
    // "Dataset not in edit or insert mode" unless editing or inserting.
    void CheckEditing() const;
    // In edit or insert: post when modified, else cancel.
    void FinishEdit();

    // Called by the fields after a value was stored.
    void NoteFieldChanged(TField& field);

protected:
    virtual void InternalOpen() = 0;
    virtual void InternalClose() = 0;
    virtual void InternalFirst() = 0;
    virtual bool InternalNext() = 0;
    virtual int GetRecordTotal() const { return -1; }
    virtual int GetRecordNumber() const { return -1; }
    // Record operations; the state checks are done by TDataSet.
    virtual void InternalEdit() { Error("Cannot modify a read-only dataset"); }
    virtual void InternalInsert() { Error("Cannot modify a read-only dataset"); }
    virtual void InternalPost() {}
    virtual void InternalCancel() {}
    // Called once an open has completed (browse state, first record fetched).
    virtual void AfterOpenDone() {}
    // Asked before a close: true when the subclass closes later itself (the close is asked for
    // while the dataset's engine objects are still in use further up the stack).
    virtual bool DeferClose() { return false; }

    // One field per definition (recursively for child definitions is not done), skipping
    // definitions of no type and hidden ones.
    void CreateFields();
    // Creates the field for one definition (null: no field). Sets name, size, precision, flags.
    virtual std::unique_ptr<TField> CreateField(const TFieldDef& def);
    void DestroyFields();
    void AddField(std::unique_ptr<TField> field);
    void SetState(TDataSetState state) { state_ = state; }
    void SetAtStart(bool v) { atStart_ = v; }
    void SetAtEnd(bool v) { atEnd_ = v; }
    void SetModified(bool v) { modified_ = v; }
    // Required, not ReadOnly, fkData fields that are null: "Field '%s' must have a value".
    void CheckRequiredFields() const;

    std::string filterText_;
    bool filtered_ = false;
    TFilterOptions filterOptions_;

private:
    void OpenDataSet();
    void CloseDataSet();

    TDataSetState state_ = dsInactive;
    bool atStart_ = true;
    bool atEnd_ = true;
    bool modified_ = false;
    TFieldDefs fieldDefs_;
    std::vector<std::unique_ptr<TField>> fields_;
};

}  // namespace tarnwick
