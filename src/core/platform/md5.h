#pragma once
#include <string>
#include <string_view>

// MD5 of empty data; also stands for a missing or unreadable file.
inline constexpr const char kEmptyMd5[] = "d41d8cd98f00b204e9800998ecf8427e";

// MD5 of a whole file as 32 lowercase hex digits, read in 64 KiB chunks so memory stays
// bounded. A missing or unreadable file gives kEmptyMd5.
std::string md5OfFile(const std::string& path);
std::string md5OfBytes(std::string_view bytes);
