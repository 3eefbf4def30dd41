#include "notify_command.h"

#include <cstdio>

#include "shell_command.h"

bool notifyAndTell(const std::string& name, const std::string& command, const std::string& input,
                   std::chrono::seconds limit) {
  const std::string problem = shellProblem(runShellCommand(command, input, limit), limit);
  if (problem.empty()) return true;
  // The command itself is not repeated: it may carry a token (a webhook's address).
  std::fprintf(stderr, "downloader-cli %s: --notify: %s\n", name.c_str(), problem.c_str());
  return false;
}
