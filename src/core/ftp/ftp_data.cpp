// A worker's FTP data connection, passive or active, and the retrieve command.
#include "ftp/ftp_data.h"

#include <algorithm>
#include <chrono>

#include "ftp/ftp_passive.h"
#include "ftp/ftp_settings.h"
#include "net/socket_io.h"
#include "transfer/engine_log.h"
#include "transfer/transfer_task.h"
#include "transfer/worker.h"

namespace {

constexpr char kTryActive[] = "尝试主动模式连接";
constexpr char kDataConnectFailed[] = "数据通道连接失败";

enum class Passive { Ready, Failed, Stopped };

// The port a passive reply offers: "PASV" over IPv4, "EPSV" over IPv6 (where "PASV" cannot
// name an address).
std::optional<uint16_t> askPassivePort(FtpControl& control) {
  bool extended = isIpv6Socket(control.worker.controlSocket.get());
  const char* command = extended ? "EPSV" : "PASV";
  control.log(kLogSent, command);
  FtpReply reply;
  int32_t code = ftpCommand(control, command, reply);
  if (extended) {
    if (code == 229) return parseExtendedPassiveReply(reply.text);
  } else if (code == 227) {
    if (std::optional<PassiveAddress> offered = parsePassiveReply(reply.text)) {
      return offered->port;
    }
  }
  return std::nullopt;
}

Passive openPassive(FtpControl& control, const FtpDataPlan& plan) {
  Worker& worker = control.worker;
  std::optional<uint16_t> offered = askPassivePort(control);
  if (!offered) {
    control.log(kLogError, "设置数据通道错误");
    return Passive::Failed;
  }
  // Only the port of the reply is used: the data connection goes to the server the control
  // connection talks to.
  int32_t code = connectWithTimeout(worker.dataSocket, plan.serverAddress, *offered,
                                    worker.task.connectTimeout, worker);
  if (code == 0) return Passive::Ready;
  if (code == kErrorStopped || worker.stopRequested()) return Passive::Stopped;
  control.log(kLogError, kDataConnectFailed);
  return Passive::Failed;
}

int32_t openActive(FtpControl& control) {
  Worker& worker = control.worker;
  UniqueFd& listener = worker.state<FtpWorkerState>().listener;
  // The address the server sees this side at is the control connection's local address.
  std::string local = socketAddressText(worker.controlSocket.get(), false);
  uint16_t port = 0;
  if (!local.empty() && listenOnAddress(listener, local, 0) == 0) port = localPort(listener.get());
  if (port == 0) {
    listener.reset();
    control.fail(FailureKind::Network, "设置主动模式失败");
    return kOpenTransient;
  }
  std::string command;
  if (isIpv6Literal(local)) {
    command = formatText("EPRT |2|%s|%d|", local.c_str(), port);
  } else {
    command = "PORT " + local;
    std::replace(command.begin(), command.end(), '.', ',');
    command += formatText(",%d,%d", port / 256, port % 256);
  }
  control.log(kLogSent, command);
  FtpReply reply;
  int32_t code = ftpCommand(control, command, reply);
  if (code <= 0) {
    control.fail(FailureKind::Network, "获得返回信息失败");
    return kOpenTransient;
  }
  if (code != 200) {
    control.fail(FailureKind::ServerReply, "设置主动模式失败");
    return kOpenTransient;
  }
  return kOpenReady;
}

// Accepts the server's data connection within the connect timeout. A connection from any
// other address is closed and the wait goes on.
int32_t acceptFromServer(Worker& worker, const std::string& serverAddress) {
  UniqueFd& listener = worker.state<FtpWorkerState>().listener;
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(worker.task.connectTimeout);
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return kErrorConnectTimeout;
    UniqueFd accepted;
    int32_t code =
        acceptWithTimeout(listener.get(), accepted, static_cast<int32_t>(left.count()), worker);
    if (code != 0) return code;
    if (socketAddressText(accepted.get(), true) == serverAddress) {
      worker.dataSocket = std::move(accepted);
      listener.reset();
      return 0;
    }
  }
}

}  // namespace

int32_t ftpSetType(FtpControl& control, int32_t transferType) {
  if (control.typeInForce == transferType) return kOpenReady;
  const char* command = transferType == kFtpTypeText ? "TYPE A" : "TYPE I";
  control.log(kLogReceived, command);
  FtpReply reply;
  if (ftpCommand(control, command, reply) <= 0) return kOpenTransient;
  control.typeInForce = transferType;
  return kOpenReady;
}

int32_t openFtpDataConnection(FtpControl& control, const FtpDataPlan& plan) {
  if (ftpSetType(control, plan.transferType) != kOpenReady) return kOpenTransient;
  if (plan.dataMode->load(std::memory_order_acquire) == kFtpPassiveMode) {
    Passive passive = openPassive(control, plan);
    if (passive == Passive::Ready) return kOpenReady;
    if (passive == Passive::Stopped) return kOpenTransient;
    control.log(kLogError, kTryActive);
    plan.dataMode->store(kFtpActiveMode, std::memory_order_release);
  }
  return openActive(control);
}

int32_t ftpRetrieve(FtpControl& control, const FtpDataPlan& plan) {
  Worker& worker = control.worker;
  std::string command = "RETR " + plan.pathArgument;
  control.log(kLogSent, command);
  FtpReply reply;
  int32_t code = ftpCommand(control, command, reply);
  if (code != 125 && code != 150) {
    control.fail(FailureKind::ServerReply, "数据传送失败");
    return kOpenTransient;
  }
  if (!worker.state<FtpWorkerState>().listener) {
    return worker.dataSocket ? kOpenReady : kOpenTransient;  // passive: already connected
  }
  int32_t accepted = acceptFromServer(worker, plan.serverAddress);
  if (accepted == 0) return kOpenReady;
  if (accepted != kErrorStopped && !worker.stopRequested()) {
    control.fail(FailureKind::Network, kDataConnectFailed);
  }
  return kOpenTransient;
}

void closeFtpListener(Worker& worker) {
  if (worker.protocolState) worker.state<FtpWorkerState>().listener.reset();
}
