// The protocol layers the engine knows, by protocol number.
#include "engine/ftp_layer.h"
#include "engine/http_layer.h"
#include "engine/protocol.h"

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
