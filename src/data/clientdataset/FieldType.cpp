#include "data/clientdataset/FieldType.h"

namespace tarnwick {

const char* FieldTypeName(TFieldType type) {
    static const char* const names[] = {
        "Unknown",  "String",     "Smallint",    "Integer",  "Word",        "Boolean",
        "Float",    "Currency",   "BCD",         "Date",     "Time",        "DateTime",
        "Bytes",    "VarBytes",   "AutoInc",     "Blob",     "Memo",        "Graphic",
        "FmtMemo",  "ParadoxOle", "DBaseOle",    "TypedBinary", "Cursor",   "FixedChar",
        "WideString", "Largeint", "ADT",         "Array",    "Reference",   "DataSet",
        "OraBlob",  "OraClob",    "Variant",     "Interface", "IDispatch",  "Guid",
        "TimeStamp", "FMTBcd"};
    const auto index = static_cast<unsigned>(type);
    return index < sizeof(names) / sizeof(names[0]) ? names[index] : "Unknown";
}

bool IsBlobType(TFieldType type) {
    switch (type) {
    case ftBlob: case ftMemo: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle:
    case ftTypedBinary: case ftOraBlob: case ftOraClob:
        return true;
    default:
        return false;
    }
}

}  // namespace tarnwick
