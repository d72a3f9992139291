#include "core/mix.h"

#include <gtest/gtest.h>

#include "core/edit_commands.h"
#include "edit_fixture.h"

namespace quillet::core {
namespace {

using testing::Contents;
using testing::Dc;
using Samples = std::vector<Sample>;

constexpr Sample kBase = 1000;
constexpr Sample kClip = 16000;
// Low enough that clips of a few frames are whole milliseconds (the clipboard's unit).
constexpr std::uint32_t kRate = 8000;

class MixTest : public testing::EditFixture {
 protected:
  // A 1000-frame mono document at kBase with [100, 200) selected, and a clip of
  // clipFrames frames at kClip on the clipboard.
  std::unique_ptr<WaveDocument> ClipOverSelection(FrameCount clipFrames, FramePos selEnd = 200) {
    auto clip = Doc(1, Dc(1, clipFrames, kClip), kRate);
    clip->SetSelection(0, clipFrames, 0);
    EXPECT_EQ(Copy(ctx, *clip), 0);
    auto doc = Doc(1, Dc(1, 1000, kBase), kRate);
    doc->SetSelection(100, selEnd, 0);
    return doc;
  }
  static Samples Run(std::initializer_list<std::pair<FrameCount, Sample>> runs) {
    Samples v;
    for (auto [n, value] : runs) v.insert(v.end(), static_cast<std::size_t>(n), value);
    return v;
  }
};

// A clip of clipFrames over [100, selEnd) of the kBase document.
TEST_F(MixTest, ClipLongerOrShorterThanTheSelection) {
  struct Case {
    const char* name;
    FrameCount clipFrames;
    FramePos selEnd;
    MixParams params;
    Samples audio;
    FramePos newSelEnd;
  };
  const Case cases[] = {
      {"longer, insert silence", 300, 200, {100, 50, MixLonger::InsertSilence, 50},
       Run({{100, kBase}, {100, kBase + kClip}, {200, kClip}, {800, kBase}}), 400},
      {"longer, increase selection", 300, 200, {100, 50, MixLonger::IncreaseSelection, 50},
       Run({{100, kBase}, {300, kBase + kClip}, {600, kBase}}), 400},
      {"shorter: only the start of the selection", 30, 200, {100, 50, MixLonger::FadeOut, 250},
       Run({{100, kBase}, {30, kBase + kClip}, {870, kBase}}), 130},
      {"no selection: over the following audio", 50, 100, {50, 50, MixLonger::InsertSilence, 0},
       Run({{100, kBase}, {50, kBase + kClip / 2}, {850, kBase}}), 150},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = ClipOverSelection(c.clipFrames, c.selEnd);
    ASSERT_EQ(PasteMix(ctx, *doc, c.params), 0) << ctx.message;
    EXPECT_EQ(Contents(doc->chain()), c.audio);
    EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(100, c.newSelEnd));
    EXPECT_EQ(doc->history().UndoName(), "Paste Mix");
  }
}

TEST_F(MixTest, ALongerClipFadesOutOverTheSelectionEnd) {
  auto doc = ClipOverSelection(300);
  ASSERT_EQ(PasteMix(ctx, *doc, {100, 50, MixLonger::FadeOut, 40}), 0);
  const Samples got = Contents(doc->chain());
  ASSERT_EQ(got.size(), 1000u);
  const Samples unfaded = Run({{100, kBase}, {60, kBase + kClip}});
  EXPECT_TRUE(std::equal(unfaded.begin(), unfaded.end(), got.begin()));
  // The last 40 frames of the range fall steadily towards the original audio.
  EXPECT_EQ(got[160], kBase + kClip);
  for (std::size_t i = 161; i < 200; ++i) EXPECT_LT(got[i], got[i - 1]) << i;
  EXPECT_LE(got[199], kBase + kClip / 40);
  EXPECT_GT(got[199], kBase);
  EXPECT_TRUE(std::all_of(got.begin() + 200, got.end(), [](Sample s) { return s == kBase; }));
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(100, 200));
}

TEST_F(MixTest, VolumeAndPanScaleEachChannel) {
  auto clip = Doc(2, Dc(2, 10, kClip), kRate);
  clip->SetSelection(0, 10, 0);
  ASSERT_EQ(Copy(ctx, *clip), 0);
  struct Case {
    int volume, pan;
    Sample left, right;
  };
  const Case cases[] = {
      {100, 50, kBase + kClip, kBase + kClip},
      {50, 0, kBase + kClip, kBase},
      {50, 100, kBase, kBase + kClip},
      {25, 50, kBase + kClip / 4, kBase + kClip / 4},
      {0, 50, kBase, kBase},
      // The pan shares twice the volume between the channels.
      {100, 0, kBase + 2 * kClip, kBase},
      {100, 25, kBase + kClip * 3 / 2, kBase + kClip / 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.volume << "% pan " << c.pan);
    auto doc = Doc(2, Dc(2, 10, kBase), kRate);
    doc->SetSelection(0, 10, 0);
    ASSERT_EQ(PasteMix(ctx, *doc, {c.volume, c.pan, MixLonger::InsertSilence, 0}), 0);
    const Samples got = Contents(doc->chain());
    EXPECT_EQ(std::pair(got[0], got[1]), std::pair(c.left, c.right));
    EXPECT_EQ(std::pair(got[18], got[19]), std::pair(c.left, c.right));
  }
}

TEST_F(MixTest, SumsBeyondFullScaleAreKeptNotWrapped) {
  auto clip = Doc(1, Dc(1, 10, audio::kSampleMax), kRate);
  clip->SetSelection(0, 10, 0);
  ASSERT_EQ(Copy(ctx, *clip), 0);
  auto doc = Doc(1, Dc(1, 10, audio::kSampleMax), kRate);
  doc->SetSelection(0, 10, 0);
  ASSERT_EQ(PasteMix(ctx, *doc, {100, 50, MixLonger::InsertSilence, 0}), 0);
  EXPECT_EQ(Contents(doc->chain()), Dc(1, 10, 2 * audio::kSampleMax));
}

TEST_F(MixTest, CancelledOrFailedMixChangesNothing) {
  auto clip = Doc(1, Dc(1, 20000, kClip));
  clip->SetSelection(0, 20000, 0);
  ASSERT_EQ(Copy(ctx, *clip), 0);
  auto doc = Doc(1, testing::Ramp(1, 30000));
  doc->SetSelection(1000, 25000, 500);
  const auto segmentsBefore = doc->chain().segments();
  const std::uint32_t idsBefore = LiveIds();
  progress.CancelAtPump(2);  // during the second block of three
  EXPECT_EQ(PasteMix(ctx, *doc, {100, 50, MixLonger::InsertSilence, 0}), platform::kTaskCancelled);
  EXPECT_EQ(doc->chain().segments(), segmentsBefore);
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd(), doc->cursor()), std::tuple(1000, 25000, 500));
  EXPECT_EQ(LiveIds(), idsBefore);  // the partial mix's file is gone
  EXPECT_EQ(doc->history().UndoName(), "Paste Mix");
  EXPECT_TRUE(progress.ownerEnabled());
  EXPECT_EQ(progress.openWindows(), 0);
  ASSERT_TRUE(doc->Undo());
  EXPECT_EQ(doc->chain().segments(), segmentsBefore);

  // A progress window that cannot open fails the mix the same way.
  progress.RefuseCreation(true);
  EXPECT_EQ(PasteMix(ctx, *doc, {}), platform::kTaskFailed);
  EXPECT_EQ(doc->chain().segments(), segmentsBefore);
}

TEST_F(MixTest, MixFileLoadsBeforeItPushesAndReportsProgress) {
  const auto file = dir / "mix.raw";
  testing::RawFileIo::WriteRaw(file, 44100, 1, Dc(1, 20000, kClip));
  auto doc = Doc(1, Dc(1, 30000, kBase));
  doc->SetSelection(0, 30000, 0);
  ASSERT_EQ(MixFile(ctx, *doc, file, {100, 50, MixLonger::InsertSilence, 0}), 0) << ctx.message;
  EXPECT_EQ(Contents(doc->chain()), Run({{20000, kBase + kClip}, {10000, kBase}}));
  EXPECT_EQ(doc->history().UndoName(), "Mix File");
  EXPECT_EQ(progress.lastProgress(), 100);
  const auto& log = progress.log();
  EXPECT_NE(std::find(log.begin(), log.end(), "caption Loading Audio File Source"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "caption Mix File"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "text0 Pasting Mix"), log.end());
  // A file that cannot be read leaves no entry behind.
  EXPECT_EQ(MixFile(ctx, *doc, dir / "none.raw", {}), platform::kTaskFailed);
  ASSERT_TRUE(doc->Undo());
  EXPECT_FALSE(doc->history().CanUndo());
}

}  // namespace
}  // namespace quillet::core
