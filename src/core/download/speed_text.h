#pragma once
#include <cstdint>
#include <string>

// The speed label's text for `bytes` received in one interval: "0.50KB/S", "1.50MB/S",
// "1.00GB/S", two decimals. A unit is chosen when the value in it is at least 1, compared
// with a tolerance of 1e-7, so "GB/S" starts at 1073741717 bytes.
std::string speedText(double bytes);

// A byte count as the progress line shows it: "1.50MB", "812.00KB", "3.20GB", "512B".
std::string sizeText(int64_t bytes);
// "已复用 1.50MB": the bytes a delta took from the local archive.
std::string reusedText(int64_t bytes);

// x >= y with the window logic's tolerance: x - y >= -1e-7.
bool atLeast(double x, double y);
