#include "temp_dir.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "platform/files.h"

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "dltest-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  ::chmod(pattern.c_str(), 0755);
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

std::string TempDir::file(const std::string& name) const {
  return path_ + "/" + name;
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
  std::string full = file(name);
  std::filesystem::create_directories(std::filesystem::path(full).parent_path());
  if (!writeWholeFile(full, bytes)) throw std::runtime_error("cannot write " + full);
  ::chmod(full.c_str(), 0644);
  return full;
}

std::string patternBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t state = 2166136261u ^ seed;
  for (size_t i = 0; i < size; ++i) {
    state = state * 16777619u + static_cast<uint32_t>(i / 251);
    bytes[i] = static_cast<char>((state >> 13) ^ (i % 251));
  }
  return bytes;
}
