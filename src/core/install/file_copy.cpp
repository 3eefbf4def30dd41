#include "install/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/replace_file.h"
#include "platform/unique_fd.h"

namespace {

// Copies what is left to read from `in` to `out`; a failure names the side that failed.
InstallResult copyBytes(int in, const std::string& from, int out, const std::string& to) {
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return installFailed(InstallProblem::SystemError, from, errno);
    if (got == 0) return {};
    if (!writeAll(out, buffer, static_cast<size_t>(got))) {
      return installFailed(InstallProblem::SystemError, to, errno);
    }
  }
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

InstallResult checkDestination(const Destination& destination) {
  if (destination.kind == DestinationKind::Other) {
    return destination.error != 0
               ? installFailed(InstallProblem::SystemError, destination.path, destination.error)
               : installFailed(InstallProblem::NotAFile, destination.path);
  }
  // The rename that replaces a file needs only the folder's permission; a file whose owner
  // took every write bit away is kept as it is, whoever runs the install.
  if (destination.kind == DestinationKind::Regular && (destination.state.st_mode & 0222) == 0) {
    return installFailed(InstallProblem::ReadOnly, destination.path);
  }
  return {};
}

InstallResult copyFileOverwriting(const std::string& from, const std::string& to) {
  // O_NONBLOCK: a FIFO put in the source's place must not hang the job either.
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!in) return installFailed(InstallProblem::SystemError, from, errno);
  struct stat source {};
  if (::fstat(in.get(), &source) != 0)
    return installFailed(InstallProblem::SystemError, from, errno);
  if (!S_ISREG(source.st_mode)) return installFailed(InstallProblem::NotAFile, from);
  const Destination destination = examineDestination(to);
  if (destination.kind == DestinationKind::Regular && sameFile(source, destination.state)) {
    return {};
  }
  if (InstallResult refused = checkDestination(destination); !refused) return refused;
  ReplacementFile out;
  if (!out.create(destination)) return installFailed(InstallProblem::SystemError, to, errno);
  if (InstallResult copied = copyBytes(in.get(), from, out.fd(), to); !copied) return copied;
  const timespec times[2] = {source.st_atim, source.st_mtim};
  ::futimens(out.fd(), times);
  if (!out.commit()) return installFailed(InstallProblem::SystemError, to, errno);
  return {};
}
