#include "data/clientdataset/CommandDataSet.h"

#include "base/Text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <utility>

namespace tarnwick {

using namespace dsengine;

namespace {

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// The ":name" markers of a command text outside quotes, in text order; "::" is no marker.
std::vector<std::string> ParameterNames(const std::string& text) {
    std::vector<std::string> names;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            continue;
        }
        if (c != ':') continue;
        if (i + 1 < text.size() && text[i + 1] == ':') {
            ++i;
            continue;
        }
        if (i > 0 && IsNameChar(text[i - 1])) continue;
        std::size_t end = i + 1;
        if (end < text.size() && text[end] == '"') {
            const std::size_t close = text.find('"', end + 1);
            if (close == std::string::npos) break;
            names.push_back(text.substr(end + 1, close - end - 1));
            i = close;
            continue;
        }
        while (end < text.size() && IsNameChar(text[end])) ++end;
        if (end == i + 1) continue;
        names.push_back(text.substr(i + 1, end - i - 1));
        i = end - 1;
    }
    return names;
}

// Engine change kinds as update kinds.
TUpdateKind UpdateKindOf(std::uint32_t engineKind) {
    if (engineKind == dsRecNew) return ukInsert;
    if (engineKind == dsRecDeleted) return ukDelete;
    return ukModify;
}

}  // namespace

TCommandDataSet::TCommandDataSet(TComponent* owner) : TCustomClientDataSet(owner) {}

TCommandDataSet::~TCommandDataSet() {
    destroying_ = true;
    try {
        Close();
    } catch (...) {
        // Nothing can be reported from a destructor; the link goes below regardless.
    }
    appServer_.reset();
}

void TCommandDataSet::SetProviderName(std::string name) {
    if (name == providerName_) return;
    // Another provider: the link to the old one is no longer wanted.
    if (!Active()) appServer_.reset();
    providerName_ = std::move(name);
}

void TCommandDataSet::SetCommandText(const std::string& text) {
    if (text == commandText_) return;
    commandText_ = text;
    if (text.empty()) {
        params_.clear();
        return;
    }
    std::vector<TPackedParam> fresh;
    for (std::string& name : ParameterNames(text)) {
        const bool seen = std::any_of(fresh.begin(), fresh.end(),
                                      [&](const TPackedParam& p) { return SameTextAscii(p.Name, name); });
        if (seen) continue;
        TPackedParam param;
        param.Name = std::move(name);
        param.ParamType = 1;
        for (const TPackedParam& old : params_) {
            if (!SameTextAscii(old.Name, param.Name)) continue;
            param.DataType = old.DataType;
            param.Value = old.Value;
            break;
        }
        fresh.push_back(std::move(param));
    }
    params_ = std::move(fresh);
}

IAppServer& TCommandDataSet::ObtainAppServer() {
    if (appServer_) return *appServer_;
    if (!providerName_.empty() && Owner()) {
        TComponent* found = Owner()->FindComponent(providerName_);
        if (auto* provider = dynamic_cast<IProviderComponent*>(found)) {
            if (provider->ProviderDataSet() == this) Error("Circular provider references not allowed");
            appServer_ = provider->CreateAppServer();
        }
    }
    if (!appServer_) Error("Missing data provider or data packet");
    return *appServer_;
}

TParamPacket TCommandDataSet::PackParams() const {
    if (params_.empty()) return TParamPacket::MakeNull();
    return TParamPacket{TParamPacket::List, params_};
}

void TCommandDataSet::UnpackParams(const TParamPacket& packet) {
    if (packet.State != TParamPacket::List) return;
    for (const TPackedParam& back : packet.Items) {
        for (TPackedParam& mine : params_) {
            if (!SameTextAscii(mine.Name, back.Name)) continue;
            mine.Value = back.Value;
            if (back.DataType != ftUnknown) mine.DataType = back.DataType;
            break;
        }
    }
}

std::vector<std::uint8_t> TCommandDataSet::FetchPacket() {
    SetProviderEnd(true);
    IAppServer& server = ObtainAppServer();
    int recsOut = 0;
    TParamPacket params = PackParams();
    TVariant ownerData;
    std::vector<std::uint8_t> packet = server.AS_GetRecords(
        providerName_, packetRecords_, recsOut, kGetRecordsMetaData, commandText_, params, ownerData);
    SetProviderEnd(packetRecords_ != recsOut);
    UnpackParams(params);
    if (packet.empty()) Error("Missing data provider or data packet");
    return packet;
}

void TCommandDataSet::InternalClose() {
    TCustomClientDataSet::InternalClose();
    if (!appServer_) return;
    // The link goes whatever the reset call answers; with it the provider's server.
    std::shared_ptr<IAppServer> server = std::move(appServer_);
    if (destroying_ || NoResetCall()) return;
    int recsOut = 0;
    TParamPacket params;  // unassigned: the provider keeps its parameters
    TVariant ownerData;
    server->AS_GetRecords(providerName_, 0, recsOut, kGetRecordsReset, std::string(), params, ownerData);
}

void TCommandDataSet::ExecuteCommand() {
    IAppServer& server = ObtainAppServer();
    TParamPacket params = PackParams();
    TVariant ownerData;
    server.AS_Execute(providerName_, commandText_, params, ownerData);
    UnpackParams(params);
}

void TCommandDataSet::SetFieldData(TField& field, const void* buffer) {
    int precision = 0;
    const TFieldType type = field.DataType();  // tried first: a failing cast is slow on every field
    const auto* bcd = type == ftBCD ? dynamic_cast<const TBCDField*>(&field) : nullptr;
    const auto* fmt = type == ftFMTBcd ? dynamic_cast<const TFMTBCDField*>(&field) : nullptr;
    if (bcd) precision = bcd->Precision();
    else if (fmt) precision = fmt->Precision();
    else {
        TCustomClientDataSet::SetFieldData(field, buffer);
        return;
    }
    if (!buffer) {
        TCustomClientDataSet::SetFieldData(field, buffer);
        return;
    }
    TBcd value;
    std::memcpy(&value, buffer, sizeof value);
    const std::optional<TBcd> fitted = BcdNormalize(value, precision > 0 ? precision : 32, field.Size());
    TCustomClientDataSet::SetFieldData(field, fitted ? static_cast<const void*>(&*fitted) : buffer);
}

int TCommandDataSet::ChangeCount() const {
    if (!Active() || !DSBase()) return 0;
    std::uint32_t count = 0;
    CheckEngine(DSBase()->GetProp(basepropCHANGECOUNT, count));
    return static_cast<int>(count);
}

int TCommandDataSet::ApplyChanges(int maxErrors) {
    CheckActive();
    FinishEdit();
    if (ChangeCount() == 0) return 0;
    std::vector<std::uint8_t> delta;
    CheckEngine(DSBase()->GetDelta(delta));
    IAppServer& server = ObtainAppServer();
    int errorCount = 0;
    TVariant ownerData;
    const std::vector<std::uint8_t> errors =
        server.AS_ApplyUpdates(providerName_, delta, maxErrors, errorCount, ownerData);
    Reconcile(delta, errors);
    return errorCount;
}

// Settles the change log with the provider's answer: an empty error packet accepts every change;
// otherwise the engine calls back once per refused row and accepts the rest (unless the apply was
// rolled back). A refused change is then dropped, so that it cannot hold back later applies.
void TCommandDataSet::Reconcile(const std::vector<std::uint8_t>& delta,
                                const std::vector<std::uint8_t>& errors) {
    const int recordNumber = RecordNumber();
    reconcileHandlerError_.clear();
    std::unique_ptr<IDSBase> reconcileBase;
    if (!errors.empty()) CheckEngine(DSBase()->CreateEmptyCopy(copymodeSAMEFIELDS, reconcileBase));
    closeAfterReconcile_ = false;
    const DBResult status = DSBase()->Reconcile(reconcileBase.get(), delta, errors, this, &ReconcileCallback);
    // A handler that closed the dataset: the engine is done with it now.
    if (std::exchange(closeAfterReconcile_, false)) {
        std::exception_ptr failure;
        try {
            CheckEngine(status);
        } catch (...) {
            failure = std::current_exception();
        }
        Close();
        if (failure) std::rethrow_exception(failure);
        return;
    }
    CheckEngine(status);

    // Back to the row that was current, or the nearest one when it went with its change.
    std::uint32_t total = 0;
    CheckEngine(DSCursor()->GetRecordCount(total));
    if (total == 0) {
        MoveFirst();
        return;
    }
    const auto target = static_cast<std::uint32_t>(std::clamp(recordNumber, 1, static_cast<int>(total)));
    if (IsFailure(DSCursor()->MoveToSeqNo(target))) {
        MoveFirst();
        return;
    }
    FetchCurrentRecord();
    SetAtStart(false);
    SetAtEnd(false);
}

bool TCommandDataSet::DeferClose() {
    if (!inReconcile_) return false;
    closeAfterReconcile_ = true;
    return true;
}

std::uint32_t TCommandDataSet::ReconcileCallback(void* clientData, std::int32_t previousError,
                                                 std::uint32_t updateKind, std::int32_t responseCode,
                                                 std::int32_t errorCode, const char* message,
                                                 const char* context, const std::uint8_t*,
                                                 const std::uint8_t*, const std::uint8_t*, std::int32_t,
                                                 const std::int32_t*) {
    auto* self = static_cast<TCommandDataSet*>(clientData);
    self->inReconcile_ = true;
    TReconcileAction action = responseCode == 1 ? raSkip : raAbort;
    try {
        EReconcileError error(message ? message : "", context ? context : "", errorCode, previousError);
        if (self->onReconcileError_) action = self->onReconcileError_(*self, error, UpdateKindOf(updateKind), action);
    } catch (const std::exception& e) {
        self->reconcileHandlerError_ = e.what();
        action = raAbort;
    } catch (...) {
        self->reconcileHandlerError_ = "Unknown failure in OnReconcileError";
        action = raAbort;
    }
    self->inReconcile_ = false;
    // Skipped and aborted rows were not written: their change leaves the log.
    if (action == raSkip || action == raAbort) action = raCancel;
    return static_cast<std::uint32_t>(action) + 1;
}

}  // namespace tarnwick
