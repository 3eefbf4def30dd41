#pragma once
// --notify: hands a command's JSON summary to an operator's own command (a mail, a chat
// message through curl, ...). Its failure is told on standard error and never changes the
// outcome of the command that notifies.
#include <chrono>
#include <string>

// How the notify command ended.
struct NotifyOutcome {
  bool started = false;
  bool killed = false;  // still running at the limit: its process group was ended
  int exitStatus = -1;  // when it exited by itself; 128 + signal when a signal ended it
  std::string problem;  // why it did not start, or the system's reason
};

// Runs `command` through /bin/sh -c in a process group of its own, with `input` on its
// standard input and its standard output sent to standard error (standard output carries the
// caller's JSON). Waits at most `limit` for it to end; a command still running then is ended
// (SIGTERM to its process group, SIGKILL a second later), so this never blocks for longer.
NotifyOutcome runNotifyCommand(const std::string& command, const std::string& input,
                               std::chrono::seconds limit);

// Runs it and tells on standard error, as "downloader-cli NAME: --notify: ...", when it could
// not start, failed or was ended at the limit (without repeating the command, which may carry
// a token). Returns true when it exited with status 0.
bool notifyAndTell(const std::string& name, const std::string& command, const std::string& input,
                   std::chrono::seconds limit);
