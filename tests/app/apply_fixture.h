#pragma once
// Running quillet-cli (apply, convert...) in-process with settings of a scratch
// folder, capturing its exit status and what it wrote.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/cli.h"

namespace quillet::app {

// A whole quillet-cli run in-process: its exit status and what it wrote.
struct CliRun {
  int status;
  std::string out, err;
};

inline std::string DrainTempFile(std::FILE* f) {
  std::rewind(f);
  std::string s;
  char buf[1024];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  std::fclose(f);
  return s;
}

inline CliRun RunCliCaptured(const std::vector<std::string>& args) {
  std::FILE* o = std::tmpfile();
  std::FILE* e = std::tmpfile();
  const int status = RunCli(args, Commands(), o, e);
  std::string out = DrainTempFile(o);
  return {status, std::move(out), DrainTempFile(e)};
}

struct ApplyRun {
  int status;
  std::string err;
};

inline ApplyRun RunCliIn(const std::filesystem::path& settingsDir, const std::vector<std::string>& words) {
  std::vector<std::string> args{"--settings", settingsDir.string()};
  args.insert(args.end(), words.begin(), words.end());
  const CliRun r = RunCliCaptured(args);
  return {r.status, r.err};
}

inline ApplyRun RunApply(const std::filesystem::path& settingsDir, const std::string& in,
                         const std::string& out, const std::vector<std::string>& words) {
  std::vector<std::string> args{"apply", in, out};
  args.insert(args.end(), words.begin(), words.end());
  return RunCliIn(settingsDir, args);
}

}  // namespace quillet::app
