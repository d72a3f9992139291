#pragma once
// Background threads and the way they report to the interface thread. A worker posts
// to its Notifier from any thread; the NotificationQueue collects the posts, asks
// its InterfaceWaker (implemented by the editor window) to schedule a dispatch, and
// Dispatch runs the owners' handlers on the interface thread. Posts coalesce: one
// pending post per notifier, as the handler reads the state flags it needs.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace quillet::devices {

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

// A joinable thread with a stop request. Stop always joins: whatever the body uses
// may be freed as soon as Stop returns.
class LWorkerThread {
 public:
  LWorkerThread() = default;
  ~LWorkerThread() { Stop(); }
  LWorkerThread(const LWorkerThread&) = delete;
  LWorkerThread& operator=(const LWorkerThread&) = delete;

  // Runs body on a new thread; does nothing when one is running.
  void Start(std::function<void()> body);
  // Sets the stop request, calls wake (which must rouse the body from its waits)
  // and joins.
  void Stop(const std::function<void()>& wake = {});
  bool running() const { return thread_.joinable(); }
  bool stopRequested() const { return stop_.load(std::memory_order_acquire); }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace quillet::devices
