// Tracks chosen in the load dialog become new documents; a failed one is dropped
// and the next still comes in.
#include <gtest/gtest.h>

#include "cd/burn_entry.h"
#include "cd/commands.h"
#include "cd/external_burn.h"
#include "core/chain_source.h"
#include "core/clipboard.h"
#include "core/document.h"
#include "fixtures/cd_image.h"
#include "fixtures/edit_context.h"
#include "fixtures/signals.h"
#include "fixtures/temp_dir.h"
#include "platform/scripted_progress.h"
#include "platform/scripted_prompter.h"

namespace quillet::cd {
namespace {

class Host final : public core::CommandHost {
 public:
  core::WaveDocument* AdoptDocument(std::unique_ptr<core::WaveDocument> doc) override {
    docs.push_back(std::move(doc));
    return docs.back().get();
  }
  int NextUntitledNumber() override { return static_cast<int>(docs.size()) + 1; }
  std::vector<std::unique_ptr<core::WaveDocument>> docs;
};

class CdCommandTest : public ::testing::Test, protected testing::EditContextFixture {
 protected:
  // A simulated blank disc writing to dir/out.*, as the last drive of the list.
  int BlankDrive() {
    settings.SetString(kCdSection, "SimulatedDrive1", "sim-blank:" + (dir / "out.cue").string());
    testing::WriteFileBytes(dir / "out.faults", "busy-polls 0\n");
    return static_cast<int>(ListCdDrives(settings).size()) - 1;
  }

};

TEST_F(CdCommandTest, ChosenTracksBecomeDocumentsAndAFailureIsSkipped) {
  const auto cue = testing::WriteDiscImage(dir.path(), "disc", {{300}, {301}, {302}});
  testing::WriteFileBytes(dir / "disc.faults", "medium-error 310\n");  // inside track 2
  const std::string drive = "sim:" + cue.string();
  Toc toc{{{1, true, 0}, {2, true, 300}, {3, true, 601}}, 903};
  const CdDisc disc = DiscFromToc(toc);

  Host host;
  EXPECT_EQ(ImportCdTracks(ctx, host, drive, disc, {2, 1, 0}), platform::kTaskFailed);
  EXPECT_NE(ctx.message.find("track 2"), std::string::npos) << ctx.message;
  ASSERT_EQ(host.docs.size(), 2u);  // track 3 then track 1, in list order
  const core::WaveDocument& third = *host.docs[0];
  EXPECT_EQ(third.sampleRate(), 44100u);
  EXPECT_EQ(third.channels(), 2);
  EXPECT_EQ(third.length(), 302 * 588);
  EXPECT_EQ(third.Title(), "Track 03");
  auto source = core::ChainOpenSource(third.chain());
  const audio::AudioBlock got = testing::ReadSource(*source);
  for (std::int64_t i = 0; i < 302 * 1176; i += 997)
    ASSERT_EQ(got.data()[i], testing::ImageSample(601 * 1176 + i) * 16) << i;
  EXPECT_EQ(host.docs[1]->length(), 300 * 588);

  CdLoadModel model{{{"sim:a.cue", ""}, {"/dev/sr0", ""}}};
  EXPECT_EQ(model.DriveNames(), (std::vector<std::string>{"CD-ROM 1", "CD-ROM 2"}));
  EXPECT_EQ(CdLoadModel::DurationText(disc.tracks[2]), "0:04");
}

// The commands reach the editor's dialog and documents through the front.
TEST_F(CdCommandTest, CommandsRunThroughTheFront) {
  struct Front final : CdFront {
    platform::TaskResult LoadCdTracks(core::CommandCall&) override {
      ++loads;
      return platform::kTaskDone;
    }
    std::vector<const core::WaveDocument*> OpenDocuments() override { return docs; }
    bool AskBurnSettings(BurnSettings* s) override {
      *s = burn;
      return asked++ == 0;  // the first dialog is confirmed, later ones cancelled
    }
    int loads = 0;
    int asked = 0;
    BurnSettings burn;
    std::vector<const core::WaveDocument*> docs;
  } front;
  core::WaveDocument unsaved(core::AudioChain(&store), 1);
  front.docs = {&unsaved};

  core::CommandRegistry registry;
  RegisterCdCommands(registry, front);
  const core::Command* load = registry.Find(core::kCmdLoadCdTracks);
  ASSERT_NE(load, nullptr);
  core::CommandCall call{ctx, nullptr, nullptr, nullptr, load};
  EXPECT_EQ(load->run(call), platform::kTaskDone);
  EXPECT_EQ(front.loads, 1);
  const core::Command* audio = registry.Find(core::kCmdCopyToCdAudio);
  ASSERT_NE(audio, nullptr);
  EXPECT_FALSE(core::IsEnabled(*audio, core::CommandState{}));  // no open documents
  // Without a burning program, Audio burns the documents themselves: saved or not.
  const auto cue = testing::WriteDiscImage(dir.path(), "src", {{300}});
  core::AudioChain chain(&store);
  {
    Toc toc{{{1, true, 0}}, 300};
    Host host;
    ASSERT_EQ(ImportCdTracks(ctx, host, "sim:" + cue.string(), DiscFromToc(toc), {0}),
              platform::kTaskDone);
    chain = host.docs[0]->chain();
  }
  core::WaveDocument ripped(chain, 2);
  front.docs = {&ripped};
  front.burn.drive = BlankDrive();
  ASSERT_EQ(audio->run(call), platform::kTaskDone) << call.ctx.message;
  EXPECT_EQ(testing::ReadFileBytes(dir / "out.bin"), testing::ReadFileBytes(dir / "src.bin"));
  EXPECT_EQ(audio->run(call), platform::kTaskCancelled);  // the dialog cancelled

  // With one configured, the open files must be saved first.
  front.docs = {&unsaved};
  settings.SetString(kRecorderSection, kBurningProgramKey, "true");
  EXPECT_EQ(audio->run(call), platform::kTaskFailed);
  EXPECT_EQ(prompter.shown().back().caption, kSaveFirstCaption);
  const core::Command* data = registry.Find(core::kCmdCopyToCdData);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->run(call), platform::kTaskFailed);
}

TEST_F(CdCommandTest, BurnNamesDrivesAndUnsavedFilesAreCheckedFirst) {
  const auto track = [] {
    return testing::MemorySource(testing::Dc(2, 1000, 4096), 44100);
  };

  BurnSettings s;
  EXPECT_EQ(BurnAudioTracks(ctx, {{"good", track()}, {"a/b", track()}}, s), platform::kTaskFailed);
  ASSERT_EQ(prompter.shown().size(), 1u);
  EXPECT_EQ(prompter.shown()[0].caption, "File Name Invalid");
  EXPECT_EQ(prompter.shown()[0].text, InvalidTrackNameMessage("a/b"));

  s.drive = BlankDrive();
  EXPECT_EQ(BurnAudioTracks(ctx, {{"One", track()}, {"Two", track()}}, s), platform::kTaskDone);
  EXPECT_EQ(testing::ReadBinSamples(dir / "out.bin").size(), std::size_t{(300 + 300) * 1176});
  testing::WriteFileBytes(dir / "out.faults", "reader-only\n");
  EXPECT_EQ(BurnAudioTracks(ctx, {{"One", track()}}, s), platform::kTaskFailed);
  EXPECT_EQ(prompter.shown().back().text, kBurnFailedMessage);
  s.drive = 99;
  EXPECT_EQ(BurnAudioTracks(ctx, {{"One", track()}}, s), platform::kTaskFailed);
  EXPECT_EQ(prompter.shown().back().text, kCannotAccessMessage);

  core::WaveDocument saved(core::AudioChain(&store), 0, dir / "a.wav");
  core::WaveDocument untitled(core::AudioChain(&store), 1);
  EXPECT_EQ(CopyOpenFilesToCd(ctx, {&saved, &untitled}, true), platform::kTaskFailed);
  EXPECT_EQ(prompter.shown().back().caption, kSaveFirstCaption);
  EXPECT_EQ(prompter.shown().back().text, kSaveFirstMessage);
  const std::filesystem::path script = dir / "burner";
  testing::WriteFileBytes(script, "#!/bin/sh\ncat \"$4\" > \"" + (dir / "list").string() + "\"\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  settings.SetString(kRecorderSection, kBurningProgramKey, script.string());
  EXPECT_EQ(CopyOpenFilesToCd(ctx, {&saved}, false), platform::kTaskDone);
  EXPECT_EQ(testing::ReadFileBytes(dir / "list"), (dir / "a.wav").string() + "\n");
}

}  // namespace
}  // namespace quillet::cd
