// URL splitting, file names from URLs, automatic renaming, log time text, error texts.
#include <gtest/gtest.h>

#include <cerrno>

#include "net/socket_io.h"
#include "net/url_split.h"
#include "transfer/engine_log.h"
#include "transfer/name_clash.h"

TEST(UrlSplit, HttpsAndBracketedIpv6Hosts) {
  auto https = splitUrl("HTTPS://h/f");
  ASSERT_TRUE(https);
  EXPECT_EQ(https->protocol, kProtocolHttp);
  EXPECT_TRUE(https->secure);
  EXPECT_EQ(https->port, 443);
  EXPECT_FALSE(splitUrl("http://h/f")->secure);

  auto v6 = splitUrl("http://[::1]:8080/x");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->port, 8080);
  EXPECT_EQ(v6->hostPart, "[::1]:8080");
  EXPECT_EQ(splitUrl("https://[2001:db8::7]/x")->port, 443);

  HostAndPort plain = splitHostPort("user:pw@Example.com:81", 80);
  EXPECT_EQ(plain.name, "Example.com");
  EXPECT_EQ(plain.port, 81);
  HostAndPort bracketed = splitHostPort("[fe80::1]", 443);
  EXPECT_EQ(bracketed.name, "fe80::1");
  EXPECT_EQ(bracketed.port, 443);
  EXPECT_EQ(splitHostPort("[::1", 80).name, "::1");  // unclosed: no port read from inside
  // Credentials end at the last "@"; a password may hold "@" and ":".
  HostAndPort credentialed = splitHostPort("u:p@s:s@[::1]:81", 80);
  EXPECT_EQ(credentialed.name, "::1");
  EXPECT_EQ(credentialed.port, 81);
  auto withUser = splitUrl("http://u:p%40s@h:81/f");
  ASSERT_TRUE(withUser);
  EXPECT_EQ(withUser->authority, "h:81");
  EXPECT_EQ(withUser->userInfo, "u:p%40s");
  EXPECT_EQ(decodeUserInfo("u%3A:p%40s%zz").password, "p@s%zz");

  // No password of any URL in a text survives it.
  EXPECT_EQ(textWithoutUrlPasswords("重定向到 [http://u:pw@h:1/x] and ftp://a:b@[::1]\r\nnext"),
            "重定向到 [http://u@h:1/x] and ftp://a@[::1]\r\nnext");
  EXPECT_EQ(textWithoutUrlPasswords("http://h:80/a@b:c"), "http://h:80/a@b:c");
  EXPECT_EQ(urlWithoutUserInfo("https://u:p@h/d"), "https://h/d");

  EXPECT_TRUE(isIpLiteral("::1"));
  EXPECT_TRUE(isIpLiteral("10.0.0.1"));
  EXPECT_FALSE(isIpLiteral("localhost"));
  // A literal resolves to itself in the resolver's form, so it matches a peer's address.
  EXPECT_EQ(resolveHostAddresses("0:0::1"), std::vector<std::string>{"::1"});
}

TEST(UrlSplit, SchemesPortsHostsAndPaths) {
  auto http = splitUrl("HTTP://Example.com/d/f.zip?x=1");
  ASSERT_TRUE(http);
  EXPECT_EQ(http->protocol, kProtocolHttp);
  EXPECT_EQ(http->port, 80);
  EXPECT_EQ(http->hostPart, "Example.com");
  EXPECT_EQ(http->path, "/d/f.zip?x=1");

  auto ported = splitUrl("http://h:8080/f");
  ASSERT_TRUE(ported);
  EXPECT_EQ(ported->port, 8080);
  EXPECT_EQ(ported->hostPart, "h:8080");

  auto ftp = splitUrl("ftp://user:pw@h:2121/a/b");
  ASSERT_TRUE(ftp);
  EXPECT_EQ(ftp->protocol, kProtocolFtp);
  EXPECT_EQ(ftp->port, 2121);
  auto credentialsOnly = splitUrl("ftp://user:pw@h/a");
  ASSERT_TRUE(credentialsOnly);
  EXPECT_EQ(credentialsOnly->port, 21);

  EXPECT_EQ(splitUrl("mms://h/x")->port, 1755);
  EXPECT_EQ(splitUrl("mmst://h/x")->protocol, kProtocolMms);
  EXPECT_EQ(splitUrl("rtsp://h/x")->port, 554);
  EXPECT_EQ(splitUrl("http://h:70000/x")->port, 70000 % 65536);

  EXPECT_FALSE(splitUrl("gopher://h/f"));
  EXPECT_FALSE(splitUrl("http://h\r\nX-Injected: 1/f"));
  EXPECT_FALSE(splitUrl("http://h/f\nX"));
  EXPECT_FALSE(splitUrl(std::string_view("http://h/f\0x", 12)));
  EXPECT_FALSE(splitUrl("http://h"));
  EXPECT_FALSE(splitUrl(""));
}

TEST(UrlSplit, FileNameDecodesEscapesAndKeepsBrokenPercents) {
  EXPECT_EQ(fileNameFromUrlPath("/d/a%20b+c.zip"), "a b c.zip");
  EXPECT_EQ(fileNameFromUrlPath("/d/%E4%B8%89.zip"), "三.zip");
  EXPECT_EQ(fileNameFromUrlPath("/d/100%.zip"), "100%.zip");
  EXPECT_EQ(fileNameFromUrlPath("/d/a%4"), "a%4");
  EXPECT_EQ(fileNameFromUrlPath("/d/a%zz.bin"), "a%zz.bin");
  EXPECT_EQ(fileNameFromUrlPath("/d/"), "");
  EXPECT_EQ(fileNameFromUrlPath("/" + std::string(3000, 'x')).size(), 1023u);
}

TEST(UrlSplit, QueryAndFragmentNeverNameTheFileAndTheFragmentIsNeverSent) {
  EXPECT_EQ(splitUrl("http://h/d/f.zip?x=1#top")->path, "/d/f.zip?x=1");
  EXPECT_EQ(splitUrl("http://h/d/f.zip#a/b")->path, "/d/f.zip");
  EXPECT_EQ(fileNameFromUrlPath("/d/f.zip?x=1"), "f.zip");
  EXPECT_EQ(fileNameFromUrlPath("/dl.php?file=a/b.zip"), "dl.php");
  EXPECT_EQ(fileNameFromUrlPath("/d/f.zip#part"), "f.zip");
  EXPECT_EQ(fileNameFromUrlPath("/d/?x"), "");
}

TEST(UrlSplit, DecodedNamesThatWouldLeaveTheFolderAreUnusable) {
  EXPECT_FALSE(isUsableFileName(fileNameFromUrlPath("/d/..%2F..%2Fetc%2Fpasswd")));
  EXPECT_FALSE(isUsableFileName(fileNameFromUrlPath("/d/..")));
  EXPECT_FALSE(isUsableFileName(fileNameFromUrlPath("/d/a%00b")));
  EXPECT_FALSE(isUsableFileName(""));
  EXPECT_TRUE(isUsableFileName("f.zip"));
}

TEST(AutomaticName, CountsUpInParentheses) {
  EXPECT_EQ(nextAutomaticName("/t/a.zip"), "/t/a(1).zip");
  EXPECT_EQ(nextAutomaticName("/t/a(1).zip"), "/t/a(2).zip");
  EXPECT_EQ(nextAutomaticName("/t/a.b.zip"), "/t/a(1).b.zip");
  EXPECT_EQ(nextAutomaticName("/t/a"), "/t/a(1)");
  EXPECT_EQ(nextAutomaticName("/t.d/a(9)"), "/t.d/a(10)");
  EXPECT_EQ(nextAutomaticName("/t/a(0).zip"), "/t/a(0).zip");  // stays: the attempts run out
  EXPECT_EQ(nextAutomaticName("/t/a(x).zip"), "/t/a(x).zip");
  EXPECT_FALSE(nextAutomaticName("/t/a(99).zip"));
  EXPECT_FALSE(nextAutomaticName("/t/a(123).zip"));
  EXPECT_FALSE(nextAutomaticName("/t/" + std::string(252, 'a') + ".zip"));
}

TEST(LogTime, DropsTrailingZeroFields) {
  std::tm t{};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 2;
  t.tm_mday = 5;
  t.tm_hour = 7;
  t.tm_min = 8;
  t.tm_sec = 9;
  EXPECT_EQ(logTimeText(t), "2024年3月5日7时8分9秒");
  t.tm_sec = 0;
  EXPECT_EQ(logTimeText(t), "2024年3月5日7时8分");
  t.tm_min = 0;
  EXPECT_EQ(logTimeText(t), "2024年3月5日7时");
  t.tm_hour = 0;
  EXPECT_EQ(logTimeText(t), "2024年3月5日");
  t.tm_sec = 1;
  EXPECT_EQ(logTimeText(t), "2024年3月5日0时0分1秒");
}

TEST(ErrorTexts, EngineAndMappedCodes) {
  EXPECT_STREQ(errorText(kErrorPeerClosed), "有错误发生");
  EXPECT_STREQ(errorText(kErrorReceiveTimeout), "接收数据超时");
  EXPECT_STREQ(errorText(-15), "未知错误");
  EXPECT_STREQ(errorText(-1), "未知错误");
  EXPECT_EQ(mapSocketError(ECONNRESET), -10054);
  EXPECT_STREQ(errorText(mapSocketError(ECONNRESET)), "远程主机强迫关闭了一个现有的连接。");
  EXPECT_EQ(mapSocketError(ETIMEDOUT), -10060);
  EXPECT_EQ(mapSocketError(ECONNREFUSED), -1);
  EXPECT_EQ(mapSocketError(EISCONN), -10056);
  EXPECT_STREQ(errorText(-10056), "未知错误");
}

TEST(Addresses, DottedIpv4) {
  EXPECT_TRUE(isDottedIpv4("127.0.0.1"));
  EXPECT_TRUE(isDottedIpv4("255.255.255.255"));
  EXPECT_FALSE(isDottedIpv4("256.0.0.1"));
  EXPECT_FALSE(isDottedIpv4("1.2.3"));
  EXPECT_FALSE(isDottedIpv4("1.2.3.4.5"));
  EXPECT_FALSE(isDottedIpv4("1.2.3.4:80"));
  EXPECT_FALSE(isDottedIpv4("0001.2.3.4"));
  EXPECT_FALSE(isDottedIpv4("example.com"));
}
