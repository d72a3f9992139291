#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/scripted_prompter.h"
#include "platform/terminal_prompter.h"

namespace quillet::platform {
namespace {

TEST(ScriptedPrompter, RecordsEveryPromptAndAnswersInOrder) {
  ScriptedPrompter p;
  p.QueueAnswer(Answer::No);
  p.QueueText("Take 2");
  p.QueueFiles({{"/music/a.wav", "/music/b.wav"}, 1});
  p.QueueAnswer(Answer::Retry);

  p.Message("Saved.", "Quillet", MessageIcon::Information);  // needs no answer
  EXPECT_EQ(p.Message("Replace it?", "Quillet", MessageIcon::Question,
                      MessageButtons::YesNoCancel),
            Answer::No);
  EXPECT_EQ(p.AskText("Name:", "Region", "Region 1"), "Take 2");
  FileRequest open{.mode = FileDialogMode::Open,
                   .title = "Open",
                   .filters = {{"Wave (*.wav)", "*.wav"}},
                   .multiSelect = true};
  EXPECT_EQ(p.ChooseFiles(open).files.size(), 2u);
  EXPECT_EQ(p.Message("Device busy", "Error", MessageIcon::Error, MessageButtons::RetryCancel),
            Answer::Retry);

  ASSERT_EQ(p.shown().size(), 5u);
  EXPECT_EQ(p.shown()[0].text, "Saved.");
  EXPECT_EQ(p.shown()[1].caption, "Quillet");
  EXPECT_EQ(p.shown()[1].buttons, MessageButtons::YesNoCancel);
  EXPECT_EQ(p.shown()[1].answer, Answer::No);
  EXPECT_EQ(p.shown()[2].initial, "Region 1");
  EXPECT_EQ(p.shown()[3].kind, PromptRecord::Kind::File);
  EXPECT_EQ(p.shown()[3].file, open);
  EXPECT_EQ(p.shown()[4].icon, MessageIcon::Error);
  EXPECT_TRUE(p.problems().empty());
  EXPECT_EQ(p.pending(), 0u);
}

// A test whose script is off must be able to tell: the prompt still gets the answer
// that changes nothing, and the mismatch is listed.
TEST(ScriptedPrompter, MissingOrUnfittingAnswersAreListedAndChangeNothing) {
  ScriptedPrompter p;
  EXPECT_EQ(p.Message("Delete?", "Confirm", MessageIcon::Question, MessageButtons::YesNo),
            Answer::No);
  p.QueueAnswer(Answer::Retry);
  EXPECT_EQ(p.Message("Replace?", "Quillet", MessageIcon::Question, MessageButtons::YesNoCancel),
            Answer::Cancel);
  p.QueueAnswer(Answer::Yes);
  EXPECT_FALSE(p.AskText("Name:", "Region").has_value());
  EXPECT_FALSE(p.ChooseFiles({.title = "Save"}).accepted());
  EXPECT_EQ(p.pending(), 1u);  // the unfitting Yes stays for the prompt it was meant for
  EXPECT_EQ(p.problems().size(), 4u);

  ScriptedPrompter single;
  single.QueueFiles({{"a.wav", "b.wav"}});
  single.ChooseFiles({.mode = FileDialogMode::Save, .title = "Save As"});
  EXPECT_EQ(single.problems().size(), 1u);
}

TEST(Prompter, DefaultsAndButtonSets) {
  const MessageButtons all[] = {MessageButtons::Ok, MessageButtons::OkCancel,
                                MessageButtons::YesNo, MessageButtons::YesNoCancel,
                                MessageButtons::RetryCancel};
  for (MessageButtons b : all) {
    SCOPED_TRACE(static_cast<int>(b));
    EXPECT_TRUE(IsAnswerOf(b, DefaultAnswer(b, true)));
    EXPECT_TRUE(IsAnswerOf(b, DefaultAnswer(b, false)));
  }
  EXPECT_EQ(DefaultAnswer(MessageButtons::YesNoCancel, false), Answer::Cancel);
  EXPECT_EQ(DefaultAnswer(MessageButtons::YesNo, false), Answer::No);
  EXPECT_EQ(DefaultAnswer(MessageButtons::RetryCancel, true), Answer::Retry);
  EXPECT_FALSE(IsAnswerOf(MessageButtons::OkCancel, Answer::Yes));
  EXPECT_EQ(WithDefaultExtension("take", "wav"), "take.wav");
  EXPECT_EQ(WithDefaultExtension("take.mp3", "wav"), "take.mp3");
  EXPECT_EQ(WithDefaultExtension("dir.d/take", "wav"), "dir.d/take.wav");
}

// Answers typed on the terminal, fed from memory.
class TerminalPrompterTest : public ::testing::Test {
 protected:
  void SetUp() override { out_ = open_memstream(&buf_, &size_); }
  void TearDown() override {
    if (in_) std::fclose(in_);
    std::fclose(out_);
    free(buf_);
  }
  TerminalPrompter Make(PromptPolicy policy, std::string typed, bool interactive) {
    typed_ = std::move(typed);
    in_ = typed_.empty() ? std::fopen("/dev/null", "r") : fmemopen(typed_.data(), typed_.size(), "r");
    TerminalPrompter p(policy, in_, out_);
    p.SetInteractive(interactive);
    return p;
  }
  std::string Printed() {
    std::fflush(out_);
    return std::string(buf_, size_);
  }

  std::string typed_;
  std::FILE* in_ = nullptr;
  std::FILE* out_ = nullptr;
  char* buf_ = nullptr;
  std::size_t size_ = 0;
};

TEST_F(TerminalPrompterTest, WithoutATerminalAnswersTheNoChangeDefault) {
  TerminalPrompter p = Make(PromptPolicy::Ask, "y\n", /*interactive=*/false);
  EXPECT_FALSE(p.interactive());
  EXPECT_EQ(p.Message("Replace?\rReally?", "Quillet", MessageIcon::Question,
                      MessageButtons::YesNoCancel),
            Answer::Cancel);
  EXPECT_FALSE(p.AskText("Name:", "Region", "R1").has_value());
  EXPECT_FALSE(p.ChooseFiles({.title = "Open"}).accepted());
  EXPECT_EQ(Printed(),
            "Quillet: Replace?\nReally?\n(answered Cancel)\nRegion: Name:\n"
            "Open: file to open:\n(no file chosen)\n");
}

TEST_F(TerminalPrompterTest, AssumeYesAnswersAffirmatively) {
  TerminalPrompter p = Make(PromptPolicy::AssumeYes, "", /*interactive=*/false);
  EXPECT_EQ(p.Message("Go on?", "Q", MessageIcon::Question, MessageButtons::YesNo), Answer::Yes);
  EXPECT_EQ(p.Message("Again?", "Q", MessageIcon::Error, MessageButtons::RetryCancel),
            Answer::Retry);
  EXPECT_EQ(p.AskText("Name:", "Region", "R1"), "R1");
}

TEST_F(TerminalPrompterTest, InteractiveAsksAgainUntilAFittingAnswer) {
  TerminalPrompter p = Make(PromptPolicy::Ask, "maybe\nyes\n  O\n", /*interactive=*/true);
  EXPECT_EQ(p.Message("Replace?", "Quillet", MessageIcon::Question, MessageButtons::OkCancel),
            Answer::Ok);
  const std::string printed = Printed();
  std::size_t asked = 0;
  for (std::size_t at = 0; (at = printed.find("[o]k/[c]ancel? ", at)) != std::string::npos; ++at)
    ++asked;
  EXPECT_EQ(asked, 3u);
  // The input has ended: the no-change answer, not a hang.
  EXPECT_EQ(p.Message("Delete?", "Quillet", MessageIcon::Question, MessageButtons::YesNo),
            Answer::No);
}

TEST_F(TerminalPrompterTest, InteractiveTextAndFiles) {
  TerminalPrompter p = Make(PromptPolicy::Ask, "\nmine\ntake\na.wav\nb.wav\n\n",
                            /*interactive=*/true);
  EXPECT_EQ(p.AskText("Name:", "Region", "R1"), "R1");  // empty line keeps the initial text
  EXPECT_EQ(p.AskText("Name:", "Region", "R1"), "mine");
  const FileChoice save = p.ChooseFiles({.mode = FileDialogMode::Save,
                                         .title = "Save As",
                                         .defaultExtension = "wav",
                                         .folder = "/music"});
  ASSERT_EQ(save.files.size(), 1u);
  EXPECT_EQ(save.files[0], "/music/take.wav");
  const FileChoice open =
      p.ChooseFiles({.mode = FileDialogMode::Open, .title = "Open", .multiSelect = true});
  ASSERT_EQ(open.files.size(), 2u);
  EXPECT_EQ(open.files[1], "b.wav");
  EXPECT_FALSE(p.AskText("Name:", "Region").has_value());  // end of input: cancelled
}

}  // namespace
}  // namespace quillet::platform
