#pragma once
// Which TLS failures a retry cannot change. A server that speaks no protocol version or cipher
// we accept, or that ends the handshake with an alert (it wants a client certificate, it
// refuses our parameters), answers the same way on every connection; a reset, a timeout or a
// damaged record may not happen again.
#include <optional>
#include <string>

// OpenSSL's reason (as ERR_reason_error_string gives it, "tlsv1 alert protocol version") when
// the error queue of this thread holds such a refusal; nothing otherwise. The queue is left as
// it is.
std::optional<std::string> pendingTlsRefusal();
