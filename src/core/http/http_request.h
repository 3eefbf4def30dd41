#pragma once
// The text of an HTTP GET request.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "http/http_settings.h"

// The request must fit a 1024-byte buffer with its terminator.
inline constexpr size_t kHttpRequestLimit = 1024;

struct HttpRequestFields {
  const std::optional<std::string>* proxy = nullptr;  // present and not empty: proxy form
  std::string_view requestUri;
  std::string_view hostText;
  const std::optional<std::string>* referer = nullptr;
  const std::optional<std::string>* userAgent = nullptr;
  const std::optional<std::string>* extraHeader = nullptr;    // a whole line, CRLF included
  const std::optional<std::string>* authorization = nullptr;  // the Authorization value
  std::string_view rangeLine;  // "Range: bytes=N-\r\n" of a segment request, or empty
};

// The request text, or nothing when it would not fit kHttpRequestLimit - 1 bytes (the
// request is refused rather than cut). Direct form: GET, Host, Authorization if any, Accept,
// Referer, User-Agent, the extra line (or the range line in its place), Pragma, Cache-Control,
// Connection. Proxy form: GET, Host, Authorization if any, User-Agent, the range line if any,
// Proxy-Connection; a proxy request carries the range line so that segments work through a
// proxy.
std::optional<std::string> buildHttpRequest(const HttpRequestFields& fields);
// A request as the log shows it: the value of its Authorization line is "******".
std::string requestForLog(std::string request);

// The Authorization value for URL credentials as written ("user:pass%40word"): "Basic " and
// the base64 of the percent-decoded "user:password".
std::string basicAuthorization(std::string_view userInfo);

// The fields of a request for a task's settings; `rangeLine` is empty on a first connection.
HttpRequestFields requestFieldsFor(const HttpSettings& settings, std::string_view rangeLine = {});
