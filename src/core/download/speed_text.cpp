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

std::string sizeText(int64_t bytes) {
  const double value = static_cast<double>(bytes);
  char text[64];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%lldB", static_cast<long long>(bytes));
  } else if (value < 1048576.0) {
    std::snprintf(text, sizeof text, "%.2fKB", value / 1024.0);
  } else if (value < 1073741824.0) {
    std::snprintf(text, sizeof text, "%.2fMB", value / 1048576.0);
  } else {
    std::snprintf(text, sizeof text, "%.2fGB", value / 1073741824.0);
  }
  return text;
}

std::string reusedText(int64_t bytes) {
  return "已复用 " + sizeText(bytes);
}
