#pragma once
// A store for the import tests: a fresh embedded database with the store schema, a download
// folder, the data module and the store's rule table, and the import side of the window in
// memory. Files are put into download/ and listed in Memo1 in the order they are put; Walk builds
// the work list and walks it as the import stage does.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SamplePackets.h"
#include "data/sql/SQLQuery.h"
#include "import/ImportData.h"
#include "import/TableRules.h"
#include "import/WorkGrid.h"
#include "import/WorkList.h"
#include "sqlfb/TestStore.h"

namespace tarnwick::import::testing {

// The lines of a text file, such as rejected/rejected.log.
inline std::vector<std::string> LogLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class TTestView : public IImportView {
public:
    std::vector<std::string> Memo1Lines() const override { return memo1; }
    void AppendMemo2(const std::string& line) override { memo2.push_back(line); }
    IWorkGrid& Grid() override { return grid; }
    IProgressBar& ProgressBar1() override { return bar1; }
    IProgressBar& ProgressBar2() override { return bar2; }
    void RepaintGrid() override {}
    void RepaintWindow() override {}
    void RuleFinished(int row, const std::string&, const std::string& summary) override { summaries[row] = summary; }

    std::vector<std::string> memo1, memo2;
    TWorkGrid grid;
    TProgressModel bar1, bar2;
    std::map<int, std::string> summaries;
};

class ImportStore : public ::testing::Test {
protected:
    void SetUp() override {
        download_ = store_.Folder() + "/download/";
        std::filesystem::create_directories(download_);
        data_ = std::make_unique<TImportData>(store_.Folder());
        rules_ = MakeStoreRules(*data_);
    }

    // Writes `bytes` as download/<name> and lists it in Memo1; answers the path.
    std::string PutBytes(const std::string& name, std::string_view bytes) {
        const std::string path = download_ + name;
        sampledata::WriteFile(path, bytes);
        view_.memo1.push_back(path);
        return path;
    }
    // A packet of `rows` with the fields of the store table `table` (less `omit`).
    std::string Put(const std::string& name, const std::string& table, const std::vector<sampledata::TRow>& rows,
                    const std::vector<std::string>& omit = {}) {
        return PutBytes(name, sampledata::PacketXml(sampledata::StoreTable(table), rows, omit));
    }

    void Walk() {
        BuildWorkList(view_);
        data_->WalkStarted();
        WalkWorkList(view_, rules_);
    }

    // The rows of a select, each as its column texts joined by "|".
    std::vector<std::string> Rows(const std::string& select) {
        sql::TSQLQuery query;
        query.SetSQLConnection(&data_->SQLConnection1);
        query.AddSQL(select);
        query.Open();
        std::vector<std::string> rows;
        for (; !query.AtEnd(); query.MoveNext()) {
            std::string row;
            for (int i = 0; i < query.FieldTotal(); ++i) row += (i ? "|" : "") + query.FieldAt(i).StringValue();
            rows.push_back(row);
        }
        query.Close();
        return rows;
    }

    void Sql(std::string_view script) { store_.RunSql(script); }

    std::string RejectedFolder() const { return store_.Folder() + "/rejected/"; }

    tarnwick::testing::TestStore store_;
    std::string download_;
    std::unique_ptr<TImportData> data_;
    TRuleTable rules_;
    TTestView view_;
};

}  // namespace tarnwick::import::testing
