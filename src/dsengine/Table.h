#pragma once
// Inside of the dataset engine (not for callers): the table a base holds and its cursors share,
// the arena its rows live in, and the packet and filter code that works on it. One table per
// base; cursors hold it through shared_ptr so neither the base nor a cursor must outlive the other.
//
// Stored row, one contiguous allocation in the arena:
//   n state bytes (BLANK_*), then the fixed area: per field at FieldInfo::storeOffset either the
//   value itself (fixed-size kinds; blobs as a BlobRef) or, for strings, wide strings and varbytes,
//   a uint32 byte count and a uint32 offset of the bytes from the row start; the bytes follow the
//   fixed area. Values are read and written with memcpy, so nothing needs alignment.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dsengine/DSTypes.h"

namespace tarnwick::dsengine {
class IDSBase;
}

namespace tarnwick::dsengine::detail {

// Bump allocator: blocks are never moved, so pointers into them live as long as the arena.
class Arena {
public:
    std::uint8_t* Allocate(std::size_t size);
    void Clear();
    std::size_t BytesHeld() const { return held_; }

private:
    std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
    std::uint8_t* next_ = nullptr;
    std::size_t left_ = 0;
    std::size_t held_ = 0;
    std::size_t nextBlock_ = 0;  // size of the next block to take
};

struct BlobRef {
    const std::uint8_t* data;
    std::uint32_t length;
    std::uint32_t reserved;
};
static_assert(sizeof(BlobRef) == 16);

enum class Storage : std::uint8_t { Fixed, String, WideString, VarBytes };

struct FieldInfo {
    DSFLDDesc desc{};
    std::string name;
    Storage storage = Storage::Fixed;
    std::uint32_t storeOffset = 0;  // in the stored row, after the state bytes
    std::uint32_t storeSize = 0;    // bytes in the fixed area
    std::vector<std::pair<std::string, std::string>> params;  // optional field parameters
    bool IsBlob() const { return desc.iFldType == fldBLOB; }
};

struct Record {
    const std::uint8_t* current = nullptr;   // the record's values now
    const std::uint8_t* original = nullptr;  // old values of a modified record, else nullptr
    std::uint8_t status = dsRecUnmodified;   // dsRec*
    bool deleted = false;                    // deleted records stay for the change log only
};

// Answers a status and keeps the detailed text for GetErrorString.
struct ErrorState;
// Runs `body`, turning an exception (out of memory, in practice) into a status: nothing the
// engine does may throw across its interface.
template <typename Body>
DBResult Guarded(ErrorState& err, Body&& body);
struct ErrorState {
    DBResult status = DBERR_NONE;
    std::string text;
    DBResult Fail(DBResult s, std::string message) {
        status = s;
        text = std::move(message);
        return s;
    }
};

template <typename Body>
DBResult Guarded(ErrorState& err, Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return err.Fail(DBERR_NOMEMORY, "Insufficient memory for this operation");
    } catch (const std::exception& e) {
        return err.Fail(DBERR_NOMEMORY, std::string("Engine failure: ") + e.what());
    }
}

class Table {
public:
    // ---- fields
    DBResult SetFields(std::vector<FieldInfo> fields, ErrorState& err);
    bool HasFields() const { return !fields_.empty(); }
    const std::vector<FieldInfo>& Fields() const { return fields_; }
    std::uint32_t FieldCount() const { return static_cast<std::uint32_t>(fields_.size()); }
    std::uint32_t RecordSize() const { return recordSize_; }
    std::int32_t FindField(std::string_view name) const;  // 0-based, -1 when absent
    std::vector<std::pair<std::string, std::string>>& Params() { return params_; }
    const std::vector<std::pair<std::string, std::string>>& Params() const { return params_; }
    std::vector<std::pair<std::string, std::string>>& FieldParams(std::uint32_t i) {
        return fields_[i].params;
    }

    // ---- stored rows
    std::uint8_t State(const std::uint8_t* row, std::uint32_t i) const { return row[i]; }
    const std::uint8_t* FixedPtr(const std::uint8_t* row, std::uint32_t i) const {
        return row + fields_.size() + fields_[i].storeOffset;
    }
    std::string_view VarBytes(const std::uint8_t* row, std::uint32_t i) const;
    // Copies a stored row into a caller's record buffer, and builds a stored row from one.
    void Expand(const std::uint8_t* row, std::uint8_t* recBuf) const;
    const std::uint8_t* Compact(const std::uint8_t* recBuf);
    Arena& RowArena() { return arena_; }

    // ---- records
    std::vector<Record>& Records() { return records_; }
    const std::vector<std::uint32_t>& Order() const { return order_; }
    std::vector<std::uint32_t>& MutableOrder() { return order_; }
    void AddLoadedRecord(const std::uint8_t* row, const std::uint8_t* original,
                         std::uint8_t status, bool logged);
    std::uint32_t InsertAt(std::size_t orderPos, const std::uint8_t* row);  // answers record id
    void Modify(std::uint32_t id, const std::uint8_t* row);
    void Delete(std::uint32_t id);
    void Revert(std::uint32_t id);  // undoes every change of a record
    void AcceptRecord(std::uint32_t id);  // makes one record's change an ordinary record
    void AcceptChanges();
    void Reset();
    // Drops records added after the first `count` (a packet that failed half-way).
    void TruncateRecords(std::size_t count);
    // Back to a base without fields (the first packet failed).
    void ClearAll();
    const std::vector<std::uint32_t>& ChangeLog() const { return log_; }
    std::vector<std::uint32_t> ChangedRecords() const;  // unique, in first-posting order
    bool logChanges = true;
    bool changesMade = false;
    bool readOnly = false;
    bool keepTrailingBlanks = false;
    bool expandArrays = false;
    std::uint32_t xmlMode = xmlmodeBINARY;
    bool isDelta = false;  // rows keep their own update status, no change log

    // Bumped by every change of records or their order; views and indexes rebuild on a new value.
    std::uint64_t Version() const { return version_; }
    void Touch() { ++version_; equalityIndexes_.clear(); }

    // Records of the order whose field `i` equals `key` (trailing blanks ignored, letter case
    // kept), in order; built per field on first use and kept until the next change.
    const std::vector<std::uint32_t>* EqualityMatches(std::uint32_t i, std::string_view key);

    // Delta bookkeeping for reconcile: record id per delta row (0-based), and the delta's bytes.
    std::vector<std::uint32_t> lastDeltaRows;
    std::vector<std::uint8_t> lastDelta;

    ErrorState error;

private:
    std::vector<FieldInfo> fields_;
    std::vector<std::pair<std::string, std::string>> params_;
    std::uint32_t fixedSize_ = 0;
    std::uint32_t recordSize_ = 0;
    Arena arena_;
    std::vector<Record> records_;
    std::vector<std::uint32_t> order_;
    std::vector<std::uint32_t> log_;
    std::uint64_t version_ = 1;
    std::unordered_map<std::string_view, std::vector<std::uint32_t>>* IndexFor(std::uint32_t i);
    std::unordered_map<std::uint32_t,
                       std::unordered_map<std::string_view, std::vector<std::uint32_t>>>
        equalityIndexes_;
};

// The table behind a base made by CreateDSBase; nullptr for anything else.
std::shared_ptr<Table> TableOf(IDSBase* base);

// ---- record buffers (Record.cpp); fieldNo is 1-based
DBResult CheckFieldNo(const Table& table, std::uint32_t fieldNo, ErrorState& err);
void InitRecordBuffer(const Table& table, std::uint8_t* recBuf);
DBResult GetFieldValue(const Table& table, const std::uint8_t* recBuf, std::uint32_t fieldNo,
                       void* value, std::uint32_t& blank, ErrorState& err);
DBResult PutFieldValue(Table& table, std::uint8_t* recBuf, std::uint32_t fieldNo,
                       const void* value, ErrorState& err);
DBResult PutBlobValue(Table& table, std::uint8_t* recBuf, std::uint32_t fieldNo,
                      std::uint32_t offset, const void* src, std::uint32_t length, ErrorState& err);
// Whether field i holds the same state and value in two record buffers.
bool SameFieldValue(const Table& table, const std::uint8_t* a, const std::uint8_t* b,
                    std::uint32_t i);
// A field description from a caller's descriptor (name, type, subtype, units, attributes).
FieldInfo FieldFromDesc(const DSFLDDesc& desc);

// Checks a field description as a packet may carry it (name, type word, subtype, units,
// attributes) and lays it out; answers the problem, empty when the field is sound.
std::string ValidateField(FieldInfo& field);
// Parameter names must be XML names, unique, and for fields none of the FIELD attributes.
std::string ValidateParamName(const std::vector<std::pair<std::string, std::string>>& params,
                              std::string_view name, bool fieldLevel);

// Layout of one field from its type, subtype and units: record-buffer length and storage kind.
// Answers false for kinds the engine does not hold.
bool LayoutField(FieldInfo& field);

// Strings compare and index without their trailing blanks.
inline std::string_view TrimTrailingBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// ---- packets (PacketXml.cpp, PacketBinary.cpp)
// Reads a packet into `table` (fields set by the first packet). Answers a status with the
// detailed text in `err`.
DBResult ReadPacket(Table& table, const std::uint8_t* data, std::size_t size, ErrorState& err);
// Puts the rows of a binary packet in place of the table's when the packet's fields, parameters
// and kind are the table's own (`replaced` true); otherwise leaves the table untouched.
DBResult ReplaceRowsOfSameShape(Table& table, const std::uint8_t* data, std::size_t size, bool& replaced,
                                ErrorState& err);
DBResult ReadXmlPacket(Table& table, const char* data, std::size_t size, ErrorState& err);
DBResult ReadBinaryPacket(Table& table, const std::uint8_t* data, std::size_t size,
                          ErrorState& err);
bool IsBinaryPacket(const std::uint8_t* data, std::size_t size);

// A packet row to write: its stored row, its update status and whether it carries RowState.
struct PacketRow {
    const std::uint8_t* row;
    std::uint8_t status;
};
struct PacketContent {
    const Table* table;
    std::vector<PacketRow> rows;
    bool withRowState = false;  // change log or delta rows
    bool delta = false;         // written as a delta (rows keep their own status on reading)
};
void WriteXmlPacket(const PacketContent& content, bool asciiOnly, std::vector<std::uint8_t>& out);
void WriteBinaryPacket(const PacketContent& content, std::vector<std::uint8_t>& out);
void WritePacket(const PacketContent& content, std::uint32_t xmlMode,
                 std::vector<std::uint8_t>& out);
// The rows of a whole table with its change log, as StreamDS writes them.
PacketContent TableContent(Table& table);

// The update statuses a packet row may carry, in either packet form (a delta's rows keep theirs).
inline bool IsRowStatus(unsigned status) {
    return status == dsRecUnmodified || status == dsRecOrg || status == dsRecDeleted ||
           status == dsRecNew || status == dsRecModified;
}

// Names of the packet parameter and row attributes the engine reserves.
inline constexpr const char* kDeltaParam = "DATASET_DELTA";
inline constexpr const char* kRowStateAttr = "RowState";
inline constexpr const char* kRowUnchangedAttr = "RowUnchanged";

// ---- filters (Filter.cpp)
class FilterProgram;
void DeleteFilterProgram(FilterProgram* program);
struct FilterProgramDeleter {
    void operator()(FilterProgram* p) const { DeleteFilterProgram(p); }
};
using FilterProgramPtr = std::unique_ptr<FilterProgram, FilterProgramDeleter>;
DBResult CompileFilter(const Table& table, const std::uint8_t* image, std::size_t size,
                       FilterProgramPtr& program, ErrorState& err);
bool FilterPasses(const FilterProgram& program, const Table& table, const std::uint8_t* row);
// An equality filter on a text field that an index can answer: field index and key.
bool FilterEqualityKey(const FilterProgram& program, std::uint32_t& field, std::string& key);

// ---- values (Values.cpp)
std::string_view TypeWord(const FieldInfo& field);  // e.g. "string", "fixed"; empty for none
bool DecodeBase64(std::string_view text, std::string& out);
void EncodeBase64(std::string_view bytes, std::string& out);
bool Utf8ToUtf16(std::string_view text, std::string& out);  // UTF-16LE bytes
bool Utf16ToUtf8(std::string_view bytes, std::string& out);
// Parses a value in its packet text form into `out` (the record-buffer form; strings and bytes are
// returned as their bytes). Answers an error text, empty on success.
std::string ParseValueText(const FieldInfo& field, std::string_view text, std::string& out);
// Formats a stored value as packet text.
void FormatValueText(const FieldInfo& field, const std::uint8_t* fixed, std::string_view var,
                     std::string& out);
// Fast BCD parse: sign, digits, optional point; answers false on anything else or > 64 digits.
bool ParseBcd(std::string_view text, std::uint8_t* bcd34);
// Checks a value in record-buffer form for its field; answers an error text, empty when fine.
std::string VerifyValue(const FieldInfo& field, const void* value);

}  // namespace tarnwick::dsengine::detail
