#pragma once
// Turning a driver result code into the message the user sees. Shared by the connection and the
// SQL datasets, which each keep their own last error text:
//   message = static part [+ "\r\n" when both] + server part, else the previous text of the same
//   object, else "SQLLink Error: Unknown Error Code '<code>'".

#include <string>
#include <vector>

#include "sqlfb/SQLDriver.h"

namespace tarnwick::sql {

// "SQLLink Error: <fixed text>" for the codes 1..100 that have one, else empty.
std::string StaticDriverErrorText(sqlfb::SQLResult code);

// "SQL Server Error: <text>" from a driver object's error message, empty when it has none.
// Works for any driver interface (they all offer GetErrorMessageLen / GetErrorMessage).
template <class DriverObject>
std::string ServerDriverErrorText(DriverObject* object) {
    if (object == nullptr) return {};
    std::uint16_t length = 0;
    if (object->GetErrorMessageLen(&length) != sqlfb::kSQLSuccess || length == 0) return {};
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    if (object->GetErrorMessage(buffer.data(), static_cast<std::uint32_t>(buffer.size())) !=
        sqlfb::kSQLSuccess)
        return {};
    buffer.back() = '\0';
    return "SQL Server Error: " + std::string(buffer.data());
}

// Puts the parts together (see above).
std::string AssembleDriverError(sqlfb::SQLResult code, const std::string& staticPart,
                                const std::string& serverPart, const std::string& previous);

}  // namespace tarnwick::sql
