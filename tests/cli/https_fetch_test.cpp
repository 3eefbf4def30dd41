// downloader-cli fetch over https against a real nginx and a CA made for the test: whole
// files at several connection counts, certificates that must be refused, redirects between
// http and https, a CONNECT proxy, and IPv6 loopback.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "cli_run.h"
#include "connect_proxy.h"
#include "demo_site.h"
#include "nginx_server.h"
#include "platform/files.h"
#include "temp_dir.h"
#include "test_ca.h"

namespace {

constexpr size_t kLargeSize = 64u << 20;

class HttpsFetch : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ca_ = new TestCa();
    site_ = new TempDir();
    large_ = new std::string(patternBytes(kLargeSize, 7));
    for (size_t size : {size_t{0}, size_t{1}, size_t{100003}}) {
      site_->write("f" + std::to_string(size) + ".bin", patternBytes(size, 3));
    }
    site_->write("large.bin", *large_);
  }
  static void TearDownTestSuite() {
    delete large_;
    delete site_;
    delete ca_;
  }
  void SetUp() override { ::setenv("SSL_CERT_FILE", ca_->caFile().c_str(), 1); }
  void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

  static NginxListen tls(const std::string& kind, const std::string& address = "127.0.0.1") {
    NginxListen listen;
    listen.address = address;
    listen.certificateFile = ca_->certificateFile(kind);
    listen.keyFile = ca_->keyFile(kind);
    return listen;
  }
  Outcome fetch(const std::string& url, const std::string& path, const std::string& more = "") {
    return runCli(
        "fetch " + shellQuote(url) + " " + shellQuote(path) + " --quiet --retries 1 " + more,
        scratch_);
  }
  std::string expected(const std::string& name) const { return readWholeFile(site_->file(name)); }

  static TestCa* ca_;
  static TempDir* site_;
  static std::string* large_;
  TempDir scratch_;
  TempDir out_;
};

TestCa* HttpsFetch::ca_ = nullptr;
TempDir* HttpsFetch::site_ = nullptr;
std::string* HttpsFetch::large_ = nullptr;

}  // namespace

TEST_F(HttpsFetch, FilesArriveByteIdenticalAtEveryConnectionCountAndSessionsAreResumed) {
  NginxListen listen = tls("good");
  listen.extraHttpConfig = "  log_format reuse \"$ssl_session_reused\";\n";
  TempDir logs;
  NginxServer server(site_->path(), "    access_log " + logs.file("access.log") + " reuse;\n",
                     listen);
  for (int connections : {1, 4, 8}) {
    std::string count = "--connections " + std::to_string(connections);
    for (std::string name : {"f0.bin", "f1.bin", "f100003.bin", "large.bin"}) {
      std::string path = out_.file(std::to_string(connections) + name);
      Outcome outcome = fetch(server.url("/" + name), path, count);
      ASSERT_EQ(outcome.exitCode, 0) << name << " " << count << ": " << outcome.errorText;
      ASSERT_TRUE(readWholeFile(path) == (name == "large.bin" ? *large_ : expected(name)))
          << name << " " << count;
    }
  }
  // Every request of the 8-connection fetch after the first one's handshake resumed its
  // session: nginx logs "r" for a resumed one and "." for a full handshake.
  std::string log = readWholeFile(logs.file("access.log"));
  size_t resumed = static_cast<size_t>(std::count(log.begin(), log.end(), 'r'));
  EXPECT_GE(resumed, 7u) << log;
}

TEST_F(HttpsFetch, CertificatesThatFailVerificationEndQuicklyWithTheirReasonAndNoFile) {
  struct Case {
    const char* kind;
    const char* host;
    const char* reason;
  };
  for (const Case& c : {Case{"unknown", "127.0.0.1", "unable to get local issuer certificate"},
                        Case{"wrongname", "localhost", "hostname mismatch"},
                        Case{"wrongname", "127.0.0.1", "IP address mismatch"},
                        Case{"expired", "127.0.0.1", "certificate has expired"}}) {
    NginxServer server(site_->path(), "", tls(c.kind));
    std::string url =
        "https://" + std::string(c.host) + ":" + std::to_string(server.port()) + "/f100003.bin";
    std::string path = out_.file(std::string(c.kind) + c.host + ".bin");
    auto started = std::chrono::steady_clock::now();
    Outcome outcome = fetch(url, path, "--connections 4");
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(outcome.exitCode, 7) << c.kind << ": " << outcome.errorText;
    EXPECT_NE(outcome.errorText.find(c.reason), std::string::npos) << outcome.errorText;
    EXPECT_LT(took, std::chrono::seconds(3)) << c.kind << ": retried instead of failing";
    EXPECT_FALSE(fileExists(path));
    EXPECT_FALSE(fileExists(path + ".part"));
  }
  // --insecure is the one way past a certificate that does not verify.
  NginxServer server(site_->path(), "", tls("unknown"));
  std::string path = out_.file("insecure.bin");
  Outcome outcome = fetch(server.url("/f100003.bin"), path, "--insecure");
  ASSERT_EQ(outcome.exitCode, 0) << outcome.errorText;
  EXPECT_TRUE(readWholeFile(path) == expected("f100003.bin"));
}

TEST_F(HttpsFetch, HttpIsFollowedToHttpsButHttpsNeverBackToHttp) {
  NginxServer secure(site_->path(), "", tls("good"));
  NginxServer plain(site_->path(),
                    "    location = /up { return 302 " + secure.url("/f100003.bin") + "; }\n");
  std::string path = out_.file("up.bin");
  Outcome up = fetch(plain.url("/up"), path, "--connections 4");
  ASSERT_EQ(up.exitCode, 0) << up.errorText;
  EXPECT_TRUE(readWholeFile(path) == expected("f100003.bin"));

  NginxServer downgrading(
      site_->path(), "    location = /down { return 302 " + plain.url("/f100003.bin") + "; }\n",
      tls("good"));
  std::string refusedPath = out_.file("down.bin");
  Outcome down = fetch(downgrading.url("/down"), refusedPath);
  EXPECT_EQ(down.exitCode, 7) << down.errorText;
  EXPECT_NE(down.errorText.find("https"), std::string::npos) << down.errorText;
  EXPECT_FALSE(fileExists(refusedPath));
  EXPECT_FALSE(fileExists(refusedPath + ".part"));
}

TEST_F(HttpsFetch, HttpsGoesThroughAProxyByConnect) {
  NginxServer server(site_->path(), "", tls("good"));
  ConnectProxy proxy;
  std::string path = out_.file("proxied.bin");
  Outcome outcome = fetch(server.url("/large.bin"), path,
                          "--connections 4 --proxy 127.0.0.1:" + std::to_string(proxy.port()));
  ASSERT_EQ(outcome.exitCode, 0) << outcome.errorText;
  EXPECT_TRUE(readWholeFile(path) == *large_);
  std::vector<std::string> lines = proxy.requestLines();
  ASSERT_GE(lines.size(), 2u);
  for (const std::string& line : lines) {
    EXPECT_EQ(line, "CONNECT 127.0.0.1:" + std::to_string(server.port()) + " HTTP/1.1");
  }
}

TEST_F(HttpsFetch, Ipv6LoopbackServesHttpAndHttps) {
  if (!ipv6LoopbackAvailable()) GTEST_SKIP() << "no ::1 here";
  NginxServer plain(site_->path(), "", NginxListen{"::1", "", "", ""});
  NginxServer secure(site_->path(), "", tls("good", "::1"));
  for (const NginxServer* server : {&plain, &secure}) {
    std::string url = server->url("/large.bin");
    ASSERT_NE(url.find("[::1]"), std::string::npos);
    std::string path = out_.file(url.substr(0, 5) + ".bin");
    Outcome outcome = fetch(url, path, "--connections 4");
    ASSERT_EQ(outcome.exitCode, 0) << url << ": " << outcome.errorText;
    EXPECT_TRUE(readWholeFile(path) == *large_) << url;
  }
}
