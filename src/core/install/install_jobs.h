#pragma once
// The four install jobs of the main window. Each works on a downloaded package archive in the
// program directory; three of them place the files below known server folders into every
// server root listed in their directory box and, for two, edit each root's plugin list. The
// operator learns the outcome from message boxes only.
//
// Each root is one transaction (transaction/transaction.h): after the job it holds either the
// package entirely or what it held before. Files that already equal the archive's (same size,
// same CRC-32) are left as they are, times included; only the archive entries that some root
// lacks, and the files no root takes, are extracted into the fresh staging folder beside the
// program (the tools package is extracted whole).
//
// Jobs run synchronously on the window thread and reach the window through g.window
// (nothing happens without a window or a program directory). While a job compares and places
// files it handles pending window events; meanwhile the install buttons are disabled and a
// nested start does nothing (InstallJobGuard). If the application is asked to quit meanwhile,
// the job ends there without further messages; a root it had begun changing is put back.
#include <string>
#include <vector>

#include "install/install_failure.h"
#include "shell/packages.h"

class TransactionObserver;
class ZIP;
struct Globals;

// A root whose install failed (with a trailing "/"), and why.
struct RootFailure {
  std::string root;
  InstallFailure failure;
  bool restored = false;  // the install had begun changing the root and put it back as it was
};

// The job of the server-ends, function-plugin and anti-cheat buttons, on `zip` (the window's
// ZIP压缩1). A root that fails shows "安装到 ROOT/ 失败" with the failing file and the reason
// on a second line (describeInstallFailure) and, when it was put back, "ROOT/
// 已恢复到安装前的状态" on a third; the roots that failed are also returned, in order, for a
// caller that reports them elsewhere (the command line). A root whose install was stopped
// (a quit, or `observer` asking to stop) is returned with the problem Stopped, and the job
// ends there without further messages.
//
// `observer`, when given, sees each root's transaction: before its first change and after its
// last (a caller may run its own commands there, or decline a root), each step, and may stop it.
// Generations of backups kept: backupGenerationsToKeep (backup_settings.h).
std::vector<RootFailure> installPackage(Globals& g, const PackageInfo& package, ZIP& zip,
                                        TransactionObserver* observer = nullptr);
// The job of the tools button: the archive is extracted whole into its staging folder.
void installTools(Globals& g, ZIP& zip);
