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

void initialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

std::string httpReadText(const std::string& url, const HttpTextTimeouts& timeouts,
                         const std::atomic<bool>* cancel) {
  std::string body;
  std::string target = url.substr(0, url.find('#'));
  if (target.empty()) return body;
  initialiseOnce();
  std::unique_ptr<CURL, CurlFree> handle(curl_easy_init());
  if (!handle) return body;
  std::unique_ptr<curl_slist, SlistFree> headers;
  for (const char* line : {"Accept: */*", "Pragma: no-cache", "Cache-Control: no-cache"}) {
    curl_slist* appended = curl_slist_append(headers.get(), line);
    if (appended == nullptr) return body;
    headers.release();
    headers.reset(appended);
  }
  CURL* h = handle.get();
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
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(h);  // whatever arrived is the result, complete or not
  return body;
}
