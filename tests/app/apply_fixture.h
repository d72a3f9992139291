#pragma once
// Running quillet-cli (apply, convert...) in-process with settings of a scratch
// folder, capturing its exit status and what it wrote to stderr.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/cli.h"

namespace quillet::app {

struct ApplyRun {
  int status;
  std::string err;
};

inline ApplyRun RunCliIn(const std::filesystem::path& settingsDir, const std::vector<std::string>& words) {
  std::vector<std::string> args{"--settings", settingsDir.string()};
  args.insert(args.end(), words.begin(), words.end());
  std::FILE* o = std::tmpfile();
  std::FILE* e = std::tmpfile();
  const int status = RunCli(args, Commands(), o, e);
  std::rewind(e);
  std::string err;
  char buf[1024];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, e)) > 0;) err.append(buf, n);
  std::fclose(o);
  std::fclose(e);
  return {status, err};
}

inline ApplyRun RunApply(const std::filesystem::path& settingsDir, const std::string& in,
                         const std::string& out, const std::vector<std::string>& words) {
  std::vector<std::string> args{"apply", in, out};
  args.insert(args.end(), words.begin(), words.end());
  return RunCliIn(settingsDir, args);
}

}  // namespace quillet::app
