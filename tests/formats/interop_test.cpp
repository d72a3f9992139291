// AIFF, AU, GSM, VOX and raw files against sox and ffmpeg: files sox writes read as
// sox reads them, and files we write read by sox (and ffmpeg) as we read them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>

#include "fixtures/programs.h"
#include "fixtures/temp_dir.h"
#include "formats/simple_formats.h"
#include "raw_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;
using audio::Sample;
using quillet::testing::ReadFileBytes;
using quillet::testing::TempDir;
using Path = std::filesystem::path;

constexpr double kExact = std::numeric_limits<double>::infinity();

struct Interop {
  const char* name;
  const char* file;
  int rate, channels;
  // sox's options for the file's coding; for headerless files also what sox reads by.
  std::string soxCoding;
  bool headerless;
  std::function<audio::SourceHandle(const Path&)> open;
  // Null: only files sox writes are checked.
  std::function<audio::SinkHandle(const Path&, int rate, int channels)> make;
  bool lossless;      // sox decodes our file to the very input
  int rawCodec;       // >= 0: sox encodes 16-bit input to our bytes exactly
  double ffmpegSnr;   // ffmpeg against our decoding of our file: kExact, a floor in dB, or 0
  // ffmpeg's options to read a file that has no signature to probe.
  const char* ffmpegInput = "";
};

std::string SoxReadOptions(const Interop& c) {
  if (!c.headerless) return "";
  return "-r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) + " " + c.soxCoding;
}

void PrintTo(const Interop& c, std::ostream* os) { *os << c.name; }

class FormatInterop : public ::testing::TestWithParam<Interop> {};

TEST_P(FormatInterop, SoxFilesReadAsSoxReadsThemAndOursReadElsewhereAsWeReadThem) {
  QUILLET_REQUIRE_PROGRAMS("sox", "ffmpeg");
  const Interop& c = GetParam();
  TempDir dir;
  const Path theirs = dir / (std::string("sox.") + c.file);
  const std::string make = "sox -R -n -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) +
                           " " + c.soxCoding + " " + Quote(theirs) + " synth 0.5 sine 300 sine 1200 vol 0.8";
  ASSERT_EQ(std::system(make.c_str()), 0) << make;
  auto src = c.open(theirs);
  ASSERT_TRUE(src->ready());
  EXPECT_EQ(src->sampleRate(), c.rate);
  EXPECT_EQ(src->channels(), c.channels);
  const auto ref = SoxDecode(theirs, SoxReadOptions(c));
  ASSERT_GE(ref.size(), static_cast<std::size_t>(c.rate / 4));
  EXPECT_EQ(ReadAll(*src), ref);
  if (!c.make) return;

  const Path mine = dir / (std::string("ours.") + c.file);
  const auto in = TestSignal(c.rate / 2, c.channels, 0.9);
  ASSERT_TRUE(WriteAllTo(*c.make(mine, c.rate, c.channels), in));
  auto back = c.open(mine);
  ASSERT_TRUE(back->ready());
  const auto ours = ReadAll(*back);
  const auto sox = SoxDecode(mine, SoxReadOptions(c));
  EXPECT_EQ(sox, ours);
  if (c.lossless) {
    EXPECT_EQ(sox, in);
  }
  if (c.rawCodec >= 0) {
    const Path pcm = dir / "in.raw", encoded = dir / "sox.enc";
    ASSERT_TRUE(WriteAllTo(*MakeRawSink(pcm, c.rate, c.channels, kRawPcm16LE), in));
    const std::string cmd = "sox -D -t raw -r " + std::to_string(c.rate) + " -c " + std::to_string(c.channels) +
                            " -e signed -b 16 -L " + Quote(pcm) + " " + SoxReadOptions(c) + " " + Quote(encoded);
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_TRUE(ReadFileBytes(encoded) == ReadFileBytes(mine));
  }
  if (c.ffmpegSnr == kExact) {
    EXPECT_EQ(FfmpegDecode(mine, c.ffmpegInput), ours);
  } else if (c.ffmpegSnr > 0) {
    // A lossy codec may decode a padded last block: the input's length is compared.
    auto ff = FfmpegDecode(mine, c.ffmpegInput);
    ASSERT_GE(ff.size(), in.size());
    ASSERT_GE(ours.size(), in.size());
    ff.resize(in.size());
    EXPECT_GT(SnrOf(std::vector<Sample>(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(in.size())), ff),
              c.ffmpegSnr);
  }
}

audio::SourceHandle Aiff(const Path& p) { return OpenAiffFile(p); }
audio::SourceHandle Au(const Path& p) { return OpenAuFile(p); }
audio::SourceHandle Gsm(const Path& p) { return OpenGsmFile(p); }
audio::SourceHandle Vox(const Path& p) { return OpenVoxFile(p); }
audio::SinkHandle AiffSink(const Path& p, int rate, int ch) { return MakeAiffSink(p, static_cast<std::uint32_t>(rate), ch); }
audio::SinkHandle AuSink(const Path& p, int rate, int ch) { return MakeAuSink(p, static_cast<std::uint32_t>(rate), ch); }
audio::SinkHandle GsmSink(const Path& p, int, int) { return MakeGsmSink(p); }
audio::SinkHandle VoxSink(const Path& p, int rate, int ch) { return MakeVoxSink(p, static_cast<std::uint32_t>(rate), ch); }

Interop Raw(const char* name, int codec, const char* soxCoding) {
  return {name, "raw", 8000, 2, std::string("-t raw ") + soxCoding, true,
          [codec](const Path& p) { return OpenRawFile(p, RawSettings{8000, 2, codec}); },
          [codec](const Path& p, int rate, int ch) {
            return MakeRawSink(p, static_cast<std::uint32_t>(rate), ch, codec);
          },
          codec == kRawPcm16LE || codec == kRawPcm16BE, codec, 0};
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatInterop,
    ::testing::Values(Interop{"aiff", "aiff", 22050, 2, "-b 16", false, Aiff, AiffSink, true, -1, kExact},
                      Interop{"aiff_mono", "aif", 11025, 1, "-b 16", false, Aiff, AiffSink, true, -1, kExact},
                      Interop{"au_s16", "au", 16000, 1, "-e signed -b 16", false, Au, AuSink, true, -1, kExact},
                      Interop{"au_s8", "au", 8000, 2, "-e signed -b 8", false, Au, nullptr, false, -1, 0},
                      Interop{"au_ulaw", "au", 8000, 2, "-e u-law", false, Au, nullptr, false, -1, 0},
                      Interop{"au_alaw", "au", 8000, 2, "-e a-law", false, Au, nullptr, false, -1, 0},
                      Interop{"gsm", "gsm", 8000, 1, "", false, Gsm, GsmSink, false, -1, 30.0, "-f gsm"},
                      Interop{"vox", "vox", 8000, 1, "-t vox", true, Vox, VoxSink, false, -1, 0},
                      Raw("raw_ulaw", kRawMuLaw, "-e u-law -b 8"), Raw("raw_alaw", kRawALaw, "-e a-law -b 8"),
                      Raw("raw_s16le", kRawPcm16LE, "-e signed -b 16 -L"),
                      Raw("raw_s16be", kRawPcm16BE, "-e signed -b 16 -B"),
                      Raw("raw_u8", kRawPcm8Unsigned, "-e unsigned -b 8"),
                      Raw("raw_s8", kRawPcm8Signed, "-e signed -b 8")),
    [](const ::testing::TestParamInfo<Interop>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace quillet::formats
