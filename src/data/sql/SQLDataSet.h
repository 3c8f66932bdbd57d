#pragma once
// TSQLDataSet: an SQL dataset whose text is `CommandText`; the provider's dataset. A new text
// releases the statement; reopening with the same text runs the prepared statement again. It
// reads the index metadata of single-table texts (GetMetadata on) for key fields and order.

#include <string>

#include "data/sql/CustomSQLDataSet.h"

namespace tarnwick::sql {

class TSQLDataSet : public TCustomSQLDataSet {
public:
    explicit TSQLDataSet(TComponent* owner = nullptr);
    ~TSQLDataSet() override;

    // Fails with "Cannot perform this operation on an open dataset" while open (unless unchanged).
    void SetCommandText(const std::string& text);
    void PSSetCommandText(const std::string& text) override;

protected:
    std::string PrepareText() const override;
};

}  // namespace tarnwick::sql
