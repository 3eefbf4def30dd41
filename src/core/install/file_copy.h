#pragma once
// Copying one file, as the install jobs place files into a server root.
#include <string>

#include "install/install_failure.h"
#include "platform/replace_file.h"

// Gives `to` the content of the regular file `from`, with the source's access and
// modification times. The copy is written to a temporary file beside `to` and renamed over
// it (see replace_file.h): a program that maps the old file keeps the old contents, and a
// failed copy leaves the old file as it was. An existing `to` keeps its permission bits
// (and owner where permitted). A symbolic link at `to` is replaced by the new file itself:
// what it leads to is never opened or changed (a link to a folder counts as a folder).
// Links among the folders above `to` are followed.
//
// Done when `to` holds the source's content afterwards, including when `from` and `to`
// are the same file (same device and inode), which is left alone. Otherwise the failure
// names the file and why: the source cannot be read; `to` exists and is neither a regular
// file nor such a link (NotAFile: a directory, FIFO, socket, device; found without opening
// it, so nothing blocks); `to` is a regular file without any write permission bit
// (ReadOnly: it stays as it is, whoever runs the install, although the folder would let a
// rename replace it); or the temporary file cannot be created, written or renamed (the
// system's error: an immutable or read-only folder, a full disk, a missing folder).
InstallResult copyFileOverwriting(const std::string& from, const std::string& to);

// Whether a file may be put at an examined destination: refused for Other (NotAFile, or the
// system's error when it could not be examined) and for a regular file without any write
// permission bit (ReadOnly); done for the rest.
InstallResult checkDestination(const Destination& destination);
