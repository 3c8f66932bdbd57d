#include "FilterFixture.h"

#include "base/Text.h"

#include <gtest/gtest.h>

namespace tarnwick::filtertest {

TFieldList::TFieldList(std::vector<TFilterField> fields, std::string datasetName)
    : fields_(std::move(fields)) {
    dataset_.SetName(std::move(datasetName));
}

const TFilterField* TFieldList::FindFilterField(std::string_view name) const {
    for (const TFilterField& field : fields_)
        if (SameTextAscii(field.FieldName, name)) return &field;
    return nullptr;
}

const TFieldList& DetailFields() {
    using K = TFilterValueKind;
    static const TFieldList fields({
        {"LINENO", 1, K::vkInteger, false},
        {"MASTERBILLID", 2, K::vkText, false},
        {"SMALLQTY", 3, K::vkSmallint, false},
        {"WORDQTY", 4, K::vkWord, false},
        {"MEMO", 5, K::vkBinary, false},
        {"PRICE", 6, K::vkOther, false},
        {"TOTAL", 7, K::vkText, true},
        {"品名", 9, K::vkText, false},
    });
    return fields;
}

namespace {

class TImageReader {
public:
    explicit TImageReader(const std::vector<std::uint8_t>& image) : image_(image) {}

    std::string Describe() {
        if (image_.size() < 10) return Bad("short header");
        if (U16(0) != 2) return Bad("version");
        if (U16(2) != image_.size()) return Bad("total size");
        if (U16(4) != 0xFFFF) return Bad("node count");
        if (U16(6) != 10) return Bad("node area start");
        literals_ = U16(8);
        if (literals_ < 10 || literals_ > image_.size()) return Bad("literal area start");
        return Node(0);
    }

private:
    std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(image_[at] | image_[at + 1] << 8); }
    std::uint32_t U32(std::size_t at) const { return U16(at) | static_cast<std::uint32_t>(U16(at + 2)) << 16; }

    std::string Bad(const std::string& what) {
        ADD_FAILURE() << "inconsistent filter image: " << what;
        return "<bad " + what + ">";
    }

    // The absolute position of a node's operand, or 0 when it lies outside the node area.
    std::size_t OperandAt(std::size_t node, int index) const {
        const std::size_t at = 10 + node + 8 + 2 * static_cast<std::size_t>(index);
        return at + 2 <= literals_ ? at : 0;
    }

    std::string Op(std::uint32_t code) {
        static const char* const kNames[] = {"=", "<>", ">", "<", ">=", "<="};
        if (code < 3 || code > 8) return Bad("operator " + std::to_string(code));
        return kNames[code - 3];
    }

    std::string Node(std::size_t node) {
        if (++visited_ > 8) return Bad("node cycle");
        if (10 + node + 8 > literals_) return Bad("node offset");
        const std::uint32_t nodeClass = U32(10 + node);
        const std::uint32_t op = U32(10 + node + 4);
        const int operands = nodeClass == 2 ? 2 : nodeClass == 3 ? 4 : nodeClass == 4 ? 2 : nodeClass == 5 ? 3 : -1;
        if (operands < 0) return Bad("node class " + std::to_string(nodeClass));
        if (OperandAt(node, operands - 1) == 0) return Bad("node beyond node area");
        auto operand = [&](int i) { return U16(OperandAt(node, i)); };
        switch (nodeClass) {
        case 2: return Op(op) + "(" + Node(operand(0)) + ", " + Node(operand(1)) + ")";
        case 3:
            return Op(op) + "[ci=" + std::to_string(operand(0)) + " partial=" + std::to_string(operand(1)) +
                   "](" + Node(operand(2)) + ", " + Node(operand(3)) + ")";
        case 4:
            if (op != 13) return Bad("field operator");
            return "#" + std::to_string(operand(0)) + " " + Literal(operand(1));
        default:
            if (op != 14) return Bad("constant operator");
            return Constant(operand(0), operand(1), operand(2));
        }
    }

    std::string Literal(std::size_t offset) {
        std::string out;
        for (std::size_t at = literals_ + offset; at < image_.size(); ++at) {
            if (image_[at] == 0) return out;
            out += static_cast<char>(image_[at]);
        }
        return Bad("name without its zero byte");
    }

    std::string Constant(std::uint16_t type, std::uint16_t size, std::uint16_t offset) {
        const std::size_t at = literals_ + offset;
        if (at + size > image_.size()) return Bad("constant beyond the image");
        switch (type) {
        case 1: {
            if (size == 0 || image_[at + size - 1] != 0) return Bad("string without its zero byte");
            return "str '" + std::string(image_.begin() + static_cast<long>(at), image_.begin() + static_cast<long>(at + size - 1)) + "'";
        }
        case 5:
            if (size != 2) return Bad("int16 size");
            return "int16 " + std::to_string(static_cast<std::int16_t>(U16(at)));
        case 12:
            if (size != 2) return Bad("uint16 size");
            return "uint16 " + std::to_string(U16(at));
        case 6:
            if (size != 4) return Bad("int32 size");
            return "int32 " + std::to_string(static_cast<std::int32_t>(U32(at)));
        default: return Bad("constant type " + std::to_string(type));
        }
    }

    const std::vector<std::uint8_t>& image_;
    std::size_t literals_ = 0;
    int visited_ = 0;
};

}  // namespace

std::string DescribeImage(const std::vector<std::uint8_t>& image) { return TImageReader(image).Describe(); }

}  // namespace tarnwick::filtertest
