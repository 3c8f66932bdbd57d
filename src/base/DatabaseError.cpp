#include "base/DatabaseError.h"

#include "base/Component.h"

namespace tarnwick {

std::string ComponentMessage(const std::string& message, const TComponent* component) {
    if (component == nullptr || component->Name().empty()) return message;
    return component->Name() + ": " + message;
}

void DatabaseError(const std::string& message, const TComponent* component) {
    throw EDatabaseError(ComponentMessage(message, component));
}

}  // namespace tarnwick
