#pragma once
// The text of an HTTP GET request.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The request must fit a 1024-byte buffer with its terminator.
inline constexpr size_t kHttpRequestLimit = 1024;

struct HttpRequestFields {
  const std::optional<std::string>* proxy = nullptr;  // present and not empty: proxy form
  std::string_view requestUri;
  std::string_view hostText;
  const std::optional<std::string>* referer = nullptr;
  const std::optional<std::string>* userAgent = nullptr;
  const std::optional<std::string>* extraHeader = nullptr;  // a whole line, CRLF included
};

// The request text, or nothing when it would not fit kHttpRequestLimit - 1 bytes (the
// request is refused rather than cut). Direct form: GET, Host, Accept, Referer, User-Agent,
// the extra line, Pragma, Cache-Control, Connection. Proxy form: GET, Host, User-Agent,
// Proxy-Connection.
std::optional<std::string> buildHttpRequest(const HttpRequestFields& fields);
