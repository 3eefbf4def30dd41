#pragma once
// A certificate authority made for one test with the openssl command, and server
// certificates it signed: a good one for 127.0.0.1, localhost, ::1 and alias.test (a name that
// only a proxy's tunnel reaches), one that expired in 2020, and one for another name. A second,
// untrusted authority signs a certificate that is otherwise good. Construction throws when
// openssl fails.
#include <string>

#include "temp_dir.h"

class TestCa {
 public:
  TestCa();

  // The authority's certificate (what SSL_CERT_FILE names to trust it).
  std::string caFile() const { return dir_.file("ca.pem"); }
  // Certificate and key files, by kind: "good", "expired", "wrongname", "unknown".
  std::string certificateFile(const std::string& kind) const { return dir_.file(kind + ".pem"); }
  std::string keyFile(const std::string& kind) const { return dir_.file(kind + ".key"); }

 private:
  void run(const std::string& command) const;
  TempDir dir_;
};
