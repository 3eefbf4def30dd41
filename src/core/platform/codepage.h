#pragma once
// Conversions between the code pages the system meets: GBK from the vendor's files,
// UTF-8 everywhere on this platform.
#include <string>
#include <string_view>

bool isValidUtf8(std::string_view bytes);
// Decodes GBK into UTF-8. A byte sequence that is not GBK becomes U+FFFD, one byte at a
// time, so every input gives a defined result.
std::string gbkToUtf8(std::string_view bytes);
std::string utf8ToGbk(std::string_view text);
// The manifest body as text: a UTF-8 byte-order mark is dropped; valid UTF-8 stays as it
// is; anything else is decoded as GBK.
std::string manifestBodyToUtf8(std::string_view bytes);
