#pragma once
// The open and save dispatch suites' fixture: a scratch folder with its own settings,
// store, temporary folder and scripted windows, and the test signal they write.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/chain_source.h"
#include "core/segment_store.h"
#include "fixtures/programs.h"
#include "fixtures/temp_dir.h"
#include "formats/dispatch.h"
#include "formats/document_io.h"
#include "formats/external.h"
#include "formats/simple_formats.h"
#include "formats/wav_chooser.h"
#include "formats/wav_reader.h"
#include "formats/wav_writer.h"
#include "platform/scripted_progress.h"
#include "platform/scripted_prompter.h"

namespace quillet::formats {

using quillet::testing::ReadFileBytes;
using quillet::testing::RunProgram;
using quillet::testing::TempDir;
using quillet::testing::WriteFileBytes;

// A two-tone test signal, 16-bit values.
inline std::int16_t Tone(std::int64_t i, int ch, int rate) {
  const double t = static_cast<double>(i) / rate;
  return static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * (ch ? 660 : 440) * t) +
                                   3000 * std::sin(2 * M_PI * 1250 * t));
}

inline std::vector<std::int16_t> Interleaved(audio::FrameCount frames, int channels, int rate) {
  std::vector<std::int16_t> v;
  for (audio::FrameCount i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) v.push_back(Tone(i, c, rate));
  return v;
}

// The 16-bit samples an outside decoder reads from file (ffmpeg, any format).
inline std::vector<std::int16_t> ReferenceDecode(const std::filesystem::path& file, const TempDir& dir) {
  const auto raw = dir / "reference.raw";
  EXPECT_EQ(RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", file.string(), "-f", "s16le",
                        "-c:a", "pcm_s16le", raw.string()}),
            0);
  const std::string b = ReadFileBytes(raw);
  std::vector<std::int16_t> v(b.size() / 2);
  std::memcpy(v.data(), b.data(), v.size() * 2);
  return v;
}

// Signal to error ratio in dB after the best alignment within maxLag frames.
inline double AlignedSnr(const std::vector<std::int16_t>& want, const std::vector<std::int16_t>& got,
                  int channels, int maxLag) {
  const std::int64_t start = 4096, n = 8192;  // away from the edges
  double best = -100;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double sig = 0, err = 0;
    bool inside = true;
    for (std::int64_t i = start; i < start + n && inside; ++i) {
      for (int c = 0; c < channels; ++c) {
        const std::int64_t a = i * channels + c, b = (i + lag) * channels + c;
        if (b < 0 || b >= static_cast<std::int64_t>(got.size()) || a >= static_cast<std::int64_t>(want.size())) {
          inside = false;
          break;
        }
        const double d = static_cast<double>(want[static_cast<std::size_t>(a)]) - got[static_cast<std::size_t>(b)];
        sig += static_cast<double>(want[static_cast<std::size_t>(a)]) * want[static_cast<std::size_t>(a)];
        err += d * d;
      }
    }
    if (inside && sig > 0) best = std::max(best, 10 * std::log10(sig / std::max(err, 1.0)));
  }
  return best;
}

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    setenv("TMPDIR", tmp.c_str(), 1);
    std::filesystem::create_directories(tmp);
    // Our AMR helper is built beside quillet-cli.
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    SetExtraComponentFolder(self.parent_path().parent_path().parent_path() / "app");
    env.prompter = &prompter;
    env.owner = &owner;
  }
  void TearDown() override {
    unsetenv("XDG_DATA_HOME");
    unsetenv("TMPDIR");
  }

  std::filesystem::path MakeWave(const std::string& name, audio::FrameCount frames,
                                 int rate = 44100, int channels = 2, int bits = 16) {
    const auto path = dir / name;
    LWavePCMSoundSink sink(path, static_cast<std::uint32_t>(rate), 0, bits, channels);
    const std::vector<std::int16_t> v = Interleaved(frames, channels, rate);
    std::vector<audio::Sample> s(v.begin(), v.end());
    for (audio::Sample& x : s) x *= 16;
    sink.write(s.data(), frames);
    EXPECT_TRUE(sink.Finish());
    return path;
  }

  core::AudioChain Load(const std::filesystem::path& file, bool* ask = nullptr) {
    LoadFileTask load(file, store, env, ask);
    load.Run(owner);
    EXPECT_EQ(load.result, platform::kTaskDone) << load.message();
    return std::move(load.chain());
  }

  std::int32_t Save(const core::AudioChain& chain, const std::filesystem::path& file, bool* ask = nullptr,
                    std::string* message = nullptr) {
    SaveChainTask save(chain, file, env, 0, ask);
    save.Run(owner);
    if (message) *message = save.message();
    return save.result;
  }

  std::size_t TempEntries() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(tmp), {}));
  }

  TempDir dir;
  std::filesystem::path tmp = dir / "tmp";
  core::SegmentStore store{dir.path()};
  settings::Settings settings{settings::FolderLocations(dir / "settings")};
  platform::ScriptedProgressFactory owner;
  platform::ScriptedPrompter prompter;
  DispatchEnv env{settings};
};

}  // namespace quillet::formats
