// 16-bit audio moved as bytes (kernel copies between files) must leave the store
// exactly as moving the samples would: the same sample file, peaks and audio.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "audio/transfer.h"
#include "core_fixture.h"
#include "platform/file_copy.h"

namespace quillet::core {
namespace {

using quillet::testing::ReadFileBytes;
using quillet::testing::WriteFileBytes;
using testing::ReadAll;

// 16-bit PCM in a file behind a header of odd length, read as samples or offered as
// bytes. frames may claim more than the file holds (a file cut short meanwhile).
class Pcm16FileSource final : public audio::LSoundSource {
 public:
  Pcm16FileSource(const std::filesystem::path& file, int channels, FrameCount frames, bool offerBytes)
      : LSoundSource(44100, channels, audio::kFilePeakBound),
        fd_(::open(file.c_str(), O_RDONLY | O_CLOEXEC)),
        frames_(frames),
        offerBytes_(offerBytes) {}
  ~Pcm16FileSource() override { ::close(fd_); }

  void read(Sample* out, FrameCount frames) override {
    const std::size_t n = static_cast<std::size_t>(frames * channels());
    std::vector<std::int16_t> words(n);
    const auto got = ::pread(fd_, words.data(), n * 2, kHeader + pos_ * channels() * 2);
    if (got < static_cast<ssize_t>(n * 2)) Fail("short file");
    for (std::size_t i = 0; i < n; ++i) out[i] = Sample{words[i]} * 16;
    pos_ += frames;
  }
  FramePos position() const override { return pos_; }
  FrameCount length() const override { return frames_; }
  void seek(FramePos frame) override { pos_ = frame; }
  audio::Pcm16Span Pcm16At(FrameCount max) override {
    if (!offerBytes_) return {};
    return {fd_, kHeader + pos_ * channels() * 2, std::min(max, frames_ - pos_)};
  }

  static constexpr std::int64_t kHeader = 45;

 private:
  int fd_;
  FrameCount frames_;
  FramePos pos_ = 0;
  bool offerBytes_;
};

std::vector<Sample> Words(const std::vector<Sample>& samples) {
  std::vector<Sample> v = samples;
  for (Sample& x : v) x = std::clamp(x / 16, -32768, 32767) * 16;
  return v;
}

void WritePcm16File(const std::filesystem::path& file, const std::vector<Sample>& samples) {
  std::string bytes(Pcm16FileSource::kHeader, 'h');
  for (Sample s : samples) {
    const auto w = static_cast<std::uint16_t>(s / 16);
    bytes.push_back(static_cast<char>(w & 0xFF));
    bytes.push_back(static_cast<char>(w >> 8));
  }
  WriteFileBytes(file, bytes);
}

class ByteCopy : public ::testing::Test, protected testing::StoreFixture {
 protected:
  AudioChain Load(audio::LSoundSource& source) {
    AudioChain chain(&store);
    auto sink = ChainOpenSink(chain, 44100, source.channels());
    last = audio::Transfer(source, *sink);
    if (last.done())
      EXPECT_TRUE(sink->Finish()) << sink->failureMessage();
    else
      sink->Abandon();
    return chain;
  }
  audio::TransferOutcome last;
};

// Lengths around the peak block (256 frames), the copy step and the sink's mapping
// chunk; full-scale words at both ends of the range.
TEST_F(ByteCopy, LoadingBytesGivesTheFilesOfLoadingSamples) {
  const struct {
    int channels;
    FrameCount frames;
  } cases[] = {{1, 1}, {2, 255}, {2, 256 * 3 + 7}, {3, 1000}, {1, (1 << 19) + 300}, {2, audio::kSpanFrames + 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " x " + std::to_string(c.frames));
    std::vector<Sample> samples = Words(quillet::testing::Noise(c.channels, c.frames, 7).samples());
    samples.front() = -32768 * 16;
    samples.back() = 32767 * 16;
    const auto file = dir / "in.raw";
    WritePcm16File(file, samples);
    Pcm16FileSource asBytes(file, c.channels, c.frames, true), asSamples(file, c.channels, c.frames, false);
    const AudioChain a = Load(asBytes), b = Load(asSamples);
    ASSERT_EQ(a.segments().size(), 1u);
    ASSERT_EQ(b.segments().size(), 1u);
    const FileId fa = a.segments()[0].fileId, fb = b.segments()[0].fileId;
    EXPECT_EQ(ReadFileBytes(store.SampleFilePath(fa)), ReadFileBytes(store.SampleFilePath(fb)));
    EXPECT_EQ(ReadFileBytes(store.PeakFilePath(fa)), ReadFileBytes(store.PeakFilePath(fb)));
    EXPECT_EQ(store.PeakSummaryOf(fa)->bytes, store.PeakSummaryOf(fb)->bytes);
    EXPECT_EQ(ReadAll(a, 0, c.frames), samples);
  }
}

// A chain read as bytes where it can (unity gain over 2-byte files) and as samples
// elsewhere (silence, gain) copies exactly; a wider file at the end widens a sample
// file that copies filled.
TEST_F(ByteCopy, ChainsMixingCopiedAndComputedStretchesCopyExactly) {
  const std::vector<Sample> pcm = Words(quillet::testing::Noise(2, 40000, 3).samples());
  AudioChain wide = testing::Written(store, 2, std::vector<Sample>(400, 600000));  // three bytes a sample
  AudioChain chain = testing::Written(store, 2, pcm);
  ChainInsertSilence(chain, 10000, 300);
  ChainScaleRangeGain(chain, 20000, 25000, 50);
  ASSERT_TRUE(ChainInsert(chain, ChainLength(chain), wide));
  const FrameCount length = ChainLength(chain);
  const std::vector<Sample> expected = ReadAll(chain, 0, length);

  auto source = ChainOpenSource(chain);
  source->seek(10);
  AudioChain copy(&store);
  auto sink = ChainOpenSink(copy, 44100, 2);
  ASSERT_TRUE(audio::Transfer(*source, *sink).done());
  ASSERT_TRUE(sink->Finish());
  const int fd = ::open(store.SampleFilePath(copy.segments()[0].fileId).c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(ReadSampleFileLayout(fd).width, 3);
  ::close(fd);
  EXPECT_EQ(ReadAll(copy, 0, length - 10), std::vector<Sample>(expected.begin() + 20, expected.end()));
}

// A file that ends before its audio fails the load as a read does, with the frames the
// file holds copied and nothing past them.
TEST_F(ByteCopy, AFileCutShortFailsAsAReadWould) {
  const std::vector<Sample> samples = Words(quillet::testing::Noise(2, 5000, 5).samples());
  const auto file = dir / "cut.raw";
  WritePcm16File(file, samples);
  ::truncate(file.c_str(), Pcm16FileSource::kHeader + 3000 * 4 + 3);  // part of a frame too
  Pcm16FileSource source(file, 2, 5000, true);
  const AudioChain chain = Load(source);
  EXPECT_EQ(last.result, platform::kTaskFailed);
  EXPECT_EQ(last.message, "short file");
  EXPECT_EQ(last.frames, 3000);
  EXPECT_TRUE(chain.empty());
}

TEST(FileCopy, CopiesAStretchAndStopsAtTheEndOfItsSource) {
  quillet::testing::TempDir dir;
  WriteFileBytes(dir / "in", "0123456789");
  WriteFileBytes(dir / "out", "abcdefgh");
  const int in = ::open((dir / "in").c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open((dir / "out").c_str(), O_RDWR | O_CLOEXEC);
  platform::CopyResult r = platform::CopyFileBytes(in, 2, out, 4, 3);
  EXPECT_EQ(r.bytes, 3u);
  EXPECT_EQ(r.error, 0);
  r = platform::CopyFileBytes(in, 8, out, 7, 100);
  EXPECT_EQ(r.bytes, 2u);
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(::lseek(in, 0, SEEK_CUR), 0);  // positions untouched
  ::close(in);
  ::close(out);
  EXPECT_EQ(ReadFileBytes(dir / "out"), "abcd234" "89");
}

}  // namespace
}  // namespace quillet::core
