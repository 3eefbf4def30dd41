#pragma once
// Socket primitives with timeouts, shared by the worker and the protocol layers, and the
// engine's error codes with their texts.
//
// Every primitive is blocking for its caller but never longer than its timeout, and returns
// early (with kErrorStopped where a code is due) once `stop.stopRequested()` holds; the
// stop condition is polled at least every kStopPollMs. Sockets are IPv4 TCP.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

// Engine error codes. A failing socket call gives the negative of the Windows-style code
// listed in mapSocketError, or -1.
inline constexpr int32_t kErrorUnknown = -1;
inline constexpr int32_t kErrorPosition = -2;
inline constexpr int32_t kErrorSocketState = -3;
inline constexpr int32_t kErrorNullPointer = -4;
inline constexpr int32_t kErrorWaitFailed = -5;
inline constexpr int32_t kErrorWaitTimeout = -6;
inline constexpr int32_t kErrorSendFailed = -7;
inline constexpr int32_t kErrorReceiveFailed = -8;
inline constexpr int32_t kErrorNotReady = -9;
inline constexpr int32_t kErrorReceiveTimeout = -10;
inline constexpr int32_t kErrorConnectTimeout = -11;
inline constexpr int32_t kErrorStopped = -20;
inline constexpr int32_t kErrorPeerClosed = -22;

// How often a blocking primitive looks at its stop condition.
inline constexpr int kStopPollMs = 20;

// Something a blocking primitive asks whether to give up (a worker, a test).
class StopCondition {
 public:
  virtual bool stopRequested() const = 0;

 protected:
  ~StopCondition() = default;
};

// Receives counts of bytes as they arrive (the worker adds them to the task's counters).
class ReceiveCounter {
 public:
  virtual void countReceived(size_t bytes) = 0;

 protected:
  ~ReceiveCounter() = default;
};

// The negative Windows-style code for a POSIX errno, -1 when it has none.
int32_t mapSocketError(int posixError);
// The fixed text of an engine or mapped socket code.
const char* errorText(int32_t code);

// True when `text` is four "."-separated parts of one to three decimal digits, each 0..255.
bool isDottedIpv4(std::string_view text);
// Resolves a host name to its first IPv4 address in dotted form; false when it cannot.
bool resolveHostName(const std::string& name, std::string& dottedAddress);

// Creates a new socket in `socket` (closing the one it held) and connects it to
// address:port within `timeoutMs`. 0 on success (the socket stays non-blocking; every primitive
// handles that); kErrorStopped when stopped, kErrorConnectTimeout on timeout, kErrorWaitFailed when
// the wait or the connection fails after it started, a mapped code when it fails at once. On
// failure the socket is closed.
int32_t connectWithTimeout(UniqueFd& socket, const std::string& dottedAddress, uint16_t port,
                           int32_t timeoutMs, const StopCondition& stop);

// Sends all of `data` within `timeoutMs` (0 = no limit, -1 = do not wait for writability).
// The count sent, or kErrorWaitFailed, kErrorWaitTimeout, kErrorStopped or a mapped code.
int32_t sendWithTimeout(int fd, std::string_view data, int32_t timeoutMs,
                        const StopCondition& stop);

struct ReceiveRequest {
  size_t wanted = 0;          // the call ends once this many bytes have arrived
  size_t largestSingle = 0;   // most bytes asked of one receive (0 = wanted)
  int32_t idleTimeoutMs = 0;  // longest time without data; 0 = no limit
  int32_t maxReceives = 0;    // the call ends after this many receives that gave data; 0 = no limit
};

struct ReceiveResult {
  int32_t code = 0;     // bytes received (>= 0) or an error code
  size_t received = 0;  // bytes placed in the buffer, also after a failure
};

// Receives into `buffer` (room for request.wanted bytes). A stop ends the call with what
// has arrived (code = that count). kErrorReceiveTimeout after idleTimeoutMs without data,
// kErrorPeerClosed when the peer closed the connection, kErrorWaitFailed when the wait
// fails, a mapped code when a receive fails. Each chunk is reported to `counter` (may be
// null) as it arrives. The socket may be blocking or not.
ReceiveResult receiveWithTimeout(int fd, uint8_t* buffer, const ReceiveRequest& request,
                                 const StopCondition& stop, ReceiveCounter* counter);

// Active-mode helpers: a socket listening on `dottedAddress` (any port when port is 0),
// backlog 1; its port; and one accepted connection within `timeoutMs`.
int32_t listenOnAddress(UniqueFd& socket, const std::string& dottedAddress, uint16_t port);
uint16_t localPort(int fd);
int32_t acceptWithTimeout(int listenFd, UniqueFd& accepted, int32_t timeoutMs,
                          const StopCondition& stop);
