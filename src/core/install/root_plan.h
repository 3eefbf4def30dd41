#pragma once
// What an install has to change in one server root, found before anything is written: each
// record's destination below the root (existing folders and files of another letter case are
// used), whether the file there already equals the archive's (same size, then same CRC-32; a
// file of another size is never read), the folders to create, and the plugin list's new text.
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "install/install_failure.h"
#include "install/install_records.h"
#include "install/installed_listing.h"
#include "shell/packages.h"

struct PlannedFile {
  const InstallRecord* record = nullptr;
  std::string path;     // below the root, in the letter case found there
  bool needed = false;  // missing, another file's content, or a link: the file must be put
};

struct RootPlan {
  std::string root;                           // ends with "/"
  std::vector<std::string> folders;           // to create, below the root, outermost first
  std::vector<PlannedFile> files;             // one per destination (the last record for it wins)
  std::optional<std::string> pluginListPath;  // below the root, when the list needs rewriting
  std::string pluginListText;
  mode_t pluginListMode = 0666;
  std::optional<InstallFailure> failure;  // the root cannot be installed; nothing was changed
  bool stopped = false;                   // keepGoing said no: the plan is incomplete
  bool writeListing = true;  // the root's installed listing becomes this plan's listing()

  // The files to put, and whether anything at all has to change.
  bool changesSomething() const;
  // What the root holds once the plan is carried out: every file, needed or not.
  std::vector<InstalledFile> listing() const;
};

// The verdicts of one job: a file judged equal (or not) is not read again while it is the
// same file (device, inode, size, modification and change times).
class VerdictCache {
 public:
  std::optional<bool> equal(const std::string& path, const struct stat& state) const;
  void remember(const std::string& path, const struct stat& state, bool equal);

 private:
  struct Judged {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;
    bool equal;
  };
  std::unordered_map<std::string, Judged> judged_;
};

// Plans the install of `records` into `root` (an existing folder, ending with "/"). A
// destination that is a folder or special file, a differing file without any write permission
// bit, and a plugin list that cannot be edited make the plan's failure (checked without
// opening anything that could block). A destination that is the record's own source (the
// staging folder given as a root) is equal. `keepGoing` is asked after each record (the window
// pumps its events there); false stops the plan.
RootPlan planRoot(const std::string& root, const std::vector<InstallRecord>& records,
                  const PackageInfo& package, VerdictCache& verdicts,
                  const std::function<bool()>& keepGoing);
