#pragma once
// TFieldDef / TFieldDefs: the field definitions of a dataset, one per column of its source, built
// by the dataset subclass at open (from packet descriptors or driver column descriptions). The
// definitions own their child definitions (ADT members, array elements). Fields are created from
// the definitions by TDataSet::CreateFields.

#include "base/BlockRecycler.h"
#include "data/clientdataset/FieldType.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class TFieldDefs;

class TFieldDef {
public:
    explicit TFieldDef(TFieldDefs* owner) : owner_(owner) {}
    TFieldDef(const TFieldDef&) = delete;
    TFieldDef& operator=(const TFieldDef&) = delete;
    ~TFieldDef();

    static void* operator new(std::size_t size) { return RecycledAllocate(size); }
    static void operator delete(void* block, std::size_t size) noexcept { RecycledFree(block, size); }

    std::string Name;
    TFieldType DataType = ftUnknown;
    int Size = 0;         // characters or bytes; decimal places of BCD types
    int Precision = 0;    // digits of BCD types
    int FieldNo = 0;      // running number from 1 (0: none)
    TFieldAttributes Attributes;
    bool InternalCalcField = false;

    bool Required() const { return Attributes.Contains(faRequired); }
    // The definitions below this one (created on first use).
    TFieldDefs& ChildDefs();
    bool HasChildDefs() const;
    // The definitions list this definition belongs to.
    TFieldDefs* Collection() const { return owner_; }

private:
    TFieldDefs* owner_;
    std::unique_ptr<TFieldDefs> children_;
};

class TFieldDefs {
public:
    explicit TFieldDefs(TFieldDef* parent = nullptr) : parent_(parent) {}
    TFieldDefs(const TFieldDefs&) = delete;
    TFieldDefs& operator=(const TFieldDefs&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    // Raises EListError "List index out of bounds (%d)" outside 0 .. Count-1.
    TFieldDef& Items(int index) const;
    TFieldDef& operator[](int index) const { return Items(index); }

    // Appends a definition with exactly this name (callers make names unique first).
    TFieldDef& AddFieldDef();
    TFieldDef& Add(std::string name, TFieldType type, int size = 0, bool required = false);
    void Clear() { items_.clear(); }

    // Lookup with ASCII letters folded; -1 / null when absent.
    int IndexOf(std::string_view name) const;
    TFieldDef* Find(std::string_view name) const;
    // `name` when no definition of that name exists here, else "name_1", "name_2", ...
    std::string UniqueName(std::string_view name) const;

    TFieldDef* ParentDef() const { return parent_; }

private:
    TFieldDef* parent_;
    std::vector<std::unique_ptr<TFieldDef>> items_;
};

}  // namespace tarnwick
