#pragma once
// A small tmpfs mounted on a fresh folder, for tests of a full file system. Mounting needs
// root (or a namespace that allows it); mounted() tells whether it worked, and a test
// skips itself otherwise. Unmounted and removed when the object goes.
#include <string>

class SmallTmpfs {
 public:
  explicit SmallTmpfs(const std::string& size = "1m");
  ~SmallTmpfs();
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool mounted_ = false;
};
