#pragma once
// The settings file ("Config.ini" beside the program): the periodic check (section
// "Download", keys "Auto" and "Time"), the server roots of each package (section "Roots"),
// the vendor's manifest address, public key and the highest manifest Serial accepted
// (section "Vendor", keys "Manifest", "PublicKey" and "Serial"), with the window handlers that
// use them. The handlers run on the window thread; the readers on any thread. Writers hold
// the program folder's lock (shell/program_folder.h).
#include <optional>
#include <string>
#include <vector>

#include "shell/packages.h"

struct Globals;

inline constexpr const char kSettingsFile[] = "Config.ini";
inline constexpr const char kRootsSection[] = "Roots";
inline constexpr const char kVendorSection[] = "Vendor";
inline constexpr const char kManifestKey[] = "Manifest";
inline constexpr const char kPublicKeyKey[] = "PublicKey";
inline constexpr const char kAcceptedSerialKey[] = "Serial";
inline constexpr int kCheckTimerPeriodMs = 5000;  // any period well below an hour serves

// The window's created event: sets programDir and processorCount, takes the manifest address
// from the settings (applyVendorManifest) with the vendor's key (applyVendorTrust), starts the
// update check (which hashes the local archives on its own thread), restores the settings and
// restarts the check interval.
void onMainWindowCreated(Globals& g);
// The check box's click and the interval box's loss of focus: writes both settings and, when
// the box is ticked, restarts the check interval.
void saveAutoCheckSettings(Globals& g);
// The directory boxes' loss of focus and the window's closing: writes the text of each
// package's directory box whose text changed since it was restored or last saved to section
// "Roots" (key: the package's alias), lines joined by "|". A window opened and closed without
// a change writes nothing.
void saveServerRoots(Globals& g);
// Start-up: puts each saved text back into its box; a box without a saved value keeps its
// default text. Remembers each box's text, so that only a change is saved.
void restoreServerRoots(Globals& g);
// The roots saved for `package` in the settings file of `programDir` (ending in "/"), split
// into lines as its directory box would split them; nullopt when none were saved (no file, no
// key, or a package without roots). Any thread.
std::optional<std::vector<std::string>> savedServerRoots(const std::string& programDir,
                                                         const PackageInfo& package);
// The manifest address saved in the settings file of `programDir` (section "Vendor", key
// "Manifest"); empty when none is saved. Any thread.
std::string savedManifestUrl(const std::string& programDir);
// Start-up, once programDir is set: the saved manifest address replaces the built-in one. An
// address the front end chose itself (anything but the built-in one) is kept.
void applyVendorManifest(Globals& g);
// Start-up, once programDir is set: the vendor's public key and the highest Serial accepted
// before, from the settings file (a Serial that is no decimal number counts as 0).
void applyVendorTrust(Globals& g);
// Writes `serial` as the highest accepted one. False when the file cannot be written.
bool saveAcceptedSerial(const std::string& programDir, int64_t serial);
// The timer's tick: starts the update check once strictly more than the interval has passed.
void onCheckTimer(Globals& g);

// The leading decimal number of a text ("12h" gives 12); 0 without one.
long leadingNumber(const char* text);
