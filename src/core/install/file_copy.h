#pragma once
// Copying one file, as the install jobs place files into a server root.
#include <string>

// Copies the regular file `from` to `to`, creating `to` or overwriting it in place, and
// gives it the source's access and modification times. False when the source cannot be
// read or the destination cannot be opened or written (a directory in its place, an
// immutable or busy file, a missing folder); a destination that failed midway may be left
// partly written.
bool copyFileOverwriting(const std::string& from, const std::string& to);
