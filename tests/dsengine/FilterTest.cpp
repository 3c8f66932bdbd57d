#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>

#include "dsengine/DSIntf.h"
#include "dsengine/EngineTestUtil.h"

namespace tarnwick::dsengine::test {
namespace {

// Builds filter images: nodes are appended in call order (the first is the root), operands
// patched afterwards; literals go to the literal area.
class Image {
public:
    std::uint16_t Node(std::uint32_t cls, std::uint32_t op, std::initializer_list<std::uint16_t> operands) {
        const auto at = static_cast<std::uint16_t>(nodes_.size());
        Put32(nodes_, cls);
        Put32(nodes_, op);
        for (const std::uint16_t o : operands) Put16(nodes_, o);
        return at;
    }
    void Patch(std::uint16_t node, int operand, std::uint16_t value) {
        const std::size_t at = node + 8 + 2 * static_cast<std::size_t>(operand);
        nodes_[at] = value & 0xFF;
        nodes_[at + 1] = value >> 8;
    }
    std::uint16_t Literal(const std::string& bytes) {
        const auto at = static_cast<std::uint16_t>(literals_.size());
        literals_.insert(literals_.end(), bytes.begin(), bytes.end());
        return at;
    }
    std::uint16_t Field(std::uint16_t number, const std::string& name) {
        return Node(4, 13, {number, Literal(name + '\0')});
    }
    std::uint16_t Text(const std::string& value) {
        return Node(5, 14, {1, static_cast<std::uint16_t>(value.size() + 1), Literal(value + '\0')});
    }
    std::vector<std::uint8_t> Build() const {
        std::vector<std::uint8_t> out;
        const auto total = static_cast<std::uint16_t>(10 + nodes_.size() + literals_.size());
        for (const std::uint16_t h : {std::uint16_t{2}, total, std::uint16_t{0xFFFF}, std::uint16_t{10},
                                      static_cast<std::uint16_t>(10 + nodes_.size())})
            Put16(out, h);
        out.insert(out.end(), nodes_.begin(), nodes_.end());
        out.insert(out.end(), literals_.begin(), literals_.end());
        return out;
    }

private:
    static void Put16(std::vector<std::uint8_t>& v, std::uint16_t x) {
        v.push_back(x & 0xFF);
        v.push_back(x >> 8);
    }
    static void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
        Put16(v, x & 0xFFFF);
        Put16(v, x >> 16);
    }
    std::vector<std::uint8_t> nodes_, literals_;
};

// field MASTERBILLID (number 2) compared with a text constant.
std::vector<std::uint8_t> Compare(std::uint32_t op, const std::string& key) {
    Image img;
    const auto root = img.Node(2, op, {0, 0});
    img.Patch(root, 0, img.Field(2, "MASTERBILLID"));
    img.Patch(root, 1, img.Text(key));
    return img.Build();
}

std::vector<std::uint8_t> StringCompare(std::uint32_t op, bool ci, std::uint16_t partial, const std::string& key) {
    Image img;
    const auto root = img.Node(3, op, {ci ? std::uint16_t{1} : std::uint16_t{0}, partial, 0, 0});
    img.Patch(root, 2, img.Field(2, "MASTERBILLID"));
    img.Patch(root, 3, img.Text(key));
    return img.Build();
}

Loaded Detail() {
    return Load(Packet(R"(<FIELD attrname="ID" fieldtype="i4"/><FIELD attrname="MASTERBILLID" fieldtype="string" WIDTH="12"/>)",
                       R"(<ROW ID="1" MASTERBILLID="B001"/><ROW ID="2" MASTERBILLID="B002"/>)"
                       R"(<ROW ID="3" MASTERBILLID="B001  "/><ROW ID="4" MASTERBILLID="b001"/>)"
                       R"(<ROW ID="5"/><ROW ID="6" MASTERBILLID=""/><ROW ID="7" MASTERBILLID="綠茶一"/>)"));
}

std::vector<std::int32_t> Matching(Loaded& l, const std::vector<std::uint8_t>& image) {
    FilterHandle h = 0;
    EXPECT_EQ(l.cursor->AddFilter(image.data(), image.size(), h), DBERR_NONE) << l.Error();
    std::vector<std::int32_t> ids;
    l.cursor->MoveToBOF();
    while (l.cursor->MoveRelative(1) == DBERR_NONE) {
        l.Fetch();
        std::uint32_t seq = 0;
        l.cursor->GetSequenceNumber(seq);
        EXPECT_EQ(seq, ids.size() + 1);
        ids.push_back(l.Int(1));
    }
    EXPECT_EQ(l.Count(), ids.size());
    EXPECT_EQ(l.cursor->DropFilter(h), DBERR_NONE);
    return ids;
}

TEST(Filter, TheSixtySixByteEqualityImage) {
    const std::vector<std::uint8_t> image = Compare(3, "B001");
    ASSERT_EQ(image.size(), 66u);
    const std::uint8_t header[10] = {2, 0, 66, 0, 0xFF, 0xFF, 10, 0, 48, 0};
    EXPECT_TRUE(std::equal(header, header + 10, image.begin()));
    Loaded l = Detail();
    ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
    EXPECT_EQ(Matching(l, image), (std::vector<std::int32_t>{1, 3}));  // trailing blanks ignored
    EXPECT_EQ(l.Count(), 7u);  // dropped again: all records
}

TEST(Filter, ComparisonsOnText) {
    struct Case {
        std::vector<std::uint8_t> image;
        std::vector<std::int32_t> ids;
        const char* what;
    };
    const Case cases[] = {
        {Compare(4, "B001"), {2, 4, 6, 7}, "not equal; null passes no comparison"},
        {Compare(5, "B001"), {2, 4, 7}, "greater"},
        {Compare(6, "B002"), {1, 3, 6}, "less"},
        {Compare(7, "B002"), {2, 4, 7}, "greater or equal"},
        {Compare(8, "B001"), {1, 3, 6}, "less or equal"},
        {Compare(3, ""), {6}, "empty constant: the empty value, not null"},
        {StringCompare(3, true, 0, "b001"), {1, 3, 4}, "case-insensitive"},
        {StringCompare(3, false, 3, "B00"), {1, 2, 3}, "partial length"},
        {StringCompare(3, false, 2, "綠茶"), {7}, "partial length counts characters"},
        {StringCompare(3, false, 0, "B002"), {2}, "class 3 without options"},
    };
    Loaded l = Detail();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Matching(l, c.image), c.ids);
    }
}

TEST(Filter, BlankTestsLogicAndIntegerConstants) {
    Loaded l = Detail();
    Image blank;
    const auto isBlank = blank.Node(1, 1, {0});
    blank.Patch(isBlank, 0, blank.Field(2, "MASTERBILLID"));
    EXPECT_EQ(Matching(l, blank.Build()), (std::vector<std::int32_t>{5}));

    Image notBlank;
    const auto nb = notBlank.Node(1, 2, {0});
    notBlank.Patch(nb, 0, notBlank.Field(2, "MASTERBILLID"));
    EXPECT_EQ(Matching(l, notBlank.Build()).size(), 6u);

    // ID > 2 AND NOT (MASTERBILLID = 'b001'), with a 4-byte integer constant
    Image logic;
    const auto andNode = logic.Node(2, 10, {0, 0});
    const auto gt = logic.Node(2, 5, {0, 0});
    logic.Patch(gt, 0, logic.Field(1, "ID"));
    const std::int32_t two = 2;
    logic.Patch(gt, 1, logic.Node(5, 14, {6, 4, logic.Literal(std::string(reinterpret_cast<const char*>(&two), 4))}));
    const auto notNode = logic.Node(1, 9, {0});
    const auto eq = logic.Node(2, 3, {0, 0});
    logic.Patch(eq, 0, logic.Field(2, "MASTERBILLID"));
    logic.Patch(eq, 1, logic.Text("b001"));
    logic.Patch(notNode, 0, eq);
    logic.Patch(andNode, 0, gt);
    logic.Patch(andNode, 1, notNode);
    EXPECT_EQ(Matching(l, logic.Build()), (std::vector<std::int32_t>{3, 5, 6, 7}));

    // ID = 1 OR ID = 7, with 2-byte constants and the constant on the left
    Image either;
    const auto orNode = either.Node(2, 11, {0, 0});
    for (int k = 0; k < 2; ++k) {
        const std::int16_t value = k == 0 ? 1 : 7;
        const auto cmp = either.Node(2, 3, {0, 0});
        either.Patch(cmp, 0, either.Node(5, 14, {5, 2, either.Literal(std::string(reinterpret_cast<const char*>(&value), 2))}));
        either.Patch(cmp, 1, either.Field(1, "ID"));
        either.Patch(orNode, k, cmp);
    }
    EXPECT_EQ(Matching(l, either.Build()), (std::vector<std::int32_t>{1, 7}));
}

TEST(Filter, IndexAnswersFollowChangesOfTheData) {
    Loaded l = Detail();
    const auto image = Compare(3, "B001");
    FilterHandle h = 0;
    ASSERT_EQ(l.cursor->AddFilter(image.data(), image.size(), h), DBERR_NONE);
    EXPECT_EQ(l.Count(), 2u);
    // A second, unfiltered cursor on the same base inserts a matching record and edits another.
    std::unique_ptr<IDSCursor> other;
    CreateDSCursor(other);
    other->InitCursor(l.base.get());
    std::vector<std::uint8_t> rec(l.RecordSize());
    other->InitRecord(rec.data());
    const std::int32_t id = 8;
    other->PutField(rec.data(), 1, &id);
    other->PutField(rec.data(), 2, "B001");
    ASSERT_EQ(other->InsertRecord(rec.data()), DBERR_NONE);
    EXPECT_EQ(l.Count(), 3u);
    ASSERT_EQ(other->MoveToSeqNo(1), DBERR_NONE);
    other->GetCurrentRecord(rec.data());
    other->PutField(rec.data(), 2, "B009");
    ASSERT_EQ(other->ModifyRecord(rec.data()), DBERR_NONE);
    EXPECT_EQ(l.Count(), 2u);
    // Filters on the same cursor combine.
    const auto second = StringCompare(3, false, 0, "B001");
    FilterHandle h2 = 0;
    ASSERT_EQ(l.cursor->AddFilter(second.data(), second.size(), h2), DBERR_NONE);
    EXPECT_EQ(l.Count(), 2u);
    EXPECT_EQ(l.cursor->DropFilter(h), DBERR_NONE);
    EXPECT_EQ(l.cursor->DropFilter(h), DBERR_INVALIDHANDLE);
}

TEST(Filter, ImagesThatCannotBeReadAreRefused) {
    auto good = Compare(3, "B001");
    std::vector<std::vector<std::uint8_t>> bad;
    bad.emplace_back(good.begin(), good.begin() + 8);  // shorter than the header
    auto v = good; v[0] = 3; bad.push_back(v);         // version
    v = good; v[2] = 200; bad.push_back(v);            // total size beyond the bytes
    v = good; v[10 + 8] = 40; bad.push_back(v);        // left operand outside the node area
    v = good; v[10 + 8] = 0; bad.push_back(v);         // root as its own operand: a cycle
    v = good; v[10 + 12 + 8] = 9; bad.push_back(v);    // field number 9 of 2
    v = good; v[10] = 7; bad.push_back(v);             // node class 7
    v = good; v[10 + 24 + 8] = 77; bad.push_back(v);   // constant of type 77
    Loaded l = Detail();
    for (std::size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        FilterHandle h = 0;
        EXPECT_EQ(l.cursor->AddFilter(bad[i].data(), bad[i].size(), h), DBERR_INVALIDFILTER);
        std::string text;
        l.base->GetErrorString(DBERR_INVALIDFILTER, text);
        EXPECT_THAT(text, ::testing::StartsWith("Invalid filter image"));
    }
    EXPECT_EQ(l.Count(), 7u);
}

}  // namespace
}  // namespace tarnwick::dsengine::test
