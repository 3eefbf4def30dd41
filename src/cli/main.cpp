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
    {"check", &runCheckCommand, "check [--manifest URL] [--dir DIR]"},
    {"download", &runDownloadCommand, "download PACKAGE [--manifest URL] [--dir DIR]"},
    {"install", &runInstallCommand, "install PACKAGE --root DIR [--root DIR ...] [--dir DIR]"},
};

void printUsage(std::FILE* out) {
  std::fprintf(out, "usage:\n");
  for (const Command& command : kCommands) {
    std::fprintf(out, "  downloader-cli %.*s\n", static_cast<int>(command.usage.size()),
                 command.usage.data());
  }
  std::fprintf(out,
               "PACKAGE is 三端, 功能, 反挂 or 工具 (or server, plugin, anticheat, tools).\n"
               "downloader-cli COMMAND --help describes a command.\n");
}

int usage() {
  printUsage(stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    printUsage(stdout);
    return 0;
  }
  for (const Command& command : kCommands) {
    if (command.name == name) return command.run(std::vector<std::string>(argv + 2, argv + argc));
  }
  return usage();
}
