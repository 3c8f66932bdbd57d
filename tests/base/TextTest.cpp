#include "base/Text.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(Text, Utf8PrefixNeverCutsACharacter) {
    const std::string text = "A綠茶";  // 1 + 3 + 3 bytes
    struct Case { std::size_t max; std::string_view want; };
    for (const Case& c : {Case{0, ""}, Case{1, "A"}, Case{2, "A"}, Case{3, "A"}, Case{4, "A綠"},
                          Case{6, "A綠"}, Case{7, "A綠茶"}, Case{50, "A綠茶"}})
        EXPECT_EQ(Utf8Prefix(text, c.max), c.want) << "max " << c.max;
}

TEST(Text, CaseFoldingTouchesAsciiOnly) {
    EXPECT_TRUE(SameTextAscii("prod_id", "PROD_ID"));
    EXPECT_FALSE(SameTextAscii("PROD_ID", "PROD_ID "));
    EXPECT_TRUE(SameTextAscii("綠a", "綠A"));
    EXPECT_LT(CompareTextAscii("a", "B"), 0);
    EXPECT_GT(CompareTextAscii("ab", "A"), 0);
    EXPECT_EQ(AsciiUpperCase("x.xml綠"), "X.XML綠");
}

}  // namespace
}  // namespace tarnwick
