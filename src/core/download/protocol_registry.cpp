// The protocol layers the engine knows, by protocol number.
#include "download/protocol_registry.h"

#include "ftp/ftp_layer.h"
#include "http/http_layer.h"

namespace {

struct Registration {
  int32_t protocol;
  ProtocolFactory make;
};

constexpr Registration kLayers[] = {
    {kProtocolHttp, &makeHttpLayer},
    {kProtocolFtp, &makeFtpLayer},
};

}  // namespace

std::unique_ptr<ProtocolLayer> makeProtocolLayer(const TaskParam& param, const UrlParts& url) {
  for (const Registration& layer : kLayers) {
    if (layer.protocol == url.protocol) return layer.make(param, url);
  }
  return nullptr;
}
