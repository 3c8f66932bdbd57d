#include "data/clientdataset/AppServer.h"

#include "base/Text.h"

namespace tarnwick {

namespace {

// The system's texts for the statuses a provider failure can answer.
const char* StatusText(std::int32_t status) {
    switch (static_cast<std::uint32_t>(status)) {
    case 0x8000FFFFu: return "Catastrophic failure";
    case 0x80004001u: return "Not implemented";
    case 0x80004005u: return "Unspecified error";
    case 0x8007000Eu: return "Not enough memory resources are available to complete this operation";
    case 0x80070057u: return "The parameter is incorrect";
    case 0x80020009u: return "Exception occurred";
    default: return nullptr;
    }
}

}  // namespace

std::string OleErrorMessage(const std::string& description, std::int32_t status) {
    std::string message = description;
    while (!message.empty()) {
        const auto last = static_cast<unsigned char>(message.back());
        if (last > ' ' && last != '.') break;
        message.pop_back();
    }
    if (!message.empty()) return message;
    if (const char* text = StatusText(status)) return text;
    return Format("OLE error %.8x", static_cast<unsigned>(status));
}

void OleCheck(std::int32_t status, const std::string& description) {
    if (status >= 0) return;
    throw EOleException(OleErrorMessage(description, status), status);
}

bool operator==(const TParamPacket& a, const TParamPacket& b) {
    if (a.State != b.State || a.Items.size() != b.Items.size()) return false;
    for (std::size_t i = 0; i < a.Items.size(); ++i) {
        const TPackedParam& x = a.Items[i];
        const TPackedParam& y = b.Items[i];
        if (x.Name != y.Name || x.DataType != y.DataType || x.ParamType != y.ParamType) return false;
        if (!(x.Value == y.Value)) return false;
    }
    return true;
}

}  // namespace tarnwick
