#include "data/sql/SQLDataSet.h"

#include "base/Text.h"
#include "data/sql/ParamMarkers.h"

namespace tarnwick::sql {

TSQLDataSet::TSQLDataSet(TComponent* owner) : TCustomSQLDataSet(owner) {
    SetNoMetadata(false);
    SetGetMetadata(true);
}

TSQLDataSet::~TSQLDataSet() {
    try {
        Close();
    } catch (...) {
        // Nothing to report from a destructor; the base releases the statement.
    }
}

void TSQLDataSet::SetCommandText(const std::string& text) {
    if (text == CommandText()) return;
    CheckInactive();
    SetPrepared(false);
    SetNativeCommand({});
    ReleaseStatement();
    SetSortFieldNames({});
    SetCommandTextRaw({});
    Params().Clear();

    std::size_t start = 0;
    while (start < text.size() && static_cast<unsigned char>(text[start]) <= ' ') ++start;
    SetCommandTextRaw(text.substr(start));

    if (SQLConnection() == nullptr || CommandText().empty() || !ParamCheck() || CommandType() == ctTable)
        return;
    SetNativeCommand(CommandText());
    TParams parsed;
    for (const std::string& name : ParseParamNames(CommandText())) parsed.Add(name, ptInput);
    if (parsed.Empty()) return;
    // The driver knows only positional markers: a text with ":name" markers is prepared with
    // " ? " in their place.
    SetNativeCommand(ReplaceParamMarkers(CommandText(), SQLConnection()->QuoteChar()));
    // Params was cleared above, so no earlier values are left to carry over.
    Params().Assign(parsed);
}

void TSQLDataSet::PSSetCommandText(const std::string& text) {
    if (!text.empty()) SetCommandText(text);
}

std::string TSQLDataSet::PrepareText() const {
    if (SortFieldNames().empty()) return NativeCommand();
    if (AsciiLowerCase(CommandText()).find(" order by ") != std::string::npos) return NativeCommand();
    return NativeCommand() + " order by " + SortFieldNames();
}

}  // namespace tarnwick::sql
