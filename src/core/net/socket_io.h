#pragma once
// Socket primitives with timeouts, shared by the worker and the protocol layers, and the
// engine's error codes with their texts.
//
// Every primitive is blocking for its caller but never longer than its timeout, and returns
// early (with kErrorStopped where a code is due) once `stop.stopRequested()` holds; the
// stop condition is polled at least every kStopPollMs. Sockets are TCP over IPv4 or IPv6.
//
// A StreamFilter (TLS) may sit on a connected socket: the send and receive primitives then
// move their bytes through it instead of calling send()/recv() themselves, and wait for
// whichever direction it asks for.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// A layer that carries a connection's bytes above its non-blocking socket (TLS).
enum class FilterIo {
  Done,       // `count` bytes were moved (more than 0)
  WantRead,   // nothing moved; try again once the socket is readable
  WantWrite,  // nothing moved; try again once the socket is writable
  Closed,     // the peer ended the stream
  Failed,     // the stream is broken
};

class StreamFilter {
 public:
  virtual ~StreamFilter() = default;
  virtual FilterIo read(uint8_t* data, size_t size, size_t& count) = 0;
  virtual FilterIo write(const uint8_t* data, size_t size, size_t& count) = 0;
};

// The negative Windows-style code for a POSIX errno, -1 when it has none.
int32_t mapSocketError(int posixError);
// The fixed text of an engine or mapped socket code.
const char* errorText(int32_t code);

// True when `text` is four "."-separated parts of one to three decimal digits, each 0..255.
bool isDottedIpv4(std::string_view text);
// True when `text` is a numeric IPv4 (dotted) or IPv6 address, without brackets.
bool isIpLiteral(std::string_view text);
// True when `text` is a numeric IPv6 address, without brackets.
bool isIpv6Literal(std::string_view text);
// The addresses of a host name, IPv4 and IPv6, in numeric form and in the order the resolver
// prefers; empty when it has none. A numeric address is returned as it is. A name ending in
// "." that the resolver does not know is looked up once more without that dot.
std::vector<std::string> resolveHostAddresses(const std::string& name);
// The first address of resolveHostAddresses; false when there is none.
bool resolveHostName(const std::string& name, std::string& address);

// The numeric local (own side) or peer address of a connected socket; empty when unknown.
std::string socketAddressText(int fd, bool peer);
// True when the socket is an IPv6 one.
bool isIpv6Socket(int fd);

// Waits at most min(limitMs, kStopPollMs) for the socket to become readable (or writable):
// 1 ready, 0 not yet, -1 the wait failed.
int pollSocket(int fd, bool forWrite, int limitMs);

// Creates a new socket in `socket` (closing the one it held) and connects it to the numeric
// address (IPv4 or IPv6) and port within `timeoutMs`. 0 on success (the socket stays non-blocking;
// every primitive handles that); kErrorStopped when stopped, kErrorConnectTimeout on timeout,
// kErrorWaitFailed when the wait or the connection fails after it started, a mapped code when it
// fails at once. On failure the socket is closed.
int32_t connectWithTimeout(UniqueFd& socket, const std::string& address, uint16_t port,
                           int32_t timeoutMs, const StopCondition& stop);

// Sends all of `data` within `timeoutMs` (0 = no limit, -1 = do not wait for writability).
// The count sent, or kErrorWaitFailed, kErrorWaitTimeout, kErrorStopped or a mapped code.
// With a filter, its write is used (a filter failure gives kErrorSendFailed).
int32_t sendWithTimeout(int fd, std::string_view data, int32_t timeoutMs, const StopCondition& stop,
                        StreamFilter* filter = nullptr);

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
// null) as it arrives. The socket may be blocking or not. With a filter, its read is used
// (a filter failure gives kErrorReceiveFailed).
ReceiveResult receiveWithTimeout(int fd, uint8_t* buffer, const ReceiveRequest& request,
                                 const StopCondition& stop, ReceiveCounter* counter,
                                 StreamFilter* filter = nullptr);

// Active-mode helpers: a socket listening on the numeric `address` (any port when port is 0),
// backlog 1; its port; and one accepted connection within `timeoutMs`.
int32_t listenOnAddress(UniqueFd& socket, const std::string& address, uint16_t port);
uint16_t localPort(int fd);
int32_t acceptWithTimeout(int listenFd, UniqueFd& accepted, int32_t timeoutMs,
                          const StopCondition& stop);
