// Splitting a task URL, and the local file name a URL path stands for.
#include "net/url_split.h"

#include <algorithm>
#include <cctype>

#include "platform/decimal.h"

namespace {

struct Scheme {
  std::string_view prefix;
  int32_t protocol;
  uint16_t defaultPort;
  bool secure = false;
};

constexpr Scheme kSchemes[] = {
    {"http://", kProtocolHttp, 80}, {"https://", kProtocolHttp, 443, true},
    {"ftp://", kProtocolFtp, 21},   {"mmst://", kProtocolMms, 1755},
    {"mms://", kProtocolMms, 1755}, {"rtsp://", kProtocolRtsp, 554},
};

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string percentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
        hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::optional<UrlParts> splitUrl(std::string_view url) {
  // A line break or NUL would end the request line or command the URL's parts go into.
  if (url.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    return std::nullopt;
  }
  for (const Scheme& scheme : kSchemes) {
    if (!startsWithNoCase(url, scheme.prefix)) continue;
    std::string_view rest = url.substr(scheme.prefix.size());
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    UrlParts parts;
    parts.protocol = scheme.protocol;
    parts.secure = scheme.secure;
    parts.hostPart = std::string(rest.substr(0, slash));
    parts.authority = std::string(authorityOf(parts.hostPart));
    if (auto userInfo = userInfoOf(parts.hostPart)) parts.userInfo = std::string(*userInfo);
    parts.path = std::string(withoutFragment(rest.substr(slash)));
    parts.port = splitHostPort(parts.hostPart, scheme.defaultPort).port;
    return parts;
  }
  return std::nullopt;
}

std::string_view authorityOf(std::string_view hostPart) {
  size_t at = hostPart.rfind('@');
  return at == std::string_view::npos ? hostPart : hostPart.substr(at + 1);
}

std::optional<std::string_view> userInfoOf(std::string_view hostPart) {
  size_t at = hostPart.rfind('@');
  if (at == std::string_view::npos) return std::nullopt;
  return hostPart.substr(0, at);
}

Credentials decodeUserInfo(std::string_view userInfo) {
  size_t colon = userInfo.find(':');
  Credentials credentials;
  credentials.user = percentDecoded(userInfo.substr(0, colon));
  if (colon != std::string_view::npos) {
    credentials.password = percentDecoded(userInfo.substr(colon + 1));
  }
  return credentials;
}

std::string_view withoutTrailingDot(std::string_view name) {
  if (name.size() > 1 && name.back() == '.') name.remove_suffix(1);
  return name;
}

std::string comparableHostName(std::string_view name) {
  std::string text(withoutTrailingDot(name));
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

HostAndPort splitHostPort(std::string_view host, uint16_t defaultPort) {
  host = authorityOf(host);
  HostAndPort result;
  result.port = defaultPort;
  std::string_view afterName;
  if (!host.empty() && host.front() == '[') {
    size_t close = host.find(']');
    if (close == std::string_view::npos) {
      result.name = std::string(host.substr(1));
      return result;
    }
    result.name = std::string(host.substr(1, close - 1));
    afterName = host.substr(close + 1);
  } else {
    size_t colon = host.find(':');
    result.name = std::string(host.substr(0, colon));
    if (colon != std::string_view::npos) afterName = host.substr(colon);
  }
  if (!afterName.empty() && afterName.front() == ':') {
    if (auto port = leadingDecimalModulo(afterName.substr(1), 65536)) {
      result.port = static_cast<uint16_t>(*port);
    }
  }
  return result;
}

std::string_view withoutFragment(std::string_view url) {
  return url.substr(0, url.find('#'));
}

std::string fileNameFromUrlPath(std::string_view path) {
  constexpr size_t kLimit = 1023;
  path = path.substr(0, path.find_first_of("?#"));
  size_t slash = path.rfind('/');
  std::string_view part = slash == std::string_view::npos ? path : path.substr(slash + 1);
  std::string name;
  for (size_t i = 0; i < part.size() && name.size() < kLimit; ++i) {
    char c = part[i];
    if (c == '+') {
      name += ' ';
    } else if (c == '%' && i + 2 < part.size() && hexValue(part[i + 1]) >= 0 &&
               hexValue(part[i + 2]) >= 0) {
      name += static_cast<char>(hexValue(part[i + 1]) * 16 + hexValue(part[i + 2]));
      i += 2;
    } else {
      name += c;
    }
  }
  return name;
}

std::string urlWithoutPassword(std::string_view url) {
  size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  size_t host = scheme + 3;
  size_t end = std::min(url.find('/', host), url.size());
  if (end == host) return std::string(url);
  size_t at = url.rfind('@', end - 1);
  size_t colon = url.find(':', host);
  if (at == std::string_view::npos || at < host || colon == std::string_view::npos || colon > at) {
    return std::string(url);
  }
  return std::string(url.substr(0, colon)) + std::string(url.substr(at));
}

std::string urlWithoutUserInfo(std::string_view url) {
  size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  size_t host = scheme + 3;
  size_t end = std::min(url.find('/', host), url.size());
  size_t at = url.substr(host, end - host).rfind('@');
  if (at == std::string_view::npos) return std::string(url);
  return std::string(url.substr(0, host)) + std::string(url.substr(host + at + 1));
}

std::string textWithoutUrlPasswords(std::string_view text) {
  std::string out;
  size_t from = 0;
  for (size_t scheme; (scheme = text.find("://", from)) != std::string_view::npos;) {
    size_t host = scheme + 3;
    size_t end = std::min(text.find_first_of("/ \t\r\n", host), text.size());
    std::string_view hostPart = text.substr(host, end - host);
    size_t at = hostPart.rfind('@');
    size_t colon = hostPart.find(':');
    if (at != std::string_view::npos && colon != std::string_view::npos && colon < at) {
      out.append(text.substr(from, host + colon - from));
      out.append(hostPart.substr(at));
    } else {
      out.append(text.substr(from, end - from));
    }
    from = end;
  }
  out.append(text.substr(from));
  return out;
}
