#pragma once
// The update check: local archive digests, the vendor's manifest, and the version marks.
//
// A check has two halves. The slow half (hashing the archives, fetching the manifest) runs
// on any thread and touches no state (runCheck). The quick half (applyCheck) runs on the
// window thread and fills the package table, the marks, the install buttons and the status
// line. startUpdateCheck runs the slow half on a worker thread so the window never waits
// on the network or a large file; checkForUpdates runs both on the calling thread (the
// command line and tests, which have no window to keep responsive).
//
// With the vendor's public key set (Globals::vendorPublicKey), the slow half also fetches the
// manifest's signature and judges it (manifest_trust.h); a refused manifest changes neither
// the package table nor the marks, so no download can start from it.
#include <array>
#include <atomic>
#include <optional>
#include <string>
#include <string_view>

#include "platform/md5.h"
#include "shell/globals.h"
#include "shell/packages.h"
#include "update/http_text.h"
#include "update/manifest_trust.h"

struct Globals;

// What the slow half needs, copied from the state on the window thread.
struct CheckRequest {
  std::string programDir;
  std::string manifestUrl;
  HttpTextTimeouts timeouts;
  std::string publicKey;       // empty: the manifest is not verified
  int64_t acceptedSerial = 0;  // the highest Serial accepted before
  // Digests already known (by PackageId): an archive that still has the identity it had then
  // is not read again.
  std::array<std::optional<KnownDigest>, kPackageCount> known;
};

// What the slow half found.
struct CheckFindings {
  std::array<FileDigests, kPackageCount> local;  // by PackageId; empty data's when missing
  std::string manifest;     // the manifest text as manifestText gives it; empty when unread
  HttpTextResult fetch;     // how the manifest's fetch ended (its body is in `manifest`)
  ManifestVerdict verdict;  // of a manifest that was read
};

// How a package's local archive compares with the manifest's entry.
enum class ArchiveMatch {
  Unknown,  // the manifest gives no MD5
  Current,  // MD5 and, where given, SHA256 and Size agree
  Md5Differs,
  Sha256Differs,  // the MD5 agrees, the SHA-256 does not
  SizeDiffers,    // both digests agree (or no SHA256), the size does not
};
ArchiveMatch archiveMatch(const PackageState& state);

CheckRequest checkRequestFor(const Globals& g);
// Any thread. A set `cancel` ends the fetch early (the findings are then incomplete).
CheckFindings runCheck(const CheckRequest& request, const std::atomic<bool>* cancel = nullptr);
// Window thread: records the digests, enables the install button of every archive that is
// present and not empty and disables the others, fills the package table and marks each
// package "发现新版" (red) or "最新版" (green). A failed check says why in 透明标签1 and leaves
// the marks of the packages it did not reach; g.checkFailure keeps its text, class and reason
// (and is cleared by a check that passed). A refused manifest leaves the table and the marks
// as they were and says why (refusalText); an accepted Serial above Globals::acceptedSerial
// becomes the new one and, with Globals::recordSerial, is written to Config.ini. Then, with
// `tellDownload`, shows what the last download left to say, if anything (see
// Globals::finishedDownload).
void applyCheck(Globals& g, const CheckFindings& findings, bool tellDownload = true);

// Both halves on the calling thread.
void checkForUpdates(Globals& g);
// Window thread: clears 透明标签1, disables 检查更新 and runs the slow half on a worker
// thread; its findings are applied on the window thread, which then enables 检查更新 again.
// Does nothing while a check runs, except that `again` asks for one more check once the
// running one ends (a finished download must be hashed anew).
void startUpdateCheck(Globals& g, bool again = false);
// Window thread or shutdown: ends a running check's fetch and waits for its thread. Its
// findings, if already posted, are never applied once the state is gone.
void stopUpdateCheck(Globals& g);

// Window thread: writes the status line 透明标签1. `about` names the package whose download
// the text speaks of, so that the next download of that package clears it.
void setStatusLine(Globals& g, const std::string& text,
                   std::optional<PackageId> about = std::nullopt);

// Clears and hides the progress line (status label, progress bar, speed label).
void resetProgressDisplay(Globals& g);

// The manifest text as the check reads it: cut at the first zero byte, then converted to
// UTF-8 (GBK unless it already is UTF-8).
std::string manifestText(std::string_view body);
