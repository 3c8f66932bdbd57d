// Stand-in download program, installed in a store folder as Scrivel.exe. With the argument AD it
// takes the window lock of class "TFormScrivel", says it is ready, moves every file of the
// store's outbox/ into download/ and, when SCRIVEL_DELAY_MS is set, keeps its window that many
// milliseconds longer before it exits (the lock goes with the process).

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include "platform/ExecutablePath.h"
#include "platform/WindowLock.h"

namespace fs = std::filesystem;

namespace {

void SignalReady() {
    const char* fd = std::getenv("MORVANE_READY_FD");
    if (fd != nullptr && *fd != '\0') ::close(std::atoi(fd));
}

// A file appears in download/ only whole: it is written under a name the list stage never takes
// and then renamed in one step.
bool MoveIntoDownload(const fs::path& source, const fs::path& download) {
    const fs::path target = download / source.filename();
    const fs::path partial = download / (source.filename().string() + ".part~");
    std::error_code error;
    fs::copy_file(source, partial, fs::copy_options::overwrite_existing, error);
    if (error) return false;
    fs::rename(partial, target, error);
    if (error) {
        fs::remove(partial, error);
        return false;
    }
    fs::remove(source, error);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "AD") != 0) {
        std::cerr << "usage: Scrivel.exe AD\n";
        return 64;
    }
    tarnwick::platform::TWindowClassLock window("TFormScrivel");
    SignalReady();
    if (!window.Held()) return 0;  // another download is already running

    const fs::path store = tarnwick::platform::ExecutableDir();
    const fs::path outbox = store / "outbox";
    const fs::path download = store / "download";
    std::error_code error;
    fs::create_directories(download, error);
    int moved = 0;
    for (const auto& entry : fs::directory_iterator(outbox, error))
        if (entry.is_regular_file() && MoveIntoDownload(entry.path(), download)) ++moved;
    std::cout << "Scrivel: " << moved << " files downloaded" << std::endl;

    if (const char* delay = std::getenv("SCRIVEL_DELAY_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(delay)));
    return 0;
}
