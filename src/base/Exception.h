#pragma once
// The root of every failure the system raises, and the system-level failures that several layers
// share. A failure carries one message text (UTF-8); layers add their own classes beside their code
// (EDatabaseError and EDBClient in the dataset layer, EUpdateError in the provider, ...).
// Catch `Exception` to catch everything the system raises on purpose.

#include <stdexcept>
#include <string>

namespace tarnwick {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// The silent abort: ends the running chain without any box.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

#define TARNWICK_EXCEPTION(Name, Base)                         \
    class Name : public Base {                                 \
    public:                                                    \
        explicit Name(std::string message) : Base(std::move(message)) {} \
    }

TARNWICK_EXCEPTION(EConvertError, Exception);
TARNWICK_EXCEPTION(EFOpenError, Exception);
TARNWICK_EXCEPTION(EListError, Exception);
TARNWICK_EXCEPTION(ERangeError, Exception);
TARNWICK_EXCEPTION(EVariantError, Exception);
TARNWICK_EXCEPTION(EVariantArrayCreateError, EVariantError);
TARNWICK_EXCEPTION(ERegistryException, Exception);
TARNWICK_EXCEPTION(EOleSysError, Exception);

}  // namespace tarnwick
