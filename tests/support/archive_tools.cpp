#include "archive_tools.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "transaction/generations.h"

namespace {

const char kPythonPrelude[] =
    "import os, sys, zipfile\n"
    "with zipfile.ZipFile(sys.argv[1], sys.argv[2]) as z:\n";

std::string indented(const std::string& body) {
  std::string out = "    ";
  for (char c : body) {
    out += c;
    if (c == '\n') out += "    ";
  }
  return out + "\n    pass\n";
}

}  // namespace

int runTool(const std::vector<std::string>& argv, const std::string& directory,
            const std::vector<std::string>& environment) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, 1);
    if (!directory.empty() && ::chdir(directory.c_str()) != 0) ::_exit(126);
    for (const std::string& entry : environment) ::putenv(const_cast<char*>(entry.c_str()));
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void pythonZip(const std::string& archive, const std::string& body, bool append) {
  std::string script = kPythonPrelude + indented(body);
  ASSERT_EQ(runTool({"/usr/bin/python3", "-c", script, archive, append ? "a" : "w"}), 0) << script;
}

bool pythonCheck(const std::string& path, const std::string& body) {
  std::string script = "import os, sys, zipfile\n" + body;
  return runTool({"/usr/bin/python3", "-c", script, path}) == 0;
}

void infoZip(const std::string& directory, const std::vector<std::string>& options,
             const std::string& archive, const std::vector<std::string>& inputs,
             const std::vector<std::string>& environment) {
  std::vector<std::string> argv{"zip", "-q"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(archive);
  argv.insert(argv.end(), inputs.begin(), inputs.end());
  ASSERT_EQ(runTool(argv, directory, environment), 0) << "zip " << archive;
}

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> listTree(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(path, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::string relative = std::filesystem::relative(it->path(), path).string();
    if (it.depth() == 0 && it->path().filename() == kBackupFolderName) {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_directory() && !it->is_symlink()) relative += "/";
    names.push_back(relative);
  }
  std::sort(names.begin(), names.end());
  return names;
}
