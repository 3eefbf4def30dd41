// Resolving a URL reference against a base URL.
#include "net/url_resolve.h"

#include <cctype>
#include <optional>

namespace {

// The five parts of a URI reference (RFC 3986 appendix B); a missing part is absent, which
// differs from an empty one ("http://h?" has an empty query).
struct Reference {
  std::optional<std::string_view> scheme;
  std::optional<std::string_view> authority;
  std::string_view path;
  std::optional<std::string_view> query;
};

bool validScheme(std::string_view text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text.front()))) return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
      return false;
    }
  }
  return true;
}

Reference parseReference(std::string_view text) {
  text = text.substr(0, text.find('#'));
  Reference ref;
  size_t colon = text.find(':');
  // A scheme ends at the first ":" before any "/", "?" (a "#" is already gone).
  if (colon != std::string_view::npos && colon < text.find_first_of("/?") &&
      validScheme(text.substr(0, colon))) {
    ref.scheme = text.substr(0, colon);
    text.remove_prefix(colon + 1);
  }
  if (text.substr(0, 2) == "//") {
    text.remove_prefix(2);
    size_t end = std::min(text.find_first_of("/?"), text.size());
    ref.authority = text.substr(0, end);
    text.remove_prefix(end);
  }
  size_t question = text.find('?');
  ref.path = text.substr(0, question);
  if (question != std::string_view::npos) ref.query = text.substr(question + 1);
  return ref;
}

// The base's path up to and including its last "/", followed by the reference's path.
std::string merged(const Reference& base, std::string_view path) {
  if (base.authority && base.path.empty()) return "/" + std::string(path);
  size_t slash = base.path.rfind('/');
  if (slash == std::string_view::npos) return std::string(path);
  return std::string(base.path.substr(0, slash + 1)) + std::string(path);
}

// The output buffer without its last segment and the "/" before it.
void dropLastSegment(std::string& output) {
  size_t slash = output.rfind('/');
  output.erase(slash == std::string::npos ? 0 : slash);
}

}  // namespace

std::string withoutDotSegments(std::string_view input) {
  std::string output;
  while (!input.empty()) {
    if (input.substr(0, 3) == "../") {
      input.remove_prefix(3);
    } else if (input.substr(0, 2) == "./") {
      input.remove_prefix(2);
    } else if (input.substr(0, 3) == "/./") {
      input.remove_prefix(2);
    } else if (input == "/.") {
      input = "/";
    } else if (input.substr(0, 4) == "/../") {
      input.remove_prefix(3);
      dropLastSegment(output);
    } else if (input == "/..") {
      input = "/";
      dropLastSegment(output);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      size_t end = std::min(input.find('/', 1), input.size());
      output.append(input.substr(0, end));
      input.remove_prefix(end);
    }
  }
  return output;
}

std::string resolveUrlReference(std::string_view baseText, std::string_view referenceText) {
  Reference base = parseReference(baseText);
  Reference ref = parseReference(referenceText);
  std::string_view scheme = base.scheme.value_or(std::string_view());
  std::optional<std::string_view> authority = base.authority;
  std::string path;
  std::optional<std::string_view> query = ref.query;
  if (ref.scheme) {
    scheme = *ref.scheme;
    authority = ref.authority;
    path = withoutDotSegments(ref.path);
  } else if (ref.authority) {
    authority = ref.authority;
    path = withoutDotSegments(ref.path);
  } else if (ref.path.empty()) {
    path = std::string(base.path);
    if (!query) query = base.query;
  } else if (ref.path.front() == '/') {
    path = withoutDotSegments(ref.path);
  } else {
    path = withoutDotSegments(merged(base, ref.path));
  }
  std::string out(scheme);
  out += ':';
  if (authority) {
    out.append("//").append(*authority);
    if (path.empty() || path.front() != '/') path.insert(0, "/");
  }
  out += path;
  if (query) out.append("?").append(*query);
  return out;
}
