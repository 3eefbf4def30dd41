#include "transaction/generations.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/decimal.h"
#include "platform/files.h"

namespace {

// The numbers of the generation folders of a package, ascending.
std::vector<int> generationNumbers(const std::string& root, const std::string& package) {
  std::vector<int> numbers;
  const std::string folder = root + packageBackupFolder(package);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return numbers;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.size() > 9 ||
        name.find_first_not_of("0123456789") != std::string::npos || name[0] == '0') {
      continue;
    }
    numbers.push_back(static_cast<int>(*parseDecimal(name)));
  }
  ::closedir(dir);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

std::string generationFolder(const std::string& package, int number) {
  return packageBackupFolder(package) + "/" + std::to_string(number);
}

uint64_t bytesBelow(const std::string& folder) {
  uint64_t total = 0;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error)) total += it->file_size(error);
  }
  return total;
}

}  // namespace

std::string packageBackupFolder(const std::string& package) {
  return std::string(kBackupFolderName) + "/" + package;
}

std::string backupPathIn(const std::string& root, const std::string& generation,
                         const std::string& path) {
  return root + generation + "/files/" + path;
}

std::string recordPathIn(const std::string& root, const std::string& generation) {
  return root + generation + "/record";
}

std::vector<Generation> listGenerations(const std::string& root, const std::string& package) {
  std::vector<Generation> generations;
  for (int number : generationNumbers(root, package)) {
    Generation generation;
    generation.number = number;
    generation.folder = generationFolder(package, number);
    std::optional<Journal> record =
        parseJournal(readWholeFile(recordPathIn(root, generation.folder)));
    if (!record || !record->begun) continue;
    generation.record = std::move(*record);
    generation.backupBytes = bytesBelow(root + generation.folder + "/files");
    generations.push_back(std::move(generation));
  }
  return generations;
}

std::string nextGenerationFolder(const std::string& root, const std::string& package) {
  const std::vector<int> numbers = generationNumbers(root, package);
  return generationFolder(package, numbers.empty() ? 1 : numbers.back() + 1);
}

void pruneGenerations(const std::string& root, const std::string& package, int keep) {
  const std::vector<int> numbers = generationNumbers(root, package);
  const size_t kept = static_cast<size_t>(std::max(keep, 0));
  for (size_t k = 0; k + kept < numbers.size(); ++k) {
    removeOwnTree(root + generationFolder(package, numbers[k]));
  }
}

void removeEmptyBackupFolders(const std::string& root, const std::string& package) {
  ::rmdir((root + packageBackupFolder(package)).c_str());
  ::rmdir((root + kBackupFolderName).c_str());
}

void removeOwnTree(const std::string& path) {
  std::error_code error;
  std::filesystem::remove_all(path, error);
}
