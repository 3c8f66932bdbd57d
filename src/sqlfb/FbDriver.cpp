#include "sqlfb/FbDriver.h"

#include "sqlfb/FbConnection.h"
#include "sqlfb/FbHelpers.h"

namespace tarnwick::sqlfb {

namespace detail {

namespace {

class FbDriverImpl final : public ISQLDriver {
public:
    explicit FbDriverImpl(std::shared_ptr<const FbClient> api) : api_(std::move(api)) {}

    SQLResult GetSQLConnection(ISQLConnection** connection) override {
        if (connection == nullptr) return kSQLInvalidParameter;
        *connection = nullptr;
        return Guarded([&] {
            *connection = NewFbConnection(api_);
            return kSQLSuccess;
        });
    }
    SQLResult SetOption(std::uint16_t, std::intptr_t) override { return kSQLSuccess; }
    SQLResult GetOption(std::uint16_t, void*, std::int32_t, std::int32_t*) override { return kSQLNotSupported; }

private:
    std::shared_ptr<const FbClient> api_;
};

}  // namespace

}  // namespace detail

ISQLDriver* NewFbDriver(std::shared_ptr<const FbClient> api) { return new detail::FbDriverImpl(std::move(api)); }

}  // namespace tarnwick::sqlfb

extern "C" __attribute__((visibility("default"))) tarnwick::sqlfb::SQLResult getSQLDriverFIREBIRD(
    const char* vendorLib, const char*, tarnwick::sqlfb::ISQLDriver** driver) {
    using namespace tarnwick::sqlfb;
    if (driver == nullptr) return kSQLInvalidParameter;
    *driver = nullptr;
    try {
        std::string error;
        auto api = FbClient::Load(vendorLib != nullptr ? vendorLib : "", &error);
        if (api == nullptr) return kSQLDriverInitFailed;
        *driver = NewFbDriver(std::move(api));
        return kSQLSuccess;
    } catch (...) {
        return kSQLNoMemory;
    }
}
