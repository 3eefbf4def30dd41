#include "demo_site.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "platform/files.h"

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

CommandResult runCommand(const std::string& commandLine) {
  CommandResult result;
  std::FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

DemoSite::DemoSite()
    : server_(std::make_unique<NginxServer>(dir_.path(), "    access_log access.log ranges;\n")) {
  std::string base = server_->url("");
  CommandResult made = runCommand(
      "/usr/bin/python3 " + shellQuote(std::string(DL_SOURCE_DIR) + "/scripts/make_demo_site.py") +
      " " + shellQuote(dir_.path()) + " " + shellQuote(base));
  if (made.status != 0) throw std::runtime_error("demo site: " + made.output);
}

namespace {

// Asks nginx for `path` over HTTP/1.0 and reads the answer to its end.
void requestOnce(uint16_t port, const std::string& path) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      char buffer[4096];
      while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
      }
    }
  }
  ::close(fd);
}

}  // namespace

std::string DemoSite::accessLog() const {
  // nginx writes a request's line after its last byte went out, so a client that has already
  // ended may be ahead of the log. Its single worker handles events in order: once a request
  // made now is logged, every earlier one is.
  static int settles = 0;
  const std::string marker = "/log-settled-" + std::to_string(++settles);
  requestOnce(server_->port(), marker);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string log;
  while (true) {
    log = readWholeFile(server_->workFile("access.log"));
    if (log.find(marker) != std::string::npos || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Without the marker lines of this or earlier calls.
  std::string kept;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    end = end == std::string::npos ? log.size() : end + 1;
    std::string line = log.substr(start, end - start);
    if (line.find(" /log-settled-") == std::string::npos) kept += line;
    start = end;
  }
  return kept;
}

void DemoSite::clearAccessLog() const {
  // nginx appends (O_APPEND), so a truncated log simply starts again.
  ::truncate(server_->workFile("access.log").c_str(), 0);
}
