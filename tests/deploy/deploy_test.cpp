// What a site deploys: the installed programs and systemd units, the fleet playbook run
// against this host, and the shared HTTP cache in front of the vendor that the README shows.
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "demo_site.h"
#include "nginx_server.h"
#include "platform/files.h"
#include "platform/md5.h"
#include "temp_dir.h"

namespace {

bool haveProgram(const std::string& name) {
  return runCommand("command -v " + name + " >/dev/null").status == 0;
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The origin's access log ("ranges" format): how often each Range of `uri` was asked for.
std::map<std::string, int> rangesAsked(const std::string& log, const std::string& uri) {
  std::map<std::string, int> asked;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (!has(line, " GET " + uri + " ")) continue;
    const size_t open = line.find('"');
    asked[line.substr(open, line.find('"', open + 1) - open + 1)] += 1;
  }
  return asked;
}

}  // namespace

TEST(Deploy, InstallPutsTheProgramAndItsUnitsUnderAPrefixAndTheUnitsVerify) {
  TempDir prefix;
  CommandResult installed = runCommand("cmake --install " + shellQuote(DL_BINARY_DIR) +
                                       " --prefix " + shellQuote(prefix.path()));
  ASSERT_EQ(installed.status, 0) << installed.output;
  const std::string units = prefix.file("lib/systemd/system/");
  EXPECT_TRUE(fileExists(prefix.file("bin/downloader-cli")));
  EXPECT_TRUE(fileExists(prefix.file("share/doc/downloader/README.md")));
  const std::string service = readWholeFile(units + "downloader-update.service");
  EXPECT_TRUE(has(service, "ExecStart=" + prefix.file("bin/downloader-cli") + " update --json"))
      << service;
  // Everything installed is in the manifest that an uninstall removes.
  const std::string manifest = readWholeFile(std::string(DL_BINARY_DIR) + "/install_manifest.txt");
  for (const std::string& file :
       {prefix.file("bin/downloader-cli"), units + "downloader-update.service",
        units + "downloader-update.timer"}) {
    EXPECT_TRUE(has("\n" + manifest + "\n", "\n" + file + "\n")) << manifest;
  }
  if (!haveProgram("systemd-analyze")) GTEST_SKIP() << "no systemd-analyze here";
  CommandResult verified =
      runCommand("systemd-analyze verify " + shellQuote(units + "downloader-update.service") + " " +
                 shellQuote(units + "downloader-update.timer"));
  EXPECT_EQ(verified.status, 0) << verified.output;
  EXPECT_EQ(verified.output, "");  // not even a warning
}

TEST(Deploy, ThePlaybookInstallsTheTimerAndUpdatesThisHost) {
  if (!haveProgram("ansible-playbook")) GTEST_SKIP() << "no ansible-playbook here";
  const std::string playbook = std::string(DL_SOURCE_DIR) + "/deploy/ansible/site.yml";
  TempDir scratch;
  const std::string environment = "ANSIBLE_LOCAL_TEMP=" + scratch.file("tmp") +
                                  " ANSIBLE_REMOTE_TEMP=" + scratch.file("tmp") +
                                  " ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ";
  CommandResult syntax = runCommand(environment + "ansible-playbook --syntax-check -i localhost, " +
                                    shellQuote(playbook));
  ASSERT_EQ(syntax.status, 0) << syntax.output;

  // Against this host, into a scratch prefix: no user made, no unit enabled.
  DemoSite site;
  TempDir prefix;
  TempDir root;
  const passwd* user = ::getpwuid(::geteuid());
  ASSERT_NE(user, nullptr);
  const std::string variables = R"({"downloader_hosts": "localhost", "downloader_prefix": ")" +
                                prefix.path() + R"(", "downloader_state_dir": ")" +
                                prefix.file("state") + R"(", "downloader_create_user": false,
      "downloader_enable_timer": false, "downloader_become": false, "downloader_user": ")" +
                                user->pw_name + R"(", "downloader_cli": ")" + DL_CLI_PATH +
                                R"(", "downloader_manifest": ")" + site.manifestUrl() +
                                R"(", "downloader_roots": {"server": [")" + root.path() +
                                R"("]}, "ansible_python_interpreter": "/usr/bin/python3"})";
  const std::string extra = scratch.write("vars.json", variables);
  CommandResult run = runCommand(environment + "ansible-playbook -i localhost, -c local " +
                                 shellQuote(playbook) + " -e @" + shellQuote(extra));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(has(run.output, "failed=0")) << run.output;
  EXPECT_TRUE(fileExists(prefix.file("bin/downloader-cli")));
  EXPECT_TRUE(has(readWholeFile(prefix.file("lib/systemd/system/downloader-update.service")),
                  "ExecStart=" + prefix.file("bin/downloader-cli") + " update"));
  EXPECT_TRUE(fileExists(prefix.file("lib/systemd/system/downloader-update.timer")));
  EXPECT_TRUE(fileExists(root.file("mir200/M2Server.exe")));
  EXPECT_EQ(md5OfFile(prefix.file("state/三端.zip")), md5OfFile(site.archive("server.zip")));
}

TEST(Deploy, HostsBehindASlicingCacheReachTheOriginOncePerRange) {
  TempDir originRoot;
  NginxServer origin(originRoot.path(), "    access_log access.log ranges;\n");
  TempDir cacheWork;
  TempDir cacheRoot;
  // The cache of the README: the vendor's archives in 1 MiB slices, each fetched once.
  NginxListen listen;
  listen.extraHttpConfig = "  proxy_cache_path " + cacheWork.file("cache") +
                           " levels=1:2 keys_zone=packages:10m max_size=1g inactive=30d "
                           "use_temp_path=off;\n";
  const std::string upstream = origin.url("");
  NginxServer cache(cacheRoot.path(),
                    "    location /packages/ {\n"
                    "      slice 1m;\n"
                    "      proxy_cache packages;\n"
                    "      proxy_cache_key $uri$is_args$args$slice_range;\n"
                    "      proxy_set_header Range $slice_range;\n"
                    "      proxy_http_version 1.1;\n"
                    "      proxy_cache_valid 200 206 30d;\n"
                    "      proxy_cache_lock on;\n"
                    "      proxy_cache_lock_timeout 10m;\n"
                    "      proxy_ignore_client_abort on;\n"
                    "      proxy_pass " +
                        upstream +
                        ";\n"
                        "    }\n"
                        "    location / { proxy_pass " +
                        upstream + "; }\n",
                    listen);
  // The vendor's site names its archives at the cache's address, as a site's DNS would.
  CommandResult made = runCommand(
      "/usr/bin/python3 " + shellQuote(std::string(DL_SOURCE_DIR) + "/scripts/make_demo_site.py") +
      " " + shellQuote(originRoot.path()) + " " + shellQuote(cache.url("")));
  ASSERT_EQ(made.status, 0) << made.output;

  const std::string log = origin.workFile("access.log");
  std::map<std::string, int> afterFirst;
  for (int host = 0; host < 2; ++host) {
    TempDir program;
    CommandResult fetched = runCommand(shellQuote(DL_CLI_PATH) + " download 三端 --manifest " +
                                       shellQuote(cache.url("/xiazaiqi/xiazai.txt")) + " --dir " +
                                       shellQuote(program.path()));
    ASSERT_EQ(fetched.status, 0) << fetched.output;
    EXPECT_EQ(md5OfFile(program.file("三端.zip")),
              md5OfFile(originRoot.file("packages/server.zip")));
    if (host == 0) afterFirst = rangesAsked(readWholeFile(log), "/packages/server.zip");
  }
  const std::map<std::string, int> asked = rangesAsked(readWholeFile(log), "/packages/server.zip");
  EXPECT_FALSE(asked.empty());
  EXPECT_EQ(asked, afterFirst) << readWholeFile(log);  // the second host fetched from the cache
  for (const auto& [range, count] : asked)
    EXPECT_EQ(count, 1) << range << "\n" << readWholeFile(log);
}
