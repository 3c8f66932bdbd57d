#include "data/clientdataset/filter/DataSetFilter.h"

#include "data/clientdataset/DataSet.h"
#include "data/clientdataset/filter/FilterExpr.h"

namespace tarnwick {

namespace {

TFilterValueKind KindOf(TFieldType type) {
    switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftGuid: return TFilterValueKind::vkText;
    case ftSmallint: return TFilterValueKind::vkSmallint;
    case ftWord: return TFilterValueKind::vkWord;
    case ftInteger:
    case ftAutoInc: return TFilterValueKind::vkInteger;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob: return TFilterValueKind::vkBinary;
    default: return TFilterValueKind::vkOther;
    }
}

class TDataSetFields : public IFilterFields {
public:
    explicit TDataSetFields(const TDataSet& dataset) : dataset_(dataset) {}

    const TFilterField* FindFilterField(std::string_view name) const override {
        const TField* field = dataset_.FindFieldNamed(name);
        if (field == nullptr) return nullptr;
        found_ = FilterFieldOf(*field);
        return &found_;
    }
    const TComponent* FilterDataset() const override { return &dataset_; }

private:
    const TDataSet& dataset_;
    mutable TFilterField found_;  // the parser reads it before it asks again
};

}  // namespace

TFilterField FilterFieldOf(const TField& field) {
    TFilterField out;
    out.FieldName = field.FieldName();
    out.FieldNo = field.FieldNo();
    out.Kind = KindOf(field.DataType());
    // Calculated and lookup values exist only in the dataset, never in the engine's records.
    out.Calculated = field.FieldKind() != fkData;
    return out;
}

std::vector<std::uint8_t> BuildFilterImage(const TDataSet& dataset, std::string_view text,
                                           TFilterOptions options) {
    return BuildFilterImage(TDataSetFields(dataset), text, options);
}

}  // namespace tarnwick
