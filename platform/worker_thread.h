#pragma once
// Background jobs and the way they report to the interface thread. A job runs on an
// LWorkerThread, checks its stop request between steps and posts to its Notifier;
// the NotificationQueue collects the posts, asks its InterfaceWaker (the editor's
// window, or nothing for loops that wait themselves) to schedule a dispatch, and
// Dispatch runs the owners' handlers on the interface thread. Posts coalesce: one
// pending post per notifier, as the handler reads the state flags it needs.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quillet::platform {

// Implemented by whatever runs the interface thread's loop: it arranges for
// NotificationQueue::Dispatch to be called there soon. Called from any thread.
class InterfaceWaker {
 public:
  virtual ~InterfaceWaker() = default;
  virtual void Wake() = 0;
};

class NotificationQueue;

// One owner's mailbox. The handler runs on the interface thread; destroying the
// notifier drops a post still waiting.
class Notifier {
 public:
  Notifier(NotificationQueue& queue, std::function<void()> handler);
  ~Notifier();
  Notifier(const Notifier&) = delete;
  Notifier& operator=(const Notifier&) = delete;

  // Any thread.
  void Post();

  struct Box {
    std::atomic<bool> pending{false};
    std::function<void()> handler;  // interface thread only; empty once detached
  };

 private:
  NotificationQueue& queue_;
  std::shared_ptr<Box> box_;
};

class NotificationQueue {
 public:
  explicit NotificationQueue(InterfaceWaker* waker = nullptr) : waker_(waker) {}
  NotificationQueue(const NotificationQueue&) = delete;
  NotificationQueue& operator=(const NotificationQueue&) = delete;

  // Interface thread: runs the handlers of every pending post; returns how many ran.
  int Dispatch();
  // Interface thread, for loops without a window system (quillet-cli, tests): waits
  // up to timeoutMs for a post, then dispatches.
  int WaitAndDispatch(int timeoutMs);

 private:
  friend class Notifier;
  void Push(std::shared_ptr<Notifier::Box> box);

  InterfaceWaker* waker_;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::weak_ptr<Notifier::Box>> pending_;
};

enum class ThreadPriority {
  kNormal,
  kIdle,  // runs only when nothing else wants the processor (display work)
};

// One joinable thread with a stop request, owned by whoever owns what the job uses.
// Stop, and the destructor, always join: what the job uses may be freed as soon as
// they return.
class LWorkerThread {
 public:
  LWorkerThread() = default;
  ~LWorkerThread() { Stop(); }
  LWorkerThread(const LWorkerThread&) = delete;
  LWorkerThread& operator=(const LWorkerThread&) = delete;

  // Runs job on a new thread with a cleared stop request. Refused (false) while the
  // previous thread has not been stopped, even when its job has returned: two jobs on
  // one owner's state would race. Also false when the system has no thread to give.
  [[nodiscard]] bool Start(std::function<void()> job,
                           ThreadPriority priority = ThreadPriority::kNormal);
  // Sets the stop request, calls wake (which must rouse the job from its waits) and
  // joins. Does nothing when no thread runs.
  void Stop(const std::function<void()>& wake = {});
  // Owner's thread only.
  bool running() const { return thread_.joinable(); }
  // Any thread; the job polls it between steps.
  bool stopRequested() const { return stop_.load(std::memory_order_acquire); }
  // For loops below the job that take a cancel flag.
  const std::atomic<bool>& stopFlag() const { return stop_; }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace quillet::platform
