// Program entry: without an argument the main window and its message loop; --run and --list
// the same chain unattended, without a window; --help the usage text. The import's data side
// (connection, datasets) and the rule table live here for as long as the window or the run.

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

namespace {

tarnwick::app::TWalkHooks HooksFor(tarnwick::import::TImportData& data) {
    return {[&data] { data.WalkStarted(); }, [&data] { return data.RefusalWarning(); }};
}

}  // namespace

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
        case app::TLaunchMode::List: {
            const std::string storeDir = platform::ExecutableDir();
            import::TImportData data(storeDir);
            data.SetCommitEachRecord(commitEachRecord);
            const import::TRuleTable rules = import::MakeStoreRules(data);
            return app::RunUnattended(mode, rules, HooksFor(data), storeDir, std::cout, std::cerr);
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
    form.Workflow().SetWalkHooks(HooksFor(data));
    form.show();
    const int code = application.exec();
    sql::TBusyCursor::SetHook(nullptr);
    return code;
#else
    std::cerr << "tarnwick: built without its window; use --run or --list\n";
    return app::kExitUsage;
#endif
}
