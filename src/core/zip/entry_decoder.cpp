#include "zip/entry_decoder.h"

#include <algorithm>

#include "platform/replace_file.h"

namespace {

constexpr size_t kOutputBlock = 2 * EntryDecoder::kInputBlock;
constexpr uint32_t kStored = 0;
constexpr uint32_t kDeflated = 8;

// Hands decoded bytes on; with no output (a check only) they are dropped.
bool emit(int out, const char* data, size_t size) {
  return out < 0 || writeAll(out, data, size);
}

uLong addToCrc(uLong crc, const char* data, size_t size) {
  return crc32_z(crc, reinterpret_cast<const Bytef*>(data), size);
}

}  // namespace

EntryDecoder::EntryDecoder() : input_(kInputBlock), output_(kOutputBlock) {}

EntryDecoder::~EntryDecoder() {
  if (streamReady_) inflateEnd(&stream_);
}

bool EntryDecoder::canDecode(const ZipEntryRecord& entry) {
  return (entry.flags & 1) == 0 && (entry.method == kStored || entry.method == kDeflated);
}

bool EntryDecoder::decode(int archiveFd, const ZipEntryRecord& entry, int out) {
  if (!canDecode(entry) || entry.localMethod != entry.method) return false;
  uLong crc = crc32(0, nullptr, 0);
  const bool written = entry.method == kStored ? copyStored(archiveFd, entry, out, crc)
                                               : inflateData(archiveFd, entry, out, crc);
  return written && static_cast<uint32_t>(crc) == entry.crc;
}

bool EntryDecoder::verify(int archiveFd, const ZipEntryRecord& entry) {
  return decode(archiveFd, entry, -1);
}

bool EntryDecoder::copyStored(int archiveFd, const ZipEntryRecord& entry, int out, uLong& crc) {
  if (entry.compressedSize != entry.uncompressedSize) return false;
  for (uint64_t done = 0; done < entry.compressedSize;) {
    const size_t size =
        static_cast<size_t>(std::min<uint64_t>(output_.size(), entry.compressedSize - done));
    if (!readAt(archiveFd, entry.dataOffset + done, output_.data(), size)) return false;
    crc = addToCrc(crc, output_.data(), size);
    if (!emit(out, output_.data(), size)) return false;
    done += size;
  }
  return true;
}

// Decodes up to the recorded size, as much as the stream gives; a stream that ends early,
// or needs more than the compressed size, fails.
bool EntryDecoder::inflateData(int archiveFd, const ZipEntryRecord& entry, int out, uLong& crc) {
  const int ready = streamReady_ ? inflateReset(&stream_) : inflateInit2(&stream_, -MAX_WBITS);
  if (ready != Z_OK) return false;
  streamReady_ = true;
  stream_.avail_in = 0;
  uint64_t read = 0, written = 0;
  while (written < entry.uncompressedSize) {
    if (stream_.avail_in == 0) {
      const size_t size =
          static_cast<size_t>(std::min<uint64_t>(input_.size(), entry.compressedSize - read));
      if (size == 0 || !readAt(archiveFd, entry.dataOffset + read, input_.data(), size)) {
        return false;
      }
      read += size;
      stream_.next_in = reinterpret_cast<Bytef*>(input_.data());
      stream_.avail_in = static_cast<uInt>(size);
    }
    const size_t room =
        static_cast<size_t>(std::min<uint64_t>(output_.size(), entry.uncompressedSize - written));
    stream_.next_out = reinterpret_cast<Bytef*>(output_.data());
    stream_.avail_out = static_cast<uInt>(room);
    const int status = inflate(&stream_, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) return false;
    const size_t produced = room - stream_.avail_out;
    crc = addToCrc(crc, output_.data(), produced);
    if (!emit(out, output_.data(), produced)) return false;
    written += produced;
    if (status == Z_STREAM_END) break;
  }
  return written == entry.uncompressedSize;
}
