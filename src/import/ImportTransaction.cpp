#include "import/ImportTransaction.h"

namespace tarnwick::import {

void TImportTransaction::Begin() {
    if (policy_.DryRun) {
        if (!connection_.TransactionActive()) connection_.BeginTransaction(connection_.DefaultTransactionDesc());
        return;
    }
    if (policy_.EachRecord || open_) return;
    connection_.BeginTransaction(connection_.DefaultTransactionDesc());
    open_ = true;
    units_ = 0;
    started_ = std::chrono::steady_clock::now();
}

void TImportTransaction::UnitDone() {
    if (policy_.EachRecord || policy_.DryRun) {
        rejected_.Commit();
        return;
    }
    if (!open_) return;
    ++units_;
    if (units_ < policy_.BatchRecords && std::chrono::steady_clock::now() - started_ < policy_.BatchTime) return;
    Commit();
    Begin();
}

void TImportTransaction::Commit() {
    if (open_ && !policy_.DryRun) {
        // Cleared first: a commit that fails leaves nothing this object could still end.
        open_ = false;
        try {
            connection_.CommitTransaction(connection_.DefaultTransactionDesc());
        } catch (...) {
            if (connection_.TransactionActive()) {
                try {
                    connection_.RollbackTransaction(connection_.DefaultTransactionDesc());
                } catch (...) {
                    // The commit's failure is the one to report.
                }
            }
            rejected_.Discard();
            throw;
        }
    }
    rejected_.Commit();
}

void TImportTransaction::Rollback() noexcept {
    if (policy_.DryRun) {
        rejected_.Discard();
        return;
    }
    if (!open_) {
        if (policy_.EachRecord) {
            try {
                rejected_.Commit();
            } catch (...) {
                // Writing rejected.log failed; the failure that ended the run is the one to show.
            }
        }
        return;
    }
    open_ = false;
    try {
        if (connection_.TransactionActive()) connection_.RollbackTransaction(connection_.DefaultTransactionDesc());
    } catch (...) {
        // A rollback that fails leaves the transaction to the database, which never commits it.
    }
    rejected_.Discard();
}

}  // namespace tarnwick::import
