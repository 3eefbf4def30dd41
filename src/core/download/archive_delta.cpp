// Taking unchanged entries of a new zip archive from the local one.
#include "download/archive_delta.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "net/socket_io.h"
#include "platform/unique_fd.h"
#include "zip/entry_decoder.h"
#include "zip/entry_spans.h"
#include "zip/zip_directory.h"
#include "zip/zip_layout.h"

namespace {

constexpr size_t kCopyBlock = 1 << 20;

// Whether the new entry is the local one by everything both directories say about it.
bool sameRecord(const ZipEntryRecord& remote, const ZipEntryRecord& local) {
  return remote.rawName == local.rawName && remote.crc == local.crc &&
         remote.compressedSize == local.compressedSize &&
         remote.uncompressedSize == local.uncompressedSize && remote.method == local.method &&
         remote.flags == local.flags && remote.dosDateTime == local.dosDateTime &&
         local.localMethod == local.method;
}

class ArchiveDelta final : public DeltaSource {
 public:
  ArchiveDelta(UniqueFd fd, uint64_t size, int threads)
      : fd_(std::move(fd)), size_(size), threads_(std::max(1, threads)) {}

  int64_t tailLength() const override { return kArchiveTailLength; }

  std::optional<int64_t> neededFrom(std::string_view held, int64_t start, int64_t total) override {
    if (start < 0 || total <= start) return std::nullopt;
    ArchiveTail tail{held, static_cast<uint64_t>(start), static_cast<uint64_t>(total)};
    std::optional<DirectoryExtent> extent = locateCentralDirectory(tail);
    if (!extent || static_cast<int64_t>(extent->size) > kArchiveDirectoryLimit) {
      return std::nullopt;
    }
    return std::min<int64_t>(start, static_cast<int64_t>(extent->offset));
  }

  std::optional<std::vector<ReusedRange>> candidates(std::string_view held, int64_t start,
                                                     int64_t total) override {
    ArchiveTail tail{held, static_cast<uint64_t>(start), static_cast<uint64_t>(total)};
    std::optional<CentralDirectory> remote = parseCentralDirectory(tail);
    if (!remote) return std::nullopt;
    std::optional<std::vector<EntrySpan>> remoteSpans = entrySpans(*remote);
    if (!remoteSpans) return std::nullopt;
    std::vector<ReusedRange> ranges;
    std::optional<CentralDirectory> local = readCentralDirectory(fd_.get(), size_);
    if (!local || !locateEntryData(fd_.get(), *local)) return ranges;  // nothing to take
    std::optional<std::vector<EntrySpan>> localSpans = entrySpans(*local);
    if (!localSpans) return ranges;
    // Names that occur more than once locally are not taken: which one is meant is unclear.
    std::map<std::string_view, size_t> byName;
    std::map<std::string_view, int> seen;
    for (size_t k = 0; k < local->entries.size(); ++k) {
      byName.emplace(local->entries[k].rawName, k);
      ++seen[local->entries[k].rawName];
    }
    for (size_t k = 0; k < remote->entries.size(); ++k) {
      const ZipEntryRecord& entry = remote->entries[k];
      auto found = byName.find(entry.rawName);
      if (found == byName.end() || seen[entry.rawName] != 1) continue;
      const ZipEntryRecord& mine = local->entries[found->second];
      const EntrySpan& there = (*remoteSpans)[k];
      const EntrySpan& here = (*localSpans)[found->second];
      if (!sameRecord(entry, mine) || there.length() != here.length() ||
          !EntryDecoder::canDecode(mine)) {
        continue;
      }
      ranges.push_back(ReusedRange{static_cast<int64_t>(here.begin),
                                   static_cast<int64_t>(there.begin),
                                   static_cast<int64_t>(there.length())});
      entryAt_[static_cast<int64_t>(there.begin)] = mine;
    }
    std::sort(ranges.begin(), ranges.end(),
              [](const ReusedRange& a, const ReusedRange& b) { return a.offset < b.offset; });
    return ranges;
  }

  std::vector<bool> copyChecked(const std::vector<ReusedRange>& ranges, const DeltaWriter& write,
                                const StopCondition& stop) override {
    std::vector<char> copied(ranges.size(), 0);
    std::atomic<size_t> next{0};
    auto work = [&] {
      EntryDecoder decoder;
      std::vector<char> buffer(kCopyBlock);
      for (size_t k = next++; k < ranges.size() && !stop.stopRequested(); k = next++) {
        auto entry = entryAt_.find(ranges[k].offset);
        if (entry == entryAt_.end() || !decoder.verify(fd_.get(), entry->second)) continue;
        copied[k] = copyRange(ranges[k], buffer, write) ? 1 : 0;
      }
    };
    std::vector<std::thread> helpers;
    size_t count = std::min<size_t>(static_cast<size_t>(threads_), ranges.size());
    for (size_t k = 1; k < count; ++k) {
      try {
        helpers.emplace_back(work);
      } catch (const std::system_error&) {
        break;  // the threads already there do the work
      }
    }
    work();
    for (std::thread& helper : helpers) helper.join();
    return std::vector<bool>(copied.begin(), copied.end());
  }

 private:
  bool copyRange(const ReusedRange& range, std::vector<char>& buffer,
                 const DeltaWriter& write) const {
    for (int64_t done = 0; done < range.length;) {
      size_t size = static_cast<size_t>(
          std::min<int64_t>(static_cast<int64_t>(buffer.size()), range.length - done));
      if (!readAt(fd_.get(), static_cast<uint64_t>(range.localOffset + done), buffer.data(),
                  size) ||
          !write(range.offset + done, reinterpret_cast<const uint8_t*>(buffer.data()), size)) {
        return false;
      }
      done += static_cast<int64_t>(size);
    }
    return true;
  }

  UniqueFd fd_;
  uint64_t size_;
  int threads_;
  // The local entry of each candidate, by the candidate's offset in the new archive.
  std::map<int64_t, ZipEntryRecord> entryAt_;
};

}  // namespace

std::unique_ptr<DeltaSource> makeArchiveDelta(const std::string& localArchive, int threads) {
  UniqueFd fd(::open(localArchive.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
    return nullptr;
  }
  return std::make_unique<ArchiveDelta>(std::move(fd), static_cast<uint64_t>(info.st_size),
                                        threads);
}
