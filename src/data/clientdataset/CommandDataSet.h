#pragma once
// TCommandDataSet: a client dataset that holds no rows of its own but asks a provider, found by
// `ProviderName` among its owner's components, to run `CommandText` (open, ExecuteCommand) and to
// write its change log back (ApplyChanges). It holds the provider's application server from the
// first open or execute until an open dataset is closed; closing drops unapplied changes.

#include "data/clientdataset/AppServer.h"
#include "data/clientdataset/ClientDataSet.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick {

enum TUpdateKind { ukModify, ukInsert, ukDelete };
enum TReconcileAction { raSkip, raAbort, raMerge, raCorrect, raCancel, raRefresh };

// A row the provider could not apply, as reconciliation reports it.
class EReconcileError : public EDatabaseError {
public:
    EReconcileError(std::string message, std::string context, int errorCode, int previousError)
        : EDatabaseError(std::move(message)),
          context_(std::move(context)),
          errorCode_(errorCode),
          previousError_(previousError) {}
    const std::string& Context() const { return context_; }
    int ErrorCode() const { return errorCode_; }
    int PreviousError() const { return previousError_; }

private:
    std::string context_;
    int errorCode_;
    int previousError_;
};

class TCommandDataSet;

// Called once per refused row while ApplyChanges reconciles: the command dataset, the error
// (message: the database's or the provider's text), the kind of change, and the proposed action
// (raSkip, or raAbort when the apply was rolled back). Answers the action to take.
using TReconcileErrorEvent =
    std::function<TReconcileAction(TCommandDataSet& dataSet, EReconcileError& error,
                                   TUpdateKind updateKind, TReconcileAction action)>;

class TCommandDataSet : public TCustomClientDataSet {
public:
    explicit TCommandDataSet(TComponent* owner = nullptr);
    ~TCommandDataSet() override;

    const std::string& ProviderName() const { return providerName_; }
    void SetProviderName(std::string name);

    // The text sent at every open and execute. Setting a different text rebuilds Params from its
    // ":name" markers (values of same-named parameters kept); the same text changes nothing.
    const std::string& CommandText() const { return commandText_; }
    void SetCommandText(const std::string& text);
    std::vector<TPackedParam>& Params() { return params_; }
    const std::vector<TPackedParam>& Params() const { return params_; }

    // Rows asked for per packet; -1 all.
    int PacketRecords() const { return packetRecords_; }
    void SetPacketRecords(int count) { packetRecords_ = count; }

    // Runs CommandText on the provider as a statement without rows; the dataset stays closed.
    void ExecuteCommand();
    // Entries of the change log; 0 while closed.
    int ChangeCount() const;
    // Sends the change log to the provider, reconciles the refused rows and answers their count.
    // maxErrors: refused rows tolerated before the apply stops and rolls back; -1 no limit.
    // A refused change is dropped from the change log once reconciled.
    int ApplyChanges(int maxErrors);

    const TReconcileErrorEvent& OnReconcileError() const { return onReconcileError_; }
    void SetOnReconcileError(TReconcileErrorEvent handler) { onReconcileError_ = std::move(handler); }

    // The application server held (null when none).
    IAppServer* AppServer() const { return appServer_.get(); }
    bool HasAppServer() const { return appServer_ != nullptr; }
    // True while the reconcile callback runs. A close asked for meanwhile (by OnReconcileError)
    // is done once the engine has finished reconciling, before ApplyChanges returns.
    bool InReconcile() const { return inReconcile_; }

    // BCD values are stored with the field's places and at most its digits, so that the delta
    // carries them in the form the field describes.
    void SetFieldData(TField& field, const void* buffer) override;
    // The message of a failure raised by OnReconcileError during the last apply (the row was then
    // treated as aborted); empty when none.
    const std::string& ReconcileHandlerError() const { return reconcileHandlerError_; }

protected:
    std::vector<std::uint8_t> FetchPacket() override;
    bool HasProvider() const override { return !providerName_.empty(); }
    void InternalClose() override;
    bool DeferClose() override;

private:
    // The held application server, looked up and created when none is held.
    IAppServer& ObtainAppServer();
    TParamPacket PackParams() const;
    void UnpackParams(const TParamPacket& packet);
    void Reconcile(const std::vector<std::uint8_t>& delta, const std::vector<std::uint8_t>& errors);
    static std::uint32_t ReconcileCallback(void* clientData, std::int32_t previousError,
                                           std::uint32_t updateKind, std::int32_t responseCode,
                                           std::int32_t errorCode, const char* message,
                                           const char* context, const std::uint8_t* updatedRow,
                                           const std::uint8_t* oldRow, const std::uint8_t* conflictRow,
                                           std::int32_t pathLength, const std::int32_t* path);

    std::string providerName_;
    std::string commandText_;
    std::vector<TPackedParam> params_;
    int packetRecords_ = -1;
    std::shared_ptr<IAppServer> appServer_;
    TReconcileErrorEvent onReconcileError_;
    bool inReconcile_ = false;
    bool closeAfterReconcile_ = false;
    std::string reconcileHandlerError_;
    bool destroying_ = false;
};

}  // namespace tarnwick
