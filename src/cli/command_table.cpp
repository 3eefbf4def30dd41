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
constexpr char kCommonOptions[] =
    "--manifest URL  the manifest to read instead of the built-in one\n"
    "--dir DIR       the program folder: archives, staging folders, Config.ini\n"
    "                (default: the folder of this program)\n";

const std::array<CommandSpec, 6> kCommands = {{
    {"fetch",
     "URL PATH [--connections N] [--retries N] [--timeout SECONDS] [--overwrite] [--continue] "
     "[--speed-limit BYTES_PER_SECOND] [--proxy HOST[:PORT]] [--referer TEXT] [--insecure] "
     "[--quiet] [--log]",
     "Fetches one file over http://, https:// or ftp:// into PATH over parallel connections.\n"
     "The bytes go to PATH.part, which becomes PATH once every byte is written; PATH.part.state\n"
     "keeps what a stopped download needs to continue. A PATH ending in / or naming a folder\n"
     "takes the server's file name. An existing file is refused unless --overwrite, an existing\n"
     "PATH.part unless --continue (or --overwrite, which starts over). When complete, the\n"
     "final path is printed on stdout.\n"
     "--connections N       parallel connections, 1 to 16 (default 1)\n"
     "--retries N           failures in a row without a byte that a connection retries, 5 s\n"
     "                      apart (default 5); one that received bytes retries at once\n"
     "--timeout SECONDS     limit for connecting and for silence on a connection (default "
     "20)\n"
     "--overwrite           replace an existing PATH once the download is complete\n"
     "--continue, -c        continue an interrupted download from PATH.part, fetching only\n"
     "                      the missing bytes (it starts over when the server's file changed)\n"
     "--speed-limit B       bytes per second over the whole transfer (0: none)\n"
     "--proxy HOST[:PORT]   HTTP proxy (port 80 when omitted)\n"
     "--referer TEXT        the Referer header (default: derived from the URL)\n"
     "--insecure            https: accept any server certificate (no identity check)\n"
     "--quiet, -q           no progress line, no summary, no final path\n"
     "--log                 print the engine's log lines (level, time, text) on stderr\n"
     "On a terminal a progress line shows percent, speed and time left, and a summary line\n"
     "follows. SIGINT and SIGTERM stop the transfer within a second and keep PATH.part for\n"
     "--continue, as does a network failure. Failures name the URL (password masked) and the\n"
     "reason on stderr.\n"
     "Exit status: 0 complete; 1 other failure; 2 usage; 3 error reply from the server\n"
     "(404, 550, ...); 4 network (name, refused, timeout, retries exhausted); 5 local file\n"
     "(exists, create, write, disk full); 6 integrity (range or size mismatch); 7 security\n"
     "(certificate not accepted, https redirected to http); 130 / 143\n"
     "stopped by SIGINT / SIGTERM.\n",
     &runFetchCommand},
    {"check", "[--manifest URL] [--dir DIR]",
     "Reads the vendor's manifest and prints, for each package, whether the archive in DIR is\n"
     "current (最新版) or a new release exists (发现新版). It writes nothing. A manifest that\n"
     "cannot be read is named on stderr with the reason (libcurl's text, the HTTP status).\n"
     "Exit status: 0 the manifest was read; 1 other failure; 3 the server's reply is no\n"
     "manifest (an HTTP error, a digest missing); 4 network; 7 security.\n",
     &runCheckCommand},
    {"download",
     "PACKAGE [--manifest URL] [--dir DIR] [--retries N] [--timeout SECONDS] [--wait SECONDS]",
     "Downloads the package's archive into DIR under its fixed name (三端.zip, 功能.zip, "
     "反挂.zip,\n"
     "工具.zip), then checks it against the manifest. Exit status 0 when the archive is "
     "current.\n"
     "The old archive stays until the new one is complete. An interrupted download (SIGINT,\n"
     "SIGTERM, a lost connection) keeps ARCHIVE.part and continues on the next run.\n"
     "--retries N        failures in a row without a byte that a connection retries, 5 s\n"
     "                   apart (default 5)\n"
     "--timeout SECONDS  limit for connecting and for silence, on the manifest and the\n"
     "                   archive (default 20)\n"
     "--wait SECONDS     while another 下载器 uses DIR, wait this long for it (default 0)\n"
     "Failures name the URL (password masked) or path and the reason on stderr. Exit status:\n"
     "0 current; 1 other failure; 3 error reply from the server; 4 network; 5 local file\n"
     "(also: DIR is in use by another 下载器); 6 integrity (the archive does not match the\n"
     "manifest's MD5); 7 security; 130 / 143 stopped by SIGINT / SIGTERM.\n",
     &runDownloadCommand},
    {"install", "PACKAGE --root DIR [--root DIR ...] [--dir DIR] [--wait SECONDS]",
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
    {"rollback", "PACKAGE --root DIR [--root DIR ...] [--dir DIR] [--list] [--wait SECONDS]",
     "Puts each root back as it was before the last install of the package: the files it\n"
     "replaced come back from their backups, the files and folders it created go, the plugin\n"
     "list is restored. Each rollback undoes one more install, as far as backups are kept.\n"
     "--list             show the installs kept for rollback instead, newest first\n"
     "--wait SECONDS     while another 下载器 uses DIR, wait this long for it (default 0)\n"
     "Exit status: 0 rolled back (or listed); 1 no install kept to roll back; 5 local file (a\n"
     "root that failed, or DIR in use); 130 / 143 stopped by SIGINT / SIGTERM (the root is put\n"
     "back as it was before the rollback).\n",
     &runRollbackCommand},
    {"validate", "PACKAGE --root DIR [--root DIR ...] [--dir DIR] [--repair] [--wait SECONDS]",
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
  return command.name != "fetch";
}

// rollback and validate work on a package's roots: the tools package has none, and they read
// no manifest.
bool takesRootedPackage(const CommandSpec& command) {
  return command.name == "rollback" || command.name == "validate";
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
