#pragma once
// The database driver boundary: the five interfaces that the driver library exports through its C
// entry point, and the codes that travel across them. Every operation answers a 16-bit result
// code (0 = success) and never throws; the caller turns codes into exceptions.
// Ownership: every object handed out through an out pointer belongs to the caller, who deletes it
// (virtual destructor); a cursor is deleted before its command, commands and the metadata object
// before their connection, connections before the driver.

#include <cstdint>

namespace tarnwick::sqlfb {

using SQLResult = std::uint16_t;

// Result codes. 1..25 carry the fixed texts of the connection's error translation.
enum : SQLResult {
    kSQLSuccess = 0,
    kSQLWarning = 1,
    kSQLNoMemory = 2,
    kSQLInvalidFieldType = 3,
    kSQLInvalidHandle = 4,
    kSQLNotSupported = 5,      // begin/commit/rollback: counts as done
    kSQLInvalidTime = 6,
    kSQLInvalidTranslation = 7,
    kSQLOutOfRange = 8,        // parameter or column number out of range
    kSQLInvalidParameter = 9,
    kSQLEof = 10,              // no more rows
    kSQLParameterNotSet = 11,
    kSQLInvalidUserPassword = 12,
    kSQLInvalidPrecision = 13,
    kSQLInvalidLength = 14,
    kSQLInvalidIsolation = 15,
    kSQLInvalidTransactionId = 16,
    kSQLDuplicateTransactionId = 17,
    kSQLTransactionActive = 19,     // a transaction is already active
    kSQLNoMultipleTransactions = 20,
    kSQLConnectionFailed = 21,
    kSQLDriverInitFailed = 22,
    kSQLLockingFailed = 23,
    kSQLInvalidRef = 24,
    kSQLNoTable = 25,
    kSQLNoMoreData = 64,
    kSQLServerError = 65,      // the server refused; the object's error message has its text
    kSQLEndOfData = 100,       // no more rows (same meaning as kSQLEof)
};

// Logical data types of parameters and columns.
enum : std::uint16_t {
    kLogUnknown = 0,
    kLogString = 1,      // zero-terminated UTF-8 text
    kLogDate = 2,        // int32 day number, 0001-01-01 = day 1
    kLogBlob = 3,        // bytes; the subtype says memo or binary
    kLogBoolean = 4,     // int16, 1 true / 0 false
    kLogInt16 = 5,
    kLogInt32 = 6,
    kLogFloat = 7,       // double
    kLogBcd = 8,         // 34-byte BCD record (TBcd)
    kLogBytes = 9,
    kLogTime = 10,       // int32 milliseconds since midnight
    kLogDateTime = 11,   // double: day number * 86400000 + milliseconds of the day
    kLogUInt16 = 12,
    kLogUInt32 = 13,
    kLogVarBytes = 15,
    kLogCursor = 17,
    kLogInt64 = 18,      // never reported for a column: BIGINT comes back as kLogBcd
    kLogUInt64 = 19,
    kLogAdt = 20,
    kLogArray = 21,
    kLogRef = 22,
    kLogTable = 23,
    kLogTimeStamp = 24,  // 16-byte SQL time-stamp record (TSQLTimeStamp)
    kLogFmtBcd = 25,     // 34-byte BCD record
};

// Subtypes (used with kLogString, kLogBlob, kLogFloat and kLogInt32).
enum : std::uint16_t {
    kSubNone = 0,
    kSubMoney = 21,        // kLogFloat
    kSubMemo = 22,         // kLogBlob: text blob
    kSubBinary = 23,       // kLogBlob: binary blob
    kSubFmtMemo = 24,
    kSubOle = 25,
    kSubGraphic = 26,
    kSubDbaseOle = 27,
    kSubTypedBinary = 28,
    kSubAutoInc = 29,      // kLogInt32
    kSubFixed = 31,        // kLogString: fixed-length CHAR
    kSubWide = 32,
    kSubHClob = 33,
    kSubHBlob = 34,
};

// Parameter direction, as the statement hands it to SetParameter.
enum : std::uint16_t {
    kParamUnknown = 0,
    kParamInput = 1,
    kParamOutput = 2,
    kParamInputOutput = 3,
    kParamResult = 4,
};

// ISQLConnection option ids. Text options take the address of a zero-terminated text as value;
// flags and numbers take the number itself.
enum SQLConnectionOption : std::uint16_t {
    kConnAutoCommit = 0,           // flag (accepted, no effect)
    kConnBlockingMode = 1,         // flag (accepted, no effect)
    kConnBlobSize = 2,             // number: -1 = whole blobs, 0 = no blob data, n = n KiB
    kConnRoleName = 3,             // text
    kConnWaitOnLocks = 4,          // flag
    kConnCommitRetain = 5,         // flag: commit keeps the transaction context
    kConnTxnIsoLevel = 6,          // 0 read committed, 1 repeatable read, 2 dirty read
    kConnNativeHandle = 7,
    kConnServerVersion = 8,
    kConnCallback = 9,             // trace callback: set to 0 (none)
    kConnHostName = 10,            // text
    kConnDatabaseName = 11,
    kConnCallbackInfo = 12,        // trace callback data: set to 0 (none)
    kConnObjectMode = 13,
    kConnMaxStatements = 14,       // get: int32 maximum active statements, 0 = no limit
    kConnServerCharSet = 15,       // text; UTF8 when never set
    kConnSqlDialect = 16,          // number
    kConnOSAuthentication = 20,    // flag (accepted, no effect)
    kConnMultipleTransaction = 22, // flag
    kConnServerPort = 23,          // text
    kConnTrimChar = 25,            // flag: strip trailing blanks of CHAR values
    kConnQualifiedName = 26,       // set: text, the table name as written in a statement
    kConnCatalogName = 27,         // get: text buffer, catalog part of the qualified name
    kConnSchemaName = 28,          // get: text buffer, schema part
    kConnObjectName = 29,          // get: text buffer, object name as the server stores it
    kConnCustomInfo = 31,          // text (accepted, no effect)
    kConnTimeout = 32,             // number: seconds a call waits for a server over the network, 0 no bound
    kConnCatalogVersion = 33,      // get: number, changes whenever what was learned of the
                                   // catalog may be stale (a catalog change ran, a reconnect)
};

// ISQLCommand option ids.
enum SQLCommandOption : std::uint16_t {
    kCommRowsetSize = 0,       // number of rows fetched per round trip (hint)
    kCommStoredProc = 7,       // flag: the text names a stored procedure
    kCommTransactionId = 9,    // transaction level of the statement (accepted, no effect)
    kCommStatementSerial = 10, // get: uint64, names the prepared statement (0 while none):
                               // equal numbers, equal statement and result columns
    kCommReleaseStatement = 11, // set: lets the prepared statement go as a freed command would
                                // (the driver may keep it for the next prepare of its text);
                                // the command takes a new Prepare afterwards
};

// ISQLMetaData option ids.
enum SQLMetaDataOption : std::uint16_t {
    kMetaCatalogName = 0,          // set: text
    kMetaSchemaName = 1,           // set: text
    kMetaSupportsTransaction = 5,  // get: int32, non-zero = yes
    kMetaObjectQuoteChar = 11,     // get: one byte, the quote character for object names
    kMetaMultipleTransactions = 15,// get: int32, non-zero = several transactions at once
};

// Index types in the "INDEX_TYPE" column of the index list (bits).
enum : std::int16_t {
    kIndexNonUnique = 1,
    kIndexUnique = 2,
    kIndexPrimary = 4,
};

// Transaction descriptor, 16 bytes, handed to begin/commit/rollback by address.
//   offset 0  uint32 transaction id (the system uses 1)
//   offset 4  uint32 global id (0)
//   offset 8  int32  isolation level: 0 read committed, 1 repeatable read, 2 dirty read
//   offset 12 uint32 custom isolation (0)
struct TTransactionDesc {
    std::uint32_t TransactionID = 1;
    std::uint32_t GlobalID = 0;
    std::int32_t IsolationLevel = 0;
    std::uint32_t CustomIsolation = 0;
};
static_assert(sizeof(TTransactionDesc) == 16, "transaction descriptor is 16 bytes");

enum : std::int32_t {
    kIsoReadCommitted = 0,
    kIsoRepeatableRead = 1,
    kIsoDirtyRead = 2,
};

// A forward-only result: column descriptions and the current row. Columns count from 1.
// Value reads return the null indicator in *isNull (1 null, 0 not null) and leave the buffer
// untouched for a null value.
class ISQLCursor {
public:
    virtual ~ISQLCursor() = default;

    virtual SQLResult GetColumnCount(std::uint16_t* count) = 0;
    // The name, at most 31 bytes, zero-terminated; `bufferSize` is the room at `name` (32 is enough).
    virtual SQLResult GetColumnName(std::uint16_t column, char* name, std::uint32_t bufferSize) = 0;
    virtual SQLResult GetColumnType(std::uint16_t column, std::uint16_t* logType, std::uint16_t* subType) = 0;
    // Bytes of the value: text columns their byte length, numbers their width, BCD 34, blobs 0.
    virtual SQLResult GetColumnLength(std::uint16_t column, std::uint32_t* length) = 0;
    // Text: the column's byte length; BCD: the number of digits; others: the width.
    virtual SQLResult GetColumnPrecision(std::uint16_t column, std::uint16_t* precision) = 0;
    // Decimal places (not negative).
    virtual SQLResult GetColumnScale(std::uint16_t column, std::int16_t* scale) = 0;
    virtual SQLResult IsNullable(std::uint16_t column, int* nullable) = 0;
    virtual SQLResult IsReadOnly(std::uint16_t column, int* readOnly) = 0;

    // Moves to the next row: kSQLSuccess, or kSQLEndOfData after the last one.
    virtual SQLResult Next() = 0;

    // Text: at most bufferSize - 1 bytes (never half a UTF-8 character) and a zero byte.
    virtual SQLResult GetString(std::uint16_t column, char* buffer, std::uint32_t bufferSize, int* isNull) = 0;
    virtual SQLResult GetShort(std::uint16_t column, std::int16_t* value, int* isNull) = 0;
    virtual SQLResult GetLong(std::uint16_t column, std::int32_t* value, int* isNull) = 0;
    virtual SQLResult GetInt64(std::uint16_t column, std::int64_t* value, int* isNull) = 0;
    virtual SQLResult GetDouble(std::uint16_t column, double* value, int* isNull) = 0;
    // Writes a 34-byte BCD record.
    virtual SQLResult GetBcd(std::uint16_t column, void* bcd, int* isNull) = 0;
    // Writes a 16-byte SQL time-stamp record.
    virtual SQLResult GetTimeStamp(std::uint16_t column, void* timeStamp, int* isNull) = 0;
    virtual SQLResult GetTime(std::uint16_t column, std::int32_t* milliseconds, int* isNull) = 0;
    virtual SQLResult GetDate(std::uint16_t column, std::int32_t* dayNumber, int* isNull) = 0;
    // Raw bytes, at most bufferSize; *length gets the bytes written.
    virtual SQLResult GetBytes(std::uint16_t column, void* buffer, std::uint32_t bufferSize,
                               std::uint32_t* length, int* isNull) = 0;
    // Blob size of the current row (0 and *isNull = 1 for null), then the blob itself: at most
    // `length` bytes are copied.
    virtual SQLResult GetBlobSize(std::uint16_t column, std::uint32_t* length, int* isNull) = 0;
    virtual SQLResult GetBlob(std::uint16_t column, void* buffer, int* isNull, std::uint32_t length) = 0;

    // Length of the last error message in bytes (without the terminator), then the message.
    virtual SQLResult GetErrorMessageLen(std::uint16_t* length) = 0;
    virtual SQLResult GetErrorMessage(char* buffer, std::uint32_t bufferSize) = 0;
};

// One statement: prepare once, bind, execute as often as wanted.
class ISQLCommand {
public:
    virtual ~ISQLCommand() = default;

    virtual SQLResult SetOption(std::uint16_t option, std::intptr_t value) = 0;
    virtual SQLResult GetOption(std::uint16_t option, void* buffer, std::int32_t maxLength,
                                std::int32_t* length) = 0;
    // position counts from 1 in "?" order; child position is 0. A null value has no buffer.
    // Buffer forms by logical type: see the enum above; text is `length` bytes including a zero
    // terminator; blobs are `length` bytes, not terminated.
    virtual SQLResult SetParameter(std::uint16_t position, std::uint16_t childPosition,
                                   std::uint16_t paramType, std::uint16_t logType,
                                   std::uint16_t subType, std::int32_t precision,
                                   std::int32_t scale, std::uint32_t length, const void* buffer,
                                   int isNull) = 0;
    // "?" marks the parameters.
    virtual SQLResult Prepare(const char* sql, std::uint16_t paramCount) = 0;
    // *cursor gets a new cursor for a statement with a result, else null.
    virtual SQLResult Execute(ISQLCursor** cursor) = 0;
    virtual SQLResult ExecuteImmediate(const char* sql, ISQLCursor** cursor) = 0;
    // Rows changed by the last INSERT, UPDATE or DELETE.
    virtual SQLResult GetRowsAffected(std::uint32_t* rows) = 0;
    // Ends the execution (closes an open cursor); the statement stays prepared.
    virtual SQLResult Close() = 0;

    virtual SQLResult GetErrorMessageLen(std::uint16_t* length) = 0;
    virtual SQLResult GetErrorMessage(char* buffer, std::uint32_t bufferSize) = 0;
};

// Catalog reads.
class ISQLMetaData {
public:
    virtual ~ISQLMetaData() = default;

    virtual SQLResult SetOption(std::uint16_t option, std::intptr_t value) = 0;
    virtual SQLResult GetOption(std::uint16_t option, void* buffer, std::int32_t maxLength,
                                std::int32_t* length) = 0;
    // The index list of a table, one row per index column in index and position order, with the
    // columns "RECNO", "CATALOG_NAME", "SCHEMA_NAME", "TABLE_NAME", "INDEX_NAME", "COLUMN_NAME",
    // "COLUMN_POSITION", "PKEY_NAME", "INDEX_TYPE" (int16 bits kIndex*), "SORT_ORDER" ("A"/"D"),
    // "FILTER". Look columns up by name. `indexType` 0 = all indexes.
    virtual SQLResult GetIndices(const char* tableName, std::uint32_t indexType, ISQLCursor** cursor) = 0;

    virtual SQLResult GetErrorMessageLen(std::uint16_t* length) = 0;
    virtual SQLResult GetErrorMessage(char* buffer, std::uint32_t bufferSize) = 0;
};

// One attachment to a database.
class ISQLConnection {
public:
    virtual ~ISQLConnection() = default;

    // database: a path (opened embedded), "host:path" or "host/port:path" (TCP).
    virtual SQLResult Connect(const char* database, const char* user, const char* password) = 0;
    virtual SQLResult Disconnect() = 0;
    virtual SQLResult GetSQLCommand(ISQLCommand** command) = 0;
    virtual SQLResult GetSQLMetaData(ISQLMetaData** metaData) = 0;
    virtual SQLResult SetOption(std::uint16_t option, std::intptr_t value) = 0;
    virtual SQLResult GetOption(std::uint16_t option, void* buffer, std::int32_t maxLength,
                                std::int32_t* length) = 0;
    virtual SQLResult BeginTransaction(const TTransactionDesc* desc) = 0;
    virtual SQLResult Commit(const TTransactionDesc* desc) = 0;
    virtual SQLResult Rollback(const TTransactionDesc* desc) = 0;

    virtual SQLResult GetErrorMessageLen(std::uint16_t* length) = 0;
    virtual SQLResult GetErrorMessage(char* buffer, std::uint32_t bufferSize) = 0;
};

class ISQLDriver {
public:
    virtual ~ISQLDriver() = default;
    virtual SQLResult GetSQLConnection(ISQLConnection** connection) = 0;
    virtual SQLResult SetOption(std::uint16_t option, std::intptr_t value) = 0;
    virtual SQLResult GetOption(std::uint16_t option, void* buffer, std::int32_t maxLength,
                                std::int32_t* length) = 0;
};

// The entry point: loads the client library `vendorLib` and answers the driver object.
// Non-zero when the client library cannot be loaded or lacks what the driver needs.
using GetDriverFunc = SQLResult (*)(const char* vendorLib, const char* resourceFile, ISQLDriver** driver);

}  // namespace tarnwick::sqlfb

extern "C" tarnwick::sqlfb::SQLResult getSQLDriverFIREBIRD(const char* vendorLib, const char* resourceFile,
                                                          tarnwick::sqlfb::ISQLDriver** driver);
