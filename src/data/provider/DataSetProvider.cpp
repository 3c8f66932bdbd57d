#include "data/provider/DataSetProvider.h"

#include "base/DatabaseError.h"
#include "data/provider/DataPacketWriter.h"
#include "data/provider/LocalAppServer.h"
#include "data/provider/SQLResolver.h"

namespace tarnwick::provider {

// ---------------------------------------------------------------------------------------------
// Parameter lists across the application server

sql::TParams UnpackParams(const TParamPacket& packet) {
    sql::TParams params;
    for (const TPackedParam& item : packet.Items) {
        sql::TParam& param = params.Add(item.Name, static_cast<sql::TParamType>(item.ParamType));
        param.SetValue(item.Value, item.DataType);
    }
    return params;
}

TParamPacket PackParams(const sql::TParams& params, bool outputOnly) {
    TParamPacket packet = TParamPacket::MakeNull();
    for (int i = 0; i < params.Count(); ++i) {
        const sql::TParam& param = params[i];
        const sql::TParamType type = param.ParamType();
        if (outputOnly && type != sql::ptOutput && type != sql::ptInputOutput) continue;
        packet.State = TParamPacket::List;
        packet.Items.push_back(TPackedParam{param.Name(), param.DataType(), static_cast<int>(type), param.Value()});
    }
    return packet;
}

// ---------------------------------------------------------------------------------------------
// TCustomProvider

TCustomProvider::TCustomProvider(TComponent* owner) : TComponent(owner) {}

TCustomProvider::~TCustomProvider() { *aliveToken_ = false; }

std::shared_ptr<IAppServer> TCustomProvider::CreateAppServer() {
    return std::make_shared<TLocalAppServer>(*this, aliveToken_);
}

TParamPacket TCustomProvider::GetParams(TVariant&) { return TParamPacket::MakeNull(); }

std::vector<std::uint8_t> TCustomProvider::RowRequest(const std::vector<std::uint8_t>&, int, TVariant&) {
    return {};
}

TVariant TCustomProvider::DataRequest(const TVariant&) { return TVariant::Null(); }

// ---------------------------------------------------------------------------------------------
// TDataSetProvider

TDataSetProvider::TDataSetProvider(TComponent* owner) : TBaseProvider(owner) {}

TDataSetProvider::~TDataSetProvider() = default;

TComponent* TDataSetProvider::ProviderDataSet() const { return dataSet_; }

void TDataSetProvider::SetResolveToDataSet(bool v) {
    if (v == resolveToDataSet_) return;
    resolveToDataSet_ = v;
    resolver_.reset();
}

sql::TCustomSQLDataSet& TDataSetProvider::CheckDataSet() const {
    if (!dataSet_) DatabaseError("Missing DataSet property");
    return *dataSet_;
}

void TDataSetProvider::TakeCommandText(const std::string& commandText) {
    if (commandText.empty()) return;
    if (!options_.Contains(poAllowCommandText)) DatabaseError("CommandText changes are not allowed");
    CheckDataSet().PSSetCommandText(commandText);
}

void TDataSetProvider::TakeParams(const TParamPacket& params) {
    if (params.IsUnassigned()) return;
    if (storedParams_ && *storedParams_ == params) return;
    storedParams_ = params;
    CheckDataSet().PSSetParams(UnpackParams(params));
}

TParamPacket TDataSetProvider::OutputParams() {
    if (!dataSet_) return TParamPacket::MakeNull();
    return PackParams(dataSet_->PSGetParams(), true);
}

void TDataSetProvider::Reset() {
    sql::TCustomSQLDataSet& dataSet = CheckDataSet();
    if (dataSetOpened_) {
        if (packetWriter_) packetWriter_->Reset();
        dataSetOpened_ = false;
        dataSet.Close();
    }
    dataSet.PSReset();
    if (dataSet.Active()) dataSet.MoveFirst();
    recordsSent_ = 0;
}

std::vector<std::uint8_t> TDataSetProvider::GetRecords(int count, int& recsOut, int options,
                                                       const std::string& commandText, TParamPacket& params,
                                                       TVariant&) {
    recsOut = 0;
    TakeCommandText(commandText);
    TakeParams(params);
    if (options & kGetRecordsReset) {
        Reset();
        if (count == 0) {
            params = OutputParams();
            return {};
        }
    }
    sql::TCustomSQLDataSet& dataSet = CheckDataSet();
    std::vector<std::uint8_t> packet;
    try {
        if (!dataSet.Active()) {
            dataSet.Open();
            dataSetOpened_ = true;
        }
        if (count == 0 || (options & kGetRecordsMetaData)) recordsSent_ = 0;
        dataSet.FinishEdit();
        packet = BuildPacket(count, recsOut, (options & kGetRecordsMetaData) != 0);
        recordsSent_ += recsOut;
        if (recsOut != count) Reset();
        else if (count != 0 && dataSet.Active()) dataSet.MoveNext();
    } catch (...) {
        try {
            Reset();
        } catch (...) {
            // The failure of the fetch is the one to report.
        }
        throw;
    }
    params = OutputParams();
    return packet;
}

std::vector<std::uint8_t> TDataSetProvider::BuildPacket(int count, int& recsOut, bool) {
    if (!packetWriter_) packetWriter_ = std::make_unique<TDataPacketWriter>();
    return packetWriter_->WritePacket(CheckDataSet(), options_, count, recsOut);
}

void TDataSetProvider::Execute(const std::string& commandText, TParamPacket& params, TVariant&) {
    TakeCommandText(commandText);
    TakeParams(params);
    CheckDataSet().PSExecute();
    params = OutputParams();
}

TParamPacket TDataSetProvider::GetParams(TVariant&) { return OutputParams(); }

std::vector<std::uint8_t> TDataSetProvider::ApplyUpdates(const std::vector<std::uint8_t>& delta, int maxErrors,
                                                         int& errorCount, TVariant&) {
    sql::TCustomSQLDataSet& dataSet = CheckDataSet();
    errorCount = 0;
    transactionStarted_ = !dataSet.PSInTransaction();
    if (transactionStarted_) dataSet.PSStartTransaction();
    std::vector<std::uint8_t> errors;
    try {
        if (!resolver_) resolver_ = std::make_unique<TSQLResolver>(*this);
        resolver_->UpdateTree().SetSource(&dataSet);
        if (options_.Contains(poReadOnly)) DatabaseError("Cannot apply updates to a ReadOnly provider");
        // A failed row ends everything only when this apply owns the transaction and tolerates
        // no failure; otherwise the rows before it, the caller's among them, must stay.
        const bool guardRows = dataSet.PSInTransaction() && (!transactionStarted_ || maxErrors != 0);
        errors = resolver_->ApplyUpdates(delta, maxErrors, errorCount, guardRows);
    } catch (...) {
        if (resolver_) resolver_->UpdateTree().SetSource(nullptr);
        // A failure outside single rows leaves the apply's work unknown: none of it is kept.
        if (transactionStarted_) {
            transactionStarted_ = false;
            try {
                dataSet.PSEndTransaction(false);
            } catch (...) {
                // The apply's own failure is the one to report.
            }
        }
        throw;
    }
    resolver_->UpdateTree().SetSource(nullptr);
    if (transactionStarted_) {
        transactionStarted_ = false;
        dataSet.PSEndTransaction(errorCount <= maxErrors || maxErrors == -1);
    }
    return errors;
}

}  // namespace tarnwick::provider
