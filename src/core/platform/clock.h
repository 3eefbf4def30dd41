#pragma once
#include <cstdint>

// Milliseconds from a monotonic clock; 64 bits, so it never wraps.
uint64_t monotonicMilliseconds();
