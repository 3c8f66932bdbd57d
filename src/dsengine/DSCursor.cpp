#include <algorithm>
#include <cstring>

#include "base/Text.h"
#include "dsengine/DSIntf.h"
#include "dsengine/Table.h"

namespace tarnwick::dsengine {

namespace detail {

std::string ErrorText(const ErrorState& err, DBResult status);

namespace {

constexpr std::uint32_t kBookmarkSize = 8;  // uint32 record id, uint32 reserved

// A view on a table: the records of its order that pass every filter, rebuilt when the table or
// the filters change. The position is kept by record id so that it survives a rebuild.
class DSCursor final : public IDSCursor {
public:
    DBResult InitCursor(IDSBase* base) override {
        std::shared_ptr<Table> table = TableOf(base);
        if (!table) return DBERR_INVALIDHANDLE;
        table_ = std::move(table);
        filters_.clear();
        Invalidate();
        state_ = Position::Bof;
        return DBERR_NONE;
    }

    DBResult GetProp(std::uint32_t prop, std::uint32_t& value) override {
        if (!table_) return DBERR_INVALIDHANDLE;
        switch (prop) {
        case curpropRECORDSIZE: value = table_->RecordSize(); return DBERR_NONE;
        case curpropGETORGVALUES: value = getOriginal_; return DBERR_NONE;
        case curpropBOOKMARKSIZE: value = kBookmarkSize; return DBERR_NONE;
        case curpropREADONLY: value = table_->readOnly; return DBERR_NONE;
        default: return Fail(DBERR_NOTSUPPORTED, Format("Cursor property %u is not known", prop));
        }
    }

    DBResult SetProp(std::uint32_t prop, std::uint32_t value) override {
        if (!table_) return DBERR_INVALIDHANDLE;
        if (prop != curpropGETORGVALUES)
            return Fail(DBERR_NOTSUPPORTED, Format("Cursor property %u cannot be set", prop));
        getOriginal_ = value != 0;
        return DBERR_NONE;
    }

    DBResult MoveToBOF() override {
        if (!table_) return DBERR_INVALIDHANDLE;
        state_ = Position::Bof;
        return DBERR_NONE;
    }

    DBResult MoveToEOF() override {
        if (!table_) return DBERR_INVALIDHANDLE;
        state_ = Position::Eof;
        return DBERR_NONE;
    }

    DBResult MoveRelative(std::int32_t offset) override {
        return Guarded(ErrorOf(), [&]() -> DBResult {
            if (!table_) return DBERR_INVALIDHANDLE;
            const auto& view = Sync();
            const auto size = static_cast<std::int64_t>(view.size());
            std::int64_t at = state_ == Position::Bof ? -1 : state_ == Position::Eof ? size : index_;
            at += offset;
            if (at < 0) {
                state_ = Position::Bof;
                return DBERR_BOF;
            }
            if (at >= size) {
                state_ = Position::Eof;
                return DBERR_EOF;
            }
            SetOn(view, static_cast<std::size_t>(at));
            return DBERR_NONE;
        });
    }

    DBResult MoveToSeqNo(std::uint32_t seqNo) override {
        return Guarded(ErrorOf(), [&]() -> DBResult {
            if (!table_) return DBERR_INVALIDHANDLE;
            const auto& view = Sync();
            if (seqNo == 0) {
                state_ = Position::Bof;
                return DBERR_BOF;
            }
            if (seqNo > view.size()) {
                state_ = Position::Eof;
                return DBERR_EOF;
            }
            SetOn(view, seqNo - 1);
            return DBERR_NONE;
        });
    }

    DBResult MoveToBookmark(const std::uint8_t* bookmark) override {
        if (!table_) return DBERR_INVALIDHANDLE;
        if (!bookmark) return Fail(DBERR_INVALIDPARAM, "No bookmark");
        std::uint32_t id;
        std::memcpy(&id, bookmark, 4);
        const auto& view = Sync();
        const auto found = std::find(view.begin(), view.end(), id);
        if (found == view.end()) return Fail(DBERR_RECNOTFOUND, "The bookmark names no record of the view");
        SetOn(view, static_cast<std::size_t>(found - view.begin()));
        return DBERR_NONE;
    }

    DBResult GetCurrentRecord(std::uint8_t* recBuf) override {
        if (const DBResult r = Current()) return r;
        if (!recBuf) return Fail(DBERR_INVALIDPARAM, "No record buffer");
        const Record& rec = table_->Records()[id_];
        table_->Expand(getOriginal_ && rec.original ? rec.original : rec.current, recBuf);
        return DBERR_NONE;
    }

    DBResult GetSequenceNumber(std::uint32_t& seqNo) override {
        seqNo = 0;
        if (const DBResult r = Current()) return r;
        seqNo = static_cast<std::uint32_t>(index_ + 1);
        return DBERR_NONE;
    }

    DBResult GetRecordAttribute(std::uint8_t& updateStatus) override {
        updateStatus = dsRecUnmodified;
        if (const DBResult r = Current()) return r;
        updateStatus = table_->Records()[id_].status;
        return DBERR_NONE;
    }

    DBResult GetCurrentBookmark(std::uint8_t* bookmark) override {
        if (const DBResult r = Current()) return r;
        if (!bookmark) return Fail(DBERR_INVALIDPARAM, "No bookmark buffer");
        const std::uint32_t words[2] = {id_, 0};
        std::memcpy(bookmark, words, kBookmarkSize);
        return DBERR_NONE;
    }

    DBResult GetRecordCount(std::uint32_t& count) override {
        return Guarded(ErrorOf(), [&]() -> DBResult {
            count = 0;
            if (!table_) return DBERR_INVALIDHANDLE;
            count = static_cast<std::uint32_t>(Sync().size());
            return DBERR_NONE;
        });
    }

    DBResult AddFilter(const std::uint8_t* image, std::size_t size, FilterHandle& handle) override {
        return Guarded(ErrorOf(), [&]() -> DBResult {
            handle = 0;
            if (!table_) return DBERR_INVALIDHANDLE;
            FilterProgramPtr program;
            if (const DBResult r = CompileFilter(*table_, image, size, program, table_->error)) return r;
            handle = nextHandle_++;
            filters_.push_back({handle, std::move(program)});
            Invalidate();
            return DBERR_NONE;
        });
    }

    DBResult DropFilter(FilterHandle handle) override {
        if (!table_) return DBERR_INVALIDHANDLE;
        const auto found = std::find_if(filters_.begin(), filters_.end(),
                                        [handle](const auto& f) { return f.handle == handle; });
        if (found == filters_.end()) return Fail(DBERR_INVALIDHANDLE, Format("No filter with handle %u", handle));
        filters_.erase(found);
        Invalidate();
        return DBERR_NONE;
    }

    DBResult GetField(const std::uint8_t* recBuf, std::uint32_t fieldNo, void* value,
                      std::uint32_t& blank) override {
        if (!table_) return DBERR_INVALIDHANDLE;
        return GetFieldValue(*table_, recBuf, fieldNo, value, blank, table_->error);
    }

    DBResult VerifyField(std::uint32_t fieldNo, const void* value) override {
        if (!table_) return DBERR_INVALIDHANDLE;
        if (const DBResult r = CheckFieldNo(*table_, fieldNo, table_->error)) return r;
        const FieldInfo& f = table_->Fields()[fieldNo - 1];
        const std::string problem = VerifyValue(f, value);
        if (problem.empty()) return DBERR_NONE;
        return Fail(DBERR_INVALIDVALUE, Format("Field '%s': %s", f.name.c_str(), problem.c_str()));
    }

    DBResult PutField(std::uint8_t* recBuf, std::uint32_t fieldNo, const void* value) override {
        if (!table_) return DBERR_INVALIDHANDLE;
        return PutFieldValue(*table_, recBuf, fieldNo, value, table_->error);
    }

    DBResult PutBlank(std::uint8_t* recBuf, std::uint32_t fieldNo, std::uint32_t blank) override {
        if (!table_) return DBERR_INVALIDHANDLE;
        if (const DBResult r = CheckFieldNo(*table_, fieldNo, table_->error)) return r;
        if (!recBuf || blank > BLANK_NOTCHANGED) return Fail(DBERR_INVALIDPARAM, Format("Blank kind %u", blank));
        if (blank == BLANK_NONE) return Fail(DBERR_INVALIDPARAM, "A value is put with PutField");
        return blank == BLANK_NULL ? PutFieldValue(*table_, recBuf, fieldNo, nullptr, table_->error)
                                   : SetState(recBuf, fieldNo, BLANK_NOTCHANGED);
    }

    DBResult GetBlobLen(const std::uint8_t* recBuf, std::uint32_t fieldNo, std::uint32_t& length) override {
        length = 0;
        BlobRef ref{};
        if (const DBResult r = Blob(recBuf, fieldNo, ref)) return r;
        length = ref.length;
        return DBERR_NONE;
    }

    DBResult GetBlob(const std::uint8_t* recBuf, std::uint32_t fieldNo, std::uint32_t offset, void* dest,
                     std::uint32_t& length) override {
        BlobRef ref{};
        if (const DBResult r = Blob(recBuf, fieldNo, ref)) {
            length = 0;
            return r;
        }
        const std::uint32_t available = offset < ref.length ? ref.length - offset : 0;
        length = std::min(length, available);
        if (length > 0) {
            if (!dest) return Fail(DBERR_INVALIDPARAM, "No buffer for the blob");
            std::memcpy(dest, ref.data + offset, length);
        }
        return DBERR_NONE;
    }

    DBResult PutBlob(std::uint8_t* recBuf, std::uint32_t fieldNo, std::uint32_t offset, const void* src,
                     std::uint32_t length) override {
        return Guarded(ErrorOf(), [&]() -> DBResult {
            if (!table_) return DBERR_INVALIDHANDLE;
            return PutBlobValue(*table_, recBuf, fieldNo, offset, src, length, table_->error);
        });
    }

    DBResult InitRecord(std::uint8_t* recBuf) override {
        if (!table_) return DBERR_INVALIDHANDLE;
        if (!recBuf) return Fail(DBERR_INVALIDPARAM, "No record buffer");
        InitRecordBuffer(*table_, recBuf);
        return DBERR_NONE;
    }

    DBResult InsertRecord(const std::uint8_t* recBuf) override {
        return Guarded(ErrorOf(), [&]() -> DBResult {
            if (const DBResult r = Writable(recBuf)) return r;
            const auto& view = Sync();
            std::size_t orderPos = table_->Order().size();
            if (state_ == Position::On && index_ < view.size()) {
                const auto& order = table_->Order();
                orderPos = static_cast<std::size_t>(std::find(order.begin(), order.end(), id_) - order.begin());
            }
            const std::uint32_t id = table_->InsertAt(orderPos, table_->Compact(recBuf));
            state_ = Position::On;
            id_ = id;
            return DBERR_NONE;
        });
    }

    DBResult ModifyRecord(const std::uint8_t* recBuf) override {
        return Guarded(ErrorOf(), [&]() -> DBResult {
            if (const DBResult r = Writable(recBuf)) return r;
            if (const DBResult r = Current()) return r;
            table_->Modify(id_, table_->Compact(recBuf));
            return DBERR_NONE;
        });
    }

    DBResult DeleteRecord() override {
        return Guarded(ErrorOf(), [&]() -> DBResult {
            if (const DBResult r = Writable(nullptr, false)) return r;
            if (const DBResult r = Current()) return r;
            const std::size_t at = index_;
            table_->Delete(id_);
            const auto& view = Sync(true);
            if (view.empty()) state_ = Position::Bof;
            else SetOn(view, std::min(at, view.size() - 1));
            return DBERR_NONE;
        });
    }

private:
    enum class Position { Bof, On, Eof };
    struct Filter {
        FilterHandle handle;
        FilterProgramPtr program;
    };

    DBResult Fail(DBResult status, std::string text) {
        if (!table_) return status;
        return table_->error.Fail(status, std::move(text));
    }

    void Invalidate() { viewVersion_ = 0; }

    ErrorState& ErrorOf() {
        static thread_local ErrorState detached;
        return table_ ? table_->error : detached;
    }

    void SetOn(const std::vector<std::uint32_t>& view, std::size_t at) {
        state_ = Position::On;
        index_ = at;
        id_ = view[at];
    }

    // The view for the table as it is now; the position follows its record. `keepIndex`: the
    // current record is gone, keep the index where it stood.
    const std::vector<std::uint32_t>& Sync(bool keepIndex = false) {
        const std::vector<std::uint32_t>& view = filters_.empty() ? table_->Order() : view_;
        if (viewVersion_ == table_->Version()) return view;
        if (!filters_.empty()) Rebuild();
        viewVersion_ = table_->Version();
        if (state_ != Position::On || keepIndex) return view;
        if (index_ < view.size() && view[index_] == id_) return view;
        const auto found = std::find(view.begin(), view.end(), id_);
        if (found != view.end()) {
            index_ = static_cast<std::size_t>(found - view.begin());
        } else if (index_ < view.size()) {
            id_ = view[index_];  // the record left the view: the one now in its place is current
        } else {
            state_ = Position::Eof;
        }
        return view;
    }

    void Rebuild() {
        view_.clear();
        std::uint32_t field;
        std::string key;
        if (filters_.size() == 1 && FilterEqualityKey(*filters_[0].program, field, key)) {
            if (const auto* matches = table_->EqualityMatches(field, key)) {
                view_.assign(matches->begin(), matches->end());
                return;
            }
        }
        const auto& records = table_->Records();
        for (const std::uint32_t id : table_->Order()) {
            const std::uint8_t* row = records[id].current;
            bool pass = true;
            for (const Filter& f : filters_)
                if (!FilterPasses(*f.program, *table_, row)) {
                    pass = false;
                    break;
                }
            if (pass) view_.push_back(id);
        }
    }

    DBResult Current() {
        if (!table_) return DBERR_INVALIDHANDLE;
        Sync();
        if (state_ == Position::Bof) return DBERR_BOF;
        if (state_ == Position::Eof) return DBERR_EOF;
        return DBERR_NONE;
    }

    DBResult Writable(const std::uint8_t* recBuf, bool needBuffer = true) {
        if (!table_) return DBERR_INVALIDHANDLE;
        if (table_->readOnly) return Fail(DBERR_READONLY, "The dataset is read-only");
        if (needBuffer && !recBuf) return Fail(DBERR_INVALIDPARAM, "No record buffer");
        if (!table_->HasFields()) return Fail(DBERR_INVALIDPARAM, "The dataset has no fields");
        return DBERR_NONE;
    }

    DBResult Blob(const std::uint8_t* recBuf, std::uint32_t fieldNo, BlobRef& ref) {
        if (!table_) return DBERR_INVALIDHANDLE;
        if (const DBResult r = CheckFieldNo(*table_, fieldNo, table_->error)) return r;
        const FieldInfo& f = table_->Fields()[fieldNo - 1];
        if (!f.IsBlob()) return Fail(DBERR_INVALIDPARAM, Format("Field '%s' is no blob", f.name.c_str()));
        if (!recBuf) return Fail(DBERR_INVALIDPARAM, "No record buffer");
        ref = BlobRef{nullptr, 0, 0};
        if (recBuf[f.desc.iNullOffsInRec] == BLANK_NONE) std::memcpy(&ref, recBuf + f.desc.iFldOffsInRec, sizeof ref);
        return DBERR_NONE;
    }

    DBResult SetState(std::uint8_t* recBuf, std::uint32_t fieldNo, std::uint8_t state) {
        const FieldInfo& f = table_->Fields()[fieldNo - 1];
        std::memset(recBuf + f.desc.iFldOffsInRec, 0, static_cast<std::size_t>(f.desc.iFldLen));
        recBuf[f.desc.iNullOffsInRec] = state;
        return DBERR_NONE;
    }

    std::shared_ptr<Table> table_;
    std::vector<Filter> filters_;
    FilterHandle nextHandle_ = 1;
    std::vector<std::uint32_t> view_;
    std::uint64_t viewVersion_ = 0;
    Position state_ = Position::Bof;
    std::size_t index_ = 0;
    std::uint32_t id_ = 0;
    bool getOriginal_ = false;
};

}  // namespace

}  // namespace detail

DBResult CreateDSCursor(std::unique_ptr<IDSCursor>& cursor) {
    try {
        cursor = std::make_unique<detail::DSCursor>();
        return DBERR_NONE;
    } catch (const std::bad_alloc&) {
        return DBERR_NOMEMORY;
    }
}

}  // namespace tarnwick::dsengine
