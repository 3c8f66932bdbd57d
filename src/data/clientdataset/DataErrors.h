#pragma once
// Failures raised by the dataset layer beside EDatabaseError: EDBClient carries a failure of the
// dataset engine with the engine's own text and status; EBcdException a number that has no BCD
// form. `CheckEngineStatus` is the one place where engine statuses become exceptions.

#include "base/DatabaseError.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tarnwick {

class EDBClient : public EDatabaseError {
public:
    EDBClient(std::string message, std::int32_t errorCode)
        : EDatabaseError(std::move(message)), errorCode_(errorCode) {}
    std::int32_t ErrorCode() const { return errorCode_; }

private:
    std::int32_t errorCode_;
};

TARNWICK_EXCEPTION(EBcdException, Exception);

}  // namespace tarnwick
