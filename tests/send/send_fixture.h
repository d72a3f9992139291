#pragma once
// Shared by the send tests: the loopback servers of the fixtures, and a progress
// script.

#include <string>
#include <vector>

#include "fixtures/servers.h"
#include "fixtures/temp_dir.h"
#include "send/progress.h"

namespace quillet::send::testsupport {

using quillet::testing::MakeCertificate;
using quillet::testing::PythonServer;
using quillet::testing::ReadFileBytes;
using quillet::testing::ScriptedServer;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

inline std::string Loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

// Records what a transfer shows; cancels at the n-th Cancelled() or once a text shows.
class ScriptedProgress final : public SendProgress {
 public:
  void SetText(int line, std::string_view text) override {
    texts.push_back(std::to_string(line) + ":" + std::string(text));
    if (!cancelAtText.empty() && text == cancelAtText) cancelled_ = true;
  }
  void SetProgress(double fraction) override { fractions.push_back(fraction); }
  bool Cancelled() override {
    ++calls;
    if (cancelAtCall > 0 && calls >= cancelAtCall) cancelled_ = true;
    return cancelled_;
  }

  int cancelAtCall = 0;            // 0: never
  std::string cancelAtText;        // empty: never
  std::vector<std::string> texts;  // "0:text" and "1:text", in order
  std::vector<double> fractions;
  int calls = 0;

 private:
  bool cancelled_ = false;
};

}  // namespace quillet::send::testsupport
