#pragma once
// Commands started without waiting: a worker thread runs one command at a time on
// a transport while the caller goes on (converting the previous read, pumping its
// progress window), then waits on a descriptor that is readable once no command is
// pending.

#include <condition_variable>
#include <mutex>

#include "platform/scsi.h"
#include "platform/unique_fd.h"
#include "platform/worker_thread.h"

namespace quillet::platform {

class ScsiWorker {
 public:
  // transport must outlive the worker.
  explicit ScsiWorker(ScsiTransport& transport);
  // Waits for a pending command, then joins the thread.
  ~ScsiWorker();
  ScsiWorker(const ScsiWorker&) = delete;
  ScsiWorker& operator=(const ScsiWorker&) = delete;

  // False when the worker could not be set up (no thread or descriptor to spare).
  bool ok() const { return ok_; }
  // Starts command; its buffer must stay alive until Finish. False while another
  // command is pending or when the worker is not ok.
  bool Start(const ScsiCommand& command);
  // A command was started and its reply not yet taken by Finish.
  bool pending() const;
  // Readable (poll) while no command is pending.
  int eventFd() const { return event_.get(); }
  // Waits for the pending command and returns its reply; a reply with EINVAL when
  // nothing was started.
  RawScsiReply Finish();

 private:
  void Loop();

  ScsiTransport& transport_;
  UniqueFd event_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  ScsiCommand command_;
  RawScsiReply reply_;
  bool hasCommand_ = false;  // started, not yet taken by the thread
  bool running_ = false;     // started, not yet finished
  bool done_ = false;        // finished, not yet collected
  bool ok_ = false;
  // Last: stopped before what the loop uses goes.
  LWorkerThread thread_;
};

}  // namespace quillet::platform
