// Any redirect: the input holds, one per line, the current request-URI, the host text, the
// Location value and the Set-Cookie value; its first byte chooses a proxy and whether the
// current URL carried credentials. The resolved settings must give a request that fits or is
// refused and whose every line ends in CR LF, carry only a name=value cookie and only to the
// host that set it, send credentials only where they were given (never in Host, never after a
// move to another host), ask for a path without dot segments, and a refused redirect must
// leave the settings as they were.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/http_redirect.h"
#include "http/http_request.h"
#include "net/url_resolve.h"
#include "net/url_split.h"

namespace {

std::string nextLine(std::string_view& rest) {
  size_t end = rest.find('\n');
  std::string line(rest.substr(0, end));
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

bool same(const HttpSettings& a, const HttpSettings& b) {
  return a.proxy == b.proxy && a.hostText == b.hostText && a.port == b.port &&
         a.requestUri == b.requestUri && a.referer == b.referer && a.extraHeader == b.extraHeader &&
         a.authorization == b.authorization;
}

// The host a request goes to, as credentials and cookies compare it.
std::string hostOf(const HttpSettings& s) {
  return comparableHostName(splitHostPort(s.hostText, s.secure ? 443 : 80).name);
}

// True when the path (before any query) holds a "." or ".." segment.
bool hasDotSegment(std::string_view path) {
  path = path.substr(0, path.find('?'));
  for (size_t at = 0; at != std::string_view::npos; at = path.find('/', at + 1)) {
    std::string_view segment = path.substr(at + 1, path.find('/', at + 1) - at - 1);
    if (segment == "." || segment == "..") return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  HttpSettings settings;
  if (data[0] & 1) settings.proxy = "proxy.example:3128";
  if (data[0] & 8) settings.authorization = "Basic dXNlcjpzZWNyZXQ=";
  settings.requestUri = nextLine(rest);
  settings.hostText = nextLine(rest);
  settings.referer = "";
  // The current settings come from a URL or an earlier redirect: never a line break, and a
  // host text without credentials or anything that ends a host.
  std::string_view breaks("\r\n\0", 3);
  if (settings.requestUri.find_first_of(breaks) != std::string::npos ||
      settings.hostText.find_first_of(std::string_view("\r\n\0/?#@", 7)) != std::string::npos) {
    return 0;
  }
  HttpResponseInfo response;
  response.statusCode = 302;
  if (data[0] & 2) response.location = nextLine(rest);
  if (data[0] & 4) response.cookie = nextLine(rest);
  HttpSettings before = settings;
  RedirectResult result = resolveRedirect(settings, response);
  if (result != RedirectResult::Followed) {
    if (!same(settings, before)) __builtin_trap();
    return 0;
  }
  if (settings.requestUri.size() > 1023) __builtin_trap();
  // Credentials only in Authorization, never in the Host line or the request line.
  if (before.hostText.find('@') == std::string::npos &&
      settings.hostText.find('@') != std::string::npos) {
    __builtin_trap();
  }
  std::string location(withoutFragment(*response.location));
  bool ownCredentials = false;
  if (auto target = splitUrl(resolveUrlReference(currentUrl(before), location))) {
    ownCredentials = target->userInfo.has_value();
  }
  if (settings.authorization && !ownCredentials &&
      !(before.authorization && hostOf(before) == hostOf(settings) &&
        before.secure == settings.secure)) {
    __builtin_trap();
  }
  bool wholeUrl = settings.proxy && !settings.secure;
  if (!wholeUrl && !location.empty() && location.front() != '?' &&
      hasDotSegment(settings.requestUri)) {
    __builtin_trap();
  }
  if (settings.extraHeader) {
    if (!response.cookie) __builtin_trap();
    const std::string& line = *settings.extraHeader;
    if (line.rfind("Cookie: ", 0) != 0 || line.size() < 10 ||
        line.compare(line.size() - 2, 2, "\r\n") != 0 || line.find(';') != std::string::npos) {
      __builtin_trap();
    }
  }
  std::optional<std::string> request = buildHttpRequest(requestFieldsFor(settings));
  if (request && request->size() >= kHttpRequestLimit) __builtin_trap();
  if (request && settings.authorization &&
      requestForLog(*request).find("\r\nAuthorization: " + *settings.authorization) !=
          std::string::npos) {
    __builtin_trap();
  }
  if (request) {
    for (size_t i = 0; i < request->size(); ++i) {
      char c = (*request)[i];
      bool lineEnd = (c == '\r' && i + 1 < request->size() && (*request)[i + 1] == '\n') ||
                     (c == '\n' && i > 0 && (*request)[i - 1] == '\r');
      if ((c == '\r' || c == '\n') && !lineEnd) __builtin_trap();
    }
  }
  return 0;
}
