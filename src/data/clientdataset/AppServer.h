#pragma once
// IAppServer: what a command dataset asks of its provider (rows, statements, applying changes).
// A provider component answers an IAppServer through IProviderComponent; the command dataset
// holds the answer (shared ownership, the reference count of the link) from an open to the next
// close. Every operation either succeeds or raises EOleException: the provider's failure with
// its message trimmed of trailing blanks, line breaks and periods, and its status.

#include "base/Exception.h"
#include "data/clientdataset/FieldType.h"
#include "data/clientdataset/Variant.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick {

// A provider failure as the command dataset's caller sees it.
class EOleException : public EOleSysError {
public:
    EOleException(std::string message, std::int32_t errorCode)
        : EOleSysError(std::move(message)), errorCode_(errorCode) {}
    std::int32_t ErrorCode() const { return errorCode_; }

private:
    std::int32_t errorCode_;
};

// The status a provider failure answers unless the failure carries its own.
constexpr std::int32_t kStatusUnexpected = static_cast<std::int32_t>(0x8000FFFFu);
// The automation entry points answer this.
constexpr std::int32_t kStatusNotImplemented = static_cast<std::int32_t>(0x80004001u);

// The message of a failure crossing the interface: `description` less its trailing characters
// up to blank (code 32 and below) and periods; when nothing is left, the system's text for the
// status ("Catastrophic failure" for 0x8000FFFF ...) or "OLE error %.8x".
std::string OleErrorMessage(const std::string& description, std::int32_t status);
// Raises EOleException for a failure status (negative); does nothing for a success status.
void OleCheck(std::int32_t status, const std::string& description);

// One parameter of a packed parameter list.
struct TPackedParam {
    std::string Name;
    TFieldType DataType = ftUnknown;
    int ParamType = 0;  // 0 unknown, 1 input, 2 output, 3 input/output, 4 result
    TVariant Value = TVariant::Null();
};

// A parameter list as it crosses the interface: unassigned, null (no parameters) or a list.
struct TParamPacket {
    enum Kind { Unassigned, Null, List };
    Kind State = Unassigned;
    std::vector<TPackedParam> Items;

    static TParamPacket MakeNull() { return TParamPacket{Null, {}}; }
    bool IsUnassigned() const { return State == Unassigned; }
    friend bool operator==(const TParamPacket& a, const TParamPacket& b);
};

// Options bits of AS_GetRecords.
constexpr int kGetRecordsMetaData = 1;
constexpr int kGetRecordsReset = 2;

class IAppServer {
public:
    virtual ~IAppServer() = default;

    // The error packet (empty: no row failed) and the failed-row count.
    virtual std::vector<std::uint8_t> AS_ApplyUpdates(const std::string& providerName,
                                                      const std::vector<std::uint8_t>& delta,
                                                      int maxErrors, int& errorCount,
                                                      TVariant& ownerData) = 0;
    // A data packet (empty: none). Count -1: all rows; 0: none.
    virtual std::vector<std::uint8_t> AS_GetRecords(const std::string& providerName, int count,
                                                    int& recsOut, int options,
                                                    const std::string& commandText,
                                                    TParamPacket& params, TVariant& ownerData) = 0;
    virtual TVariant AS_DataRequest(const std::string& providerName, const TVariant& data) = 0;
    virtual TVariant AS_GetProviderNames() = 0;
    virtual TParamPacket AS_GetParams(const std::string& providerName, TVariant& ownerData) = 0;
    virtual std::vector<std::uint8_t> AS_RowRequest(const std::string& providerName,
                                                    const std::vector<std::uint8_t>& row,
                                                    int requestType, TVariant& ownerData) = 0;
    virtual void AS_Execute(const std::string& providerName, const std::string& commandText,
                            TParamPacket& params, TVariant& ownerData) = 0;
};

class TComponent;

// Implemented by provider components (the provider layer), so that a command dataset can find
// its provider among its owner's components without knowing the provider's class.
class IProviderComponent {
public:
    virtual ~IProviderComponent() = default;
    // The dataset the provider serves (its `DataSet` property), or null.
    virtual TComponent* ProviderDataSet() const = 0;
    // A new local application server for this provider.
    virtual std::shared_ptr<IAppServer> CreateAppServer() = 0;
};

}  // namespace tarnwick
