// The generated INSERT, UPDATE, DELETE and conflict-select statements. Each statement is a list of
// lines; the text handed to the database ends every line, the last one too, with CR LF.
//
// Line formats (P = table prefix, Q = quote character, C = column name, T = quoted table name,
// A = alias, which is empty unless object fields are present):
//   update T A set          insert into T            delete from T A         select
//    PQCQ = ?,               (PQCQ, PQCQ)             where                   PQCQ,
//   where                   values                    PQCQ = ? and           from T A
//    PQCQ = ? and            (?, ?)                   PQCQ is null and       where ...
// The last SET line loses its comma, the last WHERE line its " and", the last select line its comma.

#include "data/provider/SQLResolver.h"

#include "base/DatabaseError.h"

#include <algorithm>

namespace tarnwick::provider {

using sql::TParam;

namespace {

constexpr int kMaxComparedDataSize = 8192;

std::string QuotedColumn(const TSQLInfo& info, const TResolverField& field) {
    return info.TablePrefix + info.QuoteChar + field.Name + info.QuoteChar;
}

// " PQCQ" followed by `tail`, made in one piece.
std::string ColumnLine(const TSQLInfo& info, const TResolverField& field, std::string_view tail) {
    std::string line;
    line.reserve(1 + info.TablePrefix.size() + 2 * info.QuoteChar.size() + field.Name.size() + tail.size());
    line += ' ';
    line += info.TablePrefix;
    line += info.QuoteChar;
    line += field.Name;
    line += info.QuoteChar;
    line += tail;
    return line;
}

std::string Alias(const TSQLInfo& info) { return info.HasObjectFields ? "A" : ""; }

bool IsObjectType(TFieldType type) {
    return type == ftUnknown || type == ftCursor || type == ftADT || type == ftArray ||
           type == ftReference || type == ftDataSet;
}

bool OldValueIsNull(const TSQLInfo& info, const TResolverField& field) {
    const TVariant& v = field.OldValue;
    if (v.IsNull() || v.IsEmpty()) return true;
    // A dataset that is not SQL-based stores no null text: an empty one stands for it.
    return !info.IsSQLBased && field.DataType == ftString && v.VarType() == varString && v.Text().empty();
}

void DropTail(std::string& line, std::size_t count) { line.resize(line.size() > count ? line.size() - count : 0); }

void AppendWhere(TGeneratedStatement& statement, const TSQLInfo& info,
                 const std::vector<TResolverField>& fields, TUpdateMode mode) {
    statement.Lines.push_back("where");
    bool any = false;
    for (const TResolverField& field : fields) {
        if (!FieldCompared(field, mode)) continue;
        any = true;
        if (OldValueIsNull(info, field)) {
            statement.Lines.push_back(ColumnLine(info, field, " is null and"));
            continue;
        }
        statement.Lines.push_back(ColumnLine(info, field, " = ? and"));
        statement.Params.push_back(MakeParam(field, field.OldValue));
    }
    if (!any) DatabaseError("Unable to find record.  No key specified");
    DropTail(statement.Lines.back(), 4);
}

}  // namespace

std::string TGeneratedStatement::Text() const {
    std::size_t size = 0;
    for (const std::string& line : Lines) size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const std::string& line : Lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string QuoteTableName(const std::string& table, const std::string& quote, bool sqlBased) {
    if (table.empty()) return {};
    const auto isQuote = [](char c) { return c == '"' || c == '\'' || c == '`'; };
    if (isQuote(table.front()) || isQuote(table.back())) return table;
    if (quote.empty()) return table;
    if (!sqlBased) return quote + table + quote;
    // At most three parts: further dots stay inside the last one.
    std::string quoted;
    std::size_t start = 0;
    for (int part = 0; part < 3; ++part) {
        std::size_t dot = part < 2 ? table.find('.', start) : std::string::npos;
        if (dot == std::string::npos) dot = table.size();
        if (part > 0) quoted += '.';
        quoted += quote + table.substr(start, dot - start) + quote;
        if (dot >= table.size()) break;
        start = dot + 1;
    }
    return quoted;
}

bool FieldWritten(const TResolverField& field) {
    if (!field.ProviderFlags.Contains(pfInUpdate) || field.ProviderFlags.Contains(pfHidden)) return false;
    if (IsObjectType(field.DataType) || field.DataType == ftAutoInc) return false;
    if (field.ReadOnly || field.FieldKind != fkData || field.ServerCalc) return false;
    return !field.NewValue.IsEmpty();
}

bool FieldCompared(const TResolverField& field, TUpdateMode mode, bool withSizeLimit) {
    if (IsObjectType(field.DataType) || field.IsBlob) return false;
    if (field.FieldKind != fkData || field.ServerCalc) return false;
    bool byMode = false;
    switch (mode) {
    case upWhereAll: byMode = field.ProviderFlags.Contains(pfInWhere); break;
    case upWhereChanged:
        byMode = field.ProviderFlags.Contains(pfInKey) ||
                 (field.ProviderFlags.Contains(pfInWhere) && !field.NewValue.IsEmpty());
        break;
    case upWhereKeyOnly: byMode = field.ProviderFlags.Contains(pfInKey); break;
    }
    if (!byMode) return false;
    return !withSizeLimit || field.DataSize < kMaxComparedDataSize;
}

bool ComparedWithValue(const TSQLInfo& info, const TResolverField& field, TUpdateMode mode) {
    return FieldCompared(field, mode) && !OldValueIsNull(info, field);
}

namespace {

TFieldType ParamType(const TResolverField& field) {
    if (field.DataType == ftString && field.FixedChar) return ftFixedChar;
    if (field.DataType == ftMemo && field.Size >= 256) return ftString;
    return field.DataType;
}

// What a statement does with a field, one letter per field of a shape.
constexpr unsigned kWritten = 1, kComparedWithValue = 2, kComparedWithNull = 4;

}  // namespace

void StatementShape(TUpdateKind kind, const TSQLInfo& info, const std::vector<TResolverField>& fields,
                    TUpdateMode mode, std::string& shape) {
    shape.assign(1, static_cast<char>('0' + kind));
    for (const TResolverField& field : fields) {
        unsigned use = 0;
        if (kind != ukDelete && FieldWritten(field)) use |= kWritten;
        if (kind != ukInsert && FieldCompared(field, mode))
            use |= OldValueIsNull(info, field) ? kComparedWithNull : kComparedWithValue;
        shape += static_cast<char>('A' + use);
    }
}

void StatementParams(const std::string& shape, const std::vector<TResolverField>& fields, sql::TParams& params) {
    int count = 0;
    const std::size_t n = std::min(fields.size(), shape.size() > 0 ? shape.size() - 1 : 0);
    const auto add = [&](const TResolverField& field, const TVariant& value) {
        if (count < params.Count()) {
            TParam& param = params[count];
            if (value.IsEmpty()) param.SetValue(TVariant::Null(), ParamType(field));
            else param.SetValue(value, ParamType(field));
        } else {
            params.AddValue(value.IsEmpty() ? TVariant::Null() : value, ParamType(field));
        }
        ++count;
    };
    for (std::size_t i = 0; i < n; ++i)
        if ((static_cast<unsigned>(shape[i + 1] - 'A') & kWritten) != 0) add(fields[i], fields[i].NewValue);
    for (std::size_t i = 0; i < n; ++i)
        if ((static_cast<unsigned>(shape[i + 1] - 'A') & kComparedWithValue) != 0) add(fields[i], fields[i].OldValue);
    params.Truncate(count);
}

TStatementParam MakeParam(const TResolverField& field, const TVariant& value) {
    TStatementParam param;
    param.DataType = ParamType(field);
    param.Value = value.IsEmpty() ? TVariant::Null() : value;
    param.Size = field.DataSize;
    if (field.DataType == ftBCD || field.DataType == ftFMTBcd) param.NumericScale = field.Size;
    param.Bound = true;
    return param;
}

TGeneratedStatement GenerateUpdate(const TSQLInfo& info, const std::vector<TResolverField>& fields,
                                   TUpdateMode mode) {
    TGeneratedStatement statement;
    statement.Lines.reserve(2 * fields.size() + 2);
    statement.Params.reserve(2 * fields.size());
    statement.Lines.push_back("update " + info.QuotedTableName + " " + Alias(info) + " set");
    for (const TResolverField& field : fields) {
        if (!FieldWritten(field)) continue;
        statement.Lines.push_back(ColumnLine(info, field, " = ?,"));
        statement.Params.push_back(MakeParam(field, field.NewValue));
    }
    if (statement.Params.empty()) return {};
    DropTail(statement.Lines.back(), 1);
    AppendWhere(statement, info, fields, mode);
    return statement;
}

TGeneratedStatement GenerateInsert(const TSQLInfo& info, const std::vector<TResolverField>& fields) {
    TGeneratedStatement statement;
    statement.Params.reserve(fields.size());
    statement.Lines.push_back("insert into " + info.QuotedTableName);
    std::string columns = "  (";
    std::string values = "  (";
    for (const TResolverField& field : fields) {
        if (!FieldWritten(field)) continue;
        columns += info.TablePrefix;
        columns += info.QuoteChar;
        columns += field.Name;
        columns += info.QuoteChar;
        columns += ", ";
        values += "?, ";
        statement.Params.push_back(MakeParam(field, field.NewValue));
    }
    DropTail(columns, 2);
    DropTail(values, 2);
    statement.Lines.push_back(columns + ")");
    statement.Lines.push_back("values");
    statement.Lines.push_back(values + ")");
    return statement;
}

TGeneratedStatement GenerateDelete(const TSQLInfo& info, const std::vector<TResolverField>& fields,
                                   TUpdateMode mode) {
    TGeneratedStatement statement;
    statement.Lines.push_back("delete from " + info.QuotedTableName + " " + Alias(info));
    AppendWhere(statement, info, fields, mode);
    return statement;
}

TGeneratedStatement GenerateConflictSelect(const TSQLInfo& info,
                                           const std::vector<TResolverField>& fields,
                                           TUpdateMode mode) {
    TGeneratedStatement statement;
    statement.Lines.push_back("select");
    for (const TResolverField& field : fields)
        if (FieldCompared(field, mode, false)) statement.Lines.push_back(" " + QuotedColumn(info, field) + ",");
    if (statement.Lines.size() == 1) return {};
    DropTail(statement.Lines.back(), 1);
    statement.Lines.push_back(" from " + info.QuotedTableName + " " + Alias(info));
    AppendWhere(statement, info, fields, upWhereKeyOnly);
    return statement;
}

}  // namespace tarnwick::provider
