#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// MD5 of empty data; also stands for a missing or unreadable file.
inline constexpr const char kEmptyMd5[] = "d41d8cd98f00b204e9800998ecf8427e";

// MD5 of a whole file as 32 lowercase hex digits, read in 64 KiB chunks so memory stays
// bounded. A missing or unreadable file gives kEmptyMd5.
std::string md5OfFile(const std::string& path);
std::string md5OfBytes(std::string_view bytes);

// SHA-256 of empty data.
inline constexpr const char kEmptySha256[] =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// What a file is, in one pass over it: MD5 and SHA-256 (lowercase hex) and the size in bytes.
// A missing or unreadable file gives the digests of empty data and size 0.
struct FileDigests {
  std::string md5 = kEmptyMd5;
  std::string sha256 = kEmptySha256;
  int64_t size = 0;
};
FileDigests digestsOfFile(const std::string& path);
std::string sha256OfBytes(std::string_view bytes);
