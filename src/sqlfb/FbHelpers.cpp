#include "sqlfb/FbHelpers.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/Text.h"
#include "sqlfb/FbDriver.h"

namespace tarnwick::sqlfb {

// ---------------------------------------------------------------------------------------------
// Error texts

SQLResult ErrorText::Length(std::uint16_t* length) const {
    if (length == nullptr) return kSQLInvalidParameter;
    *length = static_cast<std::uint16_t>(std::min<std::size_t>(text_.size(), 65535));
    return kSQLSuccess;
}

SQLResult ErrorText::Copy(char* buffer, std::uint32_t bufferSize) const {
    if (buffer == nullptr || bufferSize == 0) return kSQLInvalidParameter;
    const std::string_view text = Utf8Prefix(text_, std::min<std::size_t>(bufferSize - 1, 65535));
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return kSQLSuccess;
}

namespace detail {


SqlDa NewSqlDa(int count) {
    count = std::max(count, 1);
    auto* da = static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(count)));
    if (da == nullptr) throw std::bad_alloc();
    da->version = SQLDA_VERSION1;
    da->sqln = static_cast<ISC_SHORT>(count);
    return SqlDa(da);
}

std::string TrimRight(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

int BytesPerChar(int charSet) {
    switch (charSet) {
        case 3: return 3;            // UNICODE_FSS
        case 4: case 69: return 4;   // UTF8, GB18030
        case 5: case 6: case 44: case 56: case 57: case 67: case 68: return 2;
        default: return 1;
    }
}

std::string_view Utf8Chars(std::string_view text, std::size_t chars) {
    std::size_t i = 0;
    std::size_t seen = 0;
    while (i < text.size()) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == chars) break;
            ++seen;
        }
        ++i;
    }
    return text.substr(0, i);
}

std::size_t Utf8Length(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

namespace {

bool IdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool IdentChar(char c) { return IdentStart(c) || std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '$'; }

}  // namespace

bool SplitComparedLiterals(std::string_view sql, std::string* shape, std::vector<std::string>* literals) {
    enum class Token { kNone, kIdent, kEquals, kOther };
    std::size_t i = 0;
    const std::size_t n = sql.size();
    while (i < n && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
    const auto startsWith = [&](std::string_view word) {
        return n - i >= word.size() && SameTextAscii(sql.substr(i, word.size()), word) &&
               (n - i == word.size() || !IdentChar(sql[i + word.size()]));
    };
    if (!startsWith("SELECT") && !startsWith("DELETE")) return false;
    shape->assign(sql.substr(0, i));
    literals->clear();
    int depth = 0;
    bool inWhere = false;
    bool stopped = false;
    Token last = Token::kNone;
    Token beforeEquals = Token::kNone;
    while (i < n) {
        const char c = sql[i];
        if ((c == '-' && i + 1 < n && sql[i + 1] == '-') || (c == '/' && i + 1 < n && sql[i + 1] == '*')) return false;
        if (c == '"') {
            const std::size_t start = i++;
            for (;;) {
                if (i >= n) return false;
                if (sql[i] == '"' && i + 1 < n && sql[i + 1] == '"') { i += 2; continue; }
                if (sql[i++] == '"') break;
            }
            shape->append(sql.substr(start, i - start));
            last = Token::kIdent;
            continue;
        }
        if (c == '\'') {
            const std::size_t start = i++;
            std::string value;
            for (;;) {
                if (i >= n) return false;
                if (sql[i] == '\'' && i + 1 < n && sql[i + 1] == '\'') { value += '\''; i += 2; continue; }
                if (sql[i] == '\'') { ++i; break; }
                value += sql[i++];
            }
            bool take = inWhere && !stopped && depth == 0 && last == Token::kEquals && beforeEquals == Token::kIdent;
            if (take) {
                std::size_t j = i;
                while (j < n && std::isspace(static_cast<unsigned char>(sql[j]))) ++j;
                if (j < n && sql[j] != ';') {
                    std::size_t k = j;
                    while (k < n && IdentChar(sql[k])) ++k;
                    take = k > j && IdentStart(sql[j]) && !SameTextAscii(sql.substr(j, k - j), "COLLATE");
                }
            }
            if (take) {
                *shape += '?';
                literals->push_back(std::move(value));
            } else {
                shape->append(sql.substr(start, i - start));
            }
            last = Token::kOther;
            continue;
        }
        if (IdentStart(c)) {
            const std::size_t start = i;
            while (i < n && IdentChar(sql[i])) ++i;
            const std::string_view word = sql.substr(start, i - start);
            if (depth == 0) {
                if (SameTextAscii(word, "UNION")) return false;
                if (SameTextAscii(word, "WHERE")) inWhere = true;
                for (const char* end : {"ORDER", "GROUP", "HAVING", "PLAN", "ROWS", "FOR", "FETCH", "OFFSET", "RETURNING"}) {
                    if (inWhere && SameTextAscii(word, end)) stopped = true;
                }
            }
            shape->append(word);
            last = Token::kIdent;
            continue;
        }
        if (c == '=') {
            const bool compound = last == Token::kOther && !shape->empty() &&
                                  std::string_view("<>!~^").find(shape->back()) != std::string_view::npos;
            beforeEquals = last;
            last = compound ? Token::kOther : Token::kEquals;
        } else if (c == '(') {
            ++depth;
            last = Token::kOther;
        } else if (c == ')') {
            --depth;
            last = Token::kOther;
        } else if (c == '.') {
            // "T.COL": the name goes on.
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            last = Token::kOther;
        }
        *shape += c;
        ++i;
    }
    return !literals->empty() && depth == 0;
}

bool FindMarkers(std::string_view sql, std::vector<Marker>* markers) {
    enum class Token { kNone, kIdent, kEquals, kOther };
    markers->clear();
    const std::size_t n = sql.size();
    std::size_t i = 0;
    int depth = 0;
    bool inWhere = false;
    Token last = Token::kNone;
    Token beforeEquals = Token::kNone;
    std::size_t equalsAt = std::string_view::npos;
    while (i < n) {
        const char c = sql[i];
        if ((c == '-' && i + 1 < n && sql[i + 1] == '-') || (c == '/' && i + 1 < n && sql[i + 1] == '*')) return false;
        if (c == '"' || c == '\'') {
            for (++i;; ++i) {
                if (i >= n) return false;
                if (sql[i] != c) continue;
                if (i + 1 < n && sql[i + 1] == c) { ++i; continue; }
                break;
            }
            ++i;
            last = c == '"' ? Token::kIdent : Token::kOther;
            continue;
        }
        if (IdentStart(c)) {
            const std::size_t start = i;
            while (i < n && IdentChar(sql[i])) ++i;
            const std::string_view word = sql.substr(start, i - start);
            if (depth == 0) {
                if (SameTextAscii(word, "WHERE")) inWhere = true;
                for (const char* end : {"ORDER", "GROUP", "HAVING", "PLAN", "ROWS", "RETURNING", "UNION"}) {
                    if (SameTextAscii(word, end)) inWhere = false;
                }
            }
            last = Token::kIdent;
            continue;
        }
        if (c == '?') {
            Marker marker;
            marker.offset = i;
            if (inWhere && depth == 0 && last == Token::kEquals && beforeEquals == Token::kIdent) marker.equals = equalsAt;
            markers->push_back(marker);
            last = Token::kOther;
        } else if (c == '=') {
            const bool compound = last == Token::kOther && i > 0 &&
                                  std::string_view("<>!~^").find(sql[i - 1]) != std::string_view::npos;
            beforeEquals = last;
            last = compound ? Token::kOther : Token::kEquals;
            equalsAt = i;
        } else if (c == '(') {
            ++depth;
            last = Token::kOther;
        } else if (c == ')') {
            --depth;
            last = Token::kOther;
        } else if (c == '.') {
            // "T.COL": the name goes on.
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            last = Token::kOther;
        }
        ++i;
    }
    return true;
}

void AppendDpb(std::string& dpb, char tag, const std::string& value) {
    const std::size_t n = std::min<std::size_t>(value.size(), 255);
    dpb += tag;
    dpb += static_cast<char>(n);
    dpb.append(value, 0, n);
}

}  // namespace detail
}  // namespace tarnwick::sqlfb
