// Stand-in hand-off program, installed in a store folder as Lantrel.exe: appends one line with
// the date-time and its argument to handoff.log beside itself, says it is ready and, when
// LANTREL_HOLD_MS is set, stays that many milliseconds longer before it exits (as a real
// hand-off does while it feeds the registers).

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "platform/ExecutablePath.h"

int main(int argc, char** argv) {
    const std::string argument = argc > 1 ? argv[1] : "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    {
        std::ofstream log(tarnwick::platform::ExecutableDir() + "handoff.log", std::ios::app);
        log << stamp << ' ' << argument << '\n';
        if (!log) {
            std::cerr << "Lantrel: cannot write handoff.log\n";
            return 1;
        }
    }
    if (const char* fd = std::getenv("MORVANE_READY_FD"); fd != nullptr && *fd != '\0') ::close(std::atoi(fd));
    if (const char* hold = std::getenv("LANTREL_HOLD_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(hold)));
    return 0;
}
