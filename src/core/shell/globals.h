#pragma once
// The program's state: one object, made by initGlobals before the window exists and freed
// by freeGlobals after it has closed. There is no process-wide pointer to it: the front end
// (window program, command line, tests) owns it and hands it to every procedure.
//
// Threads:
// - Every member is read and written on the window thread only, with these exceptions:
//   - `downloadObject` is thread-safe itself; the engine's controller thread calls it from
//     the download job's status callback.
//   - `window` is set before the first procedure runs and not changed until freeGlobals; the
//     controller thread reads it to post work (Window::postToWindowThread is thread-safe).
//   - `downloadStarter` only calls Download::start with a copy of the task parameters that
//     the window thread filled; the window thread joins it.
// - `clock`, `programDirectorySource` and the manifest settings (address, public key) are set
//   before the window opens and only read afterwards.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "download/download.h"
#include "platform/file_identity.h"
#include "platform/md5.h"
#include "shell/packages.h"
#include "transfer/task_outcome.h"
#include "transfer/task_param.h"

class Window;

struct PackageEntry {
  std::string url;     // archive URL from the manifest
  std::string md5;     // published digest, 32 lowercase hex digits in a well-formed manifest
  std::string sha256;  // SHA256=: 64 lowercase hex digits; empty when the manifest gives none
  // Size= in bytes; nothing when the manifest gives none, -1 when it is not a decimal number
  // (no archive matches that).
  std::optional<int64_t> size;
};

// A download that ended, kept until the next update check has hashed its archive; then the
// check shows failureText, or says that the new archive does not match the manifest.
struct FinishedDownload {
  PackageId id;
  std::string failureText;  // empty when every byte arrived
};

// Why the last update check stopped before it had marked every package.
struct CheckFailure {
  std::string text;  // the status line's: "读取远程配置失败", "三端MD5 错误", ...
  FailureKind kind = FailureKind::None;  // the class of the cause
  std::string reason;                    // the system's words (libcurl's text, "HTTP 404", ...)
};

// A digest computed while a file was written, valid while the file keeps its identity: the
// check after a download need not read the archive again.
struct KnownDigest {
  FileIdentity identity;
  FileDigests digests;
};

// What the program knows of one package: the manifest's entry and the local archive's digest.
struct PackageState {
  PackageEntry manifest;
  std::string localMd5;
  std::string localSha256;            // of the same archive, hashed in the same pass
  int64_t localSize = 0;              // 0 when missing
  std::optional<KnownDigest> placed;  // of the archive the last verified download placed
};

struct Globals {
  std::string programDir;  // the program's directory followed by exactly one "/"
  int32_t downloadBusy = 0;
  std::array<PackageState, kPackageCount> packages;  // indexed by PackageId
  std::string downloadTargetPath;
  std::string downloadUrl;
  std::unique_ptr<TaskParam> taskParams;  // filled by the window thread for each download
  int32_t processorCount = 0;
  std::unique_ptr<Download> downloadObject;
  EngineTuning downloadTuning;       // retries and waits of package downloads (tests shorten them)
  int32_t downloadTimeoutMs = 5000;  // connect, send and receive limit of package downloads
  // A package download over an older archive fetches only the entries that changed
  // (--no-delta turns it off).
  bool deltaDownloads = true;
  int64_t totalBytes = 0;
  int64_t doneBytes = 0;
  // Of the running or last package download: bytes fetched from the server, and bytes its
  // delta took from the old archive.
  int64_t fetchedBytes = 0;
  int64_t reusedBytes = 0;
  uint64_t lastSpeedTick = 0;
  uint64_t lastCheckTick = 0;

  // Carried by this port rather than the window template:
  Window* window = nullptr;         // the main window; not owned
  std::thread downloadStarter;      // the starter thread of the last download job
  std::string manifestUrl;          // the built-in manifest URL unless a caller changes it
  std::function<uint64_t()> clock;  // millisecond tick source (monotonic by default)
  // Where programDir comes from; tests and the command line point it elsewhere.
  std::function<std::string()> programDirectorySource;
  long manifestConnectTimeoutMs = 60000;  // manifest fetch: connection limit
  long manifestIdleTimeoutMs = 30000;     // manifest fetch: longest silence
  long manifestTotalTimeoutMs = 60000;    // manifest fetch: the whole of it
  // Config.ini [Vendor] PublicKey=: the vendor's minisign public key (its base64 line). When
  // set, a manifest is accepted only with a valid signature by it, a Serial not below
  // acceptedSerial and an Expires not passed.
  std::string vendorPublicKey;
  int64_t acceptedSerial = 0;  // the highest Serial accepted so far ([Vendor] Serial=)
  // Whether a check records a higher accepted Serial in Config.ini: false for a front end
  // that does not hold the program folder's lock (check, a dry run).
  bool recordSerial = true;

  // The update check running on its own thread (window thread, but checkCancel).
  std::thread checkThread;
  std::atomic<bool> checkCancel{false};
  bool checkRunning = false;
  bool checkAgain = false;  // one more check once the running one ends
  std::optional<FinishedDownload> finishedDownload;
  std::optional<PackageId> downloadingPackage;  // the package of the running download
  std::optional<CheckFailure> checkFailure;     // of the last check applied; none when it passed
  // The package whose download the status line's reason is about; its next download clears it.
  std::optional<PackageId> statusLinePackage;
  // Each directory box's text as last restored from or saved to the settings file (by
  // PackageId); a box whose text still equals it is not written again.
  std::array<std::optional<std::string>, kPackageCount> rootsBoxText;

  PackageState& package(PackageId id) { return packages[indexOf(id)]; }
  const PackageState& package(PackageId id) const { return packages[indexOf(id)]; }
  // programDir = `dir` followed by exactly one "/".
  void setProgramDir(std::string dir);
  // Current tick from `clock`, or the monotonic clock when none is set.
  uint64_t now() const;
};

// The manifest URL this program was built with.
const char* builtInManifestUrl();

// Makes the state with every default (the TaskParam defaults included) in `table`. When
// `table` already holds a state, it is kept and nothing changes.
void initGlobals(std::unique_ptr<Globals>& table);
// Stops a running download (bounded wait for its threads), then frees every member in
// order and empties `table`. Safe when some members were never set and when `table` is
// already empty.
void freeGlobals(std::unique_ptr<Globals>& table);
// Runs before the main window is created; does nothing.
int startupRoutine();
// Shows "运行时出错!" with the failed allocation's size and ends the process with -1.
[[noreturn]] void fatalAllocationFailure(std::size_t bytes);
