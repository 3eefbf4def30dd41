// The open sequences of the FTP layer: the first connection of a task and the connection of
// every further segment.
#include <string>
#include <vector>

#include "ftp/ftp_layer.h"
#include "ftp/ftp_login.h"
#include "net/socket_io.h"
#include "platform/decimal.h"
#include "transfer/engine_log.h"
#include "transfer/transfer_task.h"
#include "transfer/worker.h"

namespace {

bool namesRestart(const std::string& text) {
  return text.find("Restart") != std::string::npos || text.find("restart") != std::string::npos;
}

}  // namespace

// The first connection resolves the host and tries its addresses (IPv4 and IPv6) in order
// until one accepts; the address reached is the one every later connection uses.
int32_t FtpLayer::openControl(FtpControl& control, const FtpSettings& settings, bool resolve) {
  std::string known = serverAddress();
  if (!resolve && !known.empty()) return openFtpControl(control, settings, known);
  if (!isIpLiteral(settings.host)) {
    control.log(kLogProgress, formatText("正在解析域名 [%s]", settings.host.c_str()));
  }
  std::vector<std::string> addresses = resolveHostAddresses(settings.host);
  if (addresses.empty()) {
    control.fail(FailureKind::Network, formatText("解析域名 [%s]出错", settings.host.c_str()));
    return kOpenPermanent;
  }
  int32_t result = kOpenTransient;
  for (const std::string& address : addresses) {
    {
      std::lock_guard lock(mutex_);
      serverAddress_ = address;
    }
    result = openFtpControl(control, settings, address);
    // Only a connection that could not be made moves on to the next address.
    if (result != kOpenTransient || control.worker.controlSocket) break;
  }
  return result;
}

int32_t FtpLayer::probeRestart(FtpControl& control, bool& supported) {
  control.log(kLogSent, "REST 100");
  FtpReply reply;
  int32_t code = ftpCommand(control, "REST 100", reply);
  supported = code == 350 && namesRestart(reply.text);
  return code;
}

int32_t FtpLayer::querySize(FtpControl& control, const FtpSettings& settings, int64_t& size) {
  std::string command = "SIZE " + std::string(ftpPathArgument(settings.path));
  control.log(kLogReceived, command);
  FtpReply reply;
  int32_t code = ftpCommand(control, command, reply);
  if (code <= 0) return kOpenTransient;  // the control connection broke
  if (code == 550) {
    control.fail(FailureKind::ServerReply, "文件不存在");
    return kOpenPermanent;
  }
  if (code != 213) {
    control.fail(FailureKind::ServerReply,
                 formatText("服务器拒绝SIZE命令, 无法获得文件大小, 返回号[%d]", code));
    return kOpenPermanent;
  }
  size_t at = reply.text.find("213");
  std::optional<LeadingDecimal> number;
  if (at != std::string::npos && at + 4 <= reply.text.size()) {
    number = leadingDecimal(std::string_view(reply.text).substr(at + 4));
  }
  size = number ? number->value : -1;
  if (size >= 0) return kOpenReady;
  control.fail(FailureKind::ServerReply, "无法获得文件大小");
  return kOpenPermanent;
}

FtpDataPlan FtpLayer::dataPlan(const FtpSettings& settings, const std::string& address) {
  FtpDataPlan plan;
  plan.transferType = settings.transferType;
  plan.serverAddress = address;
  plan.pathArgument = std::string(ftpPathArgument(settings.path));
  plan.dataMode = &dataMode_;
  return plan;
}

int32_t FtpLayer::ftpOpenFirst(Worker& worker) {
  TransferTask& task = worker.task;
  FtpSettings settings = this->settings();
  FtpControl control(worker, settings.password);
  int32_t result = openControl(control, settings, true);
  if (result != kOpenReady) return result;
  // "SIZE" and "REST" count the file's bytes, and servers refuse them in text mode.
  if (ftpSetType(control, kFtpTypeBinary) != kOpenReady) return kOpenTransient;

  bool supported = false;
  int32_t probe = probeRestart(control, supported);
  if (probe <= 0) return kOpenTransient;
  restartSupported_.store(supported, std::memory_order_release);
  control.log(kLogError, supported ? "站点支持断点续传" : "站点不支持断点续传");
  // Any 350 leaves an offset of 100 pending for the next transfer, also when the reply does
  // not say "Restart": cancel it, or the file would start at byte 100.
  if (probe == 350) {
    control.log(kLogSent, "REST 0");
    FtpReply reply;
    if (ftpCommand(control, "REST 0", reply) <= 0) return kOpenTransient;
  }

  int64_t size = 0;
  if ((result = querySize(control, settings, size)) != kOpenReady) return result;
  fileSize_.store(size, std::memory_order_release);
  if (auto refusal = task.sizeRefusal(size)) {
    engineFailure(worker, FailureKind::Integrity, *refusal);
    return kOpenPermanent;
  }
  if (task.resuming.load()) {
    if (size == task.totalSize.load() && supported && settings.transferType == kFtpTypeBinary) {
      return resumeAt(control, settings, worker.position());
    }
    startOver(worker,
              size != task.totalSize.load() ? "服务器上的文件已改变" : "站点不支持断点续传");
  }
  task.setTotalSize(size);

  FtpDataPlan plan = dataPlan(settings, serverAddress());
  if ((result = openFtpDataConnection(control, plan)) != kOpenReady) return result;
  if ((result = ftpRetrieve(control, plan)) != kOpenReady) return result;
  // Offsets count the file's bytes; a text transfer's stream may differ from them, so it
  // runs over one connection.
  bool parallel = supported && settings.transferType == kFtpTypeBinary;
  task.segments.layout(size, parallel ? task.connectionCount : 1);
  return kOpenReady;
}

int32_t FtpLayer::resumeAt(FtpControl& control, const FtpSettings& settings, int64_t position) {
  FtpDataPlan plan = dataPlan(settings, serverAddress());
  int32_t result = openFtpDataConnection(control, plan);
  if (result != kOpenReady) return result;
  std::string rest = formatText("REST %lld", static_cast<long long>(position));
  control.log(kLogSent, rest);
  FtpReply reply;
  int32_t code = ftpCommand(control, rest, reply);
  if (code <= 0) return kOpenTransient;
  // Without the offset the server would send the file from its start into this segment.
  if (code != 350) {
    control.fail(FailureKind::ServerReply, "该站点不支持断点续传");
    return kOpenPermanent;
  }
  return ftpRetrieve(control, plan);
}

int32_t FtpLayer::ftpOpenSegment(Worker& worker) {
  FtpSettings settings = this->settings();
  FtpControl control(worker, settings.password);
  int32_t result = openControl(control, settings, false);
  if (result != kOpenReady) return result;
  if (ftpSetType(control, kFtpTypeBinary) != kOpenReady) return kOpenTransient;

  bool supported = false;
  if (probeRestart(control, supported) <= 0) return kOpenTransient;
  if (!supported) {
    control.fail(FailureKind::ServerReply, "该站点不支持断点续传");
    return kOpenPermanent;
  }
  return resumeAt(control, settings, worker.position());
}
