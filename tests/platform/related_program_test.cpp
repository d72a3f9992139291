#include "platform/related_program.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "platform/scripted_progress.h"

namespace quillet::platform {
namespace {

TEST(RelatedProgram, CommandLinesSplitIntoWords) {
  const struct {
    const char* line;
    std::vector<std::string> words;
  } cases[] = {
      {"", {}},
      {"  tones  ", {"tones"}},
      {"/opt/tone gen/run --big", {"/opt/tone", "gen/run", "--big"}},
      {"\"/opt/tone gen/run\" --big", {"/opt/tone gen/run", "--big"}},
      {"run 'a \"b\" c' d\\ e \"\"", {"run", "a \"b\" c", "d e", ""}},
      {"run \"unclosed quote", {"run", "unclosed quote"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
}

TEST(RelatedProgram, WaitEndsWithTheProgramAndItsWindowSaysWhy) {
  ScriptedProgressFactory owner;
  RelatedProgramTask task("Tone Generator", {"sh", "-c", "sleep 0.2"});
  EXPECT_TRUE(task.Run(owner));
  EXPECT_EQ(task.result, kTaskDone);
  const auto& log = owner.log();
  EXPECT_NE(std::find(log.begin(), log.end(), "text0 Please wait for Tone Generator"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "text1 to close to continue..."), log.end());

  RelatedProgramTask missing("Tone Generator", {"/nonexistent/tone-generator"});
  missing.Run(owner);
  EXPECT_EQ(missing.result, kTaskFailed);
  EXPECT_NE(missing.message().find("/nonexistent/tone-generator"), std::string::npos);

  RelatedProgramTask slow("Tone Generator", {"sleep", "1"}, 50);
  slow.Run(owner);
  EXPECT_EQ(slow.result, kTaskFailed);  // the time limit
}

TEST(RelatedProgram, CancelStopsTheWaitButLeavesTheProgramRunning) {
  ScriptedProgressFactory owner;
  owner.CancelAtPump(3);
  RelatedProgramTask task("Tone Generator", {"sleep", "30"});
  task.Run(owner);
  EXPECT_EQ(task.result, kTaskCancelled);
  ASSERT_GT(task.pid(), 0);
  EXPECT_EQ(kill(task.pid(), 0), 0);  // still there
  kill(task.pid(), SIGKILL);
  waitpid(task.pid(), nullptr, 0);
}

}  // namespace
}  // namespace quillet::platform
