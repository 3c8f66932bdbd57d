#include "data/sql/ParamMarkers.h"

namespace tarnwick::sql {

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

bool EndsParamName(char c) {
    return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

// Quoted parts are tracked by their opening character: inside '...' a double quote is an
// ordinary character, so a value such as 'say "a :b"' never opens a marker.
struct QuoteState {
    char open = 0;
    bool Inside() const { return open != 0; }
    void Meet(char c) {
        if (open == 0) open = c;
        else if (open == c) open = 0;
    }
};

}  // namespace

std::vector<std::string> ParseParamNames(std::string_view text) {
    std::vector<std::string> names;
    if (text.find(':') == std::string_view::npos) return names;  // no marker at all
    QuoteState quote;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (quote.Inside() || c != ':') {
            if (IsQuote(c)) quote.Meet(c);
            ++i;
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == ':') {
            i += 2;  // "::" is a cast or a literal colon, not a marker
            continue;
        }
        const std::size_t start = ++i;
        QuoteState nameQuote;
        while (i < text.size() && (nameQuote.Inside() || !EndsParamName(text[i]))) {
            if (IsQuote(text[i])) nameQuote.Meet(text[i]);
            ++i;
        }
        std::string name(text.substr(start, i - start));
        if (name.size() >= 2 && IsQuote(name.front()) && name.back() == name.front())
            name = name.substr(1, name.size() - 2);
        else if (!name.empty() && IsQuote(name.front()))
            name.erase(0, 1);
        names.push_back(std::move(name));
    }
    return names;
}

std::string ReplaceParamMarkers(std::string_view text, std::string_view quoteChar) {
    char quote = '\'';
    if (!quoteChar.empty() && quoteChar[0] != ' ') quote = quoteChar[0];
    auto isTextQuote = [&](char c) { return c == '\'' || c == quote; };
    auto startsMarker = [](char before) {
        switch (before) {
            case ' ': case '(': case ')': case ',': case '=': case ':':
            case '<': case '>': case '\r': case '\n':
                return true;
            default:
                return false;
        }
    };
    auto endsMarker = [](char c) {
        return c == ' ' || c == ')' || c == ',' || c == '\r' || c == '\n';
    };

    if (text.find(':') == std::string_view::npos) return std::string(text);  // no marker at all

    // Each marker is replaced where it stands; replacing the first equal text elsewhere would
    // rewrite a quoted value that happens to hold the same ":name".
    std::string out;
    out.reserve(text.size() + 8);
    QuoteState state;
    std::size_t i = 0;
    if (!text.empty()) {
        if (isTextQuote(text[0])) state.Meet(text[0]);
        out += text[0];
        i = 1;
    }
    while (i < text.size()) {
        const char c = text[i];
        if (isTextQuote(c)) state.Meet(c);
        if (state.Inside() || c != ':' || !startsMarker(text[i - 1])) {
            out += c;
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        QuoteState nameQuote;
        while (end < text.size() && (nameQuote.Inside() || !endsMarker(text[end]))) {
            if (isTextQuote(text[end])) nameQuote.Meet(text[end]);
            ++end;
        }
        out += " ? ";
        i = end;
    }
    return out;
}

}  // namespace tarnwick::sql
