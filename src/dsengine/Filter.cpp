// Reading and evaluating filter images. The image, integers little-endian:
//   header   five uint16: version 2, total size, node count (0xFFFF, not read), start of the node
//            area (10), start of the literal area
//   nodes    class (uint32), operator (uint32), operands (uint16 each); offsets of nodes are
//            relative to the node area, offsets of literals to the literal area; the root is at 0
//   classes  1 unary: op 1 is blank, 2 not blank, 9 not                         (operand: node)
//            2 binary: op 3 =, 4 <>, 5 >, 6 <, 7 >=, 8 <=, 10 and, 11 or         (left, right)
//            3 string compare: ops 3..8       (case-insensitive flag, partial length, field, const)
//            4 field, op 13                   (field number 1-based, literal offset of the name)
//            5 constant, op 14                (engine field type, size, literal offset of bytes)
// A comparison with a null operand is false. Strings compare by their bytes without trailing
// blanks; the partial length compares only that many leading characters of the field value.

#include <charconv>
#include <cmath>
#include <cstring>

#include "base/Text.h"
#include "base/ValueForms.h"
#include "dsengine/DSIntf.h"
#include "dsengine/Table.h"

namespace tarnwick::dsengine::detail {

void EncodeDayNumberLoose(const TSQLTimeStamp& ts, std::int32_t& day);

namespace {

enum NodeClass : std::uint32_t { kUnary = 1, kBinary = 2, kCompare = 3, kField = 4, kConst = 5 };
enum Op : std::uint32_t {
    kIsBlank = 1, kNotBlank = 2, kEq = 3, kNe = 4, kGt = 5, kLt = 6, kGe = 7, kLe = 8,
    kNot = 9, kAnd = 10, kOr = 11, kFieldOp = 13, kConstOp = 14
};
constexpr int kMaxDepth = 64;

struct Value {
    enum Kind { Null, Int, Double, Text } kind = Null;
    std::int64_t i = 0;
    double d = 0;
    std::string_view s;
};

struct Node {
    std::uint32_t cls = 0, op = 0;
    int a = -1, b = -1;            // operand nodes
    std::uint32_t field = 0;       // 0-based, field nodes
    std::int32_t constType = 0;    // constant nodes
    std::string constBytes;
    bool caseInsensitive = false;
    std::uint32_t partial = 0;
};

double BcdToDouble(const std::uint8_t* p) {
    TBcd bcd;
    std::memcpy(&bcd, p, sizeof bcd);
    double v = 0;
    for (int k = 0; k < bcd.Precision && k < TBcd::kMaxDigits; ++k) v = v * 10 + bcd.Digit(k);
    v /= std::pow(10.0, bcd.Places());
    return bcd.Negative() ? -v : v;
}

double TimeStampToDouble(const std::uint8_t* p) {
    TSQLTimeStamp ts;
    std::memcpy(&ts, p, sizeof ts);
    std::int32_t day = 0;
    EncodeDayNumberLoose(ts, day);
    return static_cast<double>(day) * kMsPerDay + ((ts.Hour * 60 + ts.Minute) * 60 + ts.Second) * 1000.0 + ts.Fractions;
}

template <typename T>
T Load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Reads a value of engine type `type` from its record-buffer bytes.
bool ReadTyped(std::int32_t type, const std::uint8_t* p, std::size_t size, Value& v) {
    auto need = [&](std::size_t n) { return size >= n; };
    switch (type) {
    case fldINT16: if (!need(2)) return false; v.kind = Value::Int; v.i = Load<std::int16_t>(p); return true;
    case fldBOOL: if (!need(2)) return false; v.kind = Value::Int; v.i = Load<std::int16_t>(p) != 0; return true;
    case fldUINT16: if (!need(2)) return false; v.kind = Value::Int; v.i = Load<std::uint16_t>(p); return true;
    case fldINT32:
    case fldDATE:
    case fldTIME: if (!need(4)) return false; v.kind = Value::Int; v.i = Load<std::int32_t>(p); return true;
    case fldUINT32: if (!need(4)) return false; v.kind = Value::Int; v.i = Load<std::uint32_t>(p); return true;
    case fldINT64: if (!need(8)) return false; v.kind = Value::Int; v.i = Load<std::int64_t>(p); return true;
    case fldFLOAT:
    case fldDATETIME: if (!need(8)) return false; v.kind = Value::Double; v.d = Load<double>(p); return true;
    case fldBCD:
    case fldFMTBCD: if (!need(34)) return false; v.kind = Value::Double; v.d = BcdToDouble(p); return true;
    case fldSQLTIMESTAMP: if (!need(16)) return false; v.kind = Value::Double; v.d = TimeStampToDouble(p); return true;
    default: return false;
    }
}

}  // namespace

class FilterProgram {
public:
    std::vector<Node> nodes;
    int root = -1;
};

namespace {

struct Compiler {
    const Table& table;
    const std::uint8_t* image;
    std::size_t size;
    std::size_t nodeStart, literalStart;
    ErrorState& err;
    FilterProgram& program;

    DBResult Bad(const std::string& what) {
        return err.Fail(DBERR_INVALIDFILTER, "Invalid filter image: " + what);
    }
    bool U16(std::size_t at, std::uint32_t& v) {
        if (at + 2 > literalStart) return false;
        v = Load<std::uint16_t>(image + at);
        return true;
    }

    DBResult Compile(std::uint32_t offset, int depth, int& index) {
        if (depth > kMaxDepth) return Bad("nodes nested too deeply (a cycle?)");
        const std::size_t at = nodeStart + offset;
        if (at + 8 > literalStart) return Bad(Format("node offset %u is outside the node area", offset));
        Node node;
        node.cls = Load<std::uint32_t>(image + at);
        node.op = Load<std::uint32_t>(image + at + 4);
        std::uint32_t o[4] = {};
        auto operands = [&](int count) {
            for (int k = 0; k < count; ++k)
                if (!U16(at + 8 + 2 * static_cast<std::size_t>(k), o[k])) return false;
            return true;
        };
        switch (node.cls) {
        case kUnary: {
            if (node.op != kIsBlank && node.op != kNotBlank && node.op != kNot)
                return Bad(Format("unary operator %u", node.op));
            if (!operands(1)) return Bad("unary node cut short");
            const DBResult r = Compile(o[0], depth + 1, node.a);
            if (r != DBERR_NONE) return r;
            break;
        }
        case kBinary:
        case kCompare: {
            const bool logic = node.cls == kBinary && (node.op == kAnd || node.op == kOr);
            if (!logic && (node.op < kEq || node.op > kLe))
                return Bad(Format("operator %u in a class %u node", node.op, node.cls));
            const int count = node.cls == kCompare ? 4 : 2;
            if (!operands(count)) return Bad("comparison node cut short");
            const std::uint32_t left = node.cls == kCompare ? o[2] : o[0];
            const std::uint32_t right = node.cls == kCompare ? o[3] : o[1];
            if (node.cls == kCompare) {
                if (o[0] > 1) return Bad(Format("case-insensitive flag %u", o[0]));
                node.caseInsensitive = o[0] == 1;
                node.partial = o[1];
            }
            DBResult r = Compile(left, depth + 1, node.a);
            if (r == DBERR_NONE) r = Compile(right, depth + 1, node.b);
            if (r != DBERR_NONE) return r;
            break;
        }
        case kField: {
            if (!operands(2)) return Bad("field node cut short");
            if (o[0] < 1 || o[0] > table.FieldCount()) return Bad(Format("field number %u", o[0]));
            if (literalStart + o[1] >= size) return Bad("field name outside the literal area");
            node.field = o[0] - 1;
            break;
        }
        case kConst: {
            if (!operands(3)) return Bad("constant node cut short");
            if (literalStart + o[2] + o[1] > size) return Bad("constant outside the literal area");
            node.constType = static_cast<std::int32_t>(o[0]);
            node.constBytes.assign(reinterpret_cast<const char*>(image + literalStart + o[2]), o[1]);
            Value probe;
            if (node.constType == fldZSTRING) {
                const std::size_t zero = node.constBytes.find('\0');
                if (zero != std::string::npos) node.constBytes.resize(zero);
            } else if (!ReadTyped(node.constType, reinterpret_cast<const std::uint8_t*>(node.constBytes.data()),
                                  node.constBytes.size(), probe)) {
                return Bad(Format("constant of type %d and size %u", node.constType, o[1]));
            }
            break;
        }
        default: return Bad(Format("node class %u", node.cls));
        }
        program.nodes.push_back(std::move(node));
        index = static_cast<int>(program.nodes.size() - 1);
        return DBERR_NONE;
    }
};

// Counts UTF-8 characters: the byte length of the first `chars` characters.
std::size_t PrefixBytes(std::string_view s, std::size_t chars) {
    std::size_t i = 0;
    for (std::size_t c = 0; i < s.size() && c < chars; ++c) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    }
    return i;
}

struct Evaluator {
    const FilterProgram& program;
    const Table& table;
    const std::uint8_t* row;
    std::string wide;  // a wide-string field value in UTF-8

    Value Operand(int index) {
        const Node& n = program.nodes[static_cast<std::size_t>(index)];
        Value v;
        if (n.cls == kConst) {
            if (n.constType == fldZSTRING) {
                v.kind = Value::Text;
                v.s = n.constBytes;
            } else {
                ReadTyped(n.constType, reinterpret_cast<const std::uint8_t*>(n.constBytes.data()),
                          n.constBytes.size(), v);
            }
            return v;
        }
        if (n.cls != kField) {
            v.kind = Value::Int;
            v.i = Test(index) ? 1 : 0;
            return v;
        }
        if (row[n.field] != BLANK_NONE) return v;
        const FieldInfo& f = table.Fields()[n.field];
        switch (f.storage) {
        case Storage::String:
        case Storage::VarBytes:
            v.kind = Value::Text;
            v.s = table.VarBytes(row, n.field);
            return v;
        case Storage::WideString:
            wide.clear();
            Utf16ToUtf8(table.VarBytes(row, n.field), wide);
            v.kind = Value::Text;
            v.s = wide;
            return v;
        case Storage::Fixed: break;
        }
        const std::uint8_t* p = table.FixedPtr(row, n.field);
        if (f.IsBlob()) {
            const auto ref = Load<BlobRef>(p);
            v.kind = Value::Text;
            v.s = std::string_view(reinterpret_cast<const char*>(ref.data), ref.length);
        } else if (f.desc.iFldType == fldBYTES) {
            v.kind = Value::Text;
            v.s = std::string_view(reinterpret_cast<const char*>(p), f.storeSize);
        } else {
            ReadTyped(f.desc.iFldType, p, f.storeSize, v);
        }
        return v;
    }

    static bool Numeric(const Value& v, double& d) {
        if (v.kind == Value::Int) { d = static_cast<double>(v.i); return true; }
        if (v.kind == Value::Double) { d = v.d; return true; }
        if (v.kind != Value::Text) return false;
        const auto [ptr, ec] = std::from_chars(v.s.data(), v.s.data() + v.s.size(), d);
        return ec == std::errc() && ptr == v.s.data() + v.s.size();
    }

    static bool Order(std::uint32_t op, int c) {
        switch (op) {
        case kEq: return c == 0;
        case kNe: return c != 0;
        case kGt: return c > 0;
        case kLt: return c < 0;
        case kGe: return c >= 0;
        default: return c <= 0;
        }
    }

    bool Compare(const Node& n) {
        Value a = Operand(n.a);
        const Value b = Operand(n.b);
        if (a.kind == Value::Null || b.kind == Value::Null) return false;
        if (a.kind == Value::Text && b.kind == Value::Text) {
            std::string_view x = TrimTrailingBlanks(a.s), y = TrimTrailingBlanks(b.s);
            if (n.partial > 0) {
                x = a.s.substr(0, PrefixBytes(a.s, n.partial));
                y = b.s.substr(0, PrefixBytes(b.s, n.partial));
            }
            const int c = n.caseInsensitive ? CompareTextAscii(x, y) : x.compare(y);
            return Order(n.op, c);
        }
        if (a.kind == Value::Int && b.kind == Value::Int)
            return Order(n.op, a.i < b.i ? -1 : a.i > b.i ? 1 : 0);
        double x, y;
        if (!Numeric(a, x) || !Numeric(b, y)) return false;
        return Order(n.op, x < y ? -1 : x > y ? 1 : 0);
    }

    bool Test(int index) {
        const Node& n = program.nodes[static_cast<std::size_t>(index)];
        switch (n.cls) {
        case kUnary:
            if (n.op == kNot) return !Test(n.a);
            return (Operand(n.a).kind == Value::Null) == (n.op == kIsBlank);
        case kBinary:
            if (n.op == kAnd) return Test(n.a) && Test(n.b);
            if (n.op == kOr) return Test(n.a) || Test(n.b);
            return Compare(n);
        case kCompare: return Compare(n);
        default: {
            // A lone field or constant counts as true when it holds a non-zero value.
            const Value v = Operand(index);
            double d;
            return v.kind != Value::Null && (!Numeric(v, d) || d != 0);
        }
        }
    }
};

}  // namespace

void EncodeDayNumberLoose(const TSQLTimeStamp& ts, std::int32_t& day) {
    if (!EncodeDayNumber(ts.Year, ts.Month, ts.Day, day)) day = 0;
}

DBResult CompileFilter(const Table& table, const std::uint8_t* image, std::size_t size,
                       FilterProgramPtr& program, ErrorState& err) {
    if (image == nullptr || size < 10)
        return err.Fail(DBERR_INVALIDFILTER, "Invalid filter image: shorter than its header");
    const std::uint16_t version = Load<std::uint16_t>(image);
    const std::uint16_t total = Load<std::uint16_t>(image + 2);
    const std::uint16_t nodeStart = Load<std::uint16_t>(image + 6);
    const std::uint16_t literalStart = Load<std::uint16_t>(image + 8);
    if (version != 2)
        return err.Fail(DBERR_INVALIDFILTER, Format("Invalid filter image: version %u", version));
    if (total > size || nodeStart < 10 || literalStart < nodeStart || literalStart > total)
        return err.Fail(DBERR_INVALIDFILTER,
                        Format("Invalid filter image: header sizes %u, %u, %u do not fit %zu bytes",
                               total, nodeStart, literalStart, size));
    auto out = std::make_unique<FilterProgram>();
    Compiler compiler{table, image, total, nodeStart, literalStart, err, *out};
    const DBResult r = compiler.Compile(0, 0, out->root);
    if (r != DBERR_NONE) return r;
    program.reset(out.release());
    return DBERR_NONE;
}

bool FilterPasses(const FilterProgram& program, const Table& table, const std::uint8_t* row) {
    Evaluator eval{program, table, row, {}};
    return eval.Test(program.root);
}

bool FilterEqualityKey(const FilterProgram& program, std::uint32_t& field, std::string& key) {
    const Node& root = program.nodes[static_cast<std::size_t>(program.root)];
    if ((root.cls != kBinary && root.cls != kCompare) || root.op != kEq) return false;
    if (root.caseInsensitive || root.partial != 0) return false;
    const Node& a = program.nodes[static_cast<std::size_t>(root.a)];
    const Node& b = program.nodes[static_cast<std::size_t>(root.b)];
    const Node* f = a.cls == kField ? &a : b.cls == kField ? &b : nullptr;
    const Node* c = a.cls == kConst ? &a : b.cls == kConst ? &b : nullptr;
    if (!f || !c || c->constType != fldZSTRING) return false;
    field = f->field;
    key = c->constBytes;
    return true;
}

void DeleteFilterProgram(FilterProgram* program) { delete program; }

}  // namespace tarnwick::dsengine::detail
