#pragma once
// TSQLQuery: an SQL dataset whose text is a list of lines (`SQL`). Every change of the lines
// closes the dataset, releases the statement and parses the parameters anew. Created with
// NoMetadata on and GetMetadata off: a query never reads index metadata.

#include <string>
#include <vector>

#include "data/sql/CustomSQLDataSet.h"

namespace tarnwick::sql {

class TSQLQuery : public TCustomSQLDataSet {
public:
    explicit TSQLQuery(TComponent* owner = nullptr);
    ~TSQLQuery() override;

    const std::vector<std::string>& SQL() const { return lines_; }
    void SetSQL(std::vector<std::string> lines);
    void ClearSQL();
    void AddSQL(std::string line);

private:
    void SQLChanged();

    std::vector<std::string> lines_;
};

}  // namespace tarnwick::sql
