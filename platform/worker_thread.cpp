#include "platform/worker_thread.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <system_error>

namespace quillet::platform {

Notifier::Notifier(NotificationQueue& queue, std::function<void()> handler)
    : queue_(queue), box_(std::make_shared<Box>()) {
  box_->handler = std::move(handler);
}

Notifier::~Notifier() { box_->handler = nullptr; }

void Notifier::Post() {
  if (!box_->pending.exchange(true, std::memory_order_acq_rel)) queue_.Push(box_);
}

void NotificationQueue::Push(std::shared_ptr<Notifier::Box> box) {
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(box);
  }
  posted_.notify_all();
  if (waker_) waker_->Wake();
}

int NotificationQueue::Dispatch() {
  std::deque<std::weak_ptr<Notifier::Box>> ready;
  {
    std::lock_guard lock(mutex_);
    ready.swap(pending_);
  }
  int ran = 0;
  for (auto& weak : ready) {
    const std::shared_ptr<Notifier::Box> box = weak.lock();
    if (!box) continue;
    box->pending.store(false, std::memory_order_release);
    // A copy: the handler may destroy its own notifier.
    const std::function<void()> handler = box->handler;
    if (handler) {
      handler();
      ++ran;
    }
  }
  return ran;
}

int NotificationQueue::WaitAndDispatch(int timeoutMs) {
  {
    std::unique_lock lock(mutex_);
    posted_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !pending_.empty(); });
  }
  return Dispatch();
}

bool LWorkerThread::Start(std::function<void()> job, ThreadPriority priority) {
  if (thread_.joinable()) return false;
  stop_.store(false, std::memory_order_release);
  try {
    thread_ = std::thread([job = std::move(job), priority] {
      if (priority == ThreadPriority::kIdle) {
        // Best effort: a job that keeps the normal priority still works.
        sched_param param{};
        pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
      }
      job();
    });
  } catch (const std::system_error&) {
    return false;  // out of threads: the caller reports it
  }
  return true;
}

void LWorkerThread::Stop(const std::function<void()>& wake) {
  if (!thread_.joinable()) return;
  stop_.store(true, std::memory_order_release);
  if (wake) wake();
  thread_.join();
}

}  // namespace quillet::platform
