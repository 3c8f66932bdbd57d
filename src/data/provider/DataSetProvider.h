#pragma once
// TDataSetProvider: serves one SQL dataset (`DataSet`, used, not owned) to command datasets. It
// packs the rows of the dataset's command into data packets, runs statements, and applies deltas
// through its resolver (created at the first apply, kept). Command datasets reach it only through
// the local application server it hands out (TLocalAppServer), never directly.

#include "data/clientdataset/AppServer.h"
#include "data/clientdataset/FieldType.h"
#include "data/sql/CustomSQLDataSet.h"
#include "data/sql/Params.h"
#include "base/Component.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::provider {

enum TProviderOption {
    poFetchBlobsOnDemand,
    poFetchDetailsOnDemand,
    poIncFieldProps,
    poCascadeDeletes,
    poCascadeUpdates,
    poReadOnly,
    poAllowMultiRecordUpdates,
    poDisableInserts,
    poDisableEdits,
    poDisableDeletes,
    poNoReset,
    poAutoRefresh,
    poPropogateChanges,
    poAllowCommandText,
    poRetainServerOrder,
};
using TProviderOptions = TSet<TProviderOption>;

enum TUpdateMode { upWhereAll, upWhereChanged, upWhereKeyOnly };

class TDataPacketWriter;
class TSQLResolver;

// The provider side of every IAppServer operation.
class TCustomProvider : public TComponent, public IProviderComponent {
public:
    explicit TCustomProvider(TComponent* owner = nullptr);
    ~TCustomProvider() override;

    bool Exported() const { return exported_; }
    void SetExported(bool v) { exported_ = v; }

    std::shared_ptr<IAppServer> CreateAppServer() override;

    virtual std::vector<std::uint8_t> GetRecords(int count, int& recsOut, int options,
                                                 const std::string& commandText,
                                                 TParamPacket& params, TVariant& ownerData) = 0;
    virtual void Execute(const std::string& commandText, TParamPacket& params,
                         TVariant& ownerData) = 0;
    virtual std::vector<std::uint8_t> ApplyUpdates(const std::vector<std::uint8_t>& delta,
                                                   int maxErrors, int& errorCount,
                                                   TVariant& ownerData) = 0;
    virtual TParamPacket GetParams(TVariant& ownerData);
    virtual std::vector<std::uint8_t> RowRequest(const std::vector<std::uint8_t>& row,
                                                 int requestType, TVariant& ownerData);
    virtual TVariant DataRequest(const TVariant& data);

private:
    bool exported_ = true;

protected:
    // True while the provider exists; servers handed out keep a copy.
    std::shared_ptr<bool> aliveToken_ = std::make_shared<bool>(true);
};

class TBaseProvider : public TCustomProvider {
public:
    using TCustomProvider::TCustomProvider;
};

class TDataSetProvider : public TBaseProvider {
public:
    explicit TDataSetProvider(TComponent* owner = nullptr);
    ~TDataSetProvider() override;

    sql::TCustomSQLDataSet* DataSet() const { return dataSet_; }
    void SetDataSet(sql::TCustomSQLDataSet* dataSet) { dataSet_ = dataSet; }
    TComponent* ProviderDataSet() const override;

    TProviderOptions Options() const { return options_; }
    void SetOptions(TProviderOptions options) { options_ = options; }
    TUpdateMode UpdateMode() const { return updateMode_; }
    void SetUpdateMode(TUpdateMode mode) { updateMode_ = mode; }
    bool ResolveToDataSet() const { return resolveToDataSet_; }
    // A change of kind drops the resolver; only the statement-generating kind exists here.
    void SetResolveToDataSet(bool v);
    bool Constraints() const { return constraints_; }
    void SetConstraints(bool v) { constraints_ = v; }

    // The last parameter list received (none at first).
    const std::optional<TParamPacket>& StoredParams() const { return storedParams_; }
    int RecordsSent() const { return recordsSent_; }

    std::vector<std::uint8_t> GetRecords(int count, int& recsOut, int options,
                                         const std::string& commandText, TParamPacket& params,
                                         TVariant& ownerData) override;
    void Execute(const std::string& commandText, TParamPacket& params, TVariant& ownerData) override;
    std::vector<std::uint8_t> ApplyUpdates(const std::vector<std::uint8_t>& delta, int maxErrors,
                                           int& errorCount, TVariant& ownerData) override;
    TParamPacket GetParams(TVariant& ownerData) override;

    // Closes the SQL dataset when this provider opened it and moves it to its first row.
    void Reset();
    // Set by the resolver when a statement affecting several rows rolled the transaction back.
    void ClearTransactionStarted() { transactionStarted_ = false; }

private:
    sql::TCustomSQLDataSet& CheckDataSet() const;
    void TakeCommandText(const std::string& commandText);
    void TakeParams(const TParamPacket& params);
    TParamPacket OutputParams();
    std::vector<std::uint8_t> BuildPacket(int count, int& recsOut, bool metaData);

    sql::TCustomSQLDataSet* dataSet_ = nullptr;
    TProviderOptions options_;
    TUpdateMode updateMode_ = upWhereAll;
    bool resolveToDataSet_ = false;
    bool constraints_ = true;
    std::optional<TParamPacket> storedParams_;

    bool dataSetOpened_ = false;
    int recordsSent_ = 0;
    bool transactionStarted_ = false;
    std::unique_ptr<TDataPacketWriter> packetWriter_;
    std::unique_ptr<TSQLResolver> resolver_;
};

// Packed parameter lists and sql parameter lists.
sql::TParams UnpackParams(const TParamPacket& packet);
TParamPacket PackParams(const sql::TParams& params, bool outputOnly);

}  // namespace tarnwick::provider
