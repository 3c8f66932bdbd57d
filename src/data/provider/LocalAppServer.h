#pragma once
// TLocalAppServer: the IAppServer of one provider in the same process. It refers to the provider
// and does not own it; it is shared by the command datasets that hold it and goes with the last
// of them. Every operation runs the provider's work inside a failure handler and raises any
// failure again as EOleException (message trimmed, status 0x8000FFFF or the failure's own).

#include "data/clientdataset/AppServer.h"

#include <memory>

namespace tarnwick::provider {

class TCustomProvider;

class TLocalAppServer : public IAppServer {
public:
    // `alive` is the provider's token: false once the provider is destroyed.
    TLocalAppServer(TCustomProvider& provider, std::shared_ptr<bool> alive)
        : provider_(provider), alive_(std::move(alive)) {}

    std::vector<std::uint8_t> AS_ApplyUpdates(const std::string& providerName,
                                              const std::vector<std::uint8_t>& delta, int maxErrors,
                                              int& errorCount, TVariant& ownerData) override;
    std::vector<std::uint8_t> AS_GetRecords(const std::string& providerName, int count, int& recsOut,
                                            int options, const std::string& commandText,
                                            TParamPacket& params, TVariant& ownerData) override;
    TVariant AS_DataRequest(const std::string& providerName, const TVariant& data) override;
    TVariant AS_GetProviderNames() override;
    TParamPacket AS_GetParams(const std::string& providerName, TVariant& ownerData) override;
    std::vector<std::uint8_t> AS_RowRequest(const std::string& providerName,
                                            const std::vector<std::uint8_t>& row, int requestType,
                                            TVariant& ownerData) override;
    void AS_Execute(const std::string& providerName, const std::string& commandText,
                    TParamPacket& params, TVariant& ownerData) override;

    // The automation entry points of the interface: not implemented (0x80004001).
    std::int32_t GetTypeInfoCount() const { return kStatusNotImplemented; }
    std::int32_t GetTypeInfo() const { return kStatusNotImplemented; }
    std::int32_t GetIDsOfNames() const { return kStatusNotImplemented; }
    std::int32_t Invoke() const { return kStatusNotImplemented; }

private:
    TCustomProvider& Provider() const;

    TCustomProvider& provider_;
    std::shared_ptr<bool> alive_;
};

}  // namespace tarnwick::provider
