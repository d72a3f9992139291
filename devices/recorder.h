#pragma once
// The recording engine: captures from a sound device into a sound sink. It removes
// DC, meters the input, starts writing only once the input reaches a threshold
// (with 50 ms of what came before), cuts trailing quiet on stop and, voice
// activated, pauses after a stretch of quiet. The device is opened by Start on the
// caller's thread, so a missing or busy device is refused at once with a message.
// Every operation here is for the interface thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/sound.h"
#include "devices/level.h"
#include "platform/worker_thread.h"
#include "platform/sound_device.h"

namespace quillet::devices {

class LRecorderListener {
 public:
  virtual ~LRecorderListener() = default;
  virtual void Writing(std::uintptr_t /*cookie*/) {}
  virtual void Listening(std::uintptr_t /*cookie*/) {}
  virtual void Stopped(std::uintptr_t /*cookie*/) {}
  virtual void Time(std::int64_t /*ms*/, std::uintptr_t /*cookie*/) {}
  virtual void Levels(const LLevelRecord& /*levels*/, std::uintptr_t /*cookie*/) {}
};

// Removes DC from 20-bit samples with a one-pole estimate per channel:
// y = x - acc / 4096, acc += y * k, k = 192000 / rate + 1. k is kept at most 4096,
// where the estimate simply follows the input, so no rate makes it unstable, and
// the accumulators are 64-bit.
class DcFilter {
 public:
  DcFilter(int rate, int channels);
  void Process(audio::BlockView block);
  int coefficient() const { return k_; }

 private:
  int k_;
  std::vector<std::int64_t> acc_;
};

struct RecordOptions {
  std::string device;                     // empty: the default input
  std::int64_t quietLimitMs = 216000000;  // quiet that pauses writing (voice activation)
  int startThresholdDb = kSilentLevel;    // -127: write from the first buffer
  std::int64_t timeLimitMs = 0;           // 0: none
  // Stops after this much capture time, written or not (0: none): a recording of a
  // fixed time that may start with silence to trim.
  std::int64_t captureLimitMs = 0;
  int inputGainDb = 0;                    // this stream's input volume
};

class LSoundRecorder {
 public:
  enum class State { Idle, Listening, Writing };

  LSoundRecorder(platform::SoundSystem& system, platform::NotificationQueue& queue);
  // Stops without notifying the listener.
  ~LSoundRecorder();
  LSoundRecorder(const LSoundRecorder&) = delete;
  LSoundRecorder& operator=(const LSoundRecorder&) = delete;

  // Stops any recording, then records into sink, in the sink's rate and channels,
  // appending to what it holds. False with lastError() set when the sink has
  // failed or the device refuses.
  bool Start(audio::SinkHandle sink, const RecordOptions& options);
  // Cuts the sink back to nothing and listens again. False when idle, or (stopped,
  // with lastError() set) when capture cannot go on.
  bool Restart();
  // Cuts what followed the last loud buffer (keeping 50 ms), releases the sink and
  // the device, then notifies stopped.
  void Stop();

  void InstallListener(LRecorderListener* listener, std::uintptr_t cookie);
  // The input volume, effective from the next buffer.
  void SetInputGainDb(int db);

  State state() const;
  // Time in the sink up to the last buffer loud enough to keep.
  std::int64_t keptTimeMs() const;
  // Frames taken from the device since Start.
  std::int64_t capturedFrames() const { return captured_.load(); }
  const std::string& lastError() const { return lastError_; }

 private:
  void Capture();
  void Process(audio::BlockView block);
  void Write(audio::ConstBlockView block);
  bool StartCapture();
  void StopThread();
  void StopQuietly();
  void OnNotification();

  platform::SoundSystem& system_;
  LRecorderListener defaultListener_;
  LRecorderListener* listener_ = &defaultListener_;
  std::uintptr_t cookie_ = 0;
  std::unique_ptr<platform::SoundStream> stream_;
  audio::SinkHandle sink_;
  RecordOptions options_;
  int stayThresholdDb_ = kSilentLevel;
  std::string lastError_;
  std::atomic<std::int64_t> gain_{std::int64_t{1} << 24};
  std::atomic<std::int64_t> captured_{0};

  // Thread-side working state (the thread alone while it runs).
  audio::AudioBlock previous_;
  bool hasPrevious_ = false;
  std::unique_ptr<DcFilter> dc_;

  // Shared with the thread, under mutex_.
  mutable std::mutex mutex_;
  State state_ = State::Idle;
  std::int64_t keptMs_ = 0;
  LLevelRecord levels_;
  bool levelsChanged_ = false;
  bool stateChanged_ = false;
  bool limitReached_ = false;
  bool deviceFailed_ = false;
  bool sinkFailed_ = false;

  platform::LWorkerThread thread_;
  platform::Notifier notifier_;
};

}  // namespace quillet::devices
