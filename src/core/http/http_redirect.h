#pragma once
// Following a 301 or 302 response: the next request's scheme, host, port, request-URI,
// referer and cookie line. http may lead to https; https never leads back to http.
#include <cstddef>

#include "http/http_response.h"
#include "http/http_settings.h"

// Longest cookie value a redirect carries on.
inline constexpr size_t kRedirectCookieLimit = 4086;

enum class RedirectResult {
  Followed,    // settings now name the new target
  NoLocation,  // the response had no Location
  Refused,     // too long a cookie, an ftp:// location, or an unusable location
  Downgrade,   // an https URL redirected to plain http: the bytes would lose their protection
};

// Updates `settings` for the response's location. On anything but Followed the settings
// are left as they were. A cookie the response sets goes with the next request only when it
// goes to the same host (by name, any port); a location's fragment is left out. A location
// holding a CR, LF or NUL is refused; a cookie value ends at the first of them.
RedirectResult resolveRedirect(HttpSettings& settings, const HttpResponseInfo& response);
