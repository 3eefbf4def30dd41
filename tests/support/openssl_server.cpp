#include "openssl_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <stdexcept>

#include "nginx_server.h"

extern char** environ;

OpensslServer::OpensslServer(const std::string& certificateFile, const std::string& keyFile,
                             const std::vector<std::string>& options) {
  std::string output = work_.file("s_server.log");
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = freeLoopbackPort();
    std::vector<std::string> words = {
        "openssl", "s_server",      "-accept", "127.0.0.1:" + std::to_string(port_),
        "-cert",   certificateFile, "-key",    keyFile,
        "-www",    "-quiet"};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int spawned = ::posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start openssl s_server");
    if (waitForPort(port_, 10000)) {
      pid_ = pid;
      break;
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  if (pid_ < 0) throw std::runtime_error("openssl s_server did not start: " + output);
}

OpensslServer::~OpensslServer() {
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

std::string OpensslServer::url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}
