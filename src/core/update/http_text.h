#pragma once
// Blocking fetch of a whole HTTP resource into memory, used for the vendor's manifest.
//
// Sends an HTTP/1.0 GET with the user agent "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT
// 5.0)", "Accept: */*" and no-cache headers, follows at most 20 redirects, honours the proxy
// of the environment and supports https. The status code does not decide what is returned:
// an error page's body is returned like any other. On any failure the bytes read so far are
// returned (empty when nothing arrived). Runs on the caller's thread; safe to call from
// several threads at once. A set `cancel` flag (read from another thread) ends the fetch
// within about a second.
#include <atomic>
#include <string>

#include "transfer/task_outcome.h"

struct HttpTextTimeouts {
  long connectMs = 60000;  // to establish the connection
  long idleMs = 30000;     // longest time without a byte before giving up
  long totalMs = 60000;    // the whole fetch, however slowly the bytes come
};

// Bodies larger than this are cut here, so a hostile server cannot exhaust memory.
inline constexpr size_t kHttpTextLimit = 64 * 1024 * 1024;

// One fetch: the body, and why the transfer did not complete, for callers that tell it.
struct HttpTextResult {
  std::string body;
  long status = 0;                          // the last response's HTTP status; 0 when none came
  FailureKind failure = FailureKind::None;  // None when the transfer completed
  std::string reason;  // libcurl's error text when it did not complete; empty otherwise
};

HttpTextResult fetchHttpText(const std::string& url, const HttpTextTimeouts& timeouts = {},
                             const std::atomic<bool>* cancel = nullptr);
// The body alone.
std::string httpReadText(const std::string& url, const HttpTextTimeouts& timeouts = {},
                         const std::atomic<bool>* cancel = nullptr);
