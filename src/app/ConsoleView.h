#pragma once
// The stage view of an unattended run: the controls' state kept in memory, progress printed as
// lines to `out`, warnings and failures to `err`. No box waits for anyone. The streams outlive
// the view.

#include <ostream>
#include <string>
#include <vector>

#include "app/StageView.h"
#include "import/WorkGrid.h"

namespace tarnwick::app {

class TConsoleView : public IStageView {
public:
    TConsoleView(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    std::vector<std::string> Memo1Lines() const override { return memo1_; }
    void AppendMemo2(const std::string& line) override { memo2_.push_back(line); }
    import::IWorkGrid& Grid() override { return grid_; }
    import::IProgressBar& ProgressBar1() override { return bar1_; }
    import::IProgressBar& ProgressBar2() override { return bar2_; }
    void RepaintGrid() override {}
    void RepaintWindow() override { ++repaints_; }
    void RowReached(int row, const std::string& table, const std::string& path, import::TRowOutcome outcome) override;
    void RuleFinished(int row, const std::string& table, const std::string& summary) override;

    void AppendMemo1(const std::string& line) override { memo1_.push_back(line); }
    void SetCaption(const std::string& caption) override;
    void ShowWarning(const std::string& text) override;
    void ShowNotice(TNotice notice, const std::string& text) override;
    void ShowError(const std::string& text) override;
    void CloseWindow() override { closed_ = true; }
    void KeepPainting() override {}

    // 0 once the chain reached the hand-off stage, 1 after a failure, 2 after a warning that
    // stopped the chain, 3 when the chain reached the hand-off stage after a warning, 4 when the
    // hand-off program could not be started, 75 when another import was running.
    int ExitCode() const;

    const std::vector<std::string>& Memo2Lines() const { return memo2_; }
    const std::string& Caption() const { return caption_; }
    const std::vector<std::string>& Warnings() const { return warnings_; }
    const std::vector<std::string>& Errors() const { return errors_; }
    bool Closed() const { return closed_; }
    int Repaints() const { return repaints_; }

private:
    // `text` with every listed path and file name that holds a control character escaped.
    std::string WithNamesEscaped(const std::string& text) const;

    std::ostream& out_;
    std::ostream& err_;
    std::vector<std::string> memo1_, memo2_;
    import::TWorkGrid grid_;
    import::TProgressModel bar1_, bar2_;
    std::string caption_{"FormTarnwick"};
    std::vector<std::string> warnings_, errors_;
    bool closed_ = false;
    bool handOffFailed_ = false;
    bool busy_ = false;
    int repaints_ = 0;
};

}  // namespace tarnwick::app
