// Signed manifests end to end against a real nginx vendor site: keygen and publish (or the
// minisign program) make what operators accept; a manifest changed after signing, signed by
// another key, unsigned, older than one accepted before, or past its Expires is refused with
// its text and exit status 7, and nothing is downloaded or changed.
#include <gtest/gtest.h>

#include "archive_tools.h"
#include "cli_run.h"
#include "demo_site.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/md5.h"
#include "temp_dir.h"

namespace {

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The vendor: a site, a key pair made by keygen, and an operator's program folder trusting it.
class SignedSite : public ::testing::Test {
 protected:
  void SetUp() override {
    CliRun made = cli("keygen --public-key " + shellQuote(keys.file("vendor.pub")) +
                          " --secret-key=" + shellQuote(keys.file("vendor.key")),
                      scratch);
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_TRUE(has(made.out, "PublicKey=" + publicKey())) << made.out;
    trust(publicKey());
  }

  std::string publicKey() const {
    const std::string file = readWholeFile(keys.file("vendor.pub"));
    const size_t second = file.find('\n') + 1;
    return file.substr(second, file.find('\n', second) - second);
  }
  void trust(const std::string& key) const {
    program.write("Config.ini",
                  "[Vendor]\r\nManifest=" + site.manifestUrl() + "\r\nPublicKey=" + key + "\r\n");
  }
  CliRun publish(const std::string& options = "--expires 30") const {
    return cli("publish " + shellQuote(site.file("")) + " --secret-key " +
                   shellQuote(keys.file("vendor.key")) + " " + options,
               scratch);
  }
  CliRun run(const std::string& command) const {
    return cli(command + " --dir " + shellQuote(program.path()), scratch);
  }
  std::string manifestPath() const { return site.file("xiazaiqi/xiazai.txt"); }
  std::string savedSerial() const {
    return iniRead(program.file("Config.ini"), "Vendor", "Serial", "none");
  }

  DemoSite site;
  TempDir keys;
  TempDir program;
  TempDir scratch;
};

}  // namespace

TEST_F(SignedSite, ManifestsPublishedHereOrSignedByMinisignAreAccepted) {
  const std::string before = readWholeFile(manifestPath());
  CliRun published = publish();
  ASSERT_EQ(published.status, 0) << published.err;
  EXPECT_TRUE(has(published.out, "Serial: 1\n")) << published.out;
  // The manifest stays GBK and gains each archive's SHA256 and Size, a Serial and an Expires.
  const std::string after = readWholeFile(manifestPath());
  EXPECT_FALSE(isValidUtf8(after));
  const std::string text = gbkToUtf8(after);
  const FileDigests server = digestsOfFile(site.archive("server.zip"));
  EXPECT_EQ(iniReadText(text, "三端", "MD5", ""), server.md5);
  EXPECT_EQ(iniReadText(text, "三端", "SHA256", ""), server.sha256);
  EXPECT_EQ(iniReadText(text, "三端", "Size", ""), std::to_string(server.size));
  EXPECT_EQ(iniReadText(text, "Manifest", "Serial", ""), "1");
  EXPECT_EQ(iniReadText(text, "Manifest", "Expires", "").size(), 20u);
  EXPECT_TRUE(has(text, gbkToUtf8(before).substr(0, 40)));

  // check records the Serial it accepted; a download from the signed manifest goes through.
  EXPECT_EQ(run("check --quiet").status, 100);
  EXPECT_EQ(savedSerial(), "1");
  CliRun downloaded = run("download 反挂");
  EXPECT_EQ(downloaded.status, 0) << downloaded.err;
  EXPECT_EQ(md5OfFile(program.file("反挂.zip")), md5OfFile(site.archive("anticheat.zip")));
  // Ours verify with minisign too.
  CommandResult verified = runCommand("minisign -V -p " + shellQuote(keys.file("vendor.pub")) +
                                      " -m " + shellQuote(manifestPath()));
  EXPECT_EQ(verified.status, 0) << verified.output;

  // A signature made by the minisign program, with its own key, is as good.
  CommandResult made = runCommand("minisign -G -W -p " + shellQuote(keys.file("m.pub")) + " -s " +
                                  shellQuote(keys.file("m.key")));
  ASSERT_EQ(made.status, 0) << made.output;
  CommandResult signedByMinisign = runCommand(
      "minisign -S -W -s " + shellQuote(keys.file("m.key")) + " -m " + shellQuote(manifestPath()));
  ASSERT_EQ(signedByMinisign.status, 0) << signedByMinisign.output;
  const std::string minisignKey = readWholeFile(keys.file("m.pub"));
  trust(minisignKey.substr(minisignKey.find('\n') + 1, 56));
  CliRun check = run("check");
  EXPECT_EQ(check.status, 100) << check.err;
  EXPECT_TRUE(has(check.out, "反挂: 最新版")) << check.out;

  // The vendor's commands refuse what they cannot stand behind.
  const std::string site2 = scratch.write("bad/xiazaiqi/xiazai.txt",
                                          "[三端]\r\nURL=http://h/../../etc/passwd\r\n[反挂]\r\n");
  CliRun outside = cli("publish " + shellQuote(scratch.file("bad")) + " --secret-key " +
                           shellQuote(keys.file("vendor.key")),
                       scratch);
  EXPECT_EQ(outside.status, 5);
  EXPECT_TRUE(has(outside.err, "names no file below")) << outside.err;
  CommandResult password =
      runCommand("printf 'pw\\npw\\n' | minisign -G -p " + shellQuote(keys.file("pw.pub")) +
                 " -s " + shellQuote(keys.file("pw.key")));
  ASSERT_EQ(password.status, 0) << password.output;
  CliRun withPassword = cli(
      "sign " + shellQuote(site2) + " --secret-key " + shellQuote(keys.file("pw.key")), scratch);
  EXPECT_EQ(withPassword.status, 1);
  EXPECT_TRUE(has(withPassword.err, "minisign -C -W")) << withPassword.err;
  EXPECT_FALSE(fileExists(site2 + ".minisig"));
  EXPECT_EQ(cli("keygen --public-key x.pub", scratch).status, 2);
}

TEST_F(SignedSite, RefusedManifestsAreToldWithExitSevenAndChangeNothing) {
  ASSERT_EQ(publish().status, 0);
  const std::string oldManifest = readWholeFile(manifestPath());
  const std::string oldSignature = readWholeFile(manifestPath() + ".minisig");
  ASSERT_EQ(run("download 反挂").status, 0);
  const std::string installed = md5OfFile(program.file("反挂.zip"));
  // The vendor's next release: a new anti-cheat archive, Serial 2, accepted and recorded.
  pythonZip(site.archive("anticheat.zip"), "z.writestr('RunGate/RunGate.exe', 'v2')");
  ASSERT_EQ(publish().status, 0);
  const std::string goodManifest = readWholeFile(manifestPath());
  const std::string goodSignature = readWholeFile(manifestPath() + ".minisig");
  ASSERT_EQ(run("check --quiet").status, 100);
  ASSERT_EQ(savedSerial(), "2");
  ASSERT_EQ(cli("keygen --public-key " + shellQuote(keys.file("other.pub")) + " --secret-key " +
                    shellQuote(keys.file("other.key")),
                scratch)
                .status,
            0);

  struct Case {
    const char* what;
    std::function<void()> serve;
    const char* text;
    const char* reason;
  };
  auto sign = [&](const char* key) {
    ASSERT_EQ(
        cli("sign " + shellQuote(manifestPath()) + " --secret-key " + shellQuote(keys.file(key)),
            scratch)
            .status,
        0);
  };
  const Case cases[] = {
      {"changed after signing",
       [&] {
         std::string text = gbkToUtf8(goodManifest);
         text.replace(text.find("/packages/anticheat.zip"), 23, "/packages/server.zip");
         writeWholeFile(manifestPath(), utf8ToGbk(text));
       },
       "远程配置签名无效", "does not match"},
      {"signed by another key", [&] { sign("other.key"); }, "远程配置签名无效",
       "not by the vendor's key"},
      {"no signature", [&] { deleteFile(manifestPath() + ".minisig"); }, "远程配置签名无效",
       "HTTP 404"},
      {"last month's signed manifest",
       [&] {
         writeWholeFile(manifestPath(), oldManifest);
         writeWholeFile(manifestPath() + ".minisig", oldSignature);
       },
       "远程配置版本回退", "Serial 1 is lower than 2"},
      {"past its Expires",
       [&] {
         std::string text = gbkToUtf8(goodManifest);
         text = iniWriteText(text, "Manifest", "Expires", "2001-02-03T04:05:06Z");
         writeWholeFile(manifestPath(), utf8ToGbk(text));
         sign("vendor.key");
       },
       "远程配置已过期", "expired at 2001-02-03T04:05:06Z"},
  };
  for (const Case& c : cases) {
    writeWholeFile(manifestPath(), goodManifest);
    writeWholeFile(manifestPath() + ".minisig", goodSignature);
    c.serve();
    site.clearAccessLog();
    for (const char* command : {"update --json", "download 反挂", "check"}) {
      CliRun refused = run(command);
      EXPECT_EQ(refused.status, 7) << c.what << ", " << command << ": " << refused.err;
      EXPECT_TRUE(has(refused.err, site.manifestUrl() + ": " + c.text + ": ")) << refused.err;
      EXPECT_TRUE(has(refused.err, c.reason)) << c.what << ": " << refused.err;
      if (std::string(command) == "update --json") {
        EXPECT_TRUE(has(refused.out, "\"class\":\"security\"")) << refused.out;
        EXPECT_TRUE(has(refused.out, "\"exit\":7")) << refused.out;
      }
    }
    EXPECT_FALSE(has(site.accessLog(), "/packages/")) << c.what << "\n" << site.accessLog();
    EXPECT_EQ(md5OfFile(program.file("反挂.zip")), installed) << c.what;
    EXPECT_EQ(savedSerial(), "2") << c.what;
  }

  // The good manifest again: the new archive comes.
  writeWholeFile(manifestPath(), goodManifest);
  writeWholeFile(manifestPath() + ".minisig", goodSignature);
  EXPECT_EQ(run("download 反挂").status, 0);
  EXPECT_EQ(md5OfFile(program.file("反挂.zip")), md5OfFile(site.archive("anticheat.zip")));
}

// The manifest vouches for more than an MD5: an archive whose SHA-256 or size is not the
// signed one never takes the archive's name, and a server announcing more bytes than the
// signed Size is not read.
TEST_F(SignedSite, OnlyTheArchiveWhoseEveryDigestAndSizeMatchIsKept) {
  ASSERT_EQ(publish().status, 0);
  ASSERT_EQ(run("download 反挂").status, 0);
  const std::string kept = md5OfFile(program.file("反挂.zip"));
  pythonZip(site.archive("anticheat.zip"), "z.writestr('反挂/v2.txt', 'second release')");
  ASSERT_EQ(publish().status, 0);
  const std::string published = readWholeFile(manifestPath());
  const FileDigests release = digestsOfFile(site.archive("anticheat.zip"));
  auto signWith = [&](const std::string& from, const std::string& to) {
    std::string text = published;
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    writeWholeFile(manifestPath(), text);
    CliRun signedAgain = cli("sign " + shellQuote(manifestPath()) + " --secret-key " +
                                 shellQuote(keys.file("vendor.key")),
                             scratch);
    ASSERT_EQ(signedAgain.status, 0) << signedAgain.err;
  };
  struct Case {
    const char* what;
    std::string from, to, told;
  };
  std::string otherSha = release.sha256;
  otherSha[0] = otherSha[0] == '0' ? '1' : '0';
  const std::string size = "Size=" + std::to_string(release.size) + "\r\n";
  const Case cases[] = {
      {"SHA-256 differs, MD5 matches", release.sha256, otherSha, "反挂.zip SHA256与远程配置不符"},
      {"the server sends more than Size", size,
       "Size=" + std::to_string(release.size - 100) + "\r\n", "文件大小与预期不符"},
  };
  for (const Case& c : cases) {
    signWith(c.from, c.to);
    CliRun refused = run("download 反挂");
    EXPECT_EQ(refused.status, 6) << c.what << ": " << refused.err;
    EXPECT_TRUE(has(refused.err, c.told)) << c.what << ": " << refused.err;
    EXPECT_EQ(md5OfFile(program.file("反挂.zip")), kept) << c.what;
    EXPECT_FALSE(fileExists(program.file("反挂.zip.part"))) << c.what;
    EXPECT_FALSE(fileExists(program.file("反挂.zip.part.state"))) << c.what;
  }
  writeWholeFile(manifestPath(), published);
  ASSERT_EQ(cli("sign " + shellQuote(manifestPath()) + " --secret-key " +
                    shellQuote(keys.file("vendor.key")),
                scratch)
                .status,
            0);
  EXPECT_EQ(run("download 反挂").status, 0);
  EXPECT_EQ(md5OfFile(program.file("反挂.zip")), release.md5);
}
