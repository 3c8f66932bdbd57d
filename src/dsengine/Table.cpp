#include "dsengine/Table.h"

#include <algorithm>
#include <cstring>

#include "base/Text.h"

namespace tarnwick::dsengine::detail {

namespace {

// Blocks start small, since most bases hold a handful of rows (a command dataset holds one), and
// double up to 1 MB, so a large packet still lives in few blocks.
constexpr std::size_t kFirstBlockSize = 8u << 10;
constexpr std::size_t kBlockSize = 1u << 20;
constexpr std::int32_t kMaxWidth = 1 << 20;

void PutU32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }
std::uint32_t GetU32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
std::uint16_t GetU16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

}  // namespace

std::uint8_t* Arena::Allocate(std::size_t size) {
    if (size == 0) size = 1;
    if (size > left_) {
        if (size > kBlockSize / 4) {
            // A large value gets a block of its own; the current block stays in use.
            blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(size));
            held_ += size;
            return blocks_.back().get();
        }
        nextBlock_ = std::max(nextBlock_, kFirstBlockSize);
        while (nextBlock_ < size) nextBlock_ *= 2;
        const std::size_t blockSize = nextBlock_;
        nextBlock_ = std::min(nextBlock_ * 2, kBlockSize);
        blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(blockSize));
        held_ += blockSize;
        next_ = blocks_.back().get();
        left_ = blockSize;
    }
    std::uint8_t* out = next_;
    next_ += size;
    left_ -= size;
    return out;
}

void Arena::Clear() {
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
    held_ = 0;
    nextBlock_ = 0;
}

bool LayoutField(FieldInfo& field) {
    DSFLDDesc& d = field.desc;
    field.storage = Storage::Fixed;
    const std::int32_t width = d.iUnits1;
    switch (d.iFldType) {
    case fldZSTRING:
        if (width < 1 || width > kMaxWidth) return false;
        d.iFldLen = width + 1;
        field.storage = Storage::String;
        field.storeSize = 8;
        return true;
    case fldWIDESTRING:
    case fldVARBYTES:
        if (width < 1 || width > 65535) return false;
        d.iFldLen = width + 2;
        field.storage = d.iFldType == fldWIDESTRING ? Storage::WideString : Storage::VarBytes;
        field.storeSize = 8;
        return true;
    case fldBYTES:
        if (width < 1 || width > kMaxWidth) return false;
        d.iFldLen = width;
        break;
    case fldINT16:
    case fldUINT16:
    case fldBOOL: d.iFldLen = 2; break;
    case fldINT32:
    case fldUINT32:
    case fldDATE:
    case fldTIME: d.iFldLen = 4; break;
    case fldINT64:
    case fldUINT64:
    case fldFLOAT:
    case fldDATETIME: d.iFldLen = 8; break;
    case fldBCD:
    case fldFMTBCD: d.iFldLen = 34; break;
    case fldSQLTIMESTAMP:
    case fldBLOB: d.iFldLen = 16; break;
    default: return false;
    }
    field.storeSize = static_cast<std::uint32_t>(d.iFldLen);
    return true;
}

DBResult Table::SetFields(std::vector<FieldInfo> fields, ErrorState& err) {
    std::uint32_t store = 0, offset = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        FieldInfo& f = fields[i];
        for (std::size_t k = 0; k < i; ++k)
            if (fields[k].name == f.name)
                return err.Fail(DBERR_INVALIDPARAM, Format("FIELD %zu: a second field named '%s'", i + 1, f.name.c_str()));
        if (!LayoutField(f))
            return err.Fail(DBERR_NOTSUPPORTED,
                            Format("Field '%s' (field %zu): type %d with width %d cannot be held",
                                   f.name.c_str(), i + 1, f.desc.iFldType, f.desc.iUnits1));
        f.storeOffset = store;
        store += f.storeSize;
        f.desc.iFldOffsInRec = static_cast<std::int32_t>(offset);
        offset += static_cast<std::uint32_t>(f.desc.iFldLen);
        f.desc.iFieldID = static_cast<std::int32_t>(i + 1);
        std::memset(f.desc.szName, 0, sizeof f.desc.szName);
        std::memcpy(f.desc.szName, f.name.data(), std::min<std::size_t>(f.name.size(), 32));
    }
    for (std::size_t i = 0; i < fields.size(); ++i)
        fields[i].desc.iNullOffsInRec = static_cast<std::int32_t>(offset + i);
    fields_ = std::move(fields);
    fixedSize_ = store;
    recordSize_ = offset + static_cast<std::uint32_t>(fields_.size());
    Touch();
    return DBERR_NONE;
}

std::int32_t Table::FindField(std::string_view name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name == name) return static_cast<std::int32_t>(i);
    return -1;
}

std::string_view Table::VarBytes(const std::uint8_t* row, std::uint32_t i) const {
    const std::uint8_t* ref = FixedPtr(row, i);
    return {reinterpret_cast<const char*>(row + GetU32(ref + 4)), GetU32(ref)};
}

void Table::Expand(const std::uint8_t* row, std::uint8_t* recBuf) const {
    const std::size_t n = fields_.size();
    for (std::uint32_t i = 0; i < n; ++i) {
        const FieldInfo& f = fields_[i];
        std::uint8_t* dest = recBuf + f.desc.iFldOffsInRec;
        const std::uint8_t state = row[i];
        recBuf[f.desc.iNullOffsInRec] = state;
        if (state != BLANK_NONE) {
            // A blank field still reads as an empty value of its form.
            if (f.storage == Storage::String) dest[0] = 0;
            else if (f.storage != Storage::Fixed) std::memset(dest, 0, 2);
            else std::memset(dest, 0, f.storeSize);
            continue;
        }
        const std::uint8_t* src = row + n + f.storeOffset;
        switch (f.storage) {
        case Storage::Fixed: std::memcpy(dest, src, f.storeSize); break;
        case Storage::String: {
            const std::uint32_t len = GetU32(src);
            std::memcpy(dest, row + GetU32(src + 4), len);
            dest[len] = 0;
            break;
        }
        case Storage::WideString:
        case Storage::VarBytes: {
            const auto len = static_cast<std::uint16_t>(GetU32(src));
            std::memcpy(dest, &len, 2);
            std::memcpy(dest + 2, row + GetU32(src + 4), len);
            break;
        }
        }
    }
}

const std::uint8_t* Table::Compact(const std::uint8_t* recBuf) {
    const std::size_t n = fields_.size();
    std::size_t total = n + fixedSize_;
    auto varLength = [&](const FieldInfo& f) -> std::uint32_t {
        const std::uint8_t* src = recBuf + f.desc.iFldOffsInRec;
        if (f.storage == Storage::String) {
            const void* zero = std::memchr(src, 0, static_cast<std::size_t>(f.desc.iUnits1));
            return zero ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(zero) - src)
                        : static_cast<std::uint32_t>(f.desc.iUnits1);
        }
        return std::min<std::uint32_t>(GetU16(src), static_cast<std::uint32_t>(f.desc.iUnits1));
    };
    for (std::uint32_t i = 0; i < n; ++i)
        if (fields_[i].storage != Storage::Fixed && recBuf[fields_[i].desc.iNullOffsInRec] == 0)
            total += varLength(fields_[i]);
    std::uint8_t* row = arena_.Allocate(total);
    std::uint32_t varPos = static_cast<std::uint32_t>(n + fixedSize_);
    for (std::uint32_t i = 0; i < n; ++i) {
        const FieldInfo& f = fields_[i];
        const std::uint8_t state = recBuf[f.desc.iNullOffsInRec];
        row[i] = state <= BLANK_NOTCHANGED ? state : BLANK_NULL;
        std::uint8_t* dest = row + n + f.storeOffset;
        const std::uint8_t* src = recBuf + f.desc.iFldOffsInRec;
        if (row[i] != BLANK_NONE) {
            std::memset(dest, 0, f.storeSize);
            continue;
        }
        if (f.storage == Storage::Fixed) {
            std::memcpy(dest, src, f.storeSize);
            continue;
        }
        const std::uint32_t len = varLength(f);
        PutU32(dest, len);
        PutU32(dest + 4, varPos);
        std::memcpy(row + varPos, f.storage == Storage::String ? src : src + 2, len);
        varPos += len;
    }
    return row;
}

void Table::AddLoadedRecord(const std::uint8_t* row, const std::uint8_t* original,
                            std::uint8_t status, bool logged) {
    const auto id = static_cast<std::uint32_t>(records_.size());
    Record r;
    r.current = row;
    r.original = original;
    r.status = status;
    r.deleted = status == dsRecDeleted && !isDelta;
    records_.push_back(r);
    if (!r.deleted) order_.push_back(id);
    if (logged) log_.push_back(id);
}

std::uint32_t Table::InsertAt(std::size_t orderPos, const std::uint8_t* row) {
    const auto id = static_cast<std::uint32_t>(records_.size());
    Record r;
    r.current = row;
    r.status = logChanges ? dsRecNew : dsRecUnmodified;
    records_.push_back(r);
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(std::min(orderPos, order_.size())), id);
    if (logChanges) log_.push_back(id);
    changesMade = true;
    Touch();
    return id;
}

void Table::Modify(std::uint32_t id, const std::uint8_t* row) {
    Record& r = records_[id];
    if (logChanges) {
        if (r.status == dsRecUnmodified) {
            r.original = r.current;
            r.status = dsRecModified;
        }
        log_.push_back(id);
    }
    r.current = row;
    changesMade = true;
    Touch();
}

void Table::Delete(std::uint32_t id) {
    Record& r = records_[id];
    order_.erase(std::remove(order_.begin(), order_.end(), id), order_.end());
    r.deleted = true;
    const bool wasNew = r.status == dsRecNew;
    if (!logChanges || wasNew) {
        // An inserted record that is deleted again leaves no trace in the change log.
        log_.erase(std::remove(log_.begin(), log_.end(), id), log_.end());
        r.status = dsRecUnmodified;
    } else {
        if (r.original) r.current = r.original;
        r.original = nullptr;
        r.status = dsRecDeleted;
        log_.push_back(id);
    }
    changesMade = true;
    Touch();
}

void Table::Revert(std::uint32_t id) {
    Record& r = records_[id];
    log_.erase(std::remove(log_.begin(), log_.end(), id), log_.end());
    if (r.status == dsRecNew) {
        order_.erase(std::remove(order_.begin(), order_.end(), id), order_.end());
        r.deleted = true;
    } else if (r.status == dsRecModified) {
        r.current = r.original;
        r.original = nullptr;
    } else if (r.status == dsRecDeleted) {
        r.deleted = false;
        // Back to its place: before the first visible record that came after it.
        const auto at = std::find_if(order_.begin(), order_.end(), [id](std::uint32_t o) { return o > id; });
        order_.insert(at, id);
    }
    r.status = dsRecUnmodified;
    Touch();
}

void Table::AcceptRecord(std::uint32_t id) {
    Record& r = records_[id];
    log_.erase(std::remove(log_.begin(), log_.end(), id), log_.end());
    r.original = nullptr;
    r.status = dsRecUnmodified;
    Touch();
}

void Table::AcceptChanges() {
    for (Record& r : records_) {
        r.original = nullptr;
        r.status = dsRecUnmodified;
    }
    log_.clear();
    lastDeltaRows.clear();
    lastDelta.clear();
    Touch();
}

void Table::Reset() {
    records_.clear();
    order_.clear();
    log_.clear();
    lastDeltaRows.clear();
    lastDelta.clear();
    arena_.Clear();
    Touch();
}

void Table::ClearAll() {
    Reset();
    fields_.clear();
    params_.clear();
    fixedSize_ = recordSize_ = 0;
    isDelta = false;
}

void Table::TruncateRecords(std::size_t count) {
    if (count >= records_.size()) return;
    records_.resize(count);
    auto dropped = [count](std::uint32_t id) { return id >= count; };
    order_.erase(std::remove_if(order_.begin(), order_.end(), dropped), order_.end());
    log_.erase(std::remove_if(log_.begin(), log_.end(), dropped), log_.end());
    Touch();
}

std::vector<std::uint32_t> Table::ChangedRecords() const {
    std::vector<std::uint32_t> out;
    std::vector<bool> seen(records_.size());
    for (const std::uint32_t id : log_) {
        if (seen[id]) continue;
        seen[id] = true;
        out.push_back(id);
    }
    return out;
}

std::unordered_map<std::string_view, std::vector<std::uint32_t>>* Table::IndexFor(std::uint32_t i) {
    auto found = equalityIndexes_.find(i);
    if (found != equalityIndexes_.end()) return &found->second;
    auto& index = equalityIndexes_[i];
    index.reserve(order_.size() / 2 + 1);
    for (const std::uint32_t id : order_) {
        const std::uint8_t* row = records_[id].current;
        if (row[i] != BLANK_NONE) continue;
        index[TrimTrailingBlanks(VarBytes(row, i))].push_back(id);
    }
    return &index;
}

const std::vector<std::uint32_t>* Table::EqualityMatches(std::uint32_t i, std::string_view key) {
    if (i >= fields_.size() || fields_[i].storage != Storage::String) return nullptr;
    static const std::vector<std::uint32_t> kNone;
    auto* index = IndexFor(i);
    const auto found = index->find(TrimTrailingBlanks(key));
    return found == index->end() ? &kNone : &found->second;
}

}  // namespace tarnwick::dsengine::detail
