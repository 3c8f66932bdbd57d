#include "data/sql/SQLScanner.h"

#include <cstdlib>

#include "base/Text.h"

namespace tarnwick::sql {

namespace {

bool IsSeparator(char c) {
    return c == ' ' || c == '\r' || c == '\n' || c == '(' || c == ',' || c == '\t';
}
bool IsQuote(char c) { return c == '"' || c == '\'' || c == '`'; }
bool IsPredicateChar(char c) { return c == '<' || c == '=' || c == '>'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char At(std::string_view text, std::size_t pos) { return pos < text.size() ? text[pos] : '\0'; }

// Position of the quote closing the one at `open`, where a doubled quote stands for one quote
// character; npos when the quote has no partner.
std::size_t ClosingQuote(std::string_view text, std::size_t open) {
    const char q = text[open];
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] != q) continue;
        if (At(text, i + 1) == q) {
            ++i;
            continue;
        }
        return i;
    }
    return std::string_view::npos;
}

std::string Unquote(std::string_view inner, char q) {
    std::string out;
    out.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
        out += inner[i];
        if (inner[i] == q && i + 1 < inner.size() && inner[i + 1] == q) ++i;
    }
    return out;
}

// Reads the plain word at `pos` (after skipping separators) for a keyword look-ahead; moves
// `pos` past it only when it matches `expected`.
bool NextWordIs(std::string_view text, std::size_t& pos, std::string_view expected) {
    std::size_t p = pos;
    while (p < text.size() && IsSeparator(text[p])) ++p;
    const std::size_t start = p;
    while (p < text.size() && !IsSeparator(text[p]) && text[p] != '.') ++p;
    if (!SameTextAscii(text.substr(start, p - start), expected)) return false;
    pos = p;
    return true;
}

TSQLToken ClassifyWord(std::string_view text, std::size_t& pos, std::string& word, bool afterDot,
                       TSQLToken section) {
    if (word == "*" && section == TSQLToken::stSelect) return TSQLToken::stAllFields;
    if (afterDot) return TSQLToken::stFieldName;
    auto is = [&](std::string_view kw) { return SameTextAscii(word, kw); };
    if (is("DISTINCT") && section == TSQLToken::stSelect) return TSQLToken::stDistinct;
    if (is("ASC") || is("ASCENDING")) return TSQLToken::stAscending;
    if (is("DESC") || is("DESCENDING")) return TSQLToken::stDescending;
    if (is("SELECT")) return TSQLToken::stSelect;
    if (is("AND")) return TSQLToken::stAnd;
    if (is("OR")) return TSQLToken::stOr;
    if (is("LIKE")) return TSQLToken::stLike;
    if (is("IS")) {
        std::size_t p = pos;
        if (NextWordIs(text, p, "NULL")) {
            pos = p;
            return TSQLToken::stIsNull;
        }
        if (NextWordIs(text, p, "NOT") && NextWordIs(text, p, "NULL")) {
            pos = p;
            return TSQLToken::stIsNotNull;
        }
        return TSQLToken::stValue;
    }
    if (is("FROM")) return TSQLToken::stFrom;
    if (is("WHERE")) return TSQLToken::stWhere;
    // Two-word clause keywords: the second word is consumed only when it matches.
    struct Pair {
        const char* first;
        const char* second;
        TSQLToken kind;
    };
    static const Pair pairs[] = {{"GROUP", "BY", TSQLToken::stGroupBy},
                                 {"ORDER", "BY", TSQLToken::stOrderBy},
                                 {"FOR", "UPDATE", TSQLToken::stForUpdate}};
    for (const Pair& pair : pairs) {
        if (!is(pair.first)) continue;
        std::size_t p = pos;
        if (!NextWordIs(text, p, pair.second)) break;
        const std::size_t end = p;
        std::size_t start = end;
        while (start > pos && !IsSeparator(text[start - 1])) --start;
        word += ' ';
        word += text.substr(start, end - start);
        pos = p;
        return pair.kind;
    }
    if (is("HAVING")) return TSQLToken::stHaving;
    if (is("UNION")) return TSQLToken::stUnion;
    if (is("PLAN")) return TSQLToken::stPlan;
    if (is("NULL")) return TSQLToken::stValue;
    return section == TSQLToken::stFrom ? TSQLToken::stTableName : TSQLToken::stFieldName;
}

}  // namespace

bool IsClauseKeyword(TSQLToken token) {
    return token >= TSQLToken::stSelect && token <= TSQLToken::stForUpdate;
}

TSQLToken ScanToken(std::string_view text, std::size_t& pos, std::string& token, TSQLToken section) {
    token.clear();
    bool afterDot = false;
    bool started = false;
    while (true) {
        const char c = At(text, pos);
        if (pos >= text.size() || IsSeparator(c)) {
            if (started) return ClassifyWord(text, pos, token, afterDot, section);
            if (pos >= text.size()) return TSQLToken::stEnd;
            ++pos;
            continue;
        }
        if (IsQuote(c)) {
            const std::size_t close = ClosingQuote(text, pos);
            if (close != std::string_view::npos) {
                token += Unquote(text.substr(pos + 1, close - pos - 1), c);
                pos = close + 1;
                if (afterDot) return TSQLToken::stFieldName;
                if (At(text, pos) == '.') return TSQLToken::stTableName;
                return TSQLToken::stValue;
            }
            // An unpaired quote is an ordinary character.
        } else if (c == '.') {
            if (started) return TSQLToken::stTableName;  // the "." stays for the next call
            afterDot = true;
            ++pos;
            continue;
        } else if (!started && c == '/' && (At(text, pos + 1) == '*' || At(text, pos + 1) == '/')) {
            const bool block = At(text, pos + 1) == '*';
            const std::size_t start = pos + 2;
            std::size_t end = block ? text.find("*/", start) : text.find_first_of("\r\n", start);
            if (end == std::string_view::npos) end = text.size();
            token.assign(text.substr(start, end - start));
            // A block comment takes its closing "*/" with it, so no stray word is left behind.
            pos = (block && end < text.size()) ? end + 2 : end;
            return TSQLToken::stComment;
        } else if (!started && IsDigit(c)) {
            while (pos < text.size() && (IsDigit(text[pos]) || text[pos] == '.')) token += text[pos++];
            return TSQLToken::stNumber;
        } else if (!started && IsPredicateChar(c)) {
            while (pos < text.size() && IsPredicateChar(text[pos])) token += text[pos++];
            return TSQLToken::stPredicate;
        }
        token += c;
        started = true;
        ++pos;
    }
}

namespace {

// Steps shared by the table-name readers: after FROM, the first table name or value token with
// its "."-joined parts. Answers false when a clause keyword or the end comes first. `written`,
// when given, receives the name as the text writes it, quotes and all.
bool ReadTableAfterFrom(std::string_view text, std::size_t& pos, std::string& name,
                        std::string* written = nullptr) {
    TSQLToken section = TSQLToken::stUnknown;
    std::string token;
    while (true) {
        std::size_t start = pos;
        const TSQLToken kind = ScanToken(text, pos, token, section);
        if (kind == TSQLToken::stEnd) return false;
        if (IsClauseKeyword(kind)) {
            if (kind != TSQLToken::stFrom && section == TSQLToken::stFrom) return false;
            section = kind;
            continue;
        }
        if (section != TSQLToken::stFrom) continue;
        if (kind != TSQLToken::stTableName && kind != TSQLToken::stValue) continue;
        name = token;
        if (!name.empty() && name.back() == ';') name.pop_back();
        while (At(text, pos) == '.') {
            ScanToken(text, pos, token, section);
            name += '.';
            name += token;
        }
        if (written != nullptr) {
            while (start < pos && IsSeparator(text[start])) ++start;
            written->assign(text.substr(start, pos - start));
            if (!written->empty() && written->back() == ';') written->pop_back();
        }
        return true;
    }
}

}  // namespace

bool MayHoldOrderBy(std::string_view text) {
    for (std::size_t i = 0; i + 5 <= text.size(); ++i)
        if ((text[i] | 0x20) == 'o' && SameTextAscii(text.substr(i, 5), "ORDER")) return true;
    return false;
}

std::string FindTableName(std::string_view text) {
    std::size_t pos = 0;
    std::string name;
    if (!ReadTableAfterFrom(text, pos, name)) return {};
    return name;
}

bool IsMultiTableText(std::string_view text) {
    std::string name;
    return !ReadSingleTable(text, name);
}

bool ReadSingleTable(std::string_view text, std::string& name, std::string* written) {
    std::size_t pos = 0;
    name.clear();
    if (written != nullptr) written->clear();
    if (!ReadTableAfterFrom(text, pos, name, written)) {
        name.clear();
        if (written != nullptr) written->clear();
        return false;
    }
    if (At(text, pos) == ',' || At(text, pos + 1) == ',') return false;
    TSQLToken section = TSQLToken::stFrom;
    std::string token;
    const TSQLToken next = ScanToken(text, pos, token, section);
    if (IsClauseKeyword(next)) section = next;
    const std::string_view rest = pos < text.size() ? text.substr(pos) : std::string_view{};
    if (rest.find("inner join ") != std::string_view::npos ||
        rest.find("outer join ") != std::string_view::npos)
        return false;
    return ScanToken(text, pos, token, section) != TSQLToken::stTableName;
}

std::optional<TOrderByIndex> OrderByIndex(std::string_view text,
                                          const std::vector<std::string>& fieldNames,
                                          const std::vector<std::string>& fieldDefNames) {
    std::size_t pos = 0;
    std::string token;
    TSQLToken section = TSQLToken::stUnknown;
    while (section != TSQLToken::stOrderBy) {
        const TSQLToken kind = ScanToken(text, pos, token, section);
        if (kind == TSQLToken::stEnd) return std::nullopt;
        if (IsClauseKeyword(kind)) section = kind;
    }
    auto append = [](std::string& list, const std::string& name) {
        if (!list.empty()) list += ';';
        list += name;
    };
    TOrderByIndex index;
    std::string remembered;
    while (true) {
        const TSQLToken kind = ScanToken(text, pos, token, section);
        if (kind == TSQLToken::stEnd || IsClauseKeyword(kind)) break;
        if (kind == TSQLToken::stFieldName) {
            for (const std::string& field : fieldNames) {
                if (!SameTextAscii(field, token)) continue;
                append(index.Fields, field);
                remembered = field;
                break;
            }
        } else if (kind == TSQLToken::stDescending) {
            if (!remembered.empty()) append(index.DescFields, remembered);
        } else if (kind == TSQLToken::stNumber) {
            const long n = std::strtol(token.c_str(), nullptr, 10);
            const std::string* field = nullptr;
            if (n >= 1 && static_cast<std::size_t>(n) <= fieldNames.size())
                field = &fieldNames[static_cast<std::size_t>(n - 1)];
            else if (n >= 1 && static_cast<std::size_t>(n) <= fieldDefNames.size())
                field = &fieldDefNames[static_cast<std::size_t>(n - 1)];
            if (field != nullptr) {
                append(index.Fields, *field);
                remembered = *field;
            }
        }
    }
    if (index.Fields.empty()) return std::nullopt;
    return index;
}

std::string FirstWord(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && static_cast<unsigned char>(text[pos]) <= ' ') ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && static_cast<unsigned char>(text[pos]) > ' ' && !IsSeparator(text[pos]))
        ++pos;
    return std::string(text.substr(start, pos - start));
}

bool StartsWithSelect(std::string_view text) { return SameTextAscii(FirstWord(text), "SELECT"); }

}  // namespace tarnwick::sql
