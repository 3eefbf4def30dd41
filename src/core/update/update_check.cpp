#include "update/update_check.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "platform/codepage.h"
#include "platform/ini.h"
#include "platform/md5.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/packages.h"
#include "shell/window.h"
#include "update/manifest_fields.h"
#include "update/settings.h"

namespace {

constexpr Rgb kNewColor{255, 0, 0};
constexpr Rgb kCurrentColor{0, 255, 0};

// Why a fetch gave no manifest: the transfer's own failure, else what the server sent.
CheckFailure unreadManifest(const HttpTextResult& fetch, const std::string& text) {
  CheckFailure failure{"读取远程配置失败", fetch.failure, fetch.reason};
  if (failure.kind != FailureKind::None || !failure.reason.empty()) return failure;
  failure.kind = FailureKind::ServerReply;
  if (fetch.status >= 400) {
    failure.reason = "HTTP " + std::to_string(fetch.status);
  } else if (text.empty()) {
    failure.reason = "the reply is empty";
  } else {
    failure.reason = "the reply is not a manifest (no 反挂 in it)";
  }
  return failure;
}

// Fills the package table and the marks from the manifest; a check that stops early says
// why in the status line, and returns why.
std::optional<CheckFailure> applyManifest(Globals& g, const std::string& text,
                                          const HttpTextResult& fetch) {
  if (text.find("反挂") == std::string::npos) {
    CheckFailure failure = unreadManifest(fetch, text);
    setStatusLine(g, failure.text);
    return failure;
  }
  // The manifest is parsed in memory by the INI rules; no temporary file is needed.
  for (PackageState& package : g.packages) package.manifest = PackageEntry{};
  for (const PackageInfo& row : packageTable()) {
    PackageEntry& entry = g.package(row.id).manifest;
    entry.url = iniReadText(text, row.section, "URL", "");
    entry.md5 = iniReadText(text, row.section, "MD5", "");
    entry.sha256 = iniReadText(text, row.section, kSha256Key, "");
    entry.size = archiveSizeOf(iniReadText(text, row.section, kSizeKey, ""));
  }
  for (const PackageInfo& row : packageTable()) {
    const PackageEntry& entry = g.package(row.id).manifest;
    if (entry.md5.empty()) {
      setStatusLine(g, row.missingMd5Message);
      return CheckFailure{row.missingMd5Message, FailureKind::ServerReply,
                          std::string("no MD5 under [") + row.section + "] in the manifest"};
    }
    bool current = archiveMatch(g.package(row.id)) == ArchiveMatch::Current;
    g.window->setText(row.mark, current ? "最新版" : "发现新版");
    g.window->setTextColor(row.mark, current ? kCurrentColor : kNewColor);
  }
  return std::nullopt;
}

// What the last download leaves to say once the check has looked at its archive.
void reportFinishedDownload(Globals& g) {
  if (!g.finishedDownload) return;
  FinishedDownload done = std::move(*g.finishedDownload);
  g.finishedDownload.reset();
  const PackageInfo& row = packageInfo(done.id);
  const PackageState& state = g.package(done.id);
  std::string text = done.failureText;
  if (text.empty()) {
    switch (archiveMatch(state)) {
      case ArchiveMatch::Md5Differs:
        text = std::string(row.archive) + " MD5与远程配置不符";
        break;
      case ArchiveMatch::Sha256Differs:
        text = std::string(row.archive) + " SHA256与远程配置不符";
        break;
      case ArchiveMatch::SizeDiffers:
        text = std::string(row.archive) + " 大小与远程配置不符";
        break;
      case ArchiveMatch::Unknown:
      case ArchiveMatch::Current:
        break;
    }
  }
  if (!text.empty()) setStatusLine(g, text, done.id);
}

// A manifest the vendor's key does not vouch for: said in the status line, nothing applied.
CheckFailure refuseManifest(Globals& g, const ManifestVerdict& verdict) {
  CheckFailure failure{refusalText(verdict.refusal), verdict.kind, verdict.reason};
  setStatusLine(g, failure.text);
  return failure;
}

// Remembers the Serial of an accepted manifest when it is higher than any before.
void recordSerial(Globals& g, const ManifestVerdict& verdict) {
  if (!verdict.verified || verdict.serial <= g.acceptedSerial) return;
  g.acceptedSerial = verdict.serial;
  if (g.recordSerial) saveAcceptedSerial(g.programDir, verdict.serial);
}

int64_t unixSecondsNow() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

void setInstallButtons(Globals& g) {
  for (const PackageInfo& row : packageTable()) {
    g.window->setEnabled(row.installButton, g.package(row.id).localMd5 != kEmptyMd5);
  }
}

}  // namespace

ArchiveMatch archiveMatch(const PackageState& state) {
  const PackageEntry& entry = state.manifest;
  if (entry.md5.empty()) return ArchiveMatch::Unknown;
  if (entry.md5 != state.localMd5) return ArchiveMatch::Md5Differs;
  if (!entry.sha256.empty() && entry.sha256 != state.localSha256) {
    return ArchiveMatch::Sha256Differs;
  }
  if (entry.size && *entry.size != state.localSize) return ArchiveMatch::SizeDiffers;
  return ArchiveMatch::Current;
}

CheckRequest checkRequestFor(const Globals& g) {
  CheckRequest request{g.programDir,
                       g.manifestUrl,
                       HttpTextTimeouts{g.manifestConnectTimeoutMs, g.manifestIdleTimeoutMs,
                                        g.manifestTotalTimeoutMs},
                       g.vendorPublicKey,
                       g.acceptedSerial,
                       {}};
  for (const PackageInfo& row : packageTable()) {
    request.known[indexOf(row.id)] = g.package(row.id).placed;
  }
  return request;
}

namespace {

// A download hashes SHA-256 only when its manifest gave one; should the manifest now give one
// (a new release of the manifest since), a reused digest without it is computed afresh.
void completeReusedDigests(const CheckRequest& request, CheckFindings& findings) {
  std::string lower = findings.manifest;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.find("sha256") == std::string::npos) return;
  for (const PackageInfo& row : packageTable()) {
    FileDigests& local = findings.local[indexOf(row.id)];
    if (local.sha256.empty()) local = digestsOfFile(request.programDir + row.archive);
  }
}

}  // namespace

CheckFindings runCheck(const CheckRequest& request, const std::atomic<bool>* cancel) {
  CheckFindings findings;
  for (const PackageInfo& row : packageTable()) {
    std::string path = request.programDir + row.archive;
    const std::optional<KnownDigest>& known = request.known[indexOf(row.id)];
    if (known && fileIdentityAt(path) == known->identity) {
      findings.local[indexOf(row.id)] = known->digests;
    } else {
      findings.local[indexOf(row.id)] = digestsOfFile(path);
    }
  }
  findings.fetch = fetchHttpText(request.manifestUrl, request.timeouts, cancel);
  findings.manifest = manifestText(findings.fetch.body);
  completeReusedDigests(request, findings);
  if (!request.publicKey.empty() && findings.manifest.find("反挂") != std::string::npos) {
    HttpTextResult signature =
        fetchHttpText(signatureUrlOf(request.manifestUrl), request.timeouts, cancel);
    // The signature covers the bytes as served, before any conversion.
    findings.verdict = judgeManifest(request.publicKey, request.acceptedSerial, findings.fetch.body,
                                     findings.manifest, signature, unixSecondsNow());
  }
  findings.fetch.body.clear();  // the text above is what counts
  return findings;
}

void applyCheck(Globals& g, const CheckFindings& findings, bool tellDownload) {
  for (const PackageInfo& row : packageTable()) {
    PackageState& state = g.package(row.id);
    const FileDigests& local = findings.local[indexOf(row.id)];
    state.localMd5 = local.md5;
    state.localSha256 = local.sha256;
    state.localSize = local.size;
  }
  setInstallButtons(g);
  if (findings.verdict.refusal != ManifestRefusal::None) {
    g.checkFailure = refuseManifest(g, findings.verdict);
  } else {
    g.checkFailure = applyManifest(g, findings.manifest, findings.fetch);
    recordSerial(g, findings.verdict);
  }
  if (tellDownload) reportFinishedDownload(g);
}

void checkForUpdates(Globals& g) {
  setStatusLine(g, "");
  applyCheck(g, runCheck(checkRequestFor(g)));
}

void startUpdateCheck(Globals& g, bool again) {
  if (g.checkRunning) {
    g.checkAgain = g.checkAgain || again;
    return;
  }
  if (g.checkThread.joinable()) g.checkThread.join();
  g.checkRunning = true;
  g.checkCancel = false;
  setStatusLine(g, "");
  g.window->setEnabled(control::按钮_检查更新, false);
  g.checkThread = std::thread([&g, request = checkRequestFor(g)] {
    CheckFindings findings = runCheck(request, &g.checkCancel);
    if (g.checkCancel) return;
    g.window->postToWindowThread([&g, findings = std::move(findings)] {
      if (!g.checkRunning) return;  // stopped meanwhile
      if (g.checkThread.joinable()) g.checkThread.join();
      g.checkRunning = false;
      // Findings from before the last download ended are stale for it: the next check tells.
      applyCheck(g, findings, !g.checkAgain);
      g.window->setEnabled(control::按钮_检查更新, true);
      if (g.checkAgain) {
        g.checkAgain = false;
        startUpdateCheck(g);
      }
    });
  });
}

void stopUpdateCheck(Globals& g) {
  g.checkCancel = true;
  if (g.checkThread.joinable()) g.checkThread.join();
  g.checkRunning = false;
  g.checkAgain = false;
}

std::string manifestText(std::string_view body) {
  size_t zero = body.find('\0');
  if (zero != std::string_view::npos) body = body.substr(0, zero);
  return manifestBodyToUtf8(body);
}

void setStatusLine(Globals& g, const std::string& text, std::optional<PackageId> about) {
  g.window->setText(control::透明标签1, text);
  g.statusLinePackage = text.empty() ? std::nullopt : about;
}

void resetProgressDisplay(Globals& g) {
  Window& window = *g.window;
  window.setText(control::标签_提示内容, "");
  window.setVisible(control::标签_提示内容, false);
  window.setVisible(control::标签_每秒速度, false);
  window.setVisible(control::进度条1, false);
  window.setProgress(control::进度条1, 0);
}
