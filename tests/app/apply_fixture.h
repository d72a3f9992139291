#pragma once
// Running quillet-cli (apply, convert...) in-process with settings of a scratch
// folder, capturing its exit status and what it wrote to stderr.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/registry.h"

namespace quillet::app {

struct CliOutput {
  int status;
  std::string out, err;
};

// quillet-cli with args on the programs' command table.
inline CliOutput RunWithTable(const std::vector<std::string>& args) {
  static const core::CommandRegistry registry = BuildCommandRegistry();
  std::FILE* files[2] = {std::tmpfile(), std::tmpfile()};
  const int status = RunCli(args, Commands(), registry, files[0], files[1]);
  std::string text[2];
  for (int i = 0; i < 2; ++i) {
    std::rewind(files[i]);
    char buf[1024];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, files[i])) > 0;) text[i].append(buf, n);
    std::fclose(files[i]);
  }
  return {status, text[0], text[1]};
}

struct ApplyRun {
  int status;
  std::string err;
};

inline ApplyRun RunCliIn(const std::filesystem::path& settingsDir, const std::vector<std::string>& words) {
  std::vector<std::string> args{"--settings", settingsDir.string()};
  args.insert(args.end(), words.begin(), words.end());
  const CliOutput r = RunWithTable(args);
  return {r.status, r.err};
}

inline ApplyRun RunApply(const std::filesystem::path& settingsDir, const std::string& in,
                         const std::string& out, const std::vector<std::string>& words) {
  std::vector<std::string> args{"apply", in, out};
  args.insert(args.end(), words.begin(), words.end());
  return RunCliIn(settingsDir, args);
}

}  // namespace quillet::app
