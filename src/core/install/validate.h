#pragma once
// Checking a root against what was installed there, and mending what differs. The files
// expected are those of the root's installed listing (installed_listing.h), or, for a root
// installed before listings were kept, those the package's archive in the program folder
// would place. Each is compared by size, then CRC-32 (a file of another size is not read).
#include <optional>
#include <string>
#include <vector>

#include "install/install_failure.h"
#include "install/installed_listing.h"
#include "install/root_install.h"
#include "shell/packages.h"

class ZIP;

struct Validation {
  std::optional<InstallFailure> failure;  // nothing could be compared (see validateRoot)
  bool fromListing = false;               // the root's listing was used (else the archive's files)
  std::vector<InstalledFile> expected;
  std::vector<InstalledFile> missing;  // not there (or not a file: a folder, a link, ...)
  std::vector<InstalledFile> differs;  // another size or content
};

// Compares `root` (an existing folder, ending with "/") with what `package` installed there.
// Fails (nothing compared) when the root has no listing and the archive in `programDir`
// cannot be read (the archive's path, NotAFile or its system error).
Validation validateRoot(const std::string& programDir, const std::string& root,
                        const PackageInfo& package, ZIP& zip);

// Puts the missing and differing files of `validation` back from the package's archive in
// `programDir`, through one transaction (a generation of its own, which can be rolled back).
// Only those files are extracted, into the package's staging folder. Fails before anything
// changes when the archive does not hold them with the sizes and CRC-32 the listing names
// (ArchiveDiffers: another release was downloaded since), or as an install into the root fails.
RootOutcome repairRoot(const std::string& programDir, const std::string& root,
                       const PackageInfo& package, ZIP& zip, const Validation& validation,
                       TransactionObserver* observer = nullptr);
