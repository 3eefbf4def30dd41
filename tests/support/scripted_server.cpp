#include "scripted_server.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

constexpr int kStepMs = 20;

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

ScriptedConnection::ScriptedConnection(int fd, int index, const std::atomic<bool>& stopping)
    : fd_(fd), index_(index), stopping_(stopping) {}

ScriptedConnection::~ScriptedConnection() {
  close();
}

std::string ScriptedConnection::readUntil(std::string_view terminator, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    size_t at = pending_.find(terminator);
    if (at != std::string::npos) {
      std::string head = pending_.substr(0, at + terminator.size());
      pending_.erase(0, at + terminator.size());
      return head;
    }
    if (fd_ < 0 || stopping_.load() || msLeft(deadline) == 0) return std::string();
    pollfd entry{fd_, POLLIN, 0};
    int ready = ::poll(&entry, 1, std::min(kStepMs, msLeft(deadline)));
    if (ready <= 0) continue;
    char chunk[4096];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return std::string();
    pending_.append(chunk, static_cast<size_t>(n));
  }
}

bool ScriptedConnection::send(std::string_view bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    if (fd_ < 0 || stopping_.load()) return false;
    pollfd entry{fd_, POLLOUT, 0};
    if (::poll(&entry, 1, kStepMs) <= 0) continue;
    ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool ScriptedConnection::sendInPieces(std::string_view bytes, size_t piece, int pauseMs) {
  for (size_t at = 0; at < bytes.size(); at += piece) {
    if (!send(bytes.substr(at, piece))) return false;
    if (at + piece < bytes.size()) stall(pauseMs);
  }
  return true;
}

bool ScriptedConnection::waitForPeerClose(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (fd_ >= 0 && !stopping_.load() && msLeft(deadline) > 0) {
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, std::min(kStepMs, msLeft(deadline))) <= 0) continue;
    char chunk[4096];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return true;
  }
  return false;
}

bool ScriptedConnection::waitUntilSent(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (fd_ >= 0 && !stopping_.load()) {
    int unsent = 0;
    if (::ioctl(fd_, SIOCOUTQ, &unsent) != 0) return false;
    if (unsent == 0) return true;
    if (msLeft(deadline) == 0) return false;
    ::poll(nullptr, 0, 1);
  }
  return false;
}

void ScriptedConnection::stall(int milliseconds) {
  auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (!stopping_.load() && msLeft(deadline) > 0) {
    ::poll(nullptr, 0, std::min(kStepMs, msLeft(deadline)));
  }
}

void ScriptedConnection::close(bool abortive) {
  if (fd_ < 0) return;
  if (abortive) {
    linger option{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  }
  ::close(fd_);
  fd_ = -1;
}

ScriptedServer::ScriptedServer(ConnectionScript script, uint16_t port)
    : script_(std::move(script)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int reuse = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 ||
      ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listenFd_ >= 0) ::close(listenFd_);
    throw std::runtime_error("scripted server cannot listen");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread(&ScriptedServer::acceptLoop, this);
}

ScriptedServer::~ScriptedServer() {
  stopping_.store(true);
  acceptor_.join();
  ::close(listenFd_);
  std::lock_guard lock(mutex_);
  for (std::thread& connection : connections_) connection.join();
}

std::string ScriptedServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void ScriptedServer::acceptLoop() {
  while (!stopping_.load()) {
    pollfd entry{listenFd_, POLLIN, 0};
    if (::poll(&entry, 1, kStepMs) <= 0) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int index = accepted_.fetch_add(1);
    std::lock_guard lock(mutex_);
    connections_.emplace_back([this, fd, index] {
      ScriptedConnection connection(fd, index, stopping_);
      script_(connection);
    });
  }
}

int64_t requestedRangeStart(std::string_view request) {
  size_t at = request.find("\r\nRange: bytes=");
  if (at == std::string_view::npos) return -1;
  return std::strtoll(std::string(request.substr(at + 15, 20)).c_str(), nullptr, 10);
}

std::string requestTarget(std::string_view request) {
  size_t space = request.find(' ');
  if (space == std::string_view::npos) return std::string();
  size_t end = request.find(' ', space + 1);
  return std::string(request.substr(space + 1, end - space - 1));
}

std::string httpHeader(int status, const std::string& reason, const std::string& fields) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n" + fields + "\r\n";
}

std::string rangeAnswerHeader(int64_t from, size_t size) {
  if (from <= 0) return httpHeader(200, "OK", "Content-Length: " + std::to_string(size) + "\r\n");
  return httpHeader(206, "Partial Content",
                    "Content-Range: bytes " + std::to_string(from) + "-" +
                        std::to_string(size - 1) + "/" + std::to_string(size) + "\r\n");
}

void neverAnswers(ScriptedConnection& connection) {
  connection.readUntil("\r\n\r\n");
  while (!connection.stopping()) connection.stall(1000);
}

void tricklesForever(ScriptedConnection& connection, std::string_view firstBytes, int pauseMs) {
  connection.readUntil("\r\n\r\n");
  connection.send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n");
  connection.send(firstBytes);
  while (!connection.stopping() && connection.send("x")) connection.stall(pauseMs);
}
