#include "data/clientdataset/filter/FilterExpr.h"

#include "base/DatabaseError.h"
#include "base/Exception.h"
#include "base/Text.h"
#include "dsengine/DSTypes.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace tarnwick {

// Filter image. All integers little-endian; u16 = unsigned 16-bit, u32 = unsigned 32-bit.
//
//   image        := header node-area literal-area
//   header       := u16 version (2)
//                   u16 total size of the image in bytes
//                   u16 node count (0xFFFF: not counted)
//                   u16 start of the node area (10)
//                   u16 start of the literal area (10 + size of the node area)
//   node-area    := node...          the root first, at node offset 0
//   node         := u32 class, u32 operator, u16 operand...
//     compare    := class 2, operator 3..8, u16 left node offset, u16 right node offset
//     strcompare := class 3, operator 3..8, u16 case-insensitive (0/1),
//                   u16 partial length in UTF-8 characters (0 = whole value),
//                   u16 field node offset, u16 constant node offset
//     field      := class 4, operator 13, u16 field number, u16 literal offset of the name
//     constant   := class 5, operator 14, u16 engine field type, u16 size in bytes,
//                   u16 literal offset of the bytes
//   literal-area := the names (zero-terminated) and constant bytes, in the order written
//
// Node offsets count from the start of the node area, literal offsets from the start of the
// literal area. Operators: 3 =, 4 <>, 5 >, 6 <, 7 >=, 8 <=. A string constant is its UTF-8
// bytes and a zero byte, engine type 1; integers are int16 (type 5), uint16 (type 12) or int32
// (type 6).
//
// MASTERBILLID = 'B001' with MASTERBILLID the second field gives 66 bytes:
//   header   02 00  42 00  FF FF  0A 00  30 00
//   node 0   02 00 00 00  03 00 00 00  0C 00  18 00          compare =, field @12, const @24
//   node 12  04 00 00 00  0D 00 00 00  02 00  00 00          field #2, name @0
//   node 24  05 00 00 00  0E 00 00 00  01 00  05 00  0D 00   string, 5 bytes @13
//   literals "MASTERBILLID\0" "B001\0"

namespace {

constexpr std::uint16_t kImageVersion = 2;
constexpr std::uint16_t kNodeCountNotKept = 0xFFFF;
constexpr std::uint16_t kHeaderSize = 10;

constexpr std::uint32_t kClassCompare = 2;
constexpr std::uint32_t kClassStringCompare = 3;
constexpr std::uint32_t kClassField = 4;
constexpr std::uint32_t kClassConstant = 5;
constexpr std::uint32_t kOperatorField = 13;
constexpr std::uint32_t kOperatorConstant = 14;

// Engine field types of the constants.
constexpr std::uint16_t kEngineTypeString = dsengine::fldZSTRING;
constexpr std::uint16_t kEngineTypeInt16 = dsengine::fldINT16;
constexpr std::uint16_t kEngineTypeInt32 = dsengine::fldINT32;
constexpr std::uint16_t kEngineTypeUInt16 = dsengine::fldUINT16;

std::uint32_t OperatorCode(TCompareOp op) {
    switch (op) {
    case TCompareOp::coEQ: return 3;
    case TCompareOp::coNE: return 4;
    case TCompareOp::coGT: return 5;
    case TCompareOp::coLT: return 6;
    case TCompareOp::coGE: return 7;
    case TCompareOp::coLE: return 8;
    }
    return 3;
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}
void PatchU16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// The constant's bytes in the form the engine compares them with the field's value.
struct TConstantForm {
    std::uint16_t EngineType;
    std::vector<std::uint8_t> Bytes;
};

// Characters, not bytes: the engine counts a prefix in whole UTF-8 characters.
std::size_t Utf8Length(std::string_view text) {
    std::size_t count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

// A plain decimal integer: optional sign, digits, nothing else.
long long ParseInteger(const std::string& text) {
    const std::string message = "'" + text + "' is not a valid integer value";
    std::size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i == text.size()) throw EConvertError(message);
    for (std::size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') throw EConvertError(message);
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        throw EConvertError(message);
    return value;
}

TConstantForm IntegerForm(const std::string& text, TFilterValueKind kind) {
    const long long value = ParseInteger(text);
    TConstantForm form{};
    if (kind == TFilterValueKind::vkInteger) {
        form.EngineType = kEngineTypeInt32;
        PutU32(form.Bytes, static_cast<std::uint32_t>(static_cast<std::int32_t>(value)));
        return form;
    }
    const bool isWord = kind == TFilterValueKind::vkWord;
    const long long low = isWord ? 0 : -32768;
    const long long high = isWord ? 65535 : 32767;
    if (value < low || value > high) DatabaseError("Constant out of range");
    form.EngineType = isWord ? kEngineTypeUInt16 : kEngineTypeInt16;
    PutU16(form.Bytes, static_cast<std::uint16_t>(value));
    return form;
}

TConstantForm ConstantForm(const std::string& text, TFilterValueKind kind) {
    switch (kind) {
    case TFilterValueKind::vkText: {
        TConstantForm form{kEngineTypeString, {}};
        const std::string_view cut = Utf8CharacterPrefix(text, TFilterExpr::kMaxStringChars);
        form.Bytes.assign(cut.begin(), cut.end());
        form.Bytes.push_back(0);
        return form;
    }
    case TFilterValueKind::vkSmallint:
    case TFilterValueKind::vkWord:
    case TFilterValueKind::vkInteger: return IntegerForm(text, kind);
    default: DatabaseError("Type mismatch in expression");
    }
}

// Node and literal areas grow side by side; the header is put in front at the end.
class TImageWriter {
public:
    // Appends a node head and answers its node offset.
    std::uint16_t BeginNode(std::uint32_t nodeClass, std::uint32_t op) {
        const std::size_t offset = nodes_.size();
        PutU32(nodes_, nodeClass);
        PutU32(nodes_, op);
        return Narrow(offset);
    }
    void Operand(std::uint16_t value) { PutU16(nodes_, value); }
    // Reserves an operand to be filled by `Patch` and answers where it is.
    std::size_t ReserveOperand() {
        const std::size_t at = nodes_.size();
        PutU16(nodes_, 0);
        return at;
    }
    void Patch(std::size_t at, std::uint16_t value) { PatchU16(nodes_, at, value); }

    std::uint16_t Literal(const std::uint8_t* bytes, std::size_t size) {
        const std::size_t offset = literals_.size();
        literals_.insert(literals_.end(), bytes, bytes + size);
        return Narrow(offset);
    }
    std::uint16_t Name(const std::string& name) {
        const std::size_t offset = literals_.size();
        literals_.insert(literals_.end(), name.begin(), name.end());
        literals_.push_back(0);
        return Narrow(offset);
    }

    std::vector<std::uint8_t> Finish() const {
        const std::size_t total = kHeaderSize + nodes_.size() + literals_.size();
        std::vector<std::uint8_t> image;
        image.reserve(total);
        PutU16(image, kImageVersion);
        PutU16(image, Narrow(total));
        PutU16(image, kNodeCountNotKept);
        PutU16(image, kHeaderSize);
        PutU16(image, Narrow(kHeaderSize + nodes_.size()));
        image.insert(image.end(), nodes_.begin(), nodes_.end());
        image.insert(image.end(), literals_.begin(), literals_.end());
        return image;
    }

private:
    // Every offset and the total size are 16-bit; a longer image cannot be described.
    static std::uint16_t Narrow(std::size_t value) {
        if (value > 0xFFFF) DatabaseError("Filter expression too long");
        return static_cast<std::uint16_t>(value);
    }

    std::vector<std::uint8_t> nodes_;
    std::vector<std::uint8_t> literals_;
};

std::uint16_t WriteField(TImageWriter& out, const TExprNode& field) {
    const std::uint16_t node = out.BeginNode(kClassField, kOperatorField);
    out.Operand(static_cast<std::uint16_t>(field.Field.FieldNo));
    out.Operand(out.Name(field.Text));
    return node;
}

std::uint16_t WriteConstant(TImageWriter& out, const TConstantForm& form) {
    const std::uint16_t node = out.BeginNode(kClassConstant, kOperatorConstant);
    out.Operand(form.EngineType);
    out.Operand(static_cast<std::uint16_t>(form.Bytes.size()));
    out.Operand(out.Literal(form.Bytes.data(), form.Bytes.size()));
    return node;
}

}  // namespace

std::vector<std::uint8_t> TFilterExpr::Build(const TExprNode& root) const {
    if (root.Kind != TExprNode::enCompare || !root.Left || !root.Right)
        DatabaseError("Incorrectly formed filter expression");
    const TExprNode& field = *root.Left;
    std::string constant = root.Right->Text;
    const TFilterValueKind kind = field.Field.Kind;

    // Case-insensitive and prefix comparisons exist for text only. A trailing "*" after at least
    // one character asks for a prefix match over the characters before it.
    const bool text = kind == TFilterValueKind::vkText;
    const bool caseInsensitive = text && options_.Contains(foCaseInsensitive);
    std::uint16_t partial = 0;
    if (text && !options_.Contains(foNoPartialCompare) && constant.size() > 1 &&
        constant.back() == '*') {
        constant.pop_back();
        partial = static_cast<std::uint16_t>(Utf8Length(Utf8CharacterPrefix(constant, kMaxStringChars)));
    }
    const TConstantForm form = ConstantForm(constant, kind);

    TImageWriter out;
    const bool plain = constant.empty() || (!caseInsensitive && partial == 0);
    out.BeginNode(plain ? kClassCompare : kClassStringCompare, OperatorCode(root.Op));
    if (!plain) {
        out.Operand(caseInsensitive ? 1 : 0);
        out.Operand(partial);
    }
    const std::size_t fieldOperand = out.ReserveOperand();
    const std::size_t constantOperand = out.ReserveOperand();
    out.Patch(fieldOperand, WriteField(out, field));
    out.Patch(constantOperand, WriteConstant(out, form));
    return out.Finish();
}

std::vector<std::uint8_t> BuildFilterImage(const IFilterFields& fields, std::string_view text,
                                           TFilterOptions options) {
    TExprParser parser(fields, text);
    const std::unique_ptr<TExprNode> root = parser.Parse();
    return TFilterExpr(options).Build(*root);
}

}  // namespace tarnwick
