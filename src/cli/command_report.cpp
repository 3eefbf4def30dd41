#include "command_report.h"

#include <cstdio>

#include "exit_status.h"
#include "json_writer.h"
#include "net/url_split.h"

namespace {

const char* className(FailureKind kind) {
  switch (kind) {
    case FailureKind::ServerReply:
      return "server-reply";
    case FailureKind::Network:
      return "network";
    case FailureKind::LocalFile:
      return "local-file";
    case FailureKind::Integrity:
      return "integrity";
    case FailureKind::Security:
      return "security";
    case FailureKind::None:
      break;
  }
  return "other";
}

void writeFailures(JsonWriter& json, const std::vector<FailureReport>& failures) {
  json.key("failures");
  json.beginArray();
  for (const FailureReport& failure : failures) {
    json.beginObject();
    json.member("step", failure.step);
    json.member("class", className(failure.kind));
    json.member("exit", exitStatusOf(failure));
    json.member("where", failure.where);
    json.member("reason", failure.reason);
    json.endObject();
  }
  json.endArray();
}

void writePackage(JsonWriter& json, const PackageReport& package) {
  json.beginObject();
  json.member("name", package.package->name);
  json.member("alias", package.package->alias);
  json.member("url", package.url);
  json.member("manifestMd5", package.manifestMd5);
  json.member("localMd5", package.localMd5);
  json.member("state", package.state);
  json.member("planned", package.planned);
  json.member("done", package.done);
  json.member("roots", package.roots);
  json.member("note", package.note);
  json.member("bytes", package.bytes);
  json.member("fetched", package.fetched);
  json.member("reused", package.reused);
  json.key("seconds");
  json.number(package.seconds, 3);
  writeFailures(json, package.failures);
  json.endObject();
}

}  // namespace

std::string deltaText(const PackageReport& package) {
  if (package.reused <= 0) return std::string();
  return ", " + std::to_string(package.fetched) + " fetched, 已复用 " +
         std::to_string(package.reused);
}

bool CommandReport::changed() const {
  for (const PackageReport& package : packages) {
    if (!package.done.empty()) return true;
  }
  return false;
}

const FailureReport* CommandReport::firstFailure() const {
  if (!failures.empty()) return &failures.front();
  for (const PackageReport& package : packages) {
    if (!package.failures.empty()) return &package.failures.front();
  }
  return nullptr;
}

std::string toJson(const CommandReport& report) {
  JsonWriter json;
  json.beginObject();
  json.member("command", report.command);
  json.member("manifest", report.manifest);
  json.member("dryRun", report.dryRun);
  json.member("changed", report.changed());
  json.member("exit", report.exitStatus);
  writeFailures(json, report.failures);
  json.key("packages");
  json.beginArray();
  for (const PackageReport& package : report.packages) writePackage(json, package);
  json.endArray();
  json.endObject();
  return json.text() + "\n";
}

int exitStatusOf(const FailureReport& failure) {
  return exitStatusFor(failure.kind);
}

std::string withoutPasswordOf(std::string text, const std::string& url) {
  const std::string shown = urlWithoutPassword(url);
  if (shown.size() >= url.size()) return text;
  size_t colon = 0;
  while (colon < shown.size() && shown[colon] == url[colon]) ++colon;
  const std::string password = url.substr(colon + 1, url.size() - shown.size() - 1);
  if (password.empty()) return text;
  for (size_t at = 0; (at = text.find(password, at)) != std::string::npos; at += 6) {
    text.replace(at, password.size(), "******");
  }
  return text;
}

FailureReport tellFailure(const std::string& command, std::string step, FailureKind kind,
                          const std::string& where, const std::string& what) {
  FailureReport failure{std::move(step), kind, urlWithoutPassword(where),
                        withoutPasswordOf(what, where)};
  std::fprintf(stderr, "downloader-cli %s: %s: %s\n", command.c_str(), failure.where.c_str(),
               failure.reason.c_str());
  return failure;
}
