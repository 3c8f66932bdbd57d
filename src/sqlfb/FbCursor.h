#pragma once
// Cursors: over the rows of an executed query, and over rows the driver made itself.

#include <ibase.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sqlfb/SQLDriver.h"

namespace tarnwick::sqlfb::detail {

struct FbStatement;

// A value of a row the driver made itself.
struct MemoryCell {
    bool isNull = false;
    std::string text;
    std::int32_t number = 0;
};
struct MemoryColumn {
    const char* name;
    std::uint16_t logType;
    std::uint32_t width;
};

// The cursor over the open result of `statement`, running in `tr` (blobs are read in it).
ISQLCursor* NewFbCursor(std::shared_ptr<FbStatement> statement, isc_tr_handle tr);
ISQLCursor* NewMemoryCursor(std::vector<MemoryColumn> columns, std::vector<std::vector<MemoryCell>> rows);

}  // namespace tarnwick::sqlfb::detail
