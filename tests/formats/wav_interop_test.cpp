// Files made by sox, ffmpeg and flac open with the right format and audio, and what we
// write is read back the same way by sox and ffmpeg.
#include <gtest/gtest.h>

#include "fixtures/programs.h"
#include "fixtures/temp_dir.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "raw_test_util.h"

namespace quillet::formats {
namespace {

using namespace testutil;
using audio::Sample;
using quillet::testing::TempDir;

struct Made {
  const char* name;
  std::string command;  // %s is the output file
  int rate, channels;
  Sample tolerance;  // in internal units (16 = one 16-bit step)
};

TEST(WavInterop, FilesFromOtherProgramsOpenWithTheirFormatAndAudio) {
  QUILLET_REQUIRE_PROGRAMS("sox", "ffmpeg", "flac");
  TempDir dir;
  const std::string synth = " synth 0.7 sine 300 sine 450 sine 700 sine 1000 sine 1300 sine 2000 vol 0.8";
  const std::vector<Made> cases = {
      {"u8", "sox -n -r 11025 -c 1 -b 8 %s" + synth, 11025, 1, 0},
      {"s16", "sox -n -r 44100 -c 2 -b 16 %s" + synth, 44100, 2, 0},
      {"s24", "sox -n -r 48000 -c 1 -b 24 %s" + synth, 48000, 1, 1},
      {"s24x6", "sox -n -r 48000 -c 6 -b 24 %s" + synth, 48000, 6, 1},
      {"s32", "sox -n -r 96000 -c 2 -b 32 %s" + synth, 96000, 2, 1},
      {"f32", "sox -n -r 22050 -c 2 -e floating-point -b 32 %s" + synth, 22050, 2, 1},
      {"f64", "sox -n -r 22050 -c 1 -e floating-point -b 64 %s" + synth, 22050, 1, 1},
      {"ulaw", "sox -n -r 8000 -c 1 -e u-law %s" + synth, 8000, 1, 0},
      {"alaw", "sox -n -r 8000 -c 2 -e a-law %s" + synth, 8000, 2, 0},
      {"ima", "sox -n -r 22050 -c 2 -e ima-adpcm %s" + synth, 22050, 2, 0},
      {"ms", "sox -n -r 22050 -c 1 -e ms-adpcm %s" + synth, 22050, 1, 0},
      {"gsm", "sox -n -r 8000 -c 1 -e gsm-full-rate %s" + synth, 8000, 1, 0},
      {"ff24", "ffmpeg -loglevel error -f lavfi -i sine=f=440:d=0.7 -ac 2 -c:a pcm_s24le %s", 44100, 2, 1},
      {"fff", "ffmpeg -loglevel error -f lavfi -i sine=f=440:d=0.7 -c:a pcm_f32le %s", 44100, 1, 1},
      {"flac", "sox -n -r 32000 -c 2 -b 16 %s.flac" + synth + " && flac -s -f -d %s.flac -o %s", 32000, 2, 0},
  };
  for (const Made& m : cases) {
    SCOPED_TRACE(m.name);
    const auto file = dir / (std::string(m.name) + ".wav");
    std::string cmd = m.command;
    for (std::size_t at; (at = cmd.find("%s")) != std::string::npos;) cmd.replace(at, 2, Quote(file));
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    ParseLog log;
    auto src = OpenWaveFile(file, &log);
    ASSERT_TRUE(src->ready()) << log.Text();
    EXPECT_EQ(src->sampleRate(), m.rate);
    EXPECT_EQ(src->channels(), m.channels);
    const auto ref = SoxDecode(file, "", 32);
    EXPECT_EQ(src->length() * m.channels, static_cast<audio::FrameCount>(ref.size()));
    const auto ours = ReadAll(*src);
    EXPECT_EQ(ours.size(), ref.size());
    EXPECT_LE(MaxAbsDiff(ours, ref), m.tolerance);
  }
}

// Every coding we write: our header (no fact chunk, nothing to correct), the audio back
// within the coding's error, seeking into the middle as reading through, and sox and
// ffmpeg reading what we read.
TEST(WavInterop, WhatWeWriteIsReadBackHereAndBySoxAndFfmpeg) {
  QUILLET_REQUIRE_PROGRAMS("sox", "ffmpeg");
  TempDir dir;
  std::vector<WaveFormat> formats;
  // Block sizes grow with the rate: both sizes of block are written and sought in.
  for (const std::uint32_t rate : {8000u, 22050u})
    for (const WaveFormat& f : EncodableFormats(rate, 0))
      if (f.rate == rate && (f.channels == 2 || (f.tag == wave_tag::kGsm610 && rate == 8000)))
        formats.push_back(f);
  for (const WaveFormat& f : formats) {
    SCOPED_TRACE(FormatTagName(f.tag) + " " + DescribeFormat(f));
    const auto in16 = Sine16(12000, f.channels, 0.8);
    std::vector<Sample> in(in16.begin(), in16.end());
    for (Sample& s : in) s *= 16;
    const auto file = dir / "ours.wav";
    {
      auto sink = MakeWaveFormatSink(file, f);
      ASSERT_FALSE(sink->failed()) << sink->failureMessage();
      sink->write(in.data(), 12000);
      ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
    }
    ParseLog log;
    auto src = OpenWaveFile(file, &log);
    ASSERT_TRUE(src->ready()) << log.Text();
    EXPECT_FALSE(log.HasCorrections()) << log.Text();
    EXPECT_EQ(dynamic_cast<WaveSourceDetails&>(*src).format(), f);
    ASSERT_GE(src->length(), 12000);
    const auto ours = ReadAll(*src);
    const std::vector<double> a(ours.begin(), ours.begin() + 12000);
    EXPECT_GT(SnrDb(std::vector<double>(in.begin(), in.begin() + 12000), a),
              f.tag == wave_tag::kGsm610 ? 20.0 : 25.0);
    src->seek(3001);
    std::vector<Sample> part(static_cast<std::size_t>(100 * f.channels));
    src->read(part.data(), 100);
    for (std::size_t i = 0; i < part.size(); ++i)
      EXPECT_NEAR(part[i], ours[static_cast<std::size_t>(3001 * f.channels) + i], 16 * 64) << i;
    EXPECT_EQ(src->position(), 3101);

    const auto sox = SoxDecode(file, "", 32);
    const auto ff = FfmpegDecode(file, "", 32);
    // Whole frames: sox and ffmpeg may stop at the last whole block or decode it padded.
    ASSERT_GE(sox.size(), 12000u);
    ASSERT_GE(ff.size(), 12000u);
    EXPECT_GT(SnrDb(a, std::vector<double>(sox.begin(), sox.begin() + 12000)), 60.0);
    EXPECT_GT(SnrDb(a, std::vector<double>(ff.begin(), ff.begin() + 12000)), 40.0);
  }
}

// 8/16-bit PCM round trips are bit-exact; 24/32-bit ones are exact within the 20-bit
// scale, checked on files sox makes and reads.
TEST(WavInterop, PcmRoundTripsAreBitExactForSox) {
  QUILLET_REQUIRE_PROGRAMS("sox");
  TempDir dir;
  for (int bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    const auto made = dir / "in.wav";
    // Audio already on the 20-bit grid: sox at 16 bits, widened when needed.
    const std::string cmd = "sox -R -n -r 44100 -c 2 -b " + std::string(bits == 8 ? "8" : "16") + " -t wav - synth 0.5 noise vol 0.9 | sox -D -t wav - -b " +
                            std::to_string(bits) + " " + Quote(made);
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    auto src = OpenWaveFile(made);
    ASSERT_TRUE(src->ready());
    const auto out = dir / "out.wav";
    {
      auto sink = MakeWavePcmSink(out, 44100, 0, bits, 2);
      const auto all = ReadAll(*src);
      sink->write(all.data(), src->length());
      ASSERT_TRUE(sink->Finish());
    }
    const std::string want = CaptureOutput("sox " + Quote(made) + " -t raw - 2>/dev/null");
    EXPECT_EQ(want.size(), 22050u * 2 * static_cast<std::size_t>(bits / 8));
    EXPECT_TRUE(want == CaptureOutput("sox " + Quote(out) + " -t raw - 2>/dev/null"));
  }
}

}  // namespace
}  // namespace quillet::formats
