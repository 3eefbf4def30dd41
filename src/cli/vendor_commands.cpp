// The vendor's commands: keygen (a minisign key pair), sign (a manifest's .minisig) and
// publish (a site's manifest filled with each archive's MD5, SHA256 and Size, its Serial
// raised, its Expires set, then signed). They touch no program folder and take no lock.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command_table.h"
#include "commands.h"
#include "exit_status.h"
#include "operator_options.h"
#include "platform/decimal.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/md5.h"
#include "platform/replace_file.h"
#include "shell/packages.h"
#include "signing/key_files.h"
#include "signing/signature_check.h"
#include "signing/signer.h"
#include "site_manifest.h"
#include "update/manifest_fields.h"
#include "update/manifest_trust.h"

namespace {

// A failure of a vendor's command: told on standard error, with its exit status.
int fail(const char* command, const std::string& text, int status) {
  std::fprintf(stderr, "downloader-cli %s: %s\n", command, text.c_str());
  return status;
}

int64_t unixSecondsNow() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// A whole regular file, or why not.
struct FileText {
  std::string bytes;
  std::string error;  // "PATH: cannot be read" when it could not
};

FileText readFile(const std::string& path) {
  FileText file;
  mode_t permissions = 0;
  file.bytes = readRegularFile(path, &permissions);
  if (permissions == 0 && file.bytes.empty()) file.error = path + ": not a readable file";
  return file;
}

// The secret key of --secret-key, or the failure already told (its exit status).
struct LoadedKey {
  std::optional<SecretKey> key;
  int status = 0;
};

LoadedKey loadSecretKey(const char* command, const std::string& path) {
  LoadedKey loaded;
  FileText file = readFile(path);
  if (!file.error.empty()) {
    loaded.status = fail(command, file.error, kExitLocalFile);
    return loaded;
  }
  Parsed<SecretKey> parsed = parseSecretKeyFile(file.bytes);
  wipeText(file.bytes);
  if (!parsed.value) {
    loaded.status = fail(command, path + ": " + parsed.error, kExitOther);
    return loaded;
  }
  loaded.key = std::move(parsed.value);
  return loaded;
}

// The signature file of `bytes`, checked against the key's own public half before it is
// written anywhere.
std::optional<std::string> signedBy(const SecretKey& key, const std::string& bytes,
                                    const std::string& trustedComment) {
  std::optional<std::string> signature = signFile(key, bytes, trustedComment);
  if (!signature) return std::nullopt;
  const PublicKey own{key.keyId, key.publicKey};
  if (checkSignature(own, bytes, *signature).verdict != SignatureVerdict::Valid) {
    return std::nullopt;
  }
  return signature;
}

std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int keygen(const OperatorOptions& options) {
  if (options.publicKeyFile.empty() || options.secretKeyFile.empty()) {
    return commandUsageError("keygen", "--public-key FILE and --secret-key FILE are needed");
  }
  std::optional<KeyPair> pair = generateKeyPair();
  if (!pair) return fail("keygen", "no key pair: the random generator failed", kExitOther);
  KeyFilesResult written = writeKeyFiles(*pair, options.publicKeyFile, options.secretKeyFile);
  if (!written.written) return fail("keygen", written.error, kExitLocalFile);
  std::printf(
      "public key:  %s\nsecret key:  %s (no password; readable by its owner alone: keep it "
      "off the web server)\nkey id:      %s\nEach operator's Config.ini:\n[Vendor]\n"
      "PublicKey=%s\n",
      options.publicKeyFile.c_str(), options.secretKeyFile.c_str(),
      keyIdText(pair->publicKey.keyId).c_str(), publicKeyLine(pair->publicKey).c_str());
  return kExitComplete;
}

int sign(const OperatorOptions& options) {
  if (options.target.empty()) return commandUsageError("sign", "a MANIFEST to sign is needed");
  if (options.secretKeyFile.empty()) return commandUsageError("sign", "--secret-key is needed");
  LoadedKey loaded = loadSecretKey("sign", options.secretKeyFile);
  if (!loaded.key) return loaded.status;
  FileText manifest = readFile(options.target);
  if (!manifest.error.empty()) return fail("sign", manifest.error, kExitLocalFile);
  const std::string comment = options.trustedComment.value_or(defaultTrustedComment(
      unixSecondsNow(), baseName(options.target), SignatureAlgorithm::Prehashed));
  if (comment.find_first_of("\r\n") != std::string::npos || comment.size() > kTrustedCommentLimit) {
    return commandUsageError("sign", "--trusted-comment is one line of at most 8192 bytes");
  }
  std::optional<std::string> signature = signedBy(*loaded.key, manifest.bytes, comment);
  if (!signature) return fail("sign", "signing failed", kExitOther);
  const std::string path = options.target + ".minisig";
  if (!replaceFileContents(path, *signature)) {
    return fail("sign", path + ": cannot be written", kExitLocalFile);
  }
  std::printf("%s\n", path.c_str());
  return kExitComplete;
}

// One package of the site: where its archive lies and what it is.
struct SiteArchive {
  const PackageInfo* package = nullptr;
  std::string path;
  FileDigests digests;
};

// The archives the manifest names, or the failure already told.
std::optional<std::vector<SiteArchive>> siteArchives(const std::string& site,
                                                     const std::string& text, int& status) {
  std::vector<SiteArchive> archives;
  for (const PackageInfo& package : packageTable()) {
    const std::string url = iniReadText(text, package.section, "URL", "");
    std::optional<std::string> path = sitePathOf(site, url);
    struct stat info {};
    std::string problem;
    if (url.empty()) {
      problem = std::string("the manifest names no URL under [") + package.section + "]";
    } else if (!path) {
      problem = "the URL " + url + " names no file below " + site;
    } else if (::stat(path->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      problem = "the URL " + url + " names " + *path + ", which is no file";
    }
    if (!problem.empty()) {
      status = fail("publish", problem, kExitLocalFile);
      return std::nullopt;
    }
    archives.push_back({&package, *path, digestsOfFile(*path)});
  }
  return archives;
}

int publish(const OperatorOptions& options) {
  if (options.target.empty()) return commandUsageError("publish", "a SITE_DIR is needed");
  if (options.secretKeyFile.empty()) {
    return commandUsageError("publish", "--secret-key is needed");
  }
  LoadedKey loaded = loadSecretKey("publish", options.secretKeyFile);
  if (!loaded.key) return loaded.status;
  const std::string manifestPath = options.target + kSiteManifestPath;
  FileText manifest = readFile(manifestPath);
  if (!manifest.error.empty()) return fail("publish", manifest.error, kExitLocalFile);
  std::optional<ManifestSource> source = decodeManifestSource(manifest.bytes);
  if (!source) {
    return fail("publish", manifestPath + ": neither UTF-8 nor GBK", kExitOther);
  }
  int status = 0;
  std::optional<std::vector<SiteArchive>> archives =
      siteArchives(options.target, source->text, status);
  if (!archives) return status;
  const std::string serialText = iniReadText(source->text, kManifestSection, kSerialKey, "");
  std::optional<int64_t> serial = serialText.empty() ? 0 : parseDecimal(serialText);
  if (!serial || *serial == INT64_MAX) {
    return fail("publish", manifestPath + ": Serial=" + serialText + " is not a counter",
                kExitOther);
  }

  std::string& text = source->text;
  for (const SiteArchive& archive : *archives) {
    const char* section = archive.package->section;
    text = iniWriteText(text, section, "MD5", archive.digests.md5);
    text = iniWriteText(text, section, kSha256Key, archive.digests.sha256);
    text = iniWriteText(text, section, kSizeKey, std::to_string(archive.digests.size));
  }
  text = iniWriteText(text, kManifestSection, kSerialKey, std::to_string(*serial + 1));
  std::string expires = "none";
  if (options.expiresDays > 0) {
    expires = isoUtcText(unixSecondsNow() + int64_t{options.expiresDays} * 86400);
    text = iniWriteText(text, kManifestSection, kExpiresKey, expires);
  } else if (!iniReadText(text, kManifestSection, kExpiresKey, "").empty()) {
    text = iniWriteText(text, kManifestSection, kExpiresKey, "");  // an old date would stale it
  }
  const std::string bytes = encodeManifestSource(*source);
  std::optional<std::string> signature =
      signedBy(*loaded.key, bytes,
               defaultTrustedComment(unixSecondsNow(), baseName(manifestPath),
                                     SignatureAlgorithm::Prehashed));
  if (!signature) return fail("publish", "signing failed", kExitOther);
  // The manifest first, then its signature: a client between the two refuses, never trusts.
  const std::string signaturePath = signatureUrlOf(manifestPath);
  if (!replaceFileContents(manifestPath, bytes)) {
    return fail("publish", manifestPath + ": cannot be written", kExitLocalFile);
  }
  if (!replaceFileContents(signaturePath, *signature)) {
    return fail("publish", signaturePath + ": cannot be written", kExitLocalFile);
  }
  for (const SiteArchive& archive : *archives) {
    std::printf("%s: %s, %lld bytes, SHA256 %s\n", archive.package->name, archive.path.c_str(),
                static_cast<long long>(archive.digests.size), archive.digests.sha256.c_str());
  }
  std::printf("Serial: %lld\nExpires: %s\nsigned: %s (key %s)\n",
              static_cast<long long>(*serial + 1), expires.c_str(), signaturePath.c_str(),
              keyIdText(loaded.key->keyId).c_str());
  return kExitComplete;
}

int runVendorCommand(const char* command, PackageCount target,
                     const std::vector<std::string>& arguments,
                     int (*run)(const OperatorOptions&)) {
  ParsedOptions parsed = parseOperatorOptions(command, target, arguments);
  if (!parsed.error.empty()) return commandUsageError(command, parsed.error);
  return run(parsed.options);
}

}  // namespace

int runKeygenCommand(const std::vector<std::string>& arguments) {
  return runVendorCommand("keygen", PackageCount::None, arguments, keygen);
}
int runSignCommand(const std::vector<std::string>& arguments) {
  return runVendorCommand("sign", PackageCount::Target, arguments, sign);
}
int runPublishCommand(const std::vector<std::string>& arguments) {
  return runVendorCommand("publish", PackageCount::Target, arguments, publish);
}
