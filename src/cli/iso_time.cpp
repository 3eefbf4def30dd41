#include "iso_time.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

std::string localTimeIso8601() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  std::tm local{};
  ::localtime_r(&now.tv_sec, &local);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff;
  const int minutes = static_cast<int>((offset < 0 ? -offset : offset) / 60) % (100 * 60);
  const int milliseconds = static_cast<int>(now.tv_usec / 1000) % 1000;
  char text[64];
  std::snprintf(text, sizeof text, "%.24s.%03d%c%02d:%02d", date, milliseconds,
                offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return text;
}
