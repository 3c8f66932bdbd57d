#include "import/ImportData.h"

namespace tarnwick::import {

namespace {

template <class T>
T& Named(TComponent& owner, const char* name) {
    T& component = TComponent::Create<T>(owner);
    component.SetName(name);
    return component;
}

sql::TSQLConnection& MakeConnection(TComponent& owner) {
    auto& connection = Named<sql::TSQLConnection>(owner, "SQLConnection1");
    connection.SetConnectionName("Morvane");
    connection.SetDriverName("Firebird");
    connection.SetLoginPrompt(false);
    connection.SetLoadParamsOnConnect(true);
    return connection;
}

template <class T>
T& SqlDataSet(TComponent& owner, const char* name, sql::TSQLConnection& connection) {
    T& dataSet = Named<T>(owner, name);
    dataSet.SetSQLConnection(&connection);
    dataSet.SetMaxBlobSize(-1);
    return dataSet;
}

provider::TDataSetProvider& MakeProvider(TComponent& owner, sql::TSQLDataSet& dataSet) {
    auto& provider = Named<provider::TDataSetProvider>(owner, "DataSetProvider2");
    provider.SetDataSet(&dataSet);
    provider.SetOptions({provider::poAllowCommandText});
    return provider;
}

TCommandDataSet& MakeCommandDataSet(TComponent& owner) {
    auto& dataSet = Named<TCommandDataSet>(owner, "ClientDataSet2");
    dataSet.SetProviderName("DataSetProvider2");
    return dataSet;
}

}  // namespace

TImportData::TImportData(const std::string& storeDir)
    : SQLConnection1(MakeConnection(*this)),
      SQLDataSet2(SqlDataSet<sql::TSQLDataSet>(*this, "SQLDataSet2", SQLConnection1)),
      DataSetProvider2(MakeProvider(*this, SQLDataSet2)),
      ClientDataSet2(MakeCommandDataSet(*this)),
      ClientDataSet1(Named<TClientDataSet>(*this, "ClientDataSet1")),
      CDS_Main(Named<TClientDataSet>(*this, "CDS_Main")),
      CDS_Mast(Named<TClientDataSet>(*this, "CDS_Mast")),
      SQLQuery1(SqlDataSet<sql::TSQLQuery>(*this, "SQLQuery1", SQLConnection1)),
      SQL_Master(SqlDataSet<sql::TSQLQuery>(*this, "SQL_Master", SQLConnection1)),
      SQL_Sub(SqlDataSet<sql::TSQLQuery>(*this, "SQL_Sub", SQLConnection1)),
      rejected_(storeDir + (storeDir.empty() || storeDir.back() == '/' ? "" : "/") + "rejected/") {
    // The refused row's message is all the import needs; the change is dropped either way.
    ClientDataSet2.SetOnReconcileError(
        [this](TCommandDataSet&, EReconcileError& error, TUpdateKind, TReconcileAction) {
            refusal_ = error.Message();
            return raCancel;
        });
}

TImportData::~TImportData() {
    // Datasets close before the connection they use goes away.
    ClientDataSet2.Close();
    SQLQuery1.Close();
    // Nothing the import left open may be committed by the disconnect.
    if (SQLConnection1.TransactionActive()) {
        try {
            SQLConnection1.RollbackTransaction(SQLConnection1.DefaultTransactionDesc());
        } catch (...) {
            // The database rolls back what an ended attachment left open.
        }
    }
}

void TImportData::StartDryRun() {
    commitPolicy_.DryRun = true;
    commitPolicy_.EachRecord = false;
    rejected_.SetListOnly(true);
}

void TImportData::EndDryRun() noexcept {
    try {
        ClientDataSet2.Close();
        SQLQuery1.Close();
        if (SQLConnection1.TransactionActive())
            SQLConnection1.RollbackTransaction(SQLConnection1.DefaultTransactionDesc());
    } catch (...) {
        // The database never commits a transaction its attachment did not commit.
    }
}

std::string TImportData::TakeRefusalMessage() {
    std::string message = std::move(refusal_);
    refusal_.clear();
    return message;
}

void TImportData::WalkStarted() {
    rejected_.ResetCount();
    failurePlace_.clear();
}

std::string FailurePlaceText(const std::string& fileName, const std::string& table, int record, int total) {
    std::string text = "in " + fileName + " (" + table + ")";
    if (record > 0) text += ", record " + std::to_string(record) + " of " + std::to_string(total);
    return text;
}

std::string TImportData::RefusalWarning() const {
    if (rejected_.Count() == 0) return {};
    return RefusalWarningText(rejected_.Count(), rejected_.Folder());
}

std::string KeptRefusalsText(int count, const std::string& folder) {
    return std::to_string(count) + (count == 1 ? " record" : " records") +
           " refused by the database before this failure " + (count == 1 ? "is" : "are") + " kept in " + folder +
           " (one data packet per file, reasons in rejected.log)";
}

std::string RefusalWarningText(int count, const std::string& folder) {
    return std::to_string(count) + (count == 1 ? " record was" : " records were") +
           " refused by the database and not imported. They are kept in " + folder +
           " (one data packet per file, reasons in rejected.log).";
}

}  // namespace tarnwick::import
