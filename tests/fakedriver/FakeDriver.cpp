#include "FakeDriver.h"

#include <cstring>
#include <map>
#include <string>

#include "sqlfb/SQLDriver.h"

namespace {

using namespace tarnwick::sqlfb;

std::map<std::string, std::string> script;
std::string callLog;

std::string Get(const std::string& name, const std::string& fallback) {
    const auto it = script.find(name);
    return it == script.end() ? fallback : it->second;
}

SQLResult Code(const std::string& name) { return static_cast<SQLResult>(std::stoi(Get(name, "0"))); }

// Text options: the connection passes the address of a zero-terminated text.
bool IsTextOption(std::uint16_t id) {
    return id == kConnHostName || id == kConnRoleName || id == kConnServerCharSet || id == kConnServerPort ||
           id == kConnCustomInfo || id == kConnQualifiedName;
}

SQLResult ErrorLength(std::uint16_t* length) {
    *length = static_cast<std::uint16_t>(Get("message", "").size());
    return kSQLSuccess;
}

SQLResult ErrorCopy(char* buffer, std::uint32_t size) {
    const std::string message = Get("message", "");
    if (size == 0) return kSQLInvalidParameter;
    const std::size_t n = std::min<std::size_t>(message.size(), size - 1);
    std::memcpy(buffer, message.data(), n);
    buffer[n] = '\0';
    return kSQLSuccess;
}

class FakeMetaData final : public ISQLMetaData {
public:
    SQLResult SetOption(std::uint16_t option, std::intptr_t value) override {
        callLog += "MetaSetOption " + std::to_string(option) + "=" + reinterpret_cast<const char*>(value) + "\n";
        return kSQLSuccess;
    }
    SQLResult GetOption(std::uint16_t option, void* buffer, std::int32_t, std::int32_t* length) override {
        if (option == kMetaObjectQuoteChar) {
            const std::string quote = Get("quote", "\"");
            if (quote == "none") return kSQLNotSupported;
            *static_cast<char*>(buffer) = quote.empty() ? '\0' : quote[0];
            *length = 1;
            return kSQLSuccess;
        }
        std::int32_t value = 0;
        if (option == kMetaSupportsTransaction) value = std::stoi(Get("transactions", "1"));
        else if (option == kMetaMultipleTransactions) value = std::stoi(Get("multiple", "0"));
        else return kSQLNotSupported;
        std::memcpy(buffer, &value, 4);
        *length = 4;
        return kSQLSuccess;
    }
    SQLResult GetIndices(const char*, std::uint32_t, ISQLCursor** cursor) override {
        *cursor = nullptr;
        return kSQLNotSupported;
    }
    SQLResult GetErrorMessageLen(std::uint16_t* length) override { return ErrorLength(length); }
    SQLResult GetErrorMessage(char* buffer, std::uint32_t size) override { return ErrorCopy(buffer, size); }
};

class FakeConnection final : public ISQLConnection {
public:
    SQLResult Connect(const char* database, const char* user, const char*) override {
        callLog += std::string("Connect ") + database + " " + user + "\n";
        return Code("connect");
    }
    SQLResult Disconnect() override {
        callLog += "Disconnect\n";
        return kSQLSuccess;
    }
    SQLResult GetSQLCommand(ISQLCommand** command) override {
        *command = nullptr;
        return kSQLNotSupported;
    }
    SQLResult GetSQLMetaData(ISQLMetaData** metaData) override {
        *metaData = new FakeMetaData;
        return kSQLSuccess;
    }
    SQLResult SetOption(std::uint16_t option, std::intptr_t value) override {
        callLog += "SetOption " + std::to_string(option) + "=" +
                   (IsTextOption(option) ? std::string(reinterpret_cast<const char*>(value)) : std::to_string(value)) +
                   "\n";
        return kSQLSuccess;
    }
    SQLResult GetOption(std::uint16_t option, void* buffer, std::int32_t, std::int32_t* length) override {
        if (option != kConnMaxStatements) return kSQLNotSupported;
        const std::int32_t value = std::stoi(Get("maxstmts", "0"));
        std::memcpy(buffer, &value, 4);
        *length = 4;
        return kSQLSuccess;
    }
    SQLResult BeginTransaction(const TTransactionDesc* desc) override {
        callLog += "Begin " + std::to_string(desc->IsolationLevel) + "\n";
        return Code("begin");
    }
    SQLResult Commit(const TTransactionDesc*) override {
        callLog += "Commit\n";
        return Code("commit");
    }
    SQLResult Rollback(const TTransactionDesc*) override {
        callLog += "Rollback\n";
        return Code("rollback");
    }
    SQLResult GetErrorMessageLen(std::uint16_t* length) override { return ErrorLength(length); }
    SQLResult GetErrorMessage(char* buffer, std::uint32_t size) override { return ErrorCopy(buffer, size); }
};

class FakeDriver final : public ISQLDriver {
public:
    SQLResult GetSQLConnection(ISQLConnection** connection) override {
        *connection = new FakeConnection;
        return kSQLSuccess;
    }
    SQLResult SetOption(std::uint16_t, std::intptr_t) override { return kSQLSuccess; }
    SQLResult GetOption(std::uint16_t, void*, std::int32_t, std::int32_t*) override { return kSQLNotSupported; }
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void fakeDriverSetScript(const char* text) {
    script.clear();
    callLog.clear();
    std::string rest = text != nullptr ? text : "";
    while (!rest.empty()) {
        const auto end = rest.find(';');
        const std::string item = rest.substr(0, end);
        rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
        const auto eq = item.find('=');
        if (eq != std::string::npos) script[item.substr(0, eq)] = item.substr(eq + 1);
    }
}

__attribute__((visibility("default"))) const char* fakeDriverLog() { return callLog.c_str(); }

__attribute__((visibility("default"))) SQLResult getSQLDriverFAKE(const char* vendorLib, const char*,
                                                                 ISQLDriver** driver) {
    callLog += std::string("Entry ") + vendorLib + "\n";
    const SQLResult result = Code("entry");
    *driver = result == kSQLSuccess ? new FakeDriver : nullptr;
    return result;
}

}  // extern "C"
