#pragma once
// A small FTP server on 127.0.0.1 whose replies a test can script, for the faults a real
// server does not produce on demand (a missing welcome, refused commands, odd reply
// texts, over-long lines). It serves one file under any path, in passive or active mode,
// honouring "REST" offsets. One thread accepts; each control connection has its own.
// Everything ends and is joined when the object goes.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

class ScriptedFtpServer {
 public:
  // The raw reply (CR LF included) to send instead of the usual one for `command` on
  // control connection `session` (0 for the first), or nothing for the usual reply. A
  // "350" reply to "REST n" still sets the offset n, as a real server would.
  using Hook = std::function<std::optional<std::string>(int session, const std::string& command)>;
  // The raw welcome of connection `session`; nothing sends none and keeps the line open.
  using Welcome = std::function<std::optional<std::string>(int session)>;

  struct Script {
    Hook hook;
    Welcome welcome;
    // The host numbers the PASV reply names; the listener is always on 127.0.0.1.
    std::string passiveHost = "127,0,0,1";
    // In active mode, first connect to the client from this address (then from 127.0.0.1).
    std::optional<std::string> activeDecoyAddress;
  };

  ScriptedFtpServer(std::string file, Script script);
  ~ScriptedFtpServer();
  ScriptedFtpServer(const ScriptedFtpServer&) = delete;
  ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

  uint16_t port() const { return port_; }
  std::string url(const std::string& path) const;
  // Every command received, as "session: COMMAND", in arrival order.
  std::vector<std::string> commands() const;
  // How many received commands start with `prefix` (on any connection).
  int count(const std::string& prefix) const;
  int sessions() const { return sessions_.load(); }

 private:
  struct Session;
  void acceptLoop();
  void serve(int index, UniqueFd control);
  std::string handle(Session& session, const std::string& command);
  std::string passive(Session& session);
  std::string active(Session& session, const std::string& argument);
  std::string retrieve(Session& session);
  bool sendAll(int fd, const std::string& bytes) const;
  bool readLine(Session& session, std::string& line) const;

  const std::string file_;
  const Script script_;
  UniqueFd listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> sessions_{0};
  mutable std::mutex mutex_;  // guards commands_ and threads_
  std::vector<std::string> commands_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};
