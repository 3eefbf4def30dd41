#pragma once
// OpenSSL's own test server (openssl s_server) on 127.0.0.1 for the length of a test, with a
// certificate and the options the test gives: protocol versions, ciphers, a client
// certificate required. It answers a GET with its status page (no Content-Length). Stopped by
// pid when the object goes; construction throws when it does not start.
#include <cstdint>
#include <string>
#include <vector>

#include "temp_dir.h"

class OpensslServer {
 public:
  OpensslServer(const std::string& certificateFile, const std::string& keyFile,
                const std::vector<std::string>& options);
  ~OpensslServer();
  OpensslServer(const OpensslServer&) = delete;
  OpensslServer& operator=(const OpensslServer&) = delete;

  uint16_t port() const { return port_; }
  // "https://127.0.0.1:PORT" + path.
  std::string url(const std::string& path) const;

 private:
  TempDir work_;  // its output
  uint16_t port_ = 0;
  int pid_ = -1;
};
