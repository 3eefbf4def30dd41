// TLS client connections over the engine's own non-blocking sockets.
#include "tls/tls_client.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>

#include "net/url_split.h"
#include "tls/tls_refusal.h"
#include "tls/trust_store.h"

namespace {

using Clock = std::chrono::steady_clock;

// OpenSSL's reads fill this much at a time (read-ahead), so a large transfer needs few
// system calls per record.
constexpr size_t kReadAheadBytes = 256 * 1024;
// Peers whose sessions a client keeps: a redirect chain visits a few.
constexpr size_t kMostPeers = 32;

std::string lastOpenSslError() {
  unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) return "TLS 连接中断";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool loadTrust(SSL_CTX* context) {
  TrustLocations trust = trustLocations();
  if (trust.systemDefault()) return SSL_CTX_set_default_verify_paths(context) == 1;
  const char* file = trust.caFile ? trust.caFile->c_str() : nullptr;
  const char* directory = trust.caDirectory ? trust.caDirectory->c_str() : nullptr;
  return SSL_CTX_load_verify_locations(context, file, directory) == 1;
}

// Names are compared without letter case or a trailing "."; a session goes through one proxy.
std::string sessionKeyOf(const TlsPeer& peer) {
  return comparableHostName(peer.host) + "\n" + std::to_string(peer.port) + "\n" + peer.proxy;
}

}  // namespace

TlsStream::TlsStream(ssl_st* ssl, std::string sessionKey)
    : ssl_(ssl), sessionKey_(std::move(sessionKey)) {
  // The session callback finds the stream, and with it the peer the session belongs to.
  SSL_set_app_data(ssl_, this);
}

TlsStream::~TlsStream() {
  if (!broken_) {
    // One non-blocking close_notify: it also keeps the session resumable for the others.
    ERR_clear_error();
    SSL_shutdown(ssl_);
  }
  ERR_clear_error();
  SSL_free(ssl_);
}

FilterIo TlsStream::outcome(int result) {
  int error = SSL_get_error(ssl_, result);
  switch (error) {
    case SSL_ERROR_WANT_READ:
      return FilterIo::WantRead;
    case SSL_ERROR_WANT_WRITE:
      return FilterIo::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
      return FilterIo::Closed;
    default:
      broken_ = true;
      if (error == SSL_ERROR_SSL) refusal_ = pendingTlsRefusal();
      ERR_clear_error();
      return FilterIo::Failed;
  }
}

FilterIo TlsStream::read(uint8_t* data, size_t size, size_t& count) {
  if (broken_) return FilterIo::Failed;
  ERR_clear_error();
  int result = SSL_read_ex(ssl_, data, size, &count);
  if (result == 1) return FilterIo::Done;
  count = 0;
  return outcome(result);
}

FilterIo TlsStream::write(const uint8_t* data, size_t size, size_t& count) {
  if (broken_) return FilterIo::Failed;
  ERR_clear_error();
  int result = SSL_write_ex(ssl_, data, size, &count);
  if (result == 1) return FilterIo::Done;
  count = 0;
  return outcome(result);
}

std::unique_ptr<TlsClient> TlsClient::create(bool verifyPeer, std::string& error) {
  // A task (and its client) is freed on the task's own detached thread, which may still be
  // at it while the process exits: OpenSSL's exit-time cleanup must not free what
  // SSL_CTX_free then uses. The system reclaims the rest at exit anyway.
  static const bool initialised = OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
  (void)initialised;
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) {
    error = lastOpenSslError();
    return nullptr;
  }
  std::unique_ptr<TlsClient> client(new TlsClient(context, verifyPeer));
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  // A stream that ends without close_notify ends like a plain connection; the engine
  // checks that every byte of a range arrived.
  SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_CTX_clear_mode(context, SSL_MODE_AUTO_RETRY);
  SSL_CTX_set_read_ahead(context, 1);
  SSL_CTX_set_default_read_buffer_len(context, kReadAheadBytes);
  SSL_CTX_set_verify(context, verifyPeer ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  if (verifyPeer && !loadTrust(context)) {
    error = "无法读取受信任的证书: " + lastOpenSslError();
    return nullptr;
  }
  // Sessions are kept by this client (per task), not in OpenSSL's shared cache.
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL);
  SSL_CTX_sess_set_new_cb(context, &TlsClient::onNewSession);
  SSL_CTX_set_app_data(context, client.get());
  return client;
}

TlsClient::~TlsClient() {
  for (auto& [key, session] : sessions_) SSL_SESSION_free(session);
  SSL_CTX_free(context_);
}

int TlsClient::onNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* client = static_cast<TlsClient*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
  auto* stream = static_cast<TlsStream*>(SSL_get_app_data(ssl));
  if (client == nullptr || stream == nullptr) return 0;
  client->keepSession(stream->sessionKey(), session);
  return 1;  // the reference OpenSSL handed over is now the client's
}

void TlsClient::keepSession(const std::string& key, SSL_SESSION* session) {
  std::lock_guard lock(mutex_);
  auto known = sessions_.find(key);
  if (known != sessions_.end()) {
    SSL_SESSION_free(known->second);
    known->second = session;
    return;
  }
  if (sessions_.size() >= kMostPeers) {
    SSL_SESSION_free(sessions_.begin()->second);
    sessions_.erase(sessions_.begin());
  }
  sessions_.emplace(key, session);
}

SSL_SESSION* TlsClient::sessionFor(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto known = sessions_.find(key);
  if (known == sessions_.end() || SSL_SESSION_is_resumable(known->second) != 1) return nullptr;
  SSL_SESSION_up_ref(known->second);
  return known->second;
}

std::unique_ptr<TlsStream> TlsClient::connect(int fd, const TlsPeer& peer, int32_t timeoutMs,
                                              const StopCondition& stop, TlsHandshake& result) {
  result = TlsHandshake{};
  ERR_clear_error();
  SSL* ssl = SSL_new(context_);
  if (ssl == nullptr) {
    result.failure = TlsFailure::Network;
    result.message = lastOpenSslError();
    return nullptr;
  }
  auto stream = std::make_unique<TlsStream>(ssl, sessionKeyOf(peer));
  // "host." is "host": certificates and server name indication name it without the dot.
  const std::string host(withoutTrailingDot(peer.host));
  bool literal = isIpLiteral(host);
  bool configured = SSL_set_fd(ssl, fd) == 1;
  // Server name indication carries names only, never an address.
  if (configured && !literal) configured = SSL_set_tlsext_host_name(ssl, host.c_str()) == 1;
  if (configured && verifyPeer_) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    configured = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                         : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
  }
  // Only a session of this very peer: resuming it skips the certificate check, which its
  // full handshake made for this name.
  if (SSL_SESSION* session = configured ? sessionFor(stream->sessionKey()) : nullptr) {
    SSL_set_session(ssl, session);
    SSL_SESSION_free(session);
  }
  if (!configured) {
    result.failure = TlsFailure::Network;
    result.message = lastOpenSslError();
    return nullptr;
  }
  auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 10));
  while (true) {
    ERR_clear_error();
    int done = SSL_connect(ssl);
    if (done == 1) break;
    int error = SSL_get_error(ssl, done);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      long verified = SSL_get_verify_result(ssl);
      std::optional<std::string> refusal;
      if (verifyPeer_ && verified != X509_V_OK) {
        result.failure = TlsFailure::Certificate;
        result.message = X509_verify_cert_error_string(verified);
        ERR_clear_error();
      } else if (error == SSL_ERROR_SSL && (refusal = pendingTlsRefusal())) {
        result.failure = TlsFailure::Refused;
        result.message = *refusal;
        ERR_clear_error();
      } else {
        result.failure = TlsFailure::Network;
        result.message = lastOpenSslError();
      }
      SSL_set_shutdown(ssl, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);  // nothing to close
      return nullptr;
    }
    if (stop.stopRequested()) {
      result.failure = TlsFailure::Stopped;
      return nullptr;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      result.failure = TlsFailure::Timeout;
      result.message = "TLS 握手超时";
      return nullptr;
    }
    if (pollSocket(fd, error == SSL_ERROR_WANT_WRITE, static_cast<int>(left.count())) < 0) {
      result.failure = TlsFailure::Network;
      result.message = "TLS 握手等待失败";
      return nullptr;
    }
  }
  result.resumed = SSL_session_reused(ssl) == 1;
  return stream;
}
