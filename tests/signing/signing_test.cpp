// minisign's key and signature files: our own round trip, what a damaged or foreign file gets,
// and signatures and keys exchanged with the minisign program both ways.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "demo_site.h"
#include "platform/files.h"
#include "signing/key_files.h"
#include "signing/signature_check.h"
#include "signing/signer.h"
#include "temp_dir.h"

namespace {

// The line of `text` at `index` (0-based), without its break.
std::string lineOf(const std::string& text, size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) start = text.find('\n', start) + 1;
  return text.substr(start, text.find('\n', start) - start);
}

std::string withLine(const std::string& text, size_t index, const std::string& line) {
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) start = text.find('\n', start) + 1;
  return text.substr(0, start) + line + text.substr(text.find('\n', start));
}

// The base64 line with one of its characters changed, so that the bytes it holds change.
std::string flipped(std::string line, size_t at) {
  line[at] = line[at] == 'A' ? 'B' : 'A';
  return line;
}

const std::string kManifest = "[三端]\r\nURL=http://h/a.zip\r\nMD5=0123\r\n[反挂]\r\n";

bool minisignInstalled() {
  return fileExists("/usr/bin/minisign");
}

}  // namespace

TEST(MinisignFiles, KeysRoundTripAndDamagedFilesAreRefused) {
  std::optional<KeyPair> pair = generateKeyPair();
  ASSERT_TRUE(pair);
  const std::string line = publicKeyLine(pair->publicKey);
  EXPECT_EQ(line.size(), 56u);
  for (const std::string& text : {line, "  " + line + "\r\n", publicKeyFileText(pair->publicKey)}) {
    Parsed<PublicKey> parsed = parsePublicKey(text);
    ASSERT_TRUE(parsed.value) << text << parsed.error;
    EXPECT_EQ(parsed.value->keyId, pair->publicKey.keyId);
    EXPECT_EQ(parsed.value->key, pair->publicKey.key);
  }
  EXPECT_EQ(keyIdText(pair->publicKey.keyId).size(), 16u);
  EXPECT_NE(publicKeyFileText(pair->publicKey).find(keyIdText(pair->publicKey.keyId)),
            std::string::npos);
  for (const std::string& bad :
       {std::string(), line.substr(1), line + "=", "RU" + line.substr(2), line + "\n" + line}) {
    EXPECT_FALSE(parsePublicKey(bad).value) << bad;
  }

  std::string secret = secretKeyFileText(pair->secretKey);
  Parsed<SecretKey> again = parseSecretKeyFile(secret);
  ASSERT_TRUE(again.value) << again.error;
  EXPECT_EQ(again.value->keyId, pair->secretKey.keyId);
  EXPECT_EQ(again.value->publicKey, pair->publicKey.key);
  // A key with a password (KDF "Sc"), a damaged public half, and a key of another kind.
  const std::string body = lineOf(secret, 1);
  std::string encrypted = body;
  encrypted.replace(0, 8, "RWRTY0Iy");  // "Ed", "Sc" (scrypt), "B2"
  Parsed<SecretKey> refused = parseSecretKeyFile(withLine(secret, 1, encrypted));
  EXPECT_FALSE(refused.value);
  EXPECT_NE(refused.error.find("password"), std::string::npos) << refused.error;
  refused = parseSecretKeyFile(withLine(secret, 1, flipped(body, 140)));
  EXPECT_NE(refused.error.find("damaged"), std::string::npos) << refused.error;
  EXPECT_FALSE(parseSecretKeyFile(withLine(secret, 1, "RU" + body.substr(2))).value);
  EXPECT_FALSE(parseSecretKeyFile(lineOf(secret, 1)).value);
  wipeText(secret);
  EXPECT_TRUE(secret.empty());
}

TEST(MinisignFiles, SignaturesVerifyOnlyForTheirFileKeyAndComment) {
  std::optional<KeyPair> pair = generateKeyPair();
  std::optional<KeyPair> other = generateKeyPair();
  ASSERT_TRUE(pair && other);
  for (SignatureAlgorithm algorithm : {SignatureAlgorithm::Prehashed, SignatureAlgorithm::Legacy}) {
    const std::string comment = defaultTrustedComment(1700000000, "xiazai.txt", algorithm);
    std::optional<std::string> signature = signFile(pair->secretKey, kManifest, comment, algorithm);
    ASSERT_TRUE(signature);
    SignatureCheck check = checkSignature(pair->publicKey, kManifest, *signature);
    EXPECT_EQ(check.verdict, SignatureVerdict::Valid) << check.reason;
    EXPECT_EQ(check.trustedComment, comment);
    EXPECT_EQ(lineOf(*signature, 1).substr(0, 2),
              algorithm == SignatureAlgorithm::Prehashed ? "RU" : "RW");

    EXPECT_EQ(checkSignature(pair->publicKey, kManifest + " ", *signature).verdict,
              SignatureVerdict::Invalid);
    EXPECT_EQ(checkSignature(other->publicKey, kManifest, *signature).verdict,
              SignatureVerdict::OtherKey);
    // Another key's signature carrying our key id still fails the signature itself.
    PublicKey impostor{pair->publicKey.keyId, other->publicKey.key};
    EXPECT_EQ(checkSignature(impostor, kManifest, *signature).verdict, SignatureVerdict::Invalid);
    const std::string changedComment =
        withLine(*signature, 2, "trusted comment: timestamp:1\tfile:xiazai.txt");
    EXPECT_EQ(checkSignature(pair->publicKey, kManifest, changedComment).verdict,
              SignatureVerdict::CommentInvalid);
    const std::string changedGlobal = withLine(*signature, 3, flipped(lineOf(*signature, 3), 5));
    EXPECT_EQ(checkSignature(pair->publicKey, kManifest, changedGlobal).verdict,
              SignatureVerdict::CommentInvalid);
  }
  std::optional<std::string> signature = signFile(pair->secretKey, kManifest, "c");
  ASSERT_TRUE(signature);
  EXPECT_FALSE(signFile(pair->secretKey, kManifest, "two\nlines"));
  for (const std::string& bad :
       {std::string(), std::string("<html>404</html>"), withLine(*signature, 0, "comment"),
        withLine(*signature, 1, "RX" + lineOf(*signature, 1).substr(2)),
        withLine(*signature, 1, lineOf(*signature, 1) + "AAAA"), *signature + "extra\n",
        withLine(*signature, 2, "trusted comment: " + std::string(kTrustedCommentLimit + 1, 'x')),
        *signature + std::string(kSignatureFileLimit, '\n')}) {
    EXPECT_EQ(checkSignature(pair->publicKey, kManifest, bad).verdict, SignatureVerdict::Malformed)
        << bad;
  }
}

TEST(MinisignFiles, KeyFilesAreExclusiveAndInteroperateWithMinisign) {
  TempDir dir;
  std::optional<KeyPair> pair = generateKeyPair();
  ASSERT_TRUE(pair);
  const std::string pub = dir.file("vendor.pub");
  const std::string key = dir.file("vendor.key");
  ASSERT_TRUE(writeKeyFiles(*pair, pub, key).written);
  struct stat info {};
  ASSERT_EQ(::stat(key.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  ASSERT_EQ(::stat(pub.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  // Neither file is ever replaced, and a failure leaves no secret key behind.
  const std::string before = readWholeFile(key);
  KeyFilesResult again = writeKeyFiles(*pair, pub, dir.file("second.key"));
  EXPECT_FALSE(again.written);
  EXPECT_NE(again.error.find("vendor.pub"), std::string::npos) << again.error;
  EXPECT_FALSE(fileExists(dir.file("second.key")));
  EXPECT_FALSE(writeKeyFiles(*pair, dir.file("other.pub"), key).written);
  EXPECT_EQ(readWholeFile(key), before);
  ::symlink(dir.file("target").c_str(), dir.file("link.key").c_str());
  EXPECT_FALSE(writeKeyFiles(*pair, dir.file("l.pub"), dir.file("link.key")).written);
  EXPECT_FALSE(fileExists(dir.file("target")));

  if (!minisignInstalled()) GTEST_SKIP() << "minisign is not installed (scripts/setup)";
  const std::string file = dir.write("xiazai.txt", kManifest);
  // Ours verify in minisign, and minisign signs with our secret key.
  std::optional<std::string> ours = signFile(pair->secretKey, kManifest, "ours");
  ASSERT_TRUE(ours);
  dir.write("xiazai.txt.minisig", *ours);
  CommandResult verified =
      runCommand("minisign -V -p " + shellQuote(pub) + " -m " + shellQuote(file));
  EXPECT_EQ(verified.status, 0) << verified.output;
  CommandResult signedByMinisign =
      runCommand("minisign -S -W -s " + shellQuote(key) + " -m " + shellQuote(file) + " -x " +
                 shellQuote(dir.file("by-minisign.sig")) + " -t 'from minisign'");
  ASSERT_EQ(signedByMinisign.status, 0) << signedByMinisign.output;
  EXPECT_EQ(checkSignature(pair->publicKey, kManifest, readWholeFile(dir.file("by-minisign.sig")))
                .verdict,
            SignatureVerdict::Valid);

  // minisign's own keys: both of its signature forms verify here, and its secret key signs.
  CommandResult made = runCommand("minisign -G -W -p " + shellQuote(dir.file("m.pub")) + " -s " +
                                  shellQuote(dir.file("m.key")));
  ASSERT_EQ(made.status, 0) << made.output;
  Parsed<PublicKey> theirs = parsePublicKey(readWholeFile(dir.file("m.pub")));
  ASSERT_TRUE(theirs.value) << theirs.error;
  for (const char* legacy : {"", "-l "}) {
    CommandResult sig =
        runCommand(std::string("minisign -S -W ") + legacy + "-s " + shellQuote(dir.file("m.key")) +
                   " -m " + shellQuote(file) + " -x " + shellQuote(dir.file("m.sig")));
    ASSERT_EQ(sig.status, 0) << sig.output;
    SignatureCheck check =
        checkSignature(*theirs.value, kManifest, readWholeFile(dir.file("m.sig")));
    EXPECT_EQ(check.verdict, SignatureVerdict::Valid) << legacy << check.reason;
    EXPECT_EQ(checkSignature(pair->publicKey, kManifest, readWholeFile(dir.file("m.sig"))).verdict,
              SignatureVerdict::OtherKey);
  }
  Parsed<SecretKey> theirSecret = parseSecretKeyFile(readWholeFile(dir.file("m.key")));
  ASSERT_TRUE(theirSecret.value) << theirSecret.error;
  EXPECT_EQ(theirSecret.value->keyId, theirs.value->keyId);
}
