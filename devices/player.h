#pragma once
// The playback engine: plays a sound source on a sound device. A feeder thread reads
// the source into a ring of 64 buffers of 100 ms; a watcher thread writes them to
// the device and frees each once it has been heard, which moves the play position.
// Progress reaches the owner's listener on the interface thread, through the
// notification queue. Every operation here is for the interface thread.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "audio/sound.h"
#include "devices/level.h"
#include "platform/worker_thread.h"
#include "platform/sound_device.h"

namespace quillet::devices {

class LPlayerListener {
 public:
  virtual ~LPlayerListener() = default;
  virtual void Playing(std::uintptr_t /*cookie*/) {}
  virtual void Stopped(std::uintptr_t /*cookie*/) {}
  virtual void Holding(std::uintptr_t /*cookie*/) {}
  virtual void Position(std::int64_t /*ms*/, std::uintptr_t /*cookie*/) {}
  virtual void Levels(const LLevelRecord& /*levels*/, std::uintptr_t /*cookie*/) {}
};

// Volume in dB for a per-stream gain: -36 and below is silence, +10 the most.
inline constexpr int kMinVolumeDb = -36;
inline constexpr int kMaxVolumeDb = 10;
// The gain of v dB with 24 fractional bits (0 at kMinVolumeDb and below).
std::int64_t GainFromDb(int db);

class LSoundPlayer {
 public:
  static constexpr int kBufferCount = 64;

  LSoundPlayer(platform::SoundSystem& system, platform::NotificationQueue& queue);
  // Stops without notifying the listener.
  ~LSoundPlayer();
  LSoundPlayer(const LSoundPlayer&) = delete;
  LSoundPlayer& operator=(const LSoundPlayer&) = delete;

  // Closes, then plays source from its position on device (empty: the default).
  // A source above 16-bit full scale is played through the peak limiter. False
  // with lastError() set when the source is not ready or the device refuses.
  bool Open(audio::SourceHandle source, std::string_view device = {});
  // Stops at once, releases the source and the device, clears repeat, then
  // notifies stopped.
  void Close();
  // Loops a snippet of a quarter buffer at the play position (scrubbing).
  void Hold() { HoldAt(false); }
  // Holds the play position writing silence, so the device stays open and Resume
  // is immediate; a paused player is holding.
  void Pause() { HoldAt(true); }
  // Ends a hold and plays on from the held position.
  void Resume();
  // Moves playback (or the hold) to frame.
  void Reposition(audio::FramePos frame);

  void InstallListener(LPlayerListener* listener, std::uintptr_t cookie);
  // This stream's volume; the system mixer is never touched. Takes effect within
  // the device's own buffer (about 400 ms), not the 6.4 s queue.
  void SetVolumeDb(int db);
  int volumeDb() const { return volumeDb_.load(); }
  // Plays the same range again, without a gap, until Close. A range of no frames
  // is not repeated.
  void SetRepeat(bool on) { repeat_.store(on); }
  bool repeat() const { return repeat_.load(); }

  bool isOpen() const { return open_; }
  bool isHolding() const { return holding_; }
  bool isPaused() const { return holding_ && silent_; }
  // The end of the last buffer heard, in the source's frames.
  audio::FramePos playPosition() const;
  audio::FrameCount bufferFrames() const { return bufferFrames_; }
  const audio::SourceHandle& source() const { return source_; }
  const std::string& lastError() const { return lastError_; }
  // CPU time the feeder threads have used so far, in ns.
  std::int64_t feederCpuNs() const { return feederCpuNs_.load(); }

 private:
  enum class BufferState : std::uint8_t { Free, Filled, Written };
  struct Buffer {
    std::vector<audio::Sample> samples;
    audio::FrameCount frames = 0;
    audio::FramePos endPosition = 0;  // the source position after its last frame
    std::int64_t deviceEnd = 0;       // frames written to the device up to its end
    LLevelRecord levels;
    BufferState state = BufferState::Free;
  };

  void CloseQuietly();
  void StopThreads();
  void ResetRing();
  // Starts the feeder and watcher, or the snippet loop when holding; false with
  // lastError_ set when the system gives no thread.
  bool StartThreads();
  void HoldAt(bool silent);
  void MakeSnippet();
  void Feed();
  void Watch();
  void Loop();
  void ToPcm(const audio::Sample* in, audio::FrameCount frames, std::int16_t* out) const;
  void OnNotification();
  std::int64_t Ms(audio::FramePos frames) const;

  platform::SoundSystem& system_;
  LPlayerListener defaultListener_;
  LPlayerListener* listener_ = &defaultListener_;
  std::uintptr_t cookie_ = 0;
  std::unique_ptr<platform::SoundStream> stream_;
  audio::SourceHandle source_;
  audio::FrameCount bufferFrames_ = 0;
  int channels_ = 1;
  bool open_ = false;
  bool holding_ = false;
  bool silent_ = false;  // holding with silence (pause) rather than the snippet
  audio::FramePos repeatStart_ = 0;
  std::string lastError_;
  std::vector<std::int16_t> snippetPcm_;
  std::atomic<int> volumeDb_{0};
  std::atomic<std::int64_t> gain_{std::int64_t{1} << 24};
  std::atomic<bool> repeat_{false};
  std::atomic<std::int64_t> feederCpuNs_{0};

  // Shared with the threads, under mutex_.
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::array<Buffer, kBufferCount> ring_;
  audio::FramePos playPosition_ = 0;
  LLevelRecord levels_;
  bool feederDone_ = false;
  bool endReached_ = false;
  bool deviceFailed_ = false;
  bool positionChanged_ = false;

  platform::LWorkerThread feeder_;
  platform::LWorkerThread watcher_;
  // Last: destroyed first, so no dispatch reaches a half-destroyed player.
  platform::Notifier notifier_;
};

}  // namespace quillet::devices
