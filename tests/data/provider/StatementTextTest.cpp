// Generated INSERT / UPDATE / DELETE texts and their parameters, compared as text, and the
// trimming of failures that cross the application server.

#include "data/clientdataset/AppServer.h"
#include "data/provider/SQLResolver.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace tarnwick::provider {
namespace {

TResolverField Field(std::string name, TFieldType type, TVariant oldValue, TVariant newValue, int size = 0) {
    TResolverField f;
    f.Name = std::move(name);
    f.DataType = type;
    f.Size = size;
    switch (type) {
    case ftString: f.DataSize = size + 1; break;
    case ftInteger: f.DataSize = 4; break;
    case ftFMTBcd: case ftBCD: f.DataSize = 34; break;
    default: f.DataSize = 0; break;
    }
    f.IsBlob = IsBlobType(type);
    f.OldValue = std::move(oldValue);
    f.NewValue = std::move(newValue);
    return f;
}

TResolverField Key(TResolverField f) {
    f.ProviderFlags = TProviderFlags{pfInUpdate, pfInWhere, pfInKey};
    return f;
}

TSQLInfo Info(const std::string& quote, const std::string& table = "PRODUCT") {
    TSQLInfo info;
    info.QuoteChar = quote;
    info.QuotedTableName = QuoteTableName(table, quote, true);
    return info;
}

// The PRODUCT example: key PROD_ID, NAME changed, PRICE kept.
std::vector<TResolverField> Product(TVariant oldName = TVariant("Tea"), TVariant newName = TVariant("Green tea")) {
    return {Key(Field("PROD_ID", ftString, TVariant("P1"), TVariant(), 20)),
            Field("NAME", ftString, std::move(oldName), std::move(newName), 60),
            Field("PRICE", ftInteger, TVariant(std::int32_t{12}), TVariant(), 0)};
}

std::string ParamValues(const TGeneratedStatement& s) {
    std::string out;
    for (const TStatementParam& p : s.Params) {
        if (!out.empty()) out += ",";
        out += p.Value.IsNull() ? "null" : VarToText(p.Value);
    }
    return out;
}

struct TextCase {
    const char* name;
    std::function<TGeneratedStatement()> build;
    const char* text;    // lines separated by \r\n, the last one ends with it too
    const char* params;  // parameter values in order
};

TEST(GeneratedStatementTest, TextsAndParameters) {
    const TextCase cases[] = {
        {"update, the six-line example",
         [] { return GenerateUpdate(Info("\""), Product(), upWhereAll); },
         "update \"PRODUCT\"  set\r\n \"NAME\" = ?\r\nwhere\r\n \"PROD_ID\" = ? and\r\n \"NAME\" = ? and\r\n"
         " \"PRICE\" = ?\r\n",
         "Green tea,P1,Tea,12"},
        {"insert, four lines",
         [] {
             auto fields = Product(TVariant("Tea"), TVariant("Tea"));
             for (auto& f : fields) f.NewValue = f.OldValue;
             return GenerateInsert(Info("\""), fields);
         },
         "insert into \"PRODUCT\"\r\n  (\"PROD_ID\", \"NAME\", \"PRICE\")\r\nvalues\r\n  (?, ?, ?)\r\n", "P1,Tea,12"},
        {"null old value is compared with is null and takes no parameter",
         [] { return GenerateUpdate(Info("\""), Product(TVariant::Null(), TVariant("Tea")), upWhereAll); },
         "update \"PRODUCT\"  set\r\n \"NAME\" = ?\r\nwhere\r\n \"PROD_ID\" = ? and\r\n \"NAME\" is null and\r\n"
         " \"PRICE\" = ?\r\n",
         "Tea,P1,12"},
        {"null new value is written as a null parameter",
         [] { return GenerateUpdate(Info("\""), Product(TVariant("Tea"), TVariant::Null()), upWhereAll); },
         "update \"PRODUCT\"  set\r\n \"NAME\" = ?\r\nwhere\r\n \"PROD_ID\" = ? and\r\n \"NAME\" = ? and\r\n"
         " \"PRICE\" = ?\r\n",
         "null,P1,Tea,12"},
        {"no changed field, no statement",
         [] { return GenerateUpdate(Info("\""), Product(TVariant("Tea"), TVariant()), upWhereAll); }, "", ""},
        {"empty quote character writes names unquoted",
         [] { return GenerateUpdate(Info(""), Product(), upWhereKeyOnly); },
         "update PRODUCT  set\r\n NAME = ?\r\nwhere\r\n PROD_ID = ?\r\n", "Green tea,P1"},
        {"quoted table name is kept as it stands",
         [] { return GenerateDelete(Info("\"", "\"Product\""), Product(), upWhereKeyOnly); },
         "delete from \"Product\" \r\nwhere\r\n \"PROD_ID\" = ?\r\n", "P1"},
        {"two-part table name is quoted part by part",
         [] { return GenerateDelete(Info("\"", "STORE.PRODUCT"), Product(), upWhereKeyOnly); },
         "delete from \"STORE\".\"PRODUCT\" \r\nwhere\r\n \"PROD_ID\" = ?\r\n", "P1"},
        {"blob and memo are written but never compared",
         [] {
             auto fields = Product(TVariant("Tea"), TVariant());
             fields.push_back(Field("NOTE", ftMemo, TVariant("old"), TVariant("new"), 1));
             fields.push_back(Field("PICTURE", ftBlob, TVariant("x"), TVariant(), 1));
             return GenerateUpdate(Info("\""), fields, upWhereAll);
         },
         "update \"PRODUCT\"  set\r\n \"NOTE\" = ?\r\nwhere\r\n \"PROD_ID\" = ? and\r\n \"NAME\" = ? and\r\n"
         " \"PRICE\" = ?\r\n",
         "new,P1,Tea,12"},
        {"a string of 8191 characters is never compared",
         [] {
             auto fields = Product();
             fields.push_back(Field("LONG_TEXT", ftString, TVariant("a"), TVariant(), 8191));
             fields.push_back(Field("SHORTER", ftString, TVariant("b"), TVariant(), 8190));
             return GenerateUpdate(Info(""), fields, upWhereAll);
         },
         "update PRODUCT  set\r\n NAME = ?\r\nwhere\r\n PROD_ID = ? and\r\n NAME = ? and\r\n PRICE = ? and\r\n"
         " SHORTER = ?\r\n",
         "Green tea,P1,Tea,12,b"},
        {"upWhereChanged compares the key and the changed fields",
         [] { return GenerateUpdate(Info(""), Product(), upWhereChanged); },
         "update PRODUCT  set\r\n NAME = ?\r\nwhere\r\n PROD_ID = ? and\r\n NAME = ?\r\n", "Green tea,P1,Tea"},
        {"conflict select reads the compared columns by the key",
         [] { return GenerateConflictSelect(Info("\""), Product(), upWhereAll); },
         "select\r\n \"PROD_ID\",\r\n \"NAME\",\r\n \"PRICE\"\r\n from \"PRODUCT\" \r\nwhere\r\n \"PROD_ID\" = ?\r\n",
         "P1"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TGeneratedStatement s = c.build();
        EXPECT_EQ(s.Text(), c.text);
        EXPECT_EQ(ParamValues(s), c.params);
    }
}

TEST(GeneratedStatementTest, ParameterTypesAndSizes) {
    TResolverField fixed = Field("TAX_TYPE", ftString, TVariant("A"), TVariant("B"), 1);
    fixed.FixedChar = true;
    TResolverField longMemo = Field("NOTE", ftMemo, TVariant(), TVariant("text"), 256);
    TResolverField shortMemo = Field("NOTE2", ftMemo, TVariant(), TVariant("text"), 255);
    TResolverField price = Field("PRICE", ftFMTBcd, TVariant(), TVariant(1.5), 2);
    TResolverField name = Field("NAME", ftString, TVariant(), TVariant("x"), 60);
    const TGeneratedStatement s = GenerateInsert(Info("\""), {fixed, longMemo, shortMemo, price, name});
    ASSERT_EQ(s.Params.size(), 5u);
    EXPECT_EQ(s.Params[0].DataType, ftFixedChar);
    EXPECT_EQ(s.Params[0].Size, 2);
    EXPECT_EQ(s.Params[1].DataType, ftString);
    EXPECT_EQ(s.Params[2].DataType, ftMemo);
    EXPECT_EQ(s.Params[3].DataType, ftFMTBcd);
    EXPECT_EQ(s.Params[3].NumericScale, 2);
    EXPECT_EQ(s.Params[4].Size, 61);
}

// The resolver makes a text once per shape and the parameters of each row from the shape: they
// must be the generator's, in kind, value and order, and rows of one shape must share one text.
TEST(GeneratedStatementTest, ShapeGivesTheGeneratorsParametersAndText) {
    const auto generate = [](TUpdateKind kind, const std::vector<TResolverField>& fields, TUpdateMode mode) {
        if (kind == ukInsert) return GenerateInsert(Info("\""), fields);
        if (kind == ukModify) return GenerateUpdate(Info("\""), fields, mode);
        return GenerateDelete(Info("\""), fields, mode);
    };
    const auto shapeOf = [](TUpdateKind kind, const std::vector<TResolverField>& fields, TUpdateMode mode) {
        std::string shape;
        StatementShape(kind, Info("\""), fields, mode, shape);
        return shape;
    };
    auto typed = Product(TVariant::Null(), TVariant("Tea"));
    typed.push_back(Field("TAX_TYPE", ftString, TVariant("A"), TVariant("B"), 1));
    typed.back().FixedChar = true;
    typed.back().ProviderFlags = TProviderFlags{pfInUpdate, pfInWhere};
    typed.push_back(Field("NOTE", ftMemo, TVariant("old"), TVariant("new"), 300));
    struct Case {
        const char* name;
        TUpdateKind kind;
        TUpdateMode mode;
        std::vector<TResolverField> fields;
    } cases[] = {
        {"update", ukModify, upWhereAll, Product()},
        {"update, null old and new values", ukModify, upWhereAll, Product(TVariant::Null(), TVariant::Null())},
        {"update by changed fields, typed", ukModify, upWhereChanged, typed},
        {"insert", ukInsert, upWhereAll, typed},
        {"delete by key", ukDelete, upWhereKeyOnly, Product()},
        {"delete by all", ukDelete, upWhereAll, typed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TGeneratedStatement generated = generate(c.kind, c.fields, c.mode);
        sql::TParams params;  // items left from a longer statement are reused or dropped
        for (int i = 0; i < 9; ++i) params.AddValue(TVariant(std::int32_t{i}), ftInteger);
        StatementParams(shapeOf(c.kind, c.fields, c.mode), c.fields, params);
        ASSERT_EQ(static_cast<std::size_t>(params.Count()), generated.Params.size());
        for (int i = 0; i < params.Count(); ++i) {
            const TStatementParam& want = generated.Params[static_cast<std::size_t>(i)];
            EXPECT_EQ(params[i].DataType(), want.DataType) << i;
            EXPECT_EQ(params[i].Value(), want.Value) << i;
        }
    }
    // Other values of the same shape: the same text; a null old value: another shape.
    const auto other = Product(TVariant("Coffee"), TVariant("Black coffee"));
    EXPECT_EQ(shapeOf(ukModify, other, upWhereAll), shapeOf(ukModify, Product(), upWhereAll));
    EXPECT_EQ(generate(ukModify, other, upWhereAll).Text(), generate(ukModify, Product(), upWhereAll).Text());
    EXPECT_NE(shapeOf(ukModify, Product(TVariant::Null(), TVariant("Tea")), upWhereAll),
              shapeOf(ukModify, Product(), upWhereAll));
    EXPECT_NE(shapeOf(ukInsert, Product(), upWhereAll), shapeOf(ukModify, Product(), upWhereAll));
}

TEST(GeneratedStatementTest, MissingKeyAndFlagsThatKeepFieldsOut) {
    auto fields = Product();
    for (auto& f : fields) f.ProviderFlags = TProviderFlags{pfInUpdate};
    try {
        GenerateUpdate(Info("\""), fields, upWhereAll);
        FAIL() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Unable to find record.  No key specified");
    }
    // Read-only, hidden, autoincrement and server-calculated fields are never written.
    auto kept = Product();
    kept[1].ReadOnly = true;
    EXPECT_TRUE(GenerateUpdate(Info("\""), kept, upWhereAll).Empty());
    kept[1].ReadOnly = false;
    kept[1].ProviderFlags.Include(pfHidden);
    EXPECT_TRUE(GenerateUpdate(Info("\""), kept, upWhereAll).Empty());
    kept[1].ProviderFlags.Exclude(pfHidden);
    kept[1].ServerCalc = true;
    EXPECT_TRUE(GenerateUpdate(Info("\""), kept, upWhereAll).Empty());
}

TEST(GeneratedStatementTest, TableNameQuoting) {
    struct Case {
        const char* table;
        const char* quote;
        bool sqlBased;
        const char* expected;
    } cases[] = {
        {"PRODUCT", "\"", true, "\"PRODUCT\""},
        {"A.B", "\"", true, "\"A\".\"B\""},
        {"A.B.C.D", "\"", true, "\"A\".\"B\".\"C.D\""},
        {"`odd`", "\"", true, "`odd`"},
        {"'x'", "\"", true, "'x'"},
        {"A.B", "\"", false, "\"A.B\""},
        {"PRODUCT", "", true, "PRODUCT"},
        {"", "\"", true, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(QuoteTableName(c.table, c.quote, c.sqlBased), c.expected) << c.table;
}

TEST(GeneratedStatementTest, UpdateErrorWrapping) {
    const EUpdateError first = WrapUpdateError(std::make_exception_ptr(EDatabaseError("refused")), nullptr);
    EXPECT_EQ(first.Message(), "refused");
    EXPECT_EQ(first.ErrorCode(), 1);
    EXPECT_EQ(first.PreviousError(), 0);
    EXPECT_EQ(first.Context(), "");
    const EUpdateError second = WrapUpdateError(nullptr, &first);
    EXPECT_EQ(second.Message(), "SQL Error: Error mapping failed");
    EXPECT_EQ(second.PreviousError(), 1);
}

TEST(AppServerFailureTest, MessagesAreTrimmed) {
    struct Case {
        const char* description;
        std::uint32_t status;
        const char* expected;
    } cases[] = {
        {"CommandText changes are not allowed", 0x8000FFFFu, "CommandText changes are not allowed"},
        {"Unsuccessful execution.\r\n  \t...", 0x8000FFFFu, "Unsuccessful execution"},
        {"v2.5 ok", 0x8000FFFFu, "v2.5 ok"},
        {"", 0x8000FFFFu, "Catastrophic failure"},
        {" .\n", 0x8000FFFFu, "Catastrophic failure"},
        {"", 0x80041234u, "OLE error 80041234"},
        {"商品 重複。", 0x8000FFFFu, "商品 重複。"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(OleErrorMessage(c.description, static_cast<std::int32_t>(c.status)), c.expected) << c.description;
    try {
        OleCheck(static_cast<std::int32_t>(0x8000FFFFu), "boom.\n");
        FAIL() << "no exception";
    } catch (const EOleException& e) {
        EXPECT_EQ(e.Message(), "boom");
        EXPECT_EQ(static_cast<std::uint32_t>(e.ErrorCode()), 0x8000FFFFu);
    }
    EXPECT_NO_THROW(OleCheck(0, "fine"));
}

// ---------------------------------------------------------------------------------------------
// The delta dataset keeps its fields from one packet to the next when the packets have the same
// fields, and builds them anew when they have not.

struct TRow {
    std::int32_t Id;
    const char* Name;
};

std::vector<std::uint8_t> MakePacket(const char* nameField, const std::vector<TRow>& rows, const char* origin = nullptr) {
    std::unique_ptr<dsengine::IDSWriter> writer;
    EXPECT_EQ(dsengine::CreateDSWriter(writer), 0u);
    dsengine::DSFLDDesc id{};
    std::snprintf(id.szName, sizeof id.szName, "ID");
    id.iFldType = dsengine::fldINT32;
    dsengine::DSFLDDesc name{};
    std::snprintf(name.szName, sizeof name.szName, "%s", nameField);
    name.iFldType = dsengine::fldZSTRING;
    name.iUnits1 = 10;
    EXPECT_EQ(writer->AddField(id), 0u);
    EXPECT_EQ(writer->AddField(name), 0u);
    EXPECT_EQ(writer->AddOptParameter(1, "PROVFLAGS", "7"), 0u);
    if (origin != nullptr) {
        EXPECT_EQ(writer->AddOptParameter(2, "ORIGIN", origin), 0u);
    }
    for (const TRow& row : rows) {
        EXPECT_EQ(writer->InitRow(), 0u);
        EXPECT_EQ(writer->PutField(1, &row.Id), 0u);
        EXPECT_EQ(writer->PutField(2, row.Name), 0u);
        EXPECT_EQ(writer->PostRow(), 0u);
    }
    std::vector<std::uint8_t> packet;
    EXPECT_EQ(writer->GetPacket(packet), 0u);
    return packet;
}

TEST(PacketDataSet, FieldsStayForPacketsOfTheSameShape) {
    TPacketDataSet rows;
    rows.LoadPacket(MakePacket("NAME", {{1, "one"}, {2, "two"}}, "T.NAME"));
    ASSERT_EQ(rows.RecordTotal(), 2);
    TField* name = &rows.FieldNamed("NAME");
    EXPECT_EQ(name->Origin(), "T.NAME");
    // What a resolver does to the fields is undone by the next packet.
    name->SetOrigin("NAME");
    rows.FieldNamed("ID").SetProviderFlags(TProviderFlags{pfHidden});
    name->SetProviderFlags(TProviderFlags{pfInKey});
    name->SetDisplayLabel("kept");  // shows the field object itself stayed

    rows.LoadPacket(MakePacket("NAME", {{3, "three"}}, "T.NAME"));
    EXPECT_EQ(rows.FieldNamed("NAME").DisplayLabel(), "kept");
    ASSERT_EQ(rows.RecordTotal(), 1);
    EXPECT_EQ(rows.FieldNamed("ID").VariantValue(), TVariant(std::int32_t{3}));
    EXPECT_EQ(name->StringValue(), "three");
    EXPECT_EQ(name->Origin(), "T.NAME");
    EXPECT_TRUE(name->ProviderFlags() == kDefaultProviderFlags);
    EXPECT_EQ(rows.FieldNamed("ID").ProviderFlags().Bits(), 7u);

    // Another field name, or the same fields with other parameters: the fields are made anew.
    rows.LoadPacket(MakePacket("LABEL", {{4, "four"}}));
    ASSERT_EQ(rows.FindFieldNamed("NAME"), nullptr);
    EXPECT_EQ(rows.FieldNamed("LABEL").StringValue(), "four");
    rows.FieldNamed("LABEL").SetDisplayLabel("old");
    rows.LoadPacket(MakePacket("LABEL", {{5, "five"}}, "T.LABEL"));
    EXPECT_EQ(rows.FieldNamed("LABEL").DisplayLabel(), "");
    EXPECT_EQ(rows.FieldNamed("LABEL").Origin(), "T.LABEL");
    EXPECT_EQ(rows.FieldNamed("LABEL").StringValue(), "five");

    // An empty packet of the same shape leaves no row behind.
    rows.LoadPacket(MakePacket("LABEL", {}, "T.LABEL"));
    EXPECT_EQ(rows.RecordTotal(), 0);
    EXPECT_TRUE(rows.AtEnd());
}

}  // namespace
}  // namespace tarnwick::provider
