#include "bindings.h"

void bindInstallButtons(MainWindow&) {}
