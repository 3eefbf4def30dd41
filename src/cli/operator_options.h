#pragma once
// The options of the operator's commands (check, download, install, update, rollback,
// validate) and the vendor's
// (keygen, sign, publish): one table says which command takes which option, so every command
// reads "--name value" and "--name=value" alike and refuses the same way.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/packages.h"

// The same defaults as fetch; the window keeps the engine's own (999 retries, 5 s limits).
inline constexpr int32_t kDefaultRetries = 5;
inline constexpr int32_t kDefaultTimeoutSeconds = 20;
inline constexpr int32_t kDefaultNotifySeconds = 60;
inline constexpr int32_t kMostExpiresDays = 36500;

struct OperatorOptions {
  std::vector<const PackageInfo*> packages;  // as named, without repeats
  std::optional<std::string> manifest;       // --manifest: over Config.ini's and the built-in one
  std::string dir;                           // --dir, absolute; empty: the program's folder
  std::vector<std::string> roots;            // --root, absolute, in order
  int32_t retries = kDefaultRetries;
  int32_t timeoutSeconds = kDefaultTimeoutSeconds;
  int32_t waitSeconds = 0;  // for the program folder's lock
  int32_t notifySeconds = kDefaultNotifySeconds;
  std::string notify;  // --notify COMMAND
  bool json = false;   // one JSON document on standard output
  bool quiet = false;  // nothing on standard output but the JSON document; failures still told
  bool dryRun = false;
  bool noDelta = false;  // fetch whole archives, never only their changed entries
  bool list = false;     // rollback --list
  bool repair = false;   // validate --repair
  std::optional<std::string> beforeInstall;  // --before-install: over Config.ini's [Hooks]
  std::optional<std::string> afterInstall;   // --after-install
  // The vendor's commands:
  std::string target;                         // sign: the manifest; publish: the site folder
  std::string publicKeyFile;                  // --public-key
  std::string secretKeyFile;                  // --secret-key
  std::optional<std::string> trustedComment;  // --trusted-comment
  int32_t expiresDays = 0;                    // --expires; 0: the manifest does not expire
};

// How many packages a command takes; Target: no package but one file or folder (`target`).
enum class PackageCount { None, One, Any, Target };

struct ParsedOptions {
  OperatorOptions options;
  std::string error;  // empty when the arguments are right
};

// Reads the arguments of `command` (a command of the option table). The error names the
// first wrong argument: an option the command does not take, a missing or bad value, an
// unknown package, a package (or target) too many or too few.
ParsedOptions parseOperatorOptions(std::string_view command, PackageCount packages,
                                   const std::vector<std::string>& arguments);
