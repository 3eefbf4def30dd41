// Parsing an HTTP response header block.
#include "http/http_response.h"

#include <algorithm>
#include <limits>

#include "platform/decimal.h"

namespace {

// The value of the first header line that starts with `name` (which ends in ": "). Names
// must begin a line, so "X-Content-Length: " never passes for "Content-Length: ".
std::optional<std::string> headerValue(std::string_view header, std::string_view name) {
  size_t from = 0;
  while (true) {
    size_t at = header.find(name, from);
    if (at == std::string_view::npos) return std::nullopt;
    if (at > 0 && header[at - 1] == '\n') {
      size_t begin = at + name.size();
      size_t end = header.find("\r\n", begin);
      if (end == std::string_view::npos) end = header.size();
      return std::string(header.substr(begin, end - begin));
    }
    from = at + 1;
  }
}

std::optional<std::string> eitherHeader(std::string_view header, std::string_view first,
                                        std::string_view second) {
  if (auto value = headerValue(header, first)) return value;
  return headerValue(header, second);
}

int64_t decimalOrMinusOne(const std::optional<std::string>& text) {
  if (!text) return -1;
  return parseDecimal(*text).value_or(-1);
}

int32_t statusCodeAt9(std::string_view header) {
  if (header.size() <= 9) return 0;
  std::optional<LeadingDecimal> code = leadingDecimal(header.substr(9, 3));
  return code ? static_cast<int32_t>(code->value) : 0;
}

}  // namespace

std::optional<HeaderSpan> findHeaderBlock(std::string_view received) {
  size_t v11 = received.find("HTTP/1.1");
  size_t v10 = received.find("HTTP/1.0");
  size_t begin = std::min(v11, v10);
  if (begin == std::string_view::npos) return std::nullopt;
  size_t blank = received.find("\r\n\r\n", begin);
  if (blank == std::string_view::npos) return std::nullopt;
  return HeaderSpan{begin, blank + 4};
}

HttpResponseInfo parseHttpResponse(std::string_view header) {
  HttpResponseInfo info;
  info.statusCode = statusCodeAt9(header);
  int32_t code = info.statusCode;
  if (code != 200 && code != 206 && code != 301 && code != 302) return info;
  if (code == 206) {
    info.contentRange = eitherHeader(header, "Content-Range: ", "Content-range: ");
    info.via = headerValue(header, "Via: ");
  } else {
    info.contentLength =
        decimalOrMinusOne(eitherHeader(header, "Content-Length: ", "Content-length: "));
  }
  if (code == 301 || code == 302) info.location = headerValue(header, "Location: ");
  info.acceptRanges = headerValue(header, "Accept-Ranges: ");
  info.connection = headerValue(header, "Connection: ");
  info.contentType = eitherHeader(header, "Content-Type: ", "Content-type: ");
  info.cookie = eitherHeader(header, "Set-Cookie: ", "Set-cookie: ");
  info.lastModified = headerValue(header, "Last-Modified: ");
  info.server = headerValue(header, "Server: ");
  info.disposition = eitherHeader(header, "Content-Disposition: ", "Content-disposition: ");
  return info;
}

std::optional<std::string> dispositionFileName(std::string_view disposition) {
  size_t at = disposition.find("filename=");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = disposition.substr(at + 9);
  std::string_view name;
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    name = rest.substr(0, rest.find('"'));
  } else {
    name = rest;
    if (!name.empty() && (name.back() == '\r' || name.back() == '\n')) name.remove_suffix(1);
  }
  size_t slash = name.rfind('/');
  if (slash != std::string_view::npos) name = name.substr(slash + 1);
  if (name.empty()) return std::nullopt;
  return std::string(name);
}
