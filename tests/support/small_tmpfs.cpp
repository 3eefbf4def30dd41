#include "small_tmpfs.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

SmallTmpfs::SmallTmpfs(const std::string& size) {
  std::string pattern = (std::filesystem::temp_directory_path() / "tmpfs-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return;
  path_ = pattern;
  const std::string options = "size=" + size + ",mode=0755";
  mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallTmpfs::~SmallTmpfs() {
  if (path_.empty()) return;
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  ::rmdir(path_.c_str());
}
