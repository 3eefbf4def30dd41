#pragma once
// Byte-string text operations in a code page. Lengths and positions count bytes and
// positions are 1-based. Searching, splitting and upper-casing step over a multibyte
// character whole, so a byte inside one is never taken as a character of its own.
//
// GBK: a lead byte 0x81..0xFE and the byte after it form one character.
// UTF-8: a well-formed sequence forms one character; any other byte stands alone.
#include <string>
#include <string_view>
#include <vector>

enum class CodePage { Gbk, Utf8 };

// The code page of this platform's texts (file names, controls, messages).
inline constexpr CodePage kSystemCodePage = CodePage::Utf8;

// Bytes taken by the character that starts at `at` (1 at the end of the text).
size_t characterLength(std::string_view text, size_t at, CodePage page = kSystemCodePage);

// Position of the first occurrence of `sought` in `text` that begins at a character start,
// or -1 (also for an empty `sought`). With ignoreCase, ASCII letters compare regardless of
// case; every other byte compares exactly.
int findText(std::string_view text, std::string_view sought, bool ignoreCase,
             CodePage page = kSystemCodePage);

// Splits at every occurrence of `delimiter` found at a character start. Empty pieces
// between delimiters and before a leading delimiter count; the piece after the last
// delimiter is kept only when it is not empty. An empty text gives no pieces; an empty
// delimiter gives the whole text as the one piece.
std::vector<std::string> splitText(std::string_view text, std::string_view delimiter,
                                   CodePage page = kSystemCodePage);

// Splits a text box's text into lines: at "\r\n" and at a bare "\n", with the rules of
// splitText (a trailing line break adds no line).
std::vector<std::string> splitLines(std::string_view text);

// The last n bytes; empty for n <= 0, the whole text for n above its length.
std::string rightText(std::string_view text, long long n);

// Bytes before the first NUL.
size_t textLength(std::string_view text);

// ASCII a..z become A..Z; every other byte, the bytes inside a multibyte character
// included, stays as it is.
std::string toUpperAscii(std::string_view text, CodePage page = kSystemCodePage);
