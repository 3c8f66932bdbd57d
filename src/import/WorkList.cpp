#include "import/WorkList.h"

#include <array>

namespace tarnwick::import {

namespace {

constexpr std::array<int, 5> kColWidths{30, 400, 100, 100, 200};
constexpr std::string_view kSeparator = "__";

// Byte length of the UTF-8 character that starts `text` (1 for a stray byte).
std::size_t FirstCharLength(std::string_view text) {
    if (text.empty()) return 0;
    std::size_t n = 1;
    while (n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) ++n;
    return n;
}

// Takes the text before the first "__" and drops it with the separator. Without a separator the
// head is empty and the first character is dropped all the same, as the stores have always seen
// it in the grid; a whole UTF-8 character goes, never half of one.
std::string TakeUpToSeparator(std::string_view& rest) {
    const auto at = rest.find(kSeparator);
    if (at == std::string_view::npos) {
        rest.remove_prefix(FirstCharLength(rest));
        return {};
    }
    std::string head(rest.substr(0, at));
    rest.remove_prefix(at + kSeparator.size());
    return head;
}

}  // namespace

std::string_view FileNameOf(std::string_view line) {
    const auto cut = line.rfind('/');
    return cut == std::string_view::npos ? line : line.substr(cut + 1);
}

std::string PrintableName(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 0xF];
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080 to U+009F: control characters that terminals act on, too
            const auto low = static_cast<unsigned char>(text[++i]);
            shown += "\\u00";
            shown += kHex[low >> 4];
            shown += kHex[low & 0xF];
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

TFileNameParts SplitFileName(std::string_view fileName) {
    TFileNameParts parts;
    std::string_view rest = fileName;
    parts.Prefix = TakeUpToSeparator(rest);
    parts.TableName = TakeUpToSeparator(rest);
    parts.Remainder = std::string(rest);
    return parts;
}

void BuildWorkList(IImportView& view) {
    const std::vector<std::string> lines = view.Memo1Lines();
    IWorkGrid& grid = view.Grid();
    grid.SetRowCount(static_cast<int>(lines.size()) + 1);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int row = static_cast<int>(i) + 1;
        for (int col = 0; col < static_cast<int>(kColWidths.size()); ++col)
            grid.SetColWidth(col, kColWidths[static_cast<std::size_t>(col)]);
        grid.SetCell(0, row, std::to_string(row));
        grid.SetCell(1, row, lines[i]);
        const TFileNameParts parts = SplitFileName(FileNameOf(lines[i]));
        grid.SetCell(2, row, parts.Prefix);
        grid.SetCell(3, row, parts.TableName);
        view.AppendMemo2(parts.TableName);
        grid.SetCell(4, row, parts.Remainder);
    }
    view.RepaintGrid();
}

void WalkWorkList(IImportView& view, const TRuleTable& rules) {
    IWorkGrid& grid = view.Grid();
    const int last = grid.RowCount() - 1;  // read once: rules never add rows
    for (int row = 1; row <= last; ++row) {
        view.RepaintWindow();
        grid.SetRowColour(row, clYellow);
        if (grid.Cell(0, row) == kDoneMark) {
            view.RowReached(row, grid.Cell(3, row), grid.Cell(1, row), TRowOutcome::AlreadyDone);
            continue;
        }
        grid.SetCell(0, row, std::string(kDoneMark));
        TImportContext context{view, row, grid.Cell(3, row), grid.Cell(1, row)};
        const TImportRule* rule = rules.Find(context.TableName);
        view.RowReached(row, context.TableName, context.Path, rule ? TRowOutcome::Rule : TRowOutcome::NoRule);
        if (rule != nullptr) (*rule)(context);
    }
}

}  // namespace tarnwick::import
