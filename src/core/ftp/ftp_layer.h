#pragma once
// The FTP protocol layer. Every worker has its own control connection (login, restart
// probe, "SIZE", "REST") and its own data connection, passive or active; the body is read
// from worker.dataSocket by the worker.
//
// Threads: the first connection runs alone; segment connections run concurrently and only
// read the task's state, except the data mode, which the first failure of passive mode
// switches to active for the rest of the task.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ftp/ftp_data.h"
#include "ftp/ftp_settings.h"
#include "transfer/protocol.h"

// The layer for an ftp:// task; null when makeFtpSettings refuses the parameters.
std::unique_ptr<ProtocolLayer> makeFtpLayer(const TaskParam& param, const UrlParts& url);

class FtpLayer final : public ProtocolLayer {
 public:
  explicit FtpLayer(FtpSettings settings) : settings_(std::move(settings)) {}

  int32_t openFirst(Worker& worker, BodyBuffer& body) override;
  int32_t openSegment(Worker& worker, BodyBuffer& body) override;
  // Closes the data connection, then reads and logs the server's reply to it (at most
  // kFtpFinalReplyLimit bytes); the server answers as soon as it sees the close.
  void finishNormally(Worker& worker) override;
  void closeConnections(Worker& worker) override;
  std::string pathForFileName() const override;
  // Texts: host, user name, path, server address. Integers: port, transfer type, data mode,
  // restart supported, file size. The password is never saved: a restored task keeps the
  // one it was created with.
  void saveSnapshot(ProtocolSnapshot& out) const override;
  bool restoreSnapshot(const ProtocolSnapshot& in) override;
  // The same path, a binary transfer and a server that restarts at an offset: only the size
  // (compared by the engine) tells a change.
  bool describesSameFile(const ProtocolSnapshot& earlier) const override;

  FtpSettings settings() const;
  std::string serverAddress() const;
  int32_t dataMode() const { return dataMode_.load(std::memory_order_acquire); }
  bool restartSupported() const { return restartSupported_.load(std::memory_order_acquire); }

 private:
  // The first connection: login, restart probe, size, data connection at byte 0, segments.
  // For a resumed task, the data connection starts at the worker's position when the file
  // still has the size the task knows; otherwise the task starts over.
  int32_t ftpOpenFirst(Worker& worker);
  // A segment connection: login, restart probe, data connection at worker.position().
  int32_t ftpOpenSegment(Worker& worker);
  // Resolves the host when asked and connects; the address used is stored for later.
  int32_t openControl(FtpControl& control, const FtpSettings& settings, bool resolve);
  // "REST 100": whether the server restarts transfers at an offset.
  int32_t probeRestart(FtpControl& control, bool& supported);
  int32_t querySize(FtpControl& control, const FtpSettings& settings, int64_t& size);
  // Data connection, "REST position", "RETR": the file from `position` on.
  int32_t resumeAt(FtpControl& control, const FtpSettings& settings, int64_t position);
  FtpDataPlan dataPlan(const FtpSettings& settings, const std::string& address);

  mutable std::mutex mutex_;  // guards settings_ and serverAddress_
  FtpSettings settings_;
  std::string serverAddress_;
  std::atomic<bool> restartSupported_{false};
  std::atomic<int64_t> fileSize_{0};
  std::atomic<int32_t> dataMode_{kFtpPassiveMode};
};
