// The table of downloader-cli's commands and the texts made from it.
#include "command_table.h"

#include <array>

#include "commands.h"

namespace {

constexpr char kPackages[] =
    "PACKAGE is 三端, 功能, 反挂 or 工具 (or server, plugin, anticheat, tools).\n";
constexpr char kRootedPackages[] =
    "PACKAGE is 三端, 功能 or 反挂 (or server, plugin, anticheat).\n"
    "--dir DIR       the program folder: archives, staging folders, Config.ini\n"
    "                (default: the folder of this program)\n";
constexpr char kHookOptions[] =
    "--before-install CMD  run CMD before the first change in each root; a failure leaves\n"
    "                      that root untouched (exit 1)\n"
    "--after-install CMD   run CMD after the last change in each root, also when it was put\n"
    "                      back (both over Config.ini's [Hooks] BeforeInstall= and\n"
    "                      AfterInstall=; CMD sees DOWNLOADER_PACKAGE, DOWNLOADER_ROOT,\n"
    "                      DOWNLOADER_ACTION and DOWNLOADER_RESULT)\n";
constexpr char kCommonOptions[] =
    "--manifest URL  the manifest to read instead of Config.ini's [Vendor] Manifest= or the\n"
    "                built-in one\n"
    "--dir DIR       the program folder: archives, staging folders, Config.ini\n"
    "                (default: the folder of this program)\n"
    "--json          one JSON document on stdout: per package the manifest's URL and digest,\n"
    "                the local digest, state, what was done, bytes, seconds, failures with\n"
    "                their class and reason; messages for people go to stderr\n"
    "--quiet, -q     nothing for people on stdout (failures still go to stderr)\n"
    "Every option also takes the form --name=value.\n";

const std::array<CommandSpec, 10> kCommands = {{
    {"fetch",
     "URL PATH [--connections N] [--retries N] [--timeout SECONDS] [--overwrite] [--continue] "
     "[--speed-limit BYTES_PER_SECOND] [--proxy HOST[:PORT]] [--referer TEXT] [--insecure] "
     "[--quiet] [--log]",
     "Fetches one file over http://, https:// or ftp:// into PATH over parallel connections.\n"
     "The bytes go to PATH.part, which becomes PATH once every byte is written; PATH.part.state\n"
     "keeps what a stopped download needs to continue. A PATH ending in / or naming a folder\n"
     "takes the server's file name. An existing file is refused unless --overwrite, an existing\n"
     "PATH.part unless --continue (or --overwrite, which starts over); for a folder PATH once\n"
     "the server's answer names the file. When complete, the final path is printed on stdout.\n"
     "--connections N       parallel connections, 1 to 16 (default 1)\n"
     "--retries N           failures in a row without a byte that a connection retries, 5 s\n"
     "                      apart (default 5); one that received bytes retries at once\n"
     "--timeout SECONDS     limit for connecting and for silence on a connection (default "
     "20)\n"
     "--overwrite           replace an existing PATH once the download is complete\n"
     "--continue, -c        continue an interrupted download from PATH.part, fetching only\n"
     "                      the missing bytes (it starts over when the server's file changed;\n"
     "                      a server without ETag or Last-Modified is continued on the size\n"
     "                      alone, with a warning)\n"
     "--speed-limit B       bytes per second over the whole transfer (0: none)\n"
     "--proxy HOST[:PORT]   HTTP proxy (port 80 when omitted)\n"
     "--referer TEXT        the Referer header (default: derived from the URL)\n"
     "--insecure            https: accept any server certificate (no identity check)\n"
     "--quiet, -q           no progress line, no summary, no final path\n"
     "--log                 print the engine's log lines on stderr: level, local time in\n"
     "                      ISO 8601 with its offset, text\n"
     "On a terminal a progress line shows percent, speed and time left, and a summary line\n"
     "follows. SIGINT and SIGTERM stop the transfer within a second and keep PATH.part for\n"
     "--continue, as does a network failure. Failures name the URL (password masked) and the\n"
     "reason on stderr.\n"
     "Exit status: 0 complete; 1 other failure; 2 usage; 3 error reply from the server\n"
     "(404, 550, ...); 4 network (name, refused, timeout, retries exhausted); 5 local file\n"
     "(exists, create, write, disk full); 6 integrity (range or size mismatch, the server's\n"
     "file changed twice during the download); 7 security\n"
     "(certificate not accepted, https redirected to http); 130 / 143\n"
     "stopped by SIGINT / SIGTERM.\n"
     "Every option also takes the form --name=value.\n",
     &runFetchCommand},
    {"check", "[--manifest URL] [--dir DIR] [--json] [--quiet]",
     "Reads the vendor's manifest and prints, for each package, whether the archive in DIR is\n"
     "current (最新版) or a new release exists (发现新版). It writes nothing. A manifest that\n"
     "cannot be read is named on stderr with the reason (libcurl's text, the HTTP status).\n"
     "With Config.ini [Vendor] PublicKey= set, the manifest's signature (its URL + .minisig)\n"
     "is checked too; a manifest that is unsigned, signed by another key, changed, older than\n"
     "one accepted before (Serial) or past its Expires is refused (远程配置签名无效,\n"
     "远程配置已过期, 远程配置版本回退), the reason on stderr. A higher Serial is recorded in\n"
     "Config.ini when DIR is not in use by another 下载器.\n"
     "Exit status: 0 every package is current; 100 at least one package has a new release;\n"
     "1 other failure; 3 the server's reply is no manifest (an HTTP error, a digest missing);\n"
     "4 network; 7 security (a refused manifest).\n",
     &runCheckCommand},
    {"download",
     "PACKAGE [--manifest URL] [--dir DIR] [--retries N] [--timeout SECONDS] [--wait SECONDS] "
     "[--no-delta] [--json] [--quiet]",
     "Downloads the package's archive into DIR under its fixed name (三端.zip, 功能.zip, "
     "反挂.zip,\n"
     "工具.zip), then checks it against the manifest. Exit status 0 when the archive is "
     "current.\n"
     "The old archive stays until the new one is complete and its MD5 equals the manifest's;\n"
     "one that does not is discarded (both digests on stderr, exit 6). An interrupted\n"
     "download (SIGINT, SIGTERM, a lost connection) keeps ARCHIVE.part and continues on the\n"
     "next run.\n"
     "--retries N        failures in a row without a byte that a connection retries, 5 s\n"
     "                   apart (default 5)\n"
     "--timeout SECONDS  limit for connecting and for silence, on the manifest and the\n"
     "                   archive (default 20)\n"
     "--wait SECONDS     while another 下载器 uses DIR, wait this long for it (default 0)\n"
     "--no-delta         fetch the whole archive; by default, over an older archive in DIR\n"
     "                   (http, https) only the entries that changed are fetched and the\n"
     "                   others taken from it (the summary says how much: 已复用)\n"
     "Failures name the URL (password masked) or path and the reason on stderr. Exit status:\n"
     "0 current; 1 other failure; 3 error reply from the server; 4 network; 5 local file\n"
     "(also: DIR is in use by another 下载器); 6 integrity (the archive does not match the\n"
     "manifest's MD5, SHA256 or Size); 7 security (a refused manifest: nothing is downloaded);\n"
     "130 / 143 stopped by SIGINT / SIGTERM.\n",
     &runDownloadCommand},
    {"install",
     "PACKAGE --root DIR [--root DIR ...] [--dir DIR] [--wait SECONDS] [--json] [--quiet] "
     "[--before-install CMD] [--after-install CMD]",
     "Extracts the package's archive from DIR into its staging folder and installs its files\n"
     "into every server root (the tools package is only extracted). 安装完成 goes to stdout,\n"
     "every other message (a failure, naming its archive or root) to stderr.\n"
     "--wait SECONDS     while another 下载器 uses DIR, wait this long for it (default 0)\n"
     "Each root is one transaction: it ends with every file of the package or as it was, and\n"
     "files that already equal the archive's are left alone. What an install replaces is kept\n"
     "in ROOT/.下载器备份/ for rollback ([Backup] Keep= in Config.ini, default 2 installs).\n"
     "SIGINT and SIGTERM put the root being changed back as it was.\n"
     "Exit status: 0 when every root was installed and the job ended with 安装完成; 5 local\n"
     "file (an archive or root that failed, or DIR in use by another 下载器); 130 / 143\n"
     "stopped by SIGINT / SIGTERM.\n",
     &runInstallCommand},
    {"update",
     "[PACKAGE...] [--dir DIR] [--manifest URL] [--root DIR ...] [--dry-run] [--json] [--quiet] "
     "[--retries N] [--timeout SECONDS] [--wait SECONDS] [--no-delta] [--notify COMMAND] "
     "[--notify-timeout SECONDS] [--before-install CMD] [--after-install CMD]",
     "Checks the manifest once; then each package (all four, or those named) whose archive in\n"
     "DIR differs from the manifest's digest is downloaded (verified, resumable) and installed\n"
     "into its roots: those saved by the window (Config.ini [Roots]) unless --root names the\n"
     "roots for every package. The tools package is only extracted. A package without roots\n"
     "is downloaded, not installed, and the summary says so. A package that is current is\n"
     "left alone: a second run downloads nothing.\n"
     "--dry-run          check only and print what would be done; changes nothing, takes no\n"
     "                   lock\n"
     "--retries N, --timeout SECONDS, --wait SECONDS, --no-delta   as for download\n"
     "--notify COMMAND   after a run that changed something or failed, run COMMAND with\n"
     "                   /bin/sh -c, the JSON summary on its stdin and its stdout on stderr;\n"
     "                   its failure is told on stderr and changes nothing\n"
     "--notify-timeout S how long COMMAND may run (default 60); then its process group is\n"
     "                   ended (SIGTERM, SIGKILL a second later)\n"
     "Exit status: 0 every package it looked at ended current (or, with --dry-run, the check\n"
     "passed); otherwise the class of the first failure as for download: 1 other; 3 server\n"
     "reply; 4 network; 5 local file (an install that failed, DIR in use); 6 integrity;\n"
     "7 security (a refused manifest: nothing is changed); 130 / 143 stopped by SIGINT /\n"
     "SIGTERM.\n",
     &runUpdateCommand},
    {"keygen", "--public-key FILE --secret-key FILE",
     "For vendors: makes a key pair in minisign's format. The secret key file has no password\n"
     "and is readable by its owner alone (0600); neither file may exist yet. Prints the line\n"
     "PublicKey=... that goes into each operator's Config.ini under [Vendor].\n"
     "Exit status: 0 made; 1 other failure; 2 usage; 5 a file exists or cannot be written.\n",
     &runKeygenCommand},
    {"sign", "MANIFEST --secret-key FILE [--trusted-comment TEXT]",
     "For vendors: signs MANIFEST with the secret key (minisign's format, prehashed) into\n"
     "MANIFEST.minisig. A secret key made by minisign works once its password is removed\n"
     "(minisign -C -W).\n"
     "--trusted-comment TEXT  one line, signed with the file (default: timestamp:SECONDS\n"
     "                        file:NAME hashed, as minisign writes it)\n"
     "Exit status: 0 signed; 1 other failure (not a key, a key with a password); 2 usage;\n"
     "5 a file cannot be read or written.\n",
     &runSignCommand},
    {"publish", "SITE_DIR --secret-key FILE [--expires DAYS]",
     "For vendors: SITE_DIR is the folder the web server serves. Its manifest\n"
     "SITE_DIR/xiazaiqi/xiazai.txt gets, for each package, the MD5, SHA256 and Size of the\n"
     "archive its URL names (the URL's path below SITE_DIR), [Manifest] Serial= one higher\n"
     "and Expires=; it keeps its encoding (GBK stays GBK) and is signed into\n"
     "xiazai.txt.minisig.\n"
     "--expires DAYS  the manifest is refused by operators DAYS days from now (1 to 36500);\n"
     "                without it the manifest does not expire\n"
     "Exit status: 0 published; 1 other failure (not a key, a manifest that is neither UTF-8\n"
     "nor GBK); 2 usage; 5 a file cannot be read or written, or a URL names no file below\n"
     "SITE_DIR.\n",
     &runPublishCommand},
    {"rollback",
     "PACKAGE --root DIR [--root DIR ...] [--dir DIR] [--list] [--wait SECONDS] "
     "[--before-install CMD] [--after-install CMD]",
     "Puts each root back as it was before the last install of the package: the files it\n"
     "replaced come back from their backups, the files and folders it created go, the plugin\n"
     "list is restored. Each rollback undoes one more install, as far as backups are kept.\n"
     "--list             show the installs kept for rollback instead, newest first\n"
     "--wait SECONDS     while another 下载器 uses DIR, wait this long for it (default 0)\n"
     "Exit status: 0 rolled back (or listed); 1 no install kept to roll back; 5 local file (a\n"
     "root that failed, or DIR in use); 130 / 143 stopped by SIGINT / SIGTERM (the root is put\n"
     "back as it was before the rollback).\n",
     &runRollbackCommand},
    {"validate",
     "PACKAGE --root DIR [--root DIR ...] [--dir DIR] [--repair] [--wait SECONDS] "
     "[--before-install CMD] [--after-install CMD]",
     "Compares the files below each root with the last install of the package (sizes, then\n"
     "CRC-32, as the archive's central directory gave them; nothing is extracted) and lists\n"
     "each file that is missing or differs. A root installed before such records were kept\n"
     "is compared with the archive in DIR.\n"
     "--repair           put the missing and differing files back from the archive in DIR, as\n"
     "                   one install (which rollback can undo)\n"
     "--wait SECONDS     while another 下载器 uses DIR, wait this long for it (default 0)\n"
     "Exit status: 0 every file matches (or was repaired); 1 some differ or are missing; 5\n"
     "local file (a missing root, no archive to compare with, a repair that failed, DIR in\n"
     "use); 130 / 143 stopped by SIGINT / SIGTERM.\n",
     &runValidateCommand},
}};

bool takesPackage(const CommandSpec& command) {
  for (std::string_view name : {"check", "download", "install", "update"}) {
    if (command.name == name) return true;
  }
  return false;
}

// rollback and validate work on a package's roots: the tools package has none, and they read
// no manifest.
bool takesRootedPackage(const CommandSpec& command) {
  return command.name == "rollback" || command.name == "validate";
}

bool runsHooks(const CommandSpec& command) {
  return takesRootedPackage(command) || command.name == "install" || command.name == "update";
}

}  // namespace

std::span<const CommandSpec> commandTable() {
  return kCommands;
}

const CommandSpec* findCommand(std::string_view name) {
  for (const CommandSpec& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

void printUsage(std::FILE* out) {
  std::fprintf(out, "usage:\n");
  for (const CommandSpec& command : kCommands) {
    std::fprintf(out, "  downloader-cli %.*s %.*s\n", static_cast<int>(command.name.size()),
                 command.name.data(), static_cast<int>(command.synopsis.size()),
                 command.synopsis.data());
  }
  std::fprintf(out,
               "%s"
               "downloader-cli COMMAND --help describes a command; downloader-cli --version "
               "prints the version.\n",
               kPackages);
}

void printCommandHelp(const CommandSpec& command, std::FILE* out) {
  std::fprintf(out, "usage: downloader-cli %.*s %.*s\n%.*s", static_cast<int>(command.name.size()),
               command.name.data(), static_cast<int>(command.synopsis.size()),
               command.synopsis.data(), static_cast<int>(command.description.size()),
               command.description.data());
  if (takesRootedPackage(command)) {
    std::fprintf(out, "%s", kRootedPackages);
  } else if (takesPackage(command)) {
    std::fprintf(out, "%s%s", kPackages, kCommonOptions);
  }
  if (runsHooks(command)) std::fprintf(out, "%s", kHookOptions);
}

int commandUsageError(std::string_view name, std::string_view message) {
  std::fprintf(stderr, "downloader-cli %.*s: %.*s\n", static_cast<int>(name.size()), name.data(),
               static_cast<int>(message.size()), message.data());
  if (const CommandSpec* command = findCommand(name)) {
    std::fprintf(stderr, "usage: downloader-cli %.*s %.*s\n",
                 static_cast<int>(command->name.size()), command->name.data(),
                 static_cast<int>(command->synopsis.size()), command->synopsis.data());
    std::fprintf(stderr, "downloader-cli %.*s --help describes it.\n",
                 static_cast<int>(command->name.size()), command->name.data());
  }
  return kExitUsage;
}

std::string_view versionText() {
  return "downloader-cli 1.1.0";
}
