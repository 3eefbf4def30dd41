#pragma once
// The four install jobs of the main window. Each extracts a downloaded package archive
// from the program directory into a fresh staging folder beside it; three of them then
// copy the files below known server folders into every server root listed in their
// directory box and, for two, edit each root's plugin list. The operator learns the
// outcome from message boxes only.
//
// Jobs run synchronously on the window thread and reach the window through g.window
// (nothing happens without a window or a program directory).
// While a job lists the extracted files it handles pending window events; meanwhile the
// install buttons are disabled and a nested start does nothing (InstallJobGuard). If the
// application is asked to quit during the listing, the job ends there, without copying and
// without further messages.
#include <string>
#include <string_view>
#include <vector>

#include "install/install_failure.h"
#include "shell/packages.h"

class ZIP;
struct Globals;

// One file to install: its extracted path, and the path below a root where it goes (the
// bytes after the "/" that opens the matched marker).
struct InstallRecord {
  std::string sourcePath;
  std::string relativePath;
};

// A record per file and per marker found in its path below `staging` (the folder the
// files were listed in; the search starts at the "/" that ends it, so a marker in the
// folders above, such as a program folder below /srv/Mir200/, never counts), ASCII case
// ignored, first occurrence; in file order and, within a file, marker order.
std::vector<InstallRecord> buildInstallRecords(std::string_view staging,
                                               const std::vector<std::string>& files,
                                               const std::vector<std::string>& markers);

// A root whose install failed (with a trailing "/"), and why.
struct RootFailure {
  std::string root;
  InstallFailure failure;
};

// The job of the server-ends, function-plugin and anti-cheat buttons, on `zip` (the
// window's ZIP压缩1). A root that fails shows "安装到 ROOT/ 失败" with the failing file and
// the reason on a second line (describeInstallFailure); the roots that failed are also
// returned, in order, for a caller that reports them elsewhere (the command line).
std::vector<RootFailure> installPackage(Globals& g, const PackageInfo& package, ZIP& zip);
// The job of the tools button.
void installTools(Globals& g, ZIP& zip);
