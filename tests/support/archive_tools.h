#pragma once
// Makes test archives with real tools: Info-ZIP zip, Python's zipfile and bsdtar.
#include <string>
#include <vector>

// Runs argv[0] (looked up on PATH) in `directory` (the current one when empty), with
// `environment` entries ("NAME=value") added; standard output is discarded. The exit
// status, or -1 when the program could not be run.
int runTool(const std::vector<std::string>& argv, const std::string& directory = {},
            const std::vector<std::string>& environment = {});

// Writes `archive` with Python's zipfile: `body` is Python code run with `z`, the open
// ZipFile (appended to when `append`), plus `zipfile`, `os` and `sys` imported. Fails the
// current test when Python reports an error.
void pythonZip(const std::string& archive, const std::string& body, bool append = false);

// Runs Python code with `path` as sys.argv[1]; true when it exits with 0.
bool pythonCheck(const std::string& path, const std::string& body);

// Info-ZIP: `zip <options> archive <inputs>` run in `directory`.
void infoZip(const std::string& directory, const std::vector<std::string>& options,
             const std::string& archive, const std::vector<std::string>& inputs,
             const std::vector<std::string>& environment = {});

// The names of a directory's entries, sorted; empty when it cannot be read.
std::vector<std::string> listDirectory(const std::string& path);

// Every path below `path` (relative, "/"-separated, directories ending with "/"), sorted. The
// backup folder that installs keep in a root (".下载器备份/" at the top) is left out.
std::vector<std::string> listTree(const std::string& path);
