#pragma once
// Options written "--name=value": every command of downloader-cli accepts them as well as
// "--name value". Parsers that read "--name value" run their arguments through this first.
#include <span>
#include <string>
#include <string_view>
#include <vector>

// `arguments` with each "--name=value" whose name is one of `valueOptions` split into
// "--name" and "value" (the value may be empty and may hold "="). Everything else stays as it
// is, so a flag written with a value ("--quiet=1") reaches the parser whole and is refused
// there as an unknown option.
std::vector<std::string> splitOptionValues(const std::vector<std::string>& arguments,
                                           std::span<const std::string_view> valueOptions);
