#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/Text.h"
#include "dsengine/DSIntf.h"
#include "dsengine/Table.h"

namespace tarnwick::dsengine {

namespace detail {

namespace {

const char* GeneralText(DBResult status) {
    switch (status) {
    case DBERR_NONE: return "No error";
    case DBERR_BOF: return "At beginning of table";
    case DBERR_EOF: return "At end of table";
    case DBERR_NOCURRREC: return "No current record";
    case DBERR_RECNOTFOUND: return "Record not found";
    case DBERR_INVALIDPARAM: return "Invalid parameter";
    case DBERR_INVALIDFIELD: return "Invalid field number";
    case DBERR_INVALIDPACKET: return "Unreadable data packet";
    case DBERR_INVALIDVALUE: return "Invalid field value";
    case DBERR_READONLY: return "The dataset is read-only";
    case DBERR_NOTSUPPORTED: return "Operation not supported";
    case DBERR_INVALIDFILTER: return "Invalid filter image";
    case DBERR_INVALIDHANDLE: return "Invalid handle";
    case DBERR_NOTFOUND: return "Optional parameter not found";
    case DBERR_DELTAMISMATCH: return "The delta or error packet does not belong to this dataset";
    case DBERR_NOMEMORY: return "Insufficient memory for this operation";
    case DBERR_METADATAMISMATCH: return "The data packet's fields differ from the dataset's fields";
    case DBERR_CALLBACK: return "The reconcile callback answered an unknown action";
    default: return nullptr;
    }
}

// The engine is linked in; its one-time set-up (the lookup tables of the value forms) runs under
// the thread-safe initialisation of a function-local static, the first time a base is made.
struct EngineOnce {
    EngineOnce() {
        std::string ignored;
        DecodeBase64("AA==", ignored);
    }
};
const EngineOnce& Engine() {
    static const EngineOnce engine;
    return engine;
}

using Params = std::vector<std::pair<std::string, std::string>>;

void SetParam(Params& params, const std::string& name, const std::string& value) {
    for (auto& p : params)
        if (p.first == name) {
            p.second = value;
            return;
        }
    params.emplace_back(name, value);
}

FieldInfo ErrorColumn(const char* name, bool text) {
    FieldInfo f;
    f.name = name;
    f.desc.iFldType = text ? fldZSTRING : fldINT32;
    f.desc.iUnits1 = text ? kErrorTextWidth : 0;
    return f;
}

}  // namespace

std::string ErrorText(const ErrorState& err, DBResult status) {
    if (status == err.status && !err.text.empty()) return err.text;
    if (const char* text = GeneralText(status)) return text;
    return Format("Dataset engine error 0x%04X", status);
}

namespace {

// What a packet's dataset parameters set on the base that reads it.
void ApplyPacketSettings(Table& t) {
    for (const auto& [name, value] : t.Params())
        if (name == "READONLY" && SameTextAscii(value, "TRUE")) t.readOnly = true;
}

}  // namespace

class DSBase final : public IDSBase {
public:
    DSBase() : table_(std::make_shared<Table>()) { (void)Engine(); }
    std::shared_ptr<Table> SharedTable() const { return table_; }

    DBResult AppendData(const std::uint8_t* data, std::size_t size, bool) override {
        Table& t = *table_;
        try {
            const DBResult r = ReadPacket(t, data, size, t.error);
            if (r != DBERR_NONE) return r;
        } catch (const std::bad_alloc&) {
            t.TruncateRecords(0);
            return t.error.Fail(DBERR_NOMEMORY, "Insufficient memory to read the data packet");
        }
        ApplyPacketSettings(t);
        return DBERR_NONE;
    }

    DBResult CreateFields(const std::vector<DSFLDDesc>& descs) override {
        Table& t = *table_;
        if (t.HasFields()) return t.error.Fail(DBERR_INVALIDPARAM, "The dataset already has fields");
        if (descs.empty()) return t.error.Fail(DBERR_INVALIDPARAM, "No fields given");
        std::vector<FieldInfo> fields;
        for (const DSFLDDesc& d : descs) {
            fields.push_back(FieldFromDesc(d));
            if (const std::string problem = ValidateField(fields.back()); !problem.empty())
                return t.error.Fail(DBERR_NOTSUPPORTED, Format("Field %zu ('%s'): %s", fields.size(),
                                                               fields.back().name.c_str(), problem.c_str()));
        }
        return t.SetFields(std::move(fields), t.error);
    }

    DBResult GetFieldCount(std::uint32_t& count) override {
        count = table_->FieldCount();
        return DBERR_NONE;
    }

    DBResult GetFieldDescs(std::vector<DSFLDDesc>& descs) override {
        descs.clear();
        descs.reserve(table_->Fields().size());
        for (const FieldInfo& f : table_->Fields()) descs.push_back(f.desc);
        return DBERR_NONE;
    }

    DBResult GetProp(std::uint32_t prop, std::uint32_t& value) override {
        const Table& t = *table_;
        switch (prop) {
        case basepropREADONLY: value = t.readOnly; return DBERR_NONE;
        case basepropLOGCHANGES: value = t.logChanges; return DBERR_NONE;
        case basepropEXPANDARRAYS: value = t.expandArrays; return DBERR_NONE;
        case basepropXMLMODE: value = t.xmlMode; return DBERR_NONE;
        case basepropKEEPTRAILINGBLANKS: value = t.keepTrailingBlanks; return DBERR_NONE;
        case basepropCHANGESMADE: value = t.changesMade; return DBERR_NONE;
        case basepropCHANGECOUNT: value = static_cast<std::uint32_t>(t.ChangeLog().size()); return DBERR_NONE;
        case basepropRECORDCOUNT: value = static_cast<std::uint32_t>(t.Order().size()); return DBERR_NONE;
        case basepropFIELDCOUNT: value = t.FieldCount(); return DBERR_NONE;
        default: return table_->error.Fail(DBERR_NOTSUPPORTED, Format("Base property %u is not known", prop));
        }
    }

    DBResult SetProp(std::uint32_t prop, std::uint32_t value) override {
        Table& t = *table_;
        switch (prop) {
        case basepropREADONLY: t.readOnly = value != 0; return DBERR_NONE;
        case basepropLOGCHANGES: t.logChanges = value != 0; return DBERR_NONE;
        case basepropEXPANDARRAYS: t.expandArrays = value != 0; return DBERR_NONE;
        case basepropKEEPTRAILINGBLANKS: t.keepTrailingBlanks = value != 0; return DBERR_NONE;
        case basepropCHANGESMADE: t.changesMade = value != 0; return DBERR_NONE;
        case basepropXMLMODE:
            if (value != xmlmodeBINARY && value != xmlmodeXML && value != xmlmodeXMLUTF8)
                return t.error.Fail(DBERR_INVALIDPARAM, Format("Packet form %u is not known", value));
            t.xmlMode = value;
            return DBERR_NONE;
        default:
            return t.error.Fail(DBERR_NOTSUPPORTED, Format("Base property %u cannot be set", prop));
        }
    }

    DBResult GetOptParameter(std::uint32_t fieldNo, std::string_view name, std::string& value) override {
        Params* params = ParamsOf(fieldNo);
        if (!params) return DBERR_INVALIDFIELD;
        for (const auto& p : *params)
            if (p.first == name) {
                value = p.second;
                return DBERR_NONE;
            }
        // Asking for an absent parameter is routine (most fields carry few of them): the text
        // is written into the kept one, which needs no new allocation once it is large enough.
        ErrorState& error = table_->error;
        error.status = DBERR_NOTFOUND;
        error.text.assign("Optional parameter '").append(name).append("' is absent");
        return DBERR_NOTFOUND;
    }

    DBResult AddOptParameter(std::uint32_t fieldNo, const std::string& name, const std::string& value) override {
        Params* params = ParamsOf(fieldNo);
        if (!params) return DBERR_INVALIDFIELD;
        Params others;
        for (const auto& p : *params)
            if (p.first != name) others.push_back(p);
        if (const std::string problem = ValidateParamName(others, name, fieldNo != 0); !problem.empty())
            return table_->error.Fail(DBERR_INVALIDPARAM, "Optional " + problem);
        SetParam(*params, name, value);
        return DBERR_NONE;
    }

    DBResult GetOptParameterNames(std::uint32_t fieldNo, std::vector<std::string>& names) override {
        Params* params = ParamsOf(fieldNo);
        if (!params) return DBERR_INVALIDFIELD;
        names.clear();
        for (const auto& p : *params) names.push_back(p.first);
        return DBERR_NONE;
    }

    DBResult StreamDS(std::vector<std::uint8_t>& packet) override {
        return Guarded(table_->error, [&]() -> DBResult {
            Table& t = *table_;
            if (!t.HasFields()) return t.error.Fail(DBERR_INVALIDPARAM, "The dataset has no fields to write");
            WritePacket(TableContent(t), t.xmlMode, packet);
            return DBERR_NONE;
        });
    }

    DBResult GetDelta(std::vector<std::uint8_t>& delta) override;
    DBResult CreateEmptyCopy(std::uint32_t mode, std::unique_ptr<IDSBase>& copy) override;

    DBResult AcceptChanges() override {
        table_->AcceptChanges();
        return DBERR_NONE;
    }

    DBResult Reconcile(IDSBase* reconcileBase, const std::vector<std::uint8_t>& delta,
                       const std::vector<std::uint8_t>& errors, void* clientData,
                       ReconcileCallback callback) override;

    DBResult Reset() override {
        table_->Reset();
        return DBERR_NONE;
    }

    DBResult Recycle() override {
        Table& t = *table_;
        t.Reset();
        t.logChanges = true;
        t.changesMade = false;
        t.readOnly = false;
        t.keepTrailingBlanks = false;
        t.expandArrays = false;
        t.xmlMode = xmlmodeBINARY;
        return DBERR_NONE;
    }

    DBResult ReplaceData(const std::uint8_t* data, std::size_t size, bool& replaced) override {
        Table& t = *table_;
        try {
            const DBResult r = ReplaceRowsOfSameShape(t, data, size, replaced, t.error);
            if (r == DBERR_NONE && replaced) ApplyPacketSettings(t);
            return r;
        } catch (const std::bad_alloc&) {
            t.Reset();
            return t.error.Fail(DBERR_NOMEMORY, "Insufficient memory to read the data packet");
        }
    }


    DBResult ReleaseBlobs() override { return DBERR_NONE; }

    DBResult GetErrorString(DBResult status, std::string& text) override {
        text = ErrorText(table_->error, status);
        return DBERR_NONE;
    }

private:
    Params* ParamsOf(std::uint32_t fieldNo) {
        if (fieldNo == 0) return &table_->Params();
        if (CheckFieldNo(*table_, fieldNo, table_->error) != DBERR_NONE) return nullptr;
        return &table_->FieldParams(fieldNo - 1);
    }

    std::shared_ptr<Table> table_;
};

DBResult DSBase::GetDelta(std::vector<std::uint8_t>& delta) {
        return Guarded(table_->error, [&]() -> DBResult {
        Table& t = *table_;
        if (!t.HasFields()) return t.error.Fail(DBERR_INVALIDPARAM, "The dataset has no fields");
        PacketContent content;
        content.table = &t;
        content.delta = true;
        content.withRowState = true;
        std::vector<std::uint32_t> rowIds;
        std::vector<std::uint8_t> newer(t.RecordSize()), older(t.RecordSize());
        for (const std::uint32_t id : t.ChangedRecords()) {
            const Record& rec = t.Records()[id];
            if (rec.status == dsRecModified && rec.original) {
                // New values with every field that kept its old value marked as not changed.
                t.Expand(rec.current, newer.data());
                t.Expand(rec.original, older.data());
                for (std::uint32_t i = 0; i < t.FieldCount(); ++i)
                    if (SameFieldValue(t, newer.data(), older.data(), i))
                        newer[t.Fields()[i].desc.iNullOffsInRec] = BLANK_NOTCHANGED;
                content.rows.push_back({rec.original, dsRecUnmodified});
                content.rows.push_back({t.Compact(newer.data()), dsRecModified});
                rowIds.push_back(id);
                rowIds.push_back(id);
            } else if (rec.status == dsRecNew || rec.status == dsRecDeleted) {
                content.rows.push_back({rec.current, rec.status});
                rowIds.push_back(id);
            }
        }
        WritePacket(content, t.xmlMode, delta);
        t.lastDeltaRows = std::move(rowIds);
        t.lastDelta = delta;
        return DBERR_NONE;
    });
        }

    DBResult DSBase::CreateEmptyCopy(std::uint32_t mode, std::unique_ptr<IDSBase>& copy) {
            return Guarded(table_->error, [&]() -> DBResult {
        Table& t = *table_;
        if (mode != copymodeSAMEFIELDS && mode != copymodeERRORPACKET)
            return t.error.Fail(DBERR_INVALIDPARAM, Format("Copy mode %u is not known", mode));
        if (!t.HasFields()) return t.error.Fail(DBERR_INVALIDPARAM, "The dataset has no fields to copy");
        auto out = std::make_unique<DSBase>();
        Table& c = *out->table_;
        std::vector<FieldInfo> fields;
        if (mode == copymodeERRORPACKET)
            for (int k = 0; k < 6; ++k) fields.push_back(ErrorColumn(kErrorColumnNames[k], k == 2 || k == 3));
        for (const FieldInfo& f : t.Fields()) {
            FieldInfo g = f;
            if (mode == copymodeERRORPACKET) g.desc.iFldAttr &= ~(fldAttrREQUIRED | fldAttrREADONLY);
            fields.push_back(std::move(g));
        }
        if (const DBResult r = c.SetFields(std::move(fields), c.error)) return t.error.Fail(r, c.error.text);
        for (const auto& p : t.Params())
            if (p.first != kDeltaParam) c.Params().push_back(p);
        c.keepTrailingBlanks = t.keepTrailingBlanks;
        c.xmlMode = t.xmlMode;
        copy = std::move(out);
        return DBERR_NONE;
    });
        }

    DBResult DSBase::Reconcile(IDSBase* reconcileBase, const std::vector<std::uint8_t>& delta,
                               const std::vector<std::uint8_t>& errors, void* clientData,
                               ReconcileCallback callback) {
            return Guarded(table_->error, [&]() -> DBResult {
        Table& t = *table_;
        if (t.lastDelta.empty() || delta != t.lastDelta)
            return t.error.Fail(DBERR_DELTAMISMATCH, "The delta is not the last delta taken from this dataset");
        if (errors.empty()) {
            t.AcceptChanges();
            return DBERR_NONE;
        }
        if (callback == nullptr) return t.error.Fail(DBERR_INVALIDPARAM, "No reconcile callback");
        if (reconcileBase) {
            std::shared_ptr<Table> rt = TableOf(reconcileBase);
            if (!rt || rt->RecordSize() != t.RecordSize() || rt->FieldCount() != t.FieldCount())
                return t.error.Fail(DBERR_DELTAMISMATCH, "The reconcile dataset's fields differ from the dataset's fields");
        }
        Table errTable;
        if (const DBResult r = ReadPacket(errTable, errors.data(), errors.size(), errTable.error))
            return t.error.Fail(r, "Error packet: " + errTable.error.text);
        std::int32_t col[6];
        for (int k = 0; k < 6; ++k)
            if ((col[k] = errTable.FindField(kErrorColumnNames[k])) < 0)
                return t.error.Fail(DBERR_DELTAMISMATCH,
                                    Format("The error packet has no column %s", kErrorColumnNames[k]));
        std::vector<std::uint8_t> errBuf(errTable.RecordSize());
        auto intAt = [&](int k) -> std::int32_t {
            const FieldInfo& f = errTable.Fields()[static_cast<std::size_t>(col[k])];
            if (errBuf[f.desc.iNullOffsInRec] != BLANK_NONE || f.desc.iFldType != fldINT32) return 0;
            std::int32_t v;
            std::memcpy(&v, errBuf.data() + f.desc.iFldOffsInRec, 4);
            return v;
        };
        auto textAt = [&](int k) -> std::string {
            const FieldInfo& f = errTable.Fields()[static_cast<std::size_t>(col[k])];
            if (errBuf[f.desc.iNullOffsInRec] != BLANK_NONE || f.storage != Storage::String) return {};
            return reinterpret_cast<const char*>(errBuf.data() + f.desc.iFldOffsInRec);
        };
        // The apply answered abort for a row: its transaction was rolled back, nothing was written.
        bool rolledBack = false;
        for (const std::uint32_t id : errTable.Order()) {
            errTable.Expand(errTable.Records()[id].current, errBuf.data());
            if (intAt(1) == 2) rolledBack = true;
        }
        std::vector<bool> failed(t.Records().size());
        std::vector<std::uint8_t> updated(t.RecordSize()), old(t.RecordSize()), conflict(t.RecordSize());
        DBResult result = DBERR_NONE;
        bool stop = false;
        for (const std::uint32_t errId : errTable.Order()) {
            errTable.Expand(errTable.Records()[errId].current, errBuf.data());
            const std::int32_t recNo = intAt(0);
            if (recNo < 1 || static_cast<std::size_t>(recNo) > t.lastDeltaRows.size()) {
                result = t.error.Fail(DBERR_DELTAMISMATCH, Format("ERROR_RECORDNO %d names no delta row", recNo));
                continue;
            }
            const std::uint32_t id = t.lastDeltaRows[static_cast<std::size_t>(recNo - 1)];
            failed[id] = true;
            if (stop) continue;
            const Record& rec = t.Records()[id];
            t.Expand(rec.current, updated.data());
            const bool hasOld = rec.status != dsRecNew;
            if (hasOld) t.Expand(rec.original ? rec.original : rec.current, old.data());
            // Conflict values: the error row's fields of the same names.
            InitRecordBuffer(t, conflict.data());
            for (std::uint32_t i = 0; i < t.FieldCount(); ++i) {
                const FieldInfo& f = t.Fields()[i];
                const std::int32_t e = errTable.FindField(f.name);
                if (e < 0 || e == col[0] || e == col[1] || e == col[2] || e == col[3] || e == col[4] || e == col[5]) continue;
                const FieldInfo& g = errTable.Fields()[static_cast<std::size_t>(e)];
                if (g.desc.iFldType != f.desc.iFldType || g.desc.iFldLen != f.desc.iFldLen) continue;
                conflict[f.desc.iNullOffsInRec] = errBuf[g.desc.iNullOffsInRec];
                std::memcpy(conflict.data() + f.desc.iFldOffsInRec, errBuf.data() + g.desc.iFldOffsInRec,
                            static_cast<std::size_t>(f.desc.iFldLen));
            }
            const std::string message = textAt(2), context = textAt(3);
            const std::uint32_t action = callback(clientData, 0, rec.status, intAt(1), intAt(5), message.c_str(),
                                                  context.c_str(), updated.data(), hasOld ? old.data() : nullptr,
                                                  conflict.data(), 0, nullptr);
            switch (action) {
            case 1: case 3: case 4: case 6: break;   // skip, merge, correct, refresh: the change stays
            case 2: stop = true; break;              // abort: the change stays, no further calls
            case 5: t.Revert(id); break;             // cancel: the change is undone
            default:
                stop = true;
                result = t.error.Fail(DBERR_CALLBACK, Format("The reconcile callback answered %u", action));
            }
        }
        if (!rolledBack)
            for (const std::uint32_t id : t.ChangedRecords())
                if (!failed[id]) t.AcceptRecord(id);
        t.lastDelta.clear();
        t.lastDeltaRows.clear();
        t.Touch();
        return result;
    });
        }

    std::shared_ptr<Table> TableOf(IDSBase* base) {
        auto* impl = dynamic_cast<DSBase*>(base);
        return impl ? impl->SharedTable() : nullptr;
    }

    }  // namespace detail

    DBResult CreateDSBase(std::unique_ptr<IDSBase>& base) {
        try {
            base = std::make_unique<detail::DSBase>();
            return DBERR_NONE;
        } catch (const std::bad_alloc&) {
            return DBERR_NOMEMORY;
        }
    }

    }  // namespace tarnwick::dsengine
