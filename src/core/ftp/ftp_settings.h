#pragma once
// The FTP settings of one task that come from the caller: where to log in, as whom, which
// file, and how to transfer it. Made once when the task is created; never changed after.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/url_split.h"

struct TaskParam;

// A user name or password must fit this buffer with its terminator.
inline constexpr size_t kFtpCredentialBuffer = 256;
// Longest decoded path.
inline constexpr size_t kFtpPathLimit = 1023;
inline constexpr uint16_t kFtpDefaultPort = 21;

inline constexpr int32_t kFtpTypeBinary = 1;  // "TYPE I"
inline constexpr int32_t kFtpTypeText = 2;    // "TYPE A"
inline constexpr int32_t kFtpTypeByExtension = 3;

struct FtpSettings {
  std::string host;  // name or dotted address, without credentials, colon or port
  uint16_t port = kFtpDefaultPort;
  std::string userName;
  std::string password;                   // never logged, never stored in a snapshot
  std::string path;                       // decoded, from the first "/" on
  int32_t transferType = kFtpTypeBinary;  // kFtpTypeBinary or kFtpTypeText, never 3
};

// The settings for an ftp:// URL. Credentials in the URL ("user:password@host") replace the
// parameters' user name and password when both fit kFtpCredentialBuffer; an absent user
// name is "anonymous", an absent password the default one. Type 3 is resolved here from the
// file name's extension; any type other than 2 and 3 is binary.
//
// Nothing when the decoded path is longer than kFtpPathLimit, or when the path, user name or
// password holds a CR, LF or NUL byte: such a text would end the command it is sent in and
// smuggle another one onto the control connection.
std::optional<FtpSettings> makeFtpSettings(const TaskParam& param, const UrlParts& url);

// The path decoded: %XX escapes (two hexadecimal digits) become their byte, "+" a space, a
// "%" without two hexadecimal digits stays as it is.
std::string decodeFtpPath(std::string_view path);

// The argument of "SIZE", "RETR": the path without one leading "/".
std::string_view ftpPathArgument(std::string_view path);

// True when type 3 picks binary for `fileName`: its extension (from its last ".", the dot
// included) occurs as a plain substring of `extensions`. A name without "." is text.
bool binaryByExtension(std::string_view fileName, std::string_view extensions);
