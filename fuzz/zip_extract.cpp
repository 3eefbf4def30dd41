// Extracts arbitrary bytes as a zip archive into a scratch folder. Whatever the bytes,
// extraction must not crash and must not create anything outside its target: the folders
// above the target hold exactly what they held before.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "install/file_tree.h"
#include "install/zip.h"
#include "platform/files.h"

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
  removeTree(scratch.target());
  return 0;
}
