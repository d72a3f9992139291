#pragma once
// A front end for the project code in tests: documents in a plain list, a private
// store and settings, scripted answers and progress windows.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "batch/project.h"
#include "core/chain_source.h"
#include "core/clipboard.h"
#include "core/document.h"
#include "core/segment_sink.h"
#include "fixtures/edit_context.h"
#include "fixtures/signals.h"
#include "fixtures/temp_dir.h"
#include "platform/scripted_progress.h"
#include "platform/scripted_prompter.h"

namespace quillet::batch::testsupport {

class Host final : public ProjectHost {
 public:
  explicit Host(settings::Settings& s) : settings_(s) {}
  core::WaveDocument* AdoptDocument(std::unique_ptr<core::WaveDocument> doc) override {
    docs.push_back(std::move(doc));
    active = docs.back().get();
    return active;
  }
  int NextUntitledNumber() override { return nextUntitled++; }
  std::vector<core::WaveDocument*> Documents() override {
    std::vector<core::WaveDocument*> out;
    for (auto& d : docs) out.push_back(d.get());
    return out;
  }
  core::WaveDocument* ActiveDocument() override { return active; }
  void ActivateDocument(core::WaveDocument* doc) override { active = doc; }
  bool CloseAllDocuments(bool ask) override {
    asked.push_back(ask);
    if (refuseClose) return false;
    if (session)
      for (auto& d : docs) session->DocumentClosing(*d);
    docs.clear();
    active = nullptr;
    return true;
  }
  formats::DispatchEnv Env() override {
    formats::DispatchEnv env(settings_);
    env.prompter = prompter;
    env.owner = owner;
    return env;
  }
  void MarksChanged() override { ++changes; }

  settings::Settings& settings_;
  platform::Prompter* prompter = nullptr;
  platform::ProgressWindowFactory* owner = nullptr;
  ProjectSession* session = nullptr;
  std::vector<std::unique_ptr<core::WaveDocument>> docs;
  core::WaveDocument* active = nullptr;
  int nextUntitled = 1;
  bool refuseClose = false;
  std::vector<bool> asked;
  int changes = 0;
};

// Audio of block at rate in a new sample file of store.
inline core::AudioChain ChainOf(core::SegmentStore& store, const audio::AudioBlock& block,
                                std::uint32_t rate) {
  core::AudioChain chain(&store);
  auto sink = core::ChainOpenSink(chain, rate, block.channels());
  sink->write(block.data(), block.frames());
  EXPECT_TRUE(sink->Finish());
  return chain;
}

inline audio::AudioBlock AudioOf(const core::AudioChain& chain) {
  auto source = core::ChainOpenSource(chain);
  return testing::ReadSource(*source);
}

inline bool SameAudio(const audio::AudioBlock& a, const audio::AudioBlock& b) {
  return a.channels() == b.channels() && a.frames() == b.frames() &&
         std::equal(a.data(), a.data() + a.frames() * a.channels(), b.data());
}

class Project : public ::testing::Test, protected testing::EditContextFixture {
 protected:
  Project() {
    host.prompter = &prompter;
    host.owner = &progress;
    host.session = &session;
  }
  // A document over a ramp-like signal, opened from file (the file itself is not read).
  core::WaveDocument& Doc(const std::string& file, int channels = 1, core::FrameCount frames = 44100,
                          std::uint32_t rate = 44100, unsigned seed = 1) {
    auto doc = std::make_unique<core::WaveDocument>(
        ChainOf(store, testing::Noise(channels, frames, seed, 1 << 18), rate), file.empty() ? host.nextUntitled++ : 0,
        file.empty() ? std::filesystem::path() : dir / file);
    core::WaveDocument* d = host.AdoptDocument(std::move(doc));
    session.DocumentOpened(*d);
    return *d;
  }

  Host host{settings};
  ProjectSession session{ctx, host, [] { return std::uint32_t{1700000000}; }};
};

}  // namespace quillet::batch::testsupport
