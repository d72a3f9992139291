// quillet-cli apply's effect rows end to end: the frames they leave in WAVE files,
// stored values taken when no parameter is given, and the dialogs' refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "app/cli/cli.h"
#include "apply_fixture.h"
#include "fixtures/temp_dir.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"

namespace quillet::app {
namespace {

using audio::Sample;
using Samples = std::vector<Sample>;

class ApplyEffectsTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  std::string in = (dir / "in.wav").string();
  std::string out = (dir / "out.wav").string();

  // 16-bit values, interleaved.
  void Write(const std::string& file, int channels, const Samples& v, std::uint32_t rate = 8000) {
    auto sink = formats::MakeWavePcmSink(file, rate, 0, 16, channels);
    Samples inside(v);
    for (auto& s : inside) s *= 16;
    sink->write(inside.data(), static_cast<audio::FrameCount>(v.size()) / channels);
    ASSERT_TRUE(sink->Finish()) << sink->failureMessage();
  }
  struct File {
    int rate = 0, channels = 0;
    Samples samples;  // 16-bit values
  };
  File Read(const std::string& file) {
    auto src = formats::OpenWaveFile(file);
    EXPECT_TRUE(src->ready());
    File f{src->sampleRate(), src->channels(), {}};
    f.samples.resize(static_cast<std::size_t>(src->length() * src->channels()));
    src->read(f.samples.data(), src->length());
    for (auto& s : f.samples) s /= 16;
    return f;
  }
  static Samples Ramp(int frames) {
    Samples v;
    for (int i = 0; i < frames; ++i) v.push_back(i + 1);
    return v;
  }
  using Run = ApplyRun;
  Run Apply(const std::vector<std::string>& words) {
    std::filesystem::remove(out);
    return RunApply(dir / "settings", in, out, words);
  }
};

TEST_F(ApplyEffectsTest, EffectsLeaveExactlyTheFramesTheyShould) {
  Write(in, 1, Ramp(1000));
  // Whole document without a range.
  ASSERT_EQ(Apply({"reverse"}).status, 0);
  Samples want = Ramp(1000);
  std::reverse(want.begin(), want.end());
  EXPECT_EQ(Read(out).samples, want);
  // Only the range with one.
  ASSERT_EQ(Apply({"--from", "100", "--to", "200", "reverse"}).status, 0);
  want = Ramp(1000);
  std::reverse(want.begin() + 100, want.begin() + 200);
  EXPECT_EQ(Read(out).samples, want);
  // Mono to stereo doubles every sample; the rate conversion doubles the frames.
  ASSERT_EQ(Apply({"channels:2"}).status, 0);
  File f = Read(out);
  EXPECT_EQ(f.channels, 2);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(f.samples[static_cast<std::size_t>(2 * i)], i + 1);
    ASSERT_EQ(f.samples[static_cast<std::size_t>(2 * i + 1)], i + 1);
  }
  ASSERT_EQ(Apply({"rate:16000"}).status, 0);
  f = Read(out);
  EXPECT_EQ(f.rate, 16000);
  EXPECT_EQ(f.samples.size(), 2000u);
  // Fade out and trim over [100, 400): the file ends at 400, faded to nearly nothing.
  ASSERT_EQ(Apply({"--from", "100", "--to", "400", "fade-out-trim"}).status, 0);
  f = Read(out);
  ASSERT_EQ(f.samples.size(), 400u);
  EXPECT_EQ(Samples(f.samples.begin(), f.samples.begin() + 100), Samples(Ramp(100)));
  EXPECT_LE(f.samples[399], 2);

  // A constant offset is removed exactly; pan at 50 puts L + R on both sides.
  Write(in, 2, Samples{100, 300, 100, 300, 100, 300, 100, 300});
  ASSERT_EQ(Apply({"dc-offset"}).status, 0);
  EXPECT_EQ(Read(out).samples, Samples(8, 0));
  ASSERT_EQ(Apply({"pan:50"}).status, 0);
  EXPECT_EQ(Read(out).samples, Samples(8, 400));
  ASSERT_EQ(Apply({"channels:1"}).status, 0);
  EXPECT_EQ(Read(out).samples, Samples(4, 100));  // the left channel
}

TEST_F(ApplyEffectsTest, WithoutParametersTheStoredValuesAreUsed) {
  Write(in, 1, Samples(100, 10000));
  ASSERT_EQ(Apply({"amplify:50"}).status, 0);
  const Samples half = Read(out).samples;
  EXPECT_NEAR(half[0], 5000, 25);
  ASSERT_EQ(Apply({"--set", "StoredValues/AmplifyGain=50", "amplify"}).status, 0);
  EXPECT_EQ(Read(out).samples, half);
  // The default (100 %) changes nothing.
  ASSERT_EQ(Apply({"amplify"}).status, 0);
  EXPECT_EQ(Read(out).samples, Samples(100, 10000));
  // Normalize to the stored 50 % of full scale, and to the given 100 %.
  ASSERT_EQ(Apply({"--set", "StoredValues/NormalizePeakLevel=50", "normalize"}).status, 0);
  EXPECT_NEAR(Read(out).samples[0], 16383, 100);
  ASSERT_EQ(Apply({"normalize:100"}).status, 0);
  EXPECT_NEAR(Read(out).samples[0], 32767, 100);
  // Speed from "ConstPitchSpeed": 200 % halves the length.
  ASSERT_EQ(Apply({"--set", "StoredValues/ConstPitchSpeed=200", "speed"}).status, 0);
  EXPECT_NEAR(static_cast<double>(Read(out).samples.size()), 50, 2);
  // Cross fade times from "CrossFade": 0 ms everywhere splices the selection out.
  ASSERT_EQ(Apply({"--set", "CrossFade/GapTimeMS=0", "--set", "CrossFade/FadeInTimeMS=0", "--set",
                   "CrossFade/FadeOutTimeMS=0", "--from", "10", "--to", "60", "cross-fade"})
                .status,
            0);
  EXPECT_EQ(Read(out).samples.size(), 50u);
}

TEST_F(ApplyEffectsTest, EnvelopeShapesFromTheCommandLine) {
  Write(in, 1, Samples(256, 1000));
  // Silent up to the middle, then unity.
  ASSERT_EQ(Apply({"envelope:0/0;127/0;128/128;255/128"}).status, 0);
  const Samples got = Read(out).samples;
  EXPECT_EQ(got[0], 0);
  EXPECT_EQ(got[100], 0);
  EXPECT_EQ(got[200], 1000);
}

TEST_F(ApplyEffectsTest, FiltersAndDelaysFromTheCommandLine) {
  Samples click(2000, 0);
  click[0] = 1000;
  Write(in, 1, click);
  // 100 ms at 8000 Hz: copies every 800 frames, halving.
  ASSERT_EQ(Apply({"echo:100,50"}).status, 0);
  const Samples echo = Read(out).samples;
  EXPECT_EQ(echo[800], 500);
  EXPECT_EQ(echo[1600], 250);
  EXPECT_EQ(std::count_if(echo.begin(), echo.end(), [](Sample v) { return v != 0; }), 3);
  ASSERT_EQ(Apply({"--set", "StoredValues/EchoTime=100", "echo"}).status, 0);
  EXPECT_EQ(Read(out).samples, echo);
  // 50 ms reverb: a line of 400 frames whose nearest tap reads 104 frames back.
  ASSERT_EQ(Apply({"reverb:50,50"}).status, 0);
  const Samples reverb = Read(out).samples;
  EXPECT_EQ(std::find_if(reverb.begin() + 1, reverb.end(), [](Sample v) { return v != 0; }) - reverb.begin(), 104);
  // An equalizer at 0 silences; the stored curve (flat, written on first use) keeps.
  ASSERT_EQ(Apply({"equalizer-curve:0/0;255/0"}).status, 0);
  EXPECT_EQ(Read(out).samples, Samples(2000, 0));
  ASSERT_EQ(Apply({"--from", "0", "--to", "100", "equalizer"}).status, 0);
  EXPECT_NEAR(Read(out).samples[0], 1000, 1);
  // The high-pass takes DC away.
  Write(in, 1, Samples(16000, 5000));
  ASSERT_EQ(Apply({"high-pass:250"}).status, 0);
  EXPECT_EQ(Read(out).samples.back(), 0);
  ASSERT_EQ(Apply({"equalizer:lowpass,1000,500,0"}).status, 0);
  EXPECT_NEAR(Read(out).samples[8000], 5000, 25);  // the kernel's rounding: within 0.5 %
}

TEST_F(ApplyEffectsTest, RefusalsUseTheDialogsMessages) {
  Write(in, 1, Ramp(100));
  struct Case {
    std::string word;
    std::string message;
  };
  const Case cases[] = {
      {"amplify:401", "amplify: Amplify Gain must be less than 400%. Please try again."},
      {"normalize:101", "normalize: Normailze Peak Level must be less than 100%. Please try again."},
      {"speed:301", "speed: Speed Change Percent must be less than 300."},
      {"pitch:301", "pitch: Speed Change Percent must be less than 300."},
      {"speed-pitch:x", "speed-pitch: Speed Change Percent must be a whole number, not \"x\"."},
      // The stretch cannot go below a tenth of the speed: its dialog says so.
      {"speed:0", "speed: Speed Change Percent must be at least 10."},
      {"speed:9", "speed: Speed Change Percent must be at least 10."},
      {"amplify:50,60", "amplify: Too many parameters: 2 given, at most 1 (PCT)."},
      {"amplify:-1", "amplify: Amplify Gain must be 0% or more. Please try again."},
      {"reverse:1", "reverse: This command takes no parameters."},
      {"rate:5999", "rate: Sample rates must be between 6000 and 96000 samples per second."},
      {"rate:96001", "rate: Sample rates must be between 6000 and 96000 samples per second."},
      {"rate", "rate: Sample Rate must be given (HZ)."},
      {"channels", "channels: Channels must be given (N)."},
      {"channels:3", "channels: The channels must be 1 (mono) or 2 (stereo)."},
      {"envelope:0/128", "envelope: An envelope needs 2 to 64 points with rising positions."},
      {"envelope:0/128;10/300", "envelope: Envelope points are POS/LEVEL with both from 0 to 255, not \"10/300\"."},
      {"envelope:200/128;10/128", "envelope: An envelope needs 2 to 64 points with rising positions."},
      {"cross-fade:10,-1,10", "cross-fade: Cross fade times must not be negative."},
      {"high-pass:0", "high-pass: The frequency must be between 1 and 20000 Hz. Please try again."},
      {"echo:9,50", "echo: Echo time must be between 10 and 3000ms. Please try again."},
      {"echo:3000,100", "echo: Echo time must be between 10 and 3000ms. Please try again."},
      {"echo:10,100", "echo: Echo Gain must be less than 100%. Please try again."},
      {"reverb:10,101", "reverb: Reverb level must be less than 100. Please try again."},
      {"reverb:1001,100", "reverb: Reverb time must be between 50 and 1000. Please try again."},
      {"equalizer:peak", "equalizer: The equalizer shape must be bandpass, bandstop, boostcut, notch, "
                         "highpass or lowpass, not \"peak\"."},
      {"equalizer:notch,-5", "equalizer: Start Frequency (Hz) must be between 0 and 100000."},
      {"equalizer-curve:0/128", "equalizer-curve: An equalizer curve needs 2 to 64 points with rising positions."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    const Run r = Apply({c.word});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "quillet-cli: " + c.message + "\n");
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  // The stereo question is asked through the terminal, with its caption, naming the
  // command as quillet-cli runs it.
  const Run pan = Apply({"pan:30"});
  EXPECT_EQ(pan.status, 2);
  EXPECT_EQ(pan.err.rfind("Convert to Stereo Required: This effect can only be applied to stereo "
                          "file. Please convert the file to stereo by using channels:2 and try again.\n", 0),
            0u)
      << pan.err;
  EXPECT_FALSE(std::filesystem::exists(out));
  // Range ends are accepted.
  for (const char* word :
       {"amplify:400", "normalize:100", "speed:300", "speed:10", "rate:6000", "rate:96000",
        "echo:2999,99", "reverb:1000,100", "high-pass:20000", "equalizer:notch,9750,10250,0,150"})
    EXPECT_EQ(Apply({word}).status, 0) << word;
}

// A grabbed noise profile lasts for the rest of the run's commands; without one, or
// with one of another format, the reduction is refused with its message.
TEST_F(ApplyEffectsTest, NoiseSampleGrabbedOnceServesTheCommandsAfterIt) {
  // Two seconds of hiss, then the hiss under a tone.
  Samples v;
  std::uint32_t seed = 1;
  for (int i = 0; i < 4 * 8000; ++i) {
    seed = seed * 1664525 + 1013904223;
    const int hiss = int(seed >> 24) - 128;  // about -50 dBFS
    v.push_back(hiss + (i >= 16000 ? int(8000 * std::sin(i * 0.3)) : 0));
  }
  Write(in, 1, v);
  const auto rms = [](const Samples& s, std::size_t a, std::size_t b) {
    double sum = 0;
    for (std::size_t i = a; i < b; ++i) sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(b - a));
  };
  ASSERT_EQ(Apply({"noise-grab:0,16000", "noise-reduction"}).status, 0);
  const Samples got = Read(out).samples;
  ASSERT_EQ(got.size(), v.size());
  EXPECT_LT(rms(got, 2000, 14000), rms(v, 2000, 14000) / 5);
  EXPECT_NEAR(rms(got, 18000, 30000), rms(v, 18000, 30000), rms(v, 18000, 30000) * 0.05);

  struct Case {
    std::vector<std::string> words;
    std::string error;  // its beginning
  };
  const Case cases[] = {
      {{"noise-reduction"},
       "quillet-cli: noise-reduction: There is no noise sample yet. Select a stretch that holds "
       "nothing but the noise and choose noise-grab first."},
      {{"noise-grab"}, "quillet-cli: noise-grab: From must be given (FROM,TO)."},
      {{"noise-grab:0,1000", "channels:2", "noise-reduction"},
       "quillet-cli: noise-reduction: The noise sample you took is not compatible"},
      {{"compressor:-41,0,0"}, "quillet-cli: compressor: Threshold must be between -40 and 0."},
      {{"compressor:-20,7,0"}, "quillet-cli: compressor: "},
      {{"noise-gate:1"}, "quillet-cli: noise-gate: Noise Gate Level must be between -40 and 0."},
      {{"noise-reduction-auto:101"},
       "quillet-cli: noise-reduction-auto: Noise Threshold must be between 0 and 100."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.front());
    const Run r = Apply(c.words);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind(c.error, 0), 0u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  // Grabbing 8.9 seconds is allowed, 9 seconds is not; ratio entries are also taken
  // by name.
  Write(in, 1, Samples(8000 * 9, 3));
  EXPECT_EQ(Apply({"noise-grab:0,71200", "noise-reduction"}).status, 0);
  const Run nine = Apply({"noise-grab:0,72000"});
  EXPECT_EQ(nine.status, 2);
  EXPECT_EQ(nine.err.rfind("Manual Noise Reduction Error: You cannot sample an area of your audio "
                           "longer than 8 seconds. Please select a shorter area.",
                           0),
            0u)
      << nine.err;
  EXPECT_EQ(
      Apply({"compressor:-20,4:1,3", "noise-gate:-20", "agc", "noise-reduction-auto:30"}).status,
      0);
}

TEST_F(ApplyEffectsTest, AutoTrimTakesItsThresholdFromTheSettingsOrTheWord) {
  // Silence, a quiet stretch (-30 dB of the loud one), the loud one, silence.
  Samples v(8000, 0);
  for (int i = 0; i < 4000; ++i) v.push_back(i % 2 ? 500 : -500);
  for (int i = 0; i < 8000; ++i) v.push_back(i % 2 ? 16000 : -16000);
  v.resize(v.size() + 8000, 0);
  Write(in, 1, v);
  // What is kept: the sound, a block of margin at each end, and the rest of the blocks
  // the sound starts and ends in.
  const auto kept = [&](std::size_t sound) {
    const std::size_t n = Read(out).samples.size();
    EXPECT_GE(n, sound + 2 * 256);
    EXPECT_LE(n, sound + 4 * 256);
  };
  // At the stored -20 dB the quiet stretch goes; at -40 it stays.
  ASSERT_EQ(Apply({"auto-trim"}).status, 0);
  kept(8000);
  ASSERT_EQ(Apply({"--set", "Settings/AutoTrimThreshold=-40", "auto-trim"}).status, 0);
  kept(12000);
  ASSERT_EQ(Apply({"auto-trim:-40"}).status, 0);
  kept(12000);
  // The range plays no part: the whole document is trimmed.
  ASSERT_EQ(Apply({"--from", "0", "--to", "10", "auto-trim"}).status, 0);
  kept(8000);
}

}  // namespace
}  // namespace quillet::app
