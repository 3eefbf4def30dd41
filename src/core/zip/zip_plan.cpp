#include "zip/zip_plan.h"

#include <string>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/text.h"
#include "zip/entry_decoder.h"
#include "zip/entry_path.h"

namespace {

enum class Planned { Directory, File };

// Resolves paths to the spelling each component was first met in, ASCII case ignored.
class CaseFolding {
 public:
  PathComponents fold(const PathComponents& path) {
    PathComponents folded;
    std::string parent;
    for (const std::string& component : path) {
      auto [at, inserted] =
          spellings_.try_emplace(parent + '/' + toUpperAscii(component), component);
      folded.push_back(at->second);
      parent += '/' + at->second;
    }
    return folded;
  }

 private:
  std::unordered_map<std::string, std::string> spellings_;
};

std::string keyOf(const PathComponents& path, size_t count) {
  std::string key;
  for (size_t k = 0; k < count; ++k) key += '/' + path[k];
  return key;
}

UnflaggedNames unflaggedNamesOf(const std::vector<ZipEntryRecord>& records) {
  for (const ZipEntryRecord& record : records) {
    if (!hasUtf8NameFlag(record) && !isValidUtf8(record.rawName)) return UnflaggedNames::Gbk;
  }
  return UnflaggedNames::Utf8;
}

class Planner {
 public:
  // Adds the entry; false when the run stops at it.
  bool add(const ZipEntryRecord& record, PlannedEntry entry) {
    if (entry.directory) return addDirectory(std::move(entry));
    const Planned* existing = kindOf(entry.path, entry.path.size());
    if (entry.path.empty() || (existing && *existing == Planned::Directory) ||
        !parentWillExist(entry.path)) {
      return stop(ExtractionPlan::Stop::Refused);
    }
    if (!EntryDecoder::canDecode(record)) {
      plan_.unreadablePath = entry.path;
      return stop(ExtractionPlan::Stop::Unreadable);
    }
    const std::string key = keyOf(entry.path, entry.path.size());
    planned_[key] = Planned::File;
    auto [group, inserted] = groups_.try_emplace(key, plan_.fileGroups.size());
    if (inserted) plan_.fileGroups.emplace_back();
    plan_.fileGroups[group->second].push_back(plan_.entries.size());
    plan_.entries.push_back(std::move(entry));
    return true;
  }

  bool stop(ExtractionPlan::Stop why) {
    plan_.stop = why;
    return false;
  }

  ExtractionPlan take() { return std::move(plan_); }

 private:
  const Planned* kindOf(const PathComponents& path, size_t count) const {
    auto found = planned_.find(keyOf(path, count));
    return found == planned_.end() ? nullptr : &found->second;
  }

  bool addDirectory(PlannedEntry entry) {
    for (size_t k = 1; k < entry.path.size(); ++k) {
      if (const Planned* kind = kindOf(entry.path, k); kind && *kind == Planned::File) {
        return stop(ExtractionPlan::Stop::Refused);
      }
    }
    const Planned* last = kindOf(entry.path, entry.path.size());
    if (last && *last == Planned::File) {
      entry.leftAsIs = true;
    } else {
      markDirectories(entry.path, entry.path.size());
    }
    plan_.entries.push_back(std::move(entry));
    return true;
  }

  void markDirectories(const PathComponents& path, size_t count) {
    for (size_t k = 1; k <= count; ++k) planned_.try_emplace(keyOf(path, k), Planned::Directory);
  }

  // Whether the folder of a file at `path` can be made when the file is written: no
  // earlier file entry took one of its folders. Its folders then count as planned.
  bool parentWillExist(const PathComponents& path) {
    const size_t count = path.size() - 1;
    for (size_t k = 1; k <= count; ++k) {
      if (const Planned* kind = kindOf(path, k); kind && *kind == Planned::File) return false;
    }
    markDirectories(path, count);
    return true;
  }

  ExtractionPlan plan_;
  std::unordered_map<std::string, Planned> planned_;
  std::unordered_map<std::string, size_t> groups_;
};

}  // namespace

ExtractionPlan planExtraction(const std::vector<ZipEntryRecord>& records, size_t nameLimit) {
  const UnflaggedNames unflagged = unflaggedNamesOf(records);
  Planner planner;
  CaseFolding folding;
  for (size_t index = 0; index < records.size(); ++index) {
    const ZipEntryRecord& record = records[index];
    if (record.rawName.size() >= nameLimit || record.rawName.find('\0') != std::string::npos) {
      planner.stop(ExtractionPlan::Stop::Refused);
      break;
    }
    PlannedEntry entry;
    entry.info = describeEntry(record, static_cast<int32_t>(index), unflagged);
    applyExtendedTimestamp(record.localExtra, entry.info);
    std::optional<PathComponents> path = entryPathComponents(entry.info.name);
    if (!path) {
      planner.stop(ExtractionPlan::Stop::Refused);
      break;
    }
    entry.path = folding.fold(*path);
    entry.directory = entry.info.isDirectory();
    entry.record = &record;
    if (!planner.add(record, std::move(entry))) break;
  }
  return planner.take();
}

std::optional<ExtractionPlan> selectFiles(const ExtractionPlan& plan,
                                          const std::function<bool(const std::string&)>& wanted) {
  if (plan.stop != ExtractionPlan::Stop::None) return std::nullopt;
  ExtractionPlan selected;
  for (const std::vector<size_t>& group : plan.fileGroups) {
    const PlannedEntry& last = plan.entries[group.back()];
    if (!wanted(joinComponents(last.path))) continue;
    selected.fileGroups.push_back({selected.entries.size()});
    selected.entries.push_back(last);
  }
  return selected;
}
