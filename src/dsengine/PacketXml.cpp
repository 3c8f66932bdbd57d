// The XML packet form:
//   <?xml version="1.0" encoding="UTF-8" standalone="yes"?>
//   <DATAPACKET Version="2.0">
//     <METADATA><FIELDS><FIELD attrname=".." fieldtype=".." WIDTH=".." .../>...</FIELDS>
//       <PARAMS LCID="1028" .../></METADATA>
//     <ROWDATA><ROW FIELDNAME="value" .../>...</ROWDATA>
//   </DATAPACKET>
// Rows written from a change log carry RowState (the record's dsRec* status as a number) and, for
// delta rows, RowUnchanged (blank-separated 1-based numbers of the fields not changed). A packet
// written as a delta has the dataset parameter DATASET_DELTA="TRUE": its rows keep their RowState
// as their update status instead of rebuilding a change log. A field name that is no XML name is
// written as an attribute name with each offending byte as _xHH_ (and "_" before a leading digit).
//
// Reading: the METADATA part is parsed as one small document; the rows are parsed in chunks of
// about 256 KB so that the parse tree never holds more than a chunk (a whole-document tree of an
// attribute-heavy packet is larger than the packet itself).

#include <algorithm>
#include <charconv>
#include <cstring>
#include <pugixml.hpp>
#include <unordered_map>

#include "base/Text.h"
#include "dsengine/DSIntf.h"
#include "dsengine/Table.h"

namespace tarnwick::dsengine::detail {

namespace {

constexpr std::size_t kChunkBytes = 256 * 1024;

struct TypeWordEntry {
    const char* word;
    std::int32_t type;
};
const TypeWordEntry kTypeWords[] = {
    {"string", fldZSTRING},   {"string.uni", fldWIDESTRING}, {"i2", fldINT16},
    {"ui2", fldUINT16},       {"i4", fldINT32},              {"i8", fldINT64},
    {"r8", fldFLOAT},         {"fixed", fldBCD},             {"fixedFMT", fldFMTBCD},
    {"boolean", fldBOOL},     {"date", fldDATE},             {"time", fldTIME},
    {"dateTime", fldDATETIME}, {"SQLdateTime", fldSQLTIMESTAMP}, {"bin.hex", fldBLOB},
    {"bytes", fldBYTES},      {"varbytes", fldVARBYTES},
};

struct SubtypeEntry {
    const char* word;
    std::int32_t type;
    std::int32_t subtype;
};
const SubtypeEntry kSubtypes[] = {
    // A GUID is text: a GUID subtype on bytes would give a text field over a buffer without
    // its terminating zero.
    {"FixedChar", fldZSTRING, fldstFIXED},  {"Guid", fldZSTRING, fldstGUID},
    {"Autoinc", fldINT32, fldstAUTOINC},    {"Money", fldFLOAT, fldstMONEY},
    {"Text", fldBLOB, fldstMEMO},           {"Binary", fldBLOB, fldstBINARY},
    {"Binary", fldVARBYTES, fldstNONE},
    {"Formatted", fldBLOB, fldstFMTMEMO},   {"Ole", fldBLOB, fldstOLEOBJ},
    {"Graphics", fldBLOB, fldstGRAPHIC},    {"dBASEOle", fldBLOB, fldstDBSOLEOBJ},
    {"TypedBinary", fldBLOB, fldstTYPEDBINARY}, {"HMemo", fldBLOB, fldstHMEMO},
    {"HBinary", fldBLOB, fldstHBINARY},
};

bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}
bool HasControlCharacter(std::string_view name) {
    return std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string Quote(std::string_view text) {
    std::string_view shown = Utf8Prefix(text, 60);
    return "'" + std::string(shown) + (shown.size() < text.size() ? "...'" : "'");
}

bool ParsePositive(std::string_view text, std::int32_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value > 0;
}

// ---- reading -----------------------------------------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The first zero character of XML text: a zero byte, or a character reference to code 0 ("&#0;",
// "&#x00;"). The parser would hand the value on cut at that point, so such a packet is refused
// instead. Answers npos when there is none.
std::size_t FindZeroCharacter(std::string_view text) {
    std::size_t first = std::string_view::npos;
    if (const void* zero = std::memchr(text.data(), 0, text.size()))
        first = static_cast<std::size_t>(static_cast<const char*>(zero) - text.data());
    const std::string_view searched = text.substr(0, first);
    for (std::size_t pos = 0; (pos = searched.find("&#", pos)) != std::string_view::npos; pos += 2) {
        std::size_t i = pos + 2;
        const bool hex = i < searched.size() && (searched[i] == 'x' || searched[i] == 'X');
        if (hex) ++i;
        const std::size_t digits = i;
        bool nonZero = false;
        for (; i < searched.size(); ++i) {
            const auto c = static_cast<unsigned char>(searched[i]);
            const bool digit = (c >= '0' && c <= '9') ||
                               (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
            if (!digit) break;
            nonZero = nonZero || c != '0';
        }
        if (i > digits && !nonZero && i < searched.size() && searched[i] == ';') return pos;
    }
    return first;
}

// The name of the attribute whose value holds position `at` of a tag's text, empty when it
// cannot be told: the name before the "=" and the opening quote behind `at`.
std::string_view AttributeAt(std::string_view text, std::size_t at) {
    std::string_view best;
    std::size_t bestQuote = 0;
    for (const char quote : {'"', '\''}) {
        const std::size_t q = text.rfind(quote, at);
        if (q == std::string_view::npos || (!best.empty() && q < bestQuote)) continue;
        std::size_t e = q;
        while (e > 0 && IsBlank(text[e - 1])) --e;
        if (e == 0 || text[e - 1] != '=') continue;
        --e;
        while (e > 0 && IsBlank(text[e - 1])) --e;
        std::size_t b = e;
        while (b > 0 && IsNameChar(static_cast<unsigned char>(text[b - 1]))) --b;
        if (b == e) continue;
        best = text.substr(b, e - b);
        bestQuote = q;
    }
    return best;
}

// The name of an attribute that an element carries twice (the parser keeps both and a lookup
// finds only the first), or nullptr.
const char* RepeatedAttribute(const pugi::xml_node& node) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
        for (pugi::xml_attribute b = a.next_attribute(); b; b = b.next_attribute())
            if (std::strcmp(a.name(), b.name()) == 0) return a.name();
    return nullptr;
}

// A packet's document element must come within its first bytes, after at most the declaration,
// blanks, comments and a document type: anything else is refused before the whole file is
// parsed. Answers the problem, empty when the start looks like a packet (or the text is too
// short to tell, which the parser then reports).
constexpr std::size_t kPrologLimit = 64 * 1024;

std::string CheckPacketStart(std::string_view text) {
    const std::string_view head = text.substr(0, kPrologLimit);
    std::size_t pos = 0;
    for (;;) {
        while (pos < head.size() && IsBlank(head[pos])) ++pos;
        if (pos >= head.size()) break;
        if (head[pos] != '<')
            return Format("the file does not start like a data packet (byte %zu is no '<')", pos);
        std::size_t end = std::string_view::npos;
        if (head.compare(pos, 2, "<?") == 0) {
            end = head.find("?>", pos);
            if (end != std::string_view::npos) end += 2;
        } else if (head.compare(pos, 4, "<!--") == 0) {
            end = head.find("-->", pos);
            if (end != std::string_view::npos) end += 3;
        } else if (head.compare(pos, 9, "<!DOCTYPE") == 0) {
            int depth = 0;
            for (std::size_t i = pos + 9; i < head.size() && end == std::string_view::npos; ++i) {
                if (head[i] == '[') ++depth;
                else if (head[i] == ']') --depth;
                else if (head[i] == '>' && depth <= 0) end = i + 1;
            }
        } else {
            std::size_t nameEnd = pos + 1;
            while (nameEnd < head.size() && IsNameChar(static_cast<unsigned char>(head[nameEnd]))) ++nameEnd;
            const std::string_view name = head.substr(pos + 1, nameEnd - pos - 1);
            if (name == "DATAPACKET" || nameEnd == head.size()) return {};
            return Format("the document element is <%s>, not <DATAPACKET>", std::string(Utf8Prefix(name, 60)).c_str());
        }
        if (end == std::string_view::npos) break;
        pos = end;
    }
    if (text.size() <= kPrologLimit) return {};
    return Format("the file does not start like a data packet (no DATAPACKET element in its first %zu bytes)",
                  kPrologLimit);
}

// Finds the ROWDATA start tag, skipping comments, processing instructions, CDATA and quoted
// attribute values. Answers false when there is none.
bool FindRowData(const char* data, std::size_t size, std::size_t& contentStart, bool& selfClosing) {
    std::string_view text(data, size);
    std::size_t pos = 0;
    while ((pos = text.find('<', pos)) != std::string_view::npos) {
        auto skipTo = [&](std::string_view end) {
            const std::size_t at = text.find(end, pos);
            pos = at == std::string_view::npos ? size : at + end.size();
        };
        if (text.compare(pos, 4, "<!--") == 0) { skipTo("-->"); continue; }
        if (text.compare(pos, 9, "<![CDATA[") == 0) { skipTo("]]>"); continue; }
        if (text.compare(pos, 2, "<?") == 0) { skipTo("?>"); continue; }
        std::size_t nameEnd = pos + 1;
        while (nameEnd < size && IsNameChar(static_cast<unsigned char>(text[nameEnd]))) ++nameEnd;
        const bool isRowData = text.substr(pos + 1, nameEnd - pos - 1) == "ROWDATA";
        // End of the tag, respecting quotes ('>' may stand inside an attribute value).
        char quote = 0;
        std::size_t i = nameEnd;
        for (; i < size; ++i) {
            const char c = text[i];
            if (quote) { if (c == quote) quote = 0; continue; }
            if (c == '"' || c == '\'') quote = c;
            else if (c == '>') break;
        }
        if (i >= size) return false;
        if (isRowData) {
            selfClosing = text[i - 1] == '/';
            contentStart = i + 1;
            return true;
        }
        pos = i + 1;
    }
    return false;
}

std::string CheckEncoding(std::string_view text) {
    if (text.size() >= 2 && ((static_cast<unsigned char>(text[0]) == 0xFF &&
                              static_cast<unsigned char>(text[1]) == 0xFE) ||
                             (static_cast<unsigned char>(text[0]) == 0xFE &&
                              static_cast<unsigned char>(text[1]) == 0xFF)))
        return "the packet is UTF-16; only UTF-8 packets are read";
    if (text.compare(0, 5, "<?xml") != 0) return {};
    const std::size_t end = text.find("?>");
    const std::string_view decl = text.substr(0, end);
    const std::size_t at = decl.find("encoding");
    if (at == std::string_view::npos) return {};
    std::size_t q = decl.find_first_of("\"'", at);
    if (q == std::string_view::npos) return "the XML declaration's encoding has no value";
    const std::size_t qe = decl.find(decl[q], q + 1);
    if (qe == std::string_view::npos) return "the XML declaration's encoding has no value";
    const std::string_view name = decl.substr(q + 1, qe - q - 1);
    if (SameTextAscii(name, "UTF-8") || SameTextAscii(name, "UTF8")) return {};
    return "the packet declares the encoding " + Quote(name) + "; only UTF-8 packets are read";
}

DBResult BadPacket(ErrorState& err, const std::string& what) {
    return err.Fail(DBERR_INVALIDPACKET, "Unreadable data packet: " + what);
}

DBResult ReadField(const pugi::xml_node& node, std::size_t number, FieldInfo& field,
                   ErrorState& err) {
    const std::string where = Format("FIELD %zu", number);
    const pugi::xml_attribute nameAttr = node.attribute("attrname");
    if (!nameAttr) return BadPacket(err, where + " has no attrname");
    field.name = nameAttr.value();
    if (field.name.empty() || field.name.size() > 31)
        return BadPacket(err, where + ": attrname " + Quote(field.name) + " is not 1 to 31 bytes");
    // The same rule as for a binary packet's field names, so that either form of a packet reads
    // back in the other.
    if (HasControlCharacter(field.name)) return BadPacket(err, where + ": the attrname holds a control character");
    const std::string named = where + " (" + field.name + ")";
    if (const char* repeated = RepeatedAttribute(node))
        return BadPacket(err, named + Format(" carries the attribute '%s' twice", repeated));
    const pugi::xml_attribute typeAttr = node.attribute("fieldtype");
    if (!typeAttr) return BadPacket(err, named + " has no fieldtype");
    const std::string_view word = typeAttr.value();
    DSFLDDesc& d = field.desc;
    d.iFldType = fldUNKNOWN;
    for (const auto& e : kTypeWords)
        if (word == e.word) d.iFldType = e.type;
    if (d.iFldType == fldUNKNOWN)
        return BadPacket(err, named + ": unknown fieldtype " + Quote(word));
    d.iFldSubType = d.iFldType == fldBLOB ? fldstBINARY : fldstNONE;
    if (const pugi::xml_attribute sub = node.attribute("SUBTYPE")) {
        bool found = false;
        for (const auto& e : kSubtypes)
            if (e.type == d.iFldType && std::string_view(sub.value()) == e.word) {
                d.iFldSubType = e.subtype;
                found = true;
            }
        if (!found)
            return BadPacket(err, named + ": SUBTYPE " + Quote(sub.value()) + " does not fit " +
                                      std::string(word));
    }
    if (d.iFldSubType == fldstFIXED) d.iFldAttr |= fldAttrFIXED;
    const bool needsWidth = d.iFldType == fldZSTRING || d.iFldType == fldWIDESTRING ||
                            d.iFldType == fldBYTES || d.iFldType == fldVARBYTES;
    const bool isBcd = d.iFldType == fldBCD || d.iFldType == fldFMTBCD;
    const pugi::xml_attribute widthAttr = node.attribute("WIDTH");
    if (widthAttr) {
        if (!ParsePositive(widthAttr.value(), d.iUnits1))
            return BadPacket(err, named + ": WIDTH " + Quote(widthAttr.value()) +
                                      " is not a positive integer");
    } else if (needsWidth) {
        return BadPacket(err, named + " has no WIDTH");
    }
    if (isBcd) {
        if (!widthAttr) d.iUnits1 = 32;
        if (d.iUnits1 > 64)
            return BadPacket(err, named + Format(": WIDTH %d is more than 64 digits", d.iUnits1));
        if (const pugi::xml_attribute dec = node.attribute("DECIMALS")) {
            std::int32_t places = -1;
            const std::string_view t = dec.value();
            const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), places);
            if (ec != std::errc() || ptr != t.data() + t.size() || places < 0 || places > d.iUnits1)
                return BadPacket(err, named + ": DECIMALS " + Quote(t) + " is not 0 to WIDTH");
            d.iUnits2 = places;
        }
    } else if (!needsWidth && d.iFldType != fldBLOB) {
        d.iUnits1 = 0;
    }
    if (node.attribute("hidden").as_bool()) d.iFldAttr |= fldAttrHIDDEN;
    if (node.attribute("readonly").as_bool()) d.iFldAttr |= fldAttrREADONLY;
    if (node.attribute("required").as_bool()) d.iFldAttr |= fldAttrREQUIRED;
    static const char* const kKnown[] = {"attrname", "fieldtype", "WIDTH",    "DECIMALS",
                                         "SUBTYPE",  "hidden",    "readonly", "required"};
    for (const pugi::xml_attribute a : node.attributes()) {
        const std::string_view n = a.name();
        if (std::any_of(std::begin(kKnown), std::end(kKnown), [&](const char* k) { return n == k; })) continue;
        if (const std::string problem = ValidateParamName(field.params, n, true); !problem.empty())
            return BadPacket(err, named + ": " + problem);
        field.params.emplace_back(n, a.value());
    }
    if (!LayoutField(field))
        return BadPacket(err, named + Format(": WIDTH %d is out of range", d.iUnits1));
    return DBERR_NONE;
}

bool SameLayout(const std::vector<FieldInfo>& a, const std::vector<FieldInfo>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].desc.iFldType != b[i].desc.iFldType ||
            a[i].desc.iUnits1 != b[i].desc.iUnits1 || a[i].desc.iUnits2 != b[i].desc.iUnits2)
            return false;
    return true;
}

// Turns ROW elements into stored rows of the table.
class RowReader {
public:
    RowReader(Table& table, ErrorState& err) : table_(table), err_(err) {
        const auto& fields = table.Fields();
        n_ = fields.size();
        fixedSize_ = 0;
        for (const auto& f : fields) fixedSize_ = std::max(fixedSize_, f.storeOffset + f.storeSize);
        fixed_.resize(fixedSize_);
        var_.resize(n_);
        scratch_.resize(n_);
        states_.resize(n_);
        for (std::size_t i = 0; i < n_; ++i) {
            byName_.emplace(fields[i].name, static_cast<std::int32_t>(i));
            encodedNames_.push_back(XmlName(fields[i].name));
            byName_.emplace(encodedNames_.back(), static_cast<std::int32_t>(i));
        }
        rowStateIsField_ = table.FindField(kRowStateAttr) >= 0;
        unchangedIsField_ = table.FindField(kRowUnchangedAttr) >= 0;
    }

    static std::string XmlName(const std::string& name) {
        std::string out;
        for (std::size_t i = 0; i < name.size(); ++i) {
            const auto c = static_cast<unsigned char>(name[i]);
            if (i == 0 && c >= '0' && c <= '9') out += '_';
            if (IsNameChar(c) && !(i == 0 && (c == '.' || c == '-'))) out += static_cast<char>(c);
            else out += Format("_x%02X_", c);
        }
        return out;
    }

    DBResult Row(const pugi::xml_node& node) {
        ++rowNumber_;
        if (std::strcmp(node.name(), "ROW") != 0)
            return Fail(Format("element <%s> where a ROW belongs", node.name()));
        std::fill(states_.begin(), states_.end(), BLANK_NULL);
        std::memset(fixed_.data(), 0, fixedSize_);
        std::uint8_t status = dsRecUnmodified;
        std::size_t expected = 0;
        bool statusSeen = false, unchangedSeen = false;
        // A row holds its values as attributes; nothing inside it would be read.
        if (const pugi::xml_node inner = node.first_child()) {
            if (inner.type() == pugi::node_element)
                return Fail(Format("a <%s> element stands inside the ROW (rows cannot hold rows)", inner.name()));
            return Fail("text stands inside the ROW (a row holds its values as attributes only)");
        }
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
            const char* name = a.name();
            std::int32_t index = -1;
            // Rows usually name the fields in field order: try the next one first.
            if (expected < n_ && table_.Fields()[expected].name == name) {
                index = static_cast<std::int32_t>(expected);
            } else {
                const auto found = byName_.find(name);
                if (found != byName_.end()) index = found->second;
            }
            if (index < 0) {
                if (!rowStateIsField_ && std::strcmp(name, kRowStateAttr) == 0) {
                    if (statusSeen) return Fail(Format("attribute '%s' appears twice", name));
                    statusSeen = true;
                    if (!ParseStatus(a.value(), status)) return Fail(Format("RowState %s is not a record status", Quote(a.value()).c_str()));
                    continue;
                }
                if (!unchangedIsField_ && std::strcmp(name, kRowUnchangedAttr) == 0) {
                    if (unchangedSeen) return Fail(Format("attribute '%s' appears twice", name));
                    unchangedSeen = true;
                    unchangedList_ = a.value();
                    continue;
                }
                return Fail(Format("attribute '%s' names no field", name));
            }
            if (states_[static_cast<std::size_t>(index)] != BLANK_NULL)
                return Fail(Format("field '%s' is given twice", table_.Fields()[static_cast<std::size_t>(index)].name.c_str()));
            expected = static_cast<std::size_t>(index) + 1;
            const DBResult r = Value(static_cast<std::uint32_t>(index), a.value());
            if (r != DBERR_NONE) return r;
        }
        if (!unchangedList_.empty()) {
            const DBResult r = ApplyUnchanged();
            if (r != DBERR_NONE) return r;
        }
        return Store(status);
    }

    DBResult Finish() {
        if (pendingOriginal_)
            return Fail("the old values of a modified record are not followed by its new values");
        return DBERR_NONE;
    }

    std::size_t RowNumber() const { return rowNumber_; }

    DBResult Fail(const std::string& what) {
        return BadPacket(err_, Format("row %zu: ", rowNumber_) + what);
    }

    // Refuses the rows text `chunk`, whose rows follow the ones read so far, for the zero
    // character at `at`, naming its row and field.
    DBResult FailZeroCharacter(std::string_view chunk, std::size_t at) {
        std::size_t row = rowNumber_;
        std::size_t tag = 0;
        for (std::size_t pos = 0; (pos = chunk.find("<ROW", pos)) < at; pos += 4) {
            const char next = pos + 4 < chunk.size() ? chunk[pos + 4] : '\0';
            if (IsBlank(next) || next == '/' || next == '>') {
                ++row;
                tag = pos;
            }
        }
        const std::string_view attr = AttributeAt(chunk.substr(tag, at - tag), at - tag);
        std::string field;
        if (const auto found = byName_.find(std::string(attr)); found != byName_.end())
            field = table_.Fields()[static_cast<std::size_t>(found->second)].name;
        const std::string where = field.empty() ? Format("row %zu", row)
                                                : Format("row %zu, field '%s'", row, field.c_str());
        return BadPacket(err_, where + ": the value holds a zero character, which no value may hold");
    }

private:
    static bool ParseStatus(std::string_view text, std::uint8_t& status) {
        unsigned value = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || ptr != text.data() + text.size() || !IsRowStatus(value)) return false;
        status = static_cast<std::uint8_t>(value);
        return true;
    }

    DBResult ApplyUnchanged() {
        std::string_view list = unchangedList_;
        while (!list.empty()) {
            const std::size_t start = list.find_first_not_of(' ');
            if (start == std::string_view::npos) break;
            list.remove_prefix(start);
            std::uint32_t number = 0;
            const auto [ptr, ec] = std::from_chars(list.data(), list.data() + list.size(), number);
            if (ec != std::errc() || number < 1 || number > n_ ||
                (ptr != list.data() + list.size() && *ptr != ' '))
                return Fail("RowUnchanged " + Quote(unchangedList_) + " is not a list of field numbers");
            states_[number - 1] = BLANK_NOTCHANGED;
            list.remove_prefix(static_cast<std::size_t>(ptr - list.data()));
        }
        unchangedList_.clear();
        return DBERR_NONE;
    }

    DBResult Value(std::uint32_t i, const char* text) {
        const FieldInfo& f = table_.Fields()[i];
        const std::string_view value(text);
        states_[i] = BLANK_NONE;
        if (f.storage == Storage::String) {
            if (value.size() > static_cast<std::size_t>(f.desc.iUnits1))
                return FailValue(f, value, Format("it is %zu bytes, more than the WIDTH %d",
                                                  value.size(), f.desc.iUnits1));
            var_[i] = value;
            return DBERR_NONE;
        }
        std::string& out = scratch_[i];
        const std::string problem = ParseValueText(f, value, out);
        if (!problem.empty()) return FailValue(f, value, problem);
        switch (f.storage) {
        case Storage::String: break;
        case Storage::WideString:
        case Storage::VarBytes: var_[i] = out; break;
        case Storage::Fixed:
            if (f.IsBlob()) {
                BlobRef ref{nullptr, static_cast<std::uint32_t>(out.size()), 0};
                std::uint8_t* bytes = table_.RowArena().Allocate(out.size());
                std::memcpy(bytes, out.data(), out.size());
                ref.data = bytes;
                std::memcpy(fixed_.data() + f.storeOffset, &ref, sizeof ref);
            } else {
                std::memcpy(fixed_.data() + f.storeOffset, out.data(), std::min<std::size_t>(out.size(), f.storeSize));
            }
            break;
        }
        return DBERR_NONE;
    }

    DBResult FailValue(const FieldInfo& f, std::string_view value, const std::string& problem) {
        return Fail(Format("field '%s': value %s is refused: %s", f.name.c_str(),
                           Quote(value).c_str(), problem.c_str()));
    }

    DBResult Store(std::uint8_t status) {
        std::size_t total = n_ + fixedSize_;
        for (std::size_t i = 0; i < n_; ++i)
            if (states_[i] == BLANK_NONE && table_.Fields()[i].storage != Storage::Fixed)
                total += var_[i].size();
        std::uint8_t* row = table_.RowArena().Allocate(total);
        std::memcpy(row, states_.data(), n_);
        std::memcpy(row + n_, fixed_.data(), fixedSize_);
        auto pos = static_cast<std::uint32_t>(n_ + fixedSize_);
        for (std::size_t i = 0; i < n_; ++i) {
            const FieldInfo& f = table_.Fields()[i];
            if (f.storage == Storage::Fixed) continue;
            std::uint8_t* ref = row + n_ + f.storeOffset;
            const std::uint32_t len = states_[i] == BLANK_NONE ? static_cast<std::uint32_t>(var_[i].size()) : 0;
            std::memcpy(ref, &len, 4);
            std::memcpy(ref + 4, &pos, 4);
            if (len) std::memcpy(row + pos, var_[i].data(), len);
            pos += len;
        }
        return Place(row, status);
    }

    DBResult Place(const std::uint8_t* row, std::uint8_t status) {
        if (table_.isDelta) {
            table_.AddLoadedRecord(row, nullptr, status, false);
            return DBERR_NONE;
        }
        if (pendingOriginal_ && status != dsRecModified)
            return Fail("the old values of a modified record are not followed by its new values");
        switch (status) {
        case dsRecOrg: pendingOriginal_ = row; return DBERR_NONE;
        case dsRecModified:
            if (!pendingOriginal_) return Fail("new values of a modified record without its old values");
            table_.AddLoadedRecord(row, pendingOriginal_, dsRecModified, true);
            pendingOriginal_ = nullptr;
            return DBERR_NONE;
        case dsRecNew:
        case dsRecDeleted: table_.AddLoadedRecord(row, nullptr, status, true); return DBERR_NONE;
        default: table_.AddLoadedRecord(row, nullptr, dsRecUnmodified, false); return DBERR_NONE;
        }
    }

    Table& table_;
    ErrorState& err_;
    std::size_t n_ = 0;
    std::uint32_t fixedSize_ = 0;
    std::vector<std::uint8_t> fixed_;
    std::vector<std::uint8_t> states_;
    std::vector<std::string_view> var_;
    std::vector<std::string> scratch_;
    std::vector<std::string> encodedNames_;
    std::unordered_map<std::string, std::int32_t> byName_;
    std::string unchangedList_;
    const std::uint8_t* pendingOriginal_ = nullptr;
    bool rowStateIsField_ = false;
    bool unchangedIsField_ = false;
    std::size_t rowNumber_ = 0;
};

DBResult ParseChunk(pugi::xml_document& doc, std::vector<char>& buffer, const char* begin,
                    std::size_t size, RowReader& rows, ErrorState& err) {
    const std::string_view chunk(begin, size);
    if (const std::size_t zero = FindZeroCharacter(chunk); zero != std::string_view::npos)
        return rows.FailZeroCharacter(chunk, zero);
    buffer.assign(begin, begin + size);
    const pugi::xml_parse_result parsed = doc.load_buffer_inplace(
        buffer.data(), buffer.size(), pugi::parse_default | pugi::parse_fragment, pugi::encoding_utf8);
    if (!parsed)
        return BadPacket(err, Format("XML error after row %zu: %s", rows.RowNumber(),
                                     parsed.description()));
    for (pugi::xml_node node = doc.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_comment || node.type() == pugi::node_pi) continue;
        if (node.type() != pugi::node_element)
            return rows.Fail("text where a ROW belongs");
        const DBResult r = rows.Row(node);
        if (r != DBERR_NONE) return r;
    }
    return DBERR_NONE;
}

DBResult ReadRows(Table& table, const char* begin, const char* end, ErrorState& err) {
    RowReader rows(table, err);
    pugi::xml_document doc;
    std::vector<char> buffer;
    const std::string_view region(begin, static_cast<std::size_t>(end - begin));
    // Comments, CDATA and processing instructions may hold "<ROW"; such packets are parsed whole.
    const bool plain = region.find("<!") == std::string_view::npos &&
                       region.find("<?") == std::string_view::npos;
    const char* pos = begin;
    while (pos < end) {
        const char* cut = end;
        if (plain && static_cast<std::size_t>(end - pos) > kChunkBytes) {
            const std::string_view rest(pos + kChunkBytes, static_cast<std::size_t>(end - pos) - kChunkBytes);
            std::size_t at = 0;
            while ((at = rest.find("<ROW", at)) != std::string_view::npos) {
                const char next = at + 4 < rest.size() ? rest[at + 4] : '\0';
                if (next == ' ' || next == '/' || next == '>' || next == '\t' || next == '\n' || next == '\r') break;
                at += 4;
            }
            if (at != std::string_view::npos) cut = rest.data() + at;
        }
        const DBResult r = ParseChunk(doc, buffer, pos, static_cast<std::size_t>(cut - pos), rows, err);
        if (r != DBERR_NONE) return r;
        pos = cut;
    }
    return rows.Finish();
}

DBResult ReadMetadata(Table& table, const pugi::xml_node& packet, ErrorState& err) {
    const pugi::xml_node metadata = packet.child("METADATA");
    if (!metadata) return BadPacket(err, "DATAPACKET has no METADATA");
    const pugi::xml_node fieldsNode = metadata.child("FIELDS");
    std::vector<FieldInfo> fields;
    std::size_t number = 0;
    for (const pugi::xml_node node : fieldsNode.children()) {
        if (node.type() != pugi::node_element) continue;
        ++number;
        if (std::strcmp(node.name(), "FIELD") != 0)
            return BadPacket(err, Format("element <%s> inside FIELDS", node.name()));
        FieldInfo field;
        const DBResult r = ReadField(node, number, field, err);
        if (r != DBERR_NONE) return r;
        fields.push_back(std::move(field));
    }
    std::vector<std::pair<std::string, std::string>> params;
    if (const char* repeated = RepeatedAttribute(metadata.child("PARAMS")))
        return BadPacket(err, Format("PARAMS carries the attribute '%s' twice", repeated));
    for (const pugi::xml_attribute a : metadata.child("PARAMS").attributes()) {
        if (const std::string problem = ValidateParamName(params, a.name(), false); !problem.empty())
            return BadPacket(err, "PARAMS: " + problem);
        params.emplace_back(a.name(), a.value());
    }
    const bool delta = std::any_of(params.begin(), params.end(), [](const auto& p) {
        return p.first == kDeltaParam && SameTextAscii(p.second, "TRUE");
    });
    if (table.HasFields()) {
        if (!SameLayout(table.Fields(), fields))
            return err.Fail(DBERR_METADATAMISMATCH,
                            "The appended data packet's fields differ from the dataset's fields");
        return DBERR_NONE;
    }
    if (fields.empty()) return BadPacket(err, "the packet describes no fields");
    const DBResult r = table.SetFields(std::move(fields), err);
    if (r != DBERR_NONE) return BadPacket(err, err.text);
    table.Params() = std::move(params);
    table.isDelta = delta;
    return DBERR_NONE;
}

// ---- writing -----------------------------------------------------------------------------------

void AppendEscaped(std::string& out, std::string_view text, bool asciiOnly) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        switch (c) {
        case '&': out += "&amp;"; continue;
        case '<': out += "&lt;"; continue;
        case '>': out += "&gt;"; continue;
        case '"': out += "&quot;"; continue;
        default: break;
        }
        if (c < 0x20) {
            out += Format("&#%u;", c);
        } else if (c >= 0x80 && asciiOnly) {
            // A character reference for the whole UTF-8 character; a stray byte stands as itself.
            int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
            std::uint32_t cp = extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
            bool ok = extra > 0 && i + static_cast<std::size_t>(extra) < n;
            for (int k = 1; ok && k <= extra; ++k) {
                if ((p[i + k] & 0xC0) != 0x80) ok = false;
                else cp = (cp << 6) | (p[i + k] & 0x3F);
            }
            if (!ok) { out += static_cast<char>(c); continue; }
            out += Format("&#x%X;", cp);
            i += static_cast<std::size_t>(extra);
        } else {
            out += static_cast<char>(c);
        }
    }
}

void AppendAttr(std::string& out, std::string_view name, std::string_view value, bool asciiOnly) {
    out += ' ';
    out += name;
    out += "=\"";
    AppendEscaped(out, value, asciiOnly);
    out += '"';
}

const char* SubtypeWord(const DSFLDDesc& d) {
    if (d.iFldType == fldBLOB && d.iFldSubType == fldstBINARY) return "Binary";
    for (const auto& e : kSubtypes)
        if (e.type == d.iFldType && e.subtype == d.iFldSubType && e.subtype != fldstNONE) return e.word;
    return nullptr;
}

}  // namespace

std::string ValidateParamName(const std::vector<std::pair<std::string, std::string>>& params,
                              std::string_view name, bool fieldLevel) {
    // A parameter is written as an attribute: its name must be one the XML reader takes back,
    // the colon included.
    const auto start = [](char c) { return c == ':' || IsNameStart(static_cast<unsigned char>(c)); };
    const auto inner = [](char c) { return c == ':' || IsNameChar(static_cast<unsigned char>(c)); };
    if (name.empty() || !start(name[0]) || !std::all_of(name.begin(), name.end(), inner))
        return "parameter name " + Quote(name) + " is no XML name";
    static const char* const kFieldAttrs[] = {"attrname", "fieldtype", "WIDTH",    "DECIMALS",
                                              "SUBTYPE",  "hidden",    "readonly", "required"};
    if (fieldLevel && std::any_of(std::begin(kFieldAttrs), std::end(kFieldAttrs), [&](const char* k) { return name == k; }))
        return "parameter name " + Quote(name) + " is a FIELD attribute";
    for (const auto& p : params)
        if (p.first == name) return "parameter " + Quote(name) + " appears twice";
    return {};
}

std::string ValidateField(FieldInfo& field) {
    const DSFLDDesc& d = field.desc;
    if (field.name.empty() || field.name.size() > 31) return "the name is not 1 to 31 bytes";
    if (HasControlCharacter(field.name)) return "the name holds a control character";
    if (TypeWord(field).empty()) return Format("type %d has no packet form", d.iFldType);
    bool subtypeFits = d.iFldSubType == fldstNONE || (d.iFldType == fldBLOB && d.iFldSubType == fldstBINARY);
    for (const auto& e : kSubtypes) subtypeFits = subtypeFits || (e.type == d.iFldType && e.subtype == d.iFldSubType);
    if (!subtypeFits) return Format("subtype %d does not fit type %d", d.iFldSubType, d.iFldType);
    if ((d.iFldType == fldBCD || d.iFldType == fldFMTBCD) &&
        (d.iUnits1 < 1 || d.iUnits1 > 64 || d.iUnits2 < 0 || d.iUnits2 > d.iUnits1))
        return Format("precision %d and places %d are out of range", d.iUnits1, d.iUnits2);
    if (d.iFldAttr & ~0x3F) return Format("attribute bits 0x%X are not known", d.iFldAttr);
    if (!LayoutField(field)) return Format("width %d is out of range", d.iUnits1);
    return {};
}

DBResult ReadXmlPacket(Table& table, const char* data, std::size_t size, ErrorState& err) {
    if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
        data += 3;
        size -= 3;
    }
    const std::string_view text(data, size);
    if (const std::string problem = CheckEncoding(text); !problem.empty()) return BadPacket(err, problem);
    if (const std::string problem = CheckPacketStart(text); !problem.empty()) return BadPacket(err, problem);
    std::size_t contentStart = 0;
    bool selfClosing = true;
    // The packet without its rows (they are read in pieces below); the text itself when it has
    // none.
    std::string header;
    std::string_view headerText = text;
    const char* rowsBegin = nullptr;
    const char* rowsEnd = nullptr;
    if (FindRowData(data, size, contentStart, selfClosing) && !selfClosing) {
        const std::size_t close = text.rfind("</ROWDATA");
        if (close == std::string_view::npos || close < contentStart)
            return BadPacket(err, "ROWDATA is not closed (the packet may be cut short)");
        header.reserve(contentStart + size - close);
        header.append(data, contentStart);
        header.append(data + close, size - close);
        headerText = header;
        rowsBegin = data + contentStart;
        rowsEnd = data + close;
    }
    if (std::size_t zero = FindZeroCharacter(headerText); zero != std::string_view::npos) {
        if (rowsBegin && zero >= contentStart) zero += static_cast<std::size_t>(rowsEnd - rowsBegin);
        return BadPacket(err, Format("a zero character stands at byte %zu, outside the rows; no name or "
                                     "value may hold one", zero));
    }
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(headerText.data(), headerText.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!parsed) {
        // Offsets past the start of the rows lie behind them in the original text.
        std::size_t offset = static_cast<std::size_t>(parsed.offset);
        if (rowsBegin && offset >= contentStart) offset += static_cast<std::size_t>(rowsEnd - rowsBegin);
        return BadPacket(err, Format("XML error at byte %zu: %s", offset, parsed.description()));
    }
    const pugi::xml_node packet = doc.document_element();
    if (std::strcmp(packet.name(), "DATAPACKET") != 0)
        return BadPacket(err, Format("the document element is <%s>, not <DATAPACKET>", packet.name()));
    if (!packet.child("ROWDATA")) return BadPacket(err, "DATAPACKET has no ROWDATA");
    // Everything else would be passed over: a ROW after ROWDATA, a second METADATA.
    for (const pugi::xml_node part : packet.children()) {
        if (part.type() != pugi::node_element && part.type() != pugi::node_pcdata && part.type() != pugi::node_cdata)
            continue;
        const std::string_view name = part.name();
        if ((name != "METADATA" && name != "ROWDATA") || packet.child(part.name()) != part)
            return BadPacket(err, part.type() == pugi::node_element
                                      ? Format("DATAPACKET holds <%s> besides its METADATA and ROWDATA", part.name())
                                      : std::string("DATAPACKET holds text besides its METADATA and ROWDATA"));
    }
    DBResult r = ReadMetadata(table, packet, err);
    if (r != DBERR_NONE) return r;
    if (rowsBegin) r = ReadRows(table, rowsBegin, rowsEnd, err);
    table.Touch();
    return r;
}

void WriteXmlPacket(const PacketContent& content, bool asciiOnly, std::vector<std::uint8_t>& bytes) {
    const Table& table = *content.table;
    const auto& fields = table.Fields();
    std::string out;
    out.reserve(4096 + content.rows.size() * 64 * (fields.size() + 1));
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    out += "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
    std::vector<std::string> names;
    for (const FieldInfo& f : fields) {
        names.push_back(RowReader::XmlName(f.name));
        const DSFLDDesc& d = f.desc;
        out += "<FIELD";
        AppendAttr(out, "attrname", f.name, asciiOnly);
        AppendAttr(out, "fieldtype", TypeWord(f), asciiOnly);
        const bool bcd = d.iFldType == fldBCD || d.iFldType == fldFMTBCD;
        if (f.storage != Storage::Fixed || d.iFldType == fldBYTES || bcd ||
            (d.iFldType == fldBLOB && d.iUnits1 > 0))
            AppendAttr(out, "WIDTH", std::to_string(d.iUnits1), false);
        if (bcd && d.iUnits2 != 0) AppendAttr(out, "DECIMALS", std::to_string(d.iUnits2), false);
        if (const char* sub = SubtypeWord(d)) AppendAttr(out, "SUBTYPE", sub, false);
        if (d.iFldAttr & fldAttrREQUIRED) AppendAttr(out, "required", "true", false);
        if (d.iFldAttr & fldAttrREADONLY) AppendAttr(out, "readonly", "true", false);
        if (d.iFldAttr & fldAttrHIDDEN) AppendAttr(out, "hidden", "true", false);
        for (const auto& [name, value] : f.params) AppendAttr(out, name, value, asciiOnly);
        out += "/>";
    }
    out += "</FIELDS><PARAMS";
    bool deltaWritten = false;
    for (const auto& [name, value] : table.Params()) {
        if (name == kDeltaParam) {
            if (!content.delta) continue;
            deltaWritten = true;
        }
        AppendAttr(out, name, value, asciiOnly);
    }
    if (content.delta && !deltaWritten) AppendAttr(out, kDeltaParam, "TRUE", false);
    out += "/></METADATA><ROWDATA>";
    std::string value;
    const std::size_t n = fields.size();
    for (const PacketRow& pr : content.rows) {
        out += "<ROW";
        if (content.withRowState && pr.status != dsRecUnmodified)
            AppendAttr(out, kRowStateAttr, std::to_string(pr.status), false);
        std::string unchanged;
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint8_t state = pr.row[i];
            if (state == BLANK_NOTCHANGED) {
                if (!unchanged.empty()) unchanged += ' ';
                unchanged += std::to_string(i + 1);
            }
            if (state != BLANK_NONE) continue;
            value.clear();
            const std::string_view var =
                fields[i].storage == Storage::Fixed ? std::string_view() : table.VarBytes(pr.row, i);
            FormatValueText(fields[i], table.FixedPtr(pr.row, i), var, value);
            AppendAttr(out, names[i], value, asciiOnly);
        }
        if (!unchanged.empty()) AppendAttr(out, kRowUnchangedAttr, unchanged, false);
        out += "/>";
    }
    out += "</ROWDATA></DATAPACKET>\n";
    bytes.assign(out.begin(), out.end());
}

}  // namespace tarnwick::dsengine::detail
