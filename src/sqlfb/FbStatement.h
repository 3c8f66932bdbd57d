#pragma once
// The state of one prepared statement, shared by the command that prepared it and the cursor
// over its rows: the server handle, the described columns with their buffers, the input area.

#include <ibase.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sqlfb/FbDriver.h"
#include "sqlfb/FbHelpers.h"
#include "sqlfb/FbWatchdog.h"

namespace tarnwick::sqlfb::detail {

struct Column {
    std::string name;
    short sqltype = 0;  // without the nullable bit
    short sqlscale = 0;
    short sqlsubtype = 0;
    short sqllen = 0;
    bool nullable = false;
    bool readOnly = false;
    std::uint16_t logType = kLogUnknown;
    std::uint16_t subType = kSubNone;
    std::uint16_t precision = 0;
    std::int16_t scale = 0;
    std::uint32_t length = 0;
    std::vector<char> data;
    short indicator = 0;
    // The blob of the current row, read whole on the first request.
    std::vector<char> blob;
    std::uint64_t blobRow = 0;
};

// Fills `c` from the server's description of an output column and sizes its buffer.
void DescribeColumn(const XSQLVAR& var, Column& c);

// The caller's parameter an input variable of the prepared text takes (positions from 0), and
// whether it takes the upper end of a time comparison widened to a range (see FbCommand).
struct ParamSlot {
    std::uint16_t position = 0;
    bool upperEnd = false;
};

struct FbStatement {
    std::shared_ptr<FbAttachment> att;
    std::string sql;  // the prepared text
    isc_stmt_handle handle = 0;
    unsigned epoch = 0;
    bool prepared = false;
    int type = 0;
    SqlDa out;
    std::vector<Column> columns;
    SqlDa in;
    std::vector<XSQLVAR> inDescribed;  // input variables as the server described them
    std::vector<ParamSlot> slots;      // one per input variable when the text was rewritten; else empty
    std::uint16_t paramCount = 0;  // as given to the prepare of `sql`
    bool cursorOpen = false;
    bool lostByClose = false;  // the handle went with a cursor the server would not close
    bool inReadTransaction = false;  // the open cursor runs in the attachment's read transaction
    unsigned generation = 0;  // raised whenever the open cursor ends
    std::uint64_t row = 0;    // raised at every fetched row
    std::uint64_t serial = 0;  // given at every prepare, never twice in a process

    bool HandleValid() const { return handle != 0 && att->Attached() && att->epoch == epoch; }

    // Ends the open cursor. When the server refuses, answers its message and drops the handle:
    // the server's cursor state is not known then, and a handle whose cursor is still open would
    // refuse every later execute. The statement is then prepared again before it next runs.
    std::string CloseCursor() {
        const bool wasOpen = cursorOpen && HandleValid();
        std::string error;
        if (wasOpen) {
            const WatchedCall watch(*att->api, att->db, att->WatchSeconds(), &att->linkClosed);
            ISC_STATUS_ARRAY status;
            if (att->api->dsql_free_statement(status, &handle, DSQL_close) != 0) {
                error = att->StatusText(status);
                ISC_STATUS_ARRAY ignored;
                att->api->dsql_free_statement(ignored, &handle, DSQL_drop);
                handle = 0;
                prepared = false;
                lostByClose = true;
            }
        }
        cursorOpen = false;
        ++generation;
        if (wasOpen && inReadTransaction) att->ReadCursorClosed();
        inReadTransaction = false;
        return error;
    }

    ~FbStatement() {
        CloseCursor();
        if (HandleValid()) {
            const WatchedCall watch(*att->api, att->db, att->WatchSeconds(), &att->linkClosed);
            ISC_STATUS_ARRAY status;
            att->api->dsql_free_statement(status, &handle, DSQL_drop);
        }
    }
};

}  // namespace tarnwick::sqlfb::detail
