// Following a 301 or 302 response.
#include "http/http_redirect.h"

#include <cctype>

#include "net/url_split.h"

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Text up to its last "/", without the "/"; the whole text when it has none.
std::string upToLastSlash(std::string_view text) {
  size_t slash = text.rfind('/');
  return std::string(slash == std::string_view::npos ? text : text.substr(0, slash));
}

// A relative location resolved against a request path.
std::string resolvePath(std::string_view currentPath, std::string_view location) {
  if (startsWith(location, "/")) return std::string(location);
  size_t slash = currentPath.rfind('/');
  std::string base(slash == std::string_view::npos ? std::string_view("/")
                                                   : currentPath.substr(0, slash + 1));
  return base + std::string(location);
}

// The path part of a whole "http://host/path" request-URI.
std::string_view pathOfUrl(std::string_view url) {
  size_t scheme = url.find("://");
  size_t from = scheme == std::string_view::npos ? 0 : scheme + 3;
  size_t slash = url.find('/', from);
  return slash == std::string_view::npos ? std::string_view("/") : url.substr(slash);
}

// The host name of a host part: without credentials and port, in lower case.
std::string hostName(std::string_view hostPart) {
  size_t at = hostPart.rfind('@');
  if (at != std::string_view::npos) hostPart.remove_prefix(at + 1);
  hostPart = hostPart.substr(0, hostPart.find(':'));
  std::string name(hostPart);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

RedirectResult resolveRedirect(HttpSettings& settings, const HttpResponseInfo& response) {
  if (!response.location) return RedirectResult::NoLocation;
  const std::string location(withoutFragment(*response.location));
  // A line break would end the request line it goes into.
  if (location.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    return RedirectResult::Refused;
  }
  HttpSettings next = settings;
  bool viaProxy = next.proxy.has_value() && !next.proxy->empty();

  if (response.cookie) {
    std::string_view value = *response.cookie;
    if (value.size() > kRedirectCookieLimit) return RedirectResult::Refused;
    value = value.substr(0, value.find_first_of(std::string_view(";\r\n\0", 4)));
    next.extraHeader = "Cookie: " + std::string(value) + "\r\n";
    next.cookieHost = hostName(settings.hostText);
  }

  // A plain http request through a proxy names the whole URL; https goes through a tunnel
  // and names the path only.
  bool wholeUrl = viaProxy && !settings.secure;
  if (auto parts = splitUrl(location); parts && parts->protocol == kProtocolHttp) {
    if (settings.secure && !parts->secure) return RedirectResult::Downgrade;
    next.secure = parts->secure;
    next.hostText = parts->hostPart;
    next.port = parts->port;
    next.requestUri = viaProxy && !next.secure ? location : parts->path;
    next.referer = upToLastSlash(location);
  } else if (location.find("://") != std::string::npos || location.empty()) {
    return RedirectResult::Refused;  // ftp:// and every other scheme, or no target at all
  } else {
    std::string scheme = settings.secure ? "https://" : "http://";
    std::string path =
        resolvePath(wholeUrl ? pathOfUrl(settings.requestUri) : settings.requestUri, location);
    next.requestUri = wholeUrl ? scheme + next.hostText + path : path;
    next.referer = upToLastSlash(scheme + next.hostText + "/" + location);
  }
  if (next.requestUri.size() > 1023) return RedirectResult::Refused;
  // A cookie is the business of the host that set it alone.
  if (next.extraHeader && hostName(next.hostText) != next.cookieHost) next.extraHeader.reset();
  settings = std::move(next);
  return RedirectResult::Followed;
}
