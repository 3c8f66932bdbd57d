#pragma once
// TFilterOptions: the `FilterOptions` set of a dataset. `foCaseInsensitive` makes text comparisons
// ignore ASCII letter case; `foNoPartialCompare` switches off the trailing-"*" prefix match.
// A plain value type: copy it freely; the empty set is the default of every dataset.

#include <cstdint>

namespace tarnwick {

enum TFilterOption : std::uint8_t {
    foCaseInsensitive = 1u << 0,
    foNoPartialCompare = 1u << 1,
};

class TFilterOptions {
public:
    constexpr TFilterOptions() = default;
    constexpr TFilterOptions(TFilterOption option) : bits_(option) {}  // NOLINT: a set of one

    constexpr bool Contains(TFilterOption option) const { return (bits_ & option) != 0; }
    constexpr TFilterOptions& Include(TFilterOption option) {
        bits_ = static_cast<std::uint8_t>(bits_ | option);
        return *this;
    }
    constexpr TFilterOptions& Exclude(TFilterOption option) {
        bits_ = static_cast<std::uint8_t>(bits_ & ~option);
        return *this;
    }
    constexpr bool Empty() const { return bits_ == 0; }

    friend constexpr TFilterOptions operator|(TFilterOptions a, TFilterOptions b) {
        TFilterOptions out;
        out.bits_ = static_cast<std::uint8_t>(a.bits_ | b.bits_);
        return out;
    }
    friend constexpr bool operator==(TFilterOptions a, TFilterOptions b) = default;

private:
    std::uint8_t bits_ = 0;
};

constexpr TFilterOptions operator|(TFilterOption a, TFilterOption b) {
    return TFilterOptions(a) | TFilterOptions(b);
}

}  // namespace tarnwick
