// Any bytes as a settings file or as a manifest body: the INI reader and writer, the
// manifest's text conversion and its signed fields (Serial, Expires, SHA256, Size) must give
// defined results, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/decimal.h"
#include "platform/ini.h"
#include "update/manifest_fields.h"
#include "update/update_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string text = manifestText(bytes);
  for (const char* section : {"三端", "功能", "反挂", "其他", "Download"}) {
    for (const char* key : {"URL", "MD5", "Auto", "Time"}) {
      std::string value = iniReadText(text, section, key, "default");
      if (value.size() > kIniValueLimit) __builtin_trap();
      iniReadText(bytes, section, key, "");
    }
  }
  for (const char* section : {"三端", "其他"}) {
    std::optional<int64_t> size = archiveSizeOf(iniReadText(text, section, kSizeKey, ""));
    if (size && *size < -1) __builtin_trap();
    iniReadText(text, section, kSha256Key, "");
  }
  parseDecimal(iniReadText(text, kManifestSection, kSerialKey, ""));
  const std::string expires = iniReadText(text, kManifestSection, kExpiresKey, "");
  if (std::optional<int64_t> expiry = expiryOf(expires)) {
    // A date-time that parses is written back as the same instant.
    if (expires.size() > 10 && expiryOf(isoUtcText(*expiry)) != expiry) __builtin_trap();
  }
  expiryOf(bytes);
  iniWriteText(bytes, "Download", "Time", "24");
  return 0;
}
