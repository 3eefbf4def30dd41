#pragma once
// One worker's FTP control connection (worker.controlSocket): sending commands, reading
// replies, and the log lines of both.
//
// Every line this connection logs passes through FtpControl::log, which writes "******" in
// place of the password wherever it occurs, so a server that echoes it cannot put it into
// the log. Runs on the worker's own thread.
#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/ftp_reply.h"
#include "transfer/task_outcome.h"

class Worker;

class FtpControl {
 public:
  // `password` must outlive the object.
  FtpControl(Worker& worker, std::string_view password) : worker(worker), password_(password) {}

  // Logs `message` at `level` for the worker, the password masked.
  void log(int32_t level, std::string message) const;
  // Logs a failure (level 3) and keeps it as the worker's latest, the password masked.
  void fail(FailureKind kind, std::string message) const;

  Worker& worker;
  int32_t typeInForce = 0;  // the "TYPE" last sent on this connection, 0 before any

 private:
  std::string_view password_;
};

// Reads one reply from the control socket with the task's receive timeout (idle time per
// byte). Every line is logged at level 2. The reply code, or 0 when no reply could be read
// (then "获得返回命令失败" is logged at level 3).
int32_t ftpReadReply(FtpControl& control, FtpReply& reply, size_t lineLimit = kFtpLineLimit);

// Sends `command` followed by CR LF with the task's send timeout and reads the reply. The
// reply code; -1 when sending failed, 0 when no reply could be read. The caller logs the
// command (the password must never reach the log).
int32_t ftpCommand(FtpControl& control, std::string_view command, FtpReply& reply);

// Replaces every occurrence of `secret` in `text` by "******" (nothing for an empty secret).
std::string maskSecret(std::string text, std::string_view secret);
