#pragma once
// Shared by the device tests: a notification loop, listeners that log, signals, and
// a private ALSA configuration routing the default device to files.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "audio/memory.h"
#include "audio/pcm.h"
#include "devices/player.h"
#include "devices/recorder.h"
#include "fixtures/signals.h"
#include "fixtures/temp_dir.h"

namespace quillet::devices::testsupport {

using quillet::testing::Noise;

// Dispatches notifications until done() holds; false after timeoutMs.
inline bool PumpUntil(platform::NotificationQueue& queue, const std::function<bool()>& done,
                      int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    queue.WaitAndDispatch(5);
  }
  return true;
}

struct PlayerLog : LPlayerListener {
  std::vector<std::string> events;
  std::vector<std::int64_t> positions;
  int stopped = 0;
  void Playing(std::uintptr_t) override { events.push_back("playing"); }
  void Stopped(std::uintptr_t) override {
    events.push_back("stopped");
    ++stopped;
  }
  void Holding(std::uintptr_t) override { events.push_back("holding"); }
  void Position(std::int64_t ms, std::uintptr_t) override {
    events.push_back("position");
    positions.push_back(ms);
  }
  void Levels(const LLevelRecord&, std::uintptr_t) override {}
};

struct RecorderLog : LRecorderListener {
  std::vector<std::string> events;
  int stopped = 0;
  void Writing(std::uintptr_t) override { events.push_back("writing"); }
  void Listening(std::uintptr_t) override { events.push_back("listening"); }
  void Stopped(std::uintptr_t) override {
    events.push_back("stopped");
    ++stopped;
  }
};

inline audio::SourceHandle Memory(int rate, audio::AudioBlock block,
                                  std::uint32_t bound = audio::kFilePeakBound) {
  return audio::SourceHandle(audio::MakeRef<audio::LMemorySoundSource>(rate, std::move(block), bound));
}

// What a device must receive for these samples.
inline std::vector<std::int16_t> Pcm16(const audio::AudioBlock& block) {
  std::vector<std::int16_t> out(block.samples().size());
  audio::SamplesToPcm(audio::PcmLayout::S16LE, block.data(), reinterpret_cast<std::uint8_t*>(out.data()),
                      out.size());
  return out;
}

// All of source from its position to its end, as the player would read it.
inline audio::AudioBlock ReadAll(audio::LSoundSource& source) {
  audio::AudioBlock b(source.channels(), std::max<audio::FrameCount>(source.length() - source.position(), 0));
  source.read(b.data(), b.frames());
  return b;
}

// 16-bit segments: silence and tones, as an ALSA infile or fake capture data.
inline void AppendSilence(std::vector<std::int16_t>& out, int frames, int channels) {
  out.insert(out.end(), static_cast<std::size_t>(frames) * channels, 0);
}
inline void AppendTone(std::vector<std::int16_t>& out, int frames, int channels, int rate,
                       double hz, double amplitude) {
  for (int f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c)
      out.push_back(static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * f / rate))));
}

// The default ALSA device of this process, for the fixture's lifetime, writes to
// played.raw and captures from capture.raw, over the null device: no sound card
// and no system configuration needed.
class PrivateAlsa {
 public:
  PrivateAlsa() {
    const char* old = std::getenv("ALSA_CONFIG_PATH");
    if (old) old_ = old;
    hadOld_ = old != nullptr;
    const std::string conf =
        "pcm.!default {\n"
        "  type file\n"
        "  slave.pcm \"quillet_null\"\n"
        "  file \"" + played().string() + "\"\n"
        "  infile \"" + captureFile().string() + "\"\n"
        "  format \"raw\"\n"
        "  hint.description \"Test device\"\n"
        "}\n"
        "pcm.quillet_null { type null }\n";
    testing::WriteFileBytes(dir_ / "asound.conf", conf);
    testing::WriteFileBytes(captureFile(), "");
    setenv("ALSA_CONFIG_PATH", (dir_ / "asound.conf").c_str(), 1);
    // The null device takes audio as fast as it comes: a player that never stops would
    // fill the disk. Cap file sizes so such a test fails on a write error instead.
    getrlimit(RLIMIT_FSIZE, &oldLimit_);
    rlimit cap = oldLimit_;
    cap.rlim_cur = std::min<rlim_t>(oldLimit_.rlim_max, rlim_t{1} << 30);
    setrlimit(RLIMIT_FSIZE, &cap);
    oldXfsz_ = std::signal(SIGXFSZ, SIG_IGN);
  }
  ~PrivateAlsa() {
    setrlimit(RLIMIT_FSIZE, &oldLimit_);
    std::signal(SIGXFSZ, oldXfsz_);
    if (hadOld_)
      setenv("ALSA_CONFIG_PATH", old_.c_str(), 1);
    else
      unsetenv("ALSA_CONFIG_PATH");
  }
  std::filesystem::path played() const { return dir_ / "played.raw"; }
  std::filesystem::path captureFile() const { return dir_ / "capture.raw"; }
  void SetCapture(const std::vector<std::int16_t>& samples) const {
    testing::WriteFileBytes(captureFile(),
                            std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 2));
  }
  std::vector<std::int16_t> PlayedSamples() const {
    const std::string bytes = testing::ReadFileBytes(played());
    std::vector<std::int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
  }

 private:
  testing::TempDir dir_;
  std::string old_;
  bool hadOld_ = false;
  rlimit oldLimit_{};
  void (*oldXfsz_)(int) = SIG_DFL;
};

}  // namespace quillet::devices::testsupport
