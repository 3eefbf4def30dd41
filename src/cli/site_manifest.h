#pragma once
// The vendor's side of the manifest: the site folder it is published from, the files its
// URLs name there, and the manifest's text edited in the encoding it came in.
#include <optional>
#include <string>
#include <string_view>

// The manifest below a site folder: the path its URL has on every vendor site.
inline constexpr char kSiteManifestPath[] = "/xiazaiqi/xiazai.txt";

enum class TextEncoding { Utf8, Gbk };

struct ManifestSource {
  std::string text;  // UTF-8
  TextEncoding encoding = TextEncoding::Utf8;
  bool crlf = true;  // its lines end in CR LF (new lines get the same)
};

// The manifest's bytes as UTF-8 text: valid UTF-8 (a byte-order mark included) stays as it
// is; anything else is read as GBK, provided it converts back byte for byte. Nothing when it
// is neither, or holds a zero byte.
std::optional<ManifestSource> decodeManifestSource(std::string_view bytes);
// The text in the source's encoding and line breaks again.
std::string encodeManifestSource(const ManifestSource& source);

// The file below `siteDir` that a web server rooted there serves for `url`: the URL's path
// (query and fragment dropped, percent escapes decoded) below the folder. Nothing when the
// URL has no path, or the path holds a ".." segment or a zero byte.
std::optional<std::string> sitePathOf(const std::string& siteDir, const std::string& url);
