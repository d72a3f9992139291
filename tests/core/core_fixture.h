#pragma once
// A private store in a scratch folder, and ways to fill it with known audio.

#include <cstdint>
#include <vector>

#include "core/chain_source.h"
#include "core/segment_sink.h"
#include "fixtures/signals.h"
#include "fixtures/temp_dir.h"

namespace quillet::core::testing {

using audio::Sample;

// A chain of one segment holding samples, written through the store's sink.
inline AudioChain Written(SegmentStore& store, int channels, const std::vector<Sample>& samples,
                          std::uint32_t rate = 44100) {
  AudioChain chain(&store);
  auto sink = ChainOpenSink(chain, rate, channels);
  sink->write(samples.data(), static_cast<FrameCount>(samples.size()) / channels);
  EXPECT_TRUE(sink->Finish()) << sink->failureMessage();
  return chain;
}

inline std::vector<Sample> ReadAll(const AudioChain& chain, FramePos from, FrameCount frames,
                                   FrameCount block = 8192) {
  auto src = ChainOpenSource(chain);
  src->seek(from);
  std::vector<Sample> out(static_cast<std::size_t>(frames) * chain.channels);
  for (FrameCount done = 0; done < frames;) {
    const FrameCount n = std::min(block, frames - done);
    src->read(out.data() + done * chain.channels, n);
    done += n;
  }
  return out;
}

struct StoreFixture {
  quillet::testing::TempDir dir;
  SegmentStore store{dir.path()};
};

}  // namespace quillet::core::testing
