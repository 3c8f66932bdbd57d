// Random and mutated filter texts: the parser either answers a well-formed image or raises one of
// its own failures; it never crashes, hangs or reads outside the text (run under the sanitizers).
// An input that ever broke this is kept as a file in fuzz-regressions/ and replayed first.

#include "FilterFixture.h"

#include "base/Exception.h"
#include "data/clientdataset/filter/FilterExpr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace tarnwick {
namespace {

using filtertest::DescribeImage;
using filtertest::DetailFields;

std::string Escaped(std::string_view text) {
    std::ostringstream out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && c != '\\') out << c;
        else out << "\\x" << std::hex << static_cast<int>(b) << std::dec;
    }
    return out.str();
}

// Runs one text with the given options; answers an empty text when all went as it should.
std::string CheckOne(std::string_view text, TFilterOptions options) {
    try {
        const std::vector<std::uint8_t> image = BuildFilterImage(DetailFields(), text, options);
        const std::string described = DescribeImage(image);
        if (described.find("<bad") != std::string::npos) return "bad image " + described;
    } catch (const Exception&) {
        // EDatabaseError and EConvertError are the parser's answers to a faulty text.
    } catch (const std::exception& e) {
        return std::string("foreign exception: ") + e.what();
    }
    return {};
}

void Check(std::string_view text) {
    for (TFilterOptions options : {TFilterOptions{}, foCaseInsensitive | foNoPartialCompare,
                                   TFilterOptions(foCaseInsensitive)}) {
        const std::string fault = CheckOne(text, options);
        if (!fault.empty()) {
            ADD_FAILURE() << fault << " for text \"" << Escaped(text) << "\"";
            return;
        }
    }
}

TEST(FilterFuzz, KeptRegressionInputs) {
    const char* root = std::getenv("TARNWICK_TEST_DATA");
    ASSERT_NE(root, nullptr);
    const std::filesystem::path folder =
        std::filesystem::path(root) / "clientdataset" / "filter" / "fuzz-regressions";
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().filename().string());
        Check(text);
        ++replayed;
    }
    EXPECT_GT(replayed, 0) << "no inputs in " << folder;
}

// Pieces that make texts close to real ones, so the generator reaches deep into the parser.
const std::vector<std::string>& Pieces() {
    static const std::vector<std::string> pieces = {
        "MASTERBILLID", "masterbillid", "LINENO", "SMALLQTY", "WORDQTY", "MEMO", "PRICE", "TOTAL",
        "品名", "NOFIELD", "[", "]", "[MASTERBILLID]", "=", "<>", "<", ">", "<=", ">=", "==", "(",
        ")", "'", "''", "'B001'", "'O''NEIL'", "'AB'CD'", "*", "'*'", "'B0*'", "/*", "*/", " ",
        "\t", "AND", "OR", "ORDER", "BY", "FOR", "UPDATE", "IS", "NULL", "12", "-5", "1.5",
        "-.5", "65536", "-32769", "2147483648", ".", "-", "綠", "\xE7", "\x80", "\xFF",
        std::string(5000, '('), std::string(5000, ')'),
        std::string(1, '\0'), std::string(300, 'K'), std::string(255, 'Z') + "*"};
    return pieces;
}

TEST(FilterFuzz, GeneratedTextsNeverBreakTheParser) {
    std::mt19937 random(20261210);
    const auto& pieces = Pieces();
    for (int round = 0; round < 25000; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 8);
        for (int i = 0; i < count; ++i) {
            if (random() % 10 == 0) text += static_cast<char>(random() % 256);
            else text += pieces[random() % pieces.size()];
            if (random() % 3 == 0) text += ' ';
        }
        Check(text);
        if (HasFailure()) return;
    }
}

TEST(FilterFuzz, MutatedBillFiltersNeverBreakTheParser) {
    const std::vector<std::string> seeds = {
        "MASTERBILLID = 'B001'", "'B0*' <= [masterbillid]", "/* x */ (SMALLQTY >= '-12')",
        "MASTERBILLID = 'AB'CD' ", "品名 <> '綠茶''s'"};
    std::mt19937 random(7);
    for (int round = 0; round < 25000; ++round) {
        std::string text = seeds[random() % seeds.size()];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = text.empty() ? 0 : random() % (text.size() + 1);
            const char byte = static_cast<char>(random() % 256);
            switch (random() % 4) {
            case 0: text.insert(at, 1, byte); break;
            case 1: if (at < text.size()) text.erase(at, 1); break;
            case 2: if (at < text.size()) text[at] = byte; break;
            default: text.insert(at, "'"); break;
            }
        }
        Check(text);
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace tarnwick
