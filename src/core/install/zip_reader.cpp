#include "install/zip_reader.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <vector>

namespace {
unzFile asZip(void* handle) {
  return static_cast<unzFile>(handle);
}
}  // namespace

ZipReader::~ZipReader() {
  if (handle_ == nullptr) return;
  if (entryOpen_) unzCloseCurrentFile(asZip(handle_));
  unzClose(asZip(handle_));
}

bool ZipReader::open(const std::string& path) {
  handle_ = unzOpen64(path.c_str());
  if (handle_ == nullptr) return false;
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(asZip(handle_), &global) != UNZ_OK) return false;
  declared_ = global.number_entry;
  return true;
}

ZipReader::Step ZipReader::first() {
  position_ = 0;
  if (declared_ == 0) return Step::End;
  return readCurrent(unzGoToFirstFile(asZip(handle_)));
}

ZipReader::Step ZipReader::next() {
  ++position_;
  int result = unzGoToNextFile(asZip(handle_));
  if (result == UNZ_END_OF_LIST_OF_FILE) return Step::End;
  // An archive that declares 0xFFFF entries may hold more; minizip then walks on until a
  // record fails, which past the declared count is the end rather than damage.
  if (result != UNZ_OK && position_ >= declared_) return Step::End;
  return readCurrent(result);
}

ZipReader::Step ZipReader::readCurrent(int moveResult) {
  if (moveResult != UNZ_OK) return Step::Damaged;
  unz_file_info64 info{};
  std::vector<char> name(65536);
  if (unzGetCurrentFileInfo64(asZip(handle_), &info, name.data(), name.size(), nullptr, 0, nullptr,
                              0) != UNZ_OK) {
    return Step::Damaged;
  }
  current_.rawName.assign(name.data(), std::min<size_t>(info.size_filename, name.size()));
  current_.flags = static_cast<uint32_t>(info.flag);
  current_.method = static_cast<uint32_t>(info.compression_method);
  current_.externalAttributes = static_cast<uint32_t>(info.external_fa);
  current_.dosDateTime = static_cast<uint32_t>(info.dosDate);
  current_.crc = static_cast<uint32_t>(info.crc);
  current_.compressedSize = info.compressed_size;
  current_.uncompressedSize = info.uncompressed_size;
  return Step::Entry;
}

bool ZipReader::openEntry(std::string& localExtra) {
  localExtra.clear();
  if ((current_.flags & 1) != 0) return false;  // encrypted: no password is ever given
  // Only stored and deflated data are decoded (minizip hands out others undecoded).
  if (current_.method != 0 && current_.method != Z_DEFLATED) return false;
  if (unzOpenCurrentFile(asZip(handle_)) != UNZ_OK) return false;
  entryOpen_ = true;
  int size = unzGetLocalExtrafield(asZip(handle_), nullptr, 0);
  if (size > 0) {
    localExtra.resize(static_cast<size_t>(size));
    int got = unzGetLocalExtrafield(asZip(handle_), localExtra.data(), localExtra.size());
    localExtra.resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  return true;
}

int ZipReader::read(char* buffer, unsigned size) {
  return unzReadCurrentFile(asZip(handle_), buffer, size);
}

bool ZipReader::closeEntry() {
  if (!entryOpen_) return true;
  entryOpen_ = false;
  return unzCloseCurrentFile(asZip(handle_)) == UNZ_OK;
}
