// Following a redirect response.
#include "http/http_redirect.h"

#include "http/http_request.h"
#include "net/url_resolve.h"
#include "net/url_split.h"

namespace {

// Text up to its last "/", without the "/"; the whole text when it has none.
std::string upToLastSlash(std::string_view text) {
  size_t slash = text.rfind('/');
  return std::string(slash == std::string_view::npos ? text : text.substr(0, slash));
}

// The path part of a whole "http://host/path" request-URI.
std::string_view pathOfUrl(std::string_view url) {
  size_t scheme = url.find("://");
  size_t from = scheme == std::string_view::npos ? 0 : scheme + 3;
  size_t slash = url.find('/', from);
  return slash == std::string_view::npos ? std::string_view("/") : url.substr(slash);
}

// A plain http request through a proxy names the whole URL; https goes through a tunnel and
// names the path only.
bool namesWholeUrl(const HttpSettings& settings) {
  return settings.proxy && !settings.proxy->empty() && !settings.secure;
}

// Scheme, host and port: where credentials may go.
struct Origin {
  bool secure = false;
  std::string host;
  uint16_t port = 0;
  bool operator==(const Origin&) const = default;
};

Origin originOf(const HttpSettings& settings) {
  HostAndPort where = splitHostPort(settings.hostText, settings.secure ? 443 : 80);
  return {settings.secure, comparableHostName(where.name), where.port};
}

std::string cookieHostOf(const HttpSettings& settings) {
  return comparableHostName(splitHostPort(settings.hostText, 0).name);
}

// A reference that keeps the current scheme and host: no scheme and no "//host".
bool pathOnly(std::string_view location) {
  if (location.substr(0, 2) == "//") return false;
  size_t colon = location.find(':');
  return colon == std::string_view::npos || colon > location.find_first_of("/?");
}

}  // namespace

std::string currentUrl(const HttpSettings& settings) {
  std::string path(namesWholeUrl(settings) ? pathOfUrl(settings.requestUri)
                                           : std::string_view(settings.requestUri));
  return (settings.secure ? "https://" : "http://") + settings.hostText + path;
}

RedirectResult resolveRedirect(HttpSettings& settings, const HttpResponseInfo& response) {
  if (!response.location) return RedirectResult::NoLocation;
  const std::string location(withoutFragment(*response.location));
  // A line break would end the request line it goes into.
  if (location.empty() ||
      location.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    return RedirectResult::Refused;
  }
  HttpSettings next = settings;
  if (response.cookie) {
    std::string_view value = *response.cookie;
    if (value.size() > kRedirectCookieLimit) return RedirectResult::Refused;
    value = value.substr(0, value.find_first_of(std::string_view(";\r\n\0", 4)));
    next.extraHeader = "Cookie: " + std::string(value) + "\r\n";
    next.cookieHost = cookieHostOf(settings);
  }

  std::string target = resolveUrlReference(currentUrl(settings), location);
  std::optional<UrlParts> parts = splitUrl(target);
  // ftp:// and every other scheme, or no usable host.
  if (!parts || parts->protocol != kProtocolHttp || parts->authority.empty()) {
    return RedirectResult::Refused;
  }
  if (settings.secure && !parts->secure) return RedirectResult::Downgrade;
  next.secure = parts->secure;
  next.hostText = parts->authority;
  next.port = parts->port;
  std::string plain = urlWithoutUserInfo(target);
  next.requestUri = namesWholeUrl(next) ? plain : parts->path;
  if (pathOnly(location)) {
    std::string scheme = settings.secure ? "https://" : "http://";
    next.referer = upToLastSlash(scheme + next.hostText + "/" + location);
  } else {
    next.referer = upToLastSlash(plain);
  }
  if (parts->userInfo) {
    next.authorization = basicAuthorization(*parts->userInfo);
  } else if (!(originOf(next) == originOf(settings))) {
    next.authorization.reset();
  }
  if (next.requestUri.size() > 1023) return RedirectResult::Refused;
  // A cookie is the business of the host that set it alone.
  if (next.extraHeader && cookieHostOf(next) != next.cookieHost) next.extraHeader.reset();
  settings = std::move(next);
  return RedirectResult::Followed;
}
