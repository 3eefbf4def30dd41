#pragma once
// Whole-file operations on byte paths.
#include <cstdint>
#include <string>

// The whole content of a file; empty when it is missing or unreadable.
std::string readWholeFile(const std::string& path);
// Creates or truncates the file and writes the bytes; false on any failure.
bool writeWholeFile(const std::string& path, const std::string& bytes);
// Deletes a file; false when nothing was deleted.
bool deleteFile(const std::string& path);
bool fileExists(const std::string& path);
