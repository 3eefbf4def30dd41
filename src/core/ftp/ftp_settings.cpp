// The FTP settings of a task, taken from its parameters and URL.
#include "ftp/ftp_settings.h"

#include "platform/decimal.h"
#include "transfer/task_param.h"

namespace {

constexpr char kAnonymous[] = "anonymous";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// CR and LF end an FTP command; NUL ends a C text.
bool safeInCommand(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

struct HostPart {
  std::string host;
  std::optional<uint16_t> port;  // only when credentials precede the host
  std::optional<std::string> userName;
  std::optional<std::string> password;
};

// "user:password@host:port" -> host, user, password. The host runs from the last "@" to the
// first ":" after it; the user name from the start to the first ":", the password from there
// to that "@".
HostPart splitHostPart(std::string_view hostPart) {
  HostPart out;
  size_t at = hostPart.rfind('@');
  std::string_view host = at == std::string_view::npos ? hostPart : hostPart.substr(at + 1);
  // An IPv6 address comes in brackets: "[::1]:2121".
  HostAndPort where = splitHostPort(host, kFtpDefaultPort);
  out.host = std::move(where.name);
  if (at == std::string_view::npos) return out;
  // A password may hold "@" and ":", so the port is read after the last "@".
  out.port = where.port;
  size_t colon = hostPart.find(':');
  if (colon == std::string_view::npos || colon > at) return out;
  std::string_view user = hostPart.substr(0, colon);
  std::string_view password = hostPart.substr(colon + 1, at - colon - 1);
  if (user.size() >= kFtpCredentialBuffer || password.size() >= kFtpCredentialBuffer) return out;
  out.userName = std::string(user);
  out.password = std::string(password);
  return out;
}

std::string_view lastPart(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

int32_t resolveTransferType(const TaskParam& param, std::string_view path) {
  if (param.ftpTransferType == kFtpTypeText) return kFtpTypeText;
  if (param.ftpTransferType != kFtpTypeByExtension) return kFtpTypeBinary;
  std::string_view list =
      param.binaryExtensions ? std::string_view(*param.binaryExtensions) : std::string_view();
  return binaryByExtension(lastPart(path), list) ? kFtpTypeBinary : kFtpTypeText;
}

}  // namespace

std::string decodeFtpPath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < path.size() && hexValue(path[i + 1]) >= 0 &&
               hexValue(path[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(path[i + 1]) * 16 + hexValue(path[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::string_view ftpPathArgument(std::string_view path) {
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  return path;
}

bool binaryByExtension(std::string_view fileName, std::string_view extensions) {
  size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return false;
  return extensions.find(fileName.substr(dot)) != std::string_view::npos;
}

std::optional<FtpSettings> makeFtpSettings(const TaskParam& param, const UrlParts& url) {
  FtpSettings settings;
  HostPart hostPart = splitHostPart(url.hostPart);
  settings.host = std::move(hostPart.host);
  settings.port = hostPart.port.value_or(url.port);
  settings.userName = param.userName ? *param.userName : kAnonymous;
  settings.password = param.password ? *param.password : kDefaultFtpPassword;
  if (hostPart.userName && hostPart.password) {
    settings.userName = std::move(*hostPart.userName);
    settings.password = std::move(*hostPart.password);
  }
  settings.path = decodeFtpPath(url.path);
  if (settings.path.size() > kFtpPathLimit) return std::nullopt;
  if (!safeInCommand(settings.path) || !safeInCommand(settings.userName) ||
      !safeInCommand(settings.password)) {
    return std::nullopt;
  }
  settings.transferType = resolveTransferType(param, settings.path);
  return settings;
}
