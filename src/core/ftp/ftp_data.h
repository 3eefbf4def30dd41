#pragma once
// A worker's FTP data connection: the transfer type, passive ("PASV", over IPv6 "EPSV") or
// active ("PORT", over IPv6 "EPRT") mode, and the retrieve ("RETR") that starts the data flowing
// into worker.dataSocket.
//
// Whatever host a passive reply names, the data connection goes to the address of the
// control connection's server (only the reply's port is used), and in active mode only a
// connection from that address is accepted: a reply cannot send the data connection to,
// or take it from, another host.
#include <atomic>
#include <cstdint>
#include <string>

#include "ftp/ftp_control.h"
#include "platform/unique_fd.h"
#include "transfer/protocol.h"

inline constexpr int32_t kFtpPassiveMode = 1;
inline constexpr int32_t kFtpActiveMode = 2;

// Per-worker FTP state: the listening socket of active mode until the server connects.
struct FtpWorkerState : ProtocolWorkerState {
  UniqueFd listener;
};

struct FtpDataPlan {
  int32_t transferType = 0;        // kFtpTypeBinary or kFtpTypeText
  std::string serverAddress;       // numeric address of the control connection's server
  std::string pathArgument;        // the "RETR" argument
  std::atomic<int32_t>* dataMode;  // the task's mode; set to active for good when passive fails
};

// Sends "TYPE" when the transfer type is not in force yet (logged at level 2). kOpenReady,
// or kOpenTransient when the command gets no reply.
int32_t ftpSetType(FtpControl& control, int32_t transferType);

// The transfer type, then in passive mode "PASV" and a connection to the server; when
// passive mode fails the task switches to active mode for good and the same call goes on
// with "PORT" from a socket listening on the control connection's local address.
// kOpenReady, or kOpenTransient (logged).
int32_t openFtpDataConnection(FtpControl& control, const FtpDataPlan& plan);

// "RETR"; the reply must be 125 or 150. In active mode it then waits, up to the task's
// connect timeout, for the server's connection. kOpenReady with worker.dataSocket
// connected, or kOpenTransient (logged).
int32_t ftpRetrieve(FtpControl& control, const FtpDataPlan& plan);

// Closes the worker's listening socket, if any.
void closeFtpListener(Worker& worker);
