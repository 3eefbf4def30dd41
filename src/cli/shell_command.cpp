#include "shell_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>

#include "platform/unique_fd.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kKillGrace{1};
constexpr std::chrono::milliseconds kWaitStep{20};

// Writes `input` to the pipe until done, the reader left, or the deadline.
void feed(int fd, const std::string& input, Clock::time_point deadline) {
  size_t written = 0;
  while (written < input.size() && Clock::now() < deadline) {
    pollfd ready{fd, POLLOUT, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (::poll(&ready, 1, static_cast<int>(std::max<int64_t>(left.count(), 1))) <= 0) continue;
    const ssize_t n = ::write(fd, input.data() + written, input.size() - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
    } else if (errno != EAGAIN && errno != EINTR) {
      return;  // EPIPE: the command does not read its input, which is its own affair
    }
  }
}

// Waits for `child` until the deadline; true when it ended (status in `status`).
bool reap(pid_t child, int& status, Clock::time_point deadline) {
  for (;;) {
    const pid_t ended = ::waitpid(child, &status, WNOHANG);
    if (ended == child) return true;
    if (ended < 0 && errno != EINTR) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kWaitStep);
  }
}

// The program's environment with `extra` ("NAME=value") in place of variables of the same name.
std::vector<char*> withVariables(const std::vector<std::string>& extra) {
  std::vector<char*> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string_view text(*variable);
    const std::string_view name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const std::string& mine : extra) {
      replaced = replaced || (mine.size() > name.size() &&
                              mine.compare(0, name.size(), name) == 0 && mine[name.size()] == '=');
    }
    if (!replaced) variables.push_back(*variable);
  }
  for (const std::string& mine : extra) variables.push_back(const_cast<char*>(mine.c_str()));
  variables.push_back(nullptr);
  return variables;
}

}  // namespace

ShellOutcome runShellCommand(const std::string& command, const std::string& input,
                             std::chrono::seconds limit,
                             const std::vector<std::string>& environment) {
  ShellOutcome outcome;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    outcome.problem = std::strerror(errno);
    return outcome;
  }
  UniqueFd readEnd(ends[0]);
  UniqueFd writeEnd(ends[1]);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, readEnd.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGINT, SIGTERM}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  std::vector<char*> variables = withVariables(environment);
  pid_t child = -1;
  const int spawned = ::posix_spawn(&child, "/bin/sh", &actions, &attributes,
                                    const_cast<char**>(argv), variables.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    outcome.problem = std::strerror(spawned);
    return outcome;
  }
  outcome.started = true;
  readEnd.reset();

  const Clock::time_point deadline = Clock::now() + limit;
  // A reader that went away must not end this program with SIGPIPE.
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &previous);
  ::fcntl(writeEnd.get(), F_SETFL, O_NONBLOCK);
  feed(writeEnd.get(), input, deadline);
  writeEnd.reset();
  ::sigaction(SIGPIPE, &previous, nullptr);

  int status = 0;
  if (!reap(child, status, deadline)) {
    outcome.killed = true;
    ::kill(-child, SIGTERM);
    if (!reap(child, status, Clock::now() + kKillGrace)) {
      ::kill(-child, SIGKILL);
      ::waitpid(child, &status, 0);
    }
    return outcome;
  }
  if (WIFEXITED(status)) outcome.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.exitStatus = 128 + WTERMSIG(status);
  return outcome;
}

std::string shellProblem(const ShellOutcome& outcome, std::chrono::seconds limit) {
  if (!outcome.started) return "cannot run /bin/sh: " + outcome.problem;
  if (outcome.killed) return "still running after " + std::to_string(limit.count()) + " s; ended";
  if (outcome.exitStatus != 0) return "exit status " + std::to_string(outcome.exitStatus);
  return std::string();
}
