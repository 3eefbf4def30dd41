#pragma once
// Windows-style INI reading and writing.
//
// Section and key names match without regard to ASCII letter case; blanks around names and
// values are dropped; a missing file, section or key reads as the caller's default; a value
// is cut to its first kIniValueLimit bytes; one pair of double quotes around a stored value
// is dropped; a UTF-8 byte-order mark at the start of the text is skipped (and kept by a
// write). Leading characters with codes up to 32 are
// skipped in the file name, section and key; when one of them is then empty a read returns
// the empty text and touches nothing, and a write fails. A write replaces an existing value
// in place and creates the file and the section when they are missing.
#include <string>
#include <string_view>

inline constexpr size_t kIniValueLimit = 10239;

std::string iniRead(std::string_view file, std::string_view section, std::string_view key,
                    std::string_view defaultValue);
bool iniWrite(std::string_view file, std::string_view section, std::string_view key,
              std::string_view value);

// The same read rules applied to INI text held in memory.
std::string iniReadText(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view defaultValue);
// The text with the value written by the same rules as iniWrite.
std::string iniWriteText(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value);
