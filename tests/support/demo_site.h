#pragma once
// The demo vendor site (scripts/make_demo_site.py) served by a loopback nginx: four sample
// package archives and their GBK manifest. Every request is logged in the "ranges" format
// (nginx_server.h).
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
  // A file of the site, to change what it serves.
  std::string file(const std::string& name) const { return dir_.file(name); }
  // "http://127.0.0.1:PORT" + path.
  std::string url(const std::string& path) const { return server_->url(path); }
  // The access log's lines since the last clearAccessLog, once every request answered so far
  // is in it.
  std::string accessLog() const;
  void clearAccessLog() const;

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
