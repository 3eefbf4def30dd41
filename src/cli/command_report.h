#pragma once
// What an operator's command did, as values: the summary a person reads and the JSON
// document a script reads are both made from it (--json), and --notify hands the document
// on. Failures are told on standard error as they happen and kept here with their class.
//
// The JSON document (one object):
//   command   "check", "download", "install", "update", ...
//   manifest  the manifest URL, its password masked
//   dryRun    true when nothing was to be changed
//   changed   true when an archive or a root was changed
//   exit      the command's exit status
//   failures  failures that concern no one package (the manifest, the program folder)
//   packages  per package: name, alias, url (password masked), manifestMd5, localMd5 (as
//             the check found it), state ("new", "current" or "unknown" when the manifest
//             gives no digest), planned and done (of "download", "install", "extract"),
//             roots, note, bytes and seconds of the download (of the bytes: fetched from
//             the server and reused from the old archive), failures
// A failure: step ("manifest", "lock", "download", "install", "notify"), class
// ("server-reply", "network", "local-file", "integrity", "security", "other"), exit (the
// status of that class), where (a URL, its password masked, or a path) and reason.
#include <cstdint>
#include <string>
#include <vector>

#include "shell/packages.h"
#include "transfer/task_outcome.h"

struct FailureReport {
  std::string step;
  FailureKind kind = FailureKind::None;
  std::string where;
  std::string reason;
};

struct PackageReport {
  const PackageInfo* package = nullptr;
  std::string url;  // password masked
  std::string manifestMd5;
  std::string localMd5;
  std::string state;
  std::vector<std::string> planned;
  std::vector<std::string> done;
  std::vector<std::string> roots;
  std::string note;
  int64_t bytes = 0;
  int64_t fetched = 0;  // of those, fetched from the server
  int64_t reused = 0;   // taken from the old archive (a delta)
  double seconds = 0;
  std::vector<FailureReport> failures;
};

struct CommandReport {
  std::string command;
  std::string manifest;  // password masked
  bool dryRun = false;
  int exitStatus = 0;
  std::vector<FailureReport> failures;
  std::vector<PackageReport> packages;

  // True when a download or an install changed something.
  bool changed() const;
  // The first failure of the command, of a package or not; null when none.
  const FailureReport* firstFailure() const;
};

// The JSON document, with a final newline.
std::string toJson(const CommandReport& report);

// What a delta saved, for a summary line: ", F fetched, 已复用 R" (byte counts), or nothing when
// the download took nothing from the old archive.
std::string deltaText(const PackageReport& package);

// The exit status of a failure's class (exit_status.h).
int exitStatusOf(const FailureReport& failure);

// `text` with the password of `url` (if it carries one) written as "******".
std::string withoutPasswordOf(std::string text, const std::string& url);

// Tells a failure on standard error, "downloader-cli COMMAND: WHERE: WHAT" (WHERE a URL, its
// password masked here and in WHAT, or a path), and returns it as a value for the report.
FailureReport tellFailure(const std::string& command, std::string step, FailureKind kind,
                          const std::string& where, const std::string& what);
