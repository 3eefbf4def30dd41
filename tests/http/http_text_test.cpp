// Request text, response parsing, file names from Content-Disposition, redirects.
#include <gtest/gtest.h>

#include "http/http_layer.h"
#include "http/http_redirect.h"
#include "http/http_request.h"
#include "http/http_response.h"
#include "net/url_split.h"
#include "transfer/task_param.h"

namespace {

std::string request(const HttpSettings& s, std::string_view range = {}) {
  return buildHttpRequest(requestFieldsFor(s, range)).value_or("<refused>");
}

HttpSettings direct() {
  HttpSettings s;
  s.hostText = "h:8080";
  s.port = 8080;
  s.requestUri = "/d/f.zip";
  s.referer = "";
  return s;
}

}  // namespace

TEST(HttpRequest, DirectFormInOrder) {
  HttpSettings s = direct();
  s.extraHeader = "Cookie: a=b\r\n";
  EXPECT_EQ(request(s),
            "GET /d/f.zip HTTP/1.1\r\nHost: h:8080\r\nAccept: */*\r\nReferer: \r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\nCookie: a=b\r\n"
            "Pragma: no-cache\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n");
  // A segment's range line takes the place of the cookie line.
  std::string ranged = request(s, "Range: bytes=5-\r\n");
  EXPECT_NE(ranged.find("Windows 98)\r\nRange: bytes=5-\r\nPragma"), std::string::npos);
  EXPECT_EQ(ranged.find("Cookie"), std::string::npos);
}

TEST(HttpRequest, ProxyFormIsShort) {
  HttpSettings s = direct();
  s.proxy = "proxy:3128";
  s.requestUri = "http://h:8080/d/f.zip";
  s.referer = "http://h:8080/d";
  EXPECT_EQ(request(s),
            "GET http://h:8080/d/f.zip HTTP/1.1\r\nHost: h:8080\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n"
            "Proxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_NE(request(s, "Range: bytes=7-\r\n").find("\r\nRange: bytes=7-\r\nProxy-Connection"),
            std::string::npos);
}

TEST(HttpRequest, TooLongIsRefusedNotCut) {
  HttpSettings s = direct();
  std::string base = request(s);
  s.requestUri += std::string(kHttpRequestLimit - 1 - base.size(), 'x');
  EXPECT_EQ(request(s).size(), kHttpRequestLimit - 1);
  s.requestUri += "x";
  EXPECT_EQ(request(s), "<refused>");
}

TEST(HttpResponse, HeaderBlockAndFields) {
  std::string raw =
      "junk HTTP/1.1 200 OK\r\nContent-Length: 1234\r\nSet-Cookie: s=1; path=/\r\n"
      "Content-Disposition: attachment; filename=\"x y.zip\"\r\n\r\nBODY";
  auto span = findHeaderBlock(raw);
  ASSERT_TRUE(span);
  EXPECT_EQ(span->begin, 5u);
  EXPECT_EQ(raw.substr(span->end), "BODY");
  HttpResponseInfo info = parseHttpResponse(raw.substr(span->begin, span->end - span->begin));
  EXPECT_EQ(info.statusCode, 200);
  EXPECT_EQ(info.contentLength, 1234);
  EXPECT_EQ(info.cookie, "s=1; path=/");
  EXPECT_EQ(dispositionFileName(*info.disposition), "x y.zip");
  EXPECT_FALSE(findHeaderBlock("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n"));
  EXPECT_FALSE(findHeaderBlock("\r\n\r\nno status line"));
}

TEST(HttpResponse, CodesDecideWhatIsRead) {
  EXPECT_EQ(parseHttpResponse("HTTP/1.1 206 Partial\r\nContent-Length: 5\r\n"
                              "Content-Range: bytes 0-4/9\r\n\r\n")
                .contentLength,
            -1);
  HttpResponseInfo moved =
      parseHttpResponse("HTTP/1.0 302 Found\r\nContent-length: 0\r\nLocation: /x\r\n\r\n");
  EXPECT_EQ(moved.contentLength, 0);
  EXPECT_EQ(moved.location, "/x");
  HttpResponseInfo missing = parseHttpResponse("HTTP/1.1 404 Not Found\r\nLocation: /x\r\n\r\n");
  EXPECT_EQ(missing.statusCode, 404);
  EXPECT_FALSE(missing.location);
  EXPECT_EQ(parseHttpResponse("HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\n\r\n").contentLength, -1);
  EXPECT_EQ(parseHttpResponse("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n").contentLength, -1);
  EXPECT_EQ(parseHttpResponse("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n")
                .contentLength,
            -1);
  EXPECT_EQ(parseHttpResponse("HTTP/1.1").statusCode, 0);
}

TEST(HttpResponse, NamesInAnyCaseBlanksAroundAndNoLineBreakInAValue) {
  HttpResponseInfo info = parseHttpResponse(
      "HTTP/1.1 200 OK\r\ncontent-LENGTH: \t 42 \r\nset-cookie: a=1\nX-Injected: y\r\n"
      "Server: s\rX-Other: z\r\n\r\n");
  EXPECT_EQ(info.contentLength, 42);
  EXPECT_EQ(info.cookie, "a=1");  // cut at the bare LF
  EXPECT_EQ(info.server, "s");    // cut at the bare CR
  // A name must begin a line and be followed by its colon at once.
  EXPECT_EQ(parseHttpResponse("HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\n"
                              "Content-Length : 6\r\n\r\n")
                .contentLength,
            -1);
  HttpResponseInfo ranged =
      parseHttpResponse("HTTP/1.1 206 Partial\r\ncontent-range:bytes 5-9/10\r\n\r\n");
  EXPECT_EQ(ranged.contentRange, "bytes 5-9/10");
}

TEST(HttpResponse, ContentRangeForms) {
  auto range = [](std::string_view text) {
    std::optional<ContentRange> r = parseContentRange(text);
    return r ? std::to_string(r->first) + "-" + std::to_string(r->last) + "/" +
                   std::to_string(r->total)
             : std::string("none");
  };
  EXPECT_EQ(range("bytes 0-4/9"), "0-4/9");
  EXPECT_EQ(range(" BYTES  25000 - 100002 / 100003 "), "25000-100002/100003");
  EXPECT_EQ(range("bytes 8-8/9"), "8-8/9");
  for (const char* bad : {"", "bytes", "bytes 0-4", "bytes 0-4/*", "bytes */9", "bytes 5-4/9",
                          "bytes 0-9/9", "bytes=0-4/9", "bits 0-4/9", "bytes 0-4/9x",
                          "bytes -1-4/9", "bytes 0-4/99999999999999999999", "bytes0-4/9"}) {
    EXPECT_EQ(range(bad), "none") << bad;
  }
}

TEST(HttpResponse, DispositionNames) {
  EXPECT_EQ(dispositionFileName("attachment; filename=plain.zip\r"), "plain.zip");
  EXPECT_EQ(dispositionFileName("attachment; filename=\"../../etc/p.zip\""), "p.zip");
  EXPECT_FALSE(dispositionFileName("attachment"));
  EXPECT_FALSE(dispositionFileName("attachment; filename=\"\""));
  EXPECT_FALSE(dispositionFileName("attachment; filename=\"dir/\""));
}

TEST(HttpRedirect, AbsoluteLocationWithCookie) {
  HttpSettings s = direct();
  HttpResponseInfo r;
  r.statusCode = 302;
  r.location = "http://other.example/new/g.zip";
  r.cookie = "sid=42; Path=/; HttpOnly";
  ASSERT_EQ(resolveRedirect(s, r), RedirectResult::Followed);
  EXPECT_EQ(s.hostText, "other.example");
  EXPECT_EQ(s.port, 80);
  EXPECT_EQ(s.requestUri, "/new/g.zip");
  EXPECT_EQ(s.referer, "http://other.example/new");
  EXPECT_FALSE(s.extraHeader);  // the cookie of h goes to no other host

  // To the same host (any port, any letter case) it goes, only its name=value pair.
  HttpSettings same = direct();
  r.location = "http://H:9090/new/g.zip#part";
  ASSERT_EQ(resolveRedirect(same, r), RedirectResult::Followed);
  EXPECT_EQ(same.extraHeader, "Cookie: sid=42\r\n");
  EXPECT_EQ(same.requestUri, "/new/g.zip");  // the fragment is never sent
  // A later redirect to another host leaves it behind.
  r.cookie.reset();
  r.location = "http://third.example/x.zip";
  ASSERT_EQ(resolveRedirect(same, r), RedirectResult::Followed);
  EXPECT_FALSE(same.extraHeader);
}

TEST(HttpRedirect, LocationsResolveAsRfc3986Says) {
  HttpResponseInfo r;
  // RFC 3986 section 5.4 against http://a/b/c/d;p?q; every result stays on host a.
  for (auto [location, uri] : {
           std::pair{"g", "/b/c/g"},
           {"./g", "/b/c/g"},
           {"g/", "/b/c/g/"},
           {"/g", "/g"},
           {"?y", "/b/c/d;p?y"},
           {"g?y", "/b/c/g?y"},
           {"g#s", "/b/c/g"},
           {";x", "/b/c/;x"},
           {".", "/b/c/"},
           {"..", "/b/"},
           {"../g", "/b/g"},
           {"../..", "/"},
           {"../../../../g", "/g"},
           {"/./g", "/g"},
           {"/../g", "/g"},
           {"g.", "/b/c/g."},
           {"..g", "/b/c/..g"},
           {"./../g", "/b/g"},
           {"./g/.", "/b/c/g/"},
           {"g/../h", "/b/c/h"},
           {"g;x=1/../y", "/b/c/y"},
           {"g?y/../x", "/b/c/g?y/../x"},
           {"http://a/b/../c?q#f", "/c?q"},
           {"//a/x/./y", "/x/y"},
       }) {
    HttpSettings s = direct();
    s.hostText = "a";
    s.requestUri = "/b/c/d;p?q";
    r.location = location;
    ASSERT_EQ(resolveRedirect(s, r), RedirectResult::Followed) << location;
    EXPECT_EQ(s.requestUri, uri) << location;
    EXPECT_EQ(s.hostText, "a") << location;
  }
  // A network-path reference keeps the scheme and takes the new host and port.
  HttpSettings secure = direct();
  secure.secure = true;
  r.location = "//s.example:8443/f.zip";
  ASSERT_EQ(resolveRedirect(secure, r), RedirectResult::Followed);
  EXPECT_TRUE(secure.secure);
  EXPECT_EQ(secure.hostText, "s.example:8443");
  EXPECT_EQ(secure.port, 8443);
  EXPECT_EQ(currentUrl(secure), "https://s.example:8443/f.zip");
}

// Credentials go as Authorization to their own scheme, host and port; never in Host, the
// request line or Referer; never in a log of the request.
TEST(HttpRedirect, CredentialsGoToTheirOriginOnly) {
  TaskParam param;
  param.url = "http://us%65r:p%40ss@h:8080/d/f.zip";
  for (bool viaProxy : {false, true}) {
    if (viaProxy) param.proxy = "p:3128";
    std::unique_ptr<ProtocolLayer> layer = makeHttpLayer(param, *splitUrl(*param.url));
    HttpSettings s = static_cast<HttpLayer&>(*layer).settings();
    EXPECT_EQ(s.authorization, "Basic dXNlcjpwQHNz");  // base64 of "user:p@ss"
    EXPECT_EQ(s.referer, "http://h:8080/d");
    std::string text = request(s);
    EXPECT_EQ(text.find('@'), std::string::npos) << text;
    EXPECT_NE(text.find("Host: h:8080\r\nAuthorization: Basic dXNlcjpwQHNz\r\n"), std::string::npos)
        << text;
    EXPECT_EQ(requestForLog(text).find("dXNlcjpwQHNz"), std::string::npos);
  }
  HttpResponseInfo r;
  for (auto [location, kept] : {std::pair{"/x", true},
                                {"http://H:8080/y", true},
                                {"http://h:8081/y", false},
                                {"https://h:8080/y", false},
                                {"http://other:8080/y", false}}) {
    HttpSettings s = direct();
    s.authorization = "Basic dXNlcjpwQHNz";
    r.location = location;
    ASSERT_EQ(resolveRedirect(s, r), RedirectResult::Followed);
    EXPECT_EQ(s.authorization.has_value(), kept) << location;
  }
}

TEST(HttpRedirect, RelativeLocations) {
  HttpSettings s = direct();
  HttpResponseInfo r;
  r.location = "g.zip";
  ASSERT_EQ(resolveRedirect(s, r), RedirectResult::Followed);
  EXPECT_EQ(s.requestUri, "/d/g.zip");
  EXPECT_EQ(s.referer, "http://h:8080");  // "http://" + host + "/" + location, before its last "/"
  r.location = "/top/h.zip";
  ASSERT_EQ(resolveRedirect(s, r), RedirectResult::Followed);
  EXPECT_EQ(s.requestUri, "/top/h.zip");

  HttpSettings viaProxy = direct();
  viaProxy.proxy = "p:3128";
  viaProxy.requestUri = "http://h:8080/d/f.zip";
  r.location = "g.zip";
  ASSERT_EQ(resolveRedirect(viaProxy, r), RedirectResult::Followed);
  EXPECT_EQ(viaProxy.requestUri, "http://h:8080/d/g.zip");
}

TEST(HttpRedirect, RefusalsLeaveTheSettings) {
  HttpSettings s = direct();
  HttpResponseInfo r;
  EXPECT_EQ(resolveRedirect(s, r), RedirectResult::NoLocation);
  r.location = "ftp://h/f.zip";
  EXPECT_EQ(resolveRedirect(s, r), RedirectResult::Refused);
  r.location = "rtsp://h/f.zip";
  EXPECT_EQ(resolveRedirect(s, r), RedirectResult::Refused);
  r.location = "/ok";
  r.cookie = std::string(kRedirectCookieLimit + 1, 'c');
  EXPECT_EQ(resolveRedirect(s, r), RedirectResult::Refused);
  EXPECT_EQ(s.requestUri, "/d/f.zip");
  EXPECT_FALSE(s.extraHeader);
}

TEST(HttpRedirect, HttpLeadsToHttpsButHttpsNeverBackToHttp) {
  HttpSettings s = direct();
  HttpResponseInfo r;
  r.location = "https://secure.example/g/f.zip";
  ASSERT_EQ(resolveRedirect(s, r), RedirectResult::Followed);
  EXPECT_TRUE(s.secure);
  EXPECT_EQ(s.port, 443);
  EXPECT_EQ(s.requestUri, "/g/f.zip");

  // Relative locations stay on https.
  r.location = "other.zip";
  ASSERT_EQ(resolveRedirect(s, r), RedirectResult::Followed);
  EXPECT_TRUE(s.secure);
  EXPECT_EQ(s.requestUri, "/g/other.zip");
  EXPECT_EQ(s.referer, "https://secure.example");

  HttpSettings before = s;
  for (const char* location : {"http://secure.example/g/f.zip", "HTTP://elsewhere/f"}) {
    r.location = location;
    EXPECT_EQ(resolveRedirect(s, r), RedirectResult::Downgrade) << location;
    EXPECT_TRUE(s.secure);
    EXPECT_EQ(s.hostText, before.hostText);
    EXPECT_EQ(s.requestUri, before.requestUri);
  }
}

TEST(HttpRedirect, HttpsThroughAProxyAsksForThePathInsideTheTunnel) {
  HttpSettings s = direct();
  s.proxy = "proxy:3128";
  s.requestUri = "http://h:8080/d/f.zip";
  HttpResponseInfo r;
  r.location = "https://s.example/x/f.zip";
  ASSERT_EQ(resolveRedirect(s, r), RedirectResult::Followed);
  EXPECT_EQ(s.requestUri, "/x/f.zip");
  // The request inside the tunnel is the direct form, to the server itself.
  std::string text = request(s);
  EXPECT_EQ(text.rfind("GET /x/f.zip HTTP/1.1\r\nHost: s.example\r\n", 0), 0u) << text;
  EXPECT_EQ(text.find("Proxy-Connection"), std::string::npos);
}
