#include "update/http_text.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "tls/trust_store.h"

namespace {

struct CurlFree {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t appendBody(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  size_t bytes = size * count;
  if (body->size() + bytes > kHttpTextLimit) return 0;  // ends the transfer
  body->append(data, bytes);
  return bytes;
}

// Called by libcurl at least once a second; a non-zero answer aborts the transfer.
int checkCancel(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(user);
  return cancel != nullptr && cancel->load(std::memory_order_relaxed) ? 1 : 0;
}

// The class of a transfer that did not complete, as the command line's exit statuses count
// them.
FailureKind failureKindOf(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return FailureKind::None;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return FailureKind::Network;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return FailureKind::Security;
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_WRITE_ERROR:  // only appendBody refuses bytes: the reply passed the limit
      return FailureKind::ServerReply;
    default:
      return FailureKind::None;
  }
}

void initialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

HttpTextResult fetchHttpText(const std::string& url, const HttpTextTimeouts& timeouts,
                             const std::atomic<bool>* cancel) {
  HttpTextResult result;
  std::string target = url.substr(0, url.find('#'));
  if (target.empty()) {
    result.reason = "no URL";
    return result;
  }
  initialiseOnce();
  std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
  if (!handle) {
    result.reason = curl_easy_strerror(CURLE_FAILED_INIT);
    return result;
  }
  std::unique_ptr<curl_slist, SlistFree> headers;
  for (const char* line : {"Accept: */*", "Pragma: no-cache", "Cache-Control: no-cache"}) {
    curl_slist* appended = curl_slist_append(headers.get(), line);
    if (appended == nullptr) {
      result.reason = curl_easy_strerror(CURLE_OUT_OF_MEMORY);
      return result;
    }
    headers.release();
    headers.reset(appended);
  }
  CURL* h = handle.get();
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(h, CURLOPT_URL, target.c_str());
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h, CURLOPT_USERAGENT, "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // The same authorities as the transfer engine: libcurl's own bundle path would ignore
  // SSL_CERT_FILE and SSL_CERT_DIR.
  TrustLocations trust = trustLocations();
  if (trust.caFile) curl_easy_setopt(h, CURLOPT_CAINFO, trust.caFile->c_str());
  if (trust.caDirectory) curl_easy_setopt(h, CURLOPT_CAPATH, trust.caDirectory->c_str());
  if (trust.caDirectory && !trust.caFile) curl_easy_setopt(h, CURLOPT_CAINFO, nullptr);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, std::max(1L, (timeouts.idleMs + 999) / 1000));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeouts.totalMs);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkCancel);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(cancel));
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &result.body);
  CURLcode code = curl_easy_perform(h);  // whatever arrived is the body, complete or not
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
  if (code != CURLE_OK) {
    result.failure = failureKindOf(code);
    result.reason = code == CURLE_WRITE_ERROR ? "the reply is larger than 64 MiB"
                    : error[0] != '\0'        ? error
                                              : curl_easy_strerror(code);
  }
  return result;
}

std::string httpReadText(const std::string& url, const HttpTextTimeouts& timeouts,
                         const std::atomic<bool>* cancel) {
  return fetchHttpText(url, timeouts, cancel).body;
}
