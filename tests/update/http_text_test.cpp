#include "update/http_text.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "nginx_server.h"
#include "platform/unique_fd.h"
#include "temp_dir.h"

namespace {

// Accepts one connection on loopback, records the request, and answers with `reply`, or
// never answers when `reply` is empty (it then holds the connection until the client leaves).
class OneShotServer {
 public:
  explicit OneShotServer(std::string reply) : reply_(std::move(reply)) {
    listener_.reset(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_.get(), 4);
    ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~OneShotServer() {
    ::shutdown(listener_.get(), SHUT_RDWR);
    thread_.join();
  }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::string request;

 private:
  void serve() {
    UniqueFd client(::accept(listener_.get(), nullptr, nullptr));
    if (!client) return;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = ::recv(client.get(), buffer, sizeof buffer, 0);
      if (n <= 0) return;
      request.append(buffer, static_cast<size_t>(n));
    }
    if (!reply_.empty()) {
      (void)!::send(client.get(), reply_.data(), reply_.size(), MSG_NOSIGNAL);
      return;
    }
    pollfd wait{client.get(), POLLIN, 0};
    ::poll(&wait, 1, 20000);  // ends as soon as the client gives up and closes
  }

  std::string reply_;
  UniqueFd listener_;
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace

TEST(HttpReadText, EmptyUrlReturnsNothingWithoutNetwork) {
  EXPECT_EQ(httpReadText(""), "");
}

TEST(HttpReadText, SendsAnHttp10GetWithTheSystemHeadersAndNoFragment) {
  std::string request;
  {
    OneShotServer server("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_EQ(httpReadText(server.url("/xiazaiqi/xiazai.txt#part")), "hello");
    request = server.request;
  }
  EXPECT_EQ(request.rfind("GET /xiazaiqi/xiazai.txt HTTP/1.0\r\n", 0), 0u) << request;
  EXPECT_NE(request.find("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"),
            std::string::npos);
  EXPECT_NE(request.find("Accept: */*\r\n"), std::string::npos);
  EXPECT_NE(request.find("Pragma: no-cache\r\n"), std::string::npos);
}

TEST(HttpReadText, ErrorPagesAndLargeBodiesAreReturnedWhole) {
  TempDir site;
  std::string big = patternBytes(300000);
  site.write("big.bin", big);
  NginxServer server(site.path());
  EXPECT_EQ(httpReadText(server.url("/big.bin")), big);
  std::string page = httpReadText(server.url("/missing.txt"));
  EXPECT_NE(page.find("404"), std::string::npos);
}

TEST(HttpReadText, BodyWithoutLengthIsReadToTheEnd) {
  OneShotServer server("HTTP/1.0 200 OK\r\n\r\n" + std::string(25000, 'x'));
  EXPECT_EQ(httpReadText(server.url("/a")), std::string(25000, 'x'));
}

TEST(HttpReadText, SilentServerEndsWithinTheIdleTimeout) {
  OneShotServer server("");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(httpReadText(server.url("/a"), HttpTextTimeouts{2000, 1000}), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST(HttpReadText, NoServerListeningGivesNothing) {
  EXPECT_EQ(httpReadText("http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/x"), "");
}
