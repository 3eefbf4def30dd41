#pragma once
// Writing a new key pair to its two files: the secret key file readable and writable by its
// owner alone (0600), the public key file by all (0644). Neither may exist before; nothing is
// opened through a link. Any thread.
#include <string>

#include "signing/signer.h"

struct KeyFilesResult {
  bool written = false;
  std::string error;  // "PATH: the system's reason" when not written
};

// Writes both files, or neither: a failure after the secret key file was made removes it.
KeyFilesResult writeKeyFiles(const KeyPair& pair, const std::string& publicKeyPath,
                             const std::string& secretKeyPath);
