// Prints the MD5 of each file named on the command line, as the update check computes it.
#include <cstdio>
#include <string>

#include "platform/md5.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) std::printf("%s  %s\n", md5OfFile(argv[i]).c_str(), argv[i]);
  return 0;
}
