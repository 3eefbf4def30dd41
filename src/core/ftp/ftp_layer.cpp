// The FTP layer object: its factory, the end of a worker's connections and the snapshot.
#include "ftp/ftp_layer.h"

#include "net/socket_io.h"
#include "transfer/engine_log.h"
#include "transfer/worker.h"

std::unique_ptr<ProtocolLayer> makeFtpLayer(const TaskParam& param, const UrlParts& url) {
  std::optional<FtpSettings> settings = makeFtpSettings(param, url);
  if (!settings) return nullptr;
  return std::make_unique<FtpLayer>(std::move(*settings));
}

int32_t FtpLayer::openFirst(Worker& worker, BodyBuffer& body) {
  body.length = 0;
  return ftpOpenFirst(worker);
}

int32_t FtpLayer::openSegment(Worker& worker, BodyBuffer& body) {
  body.length = 0;
  return ftpOpenSegment(worker);
}

void FtpLayer::finishNormally(Worker& worker) {
  // A segment that ends before the end of the file leaves the server sending; it answers
  // only once the data connection is gone.
  worker.dataSocket.reset();
  closeFtpListener(worker);
  if (!worker.controlSocket) return;
  FtpSettings settings = this->settings();
  FtpControl control(worker, settings.password);
  FtpReply reply;
  ftpReadReply(control, reply, kFtpFinalReplyLimit);
}

void FtpLayer::closeConnections(Worker& worker) {
  closeFtpListener(worker);
}

std::string FtpLayer::pathForFileName() const {
  std::lock_guard lock(mutex_);
  return settings_.path;
}

FtpSettings FtpLayer::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

std::string FtpLayer::serverAddress() const {
  std::lock_guard lock(mutex_);
  return serverAddress_;
}

void FtpLayer::saveSnapshot(ProtocolSnapshot& out) const {
  std::lock_guard lock(mutex_);
  out.texts = {settings_.host, settings_.userName, settings_.path, serverAddress_,
               std::nullopt,   std::nullopt,       std::nullopt};
  out.integers.fill(0);
  out.integers[0] = settings_.port;
  out.integers[1] = settings_.transferType;
  out.integers[2] = dataMode_.load(std::memory_order_acquire);
  out.integers[3] = restartSupported_.load(std::memory_order_acquire) ? 1 : 0;
  out.integers[4] = static_cast<int32_t>(fileSize_.load(std::memory_order_acquire));
}

bool FtpLayer::describesSameFile(const ProtocolSnapshot& earlier) const {
  std::lock_guard lock(mutex_);
  return restartSupported_.load(std::memory_order_acquire) &&
         settings_.transferType == kFtpTypeBinary && earlier.texts[2] == settings_.path &&
         earlier.integers[1] == kFtpTypeBinary;
}

bool FtpLayer::restoreSnapshot(const ProtocolSnapshot& in) {
  const auto& texts = in.texts;
  const auto& numbers = in.integers;
  if (!texts[0] || !texts[1] || !texts[2] || !texts[3]) return false;
  bool known = numbers[0] > 0 && numbers[0] <= 0xFFFF &&
               (numbers[1] == kFtpTypeBinary || numbers[1] == kFtpTypeText) &&
               (numbers[2] == kFtpPassiveMode || numbers[2] == kFtpActiveMode) && numbers[4] >= 0 &&
               (texts[3]->empty() || isIpLiteral(*texts[3]));
  // The texts go into commands: the same checks as for a new task.
  std::string_view unsafe("\r\n\0", 3);
  bool safe = texts[1]->size() < kFtpCredentialBuffer && texts[2]->size() <= kFtpPathLimit &&
              texts[1]->find_first_of(unsafe) == std::string::npos &&
              texts[2]->find_first_of(unsafe) == std::string::npos;
  if (!known || !safe) return false;
  std::lock_guard lock(mutex_);
  settings_.host = *texts[0];
  settings_.userName = *texts[1];
  settings_.path = *texts[2];
  serverAddress_ = *texts[3];
  settings_.port = static_cast<uint16_t>(numbers[0]);
  settings_.transferType = numbers[1];
  dataMode_.store(numbers[2], std::memory_order_release);
  restartSupported_.store(numbers[3] != 0, std::memory_order_release);
  fileSize_.store(numbers[4], std::memory_order_release);
  return true;
}
