#include "core/peak_worker.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace quillet::core {

PeakWorker::PeakWorker(ReadyFn onReady)
    : onReady_(std::move(onReady)), top_(kMaxColumns + 1), bottom_(kMaxColumns + 1) {}

PeakWorker::~PeakWorker() { Stop(); }

void PeakWorker::Stop() {
  thread_.Stop([this] {
    {
      std::lock_guard g(requestLock_);
      wake_ = true;
    }
    wake_cv_.notify_all();
  });
  std::lock_guard g(requestLock_);
  busy_ = false;
  idle_cv_.notify_all();
}

void PeakWorker::SetAudio(const AudioChain& chain, const PeakOptions& options) {
  Stop();
  chain_ = chain;
  options_ = options;
  haveComputed_ = false;
  last_ = {};
  {
    std::lock_guard g(requestLock_);
    request_ = {};
    restart_ = true;
    wake_ = false;
  }
  {
    std::lock_guard g(displayLock_);
    map_ = ColumnMapping::Make(0, 0, width_);
    std::fill(top_.begin(), top_.end(), 0);
    std::fill(bottom_.begin(), bottom_.end(), 0);
  }
  // The display must never slow down editing or playback. Without a thread the
  // columns stay empty: the display shows silence rather than stopping the editor.
  (void)thread_.Start([this] { Run(); }, platform::ThreadPriority::kIdle);
}

void PeakWorker::RequestView(FramePos start, FrameCount length) {
  {
    std::lock_guard g(requestLock_);
    request_ = {start, length};
    wake_ = busy_ = true;
  }
  wake_cv_.notify_all();
}

void PeakWorker::Resize(int width) {
  {
    std::lock_guard g(requestLock_);
    width_ = std::clamp(width, 1, kMaxColumns);
    restart_ = wake_ = busy_ = true;
  }
  wake_cv_.notify_all();
}

PeakWorker::Columns PeakWorker::Snapshot() const {
  std::lock_guard g(displayLock_);
  const auto n = static_cast<std::ptrdiff_t>(map_.width) + 1;
  return {map_, {top_.begin(), top_.begin() + n}, {bottom_.begin(), bottom_.begin() + n}};
}

bool PeakWorker::WaitIdle(std::chrono::milliseconds timeout) const {
  std::unique_lock l(requestLock_);
  return idle_cv_.wait_for(l, timeout, [&] { return !busy_; });
}

void PeakWorker::Run() {
  for (;;) {
    Request req;
    int width;
    bool restart;
    {
      std::unique_lock l(requestLock_);
      wake_cv_.wait(l, [&] { return wake_; });
      if (thread_.stopRequested()) return;
      wake_ = false;
      req = request_;
      width = width_;
      restart = std::exchange(restart_, false);
    }
    if (!ComputeOne(req, width, restart)) return;
    std::lock_guard g(requestLock_);
    if (!wake_) {
      busy_ = false;
      idle_cv_.notify_all();
    }
  }
}

bool PeakWorker::ComputeOne(const Request& req, int width, bool restart) {
  if (restart) haveComputed_ = false;
  if (haveComputed_ && req == last_) return true;
  const ColumnMapping map = ColumnMapping::Make(req.start, req.length, width);
  const int columns = map.width + 1;
  int first = 0, count = columns;
  std::int64_t shift = 0;
  if (haveComputed_ && map.valid() && req.length == last_.length) {
    ColumnMapping old;
    {
      std::lock_guard g(displayLock_);
      old = map_;
    }
    shift = map.originColumn - old.originColumn;
    if (shift == 0 || std::abs(shift) >= columns) shift = 0;
    else if (shift > 0) first = columns - static_cast<int>(shift), count = static_cast<int>(shift);
    else count = static_cast<int>(-shift);
  }
  std::vector<std::uint8_t> top(static_cast<std::size_t>(count)), bottom(top.size());
  if (!ComputePeakColumns(chain_, map, first, count, options_, ChoosePeakSource(map), top.data(),
                          bottom.data(), &thread_.stopFlag()))
    return false;
  {
    std::lock_guard g(displayLock_);
    if (shift > 0) {
      std::copy(top_.begin() + shift, top_.begin() + columns, top_.begin());
      std::copy(bottom_.begin() + shift, bottom_.begin() + columns, bottom_.begin());
    } else if (shift < 0) {
      std::copy_backward(top_.begin(), top_.begin() + (columns + shift), top_.begin() + columns);
      std::copy_backward(bottom_.begin(), bottom_.begin() + (columns + shift), bottom_.begin() + columns);
    }
    std::copy(top.begin(), top.end(), top_.begin() + first);
    std::copy(bottom.begin(), bottom.end(), bottom_.begin() + first);
    map_ = map;
  }
  last_ = req;
  haveComputed_ = true;
  if (onReady_) onReady_(first, count, static_cast<int>(shift));
  return true;
}

}  // namespace quillet::core
