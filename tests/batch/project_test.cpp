// The project commands as a person meets them: saving with its questions, closing,
// opening again with everything where it was, and a damaged file that opens nothing.
#include <gtest/gtest.h>

#include "batch/bookmarks.h"
#include "batch/project.h"
#include "batch_fixture.h"

namespace quillet::batch {
namespace {

using platform::Answer;
using testsupport::AudioOf;
using testsupport::Project;
using testsupport::SameAudio;

TEST_F(Project, SaveCloseAndOpenBringBackDocumentsBookmarksAndRegions) {
  core::WaveDocument& a = Doc("take.wav", 2, 30000);
  core::WaveDocument& b = Doc("", 1, 20000);
  // The same display name in another folder keeps its own bookmarks; the file tells
  // them apart only by where they lie.
  core::WaveDocument& c = Doc("other/take.wav", 1, 60000);
  const audio::AudioBlock audioA = AudioOf(a.chain()), audioB = AudioOf(b.chain());
  a.SetCursor(4410);
  prompter.QueueText("A mark");
  host.active = &a;
  ASSERT_TRUE(session.SetBookmark());
  host.active = &c;
  c.SetCursor(50000);
  prompter.QueueText("C mark");
  ASSERT_TRUE(session.SetBookmark());
  a.SetSelection(1000, 5000, 1200);
  a.SetView(500, 9000);
  host.active = &a;
  prompter.QueueText("Riff");
  ASSERT_TRUE(session.AddRegion());
  host.active = &b;

  // Save Project without a path asks for one.
  prompter.QueueFiles({{dir / "songs"}, 0});
  ASSERT_TRUE(session.SaveProject());
  EXPECT_EQ(prompter.shown().back().file.title, "Save Project As");
  EXPECT_EQ(session.path(), dir / "songs.qlp");
  EXPECT_EQ(session.WindowTitle(), "Quillet - songs.qlp");
  EXPECT_EQ(settings.GetString("Settings", "SaveProjectAsDir", ""), dir.path().string());

  // Saved twice (as the old format would double them), each bookmark is still there once.
  ASSERT_TRUE(session.SaveProject());
  ASSERT_EQ(session.OpenProjectFile(dir / "songs.qlp"), platform::kTaskDone);  // already open
  EXPECT_EQ(host.docs.size(), 3u);

  // Closing asks about the project; Yes saves it and the documents close unasked.
  prompter.QueueAnswer(Answer::Yes);
  ASSERT_TRUE(session.CloseProject());
  EXPECT_EQ(prompter.shown().back().text, "Save changes to current project?");
  EXPECT_EQ(host.asked.back(), false);
  EXPECT_TRUE(host.docs.empty() && session.bookmarks().empty() && session.regions().empty());
  EXPECT_EQ(session.WindowTitle(), "Quillet");

  ASSERT_EQ(session.OpenProjectFile(dir / "songs.qlp"), platform::kTaskDone);
  ASSERT_EQ(host.docs.size(), 3u);
  core::WaveDocument& a2 = *host.docs[0];
  EXPECT_EQ(host.active, host.docs[1].get());  // the active one is active again
  EXPECT_TRUE(SameAudio(AudioOf(a2.chain()), audioA));
  EXPECT_TRUE(SameAudio(AudioOf(host.docs[1]->chain()), audioB));
  EXPECT_TRUE(host.docs[1]->file().empty());
  EXPECT_EQ(a2.cursor(), 1200);
  EXPECT_EQ(a2.selStart(), 1000);
  EXPECT_EQ(a2.selEnd(), 5000);
  EXPECT_EQ(a2.viewStart(), 500);
  EXPECT_EQ(a2.viewEnd(), 9000);
  ASSERT_EQ(session.bookmarks().size(), 2u);
  EXPECT_EQ(session.bookmarks()[0].document, &a2);
  EXPECT_EQ(session.bookmarks()[1].document, host.docs[2].get());
  EXPECT_EQ(session.bookmarks()[1].positionMs, 1133u);
  ASSERT_EQ(session.regions().size(), 1u);
  EXPECT_EQ(session.regions()[0].document, &a2);
  EXPECT_EQ(session.regions()[0].name, "Riff");
  EXPECT_TRUE(prompter.problems().empty());
}

TEST_F(Project, SavingNothingAsksFirstAndReplacingAsksToo) {
  prompter.QueueAnswer(Answer::No);
  EXPECT_FALSE(session.SaveProject());
  EXPECT_EQ(prompter.shown().back().text,
            "This project does not contain any file. Do you want to continue to save it?");
  testing::WriteFileBytes(dir / "old.qlp", "x");
  prompter.QueueAnswer(Answer::Yes);
  prompter.QueueFiles({{dir / "old.qlp"}, 0});
  prompter.QueueAnswer(Answer::No);  // not over the old one
  prompter.QueueFiles({{dir / "new.qlp"}, 0});
  ASSERT_TRUE(session.SaveProject());
  EXPECT_EQ(prompter.shown()[3].text,
            "Another project with the same name already exists. Do you want to replace it?");
  EXPECT_EQ(testing::ReadFileBytes(dir / "old.qlp"), "x");
  EXPECT_EQ(testing::ReadFileBytes(dir / "new.qlp"), std::string("\x01\0\0\0\0", 5));
  EXPECT_TRUE(prompter.problems().empty());
}

TEST_F(Project, ADamagedProjectOpensNothingAndSaysSo) {
  Doc("a.wav");
  prompter.QueueText("m");
  ASSERT_TRUE(session.SetBookmark());
  prompter.QueueFiles({{dir / "p.qlp"}, 0});
  ASSERT_TRUE(session.SaveProjectAs());
  std::string bytes = testing::ReadFileBytes(dir / "p.qlp");
  testing::WriteFileBytes(dir / "cut.qlp", bytes.substr(0, bytes.size() - 10));
  bytes[0] = '\x05';
  testing::WriteFileBytes(dir / "v5.qlp", bytes);

  prompter.QueueAnswer(Answer::No);  // do not save the open project
  EXPECT_EQ(session.OpenProjectFile(dir / "cut.qlp"), platform::kTaskFailed);
  EXPECT_EQ(host.asked.back(), true);  // after No, each document asks for itself
  EXPECT_EQ(prompter.shown().back().text, kCannotLoadProjectMessage);
  EXPECT_TRUE(host.docs.empty() && session.bookmarks().empty());
  EXPECT_TRUE(session.path().empty());

  EXPECT_EQ(session.OpenProjectFile(dir / "v5.qlp"), platform::kTaskFailed);
  const auto& shown = prompter.shown();
  EXPECT_EQ(shown[shown.size() - 2].caption, "File Error");
  EXPECT_EQ(shown.back().text, kCannotLoadProjectMessage);
  EXPECT_TRUE(host.docs.empty());
}

TEST_F(Project, CancelKeepsTheProjectAndExitAsksOnlyWithAProjectOpen) {
  Doc("a.wav");
  EXPECT_TRUE(session.AskSaveBeforeClosingAll());  // no project: nothing asked
  EXPECT_TRUE(prompter.shown().empty());
  prompter.QueueFiles({{dir / "p.qlp"}, 0});
  ASSERT_TRUE(session.SaveProjectAs());
  prompter.QueueAnswer(Answer::Cancel);
  EXPECT_FALSE(session.CloseProject());
  EXPECT_EQ(host.docs.size(), 1u);
  EXPECT_EQ(session.path(), dir / "p.qlp");
  prompter.QueueAnswer(Answer::Cancel);
  EXPECT_FALSE(session.AskSaveBeforeClosingAll());
  prompter.QueueAnswer(Answer::No);
  EXPECT_TRUE(session.AskSaveBeforeClosingAll());
  // A document that refuses to close keeps the project open.
  host.refuseClose = true;
  prompter.QueueAnswer(Answer::No);
  EXPECT_FALSE(session.CloseProject());
  EXPECT_EQ(session.path(), dir / "p.qlp");
  EXPECT_TRUE(prompter.problems().empty());
}

TEST_F(Project, TheProjectCommandsAreInTheirMenusWithTheirKeys) {
  core::CommandRegistry registry;
  struct Windows final : ProjectWindows {
    void ShowBookmarkList() override { ++shown; }
    void ShowRegionList() override { ++shown; }
    void ShowAssemble() override { ++shown; }
    int shown = 0;
  } windows;
  RegisterProjectCommands(registry, session, windows);
  EXPECT_TRUE(registry.refusals().empty());
  const core::Command* set = registry.Find(core::kCmdSetBookmark);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->keys, "Ctrl+B");
  EXPECT_EQ(set->place.menu, "&Bookmark");
  EXPECT_TRUE(set->place.contextMenu);
  EXPECT_EQ(registry.Find(core::kCmdAddRegion)->keys, "Ctrl+R");
  EXPECT_EQ(registry.Find(core::kCmdCloseProject)->description, "Closes the current project.");
  // Assemble needs a region to join.
  const core::Command* assemble = registry.Find(core::kCmdAssembleRegions);
  EXPECT_FALSE(core::IsEnabled(*assemble, {}));
  core::WaveDocument& doc = Doc("a.wav");
  prompter.QueueText("r");
  core::CommandCall call{ctx, &doc, nullptr, &host, registry.Find(core::kCmdAddRegion)};
  EXPECT_EQ(registry.Find(core::kCmdAddRegion)->run(call), platform::kTaskDone);
  EXPECT_TRUE(core::IsEnabled(*assemble, {}));
  core::CommandCall show{ctx, nullptr, nullptr, &host, assemble};
  assemble->run(show);
  EXPECT_EQ(windows.shown, 1);
}

}  // namespace
}  // namespace quillet::batch
