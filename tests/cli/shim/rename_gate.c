/* Preloaded into downloader-cli by a test (LD_PRELOAD): holds the program at its first rename
 * into the folder DL_GATE_FOLDER names, until the test lets it go. It first creates the file
 * DL_GATE_READY, then waits until a writer has opened and closed the FIFO DL_GATE_FIFO; a
 * signal meanwhile is handled and the wait goes on. The rename then runs as asked. So the test
 * can signal the program at a known point of an install, with no hook in the program. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int passed;

static void waitAtGate(void) {
  const char* ready = getenv("DL_GATE_READY");
  const char* fifo = getenv("DL_GATE_FIFO");
  if (ready == NULL || fifo == NULL) return;
  int marker = open(ready, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (marker >= 0) close(marker);
  int gate = -1;
  while ((gate = open(fifo, O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
  }
  if (gate < 0) return;
  char byte;
  while (read(gate, &byte, 1) != 0 && errno == EINTR) {
  }
  close(gate);
}

int rename(const char* from, const char* to) {
  static int (*realRename)(const char*, const char*);
  if (realRename == NULL) realRename = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  const char* folder = getenv("DL_GATE_FOLDER");
  if (!passed && folder != NULL && strncmp(to, folder, strlen(folder)) == 0) {
    passed = 1;
    waitAtGate();
  }
  return realRename(from, to);
}
