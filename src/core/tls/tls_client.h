#pragma once
// TLS (1.2 or newer, through OpenSSL) above a connected non-blocking socket: the client side
// of https. A TlsStream is a StreamFilter, so the socket primitives move its bytes and wait
// for whichever direction OpenSSL asks for; the protocols above it do not change.
//
// A TlsClient belongs to one task and is shared by its workers (each worker has its own
// TlsStream, one TLS connection per worker): it holds the trust settings, whether the peer is
// verified, and the sessions that full handshakes produced, which later connections resume so
// that opening a segment costs little. A session is kept per peer (host name, port and the
// proxy the tunnel runs through) and offered to that peer alone: resuming skips the
// certificate check, so a session stands only for the name its full handshake verified.
//
// Threads: TlsClient::connect may run on several threads at once; a TlsStream is used by
// the one thread that owns it.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
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
  Refused,      // no agreement that a retry could change: protocol versions, ciphers, or the
                // server's alert (it wants a client certificate, it refuses our parameters)
};

struct TlsHandshake {
  TlsFailure failure = TlsFailure::None;
  std::string message;   // why it failed, in OpenSSL's words ("certificate has expired")
  bool resumed = false;  // an earlier session of the same peer was resumed
};

// Whom a connection talks to: the session cache's key.
struct TlsPeer {
  std::string host;   // as the URL names it: a name (a trailing "." allowed) or an IP address
  uint16_t port = 0;  // the server's port
  std::string proxy;  // the proxy whose tunnel the connection goes through; empty when direct
};

class TlsStream final : public StreamFilter {
 public:
  TlsStream(ssl_st* ssl, std::string sessionKey);
  ~TlsStream() override;  // sends close_notify when the stream is sound, never waits
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  FilterIo read(uint8_t* data, size_t size, size_t& count) override;
  FilterIo write(const uint8_t* data, size_t size, size_t& count) override;

  // After a read or write failed: OpenSSL's reason when the server refused the connection in
  // a way no retry changes (with TLS 1.3 a server that wants a client certificate says so only
  // after the handshake, at the first read). Nothing for a broken connection.
  const std::optional<std::string>& refusal() const { return refusal_; }
  const std::string& sessionKey() const { return sessionKey_; }

 private:
  FilterIo outcome(int result);
  ssl_st* ssl_;
  std::string sessionKey_;
  bool broken_ = false;
  std::optional<std::string> refusal_;
};

class TlsClient {
 public:
  // verifyPeer false accepts any certificate (the command line's --insecure). Nothing when
  // OpenSSL cannot set up a context or load the trust store (error says why).
  static std::unique_ptr<TlsClient> create(bool verifyPeer, std::string& error);
  ~TlsClient();
  TlsClient(const TlsClient&) = delete;
  TlsClient& operator=(const TlsClient&) = delete;

  // Runs the handshake on the connected socket `fd` (which stays owned by the caller) with
  // `peer`: its host is a name, sent as SNI and checked against the certificate without a
  // trailing ".", or an IP address, checked against its IP entries. A session of the same
  // peer is offered for resumption. Within `timeoutMs`; null on failure (see `result`).
  std::unique_ptr<TlsStream> connect(int fd, const TlsPeer& peer, int32_t timeoutMs,
                                     const StopCondition& stop, TlsHandshake& result);

  bool verifiesPeer() const { return verifyPeer_; }

 private:
  TlsClient(ssl_ctx_st* context, bool verifyPeer) : context_(context), verifyPeer_(verifyPeer) {}
  static int onNewSession(ssl_st* ssl, ssl_session_st* session);
  void keepSession(const std::string& key, ssl_session_st* session);
  ssl_session_st* sessionFor(const std::string& key);

  ssl_ctx_st* context_;
  const bool verifyPeer_;
  std::mutex mutex_;  // guards sessions_
  // The latest resumable session of each peer, one reference held each; a redirect chain
  // visits few peers, and the cache is bounded all the same.
  std::map<std::string, ssl_session_st*> sessions_;
};
