#include "platform/task.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/scripted_progress.h"
#include "platform/terminal_progress.h"
#include "platform/unique_fd.h"

namespace quillet::platform {
namespace {

using Log = std::vector<std::string>;

// A task doing `blocks` blocks of work the way every task loop does: work, progress,
// pump; stop with result 1 when the window is gone.
class BlockTask : public LProgressDialog {
 public:
  explicit BlockTask(int blocks, std::function<void(BlockTask&)> extra = {})
      : LProgressDialog("Amplify"), blocks_(blocks), extra_(std::move(extra)) {}
  int executes = 0;
  int blocksDone = 0;
  bool pumpAfterCancel = false;

 protected:
  bool Execute() override {
    ++executes;
    if (extra_) extra_(*this);
    for (int i = 0; i < blocks_; ++i) {
      ++blocksDone;
      SetProgress(static_cast<double>(i + 1) / blocks_);
      if (Pump()) {
        pumpAfterCancel = Pump();
        result = kTaskCancelled;
        return true;
      }
    }
    result = kTaskDone;
    return true;
  }

 private:
  int blocks_;
  std::function<void(BlockTask&)> extra_;
};

TEST(Task, RunOpensDisablesExecutesEnablesCloses) {
  ScriptedProgressFactory owner;
  BlockTask task(2);
  EXPECT_EQ(task.result, kTaskFailed);
  EXPECT_TRUE(task.Run(owner));
  EXPECT_EQ(task.result, kTaskDone);
  EXPECT_EQ(owner.log(), (Log{"create", "caption Amplify", "progress 0", "owner disabled",
                              "progress 50", "pump", "progress 100", "pump", "owner enabled",
                              "close"}));
  EXPECT_FALSE(task.windowOpen());
  EXPECT_TRUE(owner.ownerEnabled());
}

TEST(Task, CancelAtTheNthPumpGivesResultOneAndClosesOnce) {
  ScriptedProgressFactory owner;
  owner.CancelAtPump(3);
  BlockTask task(10, [](BlockTask&) {});
  EXPECT_TRUE(task.Run(owner));
  EXPECT_EQ(task.result, kTaskCancelled);
  EXPECT_EQ(task.blocksDone, 3);
  EXPECT_TRUE(task.pumpAfterCancel);  // a closed window keeps reporting the cancel
  EXPECT_EQ(owner.pumps(), 3);        // ...without pumping anything
  EXPECT_EQ(owner.openWindows(), 0);
  EXPECT_TRUE(owner.ownerEnabled());
  // The window closed at the cancel, before the owner was enabled again.
  const Log& log = owner.log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "close"), 1);
  EXPECT_EQ(log.back(), "owner enabled");
}

TEST(Task, RefusedWindowMeansNotRunAndResultTwo) {
  ScriptedProgressFactory owner;
  owner.RefuseCreation(true);
  BlockTask task(3);
  task.result = kTaskDone;  // even a stale value is replaced by "not run"
  EXPECT_FALSE(task.Run(owner));
  EXPECT_EQ(task.result, kTaskFailed);
  EXPECT_EQ(task.executes, 0);
  EXPECT_TRUE(owner.log().empty());  // the owner was never disabled
}

TEST(Task, RunningTaskRefusesASecondRun) {
  ScriptedProgressFactory owner;
  bool nested = true;
  BlockTask task(1, [&](BlockTask& self) { nested = self.Run(owner); });
  EXPECT_TRUE(task.Run(owner));
  EXPECT_FALSE(nested);
  EXPECT_EQ(task.executes, 1);
  EXPECT_EQ(task.result, kTaskDone);
}

TEST(Task, TextLinesAboveOneAndClosedWindowsAreIgnored) {
  ScriptedProgressFactory owner;
  owner.CancelAtPump(1);
  BlockTask task(1, [](BlockTask& self) {
    self.SetText(0, "Reading");
    self.SetText(1, "take.wav");
    self.SetText(2, "ignored");
    self.SetText(-1, "ignored");
    self.SetProgress(std::nan(""));
    self.SetProgress(-3);
    self.SetProgress(7.5);
    self.SetProgress(0.999);
    self.Pump();  // closes
    self.SetText(0, "after");
    self.SetProgress(0.5);
  });
  task.Run(owner);
  EXPECT_EQ(owner.log(), (Log{"create", "caption Amplify", "progress 0", "owner disabled",
                              "text0 Reading", "text1 take.wav", "progress 100", "progress 99",
                              "pump", "close", "owner enabled"}));
}

TEST(Task, WaitPumpsUntilTheTimeOrTheCancel) {
  ScriptedProgressFactory owner;
  bool timedOut = true, cancelled = false, afterClose = false;
  BlockTask task(0, [&](BlockTask& self) {
    timedOut = !self.Wait(20);
    owner.CancelAtPump(owner.pumps() + 2);
    cancelled = self.Wait(60000);  // returns at the cancel, long before the time
    afterClose = self.Wait(60000);
  });
  task.Run(owner);
  EXPECT_TRUE(timedOut);
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(afterClose);
}

TEST(Task, WaitForReportsSignalledTimeoutOrClosed) {
  ScriptedProgressFactory owner;
  std::vector<TaskResult> got;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
  BlockTask task(0, [&](BlockTask& self) {
    int calls = 0;
    got.push_back(self.WaitFor([&] { return ++calls == 3; }, 60000));
    got.push_back(self.WaitFor([] { return false; }, 20));
    got.push_back(self.WaitFor(readEnd.get(), 20));  // empty pipe
    ASSERT_EQ(write(writeEnd.get(), "x", 1), 1);
    got.push_back(self.WaitFor(readEnd.get(), 60000));
    owner.CancelAtPump(owner.pumps() + 1);
    got.push_back(self.WaitFor([] { return false; }, 60000));
    got.push_back(self.WaitFor([] { return true; }, 60000));  // closed wins
  });
  task.Run(owner);
  EXPECT_EQ(got, (std::vector<TaskResult>{kTaskDone, kTaskFailed, kTaskFailed, kTaskDone,
                                          kTaskCancelled, kTaskCancelled}));
}

TEST(Task, ErrorsShowOverTheWindowOrTheOwner) {
  ScriptedProgressFactory owner;
  owner.CancelAtPump(1);
  BlockTask task(0, [](BlockTask& self) {
    self.ShowError("Disk full.");
    self.Pump();
    self.ShowError("Cannot write.");
  });
  task.Run(owner);
  const Log& log = owner.log();
  EXPECT_NE(std::find(log.begin(), log.end(), "message Error: Disk full."), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "owner message Error: Cannot write."), log.end());
}

TEST(BusyGuard, OnlyOneTaskUsesAnObjectAtATime) {
  BusyFlag document;
  EXPECT_FALSE(document.busy());
  {
    BusyGuard first(document);
    EXPECT_TRUE(first.owns());
    EXPECT_TRUE(document.busy());
    BusyGuard second(document);
    EXPECT_FALSE(second.owns());
  }
  EXPECT_FALSE(document.busy());
  BusyGuard again(document);
  EXPECT_TRUE(again.owns());
}

// Ctrl+C (a real SIGINT) cancels the running task instead of ending the process,
// and the previous handling of SIGINT is back once the window is gone.
TEST(TerminalProgress, InterruptCancelsTheTaskAndIsRestoredAfter) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  TerminalProgressFactory owner(out);
  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);
  BlockTask task(1000, [](BlockTask& self) {
    self.Pump();
    raise(SIGINT);
  });
  EXPECT_TRUE(task.Run(owner));
  EXPECT_EQ(task.result, kTaskCancelled);
  EXPECT_EQ(task.blocksDone, 1);
  struct sigaction after {};
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);

  owner.ShowOwnerMessage("Line one\rLine two", "Error", MessageIcon::Warning);
  std::fflush(out);
  std::rewind(out);
  char buf[256] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, out);
  // Not a terminal: no progress drawing, only the message.
  EXPECT_EQ(std::string(buf, n), "Error: Line one\nLine two\n");
  std::fclose(out);

  BlockTask next(3);  // a stale interrupt does not cancel the next task
  EXPECT_TRUE(next.Run(owner));
  EXPECT_EQ(next.result, kTaskDone);
}

}  // namespace
}  // namespace quillet::platform
