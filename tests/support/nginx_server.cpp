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

namespace {

// Asks the server on 127.0.0.1:`port` for `path` over HTTP/1.0 and reads the answer to its end.
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

std::string NginxServer::settledLog(const std::string& logFile) {
  const std::string marker = "/log-settled-" + std::to_string(++settles_);
  requestOnce(port_, marker);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string log;
  while ((log = readWholeFile(logFile)).find(marker) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return log;
}

bool waitForPort(uint16_t port, int timeoutMs, const std::string& host) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    sockaddr_storage address{};
    socklen_t length = sizeof(sockaddr_in);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
      v4->sin_family = AF_INET;
      v4->sin_port = htons(port);
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(port);
      length = sizeof(sockaddr_in6);
    } else {
      return false;
    }
    int fd = ::socket(address.ss_family, SOCK_STREAM, 0);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    ::close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool ipv6LoopbackAvailable() {
  int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

namespace {

std::string listenLine(const NginxListen& listen, uint16_t port) {
  std::string host =
      listen.address.find(':') != std::string::npos ? "[" + listen.address + "]" : listen.address;
  std::string line = "    listen " + host + ":" + std::to_string(port);
  if (listen.certificateFile.empty()) return line + ";\n";
  return line + " ssl;\n    ssl_certificate " + listen.certificateFile +
         ";\n    ssl_certificate_key " + listen.keyFile + ";\n    ssl_protocols " +
         listen.tlsProtocols + ";\n";
}

std::string configText(const std::string& work, const std::string& root, uint16_t port,
                       const std::string& extra, const NginxListen& listen) {
  std::string user = ::geteuid() == 0 ? "user nobody nogroup;\n" : "";
  return user + "daemon off;\nworker_processes 1;\npid " + work + "/nginx.pid;\n" + "error_log " +
         work + "/error.log;\n" +
         "events { worker_connections 256; }\n"
         "http {\n"
         "  access_log off;\n" +
         listen.extraHttpConfig +
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
         "  server {\n" +
         listenLine(listen, port) + "    root " + root + ";\n" + extra +
         "\n"
         "  }\n"
         "}\n";
}

}  // namespace

NginxServer::NginxServer(std::string root, std::string extraServerConfig, NginxListen listen)
    : listen_(std::move(listen)), root_(std::move(root)) {
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = freeLoopbackPort();
    std::string config = work_.file("nginx.conf");
    writeWholeFile(config, configText(work_.path(), root_, port_, extraServerConfig, listen_));
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
    if (waitForPort(port_, 10000, listen_.address)) {
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
  std::string scheme = listen_.certificateFile.empty() ? "http://" : "https://";
  std::string host = listen_.address.find(':') != std::string::npos ? "[" + listen_.address + "]"
                                                                    : listen_.address;
  return scheme + host + ":" + std::to_string(port_) + path;
}
