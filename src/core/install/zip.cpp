// Placeholder until extraction lands.
#include "install/zip.h"

int ZIP::extract(const std::string&, const std::string&) { return -1; }
