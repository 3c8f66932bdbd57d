#pragma once
// The data side of the main window: the connection, the SQL datasets, the provider, the command
// dataset and the three file datasets, created here, owned by this object and all closed at
// creation; plus what the import keeps across one walk (the refused records). The window owns
// one (the unattended run too, without a window); the rules hold references into it.

#include <string>

#include "base/Component.h"
#include "data/clientdataset/ClientDataSet.h"
#include "data/clientdataset/CommandDataSet.h"
#include "data/provider/DataSetProvider.h"
#include "data/sql/SQLConnection.h"
#include "data/sql/SQLDataSet.h"
#include "data/sql/SQLQuery.h"
#include "import/ImportTransaction.h"
#include "import/ImportView.h"
#include "import/RejectedRecords.h"

namespace tarnwick::import {

class TImportData : public TComponent {
public:
    // `storeDir`: the program's folder; refused records are kept in its sub-folder rejected/.
    explicit TImportData(const std::string& storeDir);
    ~TImportData() override;

    sql::TSQLConnection& SQLConnection1;
    sql::TSQLDataSet& SQLDataSet2;
    provider::TDataSetProvider& DataSetProvider2;
    TCommandDataSet& ClientDataSet2;
    TClientDataSet& ClientDataSet1;
    TClientDataSet& CDS_Main;
    TClientDataSet& CDS_Mast;
    sql::TSQLQuery& SQLQuery1;
    sql::TSQLQuery& SQL_Master;  // kept with the window's components; no rule uses it
    sql::TSQLQuery& SQL_Sub;     // likewise

    TRejectedRecords& Rejected() { return rejected_; }

    // How the rules group their writes into transactions (see ImportTransaction.h).
    TCommitPolicy& CommitPolicy() { return commitPolicy_; }
    void SetCommitEachRecord(bool each) { commitPolicy_.EachRecord = each; }
    // A dry run: the walk's writes share one transaction that EndDryRun rolls back; refused
    // records are listed (Rejected().Listed()) instead of kept.
    void StartDryRun();
    void EndDryRun() noexcept;

    // ClientDataSet2's reconcile handler keeps the database's message of the last refused row
    // here; the apply step takes it.
    std::string TakeRefusalMessage();

    // A walk starts counting refusals anew; when it ends, a warning names how many records the
    // database refused and where they are kept. Empty when none was refused.
    void WalkStarted();
    std::string RefusalWarning() const;

    // Where the failure that ended the walk stopped ("in FILE (TABLE), record 3 of 200"); empty
    // when the walk has not failed.
    const std::string& FailurePlace() const { return failurePlace_; }
    void NoteFailurePlace(std::string place) { failurePlace_ = std::move(place); }

private:
    TRejectedRecords rejected_;
    TCommitPolicy commitPolicy_;
    std::string refusal_;
    std::string failurePlace_;
};

// The line naming where a failure stopped: the file name, its table and, once a record was in
// hand, its number of the file's total.
std::string FailurePlaceText(const std::string& fileName, const std::string& table, int record, int total);

// The text of the warning after a walk that had refused records.
std::string RefusalWarningText(int count, const std::string& folder);
// The line added to a failure's message when refusals were kept before it.
std::string KeptRefusalsText(int count, const std::string& folder);

}  // namespace tarnwick::import
