#pragma once
// The subcommands of downloader-cli. Each takes the arguments after its name and returns
// the process exit code; each lives in its own file.
#include <string>
#include <vector>

// fetch URL PATH [--connections N] [--speed-limit BYTES_PER_SECOND] [--proxy HOST[:PORT]]
//       [--referer TEXT] [--log]
int runFetchCommand(const std::vector<std::string>& arguments);

// check [--manifest URL] [--dir DIR]
int runCheckCommand(const std::vector<std::string>& arguments);
// download PACKAGE [--manifest URL] [--dir DIR]
int runDownloadCommand(const std::vector<std::string>& arguments);
// install PACKAGE --root DIR [--root DIR ...] [--dir DIR]
int runInstallCommand(const std::vector<std::string>& arguments);
