#include "platform/replace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/files.h"

namespace {

constexpr size_t kNameKept = 200;  // leaves room for the suffix within NAME_MAX
constexpr int kNameAttempts = 100;

// ".~<name>.<unique>" in the folder of `path`.
std::string temporaryNameFor(const std::string& path, unsigned long long unique) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char suffix[40];
  std::snprintf(suffix, sizeof suffix, ".%d.%llx", static_cast<int>(::getpid()), unique);
  return folder + ".~" + name.substr(0, kNameKept) + suffix;
}

unsigned long long nextUnique() {
  static std::atomic<unsigned long long> counter{
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count())};
  return counter.fetch_add(0x9E3779B97F4A7C15ULL);
}

}  // namespace

Destination examineDestination(const std::string& path) {
  Destination found;
  found.path = path;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    found.kind = errno == ENOENT ? DestinationKind::Missing : DestinationKind::Other;
    found.error = errno == ENOENT ? 0 : errno;
    return found;
  }
  if (S_ISREG(info.st_mode)) {
    found.kind = DestinationKind::Regular;
    found.state = info;
  } else if (S_ISLNK(info.st_mode)) {
    // Only the kind of what the link leads to is looked at (stat opens nothing): a link to
    // a folder stands for the folder, as a folder in the file's place does.
    struct stat target {};
    const bool folder = ::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    found.kind = folder ? DestinationKind::Other : DestinationKind::Link;
  } else {
    found.kind = DestinationKind::Other;
  }
  return found;
}

ReplacementFile::~ReplacementFile() {
  if (temporary_.empty()) return;
  fd_.reset();
  ::unlink(temporary_.c_str());
}

bool ReplacementFile::create(const Destination& destination, mode_t newFileMode) {
  const bool replacing = destination.kind == DestinationKind::Regular;
  const mode_t mode = replacing ? S_IRUSR | S_IWUSR : newFileMode;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = temporaryNameFor(destination.path, nextUnique());
    fd_.reset(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (fd_) {
      temporary_ = std::move(name);
      break;
    }
    if (errno != EEXIST) return false;
  }
  if (!fd_) return false;
  destination_ = destination.path;
  if (replacing) {
    // Owner first: a change of owner clears the set-id bits that fchmod then restores.
    [[maybe_unused]] int ignored =
        ::fchown(fd_.get(), destination.state.st_uid, destination.state.st_gid);
    if (::fchmod(fd_.get(), destination.state.st_mode & 07777) != 0) return false;
  }
  return true;
}

bool ReplacementFile::commit() {
  if (temporary_.empty()) {
    errno = EBADF;
    return false;
  }
  const bool closed = ::close(fd_.release()) == 0;
  if (!closed || ::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary_.c_str());
    temporary_.clear();
    errno = error;
    return false;
  }
  temporary_.clear();
  return true;
}

bool writeAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string readRegularFile(const std::string& path, mode_t* permissions) {
  struct stat opened {};
  std::string bytes = readWholeFile(path, &opened);  // opens without blocking, regular only
  if (permissions != nullptr) *permissions = opened.st_mode & 07777;
  return bytes;
}

bool replaceFileContents(const std::string& path, const std::string& bytes) {
  const Destination destination = examineDestination(path);
  if (destination.kind == DestinationKind::Other) return false;
  ReplacementFile file;
  return file.create(destination) && writeAll(file.fd(), bytes.data(), bytes.size()) &&
         file.commit();
}
