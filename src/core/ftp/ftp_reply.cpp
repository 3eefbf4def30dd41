// Reading FTP replies line by line.
#include "ftp/ftp_reply.h"

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

enum class LineEnd { Complete, Failed };

// Reads one line up to and including its line feed; keeps at most `limit` bytes of it,
// without the line end. Failed when a read fails or the line passes kFtpLineReadLimit.
LineEnd readLine(FtpByteSource& source, size_t limit, std::string& line, size_t& consumed) {
  line.clear();
  size_t length = 0;
  bool pendingCr = false;  // a CR is held back until we know whether LF follows
  while (true) {
    uint8_t byte = 0;
    if (source.readByte(byte) != 1) return LineEnd::Failed;
    ++consumed;
    if (++length > kFtpLineReadLimit) return LineEnd::Failed;
    if (byte == '\n') return LineEnd::Complete;
    if (pendingCr && line.size() < limit) line += '\r';
    pendingCr = byte == '\r';
    if (!pendingCr && line.size() < limit) line += static_cast<char>(byte);
  }
}

}  // namespace

int32_t ftpFinalLineCode(std::string_view line) {
  if (line.size() < 4 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]) ||
      line[3] != ' ') {
    return -1;
  }
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

FtpReply readFtpReply(FtpByteSource& source, size_t lineLimit,
                      const std::function<void(std::string_view line)>& onLine) {
  FtpReply reply;
  std::string line;
  size_t consumed = 0;
  while (consumed < kFtpReplyReadLimit) {
    if (readLine(source, lineLimit, line, consumed) != LineEnd::Complete) return reply;
    if (onLine) onLine(line);
    int32_t code = ftpFinalLineCode(line);
    if (code >= 0) {
      reply.code = code;
      reply.text = std::move(line);
      return reply;
    }
  }
  return reply;
}
