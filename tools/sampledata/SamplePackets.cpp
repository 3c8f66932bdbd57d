#include "SamplePackets.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <random>
#include <stdexcept>

#include "StoreDb.h"

namespace tarnwick::sampledata {

namespace {

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::vector<std::string> SplitNames(std::string_view list) {
    std::vector<std::string> names;
    std::string name;
    for (char c : list) {
        if (c == ',') {
            names.emplace_back(Trim(name));
            name.clear();
        } else {
            name += c;
        }
    }
    if (!Trim(name).empty()) names.emplace_back(Trim(name));
    return names;
}

// "VARCHAR(20) NOT NULL" -> column type, length, scale, not null.
TColumn ParseColumn(std::string_view line) {
    TColumn column;
    line = Trim(line);
    if (!line.empty() && line.back() == ',') line.remove_suffix(1);
    const auto blank = line.find_first_of(" \t");
    column.Name = std::string(line.substr(0, blank));
    std::string rest = Upper(Trim(line.substr(blank)));
    column.NotNull = rest.find("NOT NULL") != std::string::npos;
    if (column.NotNull) rest = std::string(Trim(rest.substr(0, rest.find("NOT NULL"))));
    const auto open = rest.find('(');
    if (open != std::string::npos) {
        const auto close = rest.find(')', open);
        const std::string args = rest.substr(open + 1, close - open - 1);
        column.Length = std::stoi(args);
        if (const auto comma = args.find(','); comma != std::string::npos) column.Scale = std::stoi(args.substr(comma + 1));
        rest = std::string(Trim(rest.substr(0, open)));
    }
    if (rest.starts_with("BLOB")) rest = rest.find("TEXT") != std::string::npos ? "BLOB TEXT" : "BLOB BINARY";
    if (rest == "DOUBLE PRECISION") rest = "DOUBLE";
    column.SqlType = rest;
    return column;
}

struct TFieldForm {
    std::string Type;
    int Width = 0;
    int Decimals = 0;
    std::string Subtype = {};
};

TFieldForm FormOf(const TColumn& column) {
    const std::string& t = column.SqlType;
    // A UTF8 column counts characters; the packet's width counts bytes.
    if (t == "VARCHAR" || t == "CHAR") return {"string", column.Length * 4, 0, {}};
    if (t == "SMALLINT") return {"i2"};
    if (t == "INTEGER") return {"i4"};
    if (t == "BIGINT") return {"i8"};
    if (t == "NUMERIC" || t == "DECIMAL") return {"fixed", column.Length, column.Scale, {}};
    if (t == "DOUBLE" || t == "FLOAT") return {"r8"};
    if (t == "DATE") return {"date"};
    if (t == "TIME") return {"time"};
    if (t == "TIMESTAMP") return {"SQLdateTime"};
    if (t == "BOOLEAN") return {"boolean"};
    if (t == "BLOB TEXT") return {"bin.hex", 0, 0, "Text"};
    return {"bin.hex", 0, 0, "Binary"};
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string FieldXml(const std::string& name, const TFieldForm& form, bool required) {
    std::string xml = "      <FIELD attrname=\"" + name + "\" fieldtype=\"" + form.Type + "\"";
    if (form.Width > 0) xml += " WIDTH=\"" + std::to_string(form.Width) + "\"";
    if (form.Decimals > 0) xml += " DECIMALS=\"" + std::to_string(form.Decimals) + "\"";
    if (!form.Subtype.empty()) xml += " SUBTYPE=\"" + form.Subtype + "\"";
    if (required) xml += " required=\"true\"";
    return xml + "/>\n";
}

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// ---- sample values ---------------------------------------------------------------------------

const std::vector<std::string> kProducts{"綠茶", "烏龍茶", "紅茶拿鐵", "礦泉水", "蘋果汁", "鮮奶", "豆漿", "咖啡",
                                         "洋芋片", "巧克力", "牛肉麵", "飯糰", "三明治", "泡麵", "餅乾", "口香糖",
                                         "衛生紙", "洗髮精", "牙膏", "電池"};
const std::vector<std::string> kSizes{"600ml", "330ml", "1L", "大包", "小包", "12入", "家庭號", "隨身包"};
const std::vector<std::string> kFamily{"陳", "林", "黃", "張", "李", "王", "吳", "劉", "蔡", "楊", "許", "鄭"};
const std::vector<std::string> kGiven{"志明", "春嬌", "美玲", "建國", "淑芬", "家豪", "怡君", "俊傑", "雅婷", "宗翰"};
const std::vector<std::string> kCompanies{"統一食品", "味全企業", "光泉牧場", "義美食品", "黑松飲料", "泰山企業"};
const std::vector<std::string> kMemos{"本週促銷：買二送一", "門市盤點日前請完成補貨", "會員生日禮：點數加倍",
                                      "冷藏商品請於到貨後兩小時內上架", "新品上市，請置於端架"};
const std::vector<std::string> kGroups{"飲料", "零食", "乳品", "日用品", "熟食", "冷凍食品"};

// The first `chars` characters of a UTF-8 text.
std::string CutChars(const std::string& text, int chars) {
    std::size_t at = 0;
    for (int n = 0; at < text.size() && n < chars; ++n) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    }
    return text.substr(0, at);
}

std::string TwoDigits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

class TValueMaker {
public:
    explicit TValueMaker(std::uint32_t seed) : random_(seed) {}

    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    template <class T>
    const T& Pick(const std::vector<T>& list) { return list[static_cast<std::size_t>(Between(0, static_cast<int>(list.size()) - 1))]; }

    std::string Value(const TColumn& column, int n) {
        const std::string& t = column.SqlType;
        const std::string& name = column.Name;
        if (column.Key) return SampleKey(column, n);
        if (t == "VARCHAR" || t == "CHAR") return CutChars(Text(name, n), column.Length);
        if (t == "SMALLINT") return std::to_string(Between(1, 90));
        if (t == "INTEGER") return std::to_string(Between(0, 500));
        if (t == "BIGINT") return std::to_string(4710000000000LL + n);
        if (t == "NUMERIC" || t == "DECIMAL") return Number(column);
        if (t == "DOUBLE" || t == "FLOAT") return std::to_string(Between(1, 2000)) + ".25";
        if (t == "DATE") return "2026" + TwoDigits(Between(1, 12)) + TwoDigits(Between(1, 28));
        if (t == "TIME") return TwoDigits(Between(7, 22)) + ":" + TwoDigits(Between(0, 59)) + ":00";
        if (t == "TIMESTAMP")
            return "2026" + TwoDigits(Between(1, 12)) + TwoDigits(Between(1, 28)) + "T" + TwoDigits(Between(7, 22)) + ":" +
                   TwoDigits(Between(0, 59)) + ":30.000";
        if (t == "BOOLEAN") return Between(0, 3) == 0 ? "FALSE" : "TRUE";
        if (t == "BLOB TEXT") return Base64(Pick(kMemos));
        return Base64(std::string("\x89PNG\r\n", 6) + std::to_string(n));
    }

private:
    std::string Person() { return Pick(kFamily) + Pick(kGiven); }

    std::string Text(const std::string& name, int n) {
        if (name == "PROD_NAME") return Pick(kProducts) + " " + Pick(kSizes);
        if (name.find("GRPNAME") != std::string::npos || name.find("ITEMNAME") != std::string::npos ||
            name.find("DEPNAME") != std::string::npos)
            return Pick(kGroups) + "類";
        if (name == "PROVIDER_NAME" || name == "CUST_NAME") return Pick(kCompanies) + "股份有限公司";
        if (name.find("NAME") != std::string::npos) return Person();
        if (name == "CONTACT") return Person();
        if (name == "PHONE") return "09" + std::to_string(10000000 + Between(0, 89999999));
        if (name == "ADDRESS") return "台北市中山區南京東路二段" + std::to_string(Between(1, 200)) + "號";
        if (name == "NOTE") return Pick(kMemos);
        if (name == "BARCODE") return "471" + std::to_string(1000000000 + n);
        if (name == "UNIT") return n % 2 ? "瓶" : "包";
        if (name == "TAX_TYPE" || name == "CAN_OPEN" || name == "CAN_EDIT") return n % 3 ? "1" : "0";
        if (name == "STORE_ID") return "S001";
        if (name.ends_with("_ID") || name.ends_with("_NO") || name.ends_with("ID"))
            return name.substr(0, 1) + std::to_string(1000 + Between(0, 8999));
        return "T" + std::to_string(n);
    }

    std::string Number(const TColumn& column) {
        const int digits = std::max(1, std::min(column.Length - column.Scale, 4));
        int high = 1;
        for (int i = 0; i < digits; ++i) high *= 10;
        std::string value = std::to_string(Between(1, high - 1));
        if (column.Scale > 0) value += "." + std::string(static_cast<std::size_t>(std::min(column.Scale, 2)), '5');
        return value;
    }

    std::mt19937 random_;
};

}  // namespace

const TColumn* TTable::Find(std::string_view name) const {
    for (const TColumn& column : Columns)
        if (column.Name == name) return &column;
    return nullptr;
}

std::vector<TTable> ParseSchema(std::string_view script) {
    std::vector<TTable> tables;
    for (const std::string& statement : storedb::SplitScript(script)) {
        const std::string upper = Upper(statement);
        if (!upper.starts_with("CREATE TABLE")) continue;
        TTable table;
        const auto open = statement.find('(');
        table.Name = std::string(Trim(statement.substr(12, open - 12)));
        const auto close = statement.rfind(')');
        std::string_view body(statement);
        body = body.substr(open + 1, close - open - 1);
        std::vector<std::string> keys;
        std::size_t at = 0;
        while (at < body.size()) {
            auto end = body.find('\n', at);
            if (end == std::string_view::npos) end = body.size();
            const std::string_view line = Trim(body.substr(at, end - at));
            at = end + 1;
            if (line.empty()) continue;
            if (Upper(line).starts_with("CONSTRAINT")) {
                const auto kopen = line.find('(');
                const auto kclose = line.find(')', kopen);
                keys = SplitNames(line.substr(kopen + 1, kclose - kopen - 1));
                continue;
            }
            table.Columns.push_back(ParseColumn(line));
        }
        for (TColumn& column : table.Columns)
            column.Key = std::find(keys.begin(), keys.end(), column.Name) != keys.end();
        tables.push_back(std::move(table));
    }
    return tables;
}

const TTable& StoreTable(std::string_view name) {
    static const std::vector<TTable> tables = ParseSchema(storedb::StoreSchema());
    for (const TTable& table : tables)
        if (table.Name == name) return table;
    throw std::out_of_range("no table " + std::string(name) + " in the store schema");
}

std::string PacketXml(const TTable& table, const std::vector<TRow>& rows, const std::vector<std::string>& omit,
                      const std::vector<std::string>& extra) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\">\n  <METADATA>\n"
        "    <FIELDS>\n";
    for (const TColumn& column : table.Columns)
        if (std::find(omit.begin(), omit.end(), column.Name) == omit.end())
            xml += FieldXml(column.Name, FormOf(column), false);
    for (const std::string& name : extra) xml += FieldXml(name, {"string", 40, 0, {}}, false);
    xml += "    </FIELDS>\n    <PARAMS LCID=\"1028\"/>\n  </METADATA>\n  <ROWDATA>\n";
    for (const TRow& row : rows) {
        xml += "    <ROW";
        for (const auto& [field, value] : row) {
            if (std::find(omit.begin(), omit.end(), field) != omit.end()) continue;
            xml += " " + field + "=\"" + XmlEscape(value) + "\"";
        }
        xml += "/>\n";
    }
    return xml + "  </ROWDATA>\n</DATAPACKET>\n";
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string SampleKey(const TColumn& column, int n) {
    const std::string& t = column.SqlType;
    if (t != "VARCHAR" && t != "CHAR") return std::to_string(n);
    // A letter of the column's name and the number, as wide as the column allows.
    const int width = std::clamp(column.Length - 1, 1, 7);
    std::string digits = std::to_string(n);
    if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    return column.Name.substr(0, 1) + digits;
}

std::vector<TRow> SampleRows(const TTable& table, int count, int first, std::uint32_t seed) {
    TValueMaker maker(seed);
    std::vector<TRow> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (int n = first; n < first + count; ++n) {
        TRow row;
        for (const TColumn& column : table.Columns) row.emplace_back(column.Name, maker.Value(column, n));
        rows.push_back(std::move(row));
    }
    return rows;
}

TBills SampleBills(const TTable& master, const TTable& detail, int bills, int lines, int first, std::uint32_t seed) {
    TValueMaker maker(seed);
    TBills out;
    for (int b = first; b < first + bills; ++b) {
        const std::string bill = master.Name.substr(0, 2) + "20261210" + std::to_string(100000 + b);
        TRow row;
        for (const TColumn& column : master.Columns)
            row.emplace_back(column.Name, column.Name == "MASTERBILLID" ? bill : maker.Value(column, b));
        out.Masters.push_back(std::move(row));
        for (int line = 1; line <= lines; ++line) {
            TRow item;
            for (const TColumn& column : detail.Columns) {
                if (column.Name == "MASTERBILLID") item.emplace_back(column.Name, bill);
                else if (column.Name == "LINE_NO") item.emplace_back(column.Name, std::to_string(line));
                else item.emplace_back(column.Name, maker.Value(column, line));
            }
            out.Lines.push_back(std::move(item));
        }
    }
    return out;
}

std::vector<std::string> WriteSampleFiles(const std::string& folder, const TSampleSizes& sizes) {
    static const std::vector<std::string> kSingle{
        "ADDCASH_SUB", "SMARTCARD_DATA", "MEMBER_CLASS", "PROD_DEPART", "PROD_TOPITEM", "PROD_HIITEM",
        "PROD_ITEM", "PROVIDER", "MEMBER", "MEMBER_UPDATE", "PRODUCT", "PRODUCT_UPDATE", "PROD_SALE",
        "CUSTOMER", "EMPLOYEE", "LOC_KEY_MAP", "LOC_KEY_MAP_SUB", "ORG_MAIN", "ORG_POWER_SET",
        "ORG_POWER_SET2", "STORE_QTY"};
    static const std::vector<std::pair<std::string, std::string>> kBills{
        {"PSALE_MASTER", "PSALE_SUB"}, {"CHGPRICE_MASTER", "CHGPRICE_SUB"}, {"PTSALE_MASTER", "PTSALE_SUB"}};
    const std::string dir = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    std::vector<std::string> names;
    auto write = [&](const std::string& fileTable, const TTable& table, const std::vector<TRow>& rows) {
        const std::string name = "HQ__" + fileTable + "__20261210_01.XML";
        WriteFile(dir + name, PacketXml(table, rows));
        names.push_back(name);
    };
    std::uint32_t seed = 7;
    for (const std::string& name : kSingle) {
        const std::string tableName = name == "MEMBER_UPDATE" ? "MEMBER" : name == "PRODUCT_UPDATE" ? "PRODUCT" : name;
        const TTable& table = StoreTable(tableName);
        const bool product = tableName == "PRODUCT";
        int count = product ? sizes.Products : sizes.Rows;
        // The update files touch some of the rows the main files bring, and add a few.
        const int first = name.ends_with("_UPDATE") ? count / 2 : 1;
        if (name.ends_with("_UPDATE")) count = std::max(1, count / 4);
        write(name, table, SampleRows(table, count, first, ++seed));
    }
    for (const auto& [masterName, detailName] : kBills) {
        const TBills bills = SampleBills(StoreTable(masterName), StoreTable(detailName), sizes.Bills, sizes.LinesPerBill, 1, ++seed);
        write(masterName, StoreTable(masterName), bills.Masters);
        write(detailName, StoreTable(detailName), bills.Lines);
    }
    return names;
}

}  // namespace tarnwick::sampledata
