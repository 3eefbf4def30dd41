#include "transaction/journal.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

#include "platform/decimal.h"
#include "transaction/journal_text.h"

namespace {

constexpr char kMagic[] = "下载器 install journal 1";
constexpr char kPrefix[] = "下载器.";
constexpr char kSuffix[] = ".journal";

struct OpName {
  JournalOp op;
  const char* name;
};
constexpr OpName kOps[] = {{JournalOp::MakeFolder, "mkdir"},
                           {JournalOp::Create, "create"},
                           {JournalOp::Replace, "replace"},
                           {JournalOp::Remove, "remove"},
                           {JournalOp::RemoveFolder, "rmdir"}};

const char* nameOf(JournalOp op) {
  for (const OpName& entry : kOps) {
    if (entry.op == op) return entry.name;
  }
  return "";
}

std::optional<JournalOp> opNamed(std::string_view name) {
  for (const OpName& entry : kOps) {
    if (name == entry.name) return entry.op;
  }
  return std::nullopt;
}

void line(std::string& text, const std::vector<std::string>& fields) {
  text += joinFields(fields);
  text += '\n';
}

// Applies one header line; false when it is not one.
bool readHeader(Journal& journal, const std::vector<std::string>& fields) {
  if (fields.size() != 2) return false;
  const std::string& key = fields[0];
  const std::string& value = fields[1];
  if (key == "id") {
    journal.id = value;
  } else if (key == "time") {
    std::optional<int64_t> time = parseDecimal(value);
    if (!time) return false;
    journal.time = *time;
  } else if (key == "purpose") {
    if (value != "install" && value != "rollback") return false;
    journal.purpose =
        value == "install" ? TransactionPurpose::Install : TransactionPurpose::Rollback;
  } else if (key == "root") {
    journal.root = value;
  } else if (key == "root-identity") {
    journal.rootIdentity = value;
  } else if (key == "package") {
    journal.package = value;
  } else if (key == "generation") {
    journal.generation = value;
  } else if (key == "keep") {
    std::optional<int64_t> keep = parseDecimal(value);
    if (!keep || *keep > 1000000) return false;
    journal.keep = static_cast<int>(*keep);
  } else if (key == "drop") {
    journal.drop = value;
  } else if (std::optional<JournalOp> op = opNamed(key)) {
    journal.entries.push_back({*op, value});
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string encodeJournal(const Journal& journal) {
  std::string text = std::string(kMagic) + "\n";
  line(text, {"id", journal.id});
  line(text, {"time", std::to_string(journal.time)});
  line(text, {"purpose", journal.purpose == TransactionPurpose::Install ? "install" : "rollback"});
  line(text, {"root", journal.root});
  line(text, {"root-identity", journal.rootIdentity});
  line(text, {"package", journal.package});
  line(text, {"generation", journal.generation});
  line(text, {"keep", std::to_string(journal.keep)});
  if (!journal.drop.empty()) line(text, {"drop", journal.drop});
  for (const JournalEntry& entry : journal.entries) line(text, {nameOf(entry.op), entry.path});
  text += "begin\n";
  return text;
}

std::optional<Journal> parseJournal(std::string_view text) {
  Journal journal;
  size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos) break;  // a last line cut short is not there yet
    const std::string_view current = text.substr(at, end - at);
    at = end + 1;
    if (first) {
      if (current != kMagic) return std::nullopt;
      first = false;
    } else if (current == "begin") {
      journal.begun = true;
    } else if (current == "commit") {
      if (!journal.begun) return std::nullopt;
      journal.committed = true;
    } else if (journal.begun) {
      return std::nullopt;  // nothing but the commit follows the begin line
    } else {
      std::optional<std::vector<std::string>> fields = splitFields(current);
      if (!fields || !readHeader(journal, *fields)) return std::nullopt;
    }
  }
  if (first) return std::nullopt;
  if (journal.begun && (journal.id.empty() || journal.root.empty() || journal.root[0] != '/' ||
                        journal.root.back() != '/' || journal.generation.empty())) {
    return std::nullopt;
  }
  return journal;
}

std::string journalPath(const std::string& programDir, const std::string& id) {
  return programDir + kPrefix + id + kSuffix;
}

std::vector<std::string> journalPaths(const std::string& programDir) {
  std::vector<std::string> paths;
  DIR* dir = ::opendir(programDir.c_str());
  if (dir == nullptr) return paths;
  const std::string_view prefix = kPrefix, suffix = kSuffix;
  while (dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) &&
        name.ends_with(suffix)) {
      paths.push_back(programDir + std::string(name));
    }
  }
  ::closedir(dir);
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::string folderIdentity(const std::string& path) {
  struct stat state {};
  if (::stat(path.c_str(), &state) != 0 || !S_ISDIR(state.st_mode)) return {};
  return std::to_string(state.st_dev) + ":" + std::to_string(state.st_ino);
}

std::string newTransactionId() {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  char id[64];
  std::snprintf(id, sizeof id, "%llx-%d-%u",
                static_cast<unsigned long long>(
                    std::chrono::duration_cast<std::chrono::microseconds>(now).count()),
                static_cast<int>(::getpid()), counter.fetch_add(1));
  return id;
}
