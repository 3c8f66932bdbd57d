#pragma once
// Test helpers for the filter parser: a field set standing in for a dataset, and a reader that
// turns a filter image back into a short text ("=(#2 MASTERBILLID, str 'B001')") after checking
// its header and offsets, so expected images read as text.

#include "base/Component.h"
#include "data/clientdataset/filter/ExprParser.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::filtertest {

class TFieldList : public IFilterFields {
public:
    explicit TFieldList(std::vector<TFilterField> fields, std::string datasetName = "CDS_Mast");
    const TFilterField* FindFilterField(std::string_view name) const override;
    const TComponent* FilterDataset() const override { return &dataset_; }

private:
    std::vector<TFilterField> fields_;
    TComponent dataset_;
};

// A detail packet's fields: LINENO, MASTERBILLID (field 2), and one of each kind the parser
// treats apart.
const TFieldList& DetailFields();

// The image as text; adds a test failure and answers "<bad ...>" when the layout is inconsistent.
std::string DescribeImage(const std::vector<std::uint8_t>& image);

}  // namespace tarnwick::filtertest
