// Our decoder against mpg123 on lame-encoded files, with the ISO 11172-4 "full accuracy"
// bounds: RMS error below 2^-15 / sqrt(12) of full scale and no sample off by more than 2^-14.

#include <cmath>
#include <cstdint>

#include "formats/detail/mp3_bits.h"
#include "mp3_test_util.h"

namespace quillet::testing {
namespace {

struct ConformanceCase {
  const char* name;
  int channels;
  const std::vector<std::string>* signal;
  std::vector<std::string> lame;
  int version;             // expected MPEG version (0 = 1, 1 = 2, 2 = 2.5)
  bool expectShortBlocks;  // the signal must make lame switch to short blocks
};

void PrintTo(const ConformanceCase& c, std::ostream* os) { *os << c.name; }

class Mp3Conformance : public ::testing::TestWithParam<ConformanceCase> {};

TEST_P(Mp3Conformance, MatchesReferenceWithinFullAccuracy) {
  QUILLET_REQUIRE_MP3_TOOLS();
  const ConformanceCase& c = GetParam();
  TempDir dir;
  const auto mp3 = MakeMp3(dir, c.name, c.channels, *c.signal, c.lame);
  const std::vector<float> ref = Mpg123Decode(dir, mp3);
  const OurDecoding ours = DecodeOurs(mp3);

  auto bytes = platform::FileByteSource::Open(mp3);
  ASSERT_TRUE(bytes);
  formats::Mp3Layout layout;
  ASSERT_TRUE(formats::ScanMp3Layout(*bytes, layout));
  EXPECT_EQ(layout.first.version, c.version);
  if (c.expectShortBlocks) {
    EXPECT_TRUE(ours.blockTypes & 4) << "no short blocks in the test file";
  }

  ExpectFullAccuracy(ours.samples, ref);
}

INSTANTIATE_TEST_SUITE_P(
    LameFiles, Mp3Conformance,
    ::testing::Values(
        ConformanceCase{"mpeg1_joint_cbr128", 2, &kToneSweep, {"-b", "128", "-m", "j"}, 0, false},
        ConformanceCase{"mpeg1_stereo_cbr96", 2, &kToneSweep, {"-b", "96", "-m", "s"}, 0, false},
        ConformanceCase{"mpeg1_mono_cbr64", 1, &kToneSweep, {"-b", "64", "-m", "m"}, 0, false},
        ConformanceCase{"mpeg1_forced_ms_320", 2, &kPinkNoise, {"-b", "320", "-m", "f"}, 0, false},
        ConformanceCase{"mpeg1_vbr_v2", 2, &kToneSweep, {"-V", "2"}, 0, false},
        ConformanceCase{"mpeg1_vbr_without_xing", 2, &kPinkNoise, {"-V", "4", "-t"}, 0, false},
        ConformanceCase{"mpeg1_48k_vbr_v0", 2, &kPinkNoise, {"--resample", "48", "-V", "0"}, 0, false},
        ConformanceCase{"mpeg1_32k_short_blocks", 2, &kClicks, {"--resample", "32", "-b", "48"}, 0, true},
        ConformanceCase{"mpeg1_short_blocks", 2, &kClicks, {"-b", "128"}, 0, true},
        ConformanceCase{"mpeg2_22k_joint", 2, &kToneSweep, {"--resample", "22.05", "-b", "64", "-m", "j"}, 1, false},
        ConformanceCase{"mpeg2_24k_cbr48", 2, &kToneSweep, {"--resample", "24", "-b", "48"}, 1, false},
        ConformanceCase{"mpeg2_16k_vbr", 2, &kPinkNoise, {"--resample", "16", "-V", "5"}, 1, false},
        ConformanceCase{"mpeg2_22k_short_blocks", 2, &kClicks, {"--resample", "22.05", "-b", "64"}, 1, true},
        ConformanceCase{"mpeg25_11k", 2, &kToneSweep, {"--resample", "11.025", "-b", "32"}, 2, false},
        ConformanceCase{"mpeg25_12k_joint", 2, &kToneSweep, {"--resample", "12", "-b", "32", "-m", "j"}, 2, false},
        ConformanceCase{"mpeg25_8k_mono", 1, &kToneSweep, {"--resample", "8", "-b", "24", "-m", "m"}, 2, false},
        ConformanceCase{"mpeg25_8k_short_blocks", 2, &kClicks, {"--resample", "8", "-b", "16"}, 2, true},
        ConformanceCase{"mpeg25_12k_short_blocks", 2, &kClicks, {"--resample", "12", "-b", "32"}, 2, true}),
    [](const auto& param) { return std::string(param.param.name); });


// The ISO 11172-4 streams no Debian encoder makes (tests/formats/data), through the source as
// a document reads them, against the reference decoder's 16-bit output. Our samples are
// rounded to 16 bits as a 16-bit decoder would output them; the bounds are the standard's
// RMS (2^-15 / sqrt(12)) and at most one 16-bit step, tighter than its 2^-14.
struct IsoStream {
  const char* name;
  int frames;      // layer III frames in the stream, counted from its sync words
  int monoFrames;  // frames in single-channel mode
};

void PrintTo(const IsoStream& c, std::ostream* os) { *os << c.name; }

struct Agreement {
  int skipped = -1;    // our frames before the reference's first, -1 when none fits
  int frames = 0;      // frames compared
  double rms = 0;      // of the difference, full scale 1.0
  int worstSteps = 0;  // largest difference in 16-bit steps
  double power = 0;    // of the reference, full scale 1.0
};

// Lines the reference up with our stereo output, trying each count of leading frames it may
// lack; a reference frame holds 1 or 2 channels as its frame in the stream does.
Agreement Align(const std::vector<audio::Sample>& ours, const std::vector<int16_t>& ref,
                const std::vector<uint8_t>& frameChannels, int spf) {
  Agreement best;
  for (int skip = 0; skip <= 4 && skip < static_cast<int>(frameChannels.size()); ++skip) {
    Agreement a{skip};
    double sum = 0, power = 0;
    size_t r = 0;
    for (size_t f = static_cast<size_t>(skip); f < frameChannels.size(); ++f, ++a.frames) {
      const int fc = frameChannels[f];
      if (r + static_cast<size_t>(spf * fc) > ref.size()) break;
      for (int i = 0; i < spf; ++i)
        for (int ch = 0; ch < 2; ++ch) {
          const double mine = std::nearbyint(ours[(f * static_cast<size_t>(spf) + static_cast<size_t>(i)) * 2 +
                                                  static_cast<size_t>(ch)] / 16.0);
          const double theirs = ref[r + static_cast<size_t>(i * fc + std::min(ch, fc - 1))];
          const double d = std::clamp(mine, -32768.0, 32767.0) - theirs;
          sum += d * d;
          power += theirs * theirs;
          a.worstSteps = std::max(a.worstSteps, static_cast<int>(std::abs(d)));
        }
      r += static_cast<size_t>(spf * fc);
    }
    if (r != ref.size() || a.frames == 0) continue;  // the reference must be used up
    const double n = 2.0 * a.frames * spf;
    a.rms = std::sqrt(sum / n) / 32768.0;
    a.power = power / n / (32768.0 * 32768.0);
    if (best.skipped < 0 || a.rms < best.rms) best = a;
  }
  return best;
}

class Mp3IsoStream : public ::testing::TestWithParam<IsoStream> {};

TEST_P(Mp3IsoStream, MatchesReferenceWithinFullAccuracy) {
  const IsoStream& c = GetParam();
  const std::string bits = ReadTestData(std::string(c.name) + ".bit");
  const std::string pcm = ReadTestData(std::string(c.name) + ".pcm");
  ASSERT_FALSE(bits.empty() || pcm.empty()) << "missing test data";
  std::vector<int16_t> ref(pcm.size() / 2);
  for (size_t i = 0; i < ref.size(); ++i)
    ref[i] = static_cast<int16_t>(static_cast<uint8_t>(pcm[2 * i]) | static_cast<uint8_t>(pcm[2 * i + 1]) << 8);

  auto src = formats::OpenMp3Source(std::make_unique<platform::MemoryByteSource>(bits));
  ASSERT_TRUE(src->ready());
  const auto& layout = static_cast<formats::LMP3SoundSource&>(*src).layout();
  // The document takes the most channels any frame has and keeps every frame.
  EXPECT_EQ(src->channels(), 2);
  EXPECT_EQ(src->length(), static_cast<audio::FrameCount>(c.frames) * 1152);
  ASSERT_EQ(layout.frameChannels.size(), static_cast<size_t>(c.frames));
  EXPECT_EQ(std::count(layout.frameChannels.begin(), layout.frameChannels.end(), 1), c.monoFrames);
  EXPECT_TRUE(static_cast<formats::SourceNotices&>(static_cast<formats::LMP3SoundSource&>(*src)).notices().empty());

  const Agreement a = Align(ReadAll(*src), ref, layout.frameChannels, 1152);
  ASSERT_GE(a.skipped, 0) << "the reference does not line up with our frames";
  EXPECT_GE(a.frames, c.frames - 1);
  EXPECT_LT(a.rms, std::ldexp(1.0, -15) / std::sqrt(12.0));
  EXPECT_LE(a.worstSteps, 1);
  EXPECT_GT(a.power, 1e-4);  // not two silences agreeing
}

INSTANTIATE_TEST_SUITE_P(Iso11172, Mp3IsoStream,
                         ::testing::Values(IsoStream{"l3-he_mode", 128, 28}, IsoStream{"l3-he_free", 68, 0}),
                         [](const auto& param) {
                           std::string n = param.param.name;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });


// lame never codes intensity stereo. Setting the intensity bit of its joint-stereo frames
// makes streams whose right channel above its last non-zero line is intensity coded, with
// positions from its scale factors: every value appears, the illegal ones included, and
// MPEG-2 reads that channel's scale factors by the intensity tables. libmad is the
// reference here: mpg123 and ffmpeg decode the illegal MPEG-2 positions as legal ones.
// The short-block cases are low-passed: the top band carries no scale factor, and libmad
// gives it position 0 where the ISO reference decoder (and we) repeat the band below.
// Streams where libmad drops frames as damaged cannot be compared; these have none.
struct IntensityCase {
  const char* name;
  const std::vector<std::string>* signal;
  std::vector<std::string> lame;
  bool shortBlocks;
};

void PrintTo(const IntensityCase& c, std::ostream* os) { *os << c.name; }

// Signals quiet enough that intensity positions cannot push the reference into clipping.
const std::vector<std::string> kQuietSweep = {"synth", "3", "sine", "300-3000", "sine", "5000", "gain", "-8"};
const std::vector<std::string> kQuietClicks = {"synth", "0.05", "square", "50", "pad",  "0",
                                               "0.25",  "repeat", "8", "gain", "-10"};

// Joint stereo coding needs one block type and mixed flag in both channels of a granule
// (libmad refuses the frame otherwise); lame's plain left/right frames need not have them.
bool ChannelsShareBlockTypes(const uint8_t* frame, const formats::Mp3Header& h) {
  const bool mpeg1 = h.version == 0;
  formats::mp3::BitReader bits(frame + 4 + (h.crc ? 2 : 0), static_cast<size_t>(h.sideInfoBytes()));
  bits.Skip(mpeg1 ? 9 + 3 + 8 : 8 + 2);  // main data begin, private bits, scfsi
  for (int gr = 0; gr < (mpeg1 ? 2 : 1); ++gr) {
    int kind[2];
    for (int ch = 0; ch < 2; ++ch) {
      bits.Skip(12 + 9 + 8 + (mpeg1 ? 4 : 9));
      // Window switching: block type and mixed flag, then 19 bits; otherwise 22 bits.
      kind[ch] = bits.ReadBit() ? 4 + static_cast<int>(bits.Read(3)) : 0;
      bits.Skip((kind[ch] ? 19 : 22) + (mpeg1 ? 3 : 2));
    }
    if (kind[0] != kind[1]) return false;
  }
  return true;
}

class Mp3IntensityStereo : public ::testing::TestWithParam<IntensityCase> {};

TEST_P(Mp3IntensityStereo, MatchesLibmadWithinFullAccuracy) {
  QUILLET_REQUIRE_PROGRAMS("sox", "lame", "mpg123", "madplay");
  const IntensityCase& c = GetParam();
  TempDir dir;
  std::vector<std::string> lame = c.lame;
  lame.insert(lame.end(), {"-m", "j", "-t"});
  std::string bytes = ReadFileBytes(MakeMp3(dir, c.name, 2, *c.signal, lame));
  {
    platform::MemoryByteSource view(bytes);
    formats::Mp3Layout layout;
    ASSERT_TRUE(formats::ScanMp3Layout(view, layout));
    int flipped = 0;
    for (uint64_t offset : layout.frames) {
      const auto* frame = reinterpret_cast<const uint8_t*>(bytes.data() + offset);
      formats::Mp3Header h;
      ASSERT_TRUE(formats::ParseMp3Header(frame, h));
      if (h.mode != 1 || !ChannelsShareBlockTypes(frame, h)) continue;
      bytes[offset + 3] = static_cast<char>(frame[3] | 0x10);
      ++flipped;
    }
    ASSERT_GT(flipped, static_cast<int>(layout.frames.size()) / 2) << "lame wrote few joint-stereo frames";
  }
  const auto mp3 = dir / (std::string(c.name) + "_is.mp3");
  WriteFileBytes(mp3, bytes);
  const OurDecoding ours = DecodeOurs(mp3);
  if (c.shortBlocks) {
    EXPECT_TRUE(ours.blockTypes & 4) << "no short blocks in the test file";
  }
  ExpectFullAccuracy(ours.samples, MadplayDecode(dir, mp3), /*refClips=*/true);
}

INSTANTIATE_TEST_SUITE_P(
    LameJointStereo, Mp3IntensityStereo,
    ::testing::Values(IntensityCase{"mpeg1_long", &kQuietSweep, {"-b", "128"}, false},
                      IntensityCase{"mpeg1_short", &kQuietClicks, {"-b", "128", "--lowpass", "14"}, true},
                      IntensityCase{"mpeg2_long", &kQuietSweep, {"--resample", "22.05", "-b", "64"}, false},
                      IntensityCase{"mpeg2_short", &kClicks, {"--resample", "22.05", "-b", "48", "--lowpass", "9"}, true},
                      IntensityCase{"mpeg25_long", &kQuietSweep, {"--resample", "11.025", "-b", "32"}, false}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace quillet::testing
