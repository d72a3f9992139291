#include "devices/recorder.h"

#include <algorithm>

#include "audio/pcm.h"
#include "devices/player.h"
#include "platform/frame_time.h"

namespace quillet::devices {
namespace {

using audio::FrameCount;
using audio::Sample;

constexpr int kDeviceWaitMs = 200;
constexpr std::int64_t kPreRollKeepMs = 450;  // quiet kept when voice activation pauses
constexpr std::int64_t kTailKeepMs = 50;      // kept after the last loud buffer on stop

}  // namespace

DcFilter::DcFilter(int rate, int channels)
    : k_(std::clamp(192000 / std::max(rate, 1) + 1, 1, 4096)),
      acc_(static_cast<std::size_t>(std::max(channels, 1)), 0) {}

void DcFilter::Process(audio::BlockView block) {
  const int ch = std::min<int>(block.channels(), static_cast<int>(acc_.size()));
  for (audio::FrameCount f = 0; f < block.frames(); ++f)
    for (int c = 0; c < ch; ++c) {
      std::int64_t& acc = acc_[static_cast<std::size_t>(c)];
      const std::int64_t y = block(c, f) - (acc >> 12);
      acc += y * k_;
      block(c, f) = static_cast<Sample>(std::clamp<std::int64_t>(y, audio::kSampleMin, audio::kSampleMax));
    }
}

LSoundRecorder::LSoundRecorder(platform::SoundSystem& system, platform::NotificationQueue& queue)
    : system_(system), notifier_(queue, [this] { OnNotification(); }) {}

LSoundRecorder::~LSoundRecorder() { StopQuietly(); }

void LSoundRecorder::InstallListener(LRecorderListener* listener, std::uintptr_t cookie) {
  listener_ = listener ? listener : &defaultListener_;
  cookie_ = cookie;
}

void LSoundRecorder::SetInputGainDb(int db) { gain_.store(GainFromDb(db)); }

LSoundRecorder::State LSoundRecorder::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::int64_t LSoundRecorder::keptTimeMs() const {
  std::lock_guard lock(mutex_);
  return keptMs_;
}

bool LSoundRecorder::Start(audio::SinkHandle sink, const RecordOptions& options) {
  Stop();
  lastError_.clear();
  if (!sink || sink->failed()) {
    lastError_ = sink ? sink->failureMessage() : "There is nothing to record into.";
    if (lastError_.empty()) lastError_ = "The recording cannot be written.";
    return false;
  }
  platform::StreamRequest rq;
  rq.device = options.device;
  rq.direction = platform::StreamDirection::Capture;
  rq.rate = static_cast<int>(sink->sampleRate());
  rq.channels = sink->channels();
  rq.bufferMs = 3000;  // as deep as 30 buffers of 100 ms
  rq.periodMs = 50;
  stream_ = system_.Open(rq, &lastError_);
  if (!stream_) return false;

  sink_ = std::move(sink);
  options_ = options;
  stayThresholdDb_ = std::clamp(options.startThresholdDb - 4, -127, 127);
  SetInputGainDb(options.inputGainDb);
  captured_.store(0);
  {
    std::lock_guard lock(mutex_);
    keptMs_ = platform::MsFromFrames(sink_->framesWritten(), sink_->sampleRate());
    state_ = State::Listening;
    levelsChanged_ = stateChanged_ = limitReached_ = deviceFailed_ = sinkFailed_ = false;
  }
  if (!StartCapture()) {
    StopQuietly();
    return false;
  }
  listener_->Listening(cookie_);
  listener_->Time(keptTimeMs(), cookie_);
  return true;
}

bool LSoundRecorder::Restart() {
  if (state() == State::Idle) return false;
  StopThread();
  stream_->Drop();
  sink_->truncate(0);
  {
    std::lock_guard lock(mutex_);
    keptMs_ = 0;
    state_ = State::Listening;
    levelsChanged_ = stateChanged_ = limitReached_ = false;
  }
  if (!StartCapture()) {
    Stop();
    return false;
  }
  listener_->Listening(cookie_);
  listener_->Time(0, cookie_);
  return true;
}

bool LSoundRecorder::StartCapture() {
  // The thread was stopped before every start, so a refusal means no thread was to be had.
  if (thread_.Start([this] { Capture(); })) return true;
  lastError_ = "Recording cannot start: the system has no thread to spare.";
  return false;
}

void LSoundRecorder::StopThread() { thread_.Stop(); }

void LSoundRecorder::StopQuietly() {
  if (state() == State::Idle) return;
  StopThread();
  stream_.reset();
  std::int64_t kept;
  {
    std::lock_guard lock(mutex_);
    kept = keptMs_ + kTailKeepMs;
    if (options_.timeLimitMs > 0) kept = std::min(kept, options_.timeLimitMs);
    keptMs_ = 0;
    state_ = State::Idle;
  }
  const FrameCount keep = platform::FramesFromMs(kept, sink_->sampleRate());
  if (sink_->framesWritten() > keep) sink_->truncate(keep);
  sink_.reset();
}

void LSoundRecorder::Stop() {
  if (state() == State::Idle) return;
  StopQuietly();
  listener_->Stopped(cookie_);
}

void LSoundRecorder::Capture() {
  const int rate = stream_->rate();
  const int ch = stream_->channels();
  const FrameCount frames = std::clamp<FrameCount>(rate / 10, 20, 8192);
  std::vector<std::int16_t> pcm(static_cast<std::size_t>(frames) * ch);
  audio::AudioBlock block(ch, frames);
  previous_ = audio::AudioBlock(ch, frames);
  hasPrevious_ = false;
  dc_ = std::make_unique<DcFilter>(rate, ch);
  const auto fail = [this] {
    std::lock_guard lock(mutex_);
    deviceFailed_ = true;
  };

  if (stream_->Start() < 0) fail();
  const std::int64_t captureLimit =
      options_.captureLimitMs > 0 ? platform::FramesFromMs(options_.captureLimitMs, rate) : -1;
  bool captureEnded = false;
  FrameCount got = 0;
  while (!thread_.stopRequested()) {
    FrameCount want = frames - got;
    if (captureLimit >= 0) want = std::min<FrameCount>(want, captureLimit - captured_.load());
    if (want <= 0) {
      captureEnded = true;
      break;
    }
    // Zeroed first: a device that returns frames without data then gives silence.
    std::fill(pcm.begin() + got * ch, pcm.end(), std::int16_t{0});
    const std::int64_t n = stream_->Read(pcm.data() + got * ch, want);
    if (n < 0) {
      fail();
      break;
    }
    got += n;
    captured_.fetch_add(n);
    if (got == frames) {
      got = 0;
      audio::PcmToSamples(audio::PcmLayout::S16LE, reinterpret_cast<const std::uint8_t*>(pcm.data()),
                          block.data(), pcm.size());
      Process(block.view());
      notifier_.Post();
      continue;
    }
    if (n == 0 && stream_->WaitReady(kDeviceWaitMs) < 0) {
      fail();
      break;
    }
  }
  // What was captured before the stop still counts when writing.
  if (got > 0) {
    bool writing;
    {
      std::lock_guard lock(mutex_);
      writing = state_ == State::Writing && !limitReached_;
    }
    if (writing) {
      audio::PcmToSamples(audio::PcmLayout::S16LE, reinterpret_cast<const std::uint8_t*>(pcm.data()),
                          block.data(), static_cast<std::size_t>(got) * ch);
      audio::BlockView tail = block.view().first(got);
      Process(tail);
    }
  }
  if (captureEnded) {
    std::lock_guard lock(mutex_);
    limitReached_ = true;
  }
  notifier_.Post();
}

void LSoundRecorder::Write(audio::ConstBlockView block) {
  sink_->write(block);
  if (sink_->failed()) {
    std::lock_guard lock(mutex_);
    sinkFailed_ = true;
  }
}

void LSoundRecorder::Process(audio::BlockView block) {
  const std::int64_t gain = gain_.load(std::memory_order_relaxed);
  if (gain != std::int64_t{1} << 24)
    for (Sample* s = block.data(); s != block.data() + block.samples(); ++s)
      *s = static_cast<Sample>(std::clamp<std::int64_t>((std::int64_t{*s} * gain) >> 24,
                                                        audio::kSampleMin, audio::kSampleMax));
  dc_->Process(block);
  const LLevelRecord levels = PeakLevels(block);
  const int loud = Loudness(levels);
  const std::uint32_t rate = sink_->sampleRate();

  State state;
  std::int64_t kept;
  {
    std::lock_guard lock(mutex_);
    levels_ = levels;
    levelsChanged_ = true;
    state = state_;
    kept = keptMs_;
    if (limitReached_ || sinkFailed_) return;
  }
  if (state == State::Writing) {
    Write(block);
    std::int64_t t = platform::MsFromFrames(sink_->framesWritten(), rate);
    bool pause = false, limit = false;
    if (loud < stayThresholdDb_ && t - kept > options_.quietLimitMs) {
      const FrameCount keep = platform::FramesFromMs(kept + kPreRollKeepMs, rate);
      if (sink_->framesWritten() > keep) sink_->truncate(keep);
      std::copy(block.data(), block.data() + block.samples(), previous_.data());
      hasPrevious_ = block.frames() == previous_.frames();
      pause = true;
    } else if (loud >= stayThresholdDb_) {
      kept = t;
    }
    if (options_.timeLimitMs > 0 && t > options_.timeLimitMs) {
      // Exactly the asked length, not a buffer more.
      sink_->truncate(platform::FramesFromMs(options_.timeLimitMs, rate));
      limit = true;
    }
    std::lock_guard lock(mutex_);
    keptMs_ = kept;
    if (pause) {
      state_ = State::Listening;
      stateChanged_ = true;
    }
    limitReached_ = limit;
    return;
  }
  if (loud < options_.startThresholdDb) {
    std::copy(block.data(), block.data() + block.samples(), previous_.data());
    hasPrevious_ = block.frames() == previous_.frames();
    return;
  }
  const audio::FrameCount half = block.frames() / 2;
  if (hasPrevious_ && Loudness(PeakLevels(block.first(half))) >= options_.startThresholdDb)
    Write(previous_.view().from(previous_.frames() - half));
  Write(block);
  hasPrevious_ = false;
  std::lock_guard lock(mutex_);
  // Writing starts loud: what is in the sink now is worth keeping.
  keptMs_ = platform::MsFromFrames(sink_->framesWritten(), rate);
  state_ = State::Writing;
  stateChanged_ = true;
}

void LSoundRecorder::OnNotification() {
  if (state() == State::Idle) return;
  bool stop, failed, sinkFailed, levelsChanged, stateChanged;
  State state;
  std::int64_t kept;
  LLevelRecord levels;
  {
    std::lock_guard lock(mutex_);
    stop = limitReached_;
    failed = deviceFailed_;
    sinkFailed = sinkFailed_;
    levelsChanged = std::exchange(levelsChanged_, false);
    stateChanged = std::exchange(stateChanged_, false);
    state = state_;
    kept = keptMs_;
    levels = levels_;
  }
  if (failed) lastError_ = "Recording stopped because the sound input device failed.";
  if (sinkFailed) lastError_ = sink_->failureMessage().empty() ? "The recording cannot be written."
                                                               : sink_->failureMessage();
  if (stop || failed || sinkFailed) {
    Stop();
    return;
  }
  if (levelsChanged) {
    listener_->Time(kept, cookie_);
    listener_->Levels(levels, cookie_);
  }
  if (stateChanged) {
    if (state == State::Listening)
      listener_->Listening(cookie_);
    else
      listener_->Writing(cookie_);
  }
}

}  // namespace quillet::devices
