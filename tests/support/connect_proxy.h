#pragma once
// A small HTTP proxy on 127.0.0.1 that serves CONNECT only: it opens the tunnel to the
// named port on 127.0.0.1 (never anywhere else), answers 200 and relays bytes both ways
// until either side closes. Anything but CONNECT is answered 405. Destruction closes the
// listener and every tunnel and joins the threads.
#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ConnectProxy {
 public:
  ConnectProxy();
  ~ConnectProxy();
  ConnectProxy(const ConnectProxy&) = delete;
  ConnectProxy& operator=(const ConnectProxy&) = delete;

  uint16_t port() const { return port_; }
  // The request lines received ("CONNECT host:port HTTP/1.1", or whatever else came).
  std::vector<std::string> requestLines() const;

 private:
  void acceptLoop();
  void serve(int client);

  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::list<std::thread> threads_;
  std::thread acceptThread_;
};
