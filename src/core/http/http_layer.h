#pragma once
// The HTTP protocol layer: one GET per connection, byte ranges for segments, optional proxy,
// redirects with cookies.
#include <memory>
#include <mutex>

#include "http/http_redirect.h"
#include "http/http_response.h"
#include "http/http_settings.h"
#include "tls/tls_client.h"
#include "transfer/protocol.h"

// The layer for an http:// task; null when the URL's request-URI is too long.
std::unique_ptr<ProtocolLayer> makeHttpLayer(const TaskParam& param, const UrlParts& url);

// The first connection of a fresh task: resolve, connect to the first address that answers
// (directly or through the proxy; for https through the proxy's CONNECT tunnel, then TLS),
// send the GET, read and parse the header, follow up to tuning.maxRedirects redirects. On
// kOpenReady the total size is set, the segments are laid out and the body bytes that came
// with the header are in body. kOpenPermanent / kOpenTransient otherwise (logged).
int32_t httpOpenFirst(Worker& worker, BodyBuffer& body);
// A segment connection to the stored server address, asking for the bytes from the
// worker's position on (If-Range with the file's validator when it has one). Only a 206 that
// starts there is accepted; an answer that shows the server's file changed (a 200 to If-Range,
// another validator) starts the whole task over once (serverFileChanged), the second one ends
// it as an integrity failure.
int32_t httpOpenSegment(Worker& worker, BodyBuffer& body);

// The parsed response of a worker's latest connection.
struct HttpWorkerState : ProtocolWorkerState {
  HttpResponseInfo response;
};

class HttpLayer final : public ProtocolLayer {
 public:
  HttpLayer(HttpSettings settings, bool verifyTls)
      : settings_(std::move(settings)), verifyTls_(verifyTls) {}

  int32_t openFirst(Worker& worker, BodyBuffer& body) override {
    return httpOpenFirst(worker, body);
  }
  int32_t openSegment(Worker& worker, BodyBuffer& body) override {
    return httpOpenSegment(worker, body);
  }
  std::string pathForFileName() const override;
  // Texts: proxy, host text, request-URI, referer, ETag, Last-Modified (the seventh slot is
  // left free). Integers: the port, https, bounded ranges. A restored layer takes back only the
  // validators: a resumed download connects anew from its own URL, redirects included, and starts
  // over when the server's file no longer matches them.
  void saveSnapshot(ProtocolSnapshot& out) const override;
  bool restoreSnapshot(const ProtocolSnapshot& in) override;
  // The same scheme and the same validators (both absent counts as the same: the size alone
  // then tells, as curl and wget resume).
  bool describesSameFile(const ProtocolSnapshot& earlier) const override;
  bool detectsChange() const override;

  HttpSettings settings() const;
  // Records where the first connection went (address and port reused by segments).
  void setServer(const std::string& requestUri, const std::string& address, uint16_t port);
  // The validators of the file, from the first answer of a fresh download.
  void setValidators(std::optional<std::string> etag, std::optional<std::string> lastModified);
  // Range requests name their last byte from now on.
  void boundRanges();
  // Follows a redirect response; the settings change only when it is followed.
  RedirectResult redirect(const HttpResponseInfo& response);
  // The task's TLS client, made on first use and shared by its workers (they resume the
  // session of the first handshake). Null when it cannot be made (error says why).
  TlsClient* tlsClient(std::string& error);

 private:
  mutable std::mutex mutex_;  // settings_ change only on the first connection
  HttpSettings settings_;
  const bool verifyTls_;
  std::mutex tlsMutex_;
  std::unique_ptr<TlsClient> tls_;
};
