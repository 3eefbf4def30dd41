#pragma once
#include <string>

// Number of processors the system reports, at least 1.
int processorCount();
// Directory of the running executable followed by one "/".
std::string programDirectory();
