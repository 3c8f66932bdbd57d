#pragma once
// TExprParser: reads a filter text ("MASTERBILLID = 'B001'") against a dataset's fields into a
// tree of TExprNode. The parser borrows the field source for the duration of `Parse` only and
// hands the caller the whole tree; every failure is raised at once (EDatabaseError, or
// EConvertError for a constant that is no integer).
//
// Accepted forms: a field compared with a constant by = <> < > <= >=, either side first, with
// optional parentheses around the condition. Constants are quoted text or plain numbers.

#include <memory>
#include <string>
#include <string_view>

namespace tarnwick {

class TComponent;

// What a comparison needs to know of a field's type.
enum class TFilterValueKind {
    vkText,      // string, fixed char, wide string, GUID: compared as zero-terminated text
    vkSmallint,  // 16-bit signed
    vkWord,      // 16-bit unsigned
    vkInteger,   // 32-bit signed (integer, auto-increment)
    vkBinary,    // blob, memo, graphic, bytes: cannot be compared
    vkOther,     // every other type: no constant form
};

// One field as the parser sees it.
struct TFilterField {
    std::string FieldName;
    int FieldNo = 0;  // the running number of the field's definition, from 1
    TFilterValueKind Kind = TFilterValueKind::vkOther;
    bool Calculated = false;
};

// The fields of one dataset. `FindFilterField` compares names with ASCII letters folded, exactly
// as the dataset's own field lookup does, and answers null when there is no such field; the
// answer must stay valid until the next call (the parser copies what it needs at once).
class IFilterFields {
public:
    virtual ~IFilterFields() = default;
    virtual const TFilterField* FindFilterField(std::string_view name) const = 0;
    // The dataset whose name goes in front of "Field '%s' not found" (may be null).
    virtual const TComponent* FilterDataset() const = 0;
};

enum class TCompareOp { coEQ, coNE, coGT, coLT, coGE, coLE };

// A node of the parsed condition. A comparison holds its two operands; a field node holds the
// name as written in the text and the field found for it; a constant holds its text.
struct TExprNode {
    enum TKind { enField, enConst, enCompare };

    TKind Kind = enConst;
    TCompareOp Op = TCompareOp::coEQ;  // comparisons only
    std::string Text;                  // field name as written, or the constant's characters
    TFilterField Field;                // field nodes only
    std::unique_ptr<TExprNode> Left;
    std::unique_ptr<TExprNode> Right;
};

// The longest prefix of UTF-8 `text` holding at most `maxChars` characters. The constant limits
// of filters count characters, so that a key of many-byte characters is kept as long as any other.
std::string_view Utf8CharacterPrefix(std::string_view text, std::size_t maxChars);

class TExprParser {
public:
    TExprParser(const IFilterFields& fields, std::string_view text);

    // The condition of the whole text; raises on any fault of the text.
    std::unique_ptr<TExprNode> Parse();

    // Longest constant kept, in characters; further characters are dropped.
    static constexpr std::size_t kMaxConstant = 256;

private:
    enum class TToken { tkEnd, tkName, tkString, tkNumber, tkOperator, tkLParen, tkRParen };

    void NextToken();
    void SkipBlanksAndComments();
    void ReadName();
    void ReadBracketName();
    void ReadString();
    void ReadNumber();
    bool QuoteEndsConstant(std::size_t quote) const;

    std::unique_ptr<TExprNode> ParseCondition();
    std::unique_ptr<TExprNode> ParseComparison();
    std::unique_ptr<TExprNode> ParseOperand();
    std::unique_ptr<TExprNode> FieldNode(const std::string& name);
    static std::unique_ptr<TExprNode> MakeComparison(TCompareOp op, std::unique_ptr<TExprNode> left,
                                                     std::unique_ptr<TExprNode> right);

    const IFilterFields& fields_;
    std::string_view text_;
    std::size_t lastQuote_;  // position of the text's last quote, or npos
    std::size_t pos_ = 0;
    TToken token_ = TToken::tkEnd;
    std::string tokenText_;
};

// Whether the word is one that ends a quoted constant when it follows a lone quote (AND, OR, IS,
// ORDER BY, ...). `rest` is the text after the word, for the two-word forms.
bool IsFilterKeyword(std::string_view word, std::string_view rest);

}  // namespace tarnwick
