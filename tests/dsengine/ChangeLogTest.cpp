#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/ValueForms.h"
#include "dsengine/DSIntf.h"
#include "dsengine/EngineTestUtil.h"

namespace tarnwick::dsengine::test {
namespace {

const std::string kFields = R"(<FIELD attrname="ID" fieldtype="string" WIDTH="8" required="true"/>)"
                            R"(<FIELD attrname="NAME" fieldtype="string" WIDTH="20"/><FIELD attrname="QTY" fieldtype="i4"/>)";

// Rows A, B, C; then B's NAME is changed, D inserted, C deleted.
Loaded Changed() {
    Loaded l = Load(Packet(kFields, R"(<ROW ID="A" NAME="a" QTY="1"/><ROW ID="B" NAME="b" QTY="2"/><ROW ID="C" NAME="c" QTY="3"/>)"));
    EXPECT_EQ(l.status, DBERR_NONE) << l.Error();
    EXPECT_EQ(l.cursor->MoveToSeqNo(2), DBERR_NONE);
    l.Fetch();
    l.cursor->PutField(l.buf.data(), 2, "bb");
    EXPECT_EQ(l.cursor->ModifyRecord(l.buf.data()), DBERR_NONE);
    l.cursor->MoveToEOF();
    std::vector<std::uint8_t> rec(l.RecordSize());
    l.cursor->InitRecord(rec.data());
    l.cursor->PutField(rec.data(), 1, "D");
    EXPECT_EQ(l.cursor->InsertRecord(rec.data()), DBERR_NONE);
    EXPECT_EQ(l.cursor->MoveToSeqNo(3), DBERR_NONE);
    EXPECT_EQ(l.cursor->DeleteRecord(), DBERR_NONE);
    return l;
}

std::vector<std::uint8_t> Delta(Loaded& l, std::uint32_t mode = xmlmodeBINARY) {
    l.base->SetProp(basepropXMLMODE, mode);
    std::vector<std::uint8_t> delta;
    EXPECT_EQ(l.base->GetDelta(delta), DBERR_NONE);
    return delta;
}

// Each delta row as "status:ID,NAME,QTY".
std::vector<std::string> Rows(Loaded& l) {
    std::vector<std::string> rows;
    l.cursor->MoveToBOF();
    while (l.cursor->MoveRelative(1) == DBERR_NONE) {
        l.Fetch();
        std::uint8_t status = 0;
        l.cursor->GetRecordAttribute(status);
        const std::string qty = l.Raw(3).front() == '<' ? l.Raw(3) : std::to_string(l.Int(3));
        rows.push_back(std::to_string(status) + ":" + l.Text(1) + "," + l.Text(2) + "," + qty);
    }
    return rows;
}

std::uint32_t ChangeCount(Loaded& l) {
    std::uint32_t n = 0;
    l.base->GetProp(basepropCHANGECOUNT, n);
    return n;
}

TEST(ChangeLog, DeltaHoldsOldAndNewRowsWithUnchangedFieldsMarked) {
    for (const std::uint32_t mode : {xmlmodeBINARY, xmlmodeXMLUTF8}) {
        SCOPED_TRACE(mode);
        Loaded l = Changed();
        Loaded delta = Load(Delta(l, mode));
        ASSERT_EQ(delta.status, DBERR_NONE) << delta.Error();
        EXPECT_EQ(Rows(delta), (std::vector<std::string>{"0:B,b,2", "8:<unchanged>,bb,<unchanged>",
                                                         "4:D,<null>,<null>", "2:C,c,3"}));
        EXPECT_EQ(ChangeCount(delta), 0u);  // a delta logs no changes of its own
    }
}

TEST(ChangeLog, DeltaKeepsABcdPutWithLeadingZeroDigits) {
    // A BCD converted from a double carries 32 digits, most of them leading zeros; the field
    // holds 9. The value fits, so the delta must read back in both forms.
    Loaded l = Load(Packet(R"(<FIELD attrname="PRICE" fieldtype="fixedFMT" WIDTH="9" DECIMALS="2"/>)",
                           R"(<ROW PRICE="1.50"/>)"));
    ASSERT_EQ(l.status, DBERR_NONE) << l.Error();
    ASSERT_EQ(l.cursor->MoveToSeqNo(1), DBERR_NONE);
    l.Fetch();
    TBcd wide = *BcdNormalize(*BcdFromString("25.5"), 32, 2);
    ASSERT_EQ(wide.Precision, 32);
    ASSERT_EQ(l.cursor->PutField(l.buf.data(), 1, &wide), DBERR_NONE);
    ASSERT_EQ(l.cursor->ModifyRecord(l.buf.data()), DBERR_NONE);
    for (const std::uint32_t mode : {xmlmodeBINARY, xmlmodeXMLUTF8}) {
        SCOPED_TRACE(mode);
        Loaded delta = Load(Delta(l, mode));
        ASSERT_EQ(delta.status, DBERR_NONE) << delta.Error();
        ASSERT_EQ(delta.cursor->MoveToSeqNo(2), DBERR_NONE);
        delta.Fetch();
        TBcd read;
        std::uint32_t blank = 0;
        ASSERT_EQ(delta.cursor->GetField(delta.buf.data(), 1, &read, blank), DBERR_NONE);
        EXPECT_EQ(BcdToString(read), "25.50");
    }
    // A value whose significant digits do not fit is still refused.
    Loaded big = Load(Packet(R"(<FIELD attrname="PRICE" fieldtype="fixedFMT" WIDTH="4" DECIMALS="2"/>)",
                             R"(<ROW PRICE="123.45"/>)"));
    EXPECT_NE(big.status, DBERR_NONE);
}

TEST(ChangeLog, StreamedDatasetKeepsItsChangeLog) {
    for (const std::uint32_t mode : {xmlmodeBINARY, xmlmodeXML}) {
        SCOPED_TRACE(mode);
        Loaded l = Changed();
        l.base->SetProp(basepropXMLMODE, mode);
        std::vector<std::uint8_t> packet;
        ASSERT_EQ(l.base->StreamDS(packet), DBERR_NONE);
        Loaded again = Load(packet);
        ASSERT_EQ(again.status, DBERR_NONE) << again.Error();
        EXPECT_EQ(Rows(again), (std::vector<std::string>{"0:A,a,1", "8:B,bb,2", "4:D,<null>,<null>"}));
        EXPECT_EQ(ChangeCount(again), 3u);
        EXPECT_EQ(Rows(l), Rows(again));
        Loaded d1 = Load(Delta(l)), d2 = Load(Delta(again));
        EXPECT_EQ(Rows(d1), Rows(d2));
    }
}

TEST(ChangeLog, AcceptMakesChangesOrdinaryRecords) {
    Loaded l = Changed();
    ASSERT_EQ(l.base->AcceptChanges(), DBERR_NONE);
    EXPECT_EQ(ChangeCount(l), 0u);
    EXPECT_EQ(Rows(l), (std::vector<std::string>{"0:A,a,1", "0:B,bb,2", "0:D,<null>,<null>"}));
    Loaded empty = Load(Delta(l));
    EXPECT_EQ(empty.Count(), 0u);
}

TEST(ChangeLog, DeletingAnInsertedRecordLeavesNoTrace) {
    Loaded l = Load(Packet(kFields, R"(<ROW ID="A"/>)"));
    std::vector<std::uint8_t> rec(l.RecordSize());
    l.cursor->InitRecord(rec.data());
    l.cursor->PutField(rec.data(), 1, "N");
    ASSERT_EQ(l.cursor->InsertRecord(rec.data()), DBERR_NONE);
    ASSERT_EQ(l.cursor->DeleteRecord(), DBERR_NONE);
    EXPECT_EQ(ChangeCount(l), 0u);
    EXPECT_EQ(Load(Delta(l)).Count(), 0u);
}

TEST(EmptyCopy, SameFieldsOrErrorColumnsFirst) {
    Loaded l = Changed();
    std::unique_ptr<IDSBase> same, errors;
    ASSERT_EQ(l.base->CreateEmptyCopy(copymodeSAMEFIELDS, same), DBERR_NONE);
    ASSERT_EQ(l.base->CreateEmptyCopy(copymodeERRORPACKET, errors), DBERR_NONE);
    std::vector<DSFLDDesc> a, b;
    same->GetFieldDescs(a);
    errors->GetFieldDescs(b);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].iFldAttr, fldAttrREQUIRED);
    ASSERT_EQ(b.size(), 9u);
    const char* names[] = {"ERROR_RECORDNO", "ERROR_RESPONSE", "ERROR_MESSAGE", "ERROR_CONTEXT",
                           "ERROR_CATEGORY", "ERROR_ERRORCODE", "ID", "NAME", "QTY"};
    for (std::size_t i = 0; i < b.size(); ++i) EXPECT_STREQ(b[i].szName, names[i]);
    EXPECT_EQ(b[0].iFldType, fldINT32);
    EXPECT_EQ(b[2].iFldType, fldZSTRING);
    EXPECT_EQ(b[6].iFldAttr, 0);  // an error row need not fill the required fields
    std::uint32_t records = 9;
    same->GetProp(basepropRECORDCOUNT, records);
    EXPECT_EQ(records, 0u);
    EXPECT_EQ(l.base->CreateEmptyCopy(1, same), DBERR_INVALIDPARAM);
}

// The provider's side: an error packet with one row for delta row `recNo`.
std::vector<std::uint8_t> ErrorPacket(const std::vector<std::uint8_t>& delta, std::int32_t recNo,
                                      std::int32_t response, const char* conflictName) {
    Loaded d = Load(delta);
    std::unique_ptr<IDSBase> errors;
    EXPECT_EQ(d.base->CreateEmptyCopy(copymodeERRORPACKET, errors), DBERR_NONE);
    errors->SetProp(basepropLOGCHANGES, 0);
    std::unique_ptr<IDSCursor> c;
    CreateDSCursor(c);
    c->InitCursor(errors.get());
    std::uint32_t size = 0;
    c->GetProp(curpropRECORDSIZE, size);
    std::vector<std::uint8_t> rec(size);
    c->InitRecord(rec.data());
    const std::int32_t category = 1, code = 1;
    c->PutField(rec.data(), 1, &recNo);
    c->PutField(rec.data(), 2, &response);
    c->PutField(rec.data(), 3, "Record not found or changed by another user");
    c->PutField(rec.data(), 4, "");
    c->PutField(rec.data(), 5, &category);
    c->PutField(rec.data(), 6, &code);
    c->PutField(rec.data(), 8, conflictName);
    EXPECT_EQ(c->InsertRecord(rec.data()), DBERR_NONE);
    std::vector<std::uint8_t> packet;
    EXPECT_EQ(errors->StreamDS(packet), DBERR_NONE);
    return packet;
}

struct Seen {
    std::vector<std::string> calls;
    std::uint32_t answer = 1;
    IDSCursor* cursor = nullptr;
};

std::uint32_t Record(void* client, std::int32_t, std::uint32_t kind, std::int32_t response, std::int32_t code,
                     const char* message, const char*, const std::uint8_t* updated, const std::uint8_t* old,
                     const std::uint8_t* conflict, std::int32_t, const std::int32_t*) {
    auto* seen = static_cast<Seen*>(client);
    auto name = [&](const std::uint8_t* row) {
        if (!row) return std::string("-");
        char text[32] = {};
        std::uint32_t blank = 0;
        seen->cursor->GetField(row, 2, text, blank);
        return blank == BLANK_NONE ? std::string(text) : std::string("<null>");
    };
    seen->calls.push_back(std::to_string(kind) + " " + std::to_string(response) + " " + std::to_string(code) + " " +
                          message + " new=" + name(updated) + " old=" + name(old) + " conflict=" + name(conflict));
    return seen->answer;
}

TEST(Reconcile, ErrorRowsReachTheCallbackAndSettleTheChangeLog) {
    struct Case {
        std::int32_t recNo, response;
        std::uint32_t answer;
        std::string call;
        std::uint32_t changesLeft;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        // The modified row (delta rows 1 and 2) failed and is skipped; the others were applied.
        {2, 1, 1, "8 1 1 Record not found or changed by another user new=bb old=b conflict=zz", 1,
         {"0:A,a,1", "8:B,bb,2", "0:D,<null>,<null>"}},
        // The apply aborted and rolled back: nothing is accepted.
        {3, 2, 2, "4 2 1 Record not found or changed by another user new=<null> old=- conflict=zz", 3,
         {"0:A,a,1", "8:B,bb,2", "4:D,<null>,<null>"}},
        // Cancel undoes the failed insert; the other changes were applied.
        {3, 1, 5, "4 1 1 Record not found or changed by another user new=<null> old=- conflict=zz", 0,
         {"0:A,a,1", "0:B,bb,2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        Loaded l = Changed();
        const auto delta = Delta(l);
        Seen seen;
        seen.answer = c.answer;
        seen.cursor = l.cursor.get();
        std::unique_ptr<IDSBase> reconcile;
        ASSERT_EQ(l.base->CreateEmptyCopy(copymodeSAMEFIELDS, reconcile), DBERR_NONE);
        ASSERT_EQ(l.base->Reconcile(reconcile.get(), delta, ErrorPacket(delta, c.recNo, c.response, "zz"), &seen, Record),
                  DBERR_NONE)
            << l.Error();
        EXPECT_EQ(seen.calls, std::vector<std::string>{c.call});
        EXPECT_EQ(ChangeCount(l), c.changesLeft);
        EXPECT_EQ(Rows(l), c.rows);
    }
}

TEST(Reconcile, NoErrorsAcceptsEverythingAndAForeignDeltaIsRefused) {
    Loaded l = Changed();
    const auto delta = Delta(l);
    auto other = delta;
    other.push_back(0);
    EXPECT_EQ(l.base->Reconcile(nullptr, other, {}, nullptr, Record), DBERR_DELTAMISMATCH);
    EXPECT_EQ(l.base->Reconcile(nullptr, delta, {}, nullptr, Record), DBERR_NONE);
    EXPECT_EQ(ChangeCount(l), 0u);
}

}  // namespace
}  // namespace tarnwick::dsengine::test
