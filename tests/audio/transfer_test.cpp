#include "audio/transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/memory.h"
#include "fixtures/signals.h"

namespace quillet::audio {
namespace {

using quillet::testing::Ramp;

SourceHandle RampSource(std::int32_t rate, int channels, FrameCount frames) {
  return SourceHandle(MakeRef<LMemorySoundSource>(rate, Ramp(channels, frames)));
}

// Records the sizes it is written in and fails after a set number of frames.
class CountingSink final : public LSoundSink {
 public:
  CountingSink(int channels, FrameCount failAfter = -1)
      : LSoundSink(44100, channels), failAfter_(failAfter) {}
  void write(const Sample*, FrameCount frames) override {
    if (failed()) return;
    blocks.push_back(frames);
    setFramesWritten(framesWritten() + frames);
    if (failAfter_ >= 0 && framesWritten() >= failAfter_) Fail("No space left on device");
  }
  std::vector<FrameCount> blocks;

 private:
  FrameCount failAfter_;
};

TEST(Transfer, CopiesEverythingInBlocksOfAtMost8192) {
  for (FrameCount frames : {0, 1, 8191, 8192, 8193, 3 * 8192 + 17}) {
    SCOPED_TRACE(frames);
    auto src = RampSource(44100, 2, frames);
    LMemorySoundSink sink(44100, 2);
    std::vector<FrameCount> progress;
    const auto out = Transfer(*src, sink, [&](FrameCount done, FrameCount total) {
      EXPECT_EQ(total, frames);
      progress.push_back(done);
      return true;
    });
    EXPECT_EQ(out.result, TaskResult::Done);
    EXPECT_EQ(out.frames, frames);
    EXPECT_EQ(sink.samples(), Ramp(2, frames));
    EXPECT_EQ(progress.size(), static_cast<std::size_t>((frames + 8191) / 8192));
    if (!progress.empty()) {
      EXPECT_EQ(progress.back(), frames);
    }
  }
}

TEST(Transfer, StartsAtTheSourcePosition) {
  auto src = RampSource(44100, 1, 100);
  src->seek(90);
  LMemorySoundSink sink(44100, 1);
  EXPECT_EQ(Transfer(*src, sink).frames, 10);
  EXPECT_EQ(sink.samples()(0, 0), Ramp(1, 100)(0, 90));
}

TEST(Transfer, CancelStopsAfterTheCurrentBlock) {
  auto src = RampSource(44100, 1, 5 * 8192);
  CountingSink sink(1);
  int calls = 0;
  const auto out = Transfer(*src, sink, [&](FrameCount, FrameCount) { return ++calls < 2; });
  EXPECT_EQ(out.result, TaskResult::Cancelled);
  EXPECT_EQ(sink.blocks.size(), 2u);
}

TEST(Transfer, FailingSinkFailsTheTransferWithItsMessage) {
  auto src = RampSource(44100, 1, 5 * 8192);
  CountingSink sink(1, 8192 * 2);
  const auto out = Transfer(*src, sink);
  EXPECT_EQ(out.result, TaskResult::Failed);
  EXPECT_EQ(out.message, "No space left on device");
  EXPECT_EQ(sink.blocks.size(), 2u);

  // A sink that failed at construction gets nothing.
  LMemorySoundSink broken(44100, 0);
  src->seek(0);
  EXPECT_EQ(Transfer(*src, broken).result, TaskResult::Failed);
}

TEST(Transfer, UnusableSourceOrFormatMismatchFailsWithoutWriting) {
  CountingSink sink(2);
  auto corrupt = MakeNullSource(SoundStatus::Corrupt);
  EXPECT_EQ(Transfer(*corrupt, sink).result, TaskResult::Failed);

  auto mono = RampSource(44100, 1, 100);
  const auto out = TransferAdapted(mono, sink, {});
  EXPECT_EQ(out.result, TaskResult::Failed);
  EXPECT_NE(out.message.find("44100 Hz with 1 channel"), std::string::npos) << out.message;
  EXPECT_TRUE(sink.blocks.empty());
}

// Converters are applied in a fixed order: fewer channels before the rate change, more after.
TEST(Transfer, AdaptorsReduceChannelsBeforeRateAndWidenAfter) {
  std::vector<std::string> calls;
  FormatAdaptors adaptors;
  adaptors.channels = [&](SourceHandle s, int ch) {
    calls.push_back("ch" + std::to_string(ch));
    return SourceHandle(MakeRef<LMemorySoundSource>(s->sampleRate(), Ramp(ch, s->length())));
  };
  adaptors.rate = [&](SourceHandle s, std::int32_t rate) {
    calls.push_back("rate" + std::to_string(rate));
    return SourceHandle(MakeRef<LMemorySoundSource>(rate, Ramp(s->channels(), s->length())));
  };

  LMemorySoundSink mono(22050, 1);
  EXPECT_EQ(TransferAdapted(RampSource(44100, 2, 10), mono, adaptors).result, TaskResult::Done);
  EXPECT_EQ(calls, (std::vector<std::string>{"ch1", "rate22050"}));

  calls.clear();
  LMemorySoundSink stereo(22050, 2);
  EXPECT_EQ(TransferAdapted(RampSource(44100, 1, 10), stereo, adaptors).result, TaskResult::Done);
  EXPECT_EQ(calls, (std::vector<std::string>{"rate22050", "ch2"}));
  EXPECT_EQ(stereo.framesWritten(), 10);
}

}  // namespace
}  // namespace quillet::audio
