#include "test_ca.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/files.h"

namespace {

constexpr char kGoodNames[] = "DNS:localhost,DNS:alias.test,IP:127.0.0.1,IP:::1";

}  // namespace

void TestCa::run(const std::string& command) const {
  std::string line = "cd " + dir_.path() + " && " + command + " >>openssl.log 2>&1";
  if (std::system(line.c_str()) != 0) {
    throw std::runtime_error("openssl failed: " + command + "\n" +
                             readWholeFile(dir_.file("openssl.log")));
  }
}

TestCa::TestCa() {
  const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  for (const char* authority : {"ca", "rogue"}) {
    run("openssl req -x509 " + key + " -keyout " + authority + ".key -out " + authority +
        ".pem -days 30 -subj /CN=test-" + authority +
        " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign");
  }
  // Requests carry their names; the authority copies them into the certificate.
  auto request = [&](const std::string& kind, const std::string& names) {
    run("openssl req -new " + key + " -keyout " + kind + ".key -out " + kind +
        ".csr -subj /CN=" + kind + " -addext subjectAltName=" + names);
  };
  auto sign = [&](const std::string& kind, const std::string& authority,
                  const std::string& validity) {
    writeWholeFile(dir_.file(kind + ".cnf"),
                   "[ca]\ndefault_ca=d\n[d]\ndatabase=" + dir_.file(kind + ".index") +
                       "\nnew_certs_dir=" + dir_.path() +
                       "\nserial=" + dir_.file(kind + ".serial") +
                       "\ndefault_md=sha256\npolicy=p\ncopy_extensions=copy\nunique_subject=no\n"
                       "[p]\ncommonName=supplied\n");
    writeWholeFile(dir_.file(kind + ".index"), "");
    writeWholeFile(dir_.file(kind + ".serial"), kind == "expired" ? "1001\n" : "1000\n");
    run("openssl ca -batch -notext -config " + kind + ".cnf -cert " + authority + ".pem -keyfile " +
        authority + ".key -in " + kind + ".csr -out " + kind + ".pem " + validity);
  };
  request("good", kGoodNames);
  request("expired", kGoodNames);
  request("wrongname", "DNS:elsewhere.invalid,IP:192.0.2.1");
  request("unknown", kGoodNames);
  sign("good", "ca", "-days 30");
  sign("expired", "ca", "-startdate 20200101000000Z -enddate 20200201000000Z");
  sign("wrongname", "ca", "-days 30");
  sign("unknown", "rogue", "-days 30");
}
