#pragma once
// TCustomClientDataSet: a dataset whose rows are held by the dataset engine. It owns its engine
// base and cursor while open, and keeps one retained data packet (the bytes of a dataset image)
// while closed: a load fills it, the next open consumes it, and closing an open dataset fills it
// again with the current content. Callers use TClientDataSet (ClientDataSet.h).
//
// Subclasses that get their packets elsewhere (the command dataset and its provider) override
// FetchPacket (the packet when none is retained), HasProvider (no retained packet at close) and
// InternalClose (call the base first, then talk to the provider), and use DSBase / DSCursor /
// CheckEngine for the change log.

#include "data/clientdataset/DataSet.h"
#include "dsengine/DSIntf.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick {

class TCustomClientDataSet : public TDataSet {
public:
    explicit TCustomClientDataSet(TComponent* owner = nullptr);
    ~TCustomClientDataSet() override;

    // Replaces the content with the data packet held in the file (empty path: FileName) and
    // leaves the dataset open on its first record.
    void LoadPacketFile(const std::string& path = {});
    // Removes every record of an open dataset; the fields stay.
    void ClearRecords();

    const std::string& FileName() const { return fileName_; }
    void SetFileName(std::string name) { fileName_ = std::move(name); }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v) { readOnly_ = v; }
    bool DisableStringTrim() const { return disableStringTrim_; }
    void SetDisableStringTrim(bool v) { disableStringTrim_ = v; }

    // The retained packet (none while open after a successful open).
    bool HasRetainedPacket() const { return retained_.has_value(); }
    const std::vector<std::uint8_t>* RetainedPacket() const { return retained_ ? &*retained_ : nullptr; }
    void SetRetainedPacket(std::vector<std::uint8_t> packet) { retained_ = std::move(packet); }
    void DiscardRetainedPacket() { retained_.reset(); }

    // True while a load runs.
    bool OpeningFromFile() const { return openingFromFile_; }
    bool ProviderEnd() const { return providerEnd_; }
    // Set by the packet's optional parameters at open.
    bool EditsDisabled() const { return disableEdits_; }
    bool InsertsDisabled() const { return disableInserts_; }
    bool DeletesDisabled() const { return disableDeletes_; }
    bool NoResetCall() const { return noResetCall_; }
    // The engine's handle of the active filter, 0 when none.
    dsengine::FilterHandle FilterHandle() const { return filterHandle_; }

    bool CanModify() const override;

    void SetFilter(std::string text) override;
    void SetFiltered(bool value) override;
    void SetFilterOptions(TFilterOptions options) override;

    bool GetFieldData(const TField& field, void* buffer) const override;
    void SetFieldData(TField& field, const void* buffer) override;
    bool GetBlobData(const TField& field, std::string& out) const override;
    void SetBlobData(TField& field, std::string_view bytes) override;

    // Engine access while open (null while closed).
    dsengine::IDSBase* DSBase() const { return base_.get(); }
    dsengine::IDSCursor* DSCursor() const { return cursor_.get(); }
    // Raises EDBClient with the engine's text when the status is a failure.
    void CheckEngine(dsengine::DBResult status) const;
    // The engine field number of a field.
    std::uint32_t EngineFieldNo(const TField& field) const;
    // An optional parameter of a field (engine field number) as the open data carries it; null
    // when the field has no parameter of that name.
    const std::string* FieldParameter(std::uint32_t engineNo, std::string_view name) const;

protected:
    void InternalOpen() override;
    void InternalClose() override;
    void InternalFirst() override;
    bool InternalNext() override;
    int GetRecordTotal() const override;
    int GetRecordNumber() const override;
    void InternalEdit() override;
    void InternalInsert() override;
    void InternalPost() override;
    void InternalCancel() override;
    void AfterOpenDone() override;

    // The packet to open when none is retained; a dataset without provider has none.
    virtual std::vector<std::uint8_t> FetchPacket();
    virtual bool HasProvider() const { return false; }
    // Whether closing keeps the records as a packet to open again; a dataset that is only ever
    // opened on a packet handed to it has nothing to keep.
    virtual bool KeepsDataOnClose() const { return true; }
    // Re-reads the cursor's current record into the record window.
    void FetchCurrentRecord();
    // Puts the records of `packet` in place of those of the open dataset and moves to the first,
    // keeping the field objects, when the packet has exactly the fields, parameters and kind of
    // the open data (the fields' origins and provider flags are set from the packet again).
    // Answers false, leaving the dataset as it was, when it has not, or while the dataset is
    // being edited or filtered.
    bool ReplaceRecords(const std::vector<std::uint8_t>& packet);
    void SetProviderEnd(bool v) { providerEnd_ = v; }

private:
    void BuildFieldDefs(const std::vector<dsengine::DSFLDDesc>& descs);
    void AddFieldDefs(TFieldDefs& defs, const std::vector<dsengine::DSFLDDesc>& descs, std::size_t& index,
                      int count, int& fieldNo);
    void ReadPacketOptions();
    // Sets the fields' origins and provider flags from the packet's field parameters.
    void ApplyFieldParameters();
    void ReadFieldParameters();
    bool BoolParameter(std::uint32_t fieldNo, const char* name) const;
    // Parses the filter text, then replaces the cursor's filter with it.
    void ActivateFilter(const std::string& text, TFilterOptions options);
    void DeactivateFilter();
    // The record buffer field values are read from: the edit buffer while editing, else the
    // current record; null when there is no record.
    const std::uint8_t* ReadBuffer() const;
    void ReleaseEngine();
    // Closes without keeping the records as a packet (the destructor, a load that replaces them).
    void CloseDiscarding();

    std::unique_ptr<dsengine::IDSBase> base_;
    std::unique_ptr<dsengine::IDSCursor> cursor_;
    std::unique_ptr<dsengine::IDSBase> spareBase_;  // the last open's, emptied, for the next
    std::vector<dsengine::DSFLDDesc> defsMadeFrom_;  // the descriptors FieldDefs were made from
    std::optional<std::vector<std::uint8_t>> retained_;
    std::string fileName_;
    bool readOnly_ = false;
    bool disableStringTrim_ = false;
    bool openingFromFile_ = false;
    bool retainOnClose_ = false;
    bool discardOnClose_ = false;
    // The optional parameters of each field by engine field number, as last read from the engine
    // dataset; kept while it takes packets of the same shape, read again for a new one.
    using TFieldParams = std::vector<std::pair<std::string, std::string>>;
    std::vector<TFieldParams> fieldParams_;
    bool fieldParamsKnown_ = false;
    bool providerEnd_ = false;
    bool cursorReadOnly_ = false;
    bool disableEdits_ = false;
    bool disableInserts_ = false;
    bool disableDeletes_ = false;
    bool noResetCall_ = false;
    dsengine::FilterHandle filterHandle_ = 0;

    // Record window.
    std::uint32_t recordSize_ = 0;
    std::uint32_t bookmarkSize_ = 0;
    std::vector<std::uint8_t> current_;
    std::vector<std::uint8_t> edit_;
    std::vector<std::uint8_t> bookmark_;
    bool hasCurrent_ = false;
    std::int32_t seqNo_ = -1;
    std::uint8_t updateStatus_ = 0;
    // Engine field number by field number (index FieldNo).
    std::vector<std::uint32_t> engineFieldNo_;
};

}  // namespace tarnwick
