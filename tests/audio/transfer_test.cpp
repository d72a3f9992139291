#include "audio/transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/memory.h"
#include "audio/resample.h"
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
    EXPECT_EQ(out.result, platform::kTaskDone);
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
  EXPECT_EQ(out.result, platform::kTaskCancelled);
  EXPECT_EQ(sink.blocks.size(), 2u);
}

TEST(Transfer, FailingSinkFailsTheTransferWithItsMessage) {
  auto src = RampSource(44100, 1, 5 * 8192);
  CountingSink sink(1, 8192 * 2);
  const auto out = Transfer(*src, sink);
  EXPECT_EQ(out.result, platform::kTaskFailed);
  EXPECT_EQ(out.message, "No space left on device");
  EXPECT_EQ(sink.blocks.size(), 2u);

  // A sink that failed at construction gets nothing.
  LMemorySoundSink broken(44100, 0);
  src->seek(0);
  EXPECT_EQ(Transfer(*src, broken).result, platform::kTaskFailed);
}

// A ramp whose reads fail from frame failAt on, as a file that vanished would.
class FailingSource final : public LSoundSource {
 public:
  FailingSource(int channels, FrameCount frames, FramePos failAt)
      : LSoundSource(44100, channels, kWidePeakBound),
        ramp_(Ramp(channels, frames)),
        failAt_(failAt) {}
  void read(Sample* buffer, FrameCount frames) override {
    LMemorySoundSource inner(44100, ramp_);
    inner.seek(pos_);
    inner.read(buffer, frames);
    pos_ += frames;
    if (pos_ > failAt_) Fail("Cannot read the file x.aud: Input/output error");
  }
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return ramp_.frames(); }
  void seek(FramePos frame) override { pos_ = frame; }

 private:
  AudioBlock ramp_;
  FramePos failAt_;
  FramePos pos_ = 0;
};

// The failure travels through every adaptor to the loop, which stops at the block
// that failed and does not write it.
TEST(Transfer, FailedReadStopsAtThatBlockThroughAnyAdaptor) {
  struct Case {
    const char* name;
    std::int32_t rate;
    int channels;
  };
  for (const Case& c : {Case{"direct", 44100, 2}, Case{"channels", 44100, 1},
                        Case{"rate", 22050, 2}, Case{"both", 48000, 1}}) {
    SCOPED_TRACE(c.name);
    auto failing = SourceHandle(MakeRef<FailingSource>(2, 6 * 8192, 2 * 8192 + 10));
    LMemorySoundSink sink(static_cast<std::uint32_t>(c.rate), c.channels);
    const auto out = TransferAdapted(failing, sink, StandardFormatAdaptors());
    EXPECT_EQ(out.result, platform::kTaskFailed);
    EXPECT_EQ(out.message, "Cannot read the file x.aud: Input/output error");
    EXPECT_EQ(out.frames, sink.framesWritten());
    // Whole blocks only, and none from the failed input block on.
    EXPECT_EQ(out.frames % 8192, 0);
    EXPECT_LE(out.frames, (2 * 8192 + 10) * std::int64_t{c.rate} / 44100);
    if (c.rate == 44100) {
      EXPECT_EQ(out.frames, 2 * 8192);
    }
  }
}

TEST(Transfer, UnusableSourceOrFormatMismatchFailsWithoutWriting) {
  CountingSink sink(2);
  auto corrupt = MakeNullSource(SoundStatus::Corrupt);
  EXPECT_EQ(Transfer(*corrupt, sink).result, platform::kTaskFailed);

  auto mono = RampSource(44100, 1, 100);
  const auto out = TransferAdapted(mono, sink, {});
  EXPECT_EQ(out.result, platform::kTaskFailed);
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
  EXPECT_EQ(TransferAdapted(RampSource(44100, 2, 10), mono, adaptors).result, platform::kTaskDone);
  EXPECT_EQ(calls, (std::vector<std::string>{"ch1", "rate22050"}));

  calls.clear();
  LMemorySoundSink stereo(22050, 2);
  EXPECT_EQ(TransferAdapted(RampSource(44100, 1, 10), stereo, adaptors).result,
            platform::kTaskDone);
  EXPECT_EQ(calls, (std::vector<std::string>{"rate22050", "ch2"}));
  EXPECT_EQ(stereo.framesWritten(), 10);
}

}  // namespace
}  // namespace quillet::audio
