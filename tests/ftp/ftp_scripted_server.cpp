#include "ftp_scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

constexpr int kStepMs = 20;
constexpr auto kIdleLimit = std::chrono::seconds(10);

sockaddr_in loopback(const std::string& dotted, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  ::inet_pton(AF_INET, dotted.c_str(), &address.sin_addr);
  return address;
}

UniqueFd listenOn(uint16_t& port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = loopback("127.0.0.1", 0);
  socklen_t length = sizeof address;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 8) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("scripted FTP server: cannot listen");
  }
  port = ntohs(address.sin_port);
  return fd;
}

// 1 readable, 0 not yet, -1 failed.
int waitReadable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  int result = ::poll(&entry, 1, kStepMs);
  return result < 0 ? -1 : result;
}

UniqueFd connectFrom(const std::string& source, const std::string& target, uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in local = loopback(source, 0);
  sockaddr_in remote = loopback(target, port);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd.get(), reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    return UniqueFd();
  }
  return fd;
}

std::string upperVerb(const std::string& command) {
  std::string verb = command.substr(0, command.find(' '));
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

}  // namespace

struct ScriptedFtpServer::Session {
  int index = 0;
  UniqueFd control;
  std::string pending;  // received bytes not yet taken as a line
  int64_t restart = 0;
  UniqueFd passiveListener;
  UniqueFd data;
  UniqueFd decoy;
};

ScriptedFtpServer::ScriptedFtpServer(std::string file, Script script)
    : file_(std::move(file)), script_(std::move(script)) {
  listener_ = listenOn(port_);
  acceptor_ = std::thread(&ScriptedFtpServer::acceptLoop, this);
}

ScriptedFtpServer::~ScriptedFtpServer() {
  stopping_ = true;
  acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
}

std::string ScriptedFtpServer::url(const std::string& path) const {
  return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedFtpServer::commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

int ScriptedFtpServer::count(const std::string& prefix) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(commands_.begin(), commands_.end(), [&](const auto& c) {
    return c.compare(c.find(": ") + 2, prefix.size(), prefix) == 0;
  }));
}

void ScriptedFtpServer::acceptLoop() {
  while (!stopping_) {
    if (waitReadable(listener_.get()) <= 0) continue;
    UniqueFd control(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!control) continue;
    int index = sessions_++;
    std::lock_guard lock(mutex_);
    threads_.emplace_back(&ScriptedFtpServer::serve, this, index, std::move(control));
  }
}

void ScriptedFtpServer::serve(int index, UniqueFd control) {
  Session session;
  session.index = index;
  session.control = std::move(control);
  std::optional<std::string> welcome =
      script_.welcome ? script_.welcome(index) : std::string("220 Scripted server ready.\r\n");
  std::string line;
  if (!welcome) {
    while (readLine(session, line)) {
    }
    return;
  }
  if (!sendAll(session.control.get(), *welcome)) return;
  while (readLine(session, line)) {
    {
      std::lock_guard lock(mutex_);
      commands_.push_back(std::to_string(index) + ": " + line);
    }
    if (!sendAll(session.control.get(), handle(session, line))) return;
  }
}

std::string ScriptedFtpServer::handle(Session& session, const std::string& command) {
  std::string verb = upperVerb(command);
  std::string argument = command.size() > verb.size() ? command.substr(verb.size() + 1) : "";
  std::optional<std::string> reply;
  if (script_.hook) reply = script_.hook(session.index, command);
  if (!reply) {
    if (verb == "USER")
      reply = "331 Password required.\r\n";
    else if (verb == "PASS")
      reply = "230 Logged in.\r\n";
    else if (verb == "TYPE")
      reply = "200 Type set.\r\n";
    else if (verb == "REST")
      reply = "350 Restarting at " + argument + ".\r\n";
    else if (verb == "SIZE")
      reply = "213 " + std::to_string(file_.size()) + "\r\n";
    else if (verb == "PASV")
      reply = passive(session);
    else if (verb == "PORT")
      reply = active(session, argument);
    else if (verb == "RETR")
      reply = retrieve(session);
    else if (verb == "QUIT")
      reply = "221 Bye.\r\n";
    else
      reply = "502 Not implemented.\r\n";
  }
  if (verb == "REST" && reply->rfind("350", 0) == 0)
    session.restart = std::strtoll(argument.c_str(), nullptr, 10);
  return *reply;
}

std::string ScriptedFtpServer::passive(Session& session) {
  uint16_t port = 0;
  session.passiveListener = listenOn(port);
  char text[128];
  std::snprintf(text, sizeof text, "227 Entering Passive Mode (%s,%d,%d).\r\n",
                script_.passiveHost.c_str(), port / 256, port % 256);
  return text;
}

std::string ScriptedFtpServer::active(Session& session, const std::string& argument) {
  int h1, h2, h3, h4, p1, p2;
  if (std::sscanf(argument.c_str(), "%d,%d,%d,%d,%d,%d", &h1, &h2, &h3, &h4, &p1, &p2) != 6) {
    return "501 Bad PORT.\r\n";
  }
  std::string host = std::to_string(h1) + "." + std::to_string(h2) + "." + std::to_string(h3) +
                     "." + std::to_string(h4);
  uint16_t port = static_cast<uint16_t>(p1 * 256 + p2);
  if (script_.activeDecoyAddress) {
    session.decoy = connectFrom(*script_.activeDecoyAddress, host, port);
  }
  session.data = connectFrom("127.0.0.1", host, port);
  return session.data ? "200 PORT command successful.\r\n" : "425 Cannot open data connection.\r\n";
}

std::string ScriptedFtpServer::retrieve(Session& session) {
  if (session.passiveListener) {
    auto deadline = std::chrono::steady_clock::now() + kIdleLimit;
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
      if (waitReadable(session.passiveListener.get()) <= 0) continue;
      session.data.reset(::accept4(session.passiveListener.get(), nullptr, nullptr, SOCK_CLOEXEC));
      break;
    }
    session.passiveListener.reset();
  }
  if (!session.data) return "425 No data connection.\r\n";
  if (!sendAll(session.control.get(), "150 Opening data connection.\r\n")) return "";
  size_t from = static_cast<size_t>(std::min<int64_t>(session.restart, file_.size()));
  bool sent = sendAll(session.data.get(), file_.substr(from));
  session.data.reset();
  session.decoy.reset();
  session.restart = 0;
  return sent ? "226 Transfer complete.\r\n" : "426 Transfer aborted.\r\n";
}

bool ScriptedFtpServer::sendAll(int fd, const std::string& bytes) const {
  size_t sent = 0;
  auto idleSince = std::chrono::steady_clock::now();
  while (sent < bytes.size()) {
    if (stopping_ || std::chrono::steady_clock::now() - idleSince > kIdleLimit) return false;
    pollfd entry{fd, POLLOUT, 0};
    if (::poll(&entry, 1, kStepMs) <= 0) continue;
    ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
    idleSince = std::chrono::steady_clock::now();
  }
  return true;
}

bool ScriptedFtpServer::readLine(Session& session, std::string& line) const {
  while (true) {
    size_t end = session.pending.find('\n');
    if (end != std::string::npos) {
      line = session.pending.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      session.pending.erase(0, end + 1);
      return true;
    }
    if (stopping_) return false;
    int ready = waitReadable(session.control.get());
    if (ready < 0) return false;
    if (ready == 0) continue;
    char buffer[4096];
    ssize_t n = ::recv(session.control.get(), buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    session.pending.append(buffer, static_cast<size_t>(n));
  }
}
