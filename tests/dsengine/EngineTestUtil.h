#pragma once
// Small helpers for engine tests: load a packet into a base with a cursor, read fields as bytes.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dsengine/DSIntf.h"

namespace tarnwick::dsengine::test {

inline std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

struct Loaded {
    std::unique_ptr<IDSBase> base;
    std::unique_ptr<IDSCursor> cursor;
    std::vector<std::uint8_t> buf;
    DBResult status = DBERR_NONE;

    std::string Error() {
        std::string text;
        base->GetErrorString(status, text);
        return text;
    }
    // The current record into `buf`; false at BOF/EOF.
    bool Fetch() {
        buf.assign(RecordSize(), 0);
        return cursor->GetCurrentRecord(buf.data()) == DBERR_NONE;
    }
    std::uint32_t RecordSize() {
        std::uint32_t size = 0;
        cursor->GetProp(curpropRECORDSIZE, size);
        return size;
    }
    std::uint32_t Count() {
        std::uint32_t n = 0;
        EXPECT_EQ(cursor->GetRecordCount(n), DBERR_NONE);
        return n;
    }
    // Field value bytes of the fetched record; "<null>" for null, "<unchanged>" for not changed.
    std::string Raw(std::uint32_t fieldNo) {
        std::vector<std::uint8_t> value(RecordSize() + 16, 0);
        std::uint32_t blank = 0;
        EXPECT_EQ(cursor->GetField(buf.data(), fieldNo, value.data(), blank), DBERR_NONE);
        if (blank == BLANK_NULL) return "<null>";
        if (blank == BLANK_NOTCHANGED) return "<unchanged>";
        return std::string(value.begin(), value.end());
    }
    std::string Text(std::uint32_t fieldNo) {
        const std::string raw = Raw(fieldNo);
        if (raw.front() == '<' && raw.back() == '>') return raw;
        return std::string(raw.c_str());
    }
    std::int32_t Int(std::uint32_t fieldNo) {
        std::int32_t v = 0;
        std::uint32_t blank = 0;
        EXPECT_EQ(cursor->GetField(buf.data(), fieldNo, &v, blank), DBERR_NONE);
        return v;
    }
};

inline Loaded Load(const std::vector<std::uint8_t>& packet) {
    Loaded l;
    CreateDSBase(l.base);
    CreateDSCursor(l.cursor);
    l.status = l.base->AppendData(packet.data(), packet.size(), true);
    if (l.status == DBERR_NONE) l.cursor->InitCursor(l.base.get());
    return l;
}

inline Loaded Load(const std::string& packet) { return Load(Bytes(packet)); }

inline std::string Packet(const std::string& fields, const std::string& rows,
                          const std::string& params = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\">"
           "<METADATA><FIELDS>" + fields + "</FIELDS><PARAMS" + params + "/></METADATA><ROWDATA>" + rows +
           "</ROWDATA></DATAPACKET>";
}

}  // namespace tarnwick::dsengine::test
