#include "core/edit_commands.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/edit_params.h"
#include "core/time_text.h"
#include "edit_fixture.h"

namespace quillet::core {
namespace {

using testing::Cat;
using testing::Contents;
using testing::RampPart;
using Samples = std::vector<Sample>;

class EditTest : public testing::EditFixture {};

// Each command on a 1000-frame ramp with [200, 500) selected and the cursor at 300.
TEST_F(EditTest, RangeArithmeticOfEveryRearrangingCommand) {
  struct Case {
    const char* name;
    std::function<std::int32_t(EditContext&, WaveDocument&)> run;
    Samples audio;
    FramePos selStart, selEnd, cursor;
    const char* undoName;
  };
  const Samples zeros(300, 0);
  const Case cases[] = {
      {"cut", Cut, Cat({RampPart(0, 200), RampPart(500, 1000)}), 200, 200, 200, "Cut"},
      {"delete", Delete, Cat({RampPart(0, 200), RampPart(500, 1000)}), 200, 200, 200, "Delete"},
      {"silence", Silence, Cat({RampPart(0, 200), zeros, RampPart(500, 1000)}), 200, 500, 200,
       "Edit Silence"},
      {"trim", Trim, RampPart(200, 500), 0, 0, 0, "Trim"},
      {"trim start", TrimStart, RampPart(200, 1000), 200, 500, 0, "Trim Start"},
      {"trim end", TrimEnd, RampPart(0, 500), 200, 500, 0, "Trim End"},
      {"repeat twice", [](EditContext& c, WaveDocument& d) { return RepeatLoop(c, d, 2); },
       Cat({RampPart(0, 500), RampPart(200, 500), RampPart(200, 500), RampPart(500, 1000)}), 200,
       500, 200, "Repeat Loop"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = RampDoc(1000);
    doc->SetSelection(200, 500, 300);
    ASSERT_EQ(c.run(ctx, *doc), 0) << ctx.message;
    EXPECT_EQ(Contents(doc->chain()), c.audio);
    EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd(), doc->cursor()),
              std::tuple(c.selStart, c.selEnd, c.cursor));
    EXPECT_EQ(doc->history().UndoName(), c.undoName);
    ASSERT_TRUE(doc->Undo());
    EXPECT_EQ(Contents(doc->chain()), RampPart(0, 1000));
  }
}

TEST_F(EditTest, CommandsThatNeedASelectionRefuseWithoutOne) {
  auto doc = RampDoc(1000);
  doc->SetSelection(300, 300, 300);
  for (auto run : {Cut, Copy, Delete, Silence}) {
    EXPECT_EQ(run(ctx, *doc), platform::kTaskFailed);
    EXPECT_EQ(ctx.message, "There is no selection.");
  }
  // Trim End of an untouched selection would cut everything: refused too.
  auto untouched = RampDoc(1000);
  EXPECT_EQ(TrimEnd(ctx, *untouched), platform::kTaskFailed);
  EXPECT_EQ(untouched->length(), 1000);
  EXPECT_FALSE(untouched->history().CanUndo());
  EXPECT_FALSE(doc->history().CanUndo());
  EXPECT_EQ(doc->length(), 1000);
  // Trim and Repeat Loop select everything first.
  ASSERT_EQ(RepeatLoop(ctx, *doc, 1), 0);
  EXPECT_EQ(Contents(doc->chain()), Cat({RampPart(0, 1000), RampPart(0, 1000)}));
}

TEST_F(EditTest, CutAndCopyFillTheClipboardWithTheSelection) {
  auto doc = RampDoc(1000, 8000);
  doc->SetSelection(100, 250, 0);
  ASSERT_EQ(Copy(ctx, *doc), 0);
  EXPECT_EQ(Contents(clipboard.chain), RampPart(100, 250));
  EXPECT_EQ(clipboard.chain.sampleRate, 8000u);
  EXPECT_FALSE(doc->history().CanUndo());  // Copy is not an edit
  EXPECT_TRUE(system.offered());
  doc->SetSelection(0, 10, 0);
  ASSERT_EQ(Cut(ctx, *doc), 0);
  EXPECT_EQ(Contents(clipboard.chain), RampPart(0, 10));
}

TEST_F(EditTest, PasteReplacesOrInsertsAndSelectsWhatWasPasted) {
  auto doc = RampDoc(1000);
  doc->SetSelection(200, 300, 0);
  ASSERT_EQ(Copy(ctx, *doc), 0);
  // Over a selection: replaced.
  doc->SetSelection(10, 20, 5);
  ASSERT_EQ(Paste(ctx, *doc), 0) << ctx.message;
  EXPECT_EQ(Contents(doc->chain()), Cat({RampPart(0, 10), RampPart(200, 300), RampPart(20, 1000)}));
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(10, 110));
  EXPECT_EQ(doc->history().UndoName(), "Paste");
  // With no selection: inserted at selStart, exact frames selected (100 frames are
  // 2 ms at 44100 Hz; through milliseconds only 88 would be).
  ASSERT_TRUE(doc->Undo());
  doc->SetSelection(50, 50, 50);
  ASSERT_EQ(Paste(ctx, *doc), 0);
  EXPECT_EQ(Contents(doc->chain()), Cat({RampPart(0, 50), RampPart(200, 300), RampPart(50, 1000)}));
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(50, 150));
}

TEST_F(EditTest, PasteOfOtherFormatFailsWithoutConverterAndKeepsItsEntry) {
  auto other = Doc(2, testing::Ramp(2, 500), 22050);
  other->SetSelection(0, 500, 0);
  ASSERT_EQ(Copy(ctx, *other), 0);
  auto doc = RampDoc(1000);
  doc->SetSelection(10, 20, 0);
  EXPECT_EQ(Paste(ctx, *doc), platform::kTaskFailed);
  EXPECT_NE(ctx.message.find("22050 Hz"), std::string::npos) << ctx.message;
  EXPECT_TRUE(ctx.messageShown);  // over the task's window
  EXPECT_EQ(Contents(doc->chain()), RampPart(0, 1000));
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(10, 20));
  EXPECT_EQ(doc->history().UndoName(), "Paste");
  ASSERT_TRUE(doc->Undo());
  EXPECT_EQ(Contents(doc->chain()), RampPart(0, 1000));
  // An empty document takes the pasted audio's format instead.
  WaveDocument empty(AudioChain(&store), 1);
  ASSERT_EQ(Paste(ctx, empty), 0) << ctx.message;
  EXPECT_EQ(empty.sampleRate(), 22050u);
  EXPECT_EQ(empty.channels(), 2);
  EXPECT_EQ(Contents(empty.chain()), testing::Ramp(2, 500));
}

TEST_F(EditTest, InsertSilenceAtStartCursorAndEnd) {
  struct Case {
    InsertWhere where;
    Samples audio;
    const char* name;
  };
  const Samples gap(12000, 0);  // 1500 ms at 8000 Hz
  const Case cases[] = {
      {InsertWhere::Start, Cat({gap, RampPart(0, 100)}), "Insert Silence At The Start"},
      {InsertWhere::Cursor, Cat({RampPart(0, 30), gap, RampPart(30, 100)}),
       "Insert Silence At Current Position"},
      {InsertWhere::End, Cat({RampPart(0, 100), gap}), "Insert Silence At The End"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto doc = RampDoc(100, 8000);
    doc->SetCursor(30);
    ASSERT_EQ(InsertSilence(ctx, *doc, c.where, 1500), 0);
    EXPECT_EQ(Contents(doc->chain()), c.audio);
    EXPECT_EQ(doc->history().UndoName(), c.name);
  }
  auto doc = RampDoc(100, 8000);
  EXPECT_EQ(InsertSilence(ctx, *doc, InsertWhere::End, -1), platform::kTaskFailed);
  EXPECT_EQ(doc->length(), 100);
}

TEST_F(EditTest, SelectionsPastTheEndNeverLengthenTheDocument) {
  auto doc = RampDoc(1000);
  doc->SetSelection(900, 5000, 0);
  ASSERT_EQ(Silence(ctx, *doc), 0);
  EXPECT_EQ(doc->length(), 1000);
  ASSERT_EQ(RepeatLoop(ctx, *doc, 1), 0);
  EXPECT_EQ(doc->length(), 1100);  // exactly one more copy of the 100 real frames
  SelectTime(*doc, 0, 10'000'000);
  EXPECT_EQ(doc->selEnd(), 1100);
}

TEST_F(EditTest, SelectCommandsAndMarks) {
  auto doc = RampDoc(1000);
  doc->SetCursor(400);
  SelectToStart(*doc);
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(0, 400));
  SelectToEnd(*doc);
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(400, 1000));
  doc->SetView(100, 200);
  SelectAll(*doc);
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd(), doc->viewStart(), doc->viewEnd()),
            std::tuple(0, 1000, 0, 1000));
  // Marks: the second before the first gives the ordered range, cursor at mark 1.
  ctx.player = &player;
  player.playing = true;
  doc->SetCursor(700);
  MarkFirst(ctx, *doc);
  doc->SetCursor(250);
  MarkSecond(ctx, *doc);
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd(), doc->cursor()), std::tuple(250, 700, 700));
  EXPECT_EQ(player.log.back(), "play 700");  // playback was running: it goes on
}

TEST_F(EditTest, PlaybackStopsBeforeAnEditAndRestartsBeforeTheEditPoint) {
  ctx.player = &player;
  auto doc = RampDoc(100000);
  player.playing = true;
  doc->SetSelection(50000, 60000, 0);
  ASSERT_EQ(Delete(ctx, *doc), 0);
  EXPECT_EQ(player.log, (std::vector<std::string>{"stop", "play 5900"}));
  EXPECT_EQ(doc->cursor(), 5900);
  settings.SetBool("Settings", "AutoPlaybackAfterEffects", false);
  doc->SetSelection(100, 200, 0);
  ASSERT_EQ(Delete(ctx, *doc), 0);
  EXPECT_EQ(player.log.back(), "stop");  // stopped, and not started again
  EXPECT_EQ(doc->cursor(), 100);
}

TEST_F(EditTest, ABusyDocumentRefusesEveryCommand) {
  auto doc = RampDoc(1000);
  doc->SetSelection(0, 100, 0);
  platform::BusyGuard task(doc->busyFlag());
  EXPECT_EQ(Delete(ctx, *doc), platform::kTaskFailed);
  EXPECT_EQ(ctx.message, "The document is busy with another operation.");
  EXPECT_EQ(UndoEdit(ctx, *doc), platform::kTaskFailed);
  EXPECT_EQ(Split(ctx, *doc, 2), nullptr);
  EXPECT_EQ(doc->length(), 1000);
  CommandRegistry r;
  RegisterEditCommands(r);
  EXPECT_FALSE(IsEnabled(*r.Find(kCmdSelectAll), {doc.get(), &clipboard, 1, false}));
}

TEST_F(EditTest, CopyToNewAndSplitMakeModifiedDocuments) {
  auto doc = RampDoc(1000);
  doc->SetSelection(100, 400, 600);
  auto copy = CopyToNew(ctx, *doc, 2);
  ASSERT_TRUE(copy);
  EXPECT_EQ(Contents(copy->chain()), RampPart(100, 400));
  EXPECT_TRUE(copy->modified());
  EXPECT_EQ(copy->Title(), "Untitled 2");
  EXPECT_EQ(copy->viewEnd(), 300);
  auto tail = Split(ctx, *doc, 3);
  ASSERT_TRUE(tail);
  EXPECT_EQ(Contents(doc->chain()), RampPart(0, 600));
  EXPECT_EQ(Contents(tail->chain()), RampPart(600, 1000));
  EXPECT_TRUE(doc->modified());
  EXPECT_TRUE(tail->modified());
  EXPECT_FALSE(doc->history().CanUndo());  // not undoable
}

TEST_F(EditTest, InsertFileLoadsFirstAndMakesNoEntryWhenItCannot) {
  const auto file = dir / "in.raw";
  testing::RawFileIo::WriteRaw(file, 44100, 1, RampPart(5000, 5010));
  auto doc = RampDoc(100);
  doc->SetCursor(40);
  ASSERT_EQ(InsertFile(ctx, *doc, InsertWhere::Cursor, file), 0) << ctx.message;
  EXPECT_EQ(Contents(doc->chain()), Cat({RampPart(0, 40), RampPart(5000, 5010), RampPart(40, 100)}));
  EXPECT_EQ(doc->history().UndoName(), "Insert File At Current Position");
  EXPECT_EQ(InsertFile(ctx, *doc, InsertWhere::End, dir / "missing.raw"), platform::kTaskFailed);
  EXPECT_EQ(ctx.message, "Cannot open " + (dir / "missing.raw").string());
  EXPECT_EQ(doc->history().UndoName(), "Insert File At Current Position");
  EXPECT_EQ(doc->length(), 110);
}

TEST_F(EditTest, SaveSelectionWritesOnlyTheSelection) {
  auto doc = RampDoc(1000);
  doc->SetSelection(10, 30, 0);
  const auto file = dir / "part.raw";
  ASSERT_EQ(SaveSelectionAs(ctx, *doc, file), 0);
  const std::string bytes = quillet::testing::ReadFileBytes(file);
  ASSERT_EQ(bytes.size(), 12u + 20 * 4);
  Samples got(20);
  std::memcpy(got.data(), bytes.data() + 12, 80);
  EXPECT_EQ(got, RampPart(10, 30));
  EXPECT_EQ(doc->length(), 1000);
  EXPECT_FALSE(doc->history().CanUndo());
  files.failSaves = true;
  EXPECT_EQ(SaveSelectionAs(ctx, *doc, dir / "other.raw"), platform::kTaskFailed);
  EXPECT_EQ(ctx.message, "disk full");
  EXPECT_NE(std::find(progress.log().begin(), progress.log().end(), "message Error: disk full"),
            progress.log().end());
}

TEST_F(EditTest, SystemClipboardRoundTripThroughAPrivateFile) {
  auto doc = RampDoc(1000);
  doc->SetSelection(300, 340, 0);
  ASSERT_EQ(Copy(ctx, *doc), 0);
  EXPECT_EQ(system.renders(), 0);  // nothing is written until someone asks
  const auto bytes = system.ReadWave();
  ASSERT_TRUE(bytes);
  EXPECT_EQ(system.renders(), 1);
  ASSERT_EQ(files.saved.size(), 1u);
  const auto exchange = files.saved.back();
  EXPECT_FALSE(std::filesystem::exists(exchange));  // removed once its bytes are taken
  EXPECT_NE(exchange.filename().string(), "clipboard.wav");

  // Another program's audio, pasted.
  system.SetFromOtherProgram(*bytes);
  auto target = RampDoc(100);
  target->SetSelection(10, 90, 0);
  ASSERT_EQ(PasteFromSystem(ctx, *target), 0) << ctx.message;
  EXPECT_EQ(Contents(target->chain()), Cat({RampPart(0, 10), RampPart(300, 340), RampPart(90, 100)}));
  EXPECT_FALSE(std::filesystem::exists(files.opened.back()));

  // A clipboard without audio leaves the selection alone and makes no entry.
  system.SetFromOtherProgram(std::nullopt);
  auto untouched = RampDoc(100);
  untouched->SetSelection(10, 90, 0);
  EXPECT_EQ(PasteFromSystem(ctx, *untouched), platform::kTaskFailed);
  EXPECT_EQ(ctx.message, "The clipboard holds no audio.");
  EXPECT_EQ(untouched->length(), 100);
  EXPECT_FALSE(untouched->history().CanUndo());
}

TEST_F(EditTest, EnableRulesOfTheEditMenu) {
  CommandRegistry r;
  RegisterEditCommands(r);
  auto enabled = [&](CommandId id, const WaveDocument* doc) {
    return IsEnabled(*r.Find(id), {doc, &clipboard, doc ? 1 : 0, false});
  };
  for (CommandId id : {kCmdUndo, kCmdCut, kCmdPaste, kCmdSelectAll, kCmdInsertSilenceEnd})
    EXPECT_FALSE(enabled(id, nullptr)) << id;
  auto doc = RampDoc(1000);
  EXPECT_FALSE(enabled(kCmdCut, doc.get()));
  EXPECT_FALSE(enabled(kCmdSaveRegion, doc.get()));
  EXPECT_FALSE(enabled(kCmdPaste, doc.get()));
  EXPECT_TRUE(enabled(kCmdSelectAll, doc.get()));
  EXPECT_TRUE(enabled(kCmdTrimStart, doc.get()));
  // 44 frames at 44100 Hz is under one millisecond: the clipboard counts as empty.
  doc->SetSelection(0, 44, 0);
  ASSERT_EQ(Copy(ctx, *doc), 0);
  EXPECT_TRUE(enabled(kCmdCut, doc.get()));
  EXPECT_FALSE(enabled(kCmdPasteMix, doc.get()));
  doc->SetSelection(0, 45, 0);
  ASSERT_EQ(Copy(ctx, *doc), 0);
  EXPECT_TRUE(enabled(kCmdPaste, doc.get()));
  // Nothing runs while a task does.
  EXPECT_FALSE(IsEnabled(*r.Find(kCmdPaste), {doc.get(), &clipboard, 1, true}));
}

TEST(TimeText, FormatsAndReadsThePartsOfATime) {
  EXPECT_EQ(FormatTimeHundredths(995), "0:00:01.00");
  EXPECT_EQ(FormatTimeHundredths(3723504), "1:02:03.50");
  EXPECT_EQ(FormatTimeHundredths(-61995), "-0:01:02.00");
  EXPECT_EQ(FormatTimeHundredths(-61994), "-0:01:01.99");
  EXPECT_EQ(FormatTimeHundredths(0), "0:00:00.00");
  const std::pair<const char*, std::int64_t> reads[] = {
      {"1:02:03.5", 3723500}, {"0:00:00.995", 995}, {"12", 12000}, {"1:5", 65000},
      {"-0:01", -1000},       {"2.5-", -2500},       {"1.2.3", 1230}, {"1.2345", 1234},
      {"a1b:c2", 62000},      {"", 0},               {":", 0},
  };
  for (const auto& [text, ms] : reads) EXPECT_EQ(ParseTimeText(text), ms) << text;
  // Absurd input saturates instead of overflowing.
  EXPECT_GT(ParseTimeText(std::string(40, '9')), 0);
  EXPECT_GT(ParseTimeText(std::string(30, ':') + "99999999999"), 0);
}

TEST_F(EditTest, SelectTimeStartsFromTheSelectionPreviewsAndTakesTypedTimes) {
  auto doc = RampDoc(441000);
  doc->SetSelection(44100, 66150, 0);
  CommandRegistry r;
  RegisterEditCommands(r);
  const Command& select = *r.Find(kCmdSelectTime);
  ParamSet values(*select.params);
  select.prepare(values, doc.get());
  EXPECT_EQ(values.Text(0), "0:00:01.00");
  EXPECT_EQ(values.Text(1), "0:00:01.50");
  values.SetText(0, "0:00:02.25");
  values.SetText(1, "0:00:00.5");
  ctx.player = &player;
  PreviewTypedRange(ctx, *doc, values);
  EXPECT_EQ(player.log.back(), "range 22050 99225");
  CommandCall call{ctx, doc.get(), &values, nullptr, &select};
  EXPECT_EQ(select.run(call), platform::kTaskDone);
  EXPECT_EQ(std::tuple(doc->selStart(), doc->selEnd()), std::tuple(22050, 99225));
}

TEST_F(EditTest, MixValuesFollowTheDocument) {
  auto stereo = Doc(2, testing::Ramp(2, 100));
  stereo->SetSelection(0, 50, 0);
  ParamSet values(kMixFileTable);
  values.Load(settings);
  values.SetInt(1 + kMixPan, 20);
  values.SetInt(1 + kMixLonger, 2);
  MixParams p = MixParamsOf(values, 1, *stereo);
  EXPECT_EQ(std::tuple(p.volumePct, p.pan, p.longer, p.fadeFrames),
            std::tuple(100, 20, MixLonger::FadeOut, 250));
  // Mono takes the centre; without a selection the mix always increases it.
  auto mono = RampDoc(100);
  p = MixParamsOf(values, 1, *mono);
  EXPECT_EQ(std::tuple(p.pan, p.longer), std::tuple(50, MixLonger::IncreaseSelection));
}

TEST_F(EditTest, RegionSaveDialogAsksBeforeReplacing) {
  platform::ScriptedPrompter prompter;
  const ParamInfo& field = kSaveRegionTable.fields[0];
  const auto taken = dir / "taken.wav";
  quillet::testing::WriteFileBytes(taken, "x");
  prompter.QueueFiles({{taken}});
  prompter.QueueAnswer(platform::Answer::No);
  prompter.QueueFiles({{dir / "fresh"}});
  const auto file = AskPathField(prompter, settings, field);
  EXPECT_EQ(file, dir / "fresh.wav");
  ASSERT_EQ(prompter.shown().size(), 3u);
  EXPECT_EQ(prompter.shown()[1].text,
            "Another file with the same name already exists. Do you want to replace it?");
  EXPECT_EQ(prompter.shown()[0].file.title, "Save Audio File As");
  EXPECT_EQ(prompter.shown()[0].file.filters,
            (std::vector<platform::FileFilter>{{"Wave (*.wav)", "*.wav"}}));
  EXPECT_EQ(settings.GetString("Settings", "SaveAsDir", ""), dir.path().string());
  prompter.QueueFiles({{taken}});
  prompter.QueueAnswer(platform::Answer::Cancel);
  EXPECT_EQ(AskPathField(prompter, settings, field), std::nullopt);
  // A file to read is taken as chosen, with all files offered.
  prompter.QueueFiles({{taken}});
  EXPECT_EQ(AskPathField(prompter, settings, kInsertFileTable.fields[0]), taken);
  EXPECT_EQ(prompter.shown().back().file.filters,
            (std::vector<platform::FileFilter>{{"All Files", "*"}}));
  EXPECT_EQ(settings.GetString("Settings", "InsertFileDir", ""), dir.path().string());
  EXPECT_TRUE(prompter.problems().empty());
}

}  // namespace
}  // namespace quillet::core
