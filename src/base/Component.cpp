#include "base/Component.h"

#include "base/Text.h"

namespace tarnwick {

TComponent::~TComponent() {
    while (!components_.empty()) components_.pop_back();
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty()) return nullptr;
    for (const auto& c : components_)
        if (SameTextAscii(c->Name(), name)) return c.get();
    return nullptr;
}

void TComponent::InsertComponent(std::unique_ptr<TComponent> component) {
    component->owner_ = this;
    components_.push_back(std::move(component));
}

std::unique_ptr<TComponent> TComponent::RemoveComponent(TComponent& component) {
    for (auto it = components_.begin(); it != components_.end(); ++it) {
        if (it->get() != &component) continue;
        std::unique_ptr<TComponent> released = std::move(*it);
        components_.erase(it);
        released->owner_ = nullptr;
        return released;
    }
    return nullptr;
}

}  // namespace tarnwick
