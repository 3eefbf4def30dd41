#pragma once
// CRC-32 of a file on disk, as a zip archive's central directory gives it for an entry.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The CRC-32 of the regular file at `path` (opened without following a link there and without
// blocking); nothing when it cannot be opened or read, or is no regular file. `between`, when
// given, is called after every few mebibytes (to keep a window responsive).
std::optional<uint32_t> crcOfFile(const std::string& path,
                                  const std::function<void()>& between = {});
