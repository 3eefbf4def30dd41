// The HTTP protocol layer: first connection (with redirects) and segment connections.
#include "http/http_layer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "http/http_request.h"
#include "net/socket_io.h"
#include "platform/decimal.h"
#include "transfer/engine_log.h"
#include "transfer/transfer_task.h"
#include "transfer/worker.h"

namespace {

constexpr char kBadRedirect[] = "COOKIE过长或获得重定向信息错误或不支持的协议";
constexpr char kRedirectLoop[] = "重定向循环: [%s] 已在本次重定向中出现过";
constexpr char kTooManyRedirects[] = "重定向次数过多: 超过 %d 次";
constexpr char kRequestTooLong[] = "请求信息过长, 无法发送";

std::string spacesEncoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == ' ') {
      out += "%20";
    } else {
      out += c;
    }
  }
  return out;
}

// Where to connect: the addresses to try in order, and a port.
struct Target {
  std::vector<std::string> addresses;
  uint16_t port = 0;
};

// The server a URL names: its host (no brackets, no credentials) and port.
HostAndPort originOf(const HttpSettings& settings) {
  return splitHostPort(settings.hostText, settings.secure ? 443 : 80);
}

// The host of a proxy text "host", "host:port" or "[v6]:port" and its port (80 when absent).
HostAndPort proxyOf(const std::string& proxy) {
  return splitHostPort(proxy, 80);
}

// "host:port" as a CONNECT request names it, an IPv6 address in brackets.
std::string authorityText(const HostAndPort& origin) {
  std::string host = isIpv6Literal(origin.name) ? "[" + origin.name + "]" : origin.name;
  return host + ":" + std::to_string(origin.port);
}

// Resolves the proxy or the server of `settings`. False (logged) when the name is unknown.
bool chooseTarget(Worker& worker, const HttpSettings& settings, Target& target) {
  TransferTask& task = worker.task;
  bool viaProxy = settings.proxy && !settings.proxy->empty();
  HostAndPort where = viaProxy ? proxyOf(*settings.proxy) : originOf(settings);
  target.port = where.port;
  if (isIpLiteral(where.name)) {
    target.addresses = {where.name};
    return true;
  }
  engineLog(task, &worker, kLogProgress,
            formatText(viaProxy ? "正在代理服务器解析域名 [%s]" : "正在解析域名 [%s]",
                       where.name.c_str()));
  target.addresses = resolveHostAddresses(where.name);
  if (!target.addresses.empty()) return true;
  if (viaProxy) {
    engineFailure(worker, FailureKind::Network,
                  formatText("解析代理服务器域名 [%s]出错", settings.proxy->c_str()));
  } else {
    engineFailure(worker, FailureKind::Network,
                  formatText("解析域名 [%s]出错", where.name.c_str()));
  }
  return false;
}

// Connects worker.dataSocket to the first of the target's addresses that answers; the one
// reached is left in `reached`. kOpenReady or kOpenTransient (logged unless stopped).
int32_t connectTarget(Worker& worker, const Target& target, bool viaProxy, bool segment,
                      std::string& reached) {
  TransferTask& task = worker.task;
  for (const std::string& candidate : target.addresses) {
    std::string shown = isIpv6Literal(candidate) ? "[" + candidate + "]" : candidate;
    const char* address = shown.c_str();
    engineLog(task, &worker, kLogProgress,
              formatText(viaProxy ? "正在连接代理服务器 [%s:%d]" : "正在连接 [%s:%d]", address,
                         target.port));
    int32_t code =
        connectWithTimeout(worker.dataSocket, candidate, target.port, task.connectTimeout, worker);
    if (code == kErrorStopped || (code != 0 && worker.stopRequested())) return kOpenTransient;
    if (code == kErrorConnectTimeout) {
      engineFailure(worker, FailureKind::Network,
                    formatText("连接 [%s:%d]超时", address, target.port));
      continue;
    }
    if (code != 0) {
      engineFailure(worker, FailureKind::Network,
                    formatText("连接 [%s:%d]失败", address, target.port));
      continue;
    }
    engineLog(task, &worker, kLogProgress,
              formatText(segment ? "连接[%s:%d]成功" : "连接 [%s:%d]成功", address, target.port));
    reached = candidate;
    return kOpenReady;
  }
  return kOpenTransient;
}

int32_t readResponse(Worker& worker, BodyBuffer& body, const HttpSettings* settings = nullptr);

// Asks the proxy on worker.dataSocket for a tunnel to the origin. Only a 2xx answer with
// nothing after its header opens one.
int32_t openTunnel(Worker& worker, const HostAndPort& origin) {
  TransferTask& task = worker.task;
  std::string authority = authorityText(origin);
  std::string request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority +
                        "\r\nUser-Agent: " + kHttpUserAgent + "\r\n\r\n";
  engineLog(task, &worker, kLogSent, request);
  int32_t sent = sendWithTimeout(worker.dataSocket.get(), request, task.sendTimeout, worker);
  if (sent != static_cast<int32_t>(request.size())) {
    if (!worker.stopRequested()) engineFailure(worker, FailureKind::Network, "发送请求失败");
    return kOpenTransient;
  }
  uint8_t extra[64];
  BodyBuffer rest{extra, sizeof extra, 0};
  int32_t result = readResponse(worker, rest);
  if (result != kOpenReady) return result;
  int32_t code = worker.state<HttpWorkerState>().response.statusCode;
  worker.state<HttpWorkerState>().response = HttpResponseInfo{};
  if (code >= 200 && code < 300 && rest.length == 0) return kOpenReady;
  engineFailure(worker, FailureKind::ServerReply,
                formatText("代理服务器拒绝建立隧道, 返回号[%d]", code));
  return kOpenPermanent;
}

// A TLS connection that the server refused for good (a version, a cipher, a client
// certificate it wants): the task ends at once, naming OpenSSL's reason. False for anything
// else, which stays a transient failure.
bool failedForGood(Worker& worker, const HttpSettings& settings) {
  auto* stream = dynamic_cast<TlsStream*>(worker.dataFilter.get());
  if (stream == nullptr || !stream->refusal()) return false;
  engineFailure(worker, FailureKind::Security,
                formatText("TLS 连接被服务器拒绝 [%s]: %s", originOf(settings).name.c_str(),
                           stream->refusal()->c_str()));
  return true;
}

// TLS over worker.dataSocket for the settings' server (through the proxy's tunnel when one
// is used). A certificate that is not accepted, and a handshake that no retry can change, are
// permanent failures that name their reason.
int32_t startTls(Worker& worker, HttpLayer& layer, const HttpSettings& settings) {
  TransferTask& task = worker.task;
  HostAndPort origin = originOf(settings);
  TlsPeer peer{origin.name, origin.port, std::string()};
  if (settings.proxy && !settings.proxy->empty()) {
    int32_t tunnel = openTunnel(worker, origin);
    if (tunnel != kOpenReady) return tunnel;
    peer.proxy = *settings.proxy;
  }
  std::string error;
  TlsClient* client = layer.tlsClient(error);
  if (client == nullptr) {
    engineFailure(worker, FailureKind::Security, "无法建立 TLS 连接: " + error);
    return kOpenPermanent;
  }
  TlsHandshake handshake;
  std::unique_ptr<TlsStream> stream =
      client->connect(worker.dataSocket.get(), peer, task.connectTimeout, worker, handshake);
  if (stream) {
    engineLog(task, &worker, kLogProgress,
              handshake.resumed ? "TLS 连接已建立 (会话复用)" : "TLS 连接已建立");
    worker.dataFilter = std::move(stream);
    return kOpenReady;
  }
  switch (handshake.failure) {
    case TlsFailure::Certificate:
      engineFailure(worker, FailureKind::Security,
                    formatText("服务器证书验证失败 [%s]: %s", origin.name.c_str(),
                               handshake.message.c_str()));
      return kOpenPermanent;
    case TlsFailure::Refused:
      engineFailure(
          worker, FailureKind::Security,
          formatText("TLS 握手被拒绝 [%s]: %s", origin.name.c_str(), handshake.message.c_str()));
      return kOpenPermanent;
    case TlsFailure::Stopped:
      return kOpenTransient;
    default:
      engineFailure(
          worker, FailureKind::Network,
          formatText("TLS 握手失败 [%s]: %s", origin.name.c_str(), handshake.message.c_str()));
      return kOpenTransient;
  }
}

// Connects to the target, through the proxy's tunnel and TLS for https. kOpenReady with the
// address reached in `reached`, else kOpenTransient or kOpenPermanent (logged).
int32_t openConnection(Worker& worker, HttpLayer& layer, const HttpSettings& settings,
                       const Target& target, bool segment, std::string& reached) {
  bool viaProxy = settings.proxy && !settings.proxy->empty();
  // A stream left from an earlier connection must not outlive the socket it was set on:
  // the descriptor number is about to be reused.
  worker.dataFilter.reset();
  int32_t result = connectTarget(worker, target, viaProxy, segment, reached);
  if (result != kOpenReady || !settings.secure) return result;
  return startTls(worker, layer, settings);
}

int32_t sendRequest(Worker& worker, const HttpSettings& settings, std::string_view rangeLine) {
  TransferTask& task = worker.task;
  std::optional<std::string> request = buildHttpRequest(requestFieldsFor(settings, rangeLine));
  if (!request) {
    engineFailure(worker, FailureKind::None, kRequestTooLong);
    return kOpenPermanent;
  }
  engineLog(task, &worker, kLogSent, requestForLog(*request));
  int32_t sent = sendWithTimeout(worker.dataSocket.get(), *request, task.sendTimeout, worker,
                                 worker.dataFilter.get());
  if (sent != static_cast<int32_t>(request->size())) {
    if (worker.stopRequested()) return kOpenTransient;
    if (failedForGood(worker, settings)) return kOpenPermanent;
    engineFailure(worker, FailureKind::Network, "发送请求失败");
    return kOpenTransient;
  }
  return kOpenReady;
}

// Reads until a whole header block is held, parses it into the worker's state and copies
// the body bytes that followed it into `body`. `settings` name the server of a TLS connection
// (a refusal that comes with the first read ends the task).
int32_t readResponse(Worker& worker, BodyBuffer& body, const HttpSettings* settings) {
  TransferTask& task = worker.task;
  char buffer[kHttpHeaderBufferSize];
  size_t held = 0;
  std::optional<HeaderSpan> span;
  while (!(span = findHeaderBlock(std::string_view(buffer, held)))) {
    if (held == sizeof buffer) {
      engineFailure(worker, FailureKind::ServerReply, "HTTP返回头部信息过长");
      return kOpenPermanent;
    }
    ReceiveRequest request;
    request.wanted = sizeof buffer - held;
    request.idleTimeoutMs = task.receiveTimeout;
    request.maxReceives = 1;
    ReceiveResult result =
        receiveWithTimeout(worker.dataSocket.get(), reinterpret_cast<uint8_t*>(buffer) + held,
                           request, worker, nullptr, worker.dataFilter.get());
    held += result.received;
    if (worker.stopRequested()) return kOpenTransient;
    if (result.code < 0) {
      if (settings != nullptr && failedForGood(worker, *settings)) return kOpenPermanent;
      engineFailure(worker, FailureKind::Network, errorText(result.code));
      return kOpenTransient;
    }
  }
  std::string_view header(buffer + span->begin, span->end - span->begin);
  engineLog(task, &worker, kLogReceived, std::string(header));
  worker.state<HttpWorkerState>().response = parseHttpResponse(header);
  size_t extra = std::min(held - span->end, body.capacity);
  std::memcpy(body.data, buffer + span->end, extra);
  body.length = extra;
  return kOpenReady;
}

// A validator worth keeping: present, not empty, short enough for a request.
std::optional<std::string> keptValidator(const std::optional<std::string>& value) {
  if (!value || value->empty() || value->size() > kHttpValidatorLimit) return std::nullopt;
  return value;
}

// The range lines of a request from `position` on. When the file's validator is known they
// carry If-Range, so that a server whose file changed answers with the whole new file rather
// than a piece of it. A weak ETag cannot serve there; the date then does.
// With bounded ranges the request names the segment's last byte as well.
std::string rangeLines(const HttpSettings& settings, int64_t position, int64_t end) {
  std::string lines =
      settings.boundedRanges && end > position
          ? formatText("Range: bytes=%lld-%lld\r\n", static_cast<long long>(position),
                       static_cast<long long>(end - 1))
          : formatText("Range: bytes=%lld-\r\n", static_cast<long long>(position));
  bool weak = settings.etag && settings.etag->rfind("W/", 0) == 0;
  const std::optional<std::string>& validator =
      settings.etag && !weak ? settings.etag : settings.lastModified;
  if (validator) lines += "If-Range: " + *validator + "\r\n";
  return lines;
}

// False when the answer names a validator other than the one the download began with.
bool sameValidators(const HttpSettings& settings, const HttpResponseInfo& response) {
  if (settings.etag && response.etag && *settings.etag != *response.etag) return false;
  return !(settings.lastModified && response.lastModified &&
           *settings.lastModified != *response.lastModified);
}

// True when the answer carries every validator the download knows, each unchanged: only then
// does it provably describe the same file.
bool carriesSameValidators(const HttpSettings& settings, const HttpResponseInfo& response) {
  return (!settings.etag || response.etag == settings.etag) &&
         (!settings.lastModified || response.lastModified == settings.lastModified);
}

bool knowsValidator(const HttpSettings& settings) {
  return settings.etag || settings.lastModified;
}

// Why the first answer of a resumed download does not continue its partial file; nothing when
// it does: a 206 from the position asked, in a file of the recorded size, that names the
// recorded validators.
std::optional<std::string> resumeRefusal(const HttpSettings& settings,
                                         const HttpResponseInfo& response, int64_t position,
                                         int64_t total) {
  if (response.statusCode == 416) {
    std::optional<int64_t> size;
    if (response.contentRange) size = unsatisfiedRangeTotal(*response.contentRange);
    if (size) {
      return formatText("续传位置 %lld 超出服务器上文件的大小 (%lld 字节, 返回号[416])",
                        static_cast<long long>(position), static_cast<long long>(*size));
    }
    return formatText("服务器不接受续传位置 %lld (返回号[416])", static_cast<long long>(position));
  }
  std::optional<ContentRange> got;
  if (response.contentRange) got = parseContentRange(*response.contentRange);
  if (!got || got->first != position || got->total != total ||
      !sameValidators(settings, response)) {
    return std::string("服务器上的文件已改变");
  }
  if (!carriesSameValidators(settings, response)) {
    return std::string("续传的回答没有给出文件的版本 (ETag, Last-Modified), 无法确认文件未改变");
  }
  return std::nullopt;
}

// The server's file changed under a running download: the task starts over as a whole once,
// and fails the second time.
int32_t fileChanged(Worker& worker, const std::string& what) {
  return serverFileChanged(worker, what) ? kOpenDropped : kOpenPermanent;
}

int32_t rejectStatus(Worker& worker, int32_t code) {
  if (code == 400 || code == 403 || code == 404) {
    engineFailure(worker, FailureKind::ServerReply, formatText("出现错误, 返回号[%d]", code));
  } else {
    engineFailure(worker, FailureKind::ServerReply,
                  formatText("暂时不支持的返回, 返回号[%d]", code));
  }
  return kOpenPermanent;
}

// A segment request answered 200: the server ignores ranges and sends the whole file. The
// task goes on over one connection: the first connection reads on through its answer, or,
// when it has closed already, this answer is read from byte 0. A length other than the
// task's total means another file: that is an integrity failure, not a fallback.
int32_t fallBackToOneConnection(Worker& worker, const HttpResponseInfo& response) {
  TransferTask& task = worker.task;
  int64_t total = task.totalSize.load();
  if (response.contentLength >= 0 && response.contentLength != total) {
    engineFailure(
        worker, FailureKind::Integrity,
        formatText("返回的文件大小不符: 应为 %lld 字节, 返回 %lld 字节",
                   static_cast<long long>(total), static_cast<long long>(response.contentLength)));
    return kOpenPermanent;
  }
  bool first = false;
  SegmentTable::Fallback fallback =
      task.segments.fallBackToOne(worker.segmentIndex(), total, first);
  if (first) {
    engineLog(task, &worker, kLogError, "服务器不支持断点续传, 改为单连接下载");
    // The one connection left carries the whole speed limit.
    if (task.speedLimit > 0) task.workerSpeedLimit = task.speedLimit;
  }
  return fallback == SegmentTable::Fallback::Restart ? kOpenReady : kOpenDropped;
}

// The answer (200, 206 or 416) to a delta's request for the file's end. kOpenReady when it holds
// just that end (the size and validators taken, deltaTailStart set, no segments laid out yet);
// kOpenPermanent when the file cannot be the expected one; kOpenDropped when the delta is
// given up: a 200 answer then goes on as an ordinary download, anything else is asked again
// for the whole file.
int32_t takeTailAnswer(Worker& worker, HttpLayer& layer, const HttpResponseInfo& response,
                       BodyBuffer& body) {
  TransferTask& task = worker.task;
  task.deltaAsked = false;
  int32_t code = response.statusCode;
  if (code != 206) {
    engineLog(task, &worker, kLogError,
              code == 200 ? "服务器不支持按范围下载, 下载整个文件"
                          : "服务器拒绝文件末尾的范围, 下载整个文件");
    return kOpenDropped;
  }
  std::optional<ContentRange> got;
  if (response.contentRange) got = parseContentRange(*response.contentRange);
  const int64_t asked = task.delta->tailLength();
  if (!got || got->last != got->total - 1 ||
      got->first != std::max<int64_t>(0, got->total - asked)) {
    engineLog(task, &worker, kLogError,
              formatText("文件末尾的回答范围不符 [%s], 下载整个文件",
                         response.contentRange ? response.contentRange->c_str() : "无范围"));
    return kOpenDropped;
  }
  if (auto refusal = task.sizeRefusal(got->total)) {
    engineFailure(worker, FailureKind::Integrity, *refusal);
    return kOpenPermanent;
  }
  layer.setValidators(keptValidator(response.etag), keptValidator(response.lastModified));
  layer.boundRanges();
  task.setTotalSize(got->total);
  task.deltaTailStart = got->first;
  body.length = static_cast<size_t>(
      std::min<int64_t>(static_cast<int64_t>(body.length), got->total - got->first));
  return kOpenReady;
}

}  // namespace

std::unique_ptr<ProtocolLayer> makeHttpLayer(const TaskParam& param, const UrlParts& url) {
  HttpSettings settings;
  if (param.proxy && !param.proxy->empty()) settings.proxy = param.proxy;
  settings.secure = url.secure;
  // Credentials in the URL go as Authorization, never in Host, the request line or Referer.
  settings.hostText = url.authority;
  settings.port = url.port;
  if (url.userInfo) settings.authorization = basicAuthorization(*url.userInfo);
  std::string whole = urlWithoutUserInfo(withoutFragment(param.url.value_or(std::string())));
  bool wholeUrl = settings.proxy && !settings.secure;
  settings.requestUri = spacesEncoded(wholeUrl ? std::string_view(whole) : url.path);
  if (param.referer) {
    settings.referer = param.referer;
  } else {
    settings.referer = whole.substr(0, whole.rfind('/'));
  }
  return std::make_unique<HttpLayer>(std::move(settings), param.verifyTls);
}

TlsClient* HttpLayer::tlsClient(std::string& error) {
  std::lock_guard lock(tlsMutex_);
  if (!tls_) tls_ = TlsClient::create(verifyTls_, error);
  return tls_.get();
}

HttpSettings HttpLayer::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

void HttpLayer::setServer(const std::string& requestUri, const std::string& address,
                          uint16_t port) {
  std::lock_guard lock(mutex_);
  settings_.requestUri = requestUri;
  settings_.serverAddress = address;
  settings_.port = port;
}

RedirectResult HttpLayer::redirect(const HttpResponseInfo& response) {
  std::lock_guard lock(mutex_);
  return resolveRedirect(settings_, response);
}

int32_t httpOpenFirst(Worker& worker, BodyBuffer& body) {
  TransferTask& task = worker.task;
  HttpLayer& layer = static_cast<HttpLayer&>(*task.protocol);
  // Every URL of this redirect chain: one that comes again is a loop.
  std::vector<std::string> chain{spacesEncoded(currentUrl(layer.settings()))};
  for (int32_t redirects = 0;; ++redirects) {
    HttpSettings settings = layer.settings();
    settings.requestUri = spacesEncoded(settings.requestUri);
    Target target;
    if (!chooseTarget(worker, settings, target)) return kOpenTransient;
    std::string reached;
    int32_t result = openConnection(worker, layer, settings, target, false, reached);
    if (result != kOpenReady) return result;
    layer.setServer(settings.requestUri, reached, target.port);
    // A resumed task asks for the rest of its first unfinished segment.
    bool resuming = task.resuming.load();
    int64_t position = resuming ? worker.position() : 0;
    // A delta asks for the file's end first.
    bool tail = !resuming && task.deltaAsked.load() && task.delta;
    std::string range = resuming ? rangeLines(settings, position, worker.segmentEnd())
                        : tail   ? formatText("Range: bytes=-%lld\r\n",
                                              static_cast<long long>(task.delta->tailLength()))
                                 : std::string();
    if ((result = sendRequest(worker, settings, range)) != kOpenReady) return result;
    if ((result = readResponse(worker, body, &settings)) != kOpenReady) return result;
    const HttpResponseInfo& response = worker.state<HttpWorkerState>().response;
    int32_t code = response.statusCode;
    if (resuming && (code == 206 || code == 416)) {
      std::optional<std::string> refusal =
          resumeRefusal(settings, response, position, task.totalSize.load());
      if (!refusal) return kOpenReady;
      // Not the file the partial file holds, or not provably: ask again for the whole of it.
      startOver(worker, *refusal);
      worker.dataSocket.reset();
      worker.state<HttpWorkerState>().response = HttpResponseInfo{};
      body.length = 0;
      continue;
    }
    if (tail && (code == 200 || code == 206 || code == 416)) {
      int32_t taken = takeTailAnswer(worker, layer, response, body);
      if (taken != kOpenDropped) return taken;
      if (code != 200) {
        // Asked again, for the whole file.
        worker.dataFilter.reset();
        worker.dataSocket.reset();
        worker.state<HttpWorkerState>().response = HttpResponseInfo{};
        body.length = 0;
        continue;
      }
    }
    if (resuming && code == 200) {
      // The file changed (If-Range) or the server ignores ranges: this answer carries the
      // whole file and starts the download afresh.
      startOver(worker, "服务器上的文件已改变或不支持断点续传");
    }
    if (code == 200 || code == 206) {
      if (response.disposition) {
        if (auto name = dispositionFileName(*response.disposition)) {
          task.appendServerFileName(*name);
        }
      }
      if (response.contentLength < 0) {
        engineFailure(worker, FailureKind::ServerReply, "无法获得文件大小");
        return kOpenPermanent;
      }
      if (auto refusal = task.sizeRefusal(response.contentLength)) {
        engineFailure(worker, FailureKind::Integrity, *refusal);
        return kOpenPermanent;
      }
      layer.setValidators(keptValidator(response.etag), keptValidator(response.lastModified));
      task.setTotalSize(response.contentLength);
      int64_t total = response.contentLength;
      task.segments.layout(
          total, total < static_cast<int64_t>(kTransferBufferSize) ? 1 : task.connectionCount);
      body.length =
          static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(body.length), total));
      return kOpenReady;
    }
    if (!isRedirectStatus(code)) return rejectStatus(worker, code);
    if (!response.location) {
      engineFailure(worker, FailureKind::ServerReply, "获得重定向信息错误");
      return kOpenPermanent;
    }
    engineLog(task, &worker, kLogError, formatText("重定向到 [%s]", response.location->c_str()));
    if (redirects >= task.tuning.maxRedirects) {
      engineFailure(worker, FailureKind::ServerReply,
                    formatText(kTooManyRedirects, task.tuning.maxRedirects));
      return kOpenPermanent;
    }
    RedirectResult redirect = layer.redirect(response);
    if (redirect == RedirectResult::Downgrade) {
      engineFailure(
          worker, FailureKind::Security,
          formatText("拒绝从 https 重定向到不加密的 http [%s]", response.location->c_str()));
      return kOpenPermanent;
    }
    if (redirect != RedirectResult::Followed) {
      engineFailure(worker, FailureKind::ServerReply, kBadRedirect);
      return kOpenPermanent;
    }
    std::string next = spacesEncoded(currentUrl(layer.settings()));
    if (std::find(chain.begin(), chain.end(), next) != chain.end()) {
      engineFailure(worker, FailureKind::ServerReply, formatText(kRedirectLoop, next.c_str()));
      return kOpenPermanent;
    }
    chain.push_back(std::move(next));
    worker.dataFilter.reset();
    worker.dataSocket.reset();
    worker.state<HttpWorkerState>().response = HttpResponseInfo{};
    body.length = 0;
  }
}

int32_t httpOpenSegment(Worker& worker, BodyBuffer& body) {
  TransferTask& task = worker.task;
  HttpLayer& layer = static_cast<HttpLayer&>(*task.protocol);
  HttpSettings settings = layer.settings();
  Target target{{settings.serverAddress}, settings.port};
  std::string reached;
  int32_t result = openConnection(worker, layer, settings, target, true, reached);
  if (result != kOpenReady) return result;
  int64_t position = worker.position();
  std::string range = rangeLines(settings, position, worker.segmentEnd());
  if ((result = sendRequest(worker, settings, range)) != kOpenReady) return result;
  if ((result = readResponse(worker, body, &settings)) != kOpenReady) return result;
  const HttpResponseInfo& response = worker.state<HttpWorkerState>().response;
  int32_t code = response.statusCode;
  int64_t total = task.totalSize.load();
  if (code == 206) {
    // Only bytes that are provably those asked for may reach the file: the range must start
    // where the segment stands, in a file of the size the first answer gave.
    std::optional<ContentRange> range;
    if (response.contentRange) range = parseContentRange(*response.contentRange);
    if (range && range->first == position && range->total == total) {
      if (sameValidators(settings, response)) return kOpenReady;
      return fileChanged(worker, "服务器上的文件已改变 (返回的文件版本不同)");
    }
    engineFailure(worker, FailureKind::Integrity,
                  formatText("返回的数据范围不符: 请求 [%lld-] (文件 %lld 字节), 返回 [%s]",
                             static_cast<long long>(position), static_cast<long long>(total),
                             response.contentRange ? response.contentRange->c_str() : "无范围"));
    return kOpenPermanent;
  }
  if (code == 200) {
    // Asked with If-Range, a 200 means another file unless it names the same version (a
    // server that ignores ranges altogether answers so too).
    if (knowsValidator(settings) &&
        (response.contentLength != total || !carriesSameValidators(settings, response))) {
      return fileChanged(worker, "服务器上的文件已改变 (对 If-Range 的请求返回 200)");
    }
    return fallBackToOneConnection(worker, response);
  }
  return rejectStatus(worker, code);
}

std::string HttpLayer::pathForFileName() const {
  std::lock_guard lock(mutex_);
  return settings_.requestUri;
}

void HttpLayer::setValidators(std::optional<std::string> etag,
                              std::optional<std::string> lastModified) {
  std::lock_guard lock(mutex_);
  settings_.etag = std::move(etag);
  settings_.lastModified = std::move(lastModified);
}

void HttpLayer::boundRanges() {
  std::lock_guard lock(mutex_);
  settings_.boundedRanges = true;
}

void HttpLayer::saveSnapshot(ProtocolSnapshot& out) const {
  std::lock_guard lock(mutex_);
  out.texts = {settings_.proxy, settings_.hostText,     settings_.requestUri, settings_.referer,
               settings_.etag,  settings_.lastModified, std::nullopt};
  out.integers.fill(0);
  out.integers[0] = settings_.port;
  out.integers[1] = settings_.secure ? 1 : 0;
  out.integers[2] = settings_.boundedRanges ? 1 : 0;
}

bool HttpLayer::describesSameFile(const ProtocolSnapshot& earlier) const {
  std::lock_guard lock(mutex_);
  return (earlier.integers[1] == 1) == settings_.secure && earlier.texts[4] == settings_.etag &&
         earlier.texts[5] == settings_.lastModified;
}

bool HttpLayer::detectsChange() const {
  std::lock_guard lock(mutex_);
  return settings_.etag || settings_.lastModified;
}

bool HttpLayer::restoreSnapshot(const ProtocolSnapshot& in) {
  if (!in.texts[1] || !in.texts[2]) return false;
  // The validators go into requests: nothing that could end a header line.
  std::string_view unsafe("\r\n\0", 3);
  for (int slot : {4, 5}) {
    const std::optional<std::string>& text = in.texts[slot];
    if (text && (text->empty() || text->size() > kHttpValidatorLimit ||
                 text->find_first_of(unsafe) != std::string::npos)) {
      return false;
    }
  }
  std::lock_guard lock(mutex_);
  if ((in.integers[1] == 1) != settings_.secure) return false;  // https never resumes as http
  settings_.etag = in.texts[4];
  settings_.lastModified = in.texts[5];
  settings_.boundedRanges = in.integers[2] == 1;
  return true;
}
