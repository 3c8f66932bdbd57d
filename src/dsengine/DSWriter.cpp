#include <cstring>

#include "base/Text.h"
#include "dsengine/DSIntf.h"
#include "dsengine/Table.h"

namespace tarnwick::dsengine {

namespace detail {

std::string ErrorText(const ErrorState& err, DBResult status);

namespace {

// Collects fields and parameters, then rows in a record buffer of its own; the packet is written
// from the table it fills, so a written packet reads back like any other.
class DSWriter final : public IDSWriter {
public:
    DBResult AddField(const DSFLDDesc& desc) override {
        if (table_.HasFields()) return Fail(DBERR_INVALIDPARAM, "Fields are added before the first row");
        FieldInfo f = FieldFromDesc(desc);
        if (const std::string problem = ValidateField(f); !problem.empty())
            return Fail(DBERR_NOTSUPPORTED, Format("Field %zu ('%s'): %s", pending_.size() + 1, f.name.c_str(),
                                                   problem.c_str()));
        pending_.push_back(std::move(f));
        return DBERR_NONE;
    }

    DBResult AddOptParameter(std::uint32_t fieldNo, const std::string& name, const std::string& value) override {
        if (name.empty()) return Fail(DBERR_INVALIDPARAM, "Optional parameter without a name");
        std::vector<std::pair<std::string, std::string>>* params = nullptr;
        if (fieldNo == 0) params = table_.HasFields() ? &table_.Params() : &pendingParams_;
        else if (!table_.HasFields() && fieldNo <= pending_.size()) params = &pending_[fieldNo - 1].params;
        else if (table_.HasFields() && fieldNo <= table_.FieldCount()) params = &table_.FieldParams(fieldNo - 1);
        if (!params) return Fail(DBERR_INVALIDFIELD, Format("Field number %u is not known", fieldNo));
        std::vector<std::pair<std::string, std::string>> others;
        for (const auto& p : *params)
            if (p.first != name) others.push_back(p);
        if (const std::string problem = ValidateParamName(others, name, fieldNo != 0); !problem.empty())
            return Fail(DBERR_INVALIDPARAM, "Optional " + problem);
        for (auto& p : *params)
            if (p.first == name) {
                p.second = value;
                return DBERR_NONE;
            }
        params->emplace_back(name, value);
        return DBERR_NONE;
    }

    DBResult SetProp(std::uint32_t prop, std::uint32_t value) override {
        if (prop == basepropKEEPTRAILINGBLANKS) {
            table_.keepTrailingBlanks = value != 0;
            return DBERR_NONE;
        }
        if (prop != basepropXMLMODE) return Fail(DBERR_NOTSUPPORTED, Format("Writer property %u is not known", prop));
        if (value != xmlmodeBINARY && value != xmlmodeXML && value != xmlmodeXMLUTF8)
            return Fail(DBERR_INVALIDPARAM, Format("Packet form %u is not known", value));
        table_.xmlMode = value;
        return DBERR_NONE;
    }

    DBResult InitRow() override {
        if (const DBResult r = Fix()) return r;
        InitRecordBuffer(table_, row_.data());
        rowOpen_ = true;
        return DBERR_NONE;
    }

    DBResult PutField(std::uint32_t fieldNo, const void* value) override {
        if (!rowOpen_) return Fail(DBERR_INVALIDPARAM, "PutField before InitRow");
        return PutFieldValue(table_, row_.data(), fieldNo, value, table_.error);
    }

    DBResult PutBlob(std::uint32_t fieldNo, const void* data, std::uint32_t length) override {
        return Guarded(table_.error, [&]() -> DBResult {
            if (!rowOpen_) return Fail(DBERR_INVALIDPARAM, "PutBlob before InitRow");
            return PutBlobValue(table_, row_.data(), fieldNo, 0, data, length, table_.error);
        });
    }

    DBResult PostRow() override {
        return Guarded(table_.error, [&]() -> DBResult {
            if (!rowOpen_) return Fail(DBERR_INVALIDPARAM, "PostRow before InitRow");
            table_.AddLoadedRecord(table_.Compact(row_.data()), nullptr, dsRecUnmodified, false);
            rowOpen_ = false;
            return DBERR_NONE;
        });
    }

    DBResult GetPacket(std::vector<std::uint8_t>& packet) override {
        return Guarded(table_.error, [&]() -> DBResult {
            if (const DBResult r = Fix()) return r;
            table_.Touch();
            WritePacket(TableContent(table_), table_.xmlMode, packet);
            return DBERR_NONE;
        });
    }

    DBResult Reset() override {
        const std::uint32_t mode = table_.xmlMode;
        table_.ClearAll();
        table_.xmlMode = mode;
        pending_.clear();
        pendingParams_.clear();
        rowOpen_ = false;
        return DBERR_NONE;
    }

    DBResult ResetRows() override {
        table_.Reset();
        rowOpen_ = false;
        return DBERR_NONE;
    }

    DBResult GetErrorString(DBResult status, std::string& text) override {
        text = ErrorText(table_.error, status);
        return DBERR_NONE;
    }

private:
    DBResult Fail(DBResult status, std::string text) { return table_.error.Fail(status, std::move(text)); }

    // The fields are fixed by the first row (or the packet, for a packet without rows).
    DBResult Fix() {
        if (table_.HasFields()) return DBERR_NONE;
        if (pending_.empty()) return Fail(DBERR_INVALIDPARAM, "No fields were added");
        if (const DBResult r = table_.SetFields(std::move(pending_), table_.error)) return r;
        table_.Params() = std::move(pendingParams_);
        pending_.clear();
        pendingParams_.clear();
        row_.assign(table_.RecordSize(), 0);
        return DBERR_NONE;
    }

    Table table_;
    std::vector<FieldInfo> pending_;
    std::vector<std::pair<std::string, std::string>> pendingParams_;
    std::vector<std::uint8_t> row_;
    bool rowOpen_ = false;
};

}  // namespace

}  // namespace detail

DBResult CreateDSWriter(std::unique_ptr<IDSWriter>& writer) {
    try {
        writer = std::make_unique<detail::DSWriter>();
        return DBERR_NONE;
    } catch (const std::bad_alloc&) {
        return DBERR_NOMEMORY;
    }
}

}  // namespace tarnwick::dsengine
