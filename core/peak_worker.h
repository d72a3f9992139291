#pragma once
// The background computation of one wave display's peak columns. The display hands it
// its chain and asks for views; the worker computes on a thread of the lowest priority,
// reuses the columns that a scroll only moves, and reports what changed.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "core/peaks.h"
#include "platform/worker_thread.h"

namespace quillet::core {

class PeakWorker {
 public:
  // Called on the worker thread when the columns [first, first + count) are new; the
  // others moved left by scrolledBy columns (right when negative; 0 when all are new).
  using ReadyFn = std::function<void(int first, int count, int scrolledBy)>;

  explicit PeakWorker(ReadyFn onReady = {});
  // Stops and joins the thread before the chain it reads goes.
  ~PeakWorker();
  PeakWorker(const PeakWorker&) = delete;
  PeakWorker& operator=(const PeakWorker&) = delete;

  // Restarts from a clean state on a copy of chain, with no view.
  void SetAudio(const AudioChain& chain, const PeakOptions& options);
  // Only the latest request counts.
  void RequestView(FramePos start, FrameCount length);
  // New usable width (clamped to 1..kMaxColumns): every column is computed again.
  void Resize(int width);

  struct Columns {
    ColumnMapping map;
    std::vector<std::uint8_t> top, bottom;  // columns 0..map.width
  };
  Columns Snapshot() const;
  // Waits until the latest request has been computed; false on timeout.
  bool WaitIdle(std::chrono::milliseconds timeout) const;

 private:
  struct Request {
    FramePos start = 0;
    FrameCount length = 0;
    friend bool operator==(const Request&, const Request&) = default;
  };

  void Stop();
  void Run();
  bool ComputeOne(const Request& req, int width, bool restart);

  ReadyFn onReady_;
  AudioChain chain_;
  PeakOptions options_;
  mutable std::mutex requestLock_;  // request_, width_, restart_, wake_, busy_
  mutable std::condition_variable wake_cv_, idle_cv_;
  Request request_;
  int width_ = 1;
  bool restart_ = false, wake_ = false, busy_ = false;

  // Worker state: the last view computed.
  Request last_;
  bool haveComputed_ = false;

  mutable std::mutex displayLock_;  // map_, top_, bottom_
  ColumnMapping map_;
  std::vector<std::uint8_t> top_, bottom_;

  // Last: joined before anything above goes.
  platform::LWorkerThread thread_;
};

}  // namespace quillet::core
