#pragma once
// The steps every import rule is made of: load a file, open the target rows through
// ClientDataSet2 (the whole table, or the rows of one key), copy a record's fields by name,
// apply the change at once, and walk a file's records with ProgressBar1 following them.
// A TTransfer lives for one rule run; it uses the data module and the view it is given (both
// outlive it) and counts what the run did. Every failure is raised; a record the database
// refuses is not a failure: it is counted and kept in rejected/ (see RejectedRecords.h).

#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "import/ImportData.h"
#include "import/ImportTransaction.h"
#include "import/ImportView.h"

namespace tarnwick::import {

struct TRuleCounts {
    int Read = 0;      // records visited
    int Inserted = 0;  // new rows written
    int Updated = 0;   // existing rows written
    int Skipped = 0;   // passed over by the presence check
    int Refused = 0;   // refused by the database, kept in rejected/
    std::string Summary() const;
};

// Field names are compared as the datasets compare them: ASCII letters without case.
struct TFieldNameLess {
    bool operator()(std::string_view a, std::string_view b) const;
};
using TFieldNames = std::set<std::string, TFieldNameLess>;

// A file of 0 bytes holds no packet. Missing files answer false: loading them reports the failure.
bool IsEmptyFile(const std::string& path);

// Removes leading and trailing blanks and control characters.
std::string_view TrimBlanks(std::string_view text);

// Where a rule run stands: the file it reads and the record in hand (0: none yet) of how many.
struct TTransferPlace {
    std::string Path;
    int Record = 0;
    int Total = 0;
};

class TTransfer {
public:
    TTransfer(TImportData& data, IImportView& view)
        : data_(data), view_(view), transaction_(data.SQLConnection1, data.Rejected(), data.CommitPolicy()) {}

    TImportData& Data() { return data_; }
    IImportView& View() { return view_; }
    TRuleCounts& Counts() { return counts_; }
    // The transaction of this rule run's writes; rolled back when the run ends without Commit.
    TImportTransaction& Transaction() { return transaction_; }

    // Loads `path` into `dataSet`; ProgressBar1 gets its record total as maximum and position 0.
    void LoadStep(TClientDataSet& dataSet, const std::string& path);
    // Empties `table` through ClientDataSet2 and leaves it open on the table for inserting.
    void WholeTableOpen(const std::string& table);
    // Opens ClientDataSet2 on `select`; edits its first row when there is one (answers true),
    // otherwise begins a new one.
    bool KeyedOpen(const std::string& select);
    // Every field of ClientDataSet2 but the excluded ones takes the value of the same-named field
    // of the current record of `source`.
    void RecordCopy(const TDataSet& source, const TFieldNames& excluded = {});
    // Posts the pending row and applies it at once. On a refusal the record of `source` (loaded
    // from `path`) is kept with `keyText` and the database's message; answers whether the row
    // was written. The caller counts.
    bool ApplyStep(const TClientDataSet& source, const std::string& path, const std::string& keyText);
    // Runs `body` on every record of `source`, ProgressBar1 at the record in hand.
    void RecordLoop(TDataSet& source, const std::function<void()>& body);

    // The file and record a failure would have stopped at.
    const TTransferPlace& Place() const { return place_; }
    // A file is about to be read outside LoadStep (a bill's files).
    void ReadingFile(const std::string& path) { place_ = {path, 0, 0}; }

    // Counts the outcome of an apply step: inserted, updated or refused.
    void CountApplied(bool written, bool existed) {
        ++(!written ? counts_.Refused : existed ? counts_.Updated : counts_.Inserted);
    }

private:
    TImportData& data_;
    IImportView& view_;
    TRuleCounts counts_;
    TImportTransaction transaction_;
    TTransferPlace place_;
};

}  // namespace tarnwick::import
