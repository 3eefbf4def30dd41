#pragma once
// Parsing an HTTP response header block.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The header must end within this many bytes of the first receive buffer.
inline constexpr size_t kHttpHeaderBufferSize = 4096;

struct HttpResponseInfo {
  int32_t statusCode = 0;      // the three characters at offset 9 of the status line
  int64_t contentLength = -1;  // -1 when not read
  std::optional<std::string> cookie;
  std::optional<std::string> location;
  std::optional<std::string> disposition;
  std::optional<std::string> contentRange;
  std::optional<std::string> via;
  std::optional<std::string> acceptRanges;
  std::optional<std::string> connection;
  std::optional<std::string> contentType;
  std::optional<std::string> lastModified;
  std::optional<std::string> etag;
  std::optional<std::string> server;
};

// Where the header block lies in received bytes: from the first "HTTP/1.1" or "HTTP/1.0"
// to just after the first "\r\n\r\n" that follows it.
struct HeaderSpan {
  size_t begin = 0;
  size_t end = 0;  // one past the blank line
};
std::optional<HeaderSpan> findHeaderBlock(std::string_view received);

// Field names are matched in any letter case and must begin a line; a value is the text after
// the colon up to the first CR or LF (paired or bare), without the blanks around it. Only
// codes 200, 206 and the redirects carry more than the status code (416 its Content-Range
// only); 206 never carries a content length. A length that is not a decimal number, is
// negative or does not fit 63 bits reads as -1.
HttpResponseInfo parseHttpResponse(std::string_view header);
// The codes whose Location is followed: 301, 302, 303 (asks for a GET, which every request of
// ours is), 307 and 308.
bool isRedirectStatus(int32_t code);

// A Content-Range value of a 206 answer: "bytes FIRST-LAST/TOTAL" (unit in any letter case,
// blanks allowed around the numbers). Nothing for any other form, an unknown total ("*"), or
// numbers out of order (LAST < FIRST, LAST >= TOTAL).
struct ContentRange {
  int64_t first = 0;
  int64_t last = 0;
  int64_t total = 0;
};
std::optional<ContentRange> parseContentRange(std::string_view value);
// The total of a 416 answer's Content-Range, "bytes */TOTAL"; nothing for any other form.
std::optional<int64_t> unsatisfiedRangeTotal(std::string_view value);

// The file name named by a Content-Disposition value: the quoted text after "filename=",
// else the rest of the value without one trailing CR or LF; only the part after the last
// "/". Nothing when there is no "filename=" or the name is empty.
std::optional<std::string> dispositionFileName(std::string_view disposition);
