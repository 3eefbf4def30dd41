#pragma once
// --notify: hands a command's JSON summary to an operator's own command (a mail, a chat
// message through curl, ...). Its failure is told on standard error and never changes the
// outcome of the command that notifies.
#include <chrono>
#include <string>

// Runs `command` (runShellCommand) with `input` on its standard input and tells on standard
// error, as "downloader-cli NAME: --notify: ...", when it could not start, failed or was ended
// at the limit (without repeating the command, which may carry a token). Returns true when it
// exited with status 0.
bool notifyAndTell(const std::string& name, const std::string& command, const std::string& input,
                   std::chrono::seconds limit);
