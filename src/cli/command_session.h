#pragma once
// One run of an operator's command: the program's state with a console in place of the
// window, where its messages go, and the steps that check, download and update share (a
// package's download as its 下载 button runs it, an install as its 安装 button runs it), each
// recording what it did in a PackageReport.
//
// Threads: everything here runs on the command's thread, which plays the window thread; the
// download's events reach it through ConsoleWindow::runUntil.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command_report.h"
#include "console_window.h"
#include "install_hooks.h"
#include "operator_options.h"
#include "shell/globals.h"

class CommandSession {
 public:
  // The state for `command`: the program folder of --dir (else the program's own), the
  // manifest of --manifest (else Config.ini's [Vendor] Manifest=, else the built-in one), the
  // vendor's key and the Serial accepted before (Config.ini [Vendor] PublicKey= and Serial=).
  // Messages for people go to standard output, to standard error with --json, nowhere with
  // --quiet; the progress line is drawn unless --quiet.
  CommandSession(std::string command, const OperatorOptions& options);
  ~CommandSession();
  CommandSession(const CommandSession&) = delete;
  CommandSession& operator=(const CommandSession&) = delete;

  Globals& state() { return *globals_; }
  const std::string& command() const { return command_; }
  // Where messages for people go; null with --quiet.
  std::FILE* people() const { return people_; }
  // A report of this command with its manifest, password masked.
  CommandReport newReport() const;
  // The hooks an install runs around each root (--before-install, --after-install, else
  // Config.ini [Hooks]).
  const InstallHooks& hooks() const { return hooks_; }

  ConsoleWindow window;

 private:
  std::string command_;
  std::FILE* people_;
  std::unique_ptr<Globals> globals_;
  InstallHooks hooks_;
};

// The program folder the options name.
std::string programFolderOf(const OperatorOptions& options);
// --retries and --timeout for the package download and the manifest fetches around it.
void applyLimits(Globals& g, const OperatorOptions& options);

// From here on, the first SIGINT or SIGTERM is noted for stopSignal (a download stops as its
// 停止 button stops it) and a second one ends the program at once.
void installStopSignals();
// The signal noted since installStopSignals; 0 when none.
int stopSignal();

// What the check found for `package`: its URL (password masked), both digests and its state.
PackageReport describePackage(const Globals& g, const PackageInfo& package);
// The check's failure, told on standard error; false when the check passed.
bool tellCheckFailure(CommandSession& session, std::vector<FailureReport>& failures);

// Downloads the archive of `package` as its 下载 button does and waits for the end of the
// download and of the check after it. Records "download" in report.done with its bytes and
// seconds, or the failure (told on standard error) in report.failures. Returns the signal
// that stopped it, 0 when none did.
int downloadPackage(CommandSession& session, const PackageInfo& package, PackageReport& report);

// Installs the archive of `package` as its 安装 button does into `roots` (the tools package
// is only extracted). Records "install" or "extract" in report.done when the job ended with
// 安装完成 and nothing failed; every failure (already told on standard error by the job's
// message boxes) goes to report.failures as a local-file failure, after the failures of the
// hooks (InstallHooks), which run around each root. SIGINT or SIGTERM stops it
// with the root being changed put back (told on standard error); returns that signal, 0 when
// none stopped it.
int installInto(CommandSession& session, const PackageInfo& package,
                const std::vector<std::string>& roots, PackageReport& report);

// Ends a command: the JSON document on standard output with --json, and the exit status:
// the status of the first failure, else `success`.
int finishCommand(const OperatorOptions& options, CommandReport& report, int success = 0);
