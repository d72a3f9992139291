#pragma once
// A document editing bench: a store, settings in a scratch folder, scripted progress
// windows, a recording player, an in-process clipboard and a file layer that keeps
// audio files in a trivial raw form (so the core is tested without the formats).

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "core/clipboard.h"
#include "core/document.h"
#include "core/edit_commands.h"
#include "core_fixture.h"
#include "fixtures/recording_player.h"
#include "platform/scripted_progress.h"
#include "platform/scripted_prompter.h"

namespace quillet::core::testing {

// A ramp: frame i of channel c holds i * channels + c + 1 (never 0, so silence shows).
inline std::vector<Sample> Ramp(int channels, FrameCount frames, Sample offset = 0) {
  std::vector<Sample> v(static_cast<std::size_t>(frames) * channels);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<Sample>(i) + 1 + offset;
  return v;
}
inline std::vector<Sample> Dc(int channels, FrameCount frames, Sample value) {
  return std::vector<Sample>(static_cast<std::size_t>(frames) * channels, value);
}
// Samples of [from, to) of a mono ramp.
inline std::vector<Sample> RampPart(FramePos from, FramePos to) {
  std::vector<Sample> v;
  for (FramePos i = from; i < to; ++i) v.push_back(static_cast<Sample>(i + 1));
  return v;
}
inline std::vector<Sample> Cat(std::initializer_list<std::vector<Sample>> parts) {
  std::vector<Sample> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline std::vector<Sample> Contents(const AudioChain& c) { return ReadAll(c, 0, ChainLength(c)); }

using quillet::testing::RecordingPlayer;

// Files as "QRAW" + rate + channels (two int32) + int32 samples.
class RawFileIo final : public AudioFileIo {
 public:
  explicit RawFileIo(SegmentStore& store) : store_(store) {}

  audio::SourceHandle Open(const std::filesystem::path& file, std::string* message) override {
    opened.push_back(file);
    const std::string bytes = quillet::testing::ReadFileBytes(file);
    if (bytes.size() < 12 || bytes.compare(0, 4, "QRAW") != 0) {
      *message = "Cannot open " + file.string();
      return audio::MakeNullSource(audio::SoundStatus::CannotOpen);
    }
    std::int32_t head[2];
    std::memcpy(head, bytes.data() + 4, 8);
    std::vector<Sample> samples((bytes.size() - 12) / 4);
    std::memcpy(samples.data(), bytes.data() + 12, samples.size() * 4);
    auto chain = std::make_shared<AudioChain>(Written(store_, head[1], samples,
                                                      static_cast<std::uint32_t>(head[0])));
    return ChainOpenSource(*chain);
  }

  audio::TransferOutcome SaveWave(audio::LSoundSource& source, const std::filesystem::path& target,
                                  const audio::ProgressFn& progress) override {
    saved.push_back(target);
    std::string bytes = "QRAW";
    const std::int32_t head[2] = {source.sampleRate(), source.channels()};
    bytes.append(reinterpret_cast<const char*>(head), 8);
    audio::TransferOutcome out;
    std::vector<Sample> block(static_cast<std::size_t>(audio::kBlockFrames) * source.channels());
    const FrameCount total = source.length() - source.position();
    for (FrameCount done = 0; done < total;) {
      const FrameCount n = std::min(audio::kBlockFrames, total - done);
      source.read(block.data(), n);
      bytes.append(reinterpret_cast<const char*>(block.data()),
                   static_cast<std::size_t>(n * source.channels() * 4));
      done += n;
      if (progress && !progress(done, total)) {
        out.result = platform::kTaskCancelled;
        return out;
      }
    }
    if (failSaves) {
      out.result = platform::kTaskFailed;
      out.message = "disk full";
      return out;
    }
    quillet::testing::WriteFileBytes(target, bytes);
    out.frames = total;
    return out;
  }

  static void WriteRaw(const std::filesystem::path& file, std::int32_t rate, std::int32_t channels,
                       const std::vector<Sample>& samples) {
    std::string bytes = "QRAW";
    const std::int32_t head[2] = {rate, channels};
    bytes.append(reinterpret_cast<const char*>(head), 8);
    bytes.append(reinterpret_cast<const char*>(samples.data()), samples.size() * 4);
    quillet::testing::WriteFileBytes(file, bytes);
  }

  std::vector<std::filesystem::path> opened, saved;
  bool failSaves = false;

 private:
  SegmentStore& store_;
};

class EditFixture : public ::testing::Test, protected StoreFixture {
 protected:
  quillet::testing::TempDir settingsDir;
  settings::Settings settings{settings::FolderLocations(settingsDir.path())};
  platform::ScriptedProgressFactory progress;
  ProgramClipboard clipboard{&store};
  RecordingPlayer player;
  RawFileIo files{store};
  platform::FakeClipboard system;
  EditContext ctx{store, clipboard, progress, settings, nullptr, &files, &system, nullptr, {}, {}, false};

  // A mono document over a ramp of frames frames.
  std::unique_ptr<WaveDocument> RampDoc(FrameCount frames, std::uint32_t rate = 44100) {
    return std::make_unique<WaveDocument>(Written(store, 1, Ramp(1, frames), rate));
  }
  std::unique_ptr<WaveDocument> Doc(int channels, const std::vector<Sample>& samples,
                                    std::uint32_t rate = 44100) {
    return std::make_unique<WaveDocument>(Written(store, channels, samples, rate));
  }
  // Every sample file id still referenced (a leak check after documents are gone).
  std::uint32_t LiveIds() const {
    std::uint32_t n = 0;
    for (std::uint32_t id = 0; id < 64; ++id) n += store.RefCount(static_cast<FileId>(id)) > 0;
    return n;
  }
};

}  // namespace quillet::core::testing
