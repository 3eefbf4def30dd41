#pragma once
// The HTTP protocol layer: one GET per connection, byte ranges for segments, optional proxy,
// redirects with cookies.
#include <memory>
#include <mutex>

#include "engine/http_response.h"
#include "engine/http_settings.h"
#include "engine/protocol.h"

// The layer for an http:// task; null when the URL's request-URI is too long.
std::unique_ptr<ProtocolLayer> makeHttpLayer(const TaskParam& param, const UrlParts& url);

// The parsed response of a worker's latest connection.
struct HttpWorkerState : ProtocolWorkerState {
  HttpResponseInfo response;
};

class HttpLayer final : public ProtocolLayer {
 public:
  explicit HttpLayer(HttpSettings settings) : settings_(std::move(settings)) {}

  int32_t openFirst(Worker& worker, BodyBuffer& body) override;
  int32_t openSegment(Worker& worker, BodyBuffer& body) override;
  std::string pathForFileName() const override;
  void saveSnapshot(ProtocolSnapshot& out) const override;
  bool restoreSnapshot(const ProtocolSnapshot& in) override;

  HttpSettings settings() const;

 private:
  int32_t openFirstOnce(Worker& worker, BodyBuffer& body, int32_t redirectsLeft);

  mutable std::mutex mutex_;  // settings_ change only on the first connection
  HttpSettings settings_;
};
