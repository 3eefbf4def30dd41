#include "update/manifest_fields.h"

#include <chrono>
#include <cstdio>

#include "platform/decimal.h"

namespace {

// `count` digits at `at` of `text`, as a number; nothing when they are not all digits.
std::optional<int> digitsAt(std::string_view text, size_t at, size_t count) {
  if (at + count > text.size()) return std::nullopt;
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Seconds east of UTC of a zone suffix ("Z", "+08:00", "-0530"); nothing for anything else.
std::optional<int> zoneOffset(std::string_view zone) {
  if (zone.empty() || zone == "Z" || zone == "z") return 0;
  if (zone[0] != '+' && zone[0] != '-') return std::nullopt;
  const bool colon = zone.size() == 6 && zone[3] == ':';
  if (!colon && zone.size() != 5) return std::nullopt;
  std::optional<int> hours = digitsAt(zone, 1, 2);
  std::optional<int> minutes = digitsAt(zone, colon ? 4 : 3, 2);
  if (!hours || !minutes || *hours > 23 || *minutes > 59) return std::nullopt;
  const int offset = *hours * 3600 + *minutes * 60;
  return zone[0] == '-' ? -offset : offset;
}

}  // namespace

std::optional<int64_t> archiveSizeOf(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return parseDecimal(text).value_or(-1);
}

std::optional<int64_t> expiryOf(std::string_view text) {
  using namespace std::chrono;
  std::optional<int> y = digitsAt(text, 0, 4);
  std::optional<int> m = digitsAt(text, 5, 2);
  std::optional<int> d = digitsAt(text, 8, 2);
  if (!y || !m || !d || text[4] != '-' || text[7] != '-') return std::nullopt;
  const year_month_day date{year(*y), month(static_cast<unsigned>(*m)),
                            day(static_cast<unsigned>(*d))};
  if (!date.ok()) return std::nullopt;
  const int64_t midnight = duration_cast<seconds>(sys_days(date).time_since_epoch()).count();
  if (text.size() == 10) return midnight + 86400;  // the whole of that day is still valid
  if (text[10] != 'T' && text[10] != 't' && text[10] != ' ') return std::nullopt;
  std::optional<int> hour = digitsAt(text, 11, 2);
  std::optional<int> minute = digitsAt(text, 14, 2);
  if (!hour || !minute || text[13] != ':' || *hour > 23 || *minute > 59) return std::nullopt;
  size_t at = 16;
  int second = 0;
  if (at < text.size() && text[at] == ':') {
    std::optional<int> s = digitsAt(text, at + 1, 2);
    if (!s || *s > 60) return std::nullopt;  // 60: a leap second
    second = *s;
    at += 3;
    if (at < text.size() && text[at] == '.') {  // a fraction of a second changes nothing here
      ++at;
      const size_t digits = at;
      while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
      if (at == digits) return std::nullopt;
    }
  }
  std::optional<int> offset = zoneOffset(text.substr(at));
  if (!offset) return std::nullopt;
  return midnight + *hour * 3600 + *minute * 60 + second - *offset;
}

std::string isoUtcText(int64_t unixSeconds) {
  using namespace std::chrono;
  const sys_seconds instant{seconds(unixSeconds)};
  const sys_days day = floor<days>(instant);
  const year_month_day date{day};
  const hh_mm_ss time{instant - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()),
                static_cast<long long>(time.hours().count()),
                static_cast<long long>(time.minutes().count()),
                static_cast<long long>(time.seconds().count()));
  return text;
}
