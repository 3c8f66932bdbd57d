#include "data/clientdataset/FieldDefs.h"

#include "base/Exception.h"
#include "base/Text.h"

namespace tarnwick {

TFieldDef::~TFieldDef() = default;

TFieldDefs& TFieldDef::ChildDefs() {
    if (!children_) children_ = std::make_unique<TFieldDefs>(this);
    return *children_;
}

bool TFieldDef::HasChildDefs() const { return children_ && children_->Count() > 0; }

TFieldDef& TFieldDefs::Items(int index) const {
    if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
    return *items_[static_cast<std::size_t>(index)];
}

TFieldDef& TFieldDefs::AddFieldDef() {
    items_.push_back(std::make_unique<TFieldDef>(this));
    return *items_.back();
}

TFieldDef& TFieldDefs::Add(std::string name, TFieldType type, int size, bool required) {
    TFieldDef& def = AddFieldDef();
    def.Name = std::move(name);
    def.DataType = type;
    def.Size = size;
    if (required) def.Attributes.Include(faRequired);
    return def;
}

int TFieldDefs::IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (SameTextAscii(items_[i]->Name, name)) return static_cast<int>(i);
    return -1;
}

TFieldDef* TFieldDefs::Find(std::string_view name) const {
    const int index = IndexOf(name);
    return index < 0 ? nullptr : items_[static_cast<std::size_t>(index)].get();
}

std::string TFieldDefs::UniqueName(std::string_view name) const {
    std::string candidate(name);
    for (int counter = 1; IndexOf(candidate) >= 0; ++counter)
        candidate = Format("%.*s_%d", static_cast<int>(name.size()), name.data(), counter);
    return candidate;
}

}  // namespace tarnwick
