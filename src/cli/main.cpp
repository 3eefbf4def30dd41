// downloader-cli: a command-line front end over the core, for automation and benchmarks.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"

namespace {

struct Command {
  std::string_view name;
  int (*run)(const std::vector<std::string>&);
  std::string_view usage;
};

constexpr Command kCommands[] = {
    {"fetch", &runFetchCommand,
     "fetch URL PATH [--connections N] [--speed-limit BYTES_PER_SECOND] "
     "[--proxy HOST[:PORT]] [--referer TEXT] [--log]"},
};

int usage() {
  std::fprintf(stderr, "usage:\n");
  for (const Command& command : kCommands) {
    std::fprintf(stderr, "  downloader-cli %.*s\n", static_cast<int>(command.usage.size()),
                 command.usage.data());
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string_view name = argv[1];
  for (const Command& command : kCommands) {
    if (command.name == name) return command.run(std::vector<std::string>(argv + 2, argv + argc));
  }
  return usage();
}
