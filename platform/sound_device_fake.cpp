#include "platform/sound_device_fake.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>

namespace quillet::platform {

class FakeStream final : public SoundStream {
 public:
  FakeStream(FakeSoundSystem& sys, const StreamRequest& rq)
      : SoundStream(rq.rate, rq.channels),
        sys_(sys),
        playback_(rq.direction == StreamDirection::Playback),
        capacity_(std::max<std::int64_t>(std::int64_t{rq.rate} * rq.bufferMs / 1000, 1)),
        startThreshold_(std::max<std::int64_t>(capacity_ / 2, 1)) {
    if (!playback_) captureData_ = sys.captureData_;
    sys.streams_.push_back(this);
  }
  ~FakeStream() override {
    std::lock_guard lock(sys_.mutex_);
    --sys_.openStreams_;
    std::erase(sys_.streams_, this);
  }

  std::int64_t WaitReady(int timeoutMs) override {
    std::unique_lock lock(sys_.mutex_);
    std::int64_t avail = 0;
    sys_.changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      avail = AvailLocked();
      return avail != 0;
    });
    return avail;
  }

  std::int64_t Write(const std::int16_t* data, std::int64_t frames) override {
    std::lock_guard lock(sys_.mutex_);
    const std::int64_t n = std::min(frames, AvailLocked());
    if (n < 0) return n;
    sys_.written_.insert(sys_.written_.end(), data, data + n * channels());
    written_ += n;
    moved_ += n;
    if (!running_ && written_ - played_ >= startThreshold_) StartLocked();
    UpdateLocked();
    return n;
  }

  std::int64_t Read(std::int16_t* data, std::int64_t frames) override {
    std::lock_guard lock(sys_.mutex_);
    const std::int64_t n = std::min(frames, AvailLocked());
    if (n < 0) return n;
    const std::size_t ch = static_cast<std::size_t>(channels());
    for (std::int64_t f = 0; f < n; ++f)
      for (std::size_t c = 0; c < ch; ++c) {
        const std::size_t i = static_cast<std::size_t>(read_ + f) * ch + c;
        data[static_cast<std::size_t>(f) * ch + c] = i < captureData_.size() ? captureData_[i] : 0;
      }
    read_ += n;
    moved_ += n;
    sys_.captured_ += n;
    return n;
  }

  int Start() override {
    std::lock_guard lock(sys_.mutex_);
    if (!running_) StartLocked();
    return 0;
  }

  void Flush() override {
    std::lock_guard lock(sys_.mutex_);
    if (!running_ && written_ > played_) StartLocked();
  }

  std::int64_t Delay() override {
    std::lock_guard lock(sys_.mutex_);
    if (!playback_) return 0;
    UpdateLocked();
    return written_ - played_;
  }

  void Drop() override {
    std::lock_guard lock(sys_.mutex_);
    UpdateLocked();
    written_ = played_;
    running_ = false;
  }

 private:
  bool Failed() const { return sys_.failAfter_ >= 0 && moved_ >= sys_.failAfter_; }

  void StartLocked() {
    running_ = true;
    startUs_ = sys_.clockUs_;
    framesAtStart_ = playback_ ? played_ : produced_;
  }

  // Frames the clock has moved this stream since it started.
  std::int64_t ElapsedFrames() const {
    if (!running_) return 0;
    const std::int64_t us = sys_.clockUs_ - startUs_;
    return us / 1000000 * rate() + us % 1000000 * rate() / 1000000;
  }

  // What the clock has moved; the system calls it for every stream on each tick.
 public:
  std::int64_t QueuedLocked() const { return playback_ ? written_ - played_ : 0; }
  void UpdateLocked() {
    if (playback_) {
      if (!running_ && !sys_.freeRunning_) return;  // stopped: nothing moves
      const std::int64_t was = played_;
      played_ = sys_.freeRunning_ ? written_ : std::min(written_, framesAtStart_ + ElapsedFrames());
      sys_.played_ += played_ - was;
      // An underrun stops the device until it is written again.
      if (running_ && played_ == written_ && !sys_.freeRunning_) running_ = false;
    } else {
      if (!running_) return;
      produced_ = sys_.freeRunning_ ? read_ + capacity_ : framesAtStart_ + ElapsedFrames();
      // An overrun loses the oldest frames.
      if (produced_ - read_ > capacity_) read_ = produced_ - capacity_;
    }
  }


 private:
  std::int64_t AvailLocked() {
    if (Failed()) return -ENODEV;
    UpdateLocked();
    if (playback_) return capacity_ - (written_ - played_);
    return running_ ? produced_ - read_ : 0;
  }

  FakeSoundSystem& sys_;
  bool playback_;
  std::int64_t capacity_;
  std::int64_t startThreshold_;
  bool running_ = false;
  std::int64_t startUs_ = 0;
  std::int64_t framesAtStart_ = 0;
  std::int64_t written_ = 0;
  std::int64_t played_ = 0;
  std::int64_t produced_ = 0;
  std::int64_t read_ = 0;
  std::int64_t moved_ = 0;
  std::vector<std::int16_t> captureData_;
};

FakeSoundSystem::~FakeSoundSystem() { assert(openStreams_ == 0 && "a fake stream outlives its system"); }

void FakeSoundSystem::AdvanceMs(std::int64_t ms) {
  {
    std::lock_guard lock(mutex_);
    clockUs_ += ms * 1000;
    for (FakeStream* s : streams_) s->UpdateLocked();
  }
  changed_.notify_all();
}

void FakeSoundSystem::SetFreeRunning(bool on) {
  {
    std::lock_guard lock(mutex_);
    freeRunning_ = on;
  }
  changed_.notify_all();
}

void FakeSoundSystem::SetDevices(std::vector<SoundDeviceName> devices) {
  std::lock_guard lock(mutex_);
  devices_ = std::move(devices);
}

void FakeSoundSystem::SetOpenFailure(std::string message) {
  std::lock_guard lock(mutex_);
  openFailure_ = std::move(message);
}

void FakeSoundSystem::SetFailAfterFrames(std::int64_t frames) {
  {
    std::lock_guard lock(mutex_);
    failAfter_ = frames;
  }
  changed_.notify_all();
}

void FakeSoundSystem::SetCaptureData(std::vector<std::int16_t> samples) {
  std::lock_guard lock(mutex_);
  captureData_ = std::move(samples);
}

std::vector<std::int16_t> FakeSoundSystem::written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

std::int64_t FakeSoundSystem::playedFrames() const {
  std::lock_guard lock(mutex_);
  return played_;
}

std::int64_t FakeSoundSystem::capturedFrames() const {
  std::lock_guard lock(mutex_);
  return captured_;
}

std::int64_t FakeSoundSystem::queuedFrames() const {
  std::lock_guard lock(mutex_);
  std::int64_t n = 0;
  for (const FakeStream* s : streams_) n += s->QueuedLocked();
  return n;
}

int FakeSoundSystem::openStreams() const {
  std::lock_guard lock(mutex_);
  return openStreams_;
}

int FakeSoundSystem::opens() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

StreamRequest FakeSoundSystem::lastRequest() const {
  std::lock_guard lock(mutex_);
  return last_;
}

std::vector<SoundDeviceName> FakeSoundSystem::ListDevices(StreamDirection) {
  std::lock_guard lock(mutex_);
  return devices_;
}

std::unique_ptr<SoundStream> FakeSoundSystem::Open(const StreamRequest& request,
                                                   std::string* message) {
  std::lock_guard lock(mutex_);
  last_ = request;
  const std::string name = request.device.empty() ? std::string(kDefaultSoundDevice) : request.device;
  std::string failure = openFailure_;
  if (failure.empty() && std::none_of(devices_.begin(), devices_.end(),
                                      [&](const SoundDeviceName& d) { return d.name == name; }))
    failure = "The sound device \"" + name + "\" was not found.";
  if (!failure.empty()) {
    if (message) *message = failure;
    return nullptr;
  }
  ++opens_;
  ++openStreams_;
  return std::make_unique<FakeStream>(*this, request);
}

}  // namespace quillet::platform
