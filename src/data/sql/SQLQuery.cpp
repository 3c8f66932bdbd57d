#include "data/sql/SQLQuery.h"

#include "data/sql/ParamMarkers.h"

namespace tarnwick::sql {

TSQLQuery::TSQLQuery(TComponent* owner) : TCustomSQLDataSet(owner) {
    SetNoMetadata(true);
    SetGetMetadata(false);
}

TSQLQuery::~TSQLQuery() {
    try {
        Close();
    } catch (...) {
        // Nothing to report from a destructor; the base releases the statement.
    }
}

void TSQLQuery::SetSQL(std::vector<std::string> lines) {
    lines_ = std::move(lines);
    SQLChanged();
}

void TSQLQuery::ClearSQL() {
    lines_.clear();
    SQLChanged();
}

void TSQLQuery::AddSQL(std::string line) {
    lines_.push_back(std::move(line));
    SQLChanged();
}

void TSQLQuery::SQLChanged() {
    Close();
    SetPrepared(false);
    std::string text;
    for (const std::string& line : lines_) text += line + "\r\n";
    if (ParamCheck()) {
        TParams fresh;
        for (const std::string& name : ParseParamNames(text)) fresh.Add(name);
        fresh.AssignValues(Params());
        Params().Assign(fresh);
    }
    SetCommandTextRaw(std::move(text));
    SetNativeCommand({});
}

}  // namespace tarnwick::sql
