#include "data/sql/DriverError.h"

#include "base/Text.h"

namespace tarnwick::sql {
namespace {

const char* FixedText(sqlfb::SQLResult code) {
    switch (code) {
        case 1: return "[0x0001]: Warning";
        case 2: return "[0x0002]: Insufficient Memory for Operation";
        case 3: return "[0x0003]: Invalid Field Type";
        case 4: return "[0x0004]: Invalid Handle";
        case 5: return "[0x0005]: Operation Not Supported";
        case 6: return "[0x0006]: Invalid Time";
        case 7: return "[0x0007]: Invalid Data Translation";
        case 8: return "[0x0008]: Parameter/Column out of Range";
        case 9: return "[0x0009]: Invalid Parameter";
        case 10: return "[0x000A]: Result set at EOF";
        case 11: return "SQLLink Error [0x000B]: Parameter Not Set";
        case 12: return "[0x000C] Invalid Username/Password";
        case 13: return "[0x000D]: Invalid Precision";
        case 14: return "[0x000E]: Invalid Length";
        case 15: return "[0x000F]: Invalid Transaction Isolation Level";
        case 16: return "[0x0010]: Invalid Transaction ID";
        case 17: return "[0x0011]: Duplicate Transaction ID";
        case 19: return "[0x0013]: Local Transaction already active";
        case 20: return "[0x0014]: Multiple Transactions not Enabled";
        case 21: return "[0x0015]: Connection failed";
        case 22: return "[0x0016]: Driver initialization failed";
        case 23: return "[0x0017]: Optimistic Locking failed";
        case 24: return "[0x0018]: Invalid REF";
        case 25: return "[0x0019]: No table found";
        case 64: return "[0x0064]: No more data";
        case 65: return "[0x0065]: SQL Error";
        default: return nullptr;
    }
}

}  // namespace

std::string StaticDriverErrorText(sqlfb::SQLResult code) {
    const char* text = FixedText(code);
    return text == nullptr ? std::string{} : Format("SQLLink Error: %s", text);
}

std::string AssembleDriverError(sqlfb::SQLResult code, const std::string& staticPart,
                                const std::string& serverPart, const std::string& previous) {
    std::string message = staticPart;
    if (!serverPart.empty()) {
        if (!message.empty()) message += "\r\n";
        message += serverPart;
    }
    if (message.empty()) message = previous;
    if (message.empty()) message = Format("SQLLink Error: Unknown Error Code '%u'", static_cast<unsigned>(code));
    return message;
}

}  // namespace tarnwick::sql
