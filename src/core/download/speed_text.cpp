#include "download/speed_text.h"

#include <cstdio>

bool atLeast(double x, double y) {
  return x - y >= -1e-7;
}

std::string speedText(double bytes) {
  const char* unit = "KB/S";
  double value = bytes / 1024.0;
  if (atLeast(bytes / 1073741824.0, 1.0)) {
    unit = "GB/S";
    value = bytes / 1073741824.0;
  } else if (atLeast(bytes / 1048576.0, 1.0)) {
    unit = "MB/S";
    value = bytes / 1048576.0;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.2f%s", value, unit);
  return text;
}
