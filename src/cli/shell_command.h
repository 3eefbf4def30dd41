#pragma once
// An operator's own command (--notify, the install hooks), run through /bin/sh -c and bounded in
// time, so that no command of theirs can hang ours.
#include <chrono>
#include <string>
#include <vector>

// How the command ended.
struct ShellOutcome {
  bool started = false;
  bool killed = false;  // still running at the limit: its process group was ended
  int exitStatus = -1;  // when it exited by itself; 128 + signal when a signal ended it
  std::string problem;  // why it did not start, or the system's reason
};

// Runs `command` through /bin/sh -c in a process group of its own, with `input` on its
// standard input and its standard output sent to standard error (standard output carries the
// caller's JSON). Waits at most `limit` for it to end; a command still running then is ended
// (SIGTERM to its process group, SIGKILL a second later), so this never blocks for longer.
// `environment` ("NAME=value") is added to the program's own, replacing variables of the same
// name.
ShellOutcome runShellCommand(const std::string& command, const std::string& input,
                             std::chrono::seconds limit,
                             const std::vector<std::string>& environment = {});
// Why the command failed ("exit status 3", "still running after 60 s; ended", "cannot run
// /bin/sh: ..."); empty when it exited with status 0.
std::string shellProblem(const ShellOutcome& outcome, std::chrono::seconds limit);
