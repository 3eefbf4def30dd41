#pragma once
// Following a redirect response (301, 302, 303, 307, 308): the next request's scheme, host,
// port, request-URI, referer, cookie line and credentials. http may lead to https; https never
// leads back to http.
#include <cstddef>
#include <string>

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

// Updates `settings` for the response's location, resolved against the current URL as RFC 3986
// section 5.2 says ("//host/p" keeps the scheme, "../p" climbs, dot segments go, the query
// stays, the fragment goes). On anything but Followed the settings are left as they were.
// A cookie the response sets goes with the next request only when it goes to the same host (by
// name, any port). The URL's credentials (as Authorization) go on only to the same scheme, host
// and port; a location with credentials of its own brings those. Neither the referer nor the
// Host line ever carries credentials. A location holding a CR, LF or NUL is refused; a cookie
// value ends at the first of them.
RedirectResult resolveRedirect(HttpSettings& settings, const HttpResponseInfo& response);

// The URL the settings ask for, without credentials or fragment: what a redirect chain
// compares to find a loop, and what a relative location is resolved against.
std::string currentUrl(const HttpSettings& settings);
