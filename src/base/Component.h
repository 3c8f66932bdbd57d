#pragma once
// TComponent: a named object that may own other components. An owner frees what it owns when it
// is destroyed, in reverse order of insertion; components find their peers by name through their
// owner (a command dataset finds its provider this way). A component is created either free
// (owner null, the caller holds it) or owned (the owner holds it; use `TComponent::Create`).

#include <memory>
#include <string>
#include <vector>

namespace tarnwick {

class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
    virtual ~TComponent();

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    // Creates a component of class T owned by `owner` and answers it; the owner frees it.
    template <class T, class... Args>
    static T& Create(TComponent& owner, Args&&... args) {
        auto made = std::make_unique<T>(&owner, std::forward<Args>(args)...);
        T& ref = *made;
        owner.InsertComponent(std::move(made));
        return ref;
    }

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    TComponent* Owner() const { return owner_; }

    // Owned components, in insertion order.
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent& Component(int index) const { return *components_.at(static_cast<size_t>(index)); }

    // The owned component of that name (ASCII letters compared without case), or null.
    TComponent* FindComponent(const std::string& name) const;

    void InsertComponent(std::unique_ptr<TComponent> component);
    // Releases ownership of `component` and hands it back (null when not owned here).
    std::unique_ptr<TComponent> RemoveComponent(TComponent& component);

private:
    TComponent* owner_;
    std::string name_;
    std::vector<std::unique_ptr<TComponent>> components_;
};

}  // namespace tarnwick
