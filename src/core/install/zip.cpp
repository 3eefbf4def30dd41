#include "install/zip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <limits>

#include "install/entry_path.h"
#include "install/target_tree.h"
#include "install/zip_reader.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/unique_fd.h"

namespace {

constexpr size_t kHeadSize = 32;

bool readFully(int fd, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool writeFully(int fd, const char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The archive must open with a local file header whose name is not empty: the signature
// PK 3 4, and a positive signed value at offset 24 (the upper half of the uncompressed size
// followed by the name length).
bool startsWithLocalHeader(const std::string& archive) {
  UniqueFd fd(::open(archive.c_str(), O_RDONLY | O_CLOEXEC));
  char head[kHeadSize];
  if (!fd || !readFully(fd.get(), head, sizeof head)) return false;
  if (head[0] != 'P' || head[1] != 'K' || head[2] != 3 || head[3] != 4) return false;
  uint32_t value = 0;
  for (int k = 0; k < 4; ++k)
    value |= static_cast<uint32_t>(static_cast<uint8_t>(head[24 + k])) << (8 * k);
  return static_cast<int32_t>(value) >= 1;
}

// A relative target (without "..") gets the missing parents of its files created, as a
// relative output path always did; an absolute one relies on directory entries.
bool parentsCreatedBelow(const std::string& target) {
  return !target.empty() && target[0] != '/' && target.find("../") == std::string::npos &&
         target.find("..\\") == std::string::npos;
}

timespec toTimespec(uint64_t fileTime) {
  timespec value{};
  if (fileTime == 0) {
    value.tv_nsec = UTIME_OMIT;
    return value;
  }
  const int64_t ticks = static_cast<int64_t>(fileTime - kUnixEpochAsFileTime);
  int64_t seconds = ticks / 10000000, rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  value.tv_sec = static_cast<time_t>(seconds);
  value.tv_nsec = static_cast<long>(rest * 100);
  return value;
}

void setFileTimes(int fd, const ZipEntryInfo& info) {
  const timespec times[2] = {toTimespec(info.accessTime), toTimespec(info.writeTime)};
  ::futimens(fd, times);
}

// Every extracted file ends up readable and writable by its owner ("normal").
void makeNormal(int fd) {
  struct stat state {};
  if (::fstat(fd, &state) != 0) return;
  if ((state.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR)) {
    ::fchmod(fd, (state.st_mode & 07777) | S_IRUSR | S_IWUSR);
  }
}

// Copies the open entry's data into the file block by block; true when every block was
// written and the data match the recorded size and CRC-32.
bool copyEntryData(ZipReader& reader, int fd) {
  char block[ZIP::kBlockSize];
  uLong crc = crc32(0, nullptr, 0);
  uint64_t total = 0;
  for (;;) {
    int n = reader.read(block, sizeof block);
    if (n < 0) return false;
    if (n == 0) break;
    if (!writeFully(fd, block, static_cast<size_t>(n))) return false;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(block), static_cast<uInt>(n));
    total += static_cast<uint64_t>(n);
  }
  const ZipEntryRecord& record = reader.current();
  return total == record.uncompressedSize && static_cast<uint32_t>(crc) == record.crc;
}

std::string outputPath(const std::string& target, const std::vector<std::string>& path) {
  std::string full = target;
  if (full.back() != '/') full += '/';
  return full + joinComponents(path);
}

}  // namespace

int ZIP::extract(const std::string& archive, const std::string& target) {
  bool stopped = false;
  int result = run(archive, target);
  if (result == 1 && cancelRequested_) stopped = true;
  if (!stopped) {
    currentIndex_ = entryCount_;
    raiseProgress();
  }
  entryCount_ = 0;
  currentIndex_ = 0;
  currentPath_.clear();
  cancelRequested_ = false;
  createParents_ = false;
  unflaggedNames_ = UnflaggedNames::Utf8;
  return result;
}

int ZIP::run(const std::string& archive, const std::string& target) {
  cancelRequested_ = false;
  if (archive.empty() || target.empty() || !fileExists(archive)) return -1;
  if (!createDirectoryPath(target)) return 0;
  if (!startsWithLocalHeader(archive)) return 0;
  ZipReader reader;
  if (!reader.open(archive) || !countEntries(reader)) return 0;
  TargetTree tree;
  if (!tree.open(target)) return 0;
  createParents_ = parentsCreatedBelow(target);
  return extractEntries(reader, tree, target);
}

bool ZIP::countEntries(ZipReader& reader) {
  int64_t count = 0;
  unflaggedNames_ = UnflaggedNames::Utf8;
  ZipReader::Step step = reader.first();
  while (step == ZipReader::Step::Entry) {
    const ZipEntryRecord& record = reader.current();
    if (!hasUtf8NameFlag(record) && !isValidUtf8(record.rawName)) {
      unflaggedNames_ = UnflaggedNames::Gbk;
    }
    ++count;
    step = reader.next();
  }
  entryCount_ = static_cast<int32_t>(std::min<int64_t>(count, std::numeric_limits<int32_t>::max()));
  return step == ZipReader::Step::End;
}

int ZIP::extractEntries(ZipReader& reader, TargetTree& tree, const std::string& target) {
  ZipReader::Step step = reader.first();
  for (int32_t index = 0; step == ZipReader::Step::Entry; ++index, step = reader.next()) {
    if (!handleEntry(reader, tree, target, index)) return 0;
    currentIndex_ = index;
    raiseProgress();
    if (cancelRequested_) return 1;
  }
  return step == ZipReader::Step::End ? 1 : 0;
}

bool ZIP::handleEntry(ZipReader& reader, TargetTree& tree, const std::string& target,
                      int32_t index) {
  const ZipEntryRecord& record = reader.current();
  if (record.rawName.size() >= kNameLimit || record.rawName.find('\0') != std::string::npos) {
    return false;
  }
  ZipEntryInfo info = describeEntry(record, index, unflaggedNames_);
  std::optional<std::vector<std::string>> path = entryPathComponents(info.name);
  if (!path) return false;
  currentPath_ = outputPath(target, *path);
  if (info.isDirectory()) return tree.makeDirectories(*path);
  return writeEntry(reader, tree, *path, info);
}

bool ZIP::writeEntry(ZipReader& reader, TargetTree& tree, const std::vector<std::string>& path,
                     ZipEntryInfo& info) {
  UniqueFd file = tree.createFile(path, createParents_);
  if (!file) return false;
  std::string localExtra;
  if (!reader.openEntry(localExtra)) return false;
  applyExtendedTimestamp(localExtra, info);
  bool written = copyEntryData(reader, file.get());
  written = reader.closeEntry() && written;
  if (written) setFileTimes(file.get(), info);
  makeNormal(file.get());
  return ::close(file.release()) == 0 && written;
}

void ZIP::raiseProgress() {
  if (!onProgress) return;
  ZipProgress progress;
  progress.index = currentIndex_;
  progress.count = entryCount_;
  progress.path = currentPath_;
  progress.percent =
      entryCount_ > 0
          ? static_cast<int32_t>(static_cast<int64_t>(currentIndex_) * 100 / entryCount_)
          : 100;
  onProgress(progress);
}
