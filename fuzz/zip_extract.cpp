// Extracts arbitrary bytes as a zip archive into a scratch folder, through the structure
// checks (end record against the central directory, overlapping entries, free space) and
// the parallel writing of the entries. Whatever the bytes, extraction must not crash, must
// not create anything outside its target (the folders above the target hold exactly what
// they held before), and must not write more than the archive's own bytes can hold:
// entries never share data, so the output is bounded by deflate's best ratio.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "install/file_tree.h"
#include "platform/files.h"
#include "zip/zip.h"

namespace {

namespace fs = std::filesystem;

// base/archive.zip and base/a/b/target; ".." twice from an entry would reach base/a.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "zip-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    base = pattern;
    fs::create_directories(base + "/a/b");
  }
  ~Scratch() { removeTree(base); }

  std::string archive() const { return base + "/archive.zip"; }
  std::string target() const { return base + "/a/b/target"; }

  // Every level above the target holds only what the scratch layout put there.
  bool onlyExpectedEntries() const {
    return names(base) == std::vector<std::string>{"a", "archive.zip"} &&
           names(base + "/a") == std::vector<std::string>{"b"} &&
           names(base + "/a/b") == std::vector<std::string>{"target"};
  }

  std::string base;

 private:
  static std::vector<std::string> names(const std::string& path) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(path)) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }
};

// Deflate cannot expand data by more than about 1032 times.
constexpr uintmax_t kMaxDeflateRatio = 1100;

uintmax_t bytesBelow(const std::string& path) {
  uintmax_t total = 0;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(path, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error) && !it->is_symlink(error)) total += it->file_size(error);
  }
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  if (!writeWholeFile(scratch.archive(), std::string(reinterpret_cast<const char*>(data), size))) {
    std::abort();
  }
  ZIP zip;
  int result = zip.extract(scratch.archive(), scratch.target());
  if (result != 0 && result != 1) std::abort();  // the archive and target always exist
  if (!scratch.onlyExpectedEntries()) std::abort();
  if (bytesBelow(scratch.target()) > kMaxDeflateRatio * size + 65536) std::abort();
  removeTree(scratch.target());
  return 0;
}
