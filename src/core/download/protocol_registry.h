#pragma once
// The protocol layers the download object knows, by the URL's protocol number.
#include <memory>

#include "net/url_split.h"
#include "transfer/protocol.h"

// The layer for url.protocol, or null when none is registered or the factory refuses the
// parameters (the task is then not created).
std::unique_ptr<ProtocolLayer> makeProtocolLayer(const TaskParam& param, const UrlParts& url);
