#include "ftp_server.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <stdexcept>

#include "nginx_server.h"

extern char** environ;

namespace {

constexpr char kPython[] = "/usr/bin/python3";

// argv: port root user password passive(0/1) command-log server-log
constexpr char kScript[] = R"PY(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import ThreadedFTPServer

port, root, user, password, passive, command_log, server_log, address = sys.argv[1:9]
logging.basicConfig(filename=server_log, level=logging.INFO)
commands = open(command_log, "a", buffering=1)

class Handler(FTPHandler):
    def pre_process_command(self, line, cmd, arg):
        commands.write(("PASS ******" if cmd == "PASS" else line) + "\n")
        return super().pre_process_command(line, cmd, arg)

    def ftp_PASV(self, line):
        if passive == "1":
            return super().ftp_PASV(line)
        self.respond("502 Passive mode refused.")

    def ftp_EPSV(self, line):
        if passive == "1":
            return super().ftp_EPSV(line)
        self.respond("502 Passive mode refused.")

authorizer = DummyAuthorizer()
authorizer.add_anonymous(root, perm="elr")
authorizer.add_user(user, password, root, perm="elr")
Handler.authorizer = authorizer
Handler.permit_foreign_addresses = False
server = ThreadedFTPServer((address, int(port)), Handler)
server.serve_forever()
)PY";

}  // namespace

FtpServer::FtpServer(std::string root, FtpServerOptions options)
    : root_(std::move(root)), options_(std::move(options)) {
  std::string script = work_.write("ftp_server.py", kScript);
  std::string commandLog = work_.file("commands.log");
  std::string serverLog = work_.file("server.log");
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = freeLoopbackPort();
    std::string port = std::to_string(port_);
    std::string passive = options_.passive ? "1" : "0";
    const char* argv[] = {kPython,
                          script.c_str(),
                          port.c_str(),
                          root_.c_str(),
                          options_.userName.c_str(),
                          options_.password.c_str(),
                          passive.c_str(),
                          commandLog.c_str(),
                          serverLog.c_str(),
                          options_.address.c_str(),
                          nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, kPython, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      throw std::runtime_error("cannot start the FTP server");
    }
    if (waitForPort(port_, 10000, options_.address)) {
      pid_ = pid;
      break;
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  if (pid_ < 0) throw std::runtime_error("FTP server did not start: " + serverLog);
}

FtpServer::~FtpServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

namespace {

std::string hostText(const std::string& address) {
  return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

}  // namespace

std::string FtpServer::url(const std::string& path) const {
  return "ftp://" + hostText(options_.address) + ":" + std::to_string(port_) + path;
}

std::string FtpServer::userUrl(const std::string& path) const {
  return "ftp://" + options_.userName + ":" + options_.password + "@" + hostText(options_.address) +
         ":" + std::to_string(port_) + path;
}

std::vector<std::string> FtpServer::commands() const {
  std::vector<std::string> lines;
  std::ifstream in(work_.file("commands.log"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
