#pragma once
// Where each entry's data lie, checked before anything is extracted: a crafted archive
// can point several central records at one compressed stream (writing it many times over
// from a small file), or let an entry's data run into the central directory.
#include "zip/zip_directory.h"

// Reads every entry's local header and fills localMethod, dataOffset and localExtra.
// False when a local header is missing or unreadable, its name length differs from the
// central record's, when an entry's header and data (up to its compressed size) do not
// end before the central directory, or when two entries' spans share any byte.
bool locateEntryData(int fd, CentralDirectory& directory);
