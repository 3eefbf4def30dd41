#include "site_manifest.h"

#include "net/url_split.h"
#include "platform/codepage.h"

std::optional<ManifestSource> decodeManifestSource(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  ManifestSource source;
  source.crlf = bytes.find('\r') != std::string_view::npos || bytes.find('\n') == bytes.npos;
  if (isValidUtf8(bytes)) {
    source.text = std::string(bytes);
    return source;
  }
  source.text = gbkToUtf8(bytes);
  source.encoding = TextEncoding::Gbk;
  if (utf8ToGbk(source.text) != bytes) return std::nullopt;
  return source;
}

std::string encodeManifestSource(const ManifestSource& source) {
  std::string text = source.text;
  if (!source.crlf) std::erase(text, '\r');  // the INI writer ends new lines in CR LF
  return source.encoding == TextEncoding::Gbk ? utf8ToGbk(text) : text;
}

std::optional<std::string> sitePathOf(const std::string& siteDir, const std::string& url) {
  std::optional<UrlParts> parts = splitUrl(url);
  if (!parts) return std::nullopt;
  std::string_view path = parts->path;
  path = path.substr(0, path.find('?'));
  const std::string decoded = percentDecoded(path);
  if (decoded.empty() || decoded.front() != '/' || decoded.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  for (size_t start = 1; start <= decoded.size();) {
    size_t end = decoded.find('/', start);
    if (end == std::string::npos) end = decoded.size();
    if (std::string_view(decoded).substr(start, end - start) == "..") return std::nullopt;
    start = end + 1;
  }
  std::string folder = siteDir;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + decoded;
}
