#include "install/validate.h"

#include <sys/stat.h>

#include <unordered_map>
#include <unordered_set>

#include "install/backup_settings.h"
#include "install/case_path.h"
#include "install/file_crc.h"
#include "install/file_tree.h"
#include "install/install_records.h"
#include "install/root_plan.h"
#include "platform/files.h"
#include "platform/text.h"
#include "zip/zip.h"

namespace {

bool skipped(const InstallRecord& record, const PackageInfo& package) {
  return package.skipPluginListFiles && findText(record.relativePath, "PlugList.txt", true) != -1;
}

// What an install of the archive would leave in the root: each record's destination, in the
// letter case found there, the last record for a destination winning.
std::optional<std::vector<InstalledFile>> expectedFromArchive(const std::string& programDir,
                                                              const std::string& root,
                                                              const PackageInfo& package,
                                                              ZIP& zip) {
  std::vector<ZipFileInfo> files;
  if (zip.list(programDir + package.archive, files) != 1) return std::nullopt;
  const std::vector<InstallRecord> records =
      buildInstallRecords(programDir + package.stagingName, files, package.markers);
  CaseInsensitiveNames names;
  std::vector<InstalledFile> expected;
  std::unordered_map<std::string, size_t> byPath;
  for (const InstallRecord& record : records) {
    if (skipped(record, package)) continue;
    std::string path;
    for (const std::string& part : splitText(record.relativePath, "/")) {
      const std::string folder = path.empty() ? root : root + path + "/";
      if (!path.empty()) path += '/';
      path += names.find(folder, part);
    }
    InstalledFile file{path, record.size, record.crc, record.archivePath};
    auto [at, inserted] = byPath.try_emplace(path, expected.size());
    if (inserted) {
      expected.push_back(std::move(file));
    } else {
      expected[at->second] = std::move(file);
    }
  }
  return expected;
}

}  // namespace

Validation validateRoot(const std::string& programDir, const std::string& root,
                        const PackageInfo& package, ZIP& zip) {
  Validation validation;
  const std::optional<std::vector<InstalledFile>> listed =
      parseInstalledListing(readWholeFile(root + installedListingPath(package.name)));
  if (listed) {
    validation.fromListing = true;
    validation.expected = *listed;
  } else if (auto fromArchive = expectedFromArchive(programDir, root, package, zip)) {
    validation.expected = std::move(*fromArchive);
  } else {
    const std::string archive = programDir + package.archive;
    validation.failure = fileExists(archive)
                             ? InstallFailure{InstallProblem::NotAFile, archive, 0}
                             : InstallFailure{InstallProblem::SystemError, archive, ENOENT};
    return validation;
  }
  for (const InstalledFile& file : validation.expected) {
    struct stat state {};
    const std::string path = root + file.path;
    if (::lstat(path.c_str(), &state) != 0 || !S_ISREG(state.st_mode)) {
      validation.missing.push_back(file);
    } else if (static_cast<uint64_t>(state.st_size) != file.size || crcOfFile(path) != file.crc) {
      validation.differs.push_back(file);
    }
  }
  return validation;
}

RootOutcome repairRoot(const std::string& programDir, const std::string& root,
                       const PackageInfo& package, ZIP& zip, const Validation& validation,
                       TransactionObserver* observer) {
  RootOutcome outcome;
  const std::string archive = programDir + package.archive;
  const std::string staging = programDir + package.stagingName;
  std::vector<ZipFileInfo> files;
  if (zip.list(archive, files) != 1) {
    outcome.failure = InstallFailure{InstallProblem::ArchiveDiffers, archive, 0};
    return outcome;
  }
  std::unordered_map<std::string, const ZipFileInfo*> inArchive;
  for (const ZipFileInfo& file : files) inArchive[file.path] = &file;
  std::vector<InstallRecord> records;
  std::unordered_set<std::string> wanted;
  for (const auto* list : {&validation.missing, &validation.differs}) {
    for (const InstalledFile& file : *list) {
      auto found = inArchive.find(file.archivePath);
      if (found == inArchive.end() || found->second->size != file.size ||
          found->second->crc != file.crc) {
        outcome.failure = InstallFailure{InstallProblem::ArchiveDiffers, archive, 0};
        return outcome;
      }
      records.push_back(
          {staging + "/" + file.archivePath, file.path, file.archivePath, file.size, file.crc});
      wanted.insert(file.archivePath);
    }
  }
  removeTree(staging);
  if (zip.extractFiles(archive, staging, [&wanted](const std::string& path) {
        return wanted.count(path) != 0;
      }) != 1) {
    outcome.failure = InstallFailure{InstallProblem::ArchiveDiffers, archive, 0};
    return outcome;
  }
  PackageInfo filesOnly = package;
  filesOnly.pluginNames.clear();
  filesOnly.skipPluginListFiles = false;
  VerdictCache verdicts;
  RootPlan plan = planRoot(root, records, filesOnly, verdicts, nullptr);
  plan.writeListing = false;
  return installPlannedRoot(programDir, plan, package, backupGenerationsToKeep(programDir),
                            observer);
}
