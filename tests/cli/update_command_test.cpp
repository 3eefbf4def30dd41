// downloader-cli update against a vendor site: what is new is downloaded and installed into the
// saved roots, and nothing else; its JSON summary, --notify, and one update at a time.
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>

#include "archive_tools.h"
#include "cli_run.h"
#include "demo_site.h"
#include "platform/files.h"
#include "platform/folder_lock.h"
#include "platform/md5.h"
#include "scripted_server.h"
#include "temp_dir.h"

namespace {

// The JSON document read back by Python, one line per package and per failure with the fields
// the tests look at. A document that does not parse, or lacks a field, fails the test.
std::string jsonFields(const std::string& json, const TempDir& scratch) {
  static const char kReader[] = R"(
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
def failures(items):
    for f in items:
        print("failure %s %s %d %s: %s" % (f["step"], f["class"], f["exit"], f["where"], f["reason"]))
print("exit=%d changed=%s dryRun=%s manifest=%s" % (d["exit"], d["changed"], d["dryRun"], d["manifest"]))
failures(d["failures"])
for p in d["packages"]:
    print("%s %s %s planned=%s done=%s roots=%s note=%s bytes=%s digests=%d,%d url=%s" % (
        p["alias"], p["name"], p["state"], ",".join(p["planned"]), ",".join(p["done"]),
        "|".join(p["roots"]), bool(p["note"]), p["bytes"] > 0 and p["seconds"] >= 0,
        len(p["manifestMd5"]), len(p["localMd5"]), p["url"]))
    failures(p["failures"])
)";
  const std::string path = scratch.write("summary.json", json);
  CommandResult read = runCommand("/usr/bin/python3 -c " + shellQuote(kReader) + " " + path);
  EXPECT_EQ(read.status, 0) << json << read.output;
  return read.output;
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every path below the folders and the bytes of Config.ini: what a dry run must not change.
std::string snapshotOf(const std::vector<const TempDir*>& folders) {
  std::string all;
  for (const TempDir* folder : folders) {
    for (const std::string& path : listTree(folder->path())) all += path + "\n";
  }
  return all + readWholeFile(folders.front()->file("Config.ini"));
}

}  // namespace

TEST(UnattendedUpdate, InstallsExactlyTheNewPackagesIntoTheSavedRoots) {
  DemoSite site;
  TempDir program;
  TempDir rootA;
  TempDir rootB;
  TempDir scratch;
  rootA.write("mir200/PlugList.txt", "A.dll\r\n");
  // The window's saved roots and the vendor's manifest; the anti-cheat package has no roots.
  program.write("Config.ini", "[Vendor]\r\nManifest=" + site.manifestUrl() + "\r\n[Roots]\r\n" +
                                  "server=" + rootA.path() + "|" + rootB.path() +
                                  "\r\nplugin=" + rootA.path() + "\r\nanticheat=\r\n");
  const std::string dir = "--dir=" + shellQuote(program.path());
  const std::string a = rootA.path();
  const std::string b = rootB.path();

  // A dry run tells what would be done and changes nothing.
  const std::string before = snapshotOf({&program, &rootA, &rootB});
  CliRun dry = cli("update --dry-run --json " + dir, scratch);
  EXPECT_EQ(dry.status, 0) << dry.err;
  std::string fields = jsonFields(dry.out, scratch);
  EXPECT_TRUE(has(fields, "exit=0 changed=False dryRun=True manifest=" + site.manifestUrl()))
      << fields;
  EXPECT_TRUE(has(fields, "server 三端 new planned=download,install done= roots=" + a + "|" + b))
      << fields;
  EXPECT_TRUE(has(fields, "anticheat 反挂 new planned=download done= roots= note=True")) << fields;
  EXPECT_TRUE(has(fields, "tools 工具 new planned=download,extract done=")) << fields;
  EXPECT_TRUE(has(dry.err, "三端: 发现新版; would download")) << dry.err;  // people: stderr
  EXPECT_EQ(snapshotOf({&program, &rootA, &rootB}), before);
  EXPECT_EQ(cli("check " + dir, scratch).status, 100);

  CliRun first = cli("update --json " + dir, scratch);
  EXPECT_EQ(first.status, 0) << first.err;
  fields = jsonFields(first.out, scratch);
  EXPECT_TRUE(has(fields, "exit=0 changed=True dryRun=False")) << fields;
  EXPECT_TRUE(has(fields, "server 三端 new planned=download,install done=download,install roots=" +
                              a + "|" + b + " note=False bytes=True digests=32,32 url=" +
                              site.url("/packages/server.zip")))
      << fields;
  EXPECT_TRUE(has(fields, "plugin 功能 new planned=download,install done=download,install roots=" +
                              a + " note=False bytes=True"))
      << fields;
  EXPECT_TRUE(has(fields, "anticheat 反挂 new planned=download done=download roots= note=True"))
      << fields;
  EXPECT_TRUE(has(fields, "tools 工具 new planned=download,extract done=download,extract"))
      << fields;
  EXPECT_FALSE(has(fields, "failure")) << fields;
  EXPECT_TRUE(fileExists(rootA.file("mir200/M2Server.exe")));
  EXPECT_TRUE(fileExists(rootB.file("mir200/M2Server.exe")));
  EXPECT_TRUE(fileExists(rootA.file("DBServer/DBServer.exe")));
  EXPECT_FALSE(fileExists(rootB.file("DBServer")));  // the plugin's roots are A alone
  EXPECT_FALSE(fileExists(rootA.file("RunGate")));   // downloaded, not installed
  EXPECT_EQ(md5OfFile(program.file("反挂.zip")), md5OfFile(site.archive("anticheat.zip")));
  EXPECT_TRUE(fileExists(program.file("其他工具/工具/说明.txt")));
  EXPECT_EQ(readWholeFile(rootA.file("mir200/PlugList.txt")),
            "A.dll\r\nM2LinkerX86.dll\r\nQZVM2PlusLoad.dll\r\n");
  CliRun current = cli("check --quiet " + dir, scratch);
  EXPECT_EQ(current.status, 0);
  EXPECT_EQ(current.out, "");

  // The next run finds everything current: it reads the manifest and nothing else.
  site.clearAccessLog();
  CliRun second = cli("update --json " + dir, scratch);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(has(jsonFields(second.out, scratch), "exit=0 changed=False"));
  const std::string log = site.accessLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  EXPECT_TRUE(has(log, " GET /xiazaiqi/xiazai.txt 200 ")) << log;

  // A new release of the plugin alone: only it is fetched and installed; the server's files
  // stay as they are.
  pythonZip(site.archive("plugin.zip"), "z.writestr('DBServer/DBServer.exe', 'v2')");
  std::string manifest;
  const std::pair<const char*, const char*> sections[] = {{"三端", "server.zip"},
                                                          {"功能", "plugin.zip"},
                                                          {"反挂", "anticheat.zip"},
                                                          {"其他", "tools.zip"}};
  for (auto [section, archive] : sections) {
    manifest += std::string("[") + section +
                "]\r\nURL=" + site.url(std::string("/packages/") + archive) +
                "\r\nMD5=" + md5OfFile(site.archive(archive)) + "\r\n";
  }
  writeWholeFile(site.file("xiazaiqi/xiazai.txt"), manifest);
  struct stat serverFile {};
  ASSERT_EQ(::stat(rootA.file("mir200/M2Server.exe").c_str(), &serverFile), 0);
  site.clearAccessLog();
  CliRun third = cli("update " + dir, scratch);
  EXPECT_EQ(third.status, 0) << third.err;
  EXPECT_TRUE(has(third.out, "三端: 最新版\n")) << third.out;
  EXPECT_TRUE(has(third.out, "功能: 发现新版; downloaded (")) << third.out;
  EXPECT_TRUE(has(third.out, "; installed into " + a + "\n")) << third.out;
  EXPECT_TRUE(has(site.accessLog(), "/packages/plugin.zip"));
  EXPECT_FALSE(has(site.accessLog(), "/packages/server.zip"));
  EXPECT_EQ(readWholeFile(rootA.file("DBServer/DBServer.exe")), "v2");
  struct stat after {};
  ASSERT_EQ(::stat(rootA.file("mir200/M2Server.exe").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, serverFile.st_ino);
}

TEST(UnattendedUpdate, FailuresAreToldNotifiedAndOneUpdateRunsAtATime) {
  TempDir program;
  TempDir scratch;
  // A manifest server that accepts and never answers; the URL carries a password.
  ScriptedServer silent([](ScriptedConnection& c) {
    c.readUntil("\r\n\r\n");
    while (!c.stopping()) c.stall(100);
  });
  const std::string where = "127.0.0.1:" + std::to_string(silent.port()) + "/xiazaiqi/xiazai.txt";
  const std::string dir = " --dir " + shellQuote(program.path());

  // It ends after --timeout without a byte, saying where and why, and hands its summary to
  // --notify.
  CliRun unread = cli("update --json --retries 1 --timeout=1 --manifest " +
                          shellQuote("http://user:secret@" + where) + dir + " --notify " +
                          shellQuote("cat > " + shellQuote(scratch.file("notified.json"))),
                      scratch);
  EXPECT_EQ(unread.status, 4) << unread.err;
  EXPECT_TRUE(
      has(unread.err, "downloader-cli update: http://user@" + where + ": 读取远程配置失败: "))
      << unread.err;
  EXPECT_TRUE(has(unread.err, "the last 1 seconds")) << unread.err;  // libcurl's own words
  const std::string fields = jsonFields(unread.out, scratch);
  EXPECT_TRUE(has(fields, "exit=4 changed=False dryRun=False manifest=http://user@" + where))
      << fields;
  EXPECT_TRUE(has(fields, "failure manifest network 4 http://user@" + where + ": 读取远程配置失败"))
      << fields;
  EXPECT_FALSE(has(unread.out + unread.err, "secret"));
  EXPECT_EQ(readWholeFile(scratch.file("notified.json")), unread.out);

  // A notify command that fails, or that does not end, is told and changes nothing.
  const std::string closed = " --manifest http://127.0.0.1:" + std::to_string(freeLoopbackPort()) +
                             "/xiazaiqi/xiazai.txt" + dir;
  CliRun failing = cli("update" + closed + " --notify 'exit 3'", scratch);
  EXPECT_EQ(failing.status, 4);
  EXPECT_TRUE(has(failing.err, "downloader-cli update: --notify: exit status 3")) << failing.err;
  const std::string pidFile = scratch.file("notify.pid");
  CliRun hanging = cli("update" + closed + " --notify-timeout 1 --notify " +
                           shellQuote("echo $$ > " + shellQuote(pidFile) + "; exec sleep 600"),
                       scratch);
  EXPECT_EQ(hanging.status, 4);
  EXPECT_TRUE(has(hanging.err, "--notify: still running after 1 s; ended")) << hanging.err;
  const pid_t notifier = static_cast<pid_t>(std::stol(readWholeFile(pidFile)));
  EXPECT_EQ(::kill(notifier, 0), -1);  // ended and reaped
  EXPECT_EQ(errno, ESRCH);

  // While another holds the program folder, update refuses at once or after --wait.
  FolderLockResult held = lockFolder(program.path(), std::chrono::milliseconds(0));
  ASSERT_EQ(held.state, FolderLockState::Taken);
  CliRun refused = cli("update --json" + closed, scratch);
  EXPECT_EQ(refused.status, 5) << refused.err;
  EXPECT_TRUE(
      has(refused.err, "另一个下载器(进程 " + std::to_string(::getpid()) + ")正在使用此目录"))
      << refused.err;
  EXPECT_TRUE(has(jsonFields(refused.out, scratch), "failure lock local-file 5 " + program.path()));
  CliRun waited = cli("update --wait=1" + closed, scratch);
  EXPECT_EQ(waited.status, 5);
  EXPECT_TRUE(has(waited.err, "waiting up to 1 s")) << waited.err;
  EXPECT_TRUE(has(waited.err, "gave up waiting")) << waited.err;
}

TEST(MachineReadableOutput, JsonEscapesEveryTextAndOptionsTakeEitherForm) {
  TempDir program;
  TempDir scratch;
  // A manifest address with a quote, a backslash, a tab, a Chinese name and a byte that is no
  // UTF-8: the document stays valid and gives the address back (that byte as U+FFFD).
  const std::string odd =
      "http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/路径\"q\\x\t\xff.txt";
  CliRun checked =
      cli("check --json --manifest=" + shellQuote(odd) + " --dir " + shellQuote(program.path()),
          scratch);
  EXPECT_NE(checked.status, 0);
  EXPECT_EQ(checked.out.back(), '\n');
  EXPECT_EQ(checked.out.find('\n'), checked.out.size() - 1);  // one document, one line
  const std::string fields = jsonFields(checked.out, scratch);
  EXPECT_TRUE(has(
      fields, "manifest=http://127.0.0.1:" + odd.substr(17, 5) + "/路径\"q\\x\t\xEF\xBF\xBD.txt"))
      << fields;
  EXPECT_TRUE(has(fields, "server 三端 unknown planned= done=")) << fields;

  // install --json and --quiet: a failure is still told on standard error.
  CliRun install = cli("install 反挂 --quiet --json --root=" + shellQuote(program.path()) +
                           " --dir=" + shellQuote(program.path()),
                       scratch);
  EXPECT_EQ(install.status, 5);
  EXPECT_TRUE(has(install.err, "解压 反挂.zip 失败")) << install.err;
  EXPECT_TRUE(
      has(jsonFields(install.out, scratch),
          "failure install local-file 5 " + program.file("反挂.zip") + ": 解压 反挂.zip 失败"));

  // A flag given a value, an option of another command: usage errors.
  EXPECT_EQ(cli("check --quiet=1", scratch).status, 2);
  EXPECT_EQ(cli("check --root /srv", scratch).status, 2);
  EXPECT_EQ(cli("update --retries=x", scratch).status, 2);
}

// A vendor site whose archive is not the one its manifest vouches for: the download is
// discarded, the archive there before and the roots stay as they were, and the failure is an
// integrity failure with both digests, in the JSON summary too.
TEST(UnattendedUpdate, AnArchiveTheManifestDoesNotVouchForIsNeverKept) {
  DemoSite site;
  TempDir program;
  TempDir root;
  TempDir scratch;
  const std::string dir = "--dir " + shellQuote(program.path()) + " --manifest " +
                          shellQuote(site.manifestUrl()) + " --root " + shellQuote(root.path());
  ASSERT_EQ(cli("update server " + dir, scratch).status, 0);
  const std::string archive = readWholeFile(program.file("三端.zip"));
  const std::string installed = snapshotOf({&root});

  // A new release is announced, but the site serves other bytes under its name.
  const std::string promised = md5OfBytes("the release the vendor signed off");
  std::string manifest = readWholeFile(site.file("xiazaiqi/xiazai.txt"));
  manifest.replace(manifest.find(md5OfFile(site.archive("server.zip"))), 32, promised);
  writeWholeFile(site.file("xiazaiqi/xiazai.txt"), manifest);
  pythonZip(site.archive("server.zip"), "z.writestr('mir200/M2Server.exe', 'tampered')");

  CliRun run = cli("update server --json " + dir, scratch);
  EXPECT_EQ(run.status, 6) << run.err;
  const std::string told = program.file("三端.zip") + ": 三端.zip MD5与远程配置不符 (manifest " +
                           promised + ", download " + md5OfFile(site.archive("server.zip"));
  EXPECT_TRUE(has(run.err, told)) << run.err;
  EXPECT_TRUE(has(jsonFields(run.out, scratch), "failure download integrity 6 " + told)) << run.out;
  EXPECT_TRUE(readWholeFile(program.file("三端.zip")) == archive);
  EXPECT_FALSE(fileExists(program.file("三端.zip.part")));
  EXPECT_FALSE(fileExists(program.file("三端.zip.part.state")));
  EXPECT_EQ(snapshotOf({&root}), installed);
}
