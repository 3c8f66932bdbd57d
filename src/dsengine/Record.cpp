// Field values in callers' record buffers (layout in dsengine/DSIntf.h).

#include <cstring>

#include "base/Text.h"
#include "dsengine/Table.h"

namespace tarnwick::dsengine::detail {

namespace {

std::uint16_t GetU16(const void* p) {
    std::uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

}  // namespace

DBResult CheckFieldNo(const Table& table, std::uint32_t fieldNo, ErrorState& err) {
    if (fieldNo >= 1 && fieldNo <= table.FieldCount()) return DBERR_NONE;
    return err.Fail(DBERR_INVALIDFIELD,
                    Format("Field number %u is outside 1 to %u", fieldNo, table.FieldCount()));
}

void InitRecordBuffer(const Table& table, std::uint8_t* recBuf) {
    std::memset(recBuf, 0, table.RecordSize());
    for (const FieldInfo& f : table.Fields()) recBuf[f.desc.iNullOffsInRec] = BLANK_NULL;
}

DBResult GetFieldValue(const Table& table, const std::uint8_t* recBuf, std::uint32_t fieldNo,
                       void* value, std::uint32_t& blank, ErrorState& err) {
    if (const DBResult r = CheckFieldNo(table, fieldNo, err)) return r;
    if (recBuf == nullptr) return err.Fail(DBERR_INVALIDPARAM, "No record buffer");
    const FieldInfo& f = table.Fields()[fieldNo - 1];
    blank = recBuf[f.desc.iNullOffsInRec];
    if (value == nullptr || blank != BLANK_NONE) return DBERR_NONE;
    const std::uint8_t* src = recBuf + f.desc.iFldOffsInRec;
    switch (f.storage) {
    case Storage::String: {
        const void* zero = std::memchr(src, 0, static_cast<std::size_t>(f.desc.iFldLen));
        const std::size_t len = zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - src)
                                     : static_cast<std::size_t>(f.desc.iUnits1);
        std::memcpy(value, src, len);
        static_cast<std::uint8_t*>(value)[len] = 0;
        break;
    }
    case Storage::WideString:
    case Storage::VarBytes: std::memcpy(value, src, 2u + GetU16(src)); break;
    case Storage::Fixed: std::memcpy(value, src, static_cast<std::size_t>(f.desc.iFldLen)); break;
    }
    return DBERR_NONE;
}

DBResult PutFieldValue(Table& table, std::uint8_t* recBuf, std::uint32_t fieldNo,
                       const void* value, ErrorState& err) {
    if (const DBResult r = CheckFieldNo(table, fieldNo, err)) return r;
    if (recBuf == nullptr) return err.Fail(DBERR_INVALIDPARAM, "No record buffer");
    const FieldInfo& f = table.Fields()[fieldNo - 1];
    std::uint8_t* dest = recBuf + f.desc.iFldOffsInRec;
    if (value == nullptr) {
        recBuf[f.desc.iNullOffsInRec] = BLANK_NULL;
        std::memset(dest, 0, static_cast<std::size_t>(f.desc.iFldLen));
        return DBERR_NONE;
    }
    const auto* src = static_cast<const std::uint8_t*>(value);
    const std::size_t width = static_cast<std::size_t>(f.desc.iUnits1);
    switch (f.storage) {
    case Storage::String: {
        // Cut at the width without splitting a character; drop trailing blanks unless kept.
        const auto* text = reinterpret_cast<const char*>(src);
        std::string_view s = Utf8Prefix(std::string_view(text, strnlen(text, width + 1)), width);
        if (!table.keepTrailingBlanks) s = TrimTrailingBlanks(s);
        std::memmove(dest, s.data(), s.size());
        dest[s.size()] = 0;
        break;
    }
    case Storage::WideString:
    case Storage::VarBytes: {
        std::uint16_t n = GetU16(src);
        if (n > width) n = static_cast<std::uint16_t>(width);
        if (f.storage == Storage::WideString) {
            n &= ~1u;
            // Like narrow text, wide text ends at a zero character.
            for (std::uint16_t k = 0; k < n; k += 2)
                if (GetU16(src + 2 + k) == 0) {
                    n = k;
                    break;
                }
            // Never keep the first half of a surrogate pair alone.
            if (n >= 2 && (GetU16(src + 2 + n - 2) & 0xFC00) == 0xD800) n -= 2;
        }
        std::memmove(dest + 2, src + 2, n);
        std::memcpy(dest, &n, 2);
        break;
    }
    case Storage::Fixed:
        if (f.IsBlob())
            return err.Fail(DBERR_INVALIDPARAM,
                            Format("Field '%s' is a blob; its content is written with PutBlob", f.name.c_str()));
        if (const std::string problem = VerifyValue(f, value); !problem.empty())
            return err.Fail(DBERR_INVALIDVALUE, Format("Field '%s': %s", f.name.c_str(), problem.c_str()));
        std::memmove(dest, src, static_cast<std::size_t>(f.desc.iFldLen));
        break;
    }
    recBuf[f.desc.iNullOffsInRec] = BLANK_NONE;
    return DBERR_NONE;
}

DBResult PutBlobValue(Table& table, std::uint8_t* recBuf, std::uint32_t fieldNo,
                      std::uint32_t offset, const void* src, std::uint32_t length, ErrorState& err) {
    if (const DBResult r = CheckFieldNo(table, fieldNo, err)) return r;
    const FieldInfo& f = table.Fields()[fieldNo - 1];
    if (!f.IsBlob()) return err.Fail(DBERR_INVALIDPARAM, Format("Field '%s' is no blob", f.name.c_str()));
    if (recBuf == nullptr || (src == nullptr && length > 0))
        return err.Fail(DBERR_INVALIDPARAM, "No record buffer or no blob bytes");
    std::uint8_t* slot = recBuf + f.desc.iFldOffsInRec;
    BlobRef old{nullptr, 0, 0};
    if (recBuf[f.desc.iNullOffsInRec] == BLANK_NONE) std::memcpy(&old, slot, sizeof old);
    const std::size_t total = static_cast<std::size_t>(offset) + length;
    if (total > 0xFFFFFFFFu) return err.Fail(DBERR_INVALIDPARAM, "Blob longer than 4 GB");
    std::uint8_t* bytes = table.RowArena().Allocate(total);
    const std::uint32_t kept = std::min(offset, old.length);
    if (kept) std::memcpy(bytes, old.data, kept);
    if (offset > kept) std::memset(bytes + kept, 0, offset - kept);
    if (length) std::memcpy(bytes + offset, src, length);
    const BlobRef ref{bytes, static_cast<std::uint32_t>(total), 0};
    std::memcpy(slot, &ref, sizeof ref);
    recBuf[f.desc.iNullOffsInRec] = BLANK_NONE;
    return DBERR_NONE;
}

bool SameFieldValue(const Table& table, const std::uint8_t* a, const std::uint8_t* b, std::uint32_t i) {
    const FieldInfo& f = table.Fields()[i];
    const std::uint8_t sa = a[f.desc.iNullOffsInRec], sb = b[f.desc.iNullOffsInRec];
    if (sa != sb) return false;
    if (sa != BLANK_NONE) return true;
    const std::uint8_t* pa = a + f.desc.iFldOffsInRec;
    const std::uint8_t* pb = b + f.desc.iFldOffsInRec;
    switch (f.storage) {
    case Storage::String:
        return std::strncmp(reinterpret_cast<const char*>(pa), reinterpret_cast<const char*>(pb),
                            static_cast<std::size_t>(f.desc.iFldLen)) == 0;
    case Storage::WideString:
    case Storage::VarBytes: return GetU16(pa) == GetU16(pb) && std::memcmp(pa + 2, pb + 2, GetU16(pa)) == 0;
    case Storage::Fixed: break;
    }
    if (f.IsBlob()) {
        BlobRef x, y;
        std::memcpy(&x, pa, sizeof x);
        std::memcpy(&y, pb, sizeof y);
        return x.length == y.length && (x.length == 0 || std::memcmp(x.data, y.data, x.length) == 0);
    }
    return std::memcmp(pa, pb, static_cast<std::size_t>(f.desc.iFldLen)) == 0;
}

FieldInfo FieldFromDesc(const DSFLDDesc& desc) {
    FieldInfo f;
    f.desc = desc;
    f.name.assign(desc.szName, strnlen(desc.szName, sizeof desc.szName));
    if (f.desc.iFldSubType == fldstFIXED) f.desc.iFldAttr |= fldAttrFIXED;
    return f;
}

}  // namespace tarnwick::dsengine::detail
