#pragma once
// The subcommands of downloader-cli. Each takes the arguments after its name and returns
// the process exit code; each lives in its own file. Their usage and help texts are in the
// command table (command_table.cpp), which also answers "--help" before a command runs.
#include <string>
#include <vector>

int runFetchCommand(const std::vector<std::string>& arguments);
int runCheckCommand(const std::vector<std::string>& arguments);
int runDownloadCommand(const std::vector<std::string>& arguments);
int runInstallCommand(const std::vector<std::string>& arguments);
int runUpdateCommand(const std::vector<std::string>& arguments);
int runKeygenCommand(const std::vector<std::string>& arguments);
int runSignCommand(const std::vector<std::string>& arguments);
int runPublishCommand(const std::vector<std::string>& arguments);
int runRollbackCommand(const std::vector<std::string>& arguments);
int runValidateCommand(const std::vector<std::string>& arguments);
