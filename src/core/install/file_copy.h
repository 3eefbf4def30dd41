#pragma once
// Copying one file, as the install jobs place files into a server root.
#include <string>

// Gives `to` the content of the regular file `from`, with the source's access and
// modification times. The copy is written to a temporary file beside `to` and renamed over
// it (see replace_file.h): a program that maps the old file keeps the old contents, and a
// failed copy leaves the old file as it was. An existing `to` keeps its permission bits
// (and owner where permitted). A symbolic link at `to` is replaced by the new file itself:
// what it leads to is never opened or changed (a link to a folder counts as a folder).
// Links among the folders above `to` are followed.
//
// True when `to` holds the source's content afterwards, including when `from` and `to`
// are the same file (same device and inode), which is left alone. False when the source
// cannot be read, when `to` exists and is neither a regular file nor such a link (a
// directory, FIFO, socket, device; found without opening it, so nothing blocks), or when the
// temporary file cannot be created, written or renamed (an immutable or read-only folder,
// a full disk, a missing folder).
bool copyFileOverwriting(const std::string& from, const std::string& to);
