#pragma once
// A scratch folder that is removed with everything in it when the object goes. It is
// readable by all (0755), so a root-started nginx whose workers run as nobody can serve it.
#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;
  // Writes bytes to path()/name (parent folders created) and returns the full path.
  std::string write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

// A byte string of `size` bytes that differs at every position modulo a large prime, so a
// misplaced range shows up in a comparison.
std::string patternBytes(size_t size, unsigned seed = 1);
