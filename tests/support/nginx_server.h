#pragma once
// A real nginx on 127.0.0.1 serving a folder, for the length of a test. It listens on a
// free port, keeps its config, pid, logs and temp paths in its own scratch folder, and is
// stopped by pid when the object goes. Construction waits until the port accepts
// connections and throws when nginx cannot be started.
#include <cstdint>
#include <string>

#include "temp_dir.h"

class NginxServer {
 public:
  // `root` is served at "/"; it and every folder above it must be readable by all.
  // `extraServerConfig` is pasted into the server block (locations, limits). The log format
  // "ranges" ($msec $request_time $request_method $uri $status "$http_range" "$http_if_range")
  // is defined for an
  // access_log line there.
  explicit NginxServer(std::string root, std::string extraServerConfig = "");
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" + path (path starts with "/").
  std::string url(const std::string& path) const;

 private:
  TempDir work_;
  std::string root_;
  uint16_t port_ = 0;
  int pid_ = -1;
};

// A port on 127.0.0.1 that was free a moment ago.
uint16_t freeLoopbackPort();
// True once 127.0.0.1:port accepts a connection, false after `timeoutMs`.
bool waitForPort(uint16_t port, int timeoutMs);
