#pragma once
// Whole-file operations on byte paths.
#include <cstdint>
#include <string>

struct stat;

// The whole content of a regular file; empty when it is missing, unreadable or of another
// kind (opened without blocking, so a FIFO or device is refused at once). `opened`, when
// given, receives the status of the file that was read.
std::string readWholeFile(const std::string& path, struct stat* opened = nullptr);
// Creates or truncates the file and writes the bytes; false on any failure.
bool writeWholeFile(const std::string& path, const std::string& bytes);
// Deletes a file; false when nothing was deleted.
bool deleteFile(const std::string& path);
bool fileExists(const std::string& path);
