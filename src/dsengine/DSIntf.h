#pragma once
// The dataset engine: IDSBase holds one dataset (fields, records, change log, optional parameters),
// IDSCursor is a view on a base (position, filters, record edits), IDSWriter builds a packet row by
// row. Every operation answers a DBResult and never throws; objects come from the factories below
// and are owned by the caller. A cursor keeps its base's data alive, so either may go first.
//
// Record buffers belong to the caller: allocate curpropRECORDSIZE bytes, fill them with
// GetCurrentRecord or InitRecord, read and write fields with GetField/PutField. A buffer holds every
// field's value in the form below and one state byte per field (BLANK_*):
//   fldZSTRING      UTF-8 bytes + zero byte (width + 1 bytes)
//   fldWIDESTRING   uint16 byte count + UTF-16LE bytes (2 + width bytes)
//   fldINT16/UINT16/BOOL 2 bytes, fldINT32/DATE/TIME 4, fldINT64/FLOAT/DATETIME 8
//   fldBCD/FMTBCD   34-byte TBcd, fldSQLTIMESTAMP 16-byte TSQLTimeStamp (base/ValueForms.h)
//   fldBYTES        width bytes; fldVARBYTES uint16 count + width bytes
//   fldBLOB         engine reference; use GetBlobLen/GetBlob/PutBlob
// Blob contents and a buffer's references to them stay valid until the base is reset or released.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dsengine/DSTypes.h"

namespace tarnwick::dsengine {

class IDSBase {
public:
    virtual ~IDSBase() = default;

    // Reads a packet (binary or XML, told apart by its first bytes). The first packet sets the
    // fields; later ones must have the same fields and add their rows. `complete`: no more rows
    // follow. A packet with RowState rows restores the change log it was written with.
    virtual DBResult AppendData(const std::uint8_t* data, std::size_t size, bool complete) = 0;
    // Sets the fields of an empty base (a base built by the caller rather than from a packet).
    virtual DBResult CreateFields(const std::vector<DSFLDDesc>& descs) = 0;

    virtual DBResult GetFieldCount(std::uint32_t& count) = 0;
    // One descriptor per field in field order; iFldLen/iFldOffsInRec filled in by the engine.
    virtual DBResult GetFieldDescs(std::vector<DSFLDDesc>& descs) = 0;

    virtual DBResult GetProp(std::uint32_t prop, std::uint32_t& value) = 0;
    virtual DBResult SetProp(std::uint32_t prop, std::uint32_t value) = 0;

    // Optional parameters as text, per field (1-based) or of the dataset (fieldNo 0). Booleans
    // read "TRUE"/"FALSE"; key lists (PRIMARY_KEY ...) blank-separated numbers.
    virtual DBResult GetOptParameter(std::uint32_t fieldNo, std::string_view name,
                                     std::string& value) = 0;  // DBERR_NOTFOUND when absent
    virtual DBResult AddOptParameter(std::uint32_t fieldNo, const std::string& name,
                                     const std::string& value) = 0;
    virtual DBResult GetOptParameterNames(std::uint32_t fieldNo,
                                          std::vector<std::string>& names) = 0;

    // The whole dataset (fields, parameters, records and change log) as a packet in the form of
    // basepropXMLMODE.
    virtual DBResult StreamDS(std::vector<std::uint8_t>& packet) = 0;
    // The change log as a delta packet: every changed record in posting order; a modified record as
    // its old-values row (dsRecUnmodified) followed by its new-values row (dsRecModified) whose
    // unchanged fields are BLANK_NOTCHANGED; inserted rows dsRecNew, deleted rows dsRecDeleted.
    // The base remembers which record each delta row came from, for Reconcile.
    virtual DBResult GetDelta(std::vector<std::uint8_t>& delta) = 0;

    // A new empty base with the same fields and parameters (copymodeSAMEFIELDS), or with the six
    // error columns first and the fields unrequired (copymodeERRORPACKET).
    virtual DBResult CreateEmptyCopy(std::uint32_t mode, std::unique_ptr<IDSBase>& copy) = 0;

    // Makes every change of the change log an ordinary record; the change count becomes 0.
    virtual DBResult AcceptChanges() = 0;
    // Matches the error packet's rows (by ERROR_RECORDNO = delta row number) to the records of the
    // last delta, calls `callback` per error row and settles the change log: when an error row was
    // answered with abort by the apply (ERROR_RESPONSE 2, the apply was rolled back), no change is
    // accepted; otherwise changes without an error row are accepted. Per error row the callback's
    // action: skip/abort keep the change (abort also stops the calls), cancel undoes it, merge and
    // correct keep it, refresh keeps it. An empty error packet accepts everything.
    virtual DBResult Reconcile(IDSBase* reconcileBase, const std::vector<std::uint8_t>& delta,
                               const std::vector<std::uint8_t>& errors, void* clientData,
                               ReconcileCallback callback) = 0;

    // Removes every record and the change log; the fields stay.
    virtual DBResult Reset() = 0;
    // As Reset, and every property returns to the value of a new base: the base is then as one
    // that has just read a packet of its fields without rows (for ReplaceData to refill).
    virtual DBResult Recycle() = 0;
    // Replaces every record (and the change log) with the rows of `data` when that packet has
    // this base's fields, parameters and kind (`replaced` true); otherwise changes nothing.
    virtual DBResult ReplaceData(const std::uint8_t* data, std::size_t size, bool& replaced) = 0;
    // Blob contents live in the base's storage until Reset or the base's end, so that record
    // buffers handed out stay readable; there is nothing to release one by one: answers 0.
    virtual DBResult ReleaseBlobs() = 0;

    // The text of a status: the detailed text of the last failure when it had this status,
    // otherwise a general text for the status.
    virtual DBResult GetErrorString(DBResult status, std::string& text) = 0;
};

class IDSCursor {
public:
    virtual ~IDSCursor() = default;

    virtual DBResult InitCursor(IDSBase* base) = 0;
    virtual DBResult GetProp(std::uint32_t prop, std::uint32_t& value) = 0;
    virtual DBResult SetProp(std::uint32_t prop, std::uint32_t value) = 0;

    // Navigation over the view (filters applied, record order of the base).
    virtual DBResult MoveToBOF() = 0;
    virtual DBResult MoveToEOF() = 0;
    // Moves by `offset` records; DBERR_BOF / DBERR_EOF when that leaves the view (the cursor then
    // stands before the first / after the last record).
    virtual DBResult MoveRelative(std::int32_t offset) = 0;
    virtual DBResult MoveToSeqNo(std::uint32_t seqNo) = 0;  // 1-based
    virtual DBResult MoveToBookmark(const std::uint8_t* bookmark) = 0;

    // Copies the current record into `recBuf` (DBERR_BOF/EOF when the cursor is on no record).
    virtual DBResult GetCurrentRecord(std::uint8_t* recBuf) = 0;
    virtual DBResult GetSequenceNumber(std::uint32_t& seqNo) = 0;  // 1-based in the view
    virtual DBResult GetRecordAttribute(std::uint8_t& updateStatus) = 0;  // dsRec*
    virtual DBResult GetCurrentBookmark(std::uint8_t* bookmark) = 0;
    virtual DBResult GetRecordCount(std::uint32_t& count) = 0;  // records of the view

    // Filters: the image bytes are copied. All filters of a cursor must pass.
    virtual DBResult AddFilter(const std::uint8_t* image, std::size_t size,
                               FilterHandle& handle) = 0;
    virtual DBResult DropFilter(FilterHandle handle) = 0;

    // Field values in record buffers; fieldNo is 1-based. `value` may be nullptr to ask only for
    // the state; `blank` answers BLANK_NONE, BLANK_NULL or BLANK_NOTCHANGED.
    virtual DBResult GetField(const std::uint8_t* recBuf, std::uint32_t fieldNo, void* value,
                              std::uint32_t& blank) = 0;
    // Checks a value in the field's form without storing it.
    virtual DBResult VerifyField(std::uint32_t fieldNo, const void* value) = 0;
    // Stores a value (nullptr: null). Strings are cut to the width at a character boundary and,
    // unless basepropKEEPTRAILINGBLANKS, lose their trailing blanks.
    virtual DBResult PutField(std::uint8_t* recBuf, std::uint32_t fieldNo, const void* value) = 0;
    virtual DBResult PutBlank(std::uint8_t* recBuf, std::uint32_t fieldNo,
                              std::uint32_t blank) = 0;
    virtual DBResult GetBlobLen(const std::uint8_t* recBuf, std::uint32_t fieldNo,
                                std::uint32_t& length) = 0;
    // Copies up to `length` bytes from `offset`; `length` answers the bytes copied.
    virtual DBResult GetBlob(const std::uint8_t* recBuf, std::uint32_t fieldNo,
                             std::uint32_t offset, void* dest, std::uint32_t& length) = 0;
    // Replaces the blob's content from `offset` on with `length` bytes (the content is cut there).
    virtual DBResult PutBlob(std::uint8_t* recBuf, std::uint32_t fieldNo, std::uint32_t offset,
                             const void* src, std::uint32_t length) = 0;

    // A blank record: every field null.
    virtual DBResult InitRecord(std::uint8_t* recBuf) = 0;
    // Inserts before the current record (at the end when there is none); the cursor moves to it.
    virtual DBResult InsertRecord(const std::uint8_t* recBuf) = 0;
    virtual DBResult ModifyRecord(const std::uint8_t* recBuf) = 0;
    // Deletes the current record; the cursor moves to the next (or else the new last) record.
    virtual DBResult DeleteRecord() = 0;
};

// Builds a packet from field descriptions, parameters and rows, the way a provider writes the rows
// of a result set. Call order: AddField* and AddOptParameter*, then per row InitRow, Put*, PostRow;
// then GetPacket. SetProp takes basepropXMLMODE (the packet form) and basepropKEEPTRAILINGBLANKS;
// PutField cuts and trims text as IDSCursor::PutField does.
class IDSWriter {
public:
    virtual ~IDSWriter() = default;

    // Only name, type, subtype, units and attributes are read from `desc`.
    virtual DBResult AddField(const DSFLDDesc& desc) = 0;
    virtual DBResult AddOptParameter(std::uint32_t fieldNo, const std::string& name,
                                     const std::string& value) = 0;  // fieldNo 0: dataset
    virtual DBResult SetProp(std::uint32_t prop, std::uint32_t value) = 0;

    virtual DBResult InitRow() = 0;  // every field null
    // The value in its record-buffer form (see above), nullptr for null.
    virtual DBResult PutField(std::uint32_t fieldNo, const void* value) = 0;
    virtual DBResult PutBlob(std::uint32_t fieldNo, const void* data, std::uint32_t length) = 0;
    virtual DBResult PostRow() = 0;

    virtual DBResult GetPacket(std::vector<std::uint8_t>& packet) = 0;
    // Forgets fields, parameters and rows.
    virtual DBResult Reset() = 0;
    // Removes the rows only: the next packet has the same fields and parameters.
    virtual DBResult ResetRows() = 0;
    virtual DBResult GetErrorString(DBResult status, std::string& text) = 0;
};

DBResult CreateDSBase(std::unique_ptr<IDSBase>& base);
DBResult CreateDSCursor(std::unique_ptr<IDSCursor>& cursor);
DBResult CreateDSWriter(std::unique_ptr<IDSWriter>& writer);

// Value-form helpers the engine uses and callers may share.
constexpr std::int32_t kMsPerDay = 86400000;
// Day number of a calendar date (1 = 0001-01-01), and back. Invalid dates answer false.
bool EncodeDayNumber(int year, int month, int day, std::int32_t& dayNumber);
void DecodeDayNumber(std::int32_t dayNumber, int& year, int& month, int& day);

}  // namespace tarnwick::dsengine
