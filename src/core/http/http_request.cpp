// The text of an HTTP GET request.
#include "http/http_request.h"

#include <openssl/evp.h>

#include <algorithm>
#include <vector>

#include "http/http_settings.h"
#include "net/url_split.h"

namespace {

bool present(const std::optional<std::string>* field) {
  return field != nullptr && field->has_value();
}

}  // namespace

std::optional<std::string> buildHttpRequest(const HttpRequestFields& fields) {
  std::string text;
  text.reserve(kHttpRequestLimit);
  bool viaProxy = present(fields.proxy) && !(*fields.proxy)->empty();
  text.append("GET ").append(fields.requestUri).append(" HTTP/1.1\r\n");
  text.append("Host: ").append(fields.hostText).append("\r\n");
  if (present(fields.authorization)) {
    text.append("Authorization: ").append(**fields.authorization).append("\r\n");
  }
  if (viaProxy) {
    text.append("User-Agent: ").append(kHttpUserAgent).append("\r\n");
    text.append(fields.rangeLine);
    text.append("Proxy-Connection: Keep-Alive\r\n\r\n");
  } else {
    text.append("Accept: */*\r\n");
    text.append("Referer: ");
    if (present(fields.referer)) text.append(**fields.referer);
    text.append("\r\n");
    text.append("User-Agent: ")
        .append(present(fields.userAgent) ? std::string_view(**fields.userAgent)
                                          : std::string_view(kHttpUserAgent))
        .append("\r\n");
    if (!fields.rangeLine.empty()) {
      text.append(fields.rangeLine);
    } else if (present(fields.extraHeader)) {
      text.append(**fields.extraHeader);
    }
    text.append("Pragma: no-cache\r\n");
    text.append("Cache-Control: no-cache\r\n");
    text.append("Connection: close\r\n\r\n");
  }
  if (text.size() >= kHttpRequestLimit) return std::nullopt;
  return text;
}

std::string requestForLog(std::string request) {
  constexpr std::string_view kField = "\r\nAuthorization: ";
  size_t at = request.find(kField);
  if (at == std::string::npos) return request;
  size_t value = at + kField.size();
  request.replace(value, request.find("\r\n", value) - value, "******");
  return request;
}

std::string basicAuthorization(std::string_view userInfo) {
  Credentials credentials = decodeUserInfo(userInfo);
  std::string plain = credentials.user + ":" + credentials.password;
  std::vector<unsigned char> encoded(4 * ((plain.size() + 2) / 3) + 1);
  int length = EVP_EncodeBlock(encoded.data(), reinterpret_cast<const unsigned char*>(plain.data()),
                               static_cast<int>(plain.size()));
  return "Basic " + std::string(reinterpret_cast<const char*>(encoded.data()),
                                static_cast<size_t>(std::max(length, 0)));
}

HttpRequestFields requestFieldsFor(const HttpSettings& settings, std::string_view rangeLine) {
  HttpRequestFields fields;
  // Through a CONNECT tunnel the request goes to the server itself, in the direct form.
  fields.proxy = settings.secure ? nullptr : &settings.proxy;
  fields.requestUri = settings.requestUri;
  fields.hostText = settings.hostText;
  fields.referer = &settings.referer;
  fields.userAgent = &settings.userAgent;
  fields.extraHeader = &settings.extraHeader;
  fields.authorization = &settings.authorization;
  fields.rangeLine = rangeLine;
  return fields;
}
