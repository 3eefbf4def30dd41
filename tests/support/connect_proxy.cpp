#include "connect_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

constexpr int kPollMs = 50;

bool sendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int connectLoopback(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

ConnectProxy::ConnectProxy() {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listener_);
    throw std::runtime_error("connect proxy: cannot listen");
  }
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread(&ConnectProxy::acceptLoop, this);
}

ConnectProxy::~ConnectProxy() {
  stopping_ = true;
  acceptThread_.join();
  for (std::thread& thread : threads_) thread.join();
  ::close(listener_);
}

std::vector<std::string> ConnectProxy::requestLines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

void ConnectProxy::acceptLoop() {
  while (!stopping_) {
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, kPollMs) <= 0) continue;
    int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    threads_.emplace_back(&ConnectProxy::serve, this, client);
  }
}

void ConnectProxy::serve(int client) {
  std::string header;
  char chunk[4096];
  while (header.find("\r\n\r\n") == std::string::npos && !stopping_) {
    pollfd entry{client, POLLIN, 0};
    if (::poll(&entry, 1, kPollMs) <= 0) continue;
    ssize_t n = ::recv(client, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    header.append(chunk, static_cast<size_t>(n));
  }
  std::string line = header.substr(0, header.find("\r\n"));
  {
    std::lock_guard lock(mutex_);
    lines_.push_back(line);
  }
  int server = -1;
  size_t colon = line.rfind(':');
  if (line.rfind("CONNECT ", 0) == 0 && colon != std::string::npos) {
    server = connectLoopback(static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1)));
  }
  if (server < 0) {
    const char refusal[] = "HTTP/1.1 405 Not Allowed\r\nContent-Length: 0\r\n\r\n";
    sendAll(client, refusal, sizeof refusal - 1);
    ::close(client);
    return;
  }
  const char established[] = "HTTP/1.1 200 Connection established\r\n\r\n";
  bool open = sendAll(client, established, sizeof established - 1);
  static_assert(sizeof chunk >= 4096);
  char relay[65536];
  while (open && !stopping_) {
    pollfd entries[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(entries, 2, kPollMs) <= 0) continue;
    for (int i = 0; i < 2 && open; ++i) {
      if (entries[i].revents == 0) continue;
      int from = entries[i].fd;
      int to = from == client ? server : client;
      ssize_t n = ::recv(from, relay, sizeof relay, 0);
      open = n > 0 && sendAll(to, relay, static_cast<size_t>(n));
    }
  }
  ::close(server);
  ::close(client);
}
