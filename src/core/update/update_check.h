#pragma once
// The update check: local archive digests, the vendor's manifest, and the version marks.
// All procedures run on the window thread and work on the state `g` and its window.
#include <string>
#include <string_view>

struct Globals;

// Hashes the four local archives beside the program and enables the install button of
// every archive that is present and not empty. Never disables a button.
void computeLocalDigests(Globals& g);
// computeLocalDigests, then fetches the manifest from g.manifestUrl, fills the package
// table and marks each package "发现新版" (red) or "最新版" (green). A failed check says why in
// 透明标签1 and leaves the marks of the packages it did not reach.
void checkForUpdates(Globals& g);
// Clears and hides the progress line (status label, progress bar, speed label).
void resetProgressDisplay(Globals& g);

// The manifest text as the check reads it: cut at the first zero byte, then converted to
// UTF-8 (GBK unless it already is UTF-8).
std::string manifestText(std::string_view body);
