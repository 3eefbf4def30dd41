#pragma once
// Where an archive entry may land below the extraction target.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The path components of a decoded entry name, split at "/" and at "\" (archives made on
// Windows use either), with empty and "." components dropped. Nothing when the name could
// leave the target: it starts with "/" or "\" (absolute), its first component starts with
// a drive letter and a colon, or any component is "..". A name of separators alone gives
// no components.
std::optional<std::vector<std::string>> entryPathComponents(std::string_view name);

// The components joined with "/".
std::string joinComponents(const std::vector<std::string>& components);
