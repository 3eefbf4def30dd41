#pragma once
// A small writer of JSON text, for the commands' machine-readable summaries. It writes in
// the order it is called, compact, and escapes every string: quotes, backslashes and control
// characters are escaped; well-formed UTF-8 passes through as it is; a byte that is not part
// of well-formed UTF-8 (a GBK name, say) becomes U+FFFD, so the document is always valid.
// The caller pairs begin and end calls and gives a key before each member of an object.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
 public:
  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  // The name of the next member of the open object.
  void key(std::string_view name);

  void string(std::string_view text);
  void number(int64_t value);
  // With `decimals` digits after the point.
  void number(double value, int decimals);
  void boolean(bool value);
  void null();

  // A member of the open object, key and value.
  void member(std::string_view name, std::string_view text) {
    key(name);
    string(text);
  }
  void member(std::string_view name, const char* text) { member(name, std::string_view(text)); }
  void member(std::string_view name, int64_t value) {
    key(name);
    number(value);
  }
  void member(std::string_view name, int value) { member(name, static_cast<int64_t>(value)); }
  void member(std::string_view name, bool value) {
    key(name);
    boolean(value);
  }
  void member(std::string_view name, const std::vector<std::string>& texts);

  const std::string& text() const { return out_; }

 private:
  void beforeValue();

  std::string out_;
  std::vector<bool> empty_;  // per open object or array: nothing written in it yet
  bool afterKey_ = false;
};

// `text` as a JSON string, quotes included.
std::string jsonString(std::string_view text);
