#pragma once
// The main window: panels, the five speed buttons, the two text boxes, the work-list grid and
// the two progress bars, wired to the stages of the workflow chain. It shows state and forwards
// clicks; the stages live in `TWorkflow`. Child controls are owned by their Qt parents; the
// window owns the workflow and keeps a reference to the rule table, which outlives it.

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/StageView.h"
#include "app/Workflow.h"

class QFrame;
class QPlainTextEdit;
class QProgressBar;
class QTableWidget;
class QToolButton;

namespace tarnwick::app {

class TFormTarnwick : public QWidget, public IStageView {
public:
    TFormTarnwick(const import::TRuleTable& rules, const std::string& storeDir, const std::string& applicationTitle,
                  QWidget* parent = nullptr);
    ~TFormTarnwick() override;

    TWorkflow& Workflow() { return *workflow_; }

    // Message boxes go through this hook; by default it shows a modal box. Tests and the
    // screenshot tool answer it themselves.
    enum class TBox { Warning, Error };
    std::function<void(TBox box, const QString& caption, const QString& text)> PresentBox;
    // Called by the hand-off stage right before the window closes.
    std::function<void()> BeforeClose;

    // IImportView
    std::vector<std::string> Memo1Lines() const override;
    void AppendMemo2(const std::string& line) override;
    import::IWorkGrid& Grid() override;
    import::IProgressBar& ProgressBar1() override;
    import::IProgressBar& ProgressBar2() override;
    void RepaintGrid() override;
    void RepaintWindow() override;
    // IStageView
    void AppendMemo1(const std::string& line) override;
    void SetCaption(const std::string& caption) override;
    void ShowWarning(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void CloseWindow() override;
    void KeepPainting() override;

    // The controls, named as the stores' documentation names them.
    QFrame* Panel1 = nullptr;
    QFrame* Panel2 = nullptr;
    QFrame* Panel3 = nullptr;
    QFrame* Panel4 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton4 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* DeleteFileButton = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QTableWidget* StringGrid1 = nullptr;
    QProgressBar* ProgressBar1Widget = nullptr;
    QProgressBar* ProgressBar2Widget = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class TGridMirror;
    class TBarAdapter;

    void FormShow();
    void BuildControls();
    void Connect(QToolButton* button, TWorkflow::TStage stage);
    void DefaultPresentBox(TBox box, const QString& caption, const QString& text);

    std::string applicationTitle_;
    std::unique_ptr<TGridMirror> grid_;
    std::unique_ptr<TBarAdapter> bar1_, bar2_;
    std::unique_ptr<TWorkflow> workflow_;
    bool shownOnce_ = false;
    // Memo1 lines shown otherwise than the path they stand for: shown text -> path.
    std::map<std::string, std::string> shownPaths_;
};

}  // namespace tarnwick::app
