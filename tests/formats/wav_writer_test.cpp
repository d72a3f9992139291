#include "formats/wav_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "fixtures/temp_dir.h"
#include "formats/wav_reader.h"
#include "wav_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;
using audio::Sample;
using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

std::vector<Sample> Ramp(std::size_t n, Sample step, Sample start) {
  std::vector<Sample> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = start + static_cast<Sample>(i % 200) * step;  // stays in range
  return v;
}

std::vector<Sample> WriteRead(const std::filesystem::path& file, int bits, int channels, const std::vector<Sample>& in,
                              ParseLog* log = nullptr) {
  {
    auto sink = MakeWavePcmSink(file, 48000, 0, bits, channels);
    sink->write(in.data(), static_cast<audio::FrameCount>(in.size()) / channels);
    EXPECT_TRUE(sink->Finish()) << sink->failureMessage();
  }
  auto src = OpenWaveFile(file, log);
  EXPECT_TRUE(src->ready());
  return ReadAll(*src);
}

// Every width keeps what it can hold exactly, across block boundaries and frame counts
// around the internal block size.
TEST(WavWriter, EachWidthRoundTripsWhatItCanHold) {
  TempDir dir;
  struct Case {
    int bits;
    Sample step;  // one unit of the width in internal samples
  };
  for (const Case c : {Case{8, 4096}, Case{16, 16}, Case{24, 1}, Case{32, 1}}) {
    for (std::size_t frames : {0, 1, 8191, 8192, 8193}) {
      SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(frames) + " frames");
      const auto in = Ramp(2 * frames, c.step, -100 * c.step);
      ParseLog log;
      EXPECT_EQ(WriteRead(dir / "a.wav", c.bits, 2, in, &log), in);
      EXPECT_FALSE(log.HasCorrections()) << log.Text();
    }
  }
}

TEST(WavWriter, LevelsBeyondFullScaleSaturate) {
  TempDir dir;
  const std::vector<Sample> in = {audio::kSampleMax, audio::kSampleMin, 3 * audio::kSampleMax, -3 * audio::kSampleMax};
  EXPECT_EQ(WriteRead(dir / "8.wav", 8, 1, in), (std::vector<Sample>{127 * 4096, -128 * 4096, 127 * 4096, -128 * 4096}));
  EXPECT_EQ(WriteRead(dir / "16.wav", 16, 1, in), (std::vector<Sample>{524272, -524288, 524272, -524288}));
  EXPECT_EQ(WriteRead(dir / "24.wav", 24, 1, in), (std::vector<Sample>{524287, -524288, 524287, -524288}));
  EXPECT_EQ(WriteRead(dir / "32.wav", 32, 1, in), (std::vector<Sample>{524287, -524288, 524288, -524288}));
}

TEST(WavWriter, TwentyFourBitHeaderIsTheFixedFortySixBytes) {
  TempDir dir;
  const auto in = Ramp(3, 1, 0);
  WriteRead(dir / "a.wav", 24, 1, in);
  const std::string b = ReadFileBytes(dir / "a.wav");
  ASSERT_EQ(b.size(), 46u + 9 + 1);  // odd data gets its pad byte
  const auto* p = reinterpret_cast<const unsigned char*>(b.data());
  EXPECT_EQ(b.substr(0, 4), "RIFF");
  EXPECT_EQ(platform::LoadLE32(p + 4), 9u + 38 + 1);
  EXPECT_EQ(platform::LoadLE32(p + 16), 18u);
  EXPECT_EQ(platform::LoadLE16(p + 20), 1);
  EXPECT_EQ(platform::LoadLE16(p + 32), 3);
  EXPECT_EQ(platform::LoadLE16(p + 34), 24);
  EXPECT_EQ(platform::LoadLE16(p + 36), 0);
  EXPECT_EQ(b.substr(38, 4), "data");
  EXPECT_EQ(platform::LoadLE32(p + 42), 9u);
}

TEST(WavWriter, AnUnfinishedSaveNeverReplacesTheTarget) {
  TempDir dir;
  WriteFileBytes(dir / "a.wav", "old contents");
  {
    auto sink = MakeWavePcmSink(dir / "a.wav", 44100, 0, 16, 1);
    const auto in = Ramp(1000, 16, 0);
    sink->write(in.data(), 1000);
    EXPECT_EQ(ReadFileBytes(dir / "a.wav"), "old contents");
    dynamic_cast<LWaveFileSink&>(*sink).Abandon();
  }
  EXPECT_EQ(ReadFileBytes(dir / "a.wav"), "old contents");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "temporary file left behind";

  auto lost = MakeWavePcmSink(dir / "missing" / "b.wav", 44100, 0, 16, 1);
  EXPECT_TRUE(lost->failed());
  EXPECT_FALSE(lost->failureMessage().empty());
}

// A write that fails part-way (file size limit standing in for a full disk) is
// reported and leaves the old file.
TEST(WavWriter, AFailedWriteIsReportedAndTheOldFileSurvives) {
  TempDir dir;
  WriteFileBytes(dir / "a.wav", "old contents");
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto* prev = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 200000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool finished;
  std::string message;
  {
    auto sink = MakeWavePcmSink(dir / "a.wav", 44100, 0, 16, 2);
    const std::vector<Sample> block(2 * 8192, 160);
    for (int i = 0; i < 20; ++i) sink->write(block.data(), 8192);
    finished = sink->Finish();
    message = sink->failureMessage();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, prev);
  EXPECT_FALSE(finished);
  EXPECT_NE(message.find("Write error"), std::string::npos) << message;
  EXPECT_EQ(ReadFileBytes(dir / "a.wav"), "old contents");
}

TEST(WavWriter, FramesKeptResumeAnExistingFileAndTruncateCuts) {
  TempDir dir;
  const auto first = Ramp(2 * 100, 16, 0);
  WriteRead(dir / "a.wav", 16, 2, first);
  {
    auto sink = MakeWavePcmSink(dir / "a.wav", 48000, 60, 16, 2);
    EXPECT_EQ(sink->framesWritten(), 60);
    const auto more = Ramp(2 * 10, 16, 5000 * 16);
    sink->write(more.data(), 10);
    sink->truncate(65);
    EXPECT_EQ(sink->framesWritten(), 65);
    EXPECT_TRUE(sink->Finish());
  }
  auto src = OpenWaveFile(dir / "a.wav");
  ASSERT_EQ(src->length(), 65);
  const auto all = ReadAll(*src);
  EXPECT_EQ(all[119], first[119]);
  EXPECT_EQ(all[120], 5000 * 16);
}

}  // namespace
}  // namespace quillet::formats
