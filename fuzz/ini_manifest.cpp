// Any bytes as a settings file or as a manifest body: the INI reader and writer and the
// manifest's text conversion must give defined results, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ini.h"
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
  iniWriteText(bytes, "Download", "Time", "24");
  return 0;
}
