#pragma once
// A real nginx on 127.0.0.1 serving a folder, for the length of a test. It listens on a
// free port, keeps its config, pid, logs and temp paths in its own scratch folder, and is
// stopped by pid when the object goes. Construction waits until the port accepts
// connections and throws when nginx cannot be started.
#include <cstdint>
#include <string>

#include "temp_dir.h"

// How the server listens: plain http on 127.0.0.1 unless told otherwise.
struct NginxListen {
  std::string address = "127.0.0.1";  // "::1" listens on IPv6 loopback
  std::string certificateFile;        // with keyFile: https (tlsProtocols)
  std::string keyFile;
  std::string extraHttpConfig;  // pasted into the http block (log formats)
  std::string tlsProtocols = "TLSv1.2 TLSv1.3";
};

class NginxServer {
 public:
  // `root` is served at "/"; it and every folder above it must be readable by all.
  // `extraServerConfig` is pasted into the server block (locations, limits). The log format
  // "ranges" ($msec $request_time $request_method $uri $status "$http_range" "$http_if_range")
  // is defined for an access_log line there.
  explicit NginxServer(std::string root, std::string extraServerConfig = "",
                       NginxListen listen = {});
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" + path (path starts with "/"); https and "[::1]" as listened.
  std::string url(const std::string& path) const;
  // A file in the server's scratch folder (its logs).
  std::string workFile(const std::string& name) const { return work_.file(name); }
  // The text of `logFile` (an access log this server writes) once every request it answered
  // before the call is in it. nginx writes a request's line after its last byte went out, so a
  // client that has already ended may be ahead of the log; the single worker handles events in
  // order, so once a request made now is logged, every earlier one is. That request's own line
  // (for "/log-settled-N") is in the text too. Gives up after 10 s with what is there.
  std::string settledLog(const std::string& logFile);

 private:
  TempDir work_;
  NginxListen listen_;
  std::string root_;
  uint16_t port_ = 0;
  int pid_ = -1;
  int settles_ = 0;
};

// A port on 127.0.0.1 that was free a moment ago.
uint16_t freeLoopbackPort();
// True once address:port (numeric, IPv4 or IPv6) accepts a connection, false after `timeoutMs`.
bool waitForPort(uint16_t port, int timeoutMs, const std::string& address = "127.0.0.1");
// True when a socket can be bound to the IPv6 loopback address.
bool ipv6LoopbackAvailable();
