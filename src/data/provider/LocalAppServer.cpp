#include "data/provider/LocalAppServer.h"

#include "base/DatabaseError.h"
#include "data/provider/DataSetProvider.h"

namespace tarnwick::provider {

namespace {

// Runs the provider's work; any failure leaves as EOleException with the trimmed description and
// the status: the failure's own for an OLE failure with a failure status, else 0x8000FFFF.
template <class Work>
auto Guarded(Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const EOleException& e) {
        const std::int32_t status = e.ErrorCode() < 0 ? e.ErrorCode() : kStatusUnexpected;
        throw EOleException(OleErrorMessage(e.Message(), status), status);
    } catch (const Exception& e) {
        throw EOleException(OleErrorMessage(e.Message(), kStatusUnexpected), kStatusUnexpected);
    } catch (const std::exception& e) {
        throw EOleException(OleErrorMessage(e.what(), kStatusUnexpected), kStatusUnexpected);
    }
}

}  // namespace

TCustomProvider& TLocalAppServer::Provider() const {
    if (!alive_ || !*alive_) DatabaseError("Missing data provider or data packet");
    return provider_;
}

std::vector<std::uint8_t> TLocalAppServer::AS_ApplyUpdates(const std::string&, const std::vector<std::uint8_t>& delta,
                                                           int maxErrors, int& errorCount, TVariant& ownerData) {
    return Guarded([&] { return Provider().ApplyUpdates(delta, maxErrors, errorCount, ownerData); });
}

std::vector<std::uint8_t> TLocalAppServer::AS_GetRecords(const std::string&, int count, int& recsOut, int options,
                                                         const std::string& commandText, TParamPacket& params,
                                                         TVariant& ownerData) {
    return Guarded([&] { return Provider().GetRecords(count, recsOut, options, commandText, params, ownerData); });
}

TVariant TLocalAppServer::AS_DataRequest(const std::string&, const TVariant& data) {
    return Guarded([&] { return Provider().DataRequest(data); });
}

TVariant TLocalAppServer::AS_GetProviderNames() { return TVariant::Null(); }

TParamPacket TLocalAppServer::AS_GetParams(const std::string&, TVariant& ownerData) {
    return Guarded([&] { return Provider().GetParams(ownerData); });
}

std::vector<std::uint8_t> TLocalAppServer::AS_RowRequest(const std::string&, const std::vector<std::uint8_t>& row,
                                                         int requestType, TVariant& ownerData) {
    return Guarded([&] { return Provider().RowRequest(row, requestType, ownerData); });
}

void TLocalAppServer::AS_Execute(const std::string&, const std::string& commandText, TParamPacket& params,
                                 TVariant& ownerData) {
    Guarded([&] { Provider().Execute(commandText, params, ownerData); });
}

}  // namespace tarnwick::provider
