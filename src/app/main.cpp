// Program entry: without an argument the main window and its message loop; --run and --list
// the same chain unattended, without a window; --help the usage text.

#include <iostream>
#include <string>
#include <vector>

#include "app/AppText.h"
#include "app/CommandLine.h"
#include "import/RuleTable.h"
#include "platform/ExecutablePath.h"

#ifdef TARNWICK_WITH_WINDOW
#include <QApplication>

#include "app/FormTarnwick.h"
#endif

int main(int argc, char** argv) {
    using namespace tarnwick;
    const app::TLaunchMode mode = app::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (mode) {
        case app::TLaunchMode::Help:
            std::cout << app::UsageText();
            return 0;
        case app::TLaunchMode::Invalid:
            std::cerr << app::UsageText();
            return app::kExitUsage;
        case app::TLaunchMode::Run:
        case app::TLaunchMode::List: {
            const import::TRuleTable rules = import::MakeStoreRules();
            return app::RunUnattended(mode, rules, platform::ExecutableDir(), std::cout, std::cerr);
        }
        case app::TLaunchMode::Window:
            break;
    }
#ifdef TARNWICK_WITH_WINDOW
    QApplication application(argc, argv);
    const import::TRuleTable rules = import::MakeStoreRules();
    app::TFormTarnwick form(rules, platform::ExecutableDir(), app::ApplicationTitle(platform::ExecutablePath()));
    form.show();
    return application.exec();
#else
    std::cerr << "tarnwick: built without its window; use --run or --list\n";
    return app::kExitUsage;
#endif
}
