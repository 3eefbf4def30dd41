#pragma once
// The commands of downloader-cli, in one table that drives the dispatch, the usage text and
// each command's --help.
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct CommandSpec {
  std::string_view name;
  std::string_view synopsis;     // the arguments, as written after "downloader-cli NAME"
  std::string_view description;  // what "NAME --help" prints below the usage line
  int (*run)(const std::vector<std::string>& arguments);
};

inline constexpr int kExitUsage = 2;

std::span<const CommandSpec> commandTable();
// Null when no command has this name.
const CommandSpec* findCommand(std::string_view name);

// The usage of every command, and how to learn more.
void printUsage(std::FILE* out);
// "usage: downloader-cli NAME SYNOPSIS" and the command's description.
void printCommandHelp(const CommandSpec& command, std::FILE* out);
// Reports a wrong use of the named command on standard error (the message, then the usage
// line) and returns kExitUsage.
int commandUsageError(std::string_view name, std::string_view message);

// "downloader-cli VERSION".
std::string_view versionText();
