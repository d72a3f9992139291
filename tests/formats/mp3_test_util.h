#pragma once
// Shared by the MP3 suites: test files made at test time by sox and lame, and the
// reference decoding by mpg123.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/programs.h"
#include "fixtures/temp_dir.h"
#include "formats/mp3_decoder.h"
#include "formats/mp3_source.h"
#include "platform/byte_source.h"
#include "wav_test_util.h"

namespace quillet::testing {

#define QUILLET_REQUIRE_MP3_TOOLS() QUILLET_REQUIRE_PROGRAMS("sox", "lame", "mpg123")

// Signals for the encoder, as sox synth arguments (deterministic with -R).
inline const std::vector<std::string> kToneSweep = {"synth", "3", "sine", "300-3000", "sine", "5000"};
inline const std::vector<std::string> kClicks = {"synth", "0.05", "square", "50", "pad", "0", "0.25", "repeat", "8"};
inline const std::vector<std::string> kPinkNoise = {"synth", "3", "pinknoise", "gain", "-6"};

// Encodes a signal of `channels` at 44.1 kHz with lame and the given options.
inline std::filesystem::path MakeMp3(const TempDir& dir, const std::string& name, int channels,
                                     const std::vector<std::string>& signal,
                                     const std::vector<std::string>& lameOptions) {
  const auto wav = dir / (name + ".wav");
  const auto mp3 = dir / (name + ".mp3");
  std::vector<std::string> sox = {"sox", "-R", "-n", "-r", "44100", "-c", std::to_string(channels), "-b", "16",
                                  wav.string()};
  sox.insert(sox.end(), signal.begin(), signal.end());
  EXPECT_EQ(RunProgram(sox), 0);
  std::vector<std::string> lame = {"lame", "--quiet"};
  lame.insert(lame.end(), lameOptions.begin(), lameOptions.end());
  lame.push_back(wav.string());
  lame.push_back(mp3.string());
  EXPECT_EQ(RunProgram(lame), 0);
  return mp3;
}

// mpg123's float output; without gapless trimming sample i matches our sample i, with it
// the LAME tag's delay and padding are cut.
inline std::vector<float> Mpg123Decode(const TempDir& dir, const std::filesystem::path& mp3,
                                       bool gapless = false) {
  const auto out = dir / (mp3.stem().string() + (gapless ? ".gapless.f32" : ".ref.f32"));
  EXPECT_EQ(RunProgram({"mpg123", "-q", gapless ? "--gapless" : "--no-gapless", "-e", "f32", "-s",
                        mp3.string()},
                       out),
            0);
  const std::string bytes = ReadFileBytes(out);
  std::vector<float> v(bytes.size() / sizeof(float));
  std::memcpy(v.data(), bytes.data(), v.size() * sizeof(float));
  return v;
}

// madplay's (libmad's) 24-bit output, stereo, undithered and unclipped below full scale.
inline std::vector<float> MadplayDecode(const TempDir& dir, const std::filesystem::path& mp3) {
  const auto out = dir / (mp3.stem().string() + ".mad.s24");
  EXPECT_EQ(RunProgram({"madplay", "-q", "-d", "-b", "24", "-S", "-o", "raw:-", mp3.string()}, out), 0);
  const std::string bytes = ReadFileBytes(out);
  std::vector<float> v(bytes.size() / 3);
  for (size_t i = 0; i < v.size(); ++i) {
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data() + 3 * i);
    const int32_t s = static_cast<int32_t>(uint32_t{b[0]} << 8 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 24) >> 8;
    v[i] = static_cast<float>(s) / 8388608.0f;
  }
  return v;
}

struct OurDecoding {
  std::vector<float> samples;  // interleaved in the layout's channel count, full scale 1.0
  int channels = 0;
  unsigned blockTypes = 0;
};

// Our decoder over the frames the source's scan finds, before any integer conversion; a mono
// frame of a stream that changes mode is doubled, as the source does.
inline OurDecoding DecodeOurs(platform::ByteSource& bytes) {
  OurDecoding result;
  formats::Mp3Layout layout;
  if (!formats::ScanMp3Layout(bytes, layout)) return result;
  result.channels = layout.channels;
  formats::Mp3Decoder decoder;
  decoder.SetFreeFormatBytes(layout.freeBytes);
  std::vector<float> pcm(formats::Mp3Decoder::kMaxSamplesPerFrame * 2);
  std::vector<uint8_t> frame(2048);
  for (uint64_t offset : layout.frames) {
    const size_t got = bytes.ReadAt(offset, frame.data(), frame.size());
    const formats::Mp3Step step = decoder.DecodeFrame(frame.data(), got, pcm.data());
    result.blockTypes |= step.blockTypes;
    for (int i = 0; i < step.framesProduced; ++i)
      for (int ch = 0; ch < result.channels; ++ch)
        result.samples.push_back(pcm[static_cast<size_t>(i * step.channels + std::min(ch, step.channels - 1))]);
  }
  return result;
}

inline OurDecoding DecodeOurs(const std::filesystem::path& mp3) {
  auto bytes = platform::FileByteSource::Open(mp3);
  return bytes ? DecodeOurs(*bytes) : OurDecoding{};
}

// A file of tests/formats/data (see its README); empty when missing.
inline std::string ReadTestData(const std::string& name) {
  return ReadFileBytes(std::filesystem::path(QUILLET_FORMATS_TEST_DATA) / name);
}

using formats::testutil::ReadAll;

// The standard's bounds, sample for sample against a reference of more than 16 bits. With
// refClips, a reference sample at full scale stands for anything beyond it.
inline void ExpectFullAccuracy(const std::vector<float>& ours, const std::vector<float>& ref, bool refClips = false) {
  ASSERT_FALSE(ref.empty());
  ASSERT_EQ(ours.size(), ref.size());
  double sumSquares = 0, worst = 0;
  size_t worstAt = 0;
  constexpr double kTop = 1.0 - 0x1p-22;
  for (size_t i = 0; i < ref.size(); ++i) {
    double mine = ours[i];
    if (refClips) mine = std::clamp(mine, -1.0, 1.0);
    if (refClips && std::abs(ref[i]) >= kTop && std::abs(mine) >= kTop && (mine > 0) == (ref[i] > 0)) mine = ref[i];
    const double d = std::abs(mine - ref[i]);
    sumSquares += d * d;
    if (d > worst) worst = d, worstAt = i;
  }
  const double rms = std::sqrt(sumSquares / static_cast<double>(ref.size()));
  EXPECT_LT(rms, std::ldexp(1.0, -15) / std::sqrt(12.0));
  EXPECT_LE(worst, std::ldexp(1.0, -14)) << "at sample " << worstAt;
  // A silent decoder would pass the bounds on silence: the signal must be there.
  double energy = 0;
  for (float v : ref) energy += static_cast<double>(v) * v;
  EXPECT_GT(energy / static_cast<double>(ref.size()), 1e-4);
}

}  // namespace quillet::testing
