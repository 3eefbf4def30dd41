#pragma once
// Reading FTP replies from a control connection.
//
// A reply is a run of lines that ends with the first line whose first three characters are
// digits and whose fourth is a space ("220 ready"); lines before it ("220-welcome") are its
// continuation. The reply code is that line's three digits, its text that line.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Bytes of one line that are kept; the rest of a longer line is read up to its line feed and
// dropped, so it is never mistaken for a line of its own.
inline constexpr size_t kFtpLineLimit = 5120;
// The final reply a worker reads when it ends is kept to this many bytes.
inline constexpr size_t kFtpFinalReplyLimit = 256;
// A line that runs this long without a line feed, or a reply of this many bytes, is a
// failed read: a server cannot keep a reader busy for ever.
inline constexpr size_t kFtpLineReadLimit = 65536;
inline constexpr size_t kFtpReplyReadLimit = 1 << 20;

// Where a reply is read from, one byte at a time.
class FtpByteSource {
 public:
  // 1 with a byte, or a negative engine error code (nothing more can be read).
  virtual int32_t readByte(uint8_t& byte) = 0;

 protected:
  ~FtpByteSource() = default;
};

struct FtpReply {
  int32_t code = 0;  // the three digits; 0 when no reply was read
  std::string text;  // the final line without its line end, at most the line limit
};

// The code of a line that ends a reply: its first three characters are digits and the
// fourth is a space. -1 for any other line.
int32_t ftpFinalLineCode(std::string_view line);

// Reads one reply. Every line read is handed to `onLine` without its line end (CR LF or a
// bare LF), cut to `lineLimit` bytes. The result's code is 0 when a read failed before the
// reply ended, or a line or the reply ran past the read limits.
FtpReply readFtpReply(FtpByteSource& source, size_t lineLimit,
                      const std::function<void(std::string_view line)>& onLine);
