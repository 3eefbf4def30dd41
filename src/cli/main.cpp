// downloader-cli: a command-line front end over the core, for automation and benchmarks.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "command_table.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    printUsage(stderr);
    return kExitUsage;
  }
  std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    if (argc > 2) {
      if (const CommandSpec* command = findCommand(argv[2])) {
        printCommandHelp(*command, stdout);
        return 0;
      }
    }
    printUsage(stdout);
    return 0;
  }
  if (name == "--version") {
    std::printf("%.*s\n", static_cast<int>(versionText().size()), versionText().data());
    return 0;
  }
  const CommandSpec* command = findCommand(name);
  if (command == nullptr) {
    std::fprintf(stderr, "downloader-cli: unknown command '%s'\n", argv[1]);
    printUsage(stderr);
    return kExitUsage;
  }
  std::vector<std::string> arguments(argv + 2, argv + argc);
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h") {
      printCommandHelp(*command, stdout);
      return 0;
    }
  }
  return command->run(arguments);
}
