#pragma once
// Runs downloader-cli as a program and keeps its exit code and standard error (and output).
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "demo_site.h"
#include "platform/files.h"
#include "temp_dir.h"

struct Outcome {
  int exitCode;
  std::string errorText;
};

// `arguments` are passed through /bin/sh as they stand; standard error goes to a file in
// `scratch`.
inline Outcome runCli(const std::string& arguments, const TempDir& scratch) {
  std::string errors = scratch.file("stderr.txt");
  std::string command = std::string(DL_CLI_PATH) + " " + arguments + " 2>" + errors;
  int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readWholeFile(errors)};
}

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// downloader-cli with `arguments` (through /bin/sh), standard output and error apart; both go
// to files in `scratch`.
inline CliRun cli(const std::string& arguments, const TempDir& scratch) {
  const std::string out = scratch.file("stdout.txt");
  const std::string err = scratch.file("stderr.txt");
  CommandResult result = runCommand("{ " + shellQuote(DL_CLI_PATH) + " " + arguments + " >" +
                                    shellQuote(out) + " 2>" + shellQuote(err) + "; }");
  return {result.status, readWholeFile(out), readWholeFile(err)};
}
