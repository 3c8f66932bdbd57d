#pragma once
// EDatabaseError: every failure of the data layers that is not the engine's own (EDBClient) or a
// conversion failure. `DatabaseError` raises it, with "<component name>: " in front of the message
// when a named component is given.

#include "base/Exception.h"

namespace tarnwick {

class TComponent;

class EDatabaseError : public Exception {
public:
    explicit EDatabaseError(std::string message) : Exception(std::move(message)) {}
};

// "%s: %s" with the component's name when it has one, else the message alone.
std::string ComponentMessage(const std::string& message, const TComponent* component);
[[noreturn]] void DatabaseError(const std::string& message, const TComponent* component = nullptr);

}  // namespace tarnwick
