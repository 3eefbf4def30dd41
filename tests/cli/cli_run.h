#pragma once
// Runs downloader-cli as a program and keeps its exit code and standard error.
#include <sys/wait.h>

#include <cstdlib>
#include <string>

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
