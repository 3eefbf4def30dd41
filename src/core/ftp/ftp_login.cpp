// Control connection of a worker: connect, welcome reply, login.
#include "ftp/ftp_login.h"

#include "net/socket_io.h"
#include "transfer/engine_log.h"
#include "transfer/protocol.h"
#include "transfer/transfer_task.h"
#include "transfer/worker.h"

namespace {

// Longest user name or password the login sends.
constexpr size_t kCredentialLimit = 250;

int32_t connectControl(FtpControl& control, const std::string& address, uint16_t port) {
  Worker& worker = control.worker;
  const char* text = address.c_str();
  control.log(kLogProgress, formatText("正在连接 [%s:%d]", text, port));
  int32_t code =
      connectWithTimeout(worker.controlSocket, address, port, worker.task.connectTimeout, worker);
  if (code == kErrorStopped || (code != 0 && worker.stopRequested())) return kOpenPermanent;
  if (code == kErrorConnectTimeout) {
    control.fail(FailureKind::Network, formatText("连接 [%s:%d]超时", text, port));
    return kOpenTransient;
  }
  if (code != 0) {
    control.fail(FailureKind::Network, formatText("连接 [%s:%d]失败", text, port));
    return kOpenTransient;
  }
  return kOpenReady;
}

}  // namespace

bool ftpLogin(FtpControl& control, const FtpSettings& settings) {
  if (settings.userName.size() > kCredentialLimit) return false;
  std::string user = "USER " + settings.userName;
  control.log(kLogSent, user);
  FtpReply reply;
  int32_t code = ftpCommand(control, user, reply);
  if (code == 230) return true;
  if (code != 331) return false;

  if (settings.password.size() > kCredentialLimit) return false;
  control.log(kLogSent, "PASS ******");
  code = ftpCommand(control, "PASS " + settings.password, reply);
  if (code == 230) return true;
  control.fail(FailureKind::ServerReply, code == 530 ? "出现错误" : "暂时不支持的回应");
  return false;
}

int32_t openFtpControl(FtpControl& control, const FtpSettings& settings,
                       const std::string& address) {
  int32_t connected = connectControl(control, address, settings.port);
  if (connected != kOpenReady) return connected;
  control.log(kLogProgress, "连接成功, 等待欢迎消息");
  FtpReply welcome;
  if (ftpReadReply(control, welcome) != 220) {
    control.fail(FailureKind::ServerReply, "无法得到欢迎消息");
    return kOpenTransient;
  }
  if (!ftpLogin(control, settings)) {
    control.fail(FailureKind::ServerReply, "登录失败");
    return kOpenTransient;
  }
  control.log(kLogReceived, "登录成功");
  return kOpenReady;
}
