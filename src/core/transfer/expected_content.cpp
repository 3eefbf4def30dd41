#include "transfer/expected_content.h"

#include <algorithm>
#include <cctype>

namespace {

std::string lowercase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::vector<ContentMismatch> compareContent(const ExpectedContent& expected,
                                            const ContentDigests& digests) {
  std::vector<ContentMismatch> mismatches;
  // A digest that could not be computed (empty) matches nothing.
  if (expected.md5 && (digests.md5.empty() || lowercase(*expected.md5) != digests.md5)) {
    mismatches.push_back({"MD5", *expected.md5, digests.md5});
  }
  return mismatches;
}

ContentHasher::ContentHasher() : md5_(DigestAlgorithm::Md5) {}

void ContentHasher::update(const void* data, size_t length) {
  md5_.update(data, length);
}

ContentDigests ContentHasher::finish() {
  return ContentDigests{md5_.finishHex()};
}

void ContentHasher::restart() {
  md5_.restart();
}
