#include "demo_site.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

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

std::string DemoSite::accessLog() const {
  const std::string log = server_->settledLog(server_->workFile("access.log"));
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
