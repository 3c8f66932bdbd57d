// Program entry: without an argument the main window and its message loop; --run and --list
// the same chain unattended, without a window; --help the usage text. The import's data side
// (connection, datasets) and the rule table live here for as long as the window or the run.

#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/AppText.h"
#include "app/CommandLine.h"
#include "import/ImportData.h"
#include "import/TableRules.h"
#include "platform/ExecutablePath.h"

#ifdef TARNWICK_WITH_WINDOW
#include <QApplication>

#include "app/FormTarnwick.h"
#include "data/sql/SQLConnection.h"
#endif

int main(int argc, char** argv) {
    using namespace tarnwick;
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool commitEachRecord = app::TakeOption(args, app::kCommitEachRecord);
    app::TLaunchMode mode = app::ParseCommandLine(args);
    if (commitEachRecord && mode != app::TLaunchMode::Run && mode != app::TLaunchMode::List)
        mode = app::TLaunchMode::Invalid;
    switch (mode) {
        case app::TLaunchMode::Help:
            std::cout << app::UsageText();
            return 0;
        case app::TLaunchMode::Invalid:
            std::cerr << app::UsageText();
            return app::kExitUsage;
        case app::TLaunchMode::Run:
        case app::TLaunchMode::List:
        case app::TLaunchMode::Check: {
            const std::string storeDir = platform::ExecutableDir();
            import::TImportData data(storeDir);
            data.SetCommitEachRecord(commitEachRecord);
            if (mode == app::TLaunchMode::Check) data.StartDryRun();
            const import::TRuleTable rules = import::MakeStoreRules(data);
            app::TUnattendedOptions options;
            options.LiveProgress = ::isatty(STDOUT_FILENO) == 1;
            options.WouldRefuse = [&data] { return app::WouldRefuseLines(data.Rejected()); };
            const int code = app::RunUnattended(mode, rules, app::WalkHooksFor(data), storeDir, std::cout, std::cerr, options);
            if (mode == app::TLaunchMode::Check) data.EndDryRun();
            return code;
        }
        case app::TLaunchMode::Window:
            break;
    }
#ifdef TARNWICK_WITH_WINDOW
    QApplication application(argc, argv);
    const std::string storeDir = platform::ExecutableDir();
    import::TImportData data(storeDir);
    const import::TRuleTable rules = import::MakeStoreRules(data);
    sql::TBusyCursor::SetHook([](bool busy) {
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    });
    app::TFormTarnwick form(rules, storeDir, app::ApplicationTitle(platform::ExecutablePath()));
    form.Workflow().SetWalkHooks(app::WalkHooksFor(data));
    app::TRunHistory history(storeDir);
    history.SetOnNotWritten([&form](const std::string& text) {
        std::cerr << text << std::endl;
        form.ShowWarning(text);
    });
    form.Workflow().SetHistory(&history, "window");
    form.show();
    const int code = application.exec();
    sql::TBusyCursor::SetHook(nullptr);
    return code;
#else
    std::cerr << "tarnwick: built without its window; use --run, --list or --check\n";
    return app::kExitUsage;
#endif
}
