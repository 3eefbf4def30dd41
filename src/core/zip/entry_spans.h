#pragma once
// The bytes each entry takes in its archive, from the central directory alone: from its local
// header to the next entry's local header (or to the central directory), so that a data
// descriptor or padding after an entry's data belongs to that entry. Two archives whose
// entries agree in their records and in these lengths hold the entry in the same bytes but
// for the local header's own fields, which only the archive's digest can vouch for.
#include <cstdint>
#include <optional>
#include <vector>

#include "zip/zip_directory.h"

struct EntrySpan {
  uint64_t begin = 0;
  uint64_t end = 0;
  uint64_t length() const { return end - begin; }
};

// One span per entry, in directory order. Nothing when two entries share a local header
// offset, an offset lies at or past the directory, or a span is shorter than a local header
// with the entry's name and compressed data.
std::optional<std::vector<EntrySpan>> entrySpans(const CentralDirectory& directory);
