#pragma once
// Server trees come from a case-insensitive file system: below a server root, a directory
// or file that exists in another letter case is the one used.
#include <string>

// The name to use for `name` inside `directory` (which ends with "/"): `name` itself when
// something of that name exists or nothing matches, otherwise the existing entry whose
// name equals it regardless of ASCII letter case (the first in byte order when several do).
std::string existingNameIgnoringCase(const std::string& directory, const std::string& name);
