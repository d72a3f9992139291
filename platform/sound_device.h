#pragma once
// The sound device: PCM streams for playback and capture, always 16-bit signed
// little-endian interleaved. AlsaSoundSystem opens them through ALSA by device name
// ("default" and the names snd_device_name_hint lists); FakeSoundSystem
// (sound_device_fake.h) runs them on a clock that tests move by hand.
//
// Streams never block without a bound: WaitReady waits at most its timeout, Write
// and Read only move what fits, so a worker thread can always notice a stop.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

enum class StreamDirection { Playback, Capture };

// The name that selects the system's default device.
inline constexpr std::string_view kDefaultSoundDevice = "default";

struct SoundDeviceName {
  std::string name;         // what Open takes
  std::string description;  // for lists; may be several lines (first is the card)
};

class SoundStream {
 public:
  virtual ~SoundStream() = default;

  int rate() const { return rate_; }
  int channels() const { return channels_; }

  // Waits up to timeoutMs for room (playback) or data (capture) of at least one
  // frame. Returns the frames available now (0 on time-out), or a negative errno
  // when the device failed beyond recovery (unplugged, say).
  virtual std::int64_t WaitReady(int timeoutMs) = 0;
  // Moves at most frames frames without waiting; returns frames moved (0 when there
  // is no room or data), or a negative errno on a failure beyond recovery. An
  // underrun or overrun is recovered inside and costs only the gap.
  virtual std::int64_t Write(const std::int16_t* data, std::int64_t frames) = 0;
  virtual std::int64_t Read(std::int16_t* data, std::int64_t frames) = 0;
  // Starts a capture stream (playback starts with its first writes).
  virtual int Start() = 0;
  // Starts playing what was written even when less than the start threshold.
  virtual void Flush() = 0;
  // Playback: frames written and not yet heard. Capture: 0.
  virtual std::int64_t Delay() = 0;
  // Stops at once, discarding what was queued; the stream can be written again.
  virtual void Drop() = 0;

 protected:
  SoundStream(int rate, int channels) : rate_(rate), channels_(channels) {}

 private:
  int rate_;
  int channels_;
};

struct StreamRequest {
  std::string device{kDefaultSoundDevice};  // empty: the default device
  StreamDirection direction = StreamDirection::Playback;
  int rate = 44100;
  int channels = 2;
  // About how much the device itself should buffer, and how often it wakes us.
  int bufferMs = 400;
  int periodMs = 50;
};

class SoundSystem {
 public:
  virtual ~SoundSystem() = default;
  // The devices of a direction, the default one first.
  virtual std::vector<SoundDeviceName> ListDevices(StreamDirection direction) = 0;
  // An open stream, or nullptr with *message saying why in words for the user
  // (device missing, busy, format refused). Never waits for a busy device.
  virtual std::unique_ptr<SoundStream> Open(const StreamRequest& request,
                                            std::string* message) = 0;
};

// The process's ALSA system.
SoundSystem& AlsaSoundSystem();

}  // namespace quillet::platform
