#include "nginx_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/files.h"

extern char** environ;

uint16_t freeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool waitForPort(uint16_t port, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

namespace {

std::string configText(const std::string& work, const std::string& root, uint16_t port,
                       const std::string& extra) {
  std::string user = ::geteuid() == 0 ? "user nobody nogroup;\n" : "";
  return user + "daemon off;\nworker_processes 1;\npid " + work + "/nginx.pid;\n" + "error_log " +
         work + "/error.log;\n" +
         "events { worker_connections 256; }\n"
         "http {\n"
         "  access_log off;\n"
         "  default_type application/octet-stream;\n"
         "  client_body_temp_path " +
         work +
         "/client_temp;\n"
         "  proxy_temp_path " +
         work +
         "/proxy_temp;\n"
         "  fastcgi_temp_path " +
         work +
         "/fastcgi_temp;\n"
         "  uwsgi_temp_path " +
         work +
         "/uwsgi_temp;\n"
         "  scgi_temp_path " +
         work +
         "/scgi_temp;\n"
         "  sendfile on;\n"
         "  log_format ranges '$msec $request_time $request_method $uri $status \"$http_range\" "
         "\"$http_if_range\"';\n"
         "  server {\n"
         "    listen 127.0.0.1:" +
         std::to_string(port) +
         ";\n"
         "    root " +
         root + ";\n" + extra +
         "\n"
         "  }\n"
         "}\n";
}

}  // namespace

NginxServer::NginxServer(std::string root, std::string extraServerConfig) : root_(std::move(root)) {
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = freeLoopbackPort();
    std::string config = work_.file("nginx.conf");
    writeWholeFile(config, configText(work_.path(), root_, port_, extraServerConfig));
    std::string prefix = work_.path() + "/";
    const char* argv[] = {"nginx", "-p", prefix.c_str(), "-c", config.c_str(), nullptr};
    pid_t pid = -1;
    if (::posix_spawnp(&pid, "nginx", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      // Debian puts nginx in /usr/sbin, which a non-root PATH may lack.
      if (::posix_spawn(&pid, "/usr/sbin/nginx", nullptr, nullptr, const_cast<char**>(argv),
                        environ) != 0) {
        throw std::runtime_error("cannot start nginx");
      }
    }
    if (waitForPort(port_, 10000)) {
      pid_ = pid;
      break;
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  if (pid_ < 0) throw std::runtime_error("nginx did not start: " + work_.file("error.log"));
}

NginxServer::~NginxServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);  // the master ends its workers, then itself
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string NginxServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}
