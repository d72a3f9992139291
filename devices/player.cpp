#include "devices/player.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "audio/pcm.h"
#include "devices/peak_limit.h"
#include "devices/play_speed.h"
#include "platform/frame_time.h"

namespace quillet::devices {
namespace {

using audio::FrameCount;
using audio::FramePos;
using audio::Sample;

constexpr std::int64_t kUnity = std::int64_t{1} << 24;
// How often the watcher looks for heard buffers while it has nothing to write.
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr int kDeviceWaitMs = 20;

std::int64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

}  // namespace

std::int64_t GainFromDb(int db) {
  if (db <= kMinVolumeDb) return 0;
  db = std::min(db, kMaxVolumeDb);
  return std::llround(std::pow(10.0, db / 20.0) * static_cast<double>(kUnity));
}

LSoundPlayer::LSoundPlayer(platform::SoundSystem& system, platform::NotificationQueue& queue)
    : system_(system), notifier_(queue, [this] { OnNotification(); }) {}

LSoundPlayer::~LSoundPlayer() { CloseQuietly(); }

void LSoundPlayer::InstallListener(LPlayerListener* listener, std::uintptr_t cookie) {
  listener_ = listener ? listener : &defaultListener_;
  cookie_ = cookie;
}

void LSoundPlayer::SetVolumeDb(int db) {
  db = std::clamp(db, kMinVolumeDb, kMaxVolumeDb);
  volumeDb_.store(db);
  gain_.store(GainFromDb(db));
}

FramePos LSoundPlayer::playPosition() const {
  std::lock_guard lock(mutex_);
  return playPosition_;
}

std::int64_t LSoundPlayer::Ms(FramePos frames) const {
  return platform::MsFromFrames(frames, source_ ? source_->sampleRate() : 0);
}

bool LSoundPlayer::Open(audio::SourceHandle source, std::string_view device) {
  Close();
  lastError_.clear();
  if (!source || !source->ready()) {
    lastError_ = "The sound cannot be played because it could not be read.";
    return false;
  }
  source = LimitSource(std::move(source), kPlaybackLimit);
  const int rate = source->sampleRate();
  channels_ = source->channels();
  platform::StreamRequest rq;
  rq.device = std::string(device);
  rq.direction = platform::StreamDirection::Playback;
  rq.rate = rate;
  rq.channels = channels_;
  stream_ = system_.Open(rq, &lastError_);
  if (!stream_) return false;

  bufferFrames_ = std::clamp<FrameCount>(rate / 10, 20, 8192);
  const std::size_t samples = static_cast<std::size_t>(bufferFrames_) * channels_;
  for (Buffer& b : ring_) b.samples.assign(samples, 0);
  snippetPcm_.assign(samples, 0);
  source_ = std::move(source);
  open_ = true;
  holding_ = silent_ = false;
  ResetRing();
  const FramePos start = source_->position();
  {
    std::lock_guard lock(mutex_);
    playPosition_ = repeatStart_ = start;
  }
  if (!StartThreads()) {
    CloseQuietly();
    return false;
  }
  listener_->Playing(cookie_);
  // The start, not playPosition_: the watcher may already have moved it on.
  listener_->Position(Ms(start), cookie_);
  return true;
}

void LSoundPlayer::CloseQuietly() {
  repeat_.store(false);
  StopThreads();
  stream_.reset();
  for (Buffer& b : ring_) std::vector<Sample>().swap(b.samples);
  std::vector<std::int16_t>().swap(snippetPcm_);
  if (source_) audio::ReleaseToEmpty(source_);
  open_ = holding_ = silent_ = false;
  std::lock_guard lock(mutex_);
  playPosition_ = 0;
  feederDone_ = endReached_ = deviceFailed_ = positionChanged_ = false;
}

void LSoundPlayer::Close() {
  if (!open_) return;
  // Everything is released before the listener hears of it, so a listener that
  // plays again from Stopped starts from a clean player.
  CloseQuietly();
  listener_->Stopped(cookie_);
}

void LSoundPlayer::StopThreads() {
  const auto wake = [this] {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  };
  feeder_.Stop(wake);
  watcher_.Stop(wake);
}

void LSoundPlayer::ResetRing() {
  std::lock_guard lock(mutex_);
  for (Buffer& b : ring_) b.state = BufferState::Free;
  feederDone_ = endReached_ = deviceFailed_ = positionChanged_ = false;
}

bool LSoundPlayer::StartThreads() {
  // StopThreads ran before every start, so a refusal means no thread was to be had.
  const bool started = holding_ ? watcher_.Start([this] { Loop(); })
                                : feeder_.Start([this] { Feed(); }) && watcher_.Start([this] { Watch(); });
  if (started) return true;
  StopThreads();
  lastError_ = "Playback cannot start: the system has no thread to spare.";
  return false;
}

void LSoundPlayer::HoldAt(bool silent) {
  if (!open_ || (holding_ && silent_ == silent)) return;
  StopThreads();
  stream_->Drop();
  ResetRing();
  source_->seek(playPosition());
  {
    std::lock_guard lock(mutex_);
    playPosition_ = source_->position();
  }
  silent_ = silent;
  MakeSnippet();
  holding_ = true;
  if (!StartThreads()) return Close();
  listener_->Levels(levels_, cookie_);
  listener_->Holding(cookie_);
  listener_->Position(Ms(playPosition()), cookie_);
}

void LSoundPlayer::Resume() {
  if (!open_ || !holding_) return;
  StopThreads();
  stream_->Drop();
  ResetRing();
  holding_ = silent_ = false;
  if (!StartThreads()) return Close();
  listener_->Playing(cookie_);
}

void LSoundPlayer::Reposition(FramePos frame) {
  if (!open_) return;
  StopThreads();
  stream_->Drop();
  ResetRing();
  source_->seek(frame);
  {
    std::lock_guard lock(mutex_);
    playPosition_ = source_->position();
  }
  if (holding_) MakeSnippet();
  if (!StartThreads()) return Close();
  listener_->Position(Ms(playPosition()), cookie_);
}

void LSoundPlayer::MakeSnippet() {
  if (silent_) {
    std::fill(snippetPcm_.begin(), snippetPcm_.end(), std::int16_t{0});
    LLevelRecord quiet;
    quiet.channels = static_cast<std::uint8_t>(channels_);
    quiet.level.fill(-127);
    std::lock_guard lock(mutex_);
    levels_ = quiet;
    return;
  }
  // A quarter buffer, four times over, so the loop is short enough to follow a
  // scrubbing hand. The source goes back, so Resume plays on from the same place.
  const FramePos at = source_->position();
  const FrameCount part = (bufferFrames_ + 3) / 4;
  std::vector<Sample>& s = ring_[0].samples;
  source_->read(s.data(), part);
  for (FrameCount f = part; f < bufferFrames_; ++f)
    for (int c = 0; c < channels_; ++c) s[f * channels_ + c] = s[(f % part) * channels_ + c];
  source_->seek(at);
  const LLevelRecord levels = MeanSquareLevels({s.data(), channels_, bufferFrames_});
  ToPcm(s.data(), bufferFrames_, snippetPcm_.data());
  std::lock_guard lock(mutex_);
  levels_ = levels;
}

void LSoundPlayer::ToPcm(const Sample* in, FrameCount frames, std::int16_t* out) const {
  const std::size_t n = static_cast<std::size_t>(frames) * channels_;
  auto* bytes = reinterpret_cast<std::uint8_t*>(out);
  const std::int64_t gain = gain_.load(std::memory_order_relaxed);
  if (gain == kUnity) {
    audio::SamplesToPcm(audio::PcmLayout::S16LE, in, bytes, n);
    return;
  }
  // In chunks, so the scaled copy stays small and on the stack.
  Sample scaled[1024];
  for (std::size_t done = 0; done < n;) {
    const std::size_t m = std::min<std::size_t>(n - done, 1024);
    for (std::size_t i = 0; i < m; ++i) scaled[i] = audio::SaturateSample((std::int64_t{in[done + i]} * gain) >> 24);
    audio::SamplesToPcm(audio::PcmLayout::S16LE, scaled, bytes + done * 2, m);
    done += m;
  }
}

void LSoundPlayer::Feed() {
  const std::int64_t cpuStart = ThreadCpuNs();
  FrameCount sinceLoop = 0;
  for (int i = 0;; i = (i + 1) % kBufferCount) {
    Buffer& b = ring_[i];
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return feeder_.stopRequested() || b.state == BufferState::Free; });
      if (feeder_.stopRequested()) break;
    }
    FrameCount left = FramesLeft(*source_);
    if (left < 1 && repeat_.load() && sinceLoop > 0) {
      source_->seek(repeatStart_);
      sinceLoop = 0;
      left = FramesLeft(*source_);
    }
    const FrameCount n = std::min(left, bufferFrames_);
    // Audio that cannot be read ends the play as its end would.
    if (n > 0 && !source_->failed()) source_->read(b.samples.data(), n);
    if (left < 1 || source_->failed()) {
      std::lock_guard lock(mutex_);
      feederDone_ = true;
      changed_.notify_all();
      break;
    }
    const LLevelRecord levels = MeanSquareLevels({b.samples.data(), channels_, n});
    const FramePos end = source_->position();
    sinceLoop += n;
    std::lock_guard lock(mutex_);
    b.frames = n;
    b.endPosition = end;
    b.levels = levels;
    b.state = BufferState::Filled;
    changed_.notify_all();
  }
  feederCpuNs_.fetch_add(ThreadCpuNs() - cpuStart);
}

void LSoundPlayer::Watch() {
  std::vector<std::int16_t> pcm(static_cast<std::size_t>(bufferFrames_) * channels_);
  int next = 0;      // the next buffer to write
  int heardNext = 0; // the next buffer to be heard
  std::int64_t written = 0;
  FrameCount offset = 0;  // frames of `next` already written
  const auto fail = [this] {
    std::lock_guard lock(mutex_);
    deviceFailed_ = true;
  };
  while (!watcher_.stopRequested()) {
    const std::int64_t heard = written + offset - stream_->Delay();
    bool freed = false, filled = false, done = false, pending = false;
    {
      std::lock_guard lock(mutex_);
      while (ring_[heardNext].state == BufferState::Written && ring_[heardNext].deviceEnd <= heard) {
        Buffer& b = ring_[heardNext];
        playPosition_ = b.endPosition;
        levels_ = b.levels;
        b.state = BufferState::Free;
        positionChanged_ = freed = true;
        heardNext = (heardNext + 1) % kBufferCount;
      }
      if (freed) changed_.notify_all();
      filled = ring_[next].state == BufferState::Filled;
      done = feederDone_;
      pending = ring_[heardNext].state == BufferState::Written;
    }
    if (freed) notifier_.Post();

    if (filled) {
      Buffer& b = ring_[next];
      if (offset == 0) ToPcm(b.samples.data(), b.frames, pcm.data());
      const std::int64_t got = stream_->Write(pcm.data() + offset * channels_, b.frames - offset);
      if (got < 0) {
        fail();
        break;
      }
      offset += got;
      if (offset == b.frames) {
        written += b.frames;
        offset = 0;
        next = (next + 1) % kBufferCount;
        std::lock_guard lock(mutex_);
        b.deviceEnd = written;
        b.state = BufferState::Written;
      } else if (stream_->WaitReady(kDeviceWaitMs) < 0) {
        fail();
        break;
      }
      continue;
    }
    if (done) {
      stream_->Flush();
      if (!pending) {
        {
          std::lock_guard lock(mutex_);
          endReached_ = true;
        }
        break;
      }
    }
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kPollInterval, [&] {
      return watcher_.stopRequested() || (!done && ring_[next].state == BufferState::Filled);
    });
  }
  // Whatever ended the loop, the interface thread must hear of it.
  notifier_.Post();
}

void LSoundPlayer::Loop() {
  const FrameCount frames = bufferFrames_;
  FrameCount at = 0;
  while (!watcher_.stopRequested()) {
    const std::int64_t got = stream_->Write(snippetPcm_.data() + at * channels_, frames - at);
    if (got < 0) {
      std::lock_guard lock(mutex_);
      deviceFailed_ = true;
      break;
    }
    at = (at + got) % frames;
    if (got == 0 && stream_->WaitReady(kDeviceWaitMs) < 0) {
      std::lock_guard lock(mutex_);
      deviceFailed_ = true;
      break;
    }
  }
  notifier_.Post();
}

void LSoundPlayer::OnNotification() {
  if (!open_) return;
  bool end, failed, changed;
  FramePos position;
  LLevelRecord levels;
  {
    std::lock_guard lock(mutex_);
    end = endReached_;
    failed = deviceFailed_;
    changed = std::exchange(positionChanged_, false);
    position = playPosition_;
    levels = levels_;
  }
  if (failed) {
    lastError_ = "Playback stopped because the sound device failed.";
    Close();
    return;
  }
  if (end) {
    listener_->Position(Ms(position), cookie_);
    Close();
    return;
  }
  if (changed) {
    listener_->Position(Ms(position), cookie_);
    listener_->Levels(levels, cookie_);
  }
}

}  // namespace quillet::devices
