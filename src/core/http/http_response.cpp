// Parsing an HTTP response header block.
#include "http/http_response.h"

#include <algorithm>
#include <cctype>

#include "platform/decimal.h"

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trimmedBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The value of the first field named `name` (letters in any case) that begins a line after
// the status line: the text after its colon up to the first CR or LF, blanks around it
// removed. A value ends at any CR or LF, paired or not, so none ever holds a line break that
// could end a line of a request it is copied into.
std::optional<std::string> headerValue(std::string_view header, std::string_view name) {
  size_t lineStart = header.find('\n');
  while (lineStart != std::string_view::npos) {
    std::string_view line = header.substr(lineStart + 1);
    size_t next = line.find('\n');
    line = line.substr(0, next);
    if (line.size() > name.size() && line[name.size()] == ':' &&
        equalNoCase(line.substr(0, name.size()), name)) {
      std::string_view value = line.substr(name.size() + 1);
      value = value.substr(0, value.find_first_of("\r\n"));
      return std::string(trimmedBlanks(value));
    }
    if (next == std::string_view::npos) break;
    lineStart += next + 1;
  }
  return std::nullopt;
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

bool isRedirectStatus(int32_t code) {
  return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

HttpResponseInfo parseHttpResponse(std::string_view header) {
  HttpResponseInfo info;
  info.statusCode = statusCodeAt9(header);
  int32_t code = info.statusCode;
  if (code == 416) {
    // "bytes */TOTAL": the size of the file the range did not fit.
    info.contentRange = headerValue(header, "Content-Range");
    return info;
  }
  if (code != 200 && code != 206 && !isRedirectStatus(code)) return info;
  if (code == 206) {
    info.contentRange = headerValue(header, "Content-Range");
    info.via = headerValue(header, "Via");
  } else {
    info.contentLength = decimalOrMinusOne(headerValue(header, "Content-Length"));
  }
  if (isRedirectStatus(code)) info.location = headerValue(header, "Location");
  info.acceptRanges = headerValue(header, "Accept-Ranges");
  info.connection = headerValue(header, "Connection");
  info.contentType = headerValue(header, "Content-Type");
  info.cookie = headerValue(header, "Set-Cookie");
  info.lastModified = headerValue(header, "Last-Modified");
  info.etag = headerValue(header, "ETag");
  info.server = headerValue(header, "Server");
  info.disposition = headerValue(header, "Content-Disposition");
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

std::optional<ContentRange> parseContentRange(std::string_view value) {
  value = trimmedBlanks(value);
  if (value.size() < 5 || !equalNoCase(value.substr(0, 5), "bytes")) return std::nullopt;
  value.remove_prefix(5);
  if (value.empty() || !isBlank(value.front())) return std::nullopt;
  // Reads a number with the blanks around it and the separator after it.
  auto number = [&value](char separator) -> std::optional<int64_t> {
    value = trimmedBlanks(value);
    std::optional<LeadingDecimal> digits = leadingDecimal(value);
    if (!digits) return std::nullopt;
    value = trimmedBlanks(value.substr(digits->length));
    if (separator != '\0') {
      if (value.empty() || value.front() != separator) return std::nullopt;
      value.remove_prefix(1);
    }
    return digits->value;
  };
  std::optional<int64_t> first = number('-');
  std::optional<int64_t> last = first ? number('/') : std::nullopt;
  std::optional<int64_t> total = last ? number('\0') : std::nullopt;
  if (!total || !value.empty() || *last < *first || *last >= *total) return std::nullopt;
  return ContentRange{*first, *last, *total};
}

std::optional<int64_t> unsatisfiedRangeTotal(std::string_view value) {
  value = trimmedBlanks(value);
  if (value.size() < 5 || !equalNoCase(value.substr(0, 5), "bytes")) return std::nullopt;
  value = trimmedBlanks(value.substr(5));
  if (value.empty() || value.front() != '*') return std::nullopt;
  value = trimmedBlanks(value.substr(1));
  if (value.empty() || value.front() != '/') return std::nullopt;
  return parseDecimal(trimmedBlanks(value.substr(1)));
}
