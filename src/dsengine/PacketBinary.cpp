// The binary packet form, all integers little-endian:
//   magic       4 bytes 0x96 'T' 'W' 'B' (0x96 cannot begin an XML document: no '<', blank or BOM)
//   uint16      version, 1
//   uint16      flags: bit 0 delta packet (rows keep their status), bit 1 rows carry a status byte
//   uint32      field count, then per field:
//                 uint8 name length, name bytes, int32 type, subtype, units 1, units 2, attributes,
//                 uint32 parameter count, parameters
//   uint32      dataset parameter count, parameters
//                 (a parameter: uint16 name length, name, uint32 value length, value)
//   uint32      row count, then per row:
//                 [uint8 status (dsRec*) when flag bit 1], one state byte (BLANK_*) per field,
//                 then per field holding a value: strings, wide strings and varbytes as uint32
//                 length + bytes; blobs as uint32 length + bytes; other kinds their record-buffer
//                 bytes (iFldLen bytes).

#include <algorithm>
#include <cstring>

#include "base/Text.h"
#include "base/ValueForms.h"
#include "dsengine/Table.h"

namespace tarnwick::dsengine::detail {

namespace {

constexpr std::uint8_t kMagic[4] = {0x96, 'T', 'W', 'B'};
constexpr std::uint16_t kVersion = 1;
constexpr std::uint16_t kFlagDelta = 1;
constexpr std::uint16_t kFlagStatus = 2;

// Appends into `out`, which it sizes ahead in doubling steps and trims to what was written when
// it goes: most of what it writes is a few bytes at a time.
class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out), used_(out.size()) {
        if (out_.size() < 1024) out_.resize(1024);
    }
    ~Writer() { out_.resize(used_); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    void Bytes(const void* p, std::size_t n) {
        if (n == 0) return;
        if (out_.size() - used_ < n) out_.resize(std::max(out_.size() * 2, used_ + n));
        std::memcpy(out_.data() + used_, p, n);
        used_ += n;
    }
    template <typename T>
    void Put(T v) { Bytes(&v, sizeof v); }
    void Param(const std::string& name, const std::string& value) {
        Put(static_cast<std::uint16_t>(name.size()));
        Bytes(name.data(), name.size());
        Put(static_cast<std::uint32_t>(value.size()));
        Bytes(value.data(), value.size());
    }
    void Params(const std::vector<std::pair<std::string, std::string>>& params, bool skipDelta) {
        std::uint32_t count = 0;
        for (const auto& p : params) count += skipDelta && p.first == kDeltaParam ? 0 : 1;
        Put(count);
        for (const auto& p : params)
            if (!(skipDelta && p.first == kDeltaParam)) Param(p.first, p.second);
    }

private:
    std::vector<std::uint8_t>& out_;
    std::size_t used_;
};

class Reader {
public:
    Reader(const std::uint8_t* p, std::size_t n) : p_(p), end_(p + n) {}
    bool Bytes(void* dest, std::size_t n) {
        if (static_cast<std::size_t>(end_ - p_) < n) return false;
        std::memcpy(dest, p_, n);
        p_ += n;
        return true;
    }
    bool View(std::size_t n, std::string_view& out) {
        if (static_cast<std::size_t>(end_ - p_) < n) return false;
        out = std::string_view(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return true;
    }
    template <typename T>
    bool Get(T& v) { return Bytes(&v, sizeof v); }
    bool Param(std::pair<std::string, std::string>& param) {
        std::uint16_t nameLen;
        std::uint32_t valueLen;
        std::string_view name, value;
        if (!Get(nameLen) || !View(nameLen, name) || !Get(valueLen) || !View(valueLen, value)) return false;
        // No value holds a zero character, in either packet form.
        if (value.find('\0') != std::string_view::npos) return false;
        param = {std::string(name), std::string(value)};
        return true;
    }
    bool Params(std::vector<std::pair<std::string, std::string>>& params, bool fieldLevel) {
        std::uint32_t count;
        if (!Get(count) || count > Left()) return false;
        for (std::uint32_t k = 0; k < count; ++k) {
            std::pair<std::string, std::string> p;
            if (!Param(p) || !ValidateParamName(params, p.first, fieldLevel).empty()) return false;
            params.push_back(std::move(p));
        }
        return true;
    }
    std::size_t Left() const { return static_cast<std::size_t>(end_ - p_); }
    std::size_t Offset(const std::uint8_t* start) const { return static_cast<std::size_t>(p_ - start); }

private:
    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

// Text values hold no zero character (the record form ends text there) and are valid UTF-16.
std::string CheckText(const FieldInfo& f, std::string_view bytes) {
    if (f.storage == Storage::String && bytes.find('\0') != std::string_view::npos) return "text holds a zero byte";
    if (f.storage != Storage::WideString) return {};
    std::string utf8;
    if (!Utf16ToUtf8(bytes, utf8)) return "text is no valid UTF-16";
    if (utf8.find('\0') != std::string::npos) return "text holds a zero character";
    return {};
}

DBResult Bad(ErrorState& err, const std::string& what) {
    return err.Fail(DBERR_INVALIDPACKET, "Unreadable binary data packet: " + what);
}

}  // namespace

bool IsBinaryPacket(const std::uint8_t* data, std::size_t size) {
    return size >= 4 && std::memcmp(data, kMagic, 4) == 0;
}

void WriteBinaryPacket(const PacketContent& content, std::vector<std::uint8_t>& out) {
    const Table& table = *content.table;
    const auto& fields = table.Fields();
    out.clear();
    Writer w(out);
    w.Bytes(kMagic, 4);
    w.Put(kVersion);
    w.Put(static_cast<std::uint16_t>((content.delta ? kFlagDelta : 0) |
                                     (content.withRowState ? kFlagStatus : 0)));
    w.Put(static_cast<std::uint32_t>(fields.size()));
    for (const FieldInfo& f : fields) {
        w.Put(static_cast<std::uint8_t>(f.name.size()));
        w.Bytes(f.name.data(), f.name.size());
        w.Put(f.desc.iFldType);
        w.Put(f.desc.iFldSubType);
        w.Put(f.desc.iUnits1);
        w.Put(f.desc.iUnits2);
        w.Put(f.desc.iFldAttr);
        w.Params(f.params, false);
    }
    w.Params(table.Params(), true);
    w.Put(static_cast<std::uint32_t>(content.rows.size()));
    const std::size_t n = fields.size();
    for (const PacketRow& pr : content.rows) {
        if (content.withRowState) w.Put(pr.status);
        w.Bytes(pr.row, n);
        for (std::uint32_t i = 0; i < n; ++i) {
            if (pr.row[i] != BLANK_NONE) continue;
            const FieldInfo& f = fields[i];
            if (f.storage != Storage::Fixed) {
                const std::string_view v = table.VarBytes(pr.row, i);
                w.Put(static_cast<std::uint32_t>(v.size()));
                w.Bytes(v.data(), v.size());
            } else if (f.IsBlob()) {
                BlobRef ref;
                std::memcpy(&ref, table.FixedPtr(pr.row, i), sizeof ref);
                w.Put(ref.length);
                w.Bytes(ref.data, ref.length);
            } else {
                w.Bytes(table.FixedPtr(pr.row, i), f.storeSize);
            }
        }
    }
}

namespace {

// The rows of a packet whose header the reader has passed, added to the table's records.
DBResult ReadBinaryRows(Table& table, Reader& r, std::uint16_t flags, ErrorState& err) {
    std::uint32_t rowCount;
    if (!r.Get(rowCount)) return Bad(err, "the row count is missing");
    const auto& fs = table.Fields();
    const std::size_t n = fs.size();
    std::uint32_t fixedSize = 0;
    for (const auto& f : fs) fixedSize = std::max(fixedSize, f.storeOffset + f.storeSize);
    std::vector<std::string_view> var(n);
    std::vector<std::uint8_t> rowStart(n + fixedSize);
    const std::uint8_t* pendingOriginal = nullptr;
    for (std::uint32_t row = 1; row <= rowCount; ++row) {
        std::uint8_t status = dsRecUnmodified;
        if ((flags & kFlagStatus) && !r.Get(status)) return Bad(err, Format("row %u is cut short", row));
        if (!IsRowStatus(status)) return Bad(err, Format("row %u: status %u is not known", row, status));
        std::memset(rowStart.data(), 0, rowStart.size());
        if (!r.Bytes(rowStart.data(), n)) return Bad(err, Format("row %u is cut short", row));
        std::size_t total = n + fixedSize;
        for (std::uint32_t i = 0; i < n; ++i) {
            const FieldInfo& f = fs[i];
            const std::uint8_t state = rowStart[i];
            if (state > BLANK_NOTCHANGED) return Bad(err, Format("row %u, field '%s': state %u", row, f.name.c_str(), state));
            if (state != BLANK_NONE) continue;
            std::uint8_t* fixed = rowStart.data() + n + f.storeOffset;
            if (f.storage != Storage::Fixed || f.IsBlob()) {
                std::uint32_t len;
                std::string_view bytes;
                if (!r.Get(len) || !r.View(len, bytes)) return Bad(err, Format("row %u, field '%s' is cut short", row, f.name.c_str()));
                if (f.IsBlob()) {
                    std::uint8_t* copy = table.RowArena().Allocate(len);
                    std::memcpy(copy, bytes.data(), len);
                    const BlobRef ref{copy, len, 0};
                    std::memcpy(fixed, &ref, sizeof ref);
                    continue;
                }
                if (len > static_cast<std::uint32_t>(f.desc.iUnits1) ||
                    (f.storage == Storage::WideString && len % 2 != 0))
                    return Bad(err, Format("row %u, field '%s': %u bytes do not fit the width %d", row,
                                           f.name.c_str(), len, f.desc.iUnits1));
                if (const std::string problem = CheckText(f, bytes); !problem.empty())
                    return Bad(err, Format("row %u, field '%s': %s", row, f.name.c_str(), problem.c_str()));
                var[i] = bytes;
                total += len;
                continue;
            }
            if (!r.Bytes(fixed, f.storeSize)) return Bad(err, Format("row %u, field '%s' is cut short", row, f.name.c_str()));
            if (const std::string problem = VerifyValue(f, fixed); !problem.empty())
                return Bad(err, Format("row %u, field '%s': %s", row, f.name.c_str(), problem.c_str()));
        }
        std::uint8_t* stored = table.RowArena().Allocate(total);
        std::memcpy(stored, rowStart.data(), n + fixedSize);
        auto pos = static_cast<std::uint32_t>(n + fixedSize);
        for (std::uint32_t i = 0; i < n; ++i) {
            const FieldInfo& f = fs[i];
            if (f.storage == Storage::Fixed) continue;
            const std::uint32_t len = rowStart[i] == BLANK_NONE ? static_cast<std::uint32_t>(var[i].size()) : 0;
            std::uint8_t* ref = stored + n + f.storeOffset;
            std::memcpy(ref, &len, 4);
            std::memcpy(ref + 4, &pos, 4);
            if (len) std::memcpy(stored + pos, var[i].data(), len);
            pos += len;
        }
        if (table.isDelta) {
            table.AddLoadedRecord(stored, nullptr, status, false);
            continue;
        }
        if (pendingOriginal && status != dsRecModified)
            return Bad(err, Format("row %u: old values of a modified record without new values", row));
        switch (status) {
        case dsRecUnmodified: table.AddLoadedRecord(stored, nullptr, status, false); break;
        case dsRecOrg: pendingOriginal = stored; break;
        case dsRecModified:
            if (!pendingOriginal) return Bad(err, Format("row %u: new values without old values", row));
            table.AddLoadedRecord(stored, pendingOriginal, status, true);
            pendingOriginal = nullptr;
            break;
        case dsRecNew:
        case dsRecDeleted: table.AddLoadedRecord(stored, nullptr, status, true); break;
        default: break;  // no other status passes the check above
        }
    }
    if (pendingOriginal) return Bad(err, "the last modified record has no new values");
    if (r.Left() != 0) return Bad(err, Format("%zu bytes follow the last row", r.Left()));
    table.Touch();
    return DBERR_NONE;
}

}  // namespace

DBResult ReadBinaryPacket(Table& table, const std::uint8_t* data, std::size_t size, ErrorState& err) {
    Reader r(data, size);
    std::uint8_t magic[4];
    std::uint16_t version, flags;
    std::uint32_t fieldCount;
    if (!r.Bytes(magic, 4) || !r.Get(version) || !r.Get(flags) || !r.Get(fieldCount))
        return Bad(err, "the header is cut short");
    if (version != kVersion) return Bad(err, Format("version %u is not known", version));
    if (fieldCount == 0 || fieldCount > r.Left()) return Bad(err, Format("field count %u is impossible", fieldCount));
    std::vector<FieldInfo> fields(fieldCount);
    for (std::uint32_t i = 0; i < fieldCount; ++i) {
        FieldInfo& f = fields[i];
        std::uint8_t nameLen;
        std::string_view name;
        DSFLDDesc& d = f.desc;
        if (!r.Get(nameLen) || !r.View(nameLen, name) || !r.Get(d.iFldType) || !r.Get(d.iFldSubType) ||
            !r.Get(d.iUnits1) || !r.Get(d.iUnits2) || !r.Get(d.iFldAttr) || !r.Params(f.params, true))
            return Bad(err, Format("field %u is cut short or has misnamed parameters or one holding a zero character", i + 1));
        f.name = std::string(name);
        if (const std::string problem = ValidateField(f); !problem.empty())
            return Bad(err, Format("field %u: %s", i + 1, problem.c_str()));
    }
    std::vector<std::pair<std::string, std::string>> params;
    if (!r.Params(params, false)) return Bad(err, "the dataset parameters are cut short, misnamed or hold a zero character");
    if (table.HasFields()) {
        bool same = table.FieldCount() == fieldCount;
        for (std::uint32_t i = 0; same && i < fieldCount; ++i)
            same = table.Fields()[i].name == fields[i].name &&
                   table.Fields()[i].desc.iFldType == fields[i].desc.iFldType &&
                   table.Fields()[i].desc.iUnits1 == fields[i].desc.iUnits1;
        if (!same)
            return err.Fail(DBERR_METADATAMISMATCH,
                            "The appended data packet's fields differ from the dataset's fields");
    } else {
        if (table.SetFields(std::move(fields), err) != DBERR_NONE) return Bad(err, err.text);
        table.Params() = std::move(params);
        table.isDelta = (flags & kFlagDelta) != 0;
    }
    return ReadBinaryRows(table, r, flags, err);
}

DBResult ReplaceRowsOfSameShape(Table& table, const std::uint8_t* data, std::size_t size, bool& replaced,
                                ErrorState& err) {
    replaced = false;
    if (data == nullptr || !IsBinaryPacket(data, size) || !table.HasFields()) return DBERR_NONE;
    Reader r(data, size);
    std::uint8_t magic[4];
    std::uint16_t version, flags;
    std::uint32_t fieldCount;
    if (!r.Bytes(magic, 4) || !r.Get(version) || !r.Get(flags) || !r.Get(fieldCount) || version != kVersion)
        return DBERR_NONE;
    if (((flags & kFlagDelta) != 0) != table.isDelta || fieldCount != table.FieldCount()) return DBERR_NONE;
    // The header is compared where it stands; anything unlike the table's own, or unreadable,
    // leaves the table as it is for the caller to read the packet the ordinary way.
    const auto sameParams = [&r](const std::vector<std::pair<std::string, std::string>>& own, bool skipDelta) {
        std::uint32_t count;
        if (!r.Get(count)) return false;
        std::uint32_t k = 0;
        for (const auto& p : own) {
            if (skipDelta && p.first == kDeltaParam) continue;
            std::uint16_t nameLen;
            std::uint32_t valueLen;
            std::string_view name, value;
            if (k++ >= count || !r.Get(nameLen) || !r.View(nameLen, name) || !r.Get(valueLen) ||
                !r.View(valueLen, value) || name != p.first || value != p.second)
                return false;
        }
        return k == count;
    };
    for (const FieldInfo& f : table.Fields()) {
        std::uint8_t nameLen;
        std::string_view name;
        std::int32_t type, subType, units1, units2, attr;
        if (!r.Get(nameLen) || !r.View(nameLen, name) || name != f.name || !r.Get(type) || !r.Get(subType) ||
            !r.Get(units1) || !r.Get(units2) || !r.Get(attr) || type != f.desc.iFldType ||
            subType != f.desc.iFldSubType || units1 != f.desc.iUnits1 || units2 != f.desc.iUnits2 ||
            attr != f.desc.iFldAttr || !sameParams(f.params, false))
            return DBERR_NONE;
    }
    if (!sameParams(table.Params(), true)) return DBERR_NONE;
    table.Reset();
    replaced = true;
    const DBResult result = ReadBinaryRows(table, r, flags, err);
    if (result != DBERR_NONE) table.Reset();  // a packet is taken whole or not at all
    return result;
}

DBResult ReadPacket(Table& table, const std::uint8_t* data, std::size_t size, ErrorState& err) {
    if (data == nullptr || size == 0)
        return err.Fail(DBERR_INVALIDPACKET, "Unreadable data packet: the packet is empty");
    const std::size_t recordsBefore = table.Records().size();
    const bool hadFields = table.HasFields();
    const DBResult r = IsBinaryPacket(data, size)
                           ? ReadBinaryPacket(table, data, size, err)
                           : ReadXmlPacket(table, reinterpret_cast<const char*>(data), size, err);
    // A packet is taken whole or not at all: drop what was read before the failure.
    if (r != DBERR_NONE && !hadFields) table.ClearAll();
    else if (r != DBERR_NONE) table.TruncateRecords(recordsBefore);
    return r;
}

void WritePacket(const PacketContent& content, std::uint32_t xmlMode, std::vector<std::uint8_t>& out) {
    if (xmlMode == xmlmodeBINARY) WriteBinaryPacket(content, out);
    else WriteXmlPacket(content, xmlMode == xmlmodeXML, out);
}

PacketContent TableContent(Table& table) {
    PacketContent content;
    content.table = &table;
    content.delta = table.isDelta;
    auto& records = table.Records();
    for (const std::uint32_t id : table.Order()) {
        const Record& rec = records[id];
        if (rec.original) content.rows.push_back({rec.original, dsRecOrg});
        content.rows.push_back({rec.current, rec.status});
        if (rec.status != dsRecUnmodified) content.withRowState = true;
    }
    for (const Record& rec : records)
        if (rec.deleted && rec.status == dsRecDeleted) {
            content.rows.push_back({rec.current, dsRecDeleted});
            content.withRowState = true;
        }
    return content;
}

}  // namespace tarnwick::dsengine::detail
