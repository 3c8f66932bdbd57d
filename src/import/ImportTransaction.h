#pragma once
// How the import groups its writes into database transactions. By default a file's writes run
// inside transactions the import opens on SQLConnection1 (every apply then runs inside them and
// leaves them open): a full-replace file is one transaction, committed after its last record; a
// keyed file or a bill file commits after a batch of whole records or bills, and at its end. A
// batch ends after `BatchRecords` units or once its transaction has been open `BatchTime`,
// whichever comes first, so that the row locks it holds are never held long: the registers update
// the same rows on their own connections and wait for them.
// With `EachRecord` every apply commits on its own and the import opens no transaction.
// With `DryRun` the whole run is one transaction that is never committed: the first Begin opens it
// if none is open, nothing here commits or rolls it back (whoever set DryRun rolls it back at the
// end of the run), and refusals are only listed (TRejectedRecords::SetListOnly).
// Refused records are kept (rejected/) when the transaction they were refused in commits, and
// forgotten when it is rolled back.
// A TImportTransaction lives for one rule run; the connection and the refusals outlive it.

#include <chrono>

#include "data/sql/SQLConnection.h"
#include "import/RejectedRecords.h"

namespace tarnwick::import {

// Measured with forced writes on a 20,000-record PRODUCT file: a commit rewrites the pages the
// batch dirtied, so short batches cost (against one transaction per file, CPU time: 250 ms about
// 12% more, 400 ms 5-15%, 500 ms about 5%), while a register waiting for a row the import holds
// waited at most 0.63 s, 0.82 s and 1.1 s. 400 ms keeps that wait under a second. The record
// count only caps a batch on a very fast store.
struct TCommitPolicy {
    bool EachRecord = false;
    bool DryRun = false;
    int BatchRecords = 20000;
    std::chrono::milliseconds BatchTime{400};
};

class TImportTransaction {
public:
    TImportTransaction(sql::TSQLConnection& connection, TRejectedRecords& rejected, const TCommitPolicy& policy)
        : connection_(connection), rejected_(rejected), policy_(policy) {}
    // Rolls back whatever is still open: only a failure leaves a transaction behind.
    ~TImportTransaction() { Rollback(); }
    TImportTransaction(const TImportTransaction&) = delete;
    TImportTransaction& operator=(const TImportTransaction&) = delete;

    // Opens the transaction of the writes that follow (nothing per record, or when one is open).
    void Begin();
    // One unit (a keyed record, a bill) is complete: ends the batch when it is full or old enough.
    void UnitDone();
    // Commits the open transaction and keeps its refusals.
    void Commit();
    // Rolls the open transaction back and forgets its refusals; never raises. Per record, the
    // refusals noted so far are final and are kept.
    void Rollback() noexcept;

    bool Open() const { return open_; }

private:
    sql::TSQLConnection& connection_;
    TRejectedRecords& rejected_;
    const TCommitPolicy& policy_;
    bool open_ = false;
    int units_ = 0;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace tarnwick::import
