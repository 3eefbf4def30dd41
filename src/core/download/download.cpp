// Placeholder until the transfer engine lands: every start is refused.
#include "download/download.h"

Download::~Download() = default;
bool Download::start(const TaskParam&) {
  return false;
}
int32_t Download::takeReceivedBytes() {
  return 0;
}
bool Download::snapshot(std::vector<uint8_t>&) {
  return false;
}
int32_t Download::querySnapshot(const std::vector<uint8_t>&, int32_t, int32_t) {
  return -1;
}
void Download::stop() {}
bool Download::waitUntilIdle(std::chrono::milliseconds) {
  return true;
}
