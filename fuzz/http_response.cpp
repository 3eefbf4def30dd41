// Any received bytes as the start of an HTTP response: finding the header block and
// parsing it must give defined values, no header value may hold a CR or LF (it could end a
// line of a request it is copied into), a Content-Range that parses is in order (a 416's
// total is never negative), and a file
// name taken from Content-Disposition must stay inside the target folder.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "http/http_response.h"
#include "transfer/name_clash.h"

namespace {

void checkValue(const std::optional<std::string>& value) {
  if (value && value->find_first_of("\r\n") != std::string::npos) __builtin_trap();
}

void checkRange(std::string_view text) {
  std::optional<ContentRange> range = parseContentRange(text);
  if (range && (range->first < 0 || range->last < range->first || range->total <= range->last)) {
    __builtin_trap();
  }
}

void check(const HttpResponseInfo& info) {
  for (const auto* value : {&info.cookie, &info.location, &info.disposition, &info.contentRange,
                            &info.via, &info.acceptRanges, &info.connection, &info.contentType,
                            &info.lastModified, &info.server}) {
    checkValue(*value);
  }
  if (info.contentRange) checkRange(*info.contentRange);
  if (info.contentLength < -1) __builtin_trap();
  int32_t code = info.statusCode;
  if (code < 0 || code > 999) __builtin_trap();
  bool detailed = code == 200 || code == 206 || code == 301 || code == 302;
  if (!detailed && (info.contentLength != -1 || info.location || info.cookie || info.disposition)) {
    __builtin_trap();
  }
  if (code == 206 && info.contentLength != -1) __builtin_trap();
  if (info.location && code != 301 && code != 302) __builtin_trap();
  if (info.disposition) {
    std::optional<std::string> name = dispositionFileName(*info.disposition);
    if (name && (name->empty() || name->find('/') != std::string::npos)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view received(reinterpret_cast<const char*>(data), size);
  check(parseHttpResponse(received));
  if (std::optional<HeaderSpan> span = findHeaderBlock(received)) {
    if (span->begin >= span->end || span->end > size) __builtin_trap();
    std::string_view header = received.substr(span->begin, span->end - span->begin);
    if (header.substr(0, 5) != "HTTP/" || header.substr(header.size() - 4) != "\r\n\r\n") {
      __builtin_trap();
    }
    check(parseHttpResponse(header));
  }
  checkRange(received);
  std::optional<int64_t> total = unsatisfiedRangeTotal(received);
  if (total && *total < 0) __builtin_trap();
  std::optional<std::string> name = dispositionFileName(received);
  if (name && !isUsableFileName(*name) && *name != "." && *name != ".." &&
      name->find('\0') == std::string::npos) {
    __builtin_trap();
  }
  return 0;
}
