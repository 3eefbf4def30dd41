#include "install/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace {

bool copyBytes(int in, int out) {
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t done = 0; done < got;) {
      ssize_t n = ::write(out, buffer + done, static_cast<size_t>(got - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += n;
    }
  }
}

}  // namespace

bool copyFileOverwriting(const std::string& from, const std::string& to) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat source {};
  if (!in || ::fstat(in.get(), &source) != 0 || !S_ISREG(source.st_mode)) return false;
  UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!out || !copyBytes(in.get(), out.get())) return false;
  const timespec times[2] = {source.st_atim, source.st_mtim};
  ::futimens(out.get(), times);
  return ::close(out.release()) == 0;
}
