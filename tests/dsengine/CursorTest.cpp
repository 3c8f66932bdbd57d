#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dsengine/DSIntf.h"
#include "dsengine/EngineTestUtil.h"

namespace tarnwick::dsengine::test {
namespace {

using ::testing::HasSubstr;

const std::string kFields = R"(<FIELD attrname="ID" fieldtype="i4"/><FIELD attrname="NAME" fieldtype="string" WIDTH="7"/>)"
                            R"(<FIELD attrname="MEMO" fieldtype="bin.hex" SUBTYPE="Text"/>)";

Loaded Three() {
    return Load(Packet(kFields, R"(<ROW ID="1" NAME="a"/><ROW ID="2" NAME="b"/><ROW ID="3" NAME="c"/>)"));
}

std::vector<std::int32_t> Walk(Loaded& l) {
    std::vector<std::int32_t> ids;
    l.cursor->MoveToBOF();
    while (l.cursor->MoveRelative(1) == DBERR_NONE) {
        l.Fetch();
        std::uint32_t seq = 0;
        EXPECT_EQ(l.cursor->GetSequenceNumber(seq), DBERR_NONE);
        EXPECT_EQ(seq, ids.size() + 1);
        ids.push_back(l.Int(1));
    }
    return ids;
}

TEST(Cursor, MovesReportBeforeFirstAndAfterLast) {
    Loaded l = Three();
    ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
    std::vector<std::uint8_t> buf(l.RecordSize());
    EXPECT_EQ(l.cursor->GetCurrentRecord(buf.data()), DBERR_BOF);
    EXPECT_EQ(Walk(l), (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_EQ(l.cursor->MoveRelative(1), DBERR_EOF);
    EXPECT_EQ(l.cursor->GetCurrentRecord(buf.data()), DBERR_EOF);
    EXPECT_EQ(l.cursor->MoveRelative(-1), DBERR_NONE);
    l.Fetch();
    EXPECT_EQ(l.Int(1), 3);
    EXPECT_EQ(l.cursor->MoveRelative(-5), DBERR_BOF);
    EXPECT_EQ(l.cursor->MoveToSeqNo(0), DBERR_BOF);
    EXPECT_EQ(l.cursor->MoveToSeqNo(4), DBERR_EOF);
    ASSERT_EQ(l.cursor->MoveToSeqNo(2), DBERR_NONE);
    std::uint32_t size = 0;
    l.cursor->GetProp(curpropBOOKMARKSIZE, size);
    std::vector<std::uint8_t> bookmark(size);
    ASSERT_EQ(l.cursor->GetCurrentBookmark(bookmark.data()), DBERR_NONE);
    l.cursor->MoveToEOF();
    ASSERT_EQ(l.cursor->MoveToBookmark(bookmark.data()), DBERR_NONE);
    std::uint32_t seq = 0;
    l.cursor->GetSequenceNumber(seq);
    EXPECT_EQ(seq, 2u);
}

TEST(Cursor, NewRecordIsAllNullAndStringsAreCutAtACharacterBoundary) {
    Loaded l = Three();
    std::vector<std::uint8_t> rec(l.RecordSize());
    ASSERT_EQ(l.cursor->InitRecord(rec.data()), DBERR_NONE);
    for (std::uint32_t f = 1; f <= 3; ++f) {
        std::uint32_t blank = 0;
        EXPECT_EQ(l.cursor->GetField(rec.data(), f, nullptr, blank), DBERR_NONE);
        EXPECT_EQ(blank, BLANK_NULL);
    }
    struct Case { const char* put; bool keepBlanks; const char* stored; };
    const Case cases[] = {
        {"abcdefghij", false, "abcdefg"},
        {"ab綠茶", false, "ab綠"},     // 2 + 3 bytes fit in 7, the next character would not
        {"ab   ", false, "ab"},
        {"ab   ", true, "ab   "},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.put);
        l.base->SetProp(basepropKEEPTRAILINGBLANKS, c.keepBlanks);
        ASSERT_EQ(l.cursor->PutField(rec.data(), 2, c.put), DBERR_NONE);
        char out[8];
        std::uint32_t blank = 9;
        ASSERT_EQ(l.cursor->GetField(rec.data(), 2, out, blank), DBERR_NONE);
        EXPECT_EQ(blank, BLANK_NONE);
        EXPECT_STREQ(out, c.stored);
    }
    EXPECT_EQ(l.cursor->PutField(rec.data(), 4, "x"), DBERR_INVALIDFIELD);
}

TEST(Cursor, InsertModifyDeleteKeepPositionsAndStatus) {
    Loaded l = Three();
    std::vector<std::uint8_t> rec(l.RecordSize());
    ASSERT_EQ(l.cursor->MoveToSeqNo(2), DBERR_NONE);
    l.cursor->InitRecord(rec.data());
    const std::int32_t id = 9;
    l.cursor->PutField(rec.data(), 1, &id);
    ASSERT_EQ(l.cursor->InsertRecord(rec.data()), DBERR_NONE);
    std::uint32_t seq = 0;
    l.cursor->GetSequenceNumber(seq);
    EXPECT_EQ(seq, 2u);  // before the record that was current
    std::uint8_t status = 0;
    l.cursor->GetRecordAttribute(status);
    EXPECT_EQ(status, dsRecNew);
    EXPECT_EQ(Walk(l), (std::vector<std::int32_t>{1, 9, 2, 3}));

    ASSERT_EQ(l.cursor->MoveToSeqNo(3), DBERR_NONE);
    l.Fetch();
    l.cursor->PutField(l.buf.data(), 2, "bb");
    ASSERT_EQ(l.cursor->ModifyRecord(l.buf.data()), DBERR_NONE);
    l.cursor->GetRecordAttribute(status);
    EXPECT_EQ(status, dsRecModified);
    l.Fetch();
    EXPECT_EQ(l.Text(2), "bb");
    l.cursor->SetProp(curpropGETORGVALUES, 1);
    l.Fetch();
    EXPECT_EQ(l.Text(2), "b");
    l.cursor->SetProp(curpropGETORGVALUES, 0);

    ASSERT_EQ(l.cursor->DeleteRecord(), DBERR_NONE);
    l.Fetch();
    EXPECT_EQ(l.Int(1), 3);  // the next record is current
    ASSERT_EQ(l.cursor->DeleteRecord(), DBERR_NONE);
    l.Fetch();
    EXPECT_EQ(l.Int(1), 9);  // the last one went: the new last record is current
    EXPECT_EQ(l.Count(), 2u);
    std::uint32_t changes = 0, made = 0;
    l.base->GetProp(basepropCHANGECOUNT, changes);
    l.base->GetProp(basepropCHANGESMADE, made);
    EXPECT_EQ(changes, 4u);  // insert, modify, delete of record 2, delete of record 3
    EXPECT_EQ(made, 1u);
}

TEST(Cursor, ReadOnlyBaseAndRefusedValuesAnswerStatusesWithTexts) {
    Loaded l = Three();
    std::vector<std::uint8_t> rec(l.RecordSize());
    l.cursor->InitRecord(rec.data());
    l.base->SetProp(basepropREADONLY, 1);
    std::uint32_t ro = 0;
    l.cursor->GetProp(curpropREADONLY, ro);
    EXPECT_EQ(ro, 1u);
    const DBResult r = l.cursor->InsertRecord(rec.data());
    EXPECT_EQ(r, DBERR_READONLY);
    std::string text;
    l.base->GetErrorString(r, text);
    EXPECT_EQ(text, "The dataset is read-only");

    Loaded d = Load(Packet(R"(<FIELD attrname="DAY" fieldtype="date"/><FIELD attrname="P" fieldtype="fixed" WIDTH="4"/>)", ""));
    const std::int32_t zeroDay = 0;
    EXPECT_EQ(d.cursor->VerifyField(1, &zeroDay), DBERR_INVALIDVALUE);
    d.base->GetErrorString(DBERR_INVALIDVALUE, text);
    EXPECT_THAT(text, HasSubstr("Field 'DAY': day number 0 out of range"));
    std::uint8_t bcd[34] = {2, 0, 0xAF};
    EXPECT_EQ(d.cursor->VerifyField(2, bcd), DBERR_INVALIDVALUE);
    std::vector<std::uint8_t> drec(d.RecordSize());
    EXPECT_EQ(d.cursor->PutField(drec.data(), 2, bcd), DBERR_INVALIDVALUE);
}

TEST(Cursor, BlobsAreWrittenFromAnOffsetAndReadBack) {
    Loaded l = Three();
    std::vector<std::uint8_t> rec(l.RecordSize());
    l.cursor->InitRecord(rec.data());
    ASSERT_EQ(l.cursor->PutBlob(rec.data(), 3, 0, "hello world", 11), DBERR_NONE);
    ASSERT_EQ(l.cursor->PutBlob(rec.data(), 3, 6, "there", 5), DBERR_NONE);
    ASSERT_EQ(l.cursor->MoveToSeqNo(1), DBERR_NONE);
    ASSERT_EQ(l.cursor->ModifyRecord(rec.data()), DBERR_NONE);
    l.Fetch();
    std::uint32_t len = 0;
    ASSERT_EQ(l.cursor->GetBlobLen(l.buf.data(), 3, len), DBERR_NONE);
    ASSERT_EQ(len, 11u);
    char out[16] = {};
    std::uint32_t n = 5;
    ASSERT_EQ(l.cursor->GetBlob(l.buf.data(), 3, 6, out, n), DBERR_NONE);
    EXPECT_EQ(std::string(out, n), "there");
    EXPECT_EQ(l.cursor->PutBlob(l.buf.data(), 1, 0, "x", 1), DBERR_INVALIDPARAM);
}

TEST(Cursor, ResetEmptiesTheBaseAndCursorsSeeIt) {
    Loaded l = Three();
    ASSERT_EQ(l.cursor->MoveToSeqNo(2), DBERR_NONE);
    ASSERT_EQ(l.base->Reset(), DBERR_NONE);
    EXPECT_EQ(l.Count(), 0u);
    l.cursor->MoveToBOF();
    EXPECT_EQ(l.cursor->MoveRelative(1), DBERR_EOF);
    std::uint32_t fields = 0;
    l.base->GetFieldCount(fields);
    EXPECT_EQ(fields, 3u);
    // A cursor keeps its data even when the base object goes first.
    Loaded k = Three();
    k.base.reset();
    EXPECT_EQ(k.Count(), 3u);
}

}  // namespace
}  // namespace tarnwick::dsengine::test
