#pragma once
// The fields a signed manifest adds to the four package sections and the section "Manifest".
// All are optional; clients that predate them ignore them by the INI rules.
//   [三端] ... SHA256=<64 lowercase hex digits>   Size=<bytes>
//   [Manifest] Serial=<decimal counter the vendor raises at every release>
//              Expires=<ISO 8601 date or date-time, UTC: when the manifest goes stale>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr char kManifestSection[] = "Manifest";
inline constexpr char kSerialKey[] = "Serial";
inline constexpr char kExpiresKey[] = "Expires";
inline constexpr char kSha256Key[] = "SHA256";
inline constexpr char kSizeKey[] = "Size";

// A Size= value: nothing when the text is empty, -1 when it is not a decimal number.
std::optional<int64_t> archiveSizeOf(std::string_view text);

// The first second (since 1970, UTC) at which a manifest with this Expires= is stale; nothing
// when the text is no date. "2025-03-31" is stale from the start of the next day;
// "2025-03-31T12:00:00Z" (or with an offset such as "+08:00"; seconds optional; without a zone
// it is UTC; a blank may stand for the "T") from that instant.
std::optional<int64_t> expiryOf(std::string_view text);

// "YYYY-MM-DDTHH:MM:SSZ" for a second since 1970.
std::string isoUtcText(int64_t unixSeconds);
