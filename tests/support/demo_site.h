#pragma once
// The demo vendor site (scripts/make_demo_site.py) served by a loopback nginx: four sample
// package archives and their GBK manifest.
#include <memory>
#include <string>

#include "nginx_server.h"
#include "temp_dir.h"

class DemoSite {
 public:
  DemoSite();
  std::string manifestUrl() const { return server_->url("/xiazaiqi/xiazai.txt"); }
  // Path of a generated archive: server.zip, plugin.zip, anticheat.zip, tools.zip.
  std::string archive(const std::string& name) const { return dir_.file("packages/" + name); }

 private:
  TempDir dir_;
  std::unique_ptr<NginxServer> server_;
};

// Runs a command line with /bin/sh; its standard output and error and its exit status.
struct CommandResult {
  int status = -1;
  std::string output;
};
CommandResult runCommand(const std::string& commandLine);
// Quotes a text for /bin/sh.
std::string shellQuote(const std::string& text);
