#pragma once
// Documents for effect tests: a private store, chains written from generated blocks,
// and reading them back.

#include <gtest/gtest.h>

#include "core/chain_source.h"
#include "core/segment_sink.h"
#include "effects/pass.h"
#include "fixtures/signals.h"
#include "fixtures/temp_dir.h"

namespace quillet::effects::testing {

using namespace quillet::testing;
using audio::AudioBlock;
using audio::Sample;
using core::AudioChain;

// A chain in store holding block.
inline AudioChain ChainOf(core::SegmentStore& store, const AudioBlock& block,
                          std::uint32_t rate = 44100) {
  AudioChain chain(&store);
  auto sink = core::ChainOpenSink(chain, rate, block.channels());
  sink->write(block.data(), block.frames());
  EXPECT_TRUE(sink->Finish()) << sink->failureMessage();
  return chain;
}

struct Doc {
  TempDir dir;
  core::SegmentStore store{dir.path()};
  AudioChain chain;

  explicit Doc(const AudioBlock& block, std::uint32_t rate = 44100)
      : chain(ChainOf(store, block, rate)) {}
  AudioBlock Read() const { return Read(0, core::ChainLength(chain)); }
  AudioBlock Read(FramePos from, FrameCount frames) const {
    auto src = core::ChainOpenSource(chain);
    src->seek(from);
    return ReadFrames(*src, frames);
  }
  FrameCount length() const { return core::ChainLength(chain); }
  EffectParams All() { return {&chain, length(), 0}; }
  EffectParams Range(FramePos start, FramePos end) { return {&chain, end, start}; }
  // Sample files in the store's folder.
  int Files() const {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      n += e.path().extension() == ".aud";
    return n;
  }
};

}  // namespace quillet::effects::testing
