#include "bindings.h"

void bindDownloadButtons(MainWindow&) {}
