// The FTP layer's text handling: settings from a URL, reply reading, passive replies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/ftp_passive.h"
#include "ftp/ftp_reply.h"
#include "ftp/ftp_settings.h"
#include "net/socket_io.h"
#include "transfer/task_param.h"

namespace {

std::optional<FtpSettings> settingsFor(const std::string& url, TaskParam param = {}) {
  std::optional<UrlParts> parts = splitUrl(url);
  if (!parts) return std::nullopt;
  param.url = url;
  return makeFtpSettings(param, *parts);
}

class MemorySource final : public FtpByteSource {
 public:
  explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
  int32_t readByte(uint8_t& byte) override {
    if (at_ == bytes_.size()) return kErrorPeerClosed;
    byte = static_cast<uint8_t>(bytes_[at_++]);
    return 1;
  }
  size_t consumed() const { return at_; }

 private:
  std::string bytes_;
  size_t at_ = 0;
};

struct ReadResult {
  FtpReply reply;
  std::vector<std::string> lines;
  size_t consumed = 0;
};

ReadResult readFrom(const std::string& bytes, size_t lineLimit = kFtpLineLimit) {
  MemorySource source(bytes);
  ReadResult result;
  result.reply = readFtpReply(source, lineLimit,
                              [&](std::string_view line) { result.lines.emplace_back(line); });
  result.consumed = source.consumed();
  return result;
}

}  // namespace

TEST(FtpSettings, HostPortAndDefaultsWithoutCredentials) {
  auto settings = settingsFor("ftp://files.example:2121/pub/a%20b+c.zip");
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->host, "files.example");
  EXPECT_EQ(settings->port, 2121);
  EXPECT_EQ(settings->userName, "anonymous");
  EXPECT_EQ(settings->password, kDefaultFtpPassword);
  EXPECT_EQ(settings->path, "/pub/a b c.zip");
  EXPECT_EQ(ftpPathArgument(settings->path), "pub/a b c.zip");

  TaskParam absent;
  absent.userName.reset();
  absent.password.reset();
  settings = settingsFor("ftp://h/f", absent);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->port, 21);
  EXPECT_EQ(settings->userName, "anonymous");
  EXPECT_EQ(settings->password, kDefaultFtpPassword);
}

TEST(FtpSettings, CredentialsInTheUrlReplaceTheParameters) {
  TaskParam param;
  param.userName = "paramUser";
  param.password = "paramPass";
  auto settings = settingsFor("ftp://bob:p@ss:w@10.0.0.7:990/f.bin", param);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->userName, "bob");
  EXPECT_EQ(settings->password, "p@ss:w");
  EXPECT_EQ(settings->host, "10.0.0.7");
  EXPECT_EQ(settings->port, 990);

  // The port is read after the last "@", whatever the password holds.
  settings = settingsFor("ftp://bob:p@ss:99w@h/f", param);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->port, 21);

  // An "@" without a ":" before it carries no password: the parameters stay.
  settings = settingsFor("ftp://bob@h/f", param);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->host, "h");
  EXPECT_EQ(settings->userName, "paramUser");

  // A password that does not fit 256 bytes keeps the parameters too.
  settings = settingsFor("ftp://bob:" + std::string(256, 'x') + "@h/f", param);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->password, "paramPass");
  settings = settingsFor("ftp://bob:" + std::string(255, 'x') + "@h/f", param);
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->password, std::string(255, 'x'));
}

TEST(FtpSettings, TextsThatWouldEndACommandAreRefused) {
  EXPECT_FALSE(settingsFor("ftp://h/f%0D%0ADELE%20x"));
  EXPECT_FALSE(settingsFor("ftp://h/f%0Ax"));
  EXPECT_FALSE(settingsFor("ftp://h/f%00x"));
  TaskParam param;
  param.password = std::string("pw\r\nDELE x");
  EXPECT_FALSE(settingsFor("ftp://h/f", param));
  EXPECT_FALSE(settingsFor("ftp://h/" + std::string(1023, 'a')));
  EXPECT_TRUE(settingsFor("ftp://h" + std::string(1, '/') + std::string(1022, 'a')));
}

TEST(FtpSettings, TransferTypeThreeFollowsTheExtensionList) {
  TaskParam param;
  param.ftpTransferType = kFtpTypeByExtension;
  EXPECT_EQ(settingsFor("ftp://h/d/pack.zip", param)->transferType, kFtpTypeBinary);
  EXPECT_EQ(settingsFor("ftp://h/d/notes.txt", param)->transferType, kFtpTypeText);
  EXPECT_EQ(settingsFor("ftp://h/d.zip/README", param)->transferType, kFtpTypeText);
  EXPECT_EQ(settingsFor("ftp://h/a.tar.rm", param)->transferType, kFtpTypeBinary);
  param.binaryExtensions = std::string(".txt");
  EXPECT_EQ(settingsFor("ftp://h/notes.txt", param)->transferType, kFtpTypeBinary);
  param.ftpTransferType = kFtpTypeText;
  EXPECT_EQ(settingsFor("ftp://h/pack.zip", param)->transferType, kFtpTypeText);
  param.ftpTransferType = 7;
  EXPECT_EQ(settingsFor("ftp://h/notes.txt", param)->transferType, kFtpTypeBinary);
}

TEST(FtpReply, SingleAndMultiLineReplies) {
  ReadResult one = readFrom("220 ready\r\nUSER");
  EXPECT_EQ(one.reply.code, 220);
  EXPECT_EQ(one.reply.text, "220 ready");
  EXPECT_EQ(one.consumed, 11u);  // nothing of the next reply is taken

  ReadResult multi = readFrom("230-Welcome\r\n 230 indented\r\n230-more\r\n230 done\r\n");
  EXPECT_EQ(multi.reply.code, 230);
  EXPECT_EQ(multi.reply.text, "230 done");
  EXPECT_EQ(multi.lines.size(), 4u);

  ReadResult bareLineFeed = readFrom("150-a\n150 b\n");
  EXPECT_EQ(bareLineFeed.reply.code, 150);
  EXPECT_EQ(bareLineFeed.lines[0], "150-a");
}

TEST(FtpReply, ReadFailuresGiveNoReply) {
  EXPECT_EQ(readFrom("").reply.code, 0);
  EXPECT_EQ(readFrom("220 no line end").reply.code, 0);
  EXPECT_EQ(readFrom("220-only a first line\r\n").reply.code, 0);
  EXPECT_EQ(readFrom("22 short\r\n").reply.code, 0);
  EXPECT_EQ(readFrom(std::string(kFtpLineReadLimit + 10, 'x')).reply.code, 0);
}

TEST(FtpReply, AnOverLongLineIsCutAndItsRestNeverReadAsALine) {
  // The byte at kFtpLineLimit starts a text that looks like a final line.
  std::string first = "220-" + std::string(kFtpLineLimit - 4, 'w') + "530 not a reply";
  ReadResult result = readFrom(first + "\r\n220 ready\r\n");
  EXPECT_EQ(result.reply.code, 220);
  EXPECT_EQ(result.reply.text, "220 ready");
  ASSERT_EQ(result.lines.size(), 2u);
  EXPECT_EQ(result.lines[0].size(), kFtpLineLimit);

  ReadResult longFinal = readFrom("226 " + std::string(6000, 'z') + "\r\n");
  EXPECT_EQ(longFinal.reply.code, 226);
  EXPECT_EQ(longFinal.reply.text.size(), kFtpLineLimit);

  ReadResult shortLimit = readFrom("226 " + std::string(600, 'z') + "\r\n", kFtpFinalReplyLimit);
  EXPECT_EQ(shortLimit.reply.code, 226);
  EXPECT_EQ(shortLimit.reply.text.size(), kFtpFinalReplyLimit);
}

TEST(FtpPassive, AddressAndPortOfTheReply) {
  auto address = parsePassiveReply("227 Entering Passive Mode (192,168,1,20,195,80).");
  ASSERT_TRUE(address);
  EXPECT_EQ(address->address, "192.168.1.20");
  EXPECT_EQ(address->port, 195 * 256 + 80);
  address = parsePassiveReply("227 =( 127, 0, 0, 1, 0, 21 )");
  ASSERT_TRUE(address);
  EXPECT_EQ(address->port, 21);
}

TEST(FtpPassive, MalformedRepliesAreRefused) {
  for (const char* reply : {"227 no numbers", "227 (1,2,3,4,5)", "227 (1,2,3,4,5,6,7)",
                            "227 (1,2,3,4,256,1)", "227 (1,2,3,4,-1,1)", "227 (1,2,3,4,0,0)",
                            "227 (1,2,3,4,5,6", "227 (1,,3,4,5,6)", "227 (1,2,3,4,0005,6)"}) {
    EXPECT_FALSE(parsePassiveReply(reply)) << reply;
  }
  std::string padded = "227 (1,2,3,4,5,6)";
  padded += std::string(kFtpPassiveReplyLimit - padded.size() - 1, ' ');
  EXPECT_TRUE(parsePassiveReply(padded));
  padded += ' ';
  EXPECT_FALSE(parsePassiveReply(padded));
}

TEST(FtpPassive, ExtendedRepliesGiveOnlyAPort) {
  EXPECT_EQ(parseExtendedPassiveReply("229 Entering Extended Passive Mode (|||6446|)"), 6446);
  EXPECT_EQ(parseExtendedPassiveReply("229 ok (!!!65535!)"), 65535);
  for (const char* reply : {"229 (|||0|)", "229 (|||65536|)", "229 (||6446|)", "229 (|||6446)",
                            "229 (|||6446|", "229 (|||abc|)", "229 (1116441)", "229 (|||-5|)",
                            "229 (|||123456|)", "229 no port", "229 (|||", "229 (| ||1|)"}) {
    EXPECT_FALSE(parseExtendedPassiveReply(reply)) << reply;
  }
}
