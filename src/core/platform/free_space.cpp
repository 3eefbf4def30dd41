#include "platform/free_space.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <limits>

namespace {

constexpr uint64_t kMaxReserve = 64ULL << 20;
constexpr uint64_t kReserveDivisor = 50;  // 2%

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                      : a + b;
}

uint64_t saturatingMultiply(uint64_t a, uint64_t b) {
  if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) {
    return std::numeric_limits<uint64_t>::max();
  }
  return a * b;
}

}  // namespace

void SpaceNeed::add(uint64_t size) {
  bytes = saturatingAdd(bytes, size);
  files = saturatingAdd(files, 1);
}

bool hasRoomFor(const std::string& path, const SpaceNeed& need) {
  struct statvfs fs {};
  if (::statvfs(path.c_str(), &fs) != 0) return true;
  const uint64_t block = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  const uint64_t size = saturatingMultiply(fs.f_blocks, block);
  const uint64_t available = saturatingMultiply(fs.f_bavail, block);
  const uint64_t reserve = std::min(kMaxReserve, size / kReserveDivisor);
  uint64_t required = saturatingAdd(need.bytes, saturatingMultiply(need.files, block));
  required = saturatingAdd(required, reserve);
  if (required > available) return false;
  return fs.f_files == 0 || need.files <= fs.f_favail;
}
