// Commands and replies on a worker's FTP control connection.
#include "ftp/ftp_control.h"

#include "net/socket_io.h"
#include "transfer/engine_log.h"
#include "transfer/transfer_task.h"
#include "transfer/worker.h"

namespace {

constexpr char kMask[] = "******";

// Reads the control socket one byte at a time, each within the receive timeout.
class ControlSocketSource final : public FtpByteSource {
 public:
  explicit ControlSocketSource(Worker& worker) : worker_(worker) {}

  int32_t readByte(uint8_t& byte) override {
    ReceiveRequest request;
    request.wanted = 1;
    request.idleTimeoutMs = worker_.task.receiveTimeout;
    ReceiveResult result =
        receiveWithTimeout(worker_.controlSocket.get(), &byte, request, worker_, nullptr);
    if (result.code < 0) return result.code;
    return result.received == 1 ? 1 : kErrorStopped;
  }

 private:
  Worker& worker_;
};

}  // namespace

std::string maskSecret(std::string text, std::string_view secret) {
  if (secret.empty()) return text;
  size_t from = 0;
  while ((from = text.find(secret, from)) != std::string::npos) {
    text.replace(from, secret.size(), kMask);
    from += sizeof kMask - 1;
  }
  return text;
}

void FtpControl::log(int32_t level, std::string message) const {
  engineLog(worker.task, &worker, level, maskSecret(std::move(message), password_));
}

void FtpControl::fail(FailureKind kind, std::string message) const {
  engineFailure(worker, kind, maskSecret(std::move(message), password_));
}

int32_t ftpReadReply(FtpControl& control, FtpReply& reply, size_t lineLimit) {
  ControlSocketSource source(control.worker);
  reply = readFtpReply(source, lineLimit, [&control](std::string_view line) {
    control.log(kLogReceived, std::string(line));
  });
  if (reply.code == 0) control.fail(FailureKind::Network, "获得返回命令失败");
  return reply.code;
}

int32_t ftpCommand(FtpControl& control, std::string_view command, FtpReply& reply) {
  reply = FtpReply{};
  std::string line(command);
  line += "\r\n";
  Worker& worker = control.worker;
  int32_t sent = sendWithTimeout(worker.controlSocket.get(), line, worker.task.sendTimeout, worker);
  if (sent != static_cast<int32_t>(line.size())) {
    if (!worker.stopRequested()) control.fail(FailureKind::Network, "发送命令失败");
    return -1;
  }
  return ftpReadReply(control, reply);
}
