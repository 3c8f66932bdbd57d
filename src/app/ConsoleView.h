#pragma once
// The stage view of an unattended run: the controls' state kept in memory, progress printed as
// lines to `out`, warnings and failures to `err`. No box waits for anyone. The streams outlive
// the view.

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "app/StageView.h"
#include "import/WorkGrid.h"

namespace tarnwick::app {

class TConsoleView : public IStageView {
public:
    // `live`: `out` is a terminal; while a file imports, one line on it is redrawn in place with
    // the table, the records done of the total, records per second and the time left.
    TConsoleView(std::ostream& out, std::ostream& err, bool live = false)
        : out_(out), err_(err), live_(live), bar1_(*this) {}

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
    // Told once when the run history cannot be written; goes to `err` and changes no exit code.
    void SayHistoryNotWritten(const std::string& text);
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
    // ProgressBar1 of the unattended run: the model, and the live line redrawn as it moves.
    class TLiveBar : public import::IProgressBar {
    public:
        explicit TLiveBar(TConsoleView& view) : view_(view) {}
        int Max() const override { return model_.Max(); }
        void SetMax(int max) override { model_.SetMax(max); }
        int Position() const override { return model_.Position(); }
        void SetPosition(int position) override;

    private:
        TConsoleView& view_;
        import::TProgressModel model_;
    };

    void DrawLive(int position, int max);
    // Takes the live line away before anything else is printed.
    void ClearLive();

    std::ostream& out_;
    std::ostream& err_;
    bool live_ = false;
    bool liveShown_ = false;
    std::string liveTable_;
    std::chrono::steady_clock::time_point rowStarted_, lastDrawn_;
    std::vector<std::string> memo1_, memo2_;
    import::TWorkGrid grid_;
    TLiveBar bar1_;
    import::TProgressModel bar2_;
    std::string caption_{"FormTarnwick"};
    std::vector<std::string> warnings_, errors_;
    bool closed_ = false;
    bool handOffFailed_ = false;
    bool busy_ = false;
    int repaints_ = 0;
};

// The end-of-run table: a line per rule row, a total line and the records per second overall.
void WriteSummary(std::ostream& out, const std::vector<import::TRowResult>& rows);

}  // namespace tarnwick::app
