#pragma once
// A sound system without hardware, for tests and benchmarks. Its devices move on a
// clock that the test advances by hand (or, free-running, take everything at once),
// so timing logic is tested without sleeps. Playback keeps every sample written;
// capture delivers the samples it was given, then silence.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sound_device.h"

namespace quillet::platform {

class FakeStream;

class FakeSoundSystem final : public SoundSystem {
 public:
  FakeSoundSystem() = default;
  ~FakeSoundSystem() override;
  FakeSoundSystem(const FakeSoundSystem&) = delete;
  FakeSoundSystem& operator=(const FakeSoundSystem&) = delete;

  // Moves the clock on; running devices play and record that much.
  void AdvanceMs(std::int64_t ms);
  // Free-running: playback takes everything at once and capture has data whenever
  // asked, as with ALSA's null device.
  void SetFreeRunning(bool on);

  // Device names; Open refuses others as missing. "default" always exists.
  void SetDevices(std::vector<SoundDeviceName> devices);
  // The next opens fail with this message (empty: they succeed).
  void SetOpenFailure(std::string message);
  // Streams fail with ENODEV once they have moved this many frames (-1: never).
  void SetFailAfterFrames(std::int64_t frames);
  // Samples (interleaved) the next capture streams deliver.
  void SetCaptureData(std::vector<std::int16_t> samples);

  // Everything written to playback streams so far, interleaved, in order.
  std::vector<std::int16_t> written() const;
  // Frames the devices have played (heard) so far.
  std::int64_t playedFrames() const;
  std::int64_t capturedFrames() const;
  // Frames written to open playback streams and not yet played.
  std::int64_t queuedFrames() const;
  int openStreams() const;
  int opens() const;
  StreamRequest lastRequest() const;

  std::vector<SoundDeviceName> ListDevices(StreamDirection direction) override;
  std::unique_ptr<SoundStream> Open(const StreamRequest& request, std::string* message) override;

 private:
  friend class FakeStream;
  mutable std::mutex mutex_;
  std::vector<FakeStream*> streams_;
  std::condition_variable changed_;
  std::int64_t clockUs_ = 0;
  bool freeRunning_ = false;
  std::vector<SoundDeviceName> devices_{{"default", "Default"}};
  std::string openFailure_;
  std::int64_t failAfter_ = -1;
  std::vector<std::int16_t> captureData_;
  std::vector<std::int16_t> written_;
  std::int64_t played_ = 0;
  std::int64_t captured_ = 0;
  int openStreams_ = 0;
  int opens_ = 0;
  StreamRequest last_;
};

}  // namespace quillet::platform
