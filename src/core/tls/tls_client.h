#pragma once
// TLS (1.2 or newer, through OpenSSL) above a connected non-blocking socket: the client side
// of https. A TlsStream is a StreamFilter, so the socket primitives move its bytes and wait
// for whichever direction OpenSSL asks for; the protocols above it do not change.
//
// A TlsClient belongs to one task and is shared by its workers (each worker has its own
// TlsStream, one TLS connection per worker): it holds the trust settings, whether the peer is
// verified, and the session the first full handshake produced, which the other connections
// resume so that opening a segment costs little.
//
// Threads: TlsClient::connect may run on several threads at once; a TlsStream is used by
// the one thread that owns it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "net/socket_io.h"

struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;

enum class TlsFailure {
  None,
  Stopped,      // the caller's stop condition ended the handshake
  Timeout,      // no handshake within the timeout
  Network,      // the connection broke or the peer spoke something that is not TLS
  Certificate,  // the server's certificate was not accepted (message names why)
};

struct TlsHandshake {
  TlsFailure failure = TlsFailure::None;
  std::string message;   // why it failed, in OpenSSL's words ("certificate has expired")
  bool resumed = false;  // an earlier session of the same client was resumed
};

class TlsStream final : public StreamFilter {
 public:
  explicit TlsStream(ssl_st* ssl) : ssl_(ssl) {}
  ~TlsStream() override;  // sends close_notify when the stream is sound, never waits
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  FilterIo read(uint8_t* data, size_t size, size_t& count) override;
  FilterIo write(const uint8_t* data, size_t size, size_t& count) override;

 private:
  FilterIo outcome(int result);
  ssl_st* ssl_;
  bool broken_ = false;
};

class TlsClient {
 public:
  // verifyPeer false accepts any certificate (the command line's --insecure). Nothing when
  // OpenSSL cannot set up a context or load the trust store (error says why).
  static std::unique_ptr<TlsClient> create(bool verifyPeer, std::string& error);
  ~TlsClient();
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  // Runs the handshake on the connected socket `fd` (which stays owned by the caller) for
  // `host` (a name, sent as SNI and checked against the certificate, or an IP address,
  // checked against its IP entries), within `timeoutMs`. Null on failure (see `result`).
  std::unique_ptr<TlsStream> connect(int fd, const std::string& host, int32_t timeoutMs,
                                     const StopCondition& stop, TlsHandshake& result);

  bool verifiesPeer() const { return verifyPeer_; }

 private:
  TlsClient(ssl_ctx_st* context, bool verifyPeer) : context_(context), verifyPeer_(verifyPeer) {}
  static int onNewSession(ssl_st* ssl, ssl_session_st* session);
  void keepSession(ssl_session_st* session);
  ssl_session_st* sharedSession();

  ssl_ctx_st* context_;
  const bool verifyPeer_;
  std::mutex mutex_;                   // guards session_
  ssl_session_st* session_ = nullptr;  // the latest resumable session, one reference held
};
