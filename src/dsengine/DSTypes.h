#pragma once
// Codes, records and numbers shared by the dataset engine and its callers: status codes, engine
// field types and subtypes, the 76-byte field descriptor, property numbers, record states.
// Plain data only; the operations are in dsengine/DSIntf.h.

#include <cstddef>
#include <cstdint>

namespace tarnwick::dsengine {

// ---- Status codes -------------------------------------------------------------------------------
// Every engine operation answers a status; 0 is success. A status whose low 16 bits are not zero
// is a failure whose text IDSBase::GetErrorString gives (the text names what went wrong and where).
using DBResult = std::uint32_t;

constexpr DBResult DBERR_NONE = 0;
constexpr DBResult DBERR_BOF = 0x2201;            // before the first record of the view
constexpr DBResult DBERR_EOF = 0x2202;            // after the last record of the view
constexpr DBResult DBERR_NOCURRREC = 0x2203;      // the cursor stands on no record
constexpr DBResult DBERR_RECNOTFOUND = 0x2204;    // sequence number or bookmark names no record
constexpr DBResult DBERR_INVALIDPARAM = 0x2401;   // an argument is out of range or missing
constexpr DBResult DBERR_INVALIDFIELD = 0x2402;   // field number outside 1 .. field count
constexpr DBResult DBERR_INVALIDPACKET = 0x2403;  // the packet bytes cannot be read
constexpr DBResult DBERR_INVALIDVALUE = 0x2404;   // a value refused for its field
constexpr DBResult DBERR_READONLY = 0x2405;       // the dataset is read-only
constexpr DBResult DBERR_NOTSUPPORTED = 0x2406;   // operation or field kind the engine lacks
constexpr DBResult DBERR_INVALIDFILTER = 0x2407;  // the filter image cannot be read
constexpr DBResult DBERR_INVALIDHANDLE = 0x2408;  // unknown filter handle, cursor not attached
constexpr DBResult DBERR_NOTFOUND = 0x2409;       // optional parameter of that name is absent
constexpr DBResult DBERR_DELTAMISMATCH = 0x240A;  // delta or error packet not of this dataset
constexpr DBResult DBERR_NOMEMORY = 0x240B;       // out of memory
constexpr DBResult DBERR_METADATAMISMATCH = 0x240C;  // appended packet with other fields
constexpr DBResult DBERR_CALLBACK = 0x240D;       // a caller's callback answered an unknown action

inline bool IsFailure(DBResult status) { return (status & 0xFFFFu) != 0; }

// ---- Engine field types (descriptor offset 32) and subtypes (offset 36) -------------------------
constexpr std::int32_t fldUNKNOWN = 0;
constexpr std::int32_t fldZSTRING = 1;      // string: UTF-8 bytes + zero byte, units 1 = width
constexpr std::int32_t fldDATE = 2;         // int32 day number, 1 = 0001-01-01
constexpr std::int32_t fldBLOB = 3;         // bytes of any length, through the blob operations
constexpr std::int32_t fldBOOL = 4;         // int16, 1 true, 0 false
constexpr std::int32_t fldINT16 = 5;
constexpr std::int32_t fldINT32 = 6;
constexpr std::int32_t fldFLOAT = 7;        // double
constexpr std::int32_t fldBCD = 8;          // 34-byte BCD record; units 1 precision, units 2 places
constexpr std::int32_t fldBYTES = 9;        // exactly units-1 bytes
constexpr std::int32_t fldTIME = 10;        // int32 milliseconds since midnight
constexpr std::int32_t fldDATETIME = 11;    // double: day number * 86 400 000 + milliseconds
constexpr std::int32_t fldUINT16 = 12;
constexpr std::int32_t fldUINT32 = 13;
constexpr std::int32_t fldVARBYTES = 15;    // uint16 byte count + up to units-1 bytes
constexpr std::int32_t fldINT64 = 18;
constexpr std::int32_t fldUINT64 = 19;
constexpr std::int32_t fldADT = 20;
constexpr std::int32_t fldARRAY = 21;
constexpr std::int32_t fldREF = 22;
constexpr std::int32_t fldTABLE = 23;
constexpr std::int32_t fldSQLTIMESTAMP = 24;  // 16-byte SQL time-stamp record
constexpr std::int32_t fldFMTBCD = 25;        // 34-byte BCD record
constexpr std::int32_t fldWIDESTRING = 4103;  // uint16 byte count + UTF-16LE; units 1 = bytes

constexpr std::int32_t fldstNONE = 0;
constexpr std::int32_t fldstMONEY = 21;
constexpr std::int32_t fldstMEMO = 22;
constexpr std::int32_t fldstBINARY = 23;
constexpr std::int32_t fldstFMTMEMO = 24;
constexpr std::int32_t fldstOLEOBJ = 25;
constexpr std::int32_t fldstGRAPHIC = 26;
constexpr std::int32_t fldstDBSOLEOBJ = 27;
constexpr std::int32_t fldstTYPEDBINARY = 28;
constexpr std::int32_t fldstAUTOINC = 29;
constexpr std::int32_t fldstFIXED = 31;
constexpr std::int32_t fldstHMEMO = 33;
constexpr std::int32_t fldstHBINARY = 34;
constexpr std::int32_t fldstGUID = 38;
constexpr std::int32_t fldstREFERENCE = 70;

// ---- Field attribute bits (descriptor offset 68) ------------------------------------------------
constexpr std::int32_t fldAttrHIDDEN = 0x01;
constexpr std::int32_t fldAttrREADONLY = 0x02;
constexpr std::int32_t fldAttrREQUIRED = 0x04;
constexpr std::int32_t fldAttrLINK = 0x08;
constexpr std::int32_t fldAttrUNNAMED = 0x10;
constexpr std::int32_t fldAttrFIXED = 0x20;

// ---- Field descriptor ---------------------------------------------------------------------------
// 76 bytes, integers little-endian:
//   0  char[32] name, zero-terminated when shorter than 32
//  32  int32 engine field type          36  int32 subtype
//  40  int32 units 1 (width, precision)  44  int32 units 2 (decimal places)
//  48  int32 length of the value in a record buffer
//  52  int32 offset of the value in a record buffer (engine's own; callers need not read it)
//  56  int32 offset of the field's state byte in a record buffer (engine's own)
//  60  int32 field number, 1-based (engine's own)
//  64  int32 calculated flag             68  int32 attribute bits (fldAttr*)
//  72  int32 reserved, 0
#pragma pack(push, 1)
struct DSFLDDesc {
    char szName[32];
    std::int32_t iFldType;
    std::int32_t iFldSubType;
    std::int32_t iUnits1;
    std::int32_t iUnits2;
    std::int32_t iFldLen;
    std::int32_t iFldOffsInRec;
    std::int32_t iNullOffsInRec;
    std::int32_t iFieldID;
    std::int32_t bCalculated;
    std::int32_t iFldAttr;
    std::int32_t iReserved;
};
#pragma pack(pop)
static_assert(sizeof(DSFLDDesc) == 76, "field descriptor is 76 bytes");
static_assert(offsetof(DSFLDDesc, iFldType) == 32);
static_assert(offsetof(DSFLDDesc, iFldSubType) == 36);
static_assert(offsetof(DSFLDDesc, iUnits1) == 40);
static_assert(offsetof(DSFLDDesc, iUnits2) == 44);
static_assert(offsetof(DSFLDDesc, iFldLen) == 48);
static_assert(offsetof(DSFLDDesc, bCalculated) == 64);
static_assert(offsetof(DSFLDDesc, iFldAttr) == 68);

// ---- Field states in a record buffer ------------------------------------------------------------
// GetField answers one of these through its blank argument; PutBlank stores one.
constexpr std::uint32_t BLANK_NONE = 0;        // the field holds a value
constexpr std::uint32_t BLANK_NULL = 1;        // null
constexpr std::uint32_t BLANK_NOTCHANGED = 2;  // delta rows: the field was not changed

// ---- Record update status (cursor GetRecordAttribute) -------------------------------------------
constexpr std::uint8_t dsRecUnmodified = 0x00;
constexpr std::uint8_t dsRecOrg = 0x01;       // the old values of a modified record
constexpr std::uint8_t dsRecDeleted = 0x02;
constexpr std::uint8_t dsRecNew = 0x04;       // inserted
constexpr std::uint8_t dsRecModified = 0x08;

// ---- Base properties (IDSBase::GetProp / SetProp), all 32-bit unsigned ------------------------
constexpr std::uint32_t basepropREADONLY = 1;        // rw bool: no insert, modify, delete
constexpr std::uint32_t basepropLOGCHANGES = 9;      // rw bool, default 1: posts enter the change log
constexpr std::uint32_t basepropEXPANDARRAYS = 11;   // rw bool; accepted, no nested fields exist
constexpr std::uint32_t basepropXMLMODE = 19;        // rw: packet form written, see below
constexpr std::uint32_t basepropKEEPTRAILINGBLANKS = 23;  // rw bool, default 0: puts trim blanks
constexpr std::uint32_t basepropCHANGESMADE = 24;    // rw bool: set by every post and by reset
constexpr std::uint32_t basepropCHANGECOUNT = 25;    // read: entries in the change log
constexpr std::uint32_t basepropRECORDCOUNT = 26;    // read: records, unfiltered, not deleted
constexpr std::uint32_t basepropFIELDCOUNT = 27;     // read: same as GetFieldCount

constexpr std::uint32_t xmlmodeBINARY = 0;
constexpr std::uint32_t xmlmodeXML = 5;
constexpr std::uint32_t xmlmodeXMLUTF8 = 13;

// ---- Cursor properties (IDSCursor::GetProp / SetProp) --------------------------------------------
constexpr std::uint32_t curpropRECORDSIZE = 1;      // read: bytes of a record buffer
constexpr std::uint32_t curpropGETORGVALUES = 2;    // rw bool: current record gives old values;
                                                    // callers set 0 when an insert begins
constexpr std::uint32_t curpropBOOKMARKSIZE = 3;    // read: bytes of a bookmark
constexpr std::uint32_t curpropREADONLY = 4;        // read bool: the base refuses changes

// ---- Empty copy modes (IDSBase::CreateEmptyCopy) ------------------------------------------------
constexpr std::uint32_t copymodeSAMEFIELDS = 0;
constexpr std::uint32_t copymodeERRORPACKET = 2;  // error columns first, then the fields

// Names of the error columns that mode 2 puts before the fields, in this order.
inline constexpr const char* kErrorColumnNames[6] = {
    "ERROR_RECORDNO", "ERROR_RESPONSE", "ERROR_MESSAGE",
    "ERROR_CONTEXT",  "ERROR_CATEGORY", "ERROR_ERRORCODE"};
constexpr std::int32_t kErrorTextWidth = 1024;  // width of ERROR_MESSAGE and ERROR_CONTEXT

// ---- Reconcile -----------------------------------------------------------------------------------
// Called once per error row. Row images are record buffers in the layout of the reconcile base;
// a missing image is nullptr. Answers the reconcile action's ordinal + 1:
// 1 skip, 2 abort, 3 merge, 4 correct, 5 cancel, 6 refresh.
using ReconcileCallback = std::uint32_t (*)(void* clientData, std::int32_t previousError,
                                            std::uint32_t updateKind,  // dsRecNew/Deleted/Modified
                                            std::int32_t responseCode, std::int32_t errorCode,
                                            const char* message, const char* context,
                                            const std::uint8_t* updatedRow,
                                            const std::uint8_t* oldRow,
                                            const std::uint8_t* conflictRow,
                                            std::int32_t pathLength, const std::int32_t* path);

using FilterHandle = std::uint32_t;  // 0 = none

}  // namespace tarnwick::dsengine
