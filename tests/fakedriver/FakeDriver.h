#pragma once
// A scripted driver library for the result codes a real server will not give on demand.
// The test sets a script and reads back the calls the connection made:
//   script: "name=value;name=value" with the names
//     entry       result of the entry point (default 0)
//     connect     result of Connect; begin, commit, rollback: results of those calls
//     message     the driver connection's error message (empty: none)
//     transactions  metadata option 5 (default 1); multiple: option 15 (default 0)
//     quote       metadata option 11 (default "\""; "none" answers no character)
//     maxstmts    connection option 14 (default 0)
//   log: one line per call, "SetOption <id>=<value>" (text options with their text),
//        "Connect <database> <user>" (never the password), "Begin <isolation>", "Commit", "Rollback",
//        "MetaSetOption <id>=<text>", "Disconnect".

extern "C" {
void fakeDriverSetScript(const char* script);
const char* fakeDriverLog();
}
