#pragma once
// The filter image of a dataset's `Filter` text: the text is read against the dataset's own
// fields (found as `FindFieldNamed` finds them). The dataset is only read, and only during the
// call; the answer is the image the dataset then adds to its engine cursor.

#include "data/clientdataset/filter/ExprParser.h"
#include "data/clientdataset/filter/FilterOptions.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnwick {

class TDataSet;
class TField;

// Raises EDatabaseError (field not found with the dataset's name in front, and the parser's other
// failures) or EConvertError; nothing is changed on the dataset.
std::vector<std::uint8_t> BuildFilterImage(const TDataSet& dataset, std::string_view text,
                                           TFilterOptions options);

// How a filter compares the field's values.
TFilterField FilterFieldOf(const TField& field);

}  // namespace tarnwick
