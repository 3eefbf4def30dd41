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
  if (expected.sha256 &&
      (digests.sha256.empty() || lowercase(*expected.sha256) != digests.sha256)) {
    mismatches.push_back({"SHA256", *expected.sha256, digests.sha256});
  }
  if (expected.size && *expected.size != digests.size) {
    mismatches.push_back({"大小", std::to_string(*expected.size), std::to_string(digests.size)});
  }
  return mismatches;
}

ContentHasher::ContentHasher(bool sha256) : md5_(DigestAlgorithm::Md5) {
  if (sha256) sha256_.emplace(DigestAlgorithm::Sha256);
}

void ContentHasher::update(const void* data, size_t length) {
  md5_.update(data, length);
  if (sha256_) sha256_->update(data, length);
  size_ += static_cast<int64_t>(length);
}

ContentDigests ContentHasher::finish() {
  ContentDigests digests{md5_.finishHex(), sha256_ ? sha256_->finishHex() : std::string(), size_};
  size_ = 0;
  return digests;
}

void ContentHasher::restart() {
  md5_.restart();
  if (sha256_) sha256_->restart();
  size_ = 0;
}
