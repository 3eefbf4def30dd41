#pragma once
// What a transfer's bytes must be before they may take the target's name: the values a caller
// knows in advance (a package's MD5, SHA-256 and size from the vendor's manifest). A task with
// expected content hashes its bytes while they are written and renames its partial file over the
// target only when every expected value matches; otherwise the bytes are discarded and the target
// is left as it was.
//
// ContentHasher is the one place where a transfer's digests are computed: a new expected
// value (another digest, a size) joins ExpectedContent, ContentDigests, the hasher and
// compareContent, and nothing else changes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/digest_stream.h"

struct ExpectedContent {
  std::optional<std::string> md5;     // hex digits, either case (anything else never matches)
  std::optional<std::string> sha256;  // the same
  std::optional<int64_t> size;        // bytes; a server that announces another size is refused

  bool empty() const { return !md5 && !sha256 && !size; }
};

// The digests of a transfer's bytes, lowercase hex, and how many bytes they cover.
struct ContentDigests {
  std::string md5;
  std::string sha256;
  int64_t size = 0;
};

// One expected value the bytes do not have.
struct ContentMismatch {
  std::string what;      // "MD5", "SHA256" or "大小"
  std::string expected;  // as the caller gave it
  std::string actual;
};

// The expected values `digests` do not meet, in a fixed order; empty when all match.
std::vector<ContentMismatch> compareContent(const ExpectedContent& expected,
                                            const ContentDigests& digests);

// Every digest a transfer is checked against, over one pass of its bytes in file order.
class ContentHasher {
 public:
  ContentHasher();
  void update(const void* data, size_t length);
  // The digests of everything added; the hasher starts afresh afterwards.
  ContentDigests finish();
  void restart();

 private:
  DigestStream md5_;
  DigestStream sha256_;
  int64_t size_ = 0;
};
