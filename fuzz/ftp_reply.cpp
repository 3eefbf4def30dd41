// Any bytes as what a server sends on an FTP control connection: the reply reader must
// read replies one after another with defined results and bounded lines, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/ftp_reply.h"

namespace {

class BytesSource final : public FtpByteSource {
 public:
  explicit BytesSource(std::string_view bytes) : bytes_(bytes) {}
  int32_t readByte(uint8_t& byte) override {
    if (at_ == bytes_.size()) return -22;
    byte = static_cast<uint8_t>(bytes_[at_++]);
    return 1;
  }
  size_t at() const { return at_; }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the line limit: the usual one or a small one.
  size_t limit = data[0] % 2 == 0 ? kFtpLineLimit : kFtpFinalReplyLimit;
  BytesSource source(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  while (true) {
    size_t before = source.at();
    FtpReply reply = readFtpReply(source, limit, [limit](std::string_view line) {
      if (line.size() > limit || line.find('\n') != std::string_view::npos) __builtin_trap();
    });
    if (reply.code == 0) break;
    if (reply.code < 0 || reply.code > 999 || reply.text.size() > limit ||
        ftpFinalLineCode(reply.text) != reply.code || source.at() == before) {
      __builtin_trap();
    }
  }
  return 0;
}
