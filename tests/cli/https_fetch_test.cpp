// downloader-cli fetch over https against a real nginx and a CA made for the test: whole
// files at several connection counts, certificates that must be refused, sessions and server
// names per host, servers that refuse the handshake for good, redirects between http and
// https, a CONNECT proxy, and IPv6 loopback.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "cli_run.h"
#include "connect_proxy.h"
#include "demo_site.h"
#include "nginx_server.h"
#include "openssl_server.h"
#include "platform/files.h"
#include "scripted_server.h"
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

// A session is resumed only with the host whose certificate its full handshake verified, and
// every connection names the host it asks for. Through the CONNECT proxy any name reaches the
// one nginx, so a redirect can move to a name its certificate covers (alias.test) or does not
// (elsewhere.test) while the server still holds the first name's session.
TEST_F(HttpsFetch, SessionsAndServerNamesBelongToTheHostAsked) {
  ConnectProxy proxy;
  std::string viaProxy = "--proxy 127.0.0.1:" + std::to_string(proxy.port());
  for (std::string protocols : {"TLSv1.2", "TLSv1.3"}) {
    SCOPED_TRACE(protocols);
    NginxListen listen = tls("good");
    listen.tlsProtocols = protocols;
    listen.extraHttpConfig = "  log_format names \"$ssl_server_name $ssl_session_reused $uri\";\n";
    TempDir logs;
    NginxServer server(site_->path(),
                       "    access_log " + logs.file("access.log") + " names;\n" +
                           "    location = /alias { return 302 "
                           "https://alias.test:$server_port/f100003.bin; }\n"
                           "    location = /away { return 302 "
                           "https://elsewhere.test:$server_port/f100003.bin; }\n",
                       listen);
    std::string port = std::to_string(server.port());
    std::string path = out_.file(protocols + "alias.bin");
    Outcome moved =
        fetch("https://localhost:" + port + "/alias", path, "--connections 4 " + viaProxy);
    ASSERT_EQ(moved.exitCode, 0) << moved.errorText;
    EXPECT_TRUE(readWholeFile(path) == expected("f100003.bin"));

    std::string refusedPath = out_.file(protocols + "away.bin");
    Outcome away = fetch("https://localhost:" + port + "/away", refusedPath, viaProxy);
    EXPECT_EQ(away.exitCode, 7) << away.errorText;
    EXPECT_NE(away.errorText.find("hostname mismatch"), std::string::npos) << away.errorText;
    EXPECT_FALSE(fileExists(refusedPath));

    // A trailing dot names the same host: resolved, verified and sent as "localhost".
    std::string dotted = out_.file(protocols + "dotted.bin");
    Outcome dot = fetch("https://localhost.:" + port + "/f1.bin", dotted);
    ASSERT_EQ(dot.exitCode, 0) << dot.errorText;
    EXPECT_TRUE(readWholeFile(dotted) == expected("f1.bin"));

    std::string log = readWholeFile(logs.file("access.log"));
    EXPECT_NE(log.find("localhost . /alias\n"), std::string::npos) << log;
    EXPECT_NE(log.find("alias.test r /f100003.bin\n"), std::string::npos) << log;
    EXPECT_NE(log.find("localhost . /away\n"), std::string::npos) << log;
    EXPECT_NE(log.find("localhost . /f1.bin\n"), std::string::npos) << log;
    // No request after the redirect named or resumed the first host.
    EXPECT_EQ(log.find("localhost . /f100003.bin"), std::string::npos) << log;
    EXPECT_EQ(log.find("localhost r /f100003.bin"), std::string::npos) << log;
  }
}

// Servers that will answer every connection the same way: only TLS 1.1, no cipher we share, a
// client certificate required (refused in the handshake with TLS 1.2, at the first read with
// TLS 1.3). The task ends at once as a security failure naming OpenSSL's reason, while a
// connection that merely breaks stays a network failure.
TEST_F(HttpsFetch, HandshakesRefusedForGoodEndAtOnceNamingTheReason) {
  struct Case {
    std::vector<std::string> options;
    const char* reason;
  };
  for (const Case& c : {Case{{"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"}, "protocol version"},
                        Case{{"-tls1_2", "-cipher", "aRSA"}, "handshake failure"},
                        Case{{"-tls1_2", "-Verify", "1"}, "handshake failure"},
                        Case{{"-tls1_3", "-Verify", "1"}, "certificate required"}}) {
    SCOPED_TRACE(c.options[0] + " " + c.options[1] + " " + c.options[2]);
    OpensslServer server(ca_->certificateFile("good"), ca_->keyFile("good"), c.options);
    std::string path = out_.file("refused.bin");
    Outcome outcome = fetch(server.url("/f.bin"), path, "--retries 3 --log");
    EXPECT_EQ(outcome.exitCode, 7) << outcome.errorText;
    EXPECT_NE(outcome.errorText.find(c.reason), std::string::npos) << outcome.errorText;
    EXPECT_EQ(outcome.errorText.find("重试"), std::string::npos) << outcome.errorText;
    EXPECT_FALSE(fileExists(path));
    EXPECT_FALSE(fileExists(path + ".part"));
  }
  // The same server without those demands completes the handshake (its status page has no
  // length, a server-reply failure).
  OpensslServer willing(ca_->certificateFile("good"), ca_->keyFile("good"), {});
  Outcome answered = fetch(willing.url("/f.bin"), out_.file("willing.bin"));
  EXPECT_EQ(answered.exitCode, 3) << answered.errorText;
  // A peer that resets the connection in the handshake is a network failure, retried.
  ScriptedServer resetting([](ScriptedConnection& c) { c.close(true); });
  Outcome reset = fetch("https://127.0.0.1:" + std::to_string(resetting.port()) + "/f.bin",
                        out_.file("reset.bin"), "--retries 0");
  EXPECT_EQ(reset.exitCode, 4) << reset.errorText;
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
