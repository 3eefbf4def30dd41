#include "install/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/replace_file.h"
#include "platform/unique_fd.h"

namespace {

bool copyBytes(int in, int out) {
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!writeAll(out, buffer, static_cast<size_t>(got))) return false;
  }
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool copyFileOverwriting(const std::string& from, const std::string& to) {
  // O_NONBLOCK: a FIFO put in the source's place must not hang the job either.
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat source {};
  if (!in || ::fstat(in.get(), &source) != 0 || !S_ISREG(source.st_mode)) return false;
  const Destination destination = examineDestination(to);
  if (destination.kind == DestinationKind::Other) return false;
  if (destination.kind == DestinationKind::Regular && sameFile(source, destination.state)) {
    return true;
  }
  ReplacementFile out;
  if (!out.create(destination) || !copyBytes(in.get(), out.fd())) return false;
  const timespec times[2] = {source.st_atim, source.st_mtim};
  ::futimens(out.fd(), times);
  return out.commit();
}
