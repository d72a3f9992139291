#include "audio/memory.h"
#include "audio/sound.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace quillet::audio {
namespace {

class Probe final : public LSoundSource {
 public:
  Probe(std::int32_t rate, int channels, int* alive) : LSoundSource(rate, channels, 0), alive_(alive) {
    if (alive_) ++*alive_;
  }
  ~Probe() override {
    if (alive_) --*alive_;
  }
  void read(Sample*, FrameCount) override {}
  FramePos position() const override { return 0; }
  FrameCount length() const override { return 0; }
  void seek(FramePos) override {}

 private:
  int* alive_;
};

TEST(SoundSource, InvalidRateOrChannelsAreReplacedAndMarkedCorrupt) {
  struct Case {
    std::int32_t rate;
    int channels;
    std::int32_t wantRate;
    int wantChannels;
    SoundStatus want;
  };
  const Case cases[] = {{48000, 2, 48000, 2, SoundStatus::Ready},
                        {0, 2, 44100, 2, SoundStatus::Corrupt},
                        {-5, 1, 44100, 1, SoundStatus::Corrupt},
                        {8000, 0, 8000, 1, SoundStatus::Corrupt},
                        {8000, 256, 8000, 1, SoundStatus::Corrupt},
                        {8000, 255, 8000, 255, SoundStatus::Ready}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz " << c.channels << " ch");
    Probe p(c.rate, c.channels, nullptr);
    EXPECT_EQ(p.sampleRate(), c.wantRate);
    EXPECT_EQ(p.channels(), c.wantChannels);
    EXPECT_EQ(p.status(), c.want);
  }
}

TEST(SoundSource, NullSourceIsSilentAndEmpty) {
  SourceHandle h = MakeNullSource(SoundStatus::CannotOpen);
  EXPECT_EQ(h->status(), SoundStatus::CannotOpen);
  EXPECT_EQ(h->sampleRate(), 11025);
  EXPECT_EQ(h->channels(), 1);
  EXPECT_EQ(h->peakBound(), 0x200000u);
  std::vector<Sample> buf(5, 99);
  h->seek(100);
  h->read(buf.data(), 5);
  EXPECT_EQ(buf, std::vector<Sample>(5, 0));
  EXPECT_EQ(h->position(), 0);
  EXPECT_EQ(h->length(), 0);
}

TEST(SoundSource, MemorySourceReadsZerosBeforeStartAndPastEnd) {
  AudioBlock block(2, 6);
  for (int f = 0; f < 6; ++f) block(0, f) = block(1, f) = f + 1;
  LMemorySoundSource src(44100, std::move(block));
  src.seek(-4);
  std::vector<Sample> buf(20, -1);
  src.read(buf.data(), 10);
  EXPECT_EQ(buf, (std::vector<Sample>{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6}));
  EXPECT_EQ(src.position(), 6);
  src.read(buf.data(), 3);
  EXPECT_EQ(std::vector<Sample>(buf.begin(), buf.begin() + 6), std::vector<Sample>(6, 0));
  EXPECT_EQ(src.position(), 9);
}

TEST(Handles, LastReleaseDestroysAndAssignmentTakesBeforeDropping) {
  int alive = 0;
  {
    SourceHandle a(MakeRef<Probe>(44100, 1, &alive));
    EXPECT_EQ(a->refCount(), 1u);
    SourceHandle b = a;
    EXPECT_EQ(a->refCount(), 2u);
    SourceHandle& alias = a;
    a = alias;  // self-assignment must not destroy
    b = a;
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(a->refCount(), 2u);
    a.reset();
    EXPECT_EQ(alive, 1);
    b = SourceHandle(MakeRef<Probe>(44100, 1, &alive));  // old one goes, new one lives
    EXPECT_EQ(alive, 1);
  }
  EXPECT_EQ(alive, 0);
}

TEST(Handles, ReleaseToEmptyLeavesAReadableEmptySource) {
  int alive = 0;
  SourceHandle h(MakeRef<Probe>(44100, 2, &alive));
  ReleaseToEmpty(h);
  EXPECT_EQ(alive, 0);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->status(), SoundStatus::Empty);
  EXPECT_EQ(h->length(), 0);
}

TEST(Handles, CountsStayExactUnderConcurrentCopies) {
  int alive = 0;
  SourceHandle h(MakeRef<Probe>(44100, 1, &alive));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([h] {
      for (int i = 0; i < 20000; ++i) {
        SourceHandle copy = h;
        SourceHandle other = copy;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(h->refCount(), 1u);
  h.reset();
  EXPECT_EQ(alive, 0);
}

TEST(SoundSink, BadChannelsOrRateFailWithAMessage) {
  for (auto [rate, ch] : {std::pair{44100u, 0}, {44100u, 300}, {0u, 2}}) {
    LMemorySoundSink sink(rate, ch);
    EXPECT_TRUE(sink.failed());
    EXPECT_FALSE(sink.failureMessage().empty());
    EXPECT_GE(sink.channels(), 1);
    const Sample s[2] = {1, 2};
    sink.write(s, 1);
    EXPECT_EQ(sink.framesWritten(), 0);
  }
}

}  // namespace
}  // namespace quillet::audio
