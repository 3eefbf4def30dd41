#include "signing/key_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/replace_file.h"
#include "platform/unique_fd.h"

namespace {

// Creates `path` (which must not exist) with exactly `mode` and writes `text`; on failure the
// file is removed again and the system's reason returned.
std::string createWith(const std::string& path, const std::string& text, mode_t mode) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd) return path + ": " + std::strerror(errno);
  // The umask only takes bits away; fchmod makes the mode exact whatever the umask is.
  if (::fchmod(fd.get(), mode) != 0 || !writeAll(fd.get(), text.data(), text.size()) ||
      ::fsync(fd.get()) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    return path + ": " + std::strerror(error);
  }
  return {};
}

}  // namespace

KeyFilesResult writeKeyFiles(const KeyPair& pair, const std::string& publicKeyPath,
                             const std::string& secretKeyPath) {
  KeyFilesResult result;
  std::string secret = secretKeyFileText(pair.secretKey);
  result.error = createWith(secretKeyPath, secret, 0600);
  wipeText(secret);
  if (!result.error.empty()) return result;
  result.error = createWith(publicKeyPath, publicKeyFileText(pair.publicKey), 0644);
  if (!result.error.empty()) {
    ::unlink(secretKeyPath.c_str());
    return result;
  }
  result.written = true;
  return result;
}
