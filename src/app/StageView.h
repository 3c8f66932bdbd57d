#pragma once
// What the stages of the workflow chain see of the main window, beyond the import side: Memo1's
// appends, the caption, the two boxes, closing, and painting during the download wait. The
// window implements it on its controls, the unattended run in memory.

#include <string>

#include "import/ImportView.h"

namespace tarnwick::app {

class IStageView : public import::IImportView {
public:
    virtual void AppendMemo1(const std::string& line) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    // The warning box: caption "Warning", warning icon, one "OK"; returns once it is answered.
    virtual void ShowWarning(const std::string& text) = 0;
    // A warning box that an unattended run also answers with an exit code of its own: the
    // hand-off program could not be started, or another import is running.
    enum class TNotice { HandOffNotStarted, AnotherImportRunning };
    virtual void ShowNotice(TNotice /*notice*/, const std::string& text) { ShowWarning(text); }
    // The error box under the application title; `text` already carries its final period.
    virtual void ShowError(const std::string& text) = 0;
    // Closes the main window; the program ends once the running handlers have returned.
    virtual void CloseWindow() = 0;
    // Lets the window repaint while a stage waits; takes no input.
    virtual void KeepPainting() = 0;
};

}  // namespace tarnwick::app
