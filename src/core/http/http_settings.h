#pragma once
// The HTTP settings of one task: set when the task is made, changed by redirects on the
// first connection only, read by every segment connection.
#include <cstdint>
#include <optional>
#include <string>

inline constexpr const char kHttpUserAgent[] = "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";

struct HttpSettings {
  std::optional<std::string> proxy;  // "host" or "host:port"; present only when not empty
  bool secure = false;               // https: TLS to the server (through a proxy: CONNECT)
  std::string hostText;    // between "http(s)://" (and any "user:password@") and the next "/"
  uint16_t port = 80;      // the server's port (the proxy's when one is used)
  std::string requestUri;  // the path, or the whole http URL through a proxy
  std::optional<std::string> referer;
  std::optional<std::string> userAgent;    // absent: kHttpUserAgent
  std::optional<std::string> extraHeader;  // one whole header line (the cookie after a redirect)
  // "Basic ..." from the URL's credentials, sent to that URL's scheme, host and port only.
  std::optional<std::string> authorization;
  std::string cookieHost;     // the host whose answer set that cookie: it goes to no other
  std::string serverAddress;  // numeric address (IPv4 or IPv6) the first connection reached
  // The validators of the file as the first answer of the download gave them (absent when
  // the server gave none): a later range request names them in If-Range, and a resumed
  // download that finds them changed starts over.
  std::optional<std::string> etag;
  std::optional<std::string> lastModified;
  // Range requests name their last byte too (a delta fetches many short ranges: the server
  // sends no byte past a range's end).
  bool boundedRanges = false;
};

// Longest validator kept: a longer one could push a range request past its limit.
inline constexpr size_t kHttpValidatorLimit = 200;
