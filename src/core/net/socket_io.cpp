// Socket primitives with timeouts, and the engine's error texts.
//
// Sockets are non-blocking from creation; every primitive waits with poll() in steps of at
// most kStopPollMs so that a stop is noticed quickly while the timeouts stay exact.
#include "net/socket_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

struct ErrorEntry {
  int32_t code;
  const char* text;
};

constexpr ErrorEntry kErrorTexts[] = {
    {-22, "有错误发生"},
    {-21, "读MMS数据错误"},
    {-10, "接收数据超时"},
    {-9, "FD_ISSET 找不到需要的SOCK"},
    {-8, "接收数据错误"},
    {-7, "发送数据错误"},
    {-6, "等待接收或发送数据超时"},
    {-5, "等待接收或发送数据错误"},
    {-4, "空指针错误"},
    {-3, "设置或获得SOCK状态出错"},
    {-2, "位置错误"},
    {-10093, "应用程序没有调用 WSAStartup，或者 WSAStartup 失败。"},
    {-10050, "套接字操作遇到了一个已死的网络。"},
    {-10014, "系统检测到在一个调用中尝试使用指针参数时的无效指针地址。"},
    {-10057,
     "由于套接字没有连接并且(当使用一个 sendto "
     "调用发送数据报套接字时)没有提供地址，发送或接收数据的请求没有被接受"},
    {-10004, "一个封锁操作被对 WSACancelBlockingCall 的调用中断。"},
    {-10036, "目前正在执行一个阻挡性操作。"},
    {-10052, "当该操作在进行中，由于保持活动的操作检测到一个故障，该连接中断。"},
    {-10038, "在一个非套接字上尝试了一个操作。"},
    {-10045, "参考的对象类型不支持尝试的操作。"},
    {-10058, "由于以前的关闭调用，套接字在那个方向已经关闭，发送或接收数据的请求没有被接受。"},
    {-10035, "无法立即完成一个非阻挡性套接字操作。"},
    {-10040, "用户用于接收数据报的缓冲器比数据报小。"},
    {-10022, "过程调用无效。"},
    {-10053, "您的主机中的软件放弃了一个已建立的连接。"},
    {-10060, "由于连接方在一段时间后没有正确答复或连接的主机没有反应，连接尝试失败。"},
    {-10054, "远程主机强迫关闭了一个现有的连接。"},
};

int millisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

// One poll step of at most kStopPollMs (less when the deadline is nearer). 1 ready, 0 not
// yet, -1 failed.
int pollStep(int fd, short events, int limitMs) {
  pollfd entry{fd, events, 0};
  int result = ::poll(&entry, 1, std::clamp(limitMs, 0, kStopPollMs));
  if (result < 0) return errno == EINTR ? 0 : -1;
  if (result == 0) return 0;
  if ((entry.revents & POLLNVAL) != 0) return -1;
  return 1;
}

// A socket address for a numeric IPv4 or IPv6 address; false when `text` is neither.
bool makeAddress(const std::string& text, uint16_t port, sockaddr_storage& storage,
                 socklen_t& length) {
  storage = sockaddr_storage{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    length = sizeof(sockaddr_in);
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(port);
    length = sizeof(sockaddr_in6);
    return true;
  }
  return false;
}

std::string numericText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = {};
  const void* raw = nullptr;
  if (address->sa_family == AF_INET) {
    raw = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
  } else if (address->sa_family == AF_INET6) {
    raw = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
  } else {
    return {};
  }
  if (::inet_ntop(address->sa_family, raw, text, sizeof text) == nullptr) return {};
  return text;
}

}  // namespace

int32_t mapSocketError(int posixError) {
  switch (posixError) {
    case EINTR:
      return -10004;
    case EFAULT:
      return -10014;
    case EINVAL:
      return -10022;
    case EAGAIN:
      return -10035;
    case EINPROGRESS:
    case EALREADY:
      return -10036;
    case ENOTSOCK:
    case EBADF:
      return -10038;
    case EMSGSIZE:
      return -10040;
    case EOPNOTSUPP:
      return -10045;
    case ENETDOWN:
      return -10050;
    case ENETRESET:
      return -10052;
    case ECONNABORTED:
      return -10053;
    case ECONNRESET:
    case EPIPE:
      return -10054;
    case EISCONN:
      return -10056;
    case ENOTCONN:
      return -10057;
    case ESHUTDOWN:
      return -10058;
    case ETIMEDOUT:
      return -10060;
    default:
      return kErrorUnknown;
  }
}

const char* errorText(int32_t code) {
  for (const ErrorEntry& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return "未知错误";
}

bool isDottedIpv4(std::string_view text) {
  int parts = 0;
  size_t i = 0;
  while (true) {
    size_t digits = 0;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + (text[i] - '0');
      ++digits;
      ++i;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++parts;
    if (i == text.size()) return parts == 4;
    if (text[i] != '.' || parts == 4) return false;
    ++i;
  }
}

bool isIpv6Literal(std::string_view text) {
  in6_addr address{};
  return ::inet_pton(AF_INET6, std::string(text).c_str(), &address) == 1;
}

bool isIpLiteral(std::string_view text) {
  return isDottedIpv4(text) || isIpv6Literal(text);
}

namespace {

// The resolver's addresses of a name, without repeats; empty when it knows none.
std::vector<std::string> lookUpName(const std::string& name) {
  std::vector<std::string> addresses;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    std::string text = numericText(entry->ai_addr);
    if (!text.empty() && std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.push_back(std::move(text));
    }
  }
  ::freeaddrinfo(found);
  return addresses;
}

}  // namespace

std::vector<std::string> resolveHostAddresses(const std::string& name) {
  if (name.empty()) return {};
  if (isIpLiteral(name)) {
    // The resolver's form, so that it compares equal to a socket's peer address.
    sockaddr_storage address;
    socklen_t length = 0;
    std::string canonical;
    if (makeAddress(name, 0, address, length)) {
      canonical = numericText(reinterpret_cast<sockaddr*>(&address));
    }
    return {canonical.empty() ? name : canonical};
  }
  std::vector<std::string> addresses = lookUpName(name);
  // "host." names the same host as "host", but the hosts file lists names without the root's
  // dot and the resolver does not strip it there.
  if (addresses.empty() && name.size() > 1 && name.back() == '.') {
    addresses = lookUpName(name.substr(0, name.size() - 1));
  }
  return addresses;
}

bool resolveHostName(const std::string& name, std::string& address) {
  std::vector<std::string> addresses = resolveHostAddresses(name);
  if (addresses.empty()) return false;
  address = addresses.front();
  return true;
}

std::string socketAddressText(int fd, bool peer) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  int result = peer ? ::getpeername(fd, raw, &length) : ::getsockname(fd, raw, &length);
  if (result != 0) return {};
  return numericText(raw);
}

bool isIpv6Socket(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
         address.ss_family == AF_INET6;
}

int pollSocket(int fd, bool forWrite, int limitMs) {
  return pollStep(fd, forWrite ? POLLOUT : POLLIN, limitMs);
}

int32_t connectWithTimeout(UniqueFd& socket, const std::string& textAddress, uint16_t port,
                           int32_t timeoutMs, const StopCondition& stop) {
  socket.reset();
  sockaddr_storage address;
  socklen_t length = 0;
  if (!makeAddress(textAddress, port, address, length)) return mapSocketError(EINVAL);
  socket.reset(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket) return mapSocketError(errno);
  if (::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), length) == 0) {
    return 0;
  }
  if (errno != EINPROGRESS && errno != EAGAIN && errno != EINTR) {
    int32_t code = mapSocketError(errno);
    socket.reset();
    return code;
  }
  auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 10));
  while (true) {
    if (stop.stopRequested()) {
      socket.reset();
      return kErrorStopped;
    }
    int left = millisecondsLeft(deadline);
    if (left == 0) {
      socket.reset();
      return kErrorConnectTimeout;
    }
    int ready = pollStep(socket.get(), POLLOUT, left);
    if (ready == 0) continue;
    int error = 0;
    socklen_t length = sizeof error;
    if (ready < 0 || ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
        error != 0) {
      socket.reset();
      return kErrorWaitFailed;
    }
    return 0;
  }
}

int32_t sendWithTimeout(int fd, std::string_view data, int32_t timeoutMs, const StopCondition& stop,
                        StreamFilter* filter) {
  bool unlimited = timeoutMs == 0;
  auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  size_t sent = 0;
  while (sent < data.size()) {
    short waitFor = POLLOUT;
    if (filter != nullptr) {
      size_t count = 0;
      FilterIo io = filter->write(reinterpret_cast<const uint8_t*>(data.data()) + sent,
                                  data.size() - sent, count);
      if (io == FilterIo::Done) {
        sent += count;
        continue;
      }
      if (io == FilterIo::Closed || io == FilterIo::Failed) return kErrorSendFailed;
      if (io == FilterIo::WantRead) waitFor = POLLIN;
    } else {
      ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return mapSocketError(errno);
    }
    if (timeoutMs < 0) return kErrorNotReady;
    if (stop.stopRequested()) return kErrorStopped;
    int left = unlimited ? kStopPollMs : millisecondsLeft(deadline);
    if (left == 0) return kErrorWaitTimeout;
    if (pollStep(fd, waitFor, left) < 0) return kErrorWaitFailed;
  }
  return static_cast<int32_t>(sent);
}

namespace {

constexpr ssize_t kWouldBlock = -1000000;

// One receive: > 0 bytes, 0 closed, kWouldBlock (waitFor says for what), or an error code.
ssize_t receiveOnce(int fd, uint8_t* data, size_t size, StreamFilter* filter, short& waitFor) {
  waitFor = POLLIN;
  if (filter == nullptr) {
    while (true) {
      ssize_t n = ::recv(fd, data, size, MSG_DONTWAIT);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return kWouldBlock;
      return mapSocketError(errno);
    }
  }
  size_t count = 0;
  switch (filter->read(data, size, count)) {
    case FilterIo::Done:
      return static_cast<ssize_t>(count);
    case FilterIo::Closed:
      return 0;
    case FilterIo::WantWrite:
      waitFor = POLLOUT;
      return kWouldBlock;
    case FilterIo::WantRead:
      return kWouldBlock;
    case FilterIo::Failed:
      break;
  }
  return kErrorReceiveFailed;
}

}  // namespace

ReceiveResult receiveWithTimeout(int fd, uint8_t* buffer, const ReceiveRequest& request,
                                 const StopCondition& stop, ReceiveCounter* counter,
                                 StreamFilter* filter) {
  ReceiveResult result;
  size_t single = request.largestSingle == 0 ? request.wanted : request.largestSingle;
  int32_t receives = 0;
  auto idleDeadline = Clock::now() + std::chrono::milliseconds(request.idleTimeoutMs);
  while (result.received < request.wanted) {
    if (stop.stopRequested()) break;
    size_t ask = std::min(single, request.wanted - result.received);
    short waitFor = POLLIN;
    ssize_t n = receiveOnce(fd, buffer + result.received, ask, filter, waitFor);
    if (n > 0) {
      result.received += static_cast<size_t>(n);
      if (counter != nullptr) counter->countReceived(static_cast<size_t>(n));
      if (request.maxReceives > 0 && ++receives >= request.maxReceives) break;
      if (request.idleTimeoutMs > 0) {
        idleDeadline = Clock::now() + std::chrono::milliseconds(request.idleTimeoutMs);
      }
      continue;
    }
    if (n == 0) {
      result.code = kErrorPeerClosed;
      return result;
    }
    if (n != kWouldBlock) {
      result.code = static_cast<int32_t>(n);
      return result;
    }
    int left = request.idleTimeoutMs > 0 ? millisecondsLeft(idleDeadline) : kStopPollMs;
    if (left == 0) {
      result.code = kErrorReceiveTimeout;
      return result;
    }
    if (pollStep(fd, waitFor, left) < 0) {
      result.code = kErrorWaitFailed;
      return result;
    }
  }
  result.code = static_cast<int32_t>(result.received);
  return result;
}

int32_t listenOnAddress(UniqueFd& socket, const std::string& textAddress, uint16_t port) {
  socket.reset();
  sockaddr_storage address;
  socklen_t length = 0;
  if (!makeAddress(textAddress, port, address, length)) return mapSocketError(EINVAL);
  socket.reset(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!socket) return mapSocketError(errno);
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(socket.get(), 1) != 0) {
    int32_t code = mapSocketError(errno);
    socket.reset();
    return code;
  }
  return 0;
}

uint16_t localPort(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  }
  return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

int32_t acceptWithTimeout(int listenFd, UniqueFd& accepted, int32_t timeoutMs,
                          const StopCondition& stop) {
  auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 10));
  while (true) {
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      accepted.reset(fd);
      return 0;
    }
    if (errno != EAGAIN && errno != EINTR) return mapSocketError(errno);
    if (stop.stopRequested()) return kErrorStopped;
    int left = millisecondsLeft(deadline);
    if (left == 0) return kErrorConnectTimeout;
    if (pollStep(listenFd, POLLIN, left) < 0) return kErrorWaitFailed;
  }
}
