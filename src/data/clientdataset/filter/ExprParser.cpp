#include "data/clientdataset/filter/ExprParser.h"

#include "base/DatabaseError.h"
#include "base/Text.h"

#include <array>

namespace tarnwick {

std::string_view Utf8CharacterPrefix(std::string_view text, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // inside a character
        if (chars++ == maxChars) return text.substr(0, i);
    }
    return text;
}

namespace {

bool IsBlank(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x01 && b <= 0x20;
}
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A name may start with a letter, "_" or any byte that leads a multi-byte character.
bool IsNameStart(char c) {
    const auto b = static_cast<unsigned char>(c);
    return IsLetter(c) || c == '_' || (b >= 0x81 && b <= 0xFE);
}
// Inside a name every byte of a multi-byte character belongs to it, so a CJK name is never split.
bool IsNameChar(char c) {
    const auto b = static_cast<unsigned char>(c);
    return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '[' || c == ']' ||
           (b >= 0x80 && b <= 0xFE);
}

// The offending character for the message: printable ASCII as itself, any other byte (a zero
// byte, or one that can neither start nor continue a UTF-8 character) as "#<code>".
std::string DescribeChar(std::string_view text, std::size_t pos) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b > 0x20 && b < 0x7F) return std::string(1, text[pos]);
    return "#" + std::to_string(b);
}

[[noreturn]] void InvalidChar(std::string_view text, std::size_t pos) {
    DatabaseError("Invalid filter expression character: '" + DescribeChar(text, pos) + "'");
}
[[noreturn]] void IncorrectlyFormed() { DatabaseError("Incorrectly formed filter expression"); }

TCompareOp Mirrored(TCompareOp op) {
    switch (op) {
    case TCompareOp::coGT: return TCompareOp::coLT;
    case TCompareOp::coLT: return TCompareOp::coGT;
    case TCompareOp::coGE: return TCompareOp::coLE;
    case TCompareOp::coLE: return TCompareOp::coGE;
    default: return op;
    }
}

std::string_view LeadingWord(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) ++start;
    std::size_t end = start;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    return text.substr(start, end - start);
}

}  // namespace

bool IsFilterKeyword(std::string_view word, std::string_view rest) {
    static constexpr std::array<std::string_view, 14> kWords = {
        "AND", "OR",   "LIKE", "IS",        "NULL", "SELECT", "FROM",
        "WHERE", "ASC", "ASCENDING", "DESC", "DESCENDING", "HAVING", "UNION"};
    for (std::string_view keyword : kWords)
        if (SameTextAscii(word, keyword)) return true;
    if (SameTextAscii(word, "PLAN")) return true;
    // Two-word keywords count only with their second word.
    if (SameTextAscii(word, "GROUP") || SameTextAscii(word, "ORDER"))
        return SameTextAscii(LeadingWord(rest), "BY");
    if (SameTextAscii(word, "FOR")) return SameTextAscii(LeadingWord(rest), "UPDATE");
    return false;
}

TExprParser::TExprParser(const IFilterFields& fields, std::string_view text)
    : fields_(fields), text_(text), lastQuote_(text.rfind('\'')) {}

std::unique_ptr<TExprNode> TExprParser::Parse() {
    pos_ = 0;
    NextToken();
    auto root = ParseCondition();
    if (token_ != TToken::tkEnd) DatabaseError("Filter expression incorrectly terminated");
    return root;
}

void TExprParser::SkipBlanksAndComments() {
    for (;;) {
        while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
        if (text_.substr(pos_, 2) != "/*") return;
        const std::size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) InvalidChar(text_, pos_);
        pos_ = end + 2;
    }
}

void TExprParser::NextToken() {
    SkipBlanksAndComments();
    tokenText_.clear();
    if (pos_ >= text_.size()) {
        token_ = TToken::tkEnd;
        return;
    }
    const char c = text_[pos_];
    const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
    const char afterNext = pos_ + 2 < text_.size() ? text_[pos_ + 2] : '\0';
    if (IsNameStart(c)) return ReadName();
    if (c == '[') return ReadBracketName();
    if (c == '\'') return ReadString();
    if (IsDigit(c) || (c == '.' && IsDigit(next)) ||
        (c == '-' && (IsDigit(next) || (next == '.' && IsDigit(afterNext)))))
        return ReadNumber();
    switch (c) {
    case '(': ++pos_; token_ = TToken::tkLParen; return;
    case ')': ++pos_; token_ = TToken::tkRParen; return;
    case '=': ++pos_; token_ = TToken::tkOperator; tokenText_ = "="; return;
    case '<':
    case '>': {
        const bool twoChars = next == '=' || (c == '<' && next == '>');
        tokenText_ = text_.substr(pos_, twoChars ? 2 : 1);
        pos_ += tokenText_.size();
        token_ = TToken::tkOperator;
        return;
    }
    default: InvalidChar(text_, pos_);
    }
}

void TExprParser::ReadName() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    tokenText_ = text_.substr(start, pos_ - start);
    token_ = TToken::tkName;
}

void TExprParser::ReadBracketName() {
    const std::size_t close = text_.find(']', pos_ + 1);
    if (close == std::string_view::npos) DatabaseError("Unterminated field name");
    const std::size_t zero = text_.find('\0', pos_);
    if (zero < close) InvalidChar(text_, zero);
    tokenText_ = text_.substr(pos_ + 1, close - pos_ - 1);
    pos_ = close + 1;
    token_ = TToken::tkName;
}

void TExprParser::ReadNumber() {
    const std::size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '.') {
        ++pos_;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    }
    tokenText_ = text_.substr(start, pos_ - start);
    token_ = TToken::tkNumber;
}

// A lone quote inside a constant is taken as a character of the constant when a further quote
// follows somewhere and the next token is a plain word: so a key such as AB'CD written between
// two quotes reads whole. Any other next token (a keyword such as AND, a number, an operator,
// quoted text, or the end) makes the quote the closing one.
bool TExprParser::QuoteEndsConstant(std::size_t quote) const {
    if (lastQuote_ == std::string_view::npos || quote >= lastQuote_) return true;
    std::size_t p = quote + 1;
    while (p < text_.size() && (IsBlank(text_[p]) || text_[p] == ')')) ++p;
    if (p >= text_.size() || !IsNameStart(text_[p])) return true;
    std::size_t end = p;
    while (end < text_.size() && IsNameChar(text_[end])) ++end;
    return IsFilterKeyword(text_.substr(p, end - p), text_.substr(end));
}

void TExprParser::ReadString() {
    std::string value;
    std::size_t p = pos_ + 1;
    for (;;) {
        if (p >= text_.size()) DatabaseError("Unterminated string constant");
        const char c = text_[p];
        // A zero byte would end the constant early where the engine reads it.
        if (c == '\0') InvalidChar(text_, p);
        if (c != '\'') {
            value += c;
            ++p;
            continue;
        }
        if (p + 1 < text_.size() && text_[p + 1] == '\'') {  // doubled: one quote
            value += '\'';
            p += 2;
            continue;
        }
        if (QuoteEndsConstant(p)) break;
        value += '\'';
        ++p;
    }
    pos_ = p + 1;
    tokenText_ = Utf8CharacterPrefix(value, kMaxConstant);
    token_ = TToken::tkString;
}

// Parentheses are counted, not recursed into, so no depth of them can exhaust the stack.
std::unique_ptr<TExprNode> TExprParser::ParseCondition() {
    std::size_t open = 0;
    for (; token_ == TToken::tkLParen; NextToken()) ++open;
    auto condition = ParseComparison();
    for (; open > 0; --open) {
        if (token_ != TToken::tkRParen) IncorrectlyFormed();
        NextToken();
    }
    return condition;
}

std::unique_ptr<TExprNode> TExprParser::ParseComparison() {
    auto left = ParseOperand();
    if (token_ != TToken::tkOperator) IncorrectlyFormed();
    static constexpr std::array<std::pair<std::string_view, TCompareOp>, 6> kOps = {{
        {"=", TCompareOp::coEQ}, {"<>", TCompareOp::coNE}, {">", TCompareOp::coGT},
        {"<", TCompareOp::coLT}, {">=", TCompareOp::coGE}, {"<=", TCompareOp::coLE}}};
    TCompareOp op = TCompareOp::coEQ;
    for (const auto& [spelling, code] : kOps)
        if (tokenText_ == spelling) op = code;
    NextToken();
    auto right = ParseOperand();
    return MakeComparison(op, std::move(left), std::move(right));
}

std::unique_ptr<TExprNode> TExprParser::ParseOperand() {
    std::unique_ptr<TExprNode> node;
    switch (token_) {
    case TToken::tkName: node = FieldNode(tokenText_); break;
    case TToken::tkString:
    case TToken::tkNumber:
        node = std::make_unique<TExprNode>();
        node->Kind = TExprNode::enConst;
        node->Text = tokenText_;
        break;
    default: IncorrectlyFormed();
    }
    NextToken();
    return node;
}

std::unique_ptr<TExprNode> TExprParser::FieldNode(const std::string& name) {
    const TFilterField* field = fields_.FindFilterField(name);
    if (field == nullptr) DatabaseError("Field '" + name + "' not found", fields_.FilterDataset());
    if (field->Calculated)
        DatabaseError("Field '" + field->FieldName + "' cannot be used in a filter expression");
    auto node = std::make_unique<TExprNode>();
    node->Kind = TExprNode::enField;
    node->Text = name;
    node->Field = *field;
    return node;
}

// The image compares a field (left) with a constant (right); a constant written first is moved
// to the right and the operator mirrored. Two fields or two constants are no filter condition here.
std::unique_ptr<TExprNode> TExprParser::MakeComparison(TCompareOp op, std::unique_ptr<TExprNode> left,
                                                       std::unique_ptr<TExprNode> right) {
    if (left->Kind == TExprNode::enConst && right->Kind == TExprNode::enField) {
        std::swap(left, right);
        op = Mirrored(op);
    }
    if (left->Kind != TExprNode::enField || right->Kind != TExprNode::enConst) IncorrectlyFormed();
    if (left->Field.Kind == TFilterValueKind::vkBinary) DatabaseError("Type mismatch in expression");
    auto node = std::make_unique<TExprNode>();
    node->Kind = TExprNode::enCompare;
    node->Op = op;
    node->Left = std::move(left);
    node->Right = std::move(right);
    return node;
}

}  // namespace tarnwick
