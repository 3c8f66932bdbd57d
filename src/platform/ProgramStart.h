#pragma once
// Starting the sibling programs of the suite. A started program runs detached (own session,
// stdin from /dev/null, never a zombie of ours); the caller keeps no handle of it. The start
// returns once the program says it is ready, has exited, or the ready time-out passed. Of our
// descriptors only the standard three and the ready pipe reach the program: whatever else we
// hold open (the database file, its lock files, the run lock) stays ours.
//
// Ready protocol: the program finds in the environment variable MORVANE_READY_FD the number of
// an inherited pipe descriptor and closes it when it is ready for work. A program that knows
// nothing of it ends the wait when it exits (or at the time-out).

#include <chrono>
#include <string>
#include <vector>

namespace tarnwick::platform {

constexpr std::chrono::milliseconds kReadyTimeout{10000};

// True when `path` names a regular file that we may execute.
bool IsExecutableFile(const std::string& path);

// Starts `program` with `args` and waits for it as above. False when it could not be started;
// `error` (when given) then receives the system's error number, else 0.
bool StartProgram(const std::string& program, const std::vector<std::string>& args,
                  std::chrono::milliseconds readyTimeout = kReadyTimeout, int* error = nullptr);

// Starts a program from one unquoted command line, as the original platform reads it: the text
// up to each blank in turn is tried as the program path (then the whole text); the first one that
// names an executable file wins, and the rest, split at blanks, are its arguments. The show state
// has no meaning here. Answers 33 once started, 2 when no program was found, 0 when the start
// failed.
int WinExec(const std::string& commandLine, int showState,
            std::chrono::milliseconds readyTimeout = kReadyTimeout);

}  // namespace tarnwick::platform
