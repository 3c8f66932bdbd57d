#pragma once
// TFilterExpr: writes a parsed filter condition as the filter image, the one byte block the
// dataset engine's cursor takes as a filter. `BuildFilterImage` is the whole path from filter text
// to image; the caller (the dataset) then drops its old filter and adds the image to its cursor.
// The image layout is written down beside the code that builds it (FilterExpr.cpp).

#include "data/clientdataset/filter/ExprParser.h"
#include "data/clientdataset/filter/FilterOptions.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnwick {

class TFilterExpr {
public:
    explicit TFilterExpr(TFilterOptions options) : options_(options) {}

    // The image of a comparison node as the parser builds it. Raises EConvertError for an integer
    // field compared with a constant that is no integer, EDatabaseError for a constant out of a
    // 16-bit field's range or a field type that has no constant form.
    std::vector<std::uint8_t> Build(const TExprNode& root) const;

    // Longest string constant written into the image, in characters (a zero byte follows).
    static constexpr std::size_t kMaxStringChars = 255;

private:
    TFilterOptions options_;
};

// Parses `text` against the fields and answers the filter image.
std::vector<std::uint8_t> BuildFilterImage(const IFilterFields& fields, std::string_view text,
                                           TFilterOptions options);

}  // namespace tarnwick
