#pragma once
// TParam / TParams: the parameter list of an SQL dataset and of ExecuteStatement. A TParams owns
// its TParam items (in marker order); a TParam holds its name, data type, direction and value.
// `ParamDriverValue` turns one parameter into what the driver's SetParameter takes.

#include "base/BlockRecycler.h"
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/clientdataset/FieldType.h"
#include "data/clientdataset/Variant.h"

namespace tarnwick::sql {

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam {
public:
    TParam() = default;
    TParam(std::string name, TParamType paramType = ptUnknown) : name_(std::move(name)), paramType_(paramType) {}

    static void* operator new(std::size_t size) { return RecycledAllocate(size); }
    static void operator delete(void* block, std::size_t size) noexcept { RecycledFree(block, size); }

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    TFieldType DataType() const { return dataType_; }
    void SetDataType(TFieldType type) { dataType_ = type; }
    TParamType ParamType() const { return paramType_; }
    void SetParamType(TParamType type) { paramType_ = type; }

    const TVariant& Value() const { return value_; }
    // Sets the value; a parameter without a data type takes the one that fits the value's kind.
    void SetValue(const TVariant& value);
    // Sets the value and the data type together.
    void SetValue(const TVariant& value, TFieldType type) {
        value_ = value;
        dataType_ = type;
    }
    void SetValue(TVariant&& value, TFieldType type) {
        value_ = std::move(value);
        dataType_ = type;
    }
    void Clear() { value_ = TVariant::Null(); }
    bool IsNull() const { return value_.IsNull() || value_.IsEmpty(); }

    // Copies name, type, direction and value.
    void Assign(const TParam& other) { *this = other; }

private:
    std::string name_;
    TFieldType dataType_ = ftUnknown;
    TParamType paramType_ = ptUnknown;
    TVariant value_ = TVariant::Null();
};

class TParams {
public:
    TParams() = default;
    TParams(const TParams& other) { Assign(other); }
    TParams& operator=(const TParams& other) {
        if (this != &other) Assign(other);
        return *this;
    }

    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    // Room for `count` parameters, so adding that many moves nothing.
    void Reserve(int count) { items_.reserve(static_cast<std::size_t>(count)); }
    TParam& operator[](int index) { return *items_.at(static_cast<std::size_t>(index)); }
    const TParam& operator[](int index) const { return *items_.at(static_cast<std::size_t>(index)); }

    TParam& Add(std::string name, TParamType type = ptUnknown);
    // Adds an unnamed input parameter with a value and its data type (ExecuteStatement's lists).
    TParam& AddValue(const TVariant& value, TFieldType type);
    TParam& AddValue(TVariant&& value, TFieldType type);
    void Clear() { items_.clear(); }
    // Keeps the first `count` parameters (fewer: nothing changes).
    void Truncate(int count) {
        if (count >= 0 && static_cast<std::size_t>(count) < items_.size()) items_.resize(static_cast<std::size_t>(count));
    }
    // The first parameter of that name (ASCII letters without case), or null.
    TParam* FindParam(const std::string& name);
    // Like FindParam; fails with "Parameter '%s' not found".
    TParam& ParamByName(const std::string& name);
    void Assign(const TParams& other);
    // Copies the type and value of each same-named parameter of `old` into this list.
    void AssignValues(const TParams& old);

private:
    std::vector<std::unique_ptr<TParam>> items_;
};

// Driver form of one parameter value. `LogType` 0 means the data type has no driver type.
struct TParamDriverValue {
    std::uint16_t LogType = 0;
    std::uint16_t SubType = 0;
    std::int32_t Precision = 0;
    std::int32_t Scale = 0;
    std::uint32_t Length = 0;
    std::vector<std::uint8_t> Buffer;  // empty with a null value
    bool IsNull = true;
};

// Logical type and subtype of a data type (0 for types without one).
void FieldTypeToLogical(TFieldType type, std::uint16_t& logType, std::uint16_t& subType);

// The driver form of `param`: logical type and subtype, data length, the value bytes, precision
// and scale. Fails with "No value for parameter '%s'" when the data type has no logical type and
// with "Field '%s' is of an unsupported type" for types without a data length.
TParamDriverValue ParamDriverValue(const TParam& param);
// The same into `out`, whose buffer keeps its room for the next parameter.
void ParamDriverValue(const TParam& param, TParamDriverValue& out);

}  // namespace tarnwick::sql
