#pragma once
// A small threaded TCP server on 127.0.0.1 for injecting faults that real servers do not
// produce on demand. Every accepted connection runs the test's script on its own thread;
// the script reads and writes through a ScriptedConnection. It is protocol-neutral: an HTTP
// test reads a request header and answers, an FTP test can play a control connection line
// by line (and open further ScriptedServers as data ports).
//
// Destruction stops accepting, wakes every script blocked in a read or a stall, closes the
// connections and joins their threads.
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

class ScriptedConnection {
 public:
  ScriptedConnection(int fd, int index, const std::atomic<bool>& stopping);
  ~ScriptedConnection();
  ScriptedConnection(const ScriptedConnection&) = delete;
  ScriptedConnection& operator=(const ScriptedConnection&) = delete;

  // Reads until `terminator` has arrived and returns everything up to and including it;
  // bytes after it stay for the next read. Empty when the peer closed, the time ran out or
  // the server is stopping.
  std::string readUntil(std::string_view terminator, int timeoutMs = 5000);
  // One "\r\n"-terminated line (an HTTP request header is readUntil("\r\n\r\n")).
  std::string readLine(int timeoutMs = 5000) { return readUntil("\r\n", timeoutMs); }
  // Sends all bytes; false when the peer is gone.
  bool send(std::string_view bytes);
  // Sends bytes in pieces of `piece` bytes, pausing `pauseMs` between them.
  bool sendInPieces(std::string_view bytes, size_t piece, int pauseMs);
  // Waits until the peer closes the connection (true) or the time runs out (false).
  bool waitForPeerClose(int timeoutMs);
  // Waits until the peer has acknowledged every byte sent (true), or the time runs out.
  // A reset right after it loses nothing the peer was sent.
  bool waitUntilSent(int timeoutMs = 5000);
  // Waits the given time, or less when the server is stopping.
  void stall(int milliseconds);
  // Closes the connection at once (an abortive close sends a reset instead of a FIN).
  void close(bool abortive = false);

  int index() const { return index_; }  // 0 for the first accepted connection
  bool stopping() const { return stopping_.load(); }

 private:
  int fd_;
  int index_;
  const std::atomic<bool>& stopping_;
  std::string pending_;
};

using ConnectionScript = std::function<void(ScriptedConnection&)>;

class ScriptedServer {
 public:
  // Listens on 127.0.0.1 at once, on `port` or a free one when it is 0; throws when the
  // port cannot be had.
  explicit ScriptedServer(ConnectionScript script, uint16_t port = 0);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" + path.
  std::string url(const std::string& path) const;
  int connectionCount() const { return accepted_.load(); }

 private:
  void acceptLoop();

  ConnectionScript script_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  std::list<std::thread> connections_;
  std::thread acceptor_;
};

// HTTP helpers for scripts.
// The start offset of a "Range: bytes=N-" header in a request, -1 without one.
int64_t requestedRangeStart(std::string_view request);
// The request-URI of a request's first line.
std::string requestTarget(std::string_view request);
// A response header block ending with the blank line.
std::string httpHeader(int status, const std::string& reason, const std::string& fields);
// The header of an answer from byte `from` to the end of a file of `size` bytes, as a
// range-capable server gives it: 200 with Content-Length from byte 0, else 206 with
// Content-Range.
std::string rangeAnswerHeader(int64_t from, size_t size);

// Scripts for a manifest server: one that reads the request and never answers, and one that
// answers with a header and then one byte every `pauseMs` (fast enough for any idle limit,
// never done).
void neverAnswers(ScriptedConnection& connection);
void tricklesForever(ScriptedConnection& connection, std::string_view firstBytes, int pauseMs);
