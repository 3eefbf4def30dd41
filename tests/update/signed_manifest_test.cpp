// The update check with the vendor's key: what it accepts, what it refuses and what a refusal
// leaves (status line, marks, package table, the Serial in Config.ini); SHA256 and Size of the
// local archives; the dates Expires= may hold.
#include <gtest/gtest.h>

#include "nginx_server.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/md5.h"
#include "recording_window.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "signing/signer.h"
#include "temp_dir.h"
#include "update/manifest_fields.h"
#include "update/settings.h"
#include "update/update_check.h"

namespace {

const std::string kArchive = "server archive";

// A manifest whose server entry describes kArchive; `release` is its [Manifest] section body.
std::string manifest(const std::string& release, const std::string& serverExtra = "") {
  std::string text =
      "[三端]\r\nURL=http://h/a.zip\r\nMD5=" + md5OfBytes(kArchive) + "\r\n" + serverExtra;
  for (const char* section : {"功能", "反挂", "其他"}) {
    text += std::string("[") + section + "]\r\nURL=http://h/" + section +
            "\r\nMD5=" + md5OfBytes(section) + "\r\n";
  }
  return text + "[Manifest]\r\n" + release;
}

class SignedManifestCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    initGlobals(globals);
    globals->window = &window;
    globals->programDir = program.path() + "/";
    globals->manifestUrl = server.url("/xiazaiqi/xiazai.txt");
    ASSERT_TRUE(vendor && stranger);
  }
  void TearDown() override { freeGlobals(globals); }

  // Serves `body` with a signature by `key` (none when null).
  void publish(const std::string& body, const KeyPair* key) {
    site.write("xiazaiqi/xiazai.txt", body);
    deleteFile(site.file("xiazaiqi/xiazai.txt.minisig"));
    if (key != nullptr) {
      site.write("xiazaiqi/xiazai.txt.minisig", *signFile(key->secretKey, body, "release"));
    }
  }
  std::string savedSerial() {
    return iniRead(program.file("Config.ini"), kVendorSection, kAcceptedSerialKey, "none");
  }

  TempDir program;
  TempDir site;
  NginxServer server{site.path()};
  RecordingWindow window;
  std::unique_ptr<Globals> globals;
  std::optional<KeyPair> vendor = generateKeyPair();
  std::optional<KeyPair> stranger = generateKeyPair();
};

}  // namespace

TEST_F(SignedManifestCheck, AcceptsTheVendorsManifestAndRefusesEveryOther) {
  program.write("Config.ini",
                "[Vendor]\r\nPublicKey=" + publicKeyLine(vendor->publicKey) + "\r\nSerial=4\r\n");
  applyVendorTrust(*globals);
  EXPECT_EQ(globals->acceptedSerial, 4);
  const std::string good = manifest("Serial=5\r\nExpires=2999-01-01T00:00:00Z\r\n");
  publish(good, &*vendor);
  checkForUpdates(*globals);
  EXPECT_EQ(window.texts[control::透明标签1], "");
  EXPECT_FALSE(globals->checkFailure);
  EXPECT_EQ(window.texts[control::标签1], "发现新版");
  EXPECT_EQ(savedSerial(), "5");

  struct Refusal {
    const char* what;
    std::string body;
    const KeyPair* key;
    const char* text;
    const char* reason;
  };
  const Refusal refusals[] = {
      {"changed after signing", "", nullptr, "远程配置签名无效", "does not match"},
      {"another key", good, &*stranger, "远程配置签名无效", "not by the vendor's key"},
      {"no signature", good, nullptr, "远程配置签名无效", "HTTP 404"},
      {"older", manifest("Serial=4\r\n"), &*vendor, "远程配置版本回退", "lower than 5"},
      {"no serial", manifest(""), &*vendor, "远程配置版本回退", "lower than 5"},
      {"expired", manifest("Serial=9\r\nExpires=2001-02-03\r\n"), &*vendor, "远程配置已过期",
       "2001-02-04T00:00:00Z"},
      {"no date", manifest("Serial=9\r\nExpires=soon\r\n"), &*vendor, "远程配置已过期", "soon"},
  };
  for (const Refusal& refusal : refusals) {
    if (refusal.key == nullptr && refusal.body.empty()) {
      publish(good, &*vendor);  // then the manifest alone changes: a new archive, same signature
      site.write("xiazaiqi/xiazai.txt", manifest("Serial=6\r\n", "SHA256=" + std::string(64, 'a')));
    } else {
      publish(refusal.body, refusal.key);
    }
    program.write("三端.zip", kArchive);  // would turn the mark to 最新版 if applied
    window.calls.clear();
    checkForUpdates(*globals);
    EXPECT_EQ(window.texts[control::透明标签1], refusal.text) << refusal.what;
    ASSERT_TRUE(globals->checkFailure) << refusal.what;
    EXPECT_EQ(globals->checkFailure->kind, FailureKind::Security) << refusal.what;
    EXPECT_NE(globals->checkFailure->reason.find(refusal.reason), std::string::npos)
        << refusal.what << ": " << globals->checkFailure->reason;
    for (const std::string& call : window.calls) {
      EXPECT_EQ(call.find(" 标签1 "), std::string::npos) << refusal.what << ": " << call;
    }
    EXPECT_EQ(globals->package(PackageId::Server).manifest.sha256, "") << refusal.what;
    EXPECT_EQ(savedSerial(), "5") << refusal.what;
    deleteFile(program.file("三端.zip"));
  }

  // A key that is not one refuses every manifest; the same Serial again is accepted.
  globals->vendorPublicKey = "not a key";
  publish(good, &*vendor);
  checkForUpdates(*globals);
  EXPECT_EQ(window.texts[control::透明标签1], "远程配置签名无效");
  EXPECT_NE(globals->checkFailure->reason.find("PublicKey="), std::string::npos);
  globals->vendorPublicKey = publicKeyLine(vendor->publicKey);
  checkForUpdates(*globals);
  EXPECT_FALSE(globals->checkFailure);

  // Where the program folder is not held, a higher Serial is remembered, not written.
  globals->recordSerial = false;
  publish(manifest("Serial=7\r\n"), &*vendor);
  checkForUpdates(*globals);
  EXPECT_EQ(globals->acceptedSerial, 7);
  EXPECT_EQ(savedSerial(), "5");
}

TEST_F(SignedManifestCheck, WithoutAKeyNothingIsVerifiedButSha256AndSizeStillCount) {
  program.write("三端.zip", kArchive);
  const std::string sha = sha256OfBytes(kArchive);
  const std::string size = std::to_string(kArchive.size());
  struct Case {
    std::string extra;
    const char* mark;
  };
  const Case cases[] = {
      {"", "最新版"},
      {"SHA256=" + sha + "\r\nSize=" + size + "\r\n", "最新版"},
      {"SHA256=" + std::string(64, '0') + "\r\n", "发现新版"},
      {"SHA256=" + sha + "\r\nSize=1\r\n", "发现新版"},
      {"Size=many\r\n", "发现新版"},
  };
  for (const Case& c : cases) {
    // An unsigned, expired manifest with a low Serial is taken as it comes.
    publish(manifest("Serial=1\r\nExpires=2000-01-01\r\n", c.extra), nullptr);
    checkForUpdates(*globals);
    EXPECT_EQ(window.texts[control::标签1], c.mark) << c.extra;
    EXPECT_EQ(window.texts[control::透明标签1], "") << c.extra;
  }
  EXPECT_FALSE(fileExists(program.file("Config.ini")));
  EXPECT_EQ(globals->package(PackageId::Server).localSha256, sha);
  EXPECT_EQ(globals->package(PackageId::Server).localSize, 14);
}

TEST(ManifestFields, ExpiresDatesAndSizes) {
  const int64_t day = 86400;
  const int64_t may1 = 1746057600;                // 2025-05-01T00:00:00Z
  EXPECT_EQ(expiryOf("2025-05-01"), may1 + day);  // the whole day counts
  EXPECT_EQ(expiryOf("2025-05-01T00:00:00Z"), may1);
  EXPECT_EQ(expiryOf("2025-05-01T08:00:00+08:00"), may1);
  EXPECT_EQ(expiryOf("2025-05-01 01:30-0130"), may1 + 3 * 3600);
  EXPECT_EQ(expiryOf("2025-05-01T00:00:59.999"), may1 + 59);
  EXPECT_EQ(expiryOf("2024-02-29T12:00Z"), 1709208000);
  for (const char* bad : {"", "2025-5-1", "2025-02-29", "2025-05-01T24:00Z", "2025-05-01T10",
                          "2025-05-01Z", "2025-05-01T10:00:00+8", "2025-05-01T10:00:00.Z",
                          "01-05-2025", "2025-05-01T10:00:00 junk"}) {
    EXPECT_FALSE(expiryOf(bad)) << bad;
  }
  EXPECT_EQ(isoUtcText(may1 + 3661), "2025-05-01T01:01:01Z");
  EXPECT_EQ(expiryOf(isoUtcText(1234567890)), 1234567890);
  EXPECT_EQ(archiveSizeOf(""), std::nullopt);
  EXPECT_EQ(archiveSizeOf("1048576"), 1048576);
  EXPECT_EQ(archiveSizeOf("-5"), -1);
}
