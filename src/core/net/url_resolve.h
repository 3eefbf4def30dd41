#pragma once
// Resolving a URL reference (a redirect's Location) against the URL it came from, as RFC 3986
// section 5.2 does it: a reference with a scheme stands alone, "//host/p" keeps the base's
// scheme, "/p" keeps its scheme and host, "p" and "../p" are merged with the base's path, and
// "." and ".." segments are removed in every case. The fragment is dropped (it is never sent).
#include <string>
#include <string_view>

// `base` is an absolute URL ("scheme://authority/path?query"). The result is absolute; when it
// has an authority its path is at least "/".
std::string resolveUrlReference(std::string_view base, std::string_view reference);

// `path` with its "." and ".." segments removed (RFC 3986 section 5.2.4); ".." never climbs
// above the root.
std::string withoutDotSegments(std::string_view path);
