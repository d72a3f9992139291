// The editor's commands reaching the layers below: effects through their document
// commands, open and save through the dispatcher with its dialogs and questions,
// playback through the player on the fake device.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include "fixtures/programs.h"
#include "formats/document_io.h"
#include "formats/format_table.h"
#include "formats/save_options.h"
#include "formats/wav_chooser.h"
#include "frame_fixture.h"
#include "ui/format_dialogs.h"
#include "ui/level_meter.h"
#include "ui/playback.h"
#include "ui/progress_dialog.h"

namespace quillet::ui {
namespace {

using namespace testsupport;
using platform::Answer;

// The 16-bit samples WriteSine wrote for frames [from, to) of channel 0.
std::vector<std::int16_t> SineSamples(int from, int to, double amplitude) {
  std::vector<std::int16_t> out;
  for (int i = from; i < to; ++i)
    out.push_back(std::int16_t(std::lround(32767 * amplitude * std::sin(i * 0.05))));
  return out;
}

TEST_F(Frame, NormalizeFromTheMenuStoresItsValueAndRunsTheCommand) {
  DocumentWindow* w = Open(8000, 1, 8000, 0.25);
  settings_->SetBool("Settings", "AutoPlaybackAfterEffects", false);
  DialogScript script("ParamDialog", [](QDialog& d) {
    d.findChild<QSpinBox*>("PCT")->setValue(50);
  });
  frame_->action(core::kCmdNormalize)->trigger();
  EXPECT_EQ(script.shown(), 1);
  EXPECT_EQ(settings_->GetInt("StoredValues", "NormalizePeakLevel", 0), 50)
      << "the dialog's Confirm stores the value";
  EXPECT_EQ(w->doc().history().UndoName(), "Normalize");
  // A quarter of full scale brought to half of it: twice the gain.
  EXPECT_NEAR(double(w->doc().chain().segments().front().gain) / 0x1000000, 2.0, 0.02);
  EXPECT_EQ(sound_.opens(), 0) << "no auto play when it is off";
}

TEST_F(Frame, EffectsPlayFromJustBeforeTheChangeWhenAutoPlayIsOn) {
  DocumentWindow* w = Open(8000, 1, 16000, 0.5);
  w->doc().SetSelection(8000, 12000, 8000);
  frame_->Command(core::kCmdReverse);  // Reverse
  EXPECT_EQ(w->doc().history().UndoName(), "Reverse");
  EXPECT_EQ(sound_.opens(), 1);
  EXPECT_TRUE(frame_->playback().IsPlaying());
  // Half a second before the selection (the device's clock stands still, so nothing
  // has been heard yet).
  EXPECT_EQ(frame_->playback().position(), 4000);
  frame_->Command(core::kCmdStop);
  EXPECT_FALSE(frame_->playback().IsPlaying());
}

TEST_F(Frame, CrossFadeWorksOnTheTimesTypedInItsDialog) {
  DocumentWindow* w = Open(8000, 1, 16000, 0.5);
  settings_->SetBool("Settings", "AutoPlaybackAfterEffects", false);
  w->doc().SetSelection(100, 200, 100);
  DialogScript script("CrossFade", [](QDialog& d) {
    d.findChild<QLineEdit*>("start")->setText("0:00:01.00");
    d.findChild<QLineEdit*>("end")->setText("0:00:01.50");
  });
  frame_->Command(core::kCmdCrossFade);
  EXPECT_EQ(script.shown(), 1);
  EXPECT_EQ(w->doc().history().UndoName(), "Cross Fade");
  // The join is at the typed start, and the selected half second is gone.
  EXPECT_EQ(w->doc().cursor(), 8000);
  EXPECT_LT(w->doc().length(), 16000);
}

TEST_F(Frame, ConvertToMonoFromTheMenuIsOneUndoableCommand) {
  DocumentWindow* w = Open(8000, 2, 4000, 0.5);
  settings_->SetBool("Settings", "AutoPlaybackAfterEffects", false);
  EXPECT_TRUE(frame_->action(core::kCmdConvertStereo)->isChecked());
  frame_->action(core::kCmdConvertMono)->trigger();
  EXPECT_EQ(w->doc().channels(), 1);
  EXPECT_TRUE(frame_->action(core::kCmdConvertMono)->isChecked());
  EXPECT_EQ(frame_->statusRate()->text().toStdString(), "Sample Rate: 8000   Mono");
  frame_->Command(core::kCmdUndo);
  EXPECT_EQ(w->doc().channels(), 2);
}

TEST_F(Frame, SaveAsMp3AsksItsOptionsAndWhetherToReplace) {
  DocumentWindow* w = Open(44100, 2, 44100, 0.5);
  testing::WriteFileBytes(dir_ / "out.mp3", "old");
  int chooserCalls = 0;
  QtPrompter::SetFileHook([&](const platform::FileRequest& r) -> std::optional<platform::FileChoice> {
    ++chooserCalls;
    EXPECT_EQ(r.title, "Save Audio File As");
    EXPECT_EQ(r.filters.front().name, "Wave (*.wav)");
    EXPECT_EQ(r.filters[1].name, "MPEG Layer-3 (*.mp3)");
    platform::FileChoice c;
    c.files = {dir_ / "out"};
    c.filterIndex = 1;
    return c;
  });
  answers_ = {Answer::No, Answer::Yes};  // not the first time, then replace it
  DialogScript script("LMp3EncodeDlg", [](QDialog& d) {
    EXPECT_EQ(QtProgressFactory::Current(), nullptr) << "no progress window behind the options";
    auto* rate = d.findChild<QComboBox*>("CBRBitRate");
    rate->setCurrentIndex(rate->findText("64 kbps"));
  });
  frame_->Command(core::kCmdSaveFileAs);
  EXPECT_EQ(chooserCalls, 2);
  ASSERT_GE(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0],
            "Quillet: Another file with the same name already exists. Do you want to replace it?");
  EXPECT_EQ(script.shown(), 1);
  EXPECT_EQ(settings_->GetInt("MP3Encoder", "CBRBitRate", 0), 64);
  EXPECT_EQ(settings_->GetInt("Settings", "SaveAsFormat", 0), 2);
  EXPECT_EQ(w->doc().file(), std::filesystem::absolute(dir_ / "out.mp3"));
  EXPECT_FALSE(w->doc().modified());
  std::string reader;
  const audio::SourceHandle saved = formats::OpenAudioFile(dir_ / "out.mp3", *settings_, &reader);
  ASSERT_TRUE(saved->ready());
  EXPECT_EQ(reader, "mp3");
  // lame may lower the rate for a low bit rate: the duration is what stays.
  EXPECT_NEAR(double(saved->length()) / saved->sampleRate(), 1.0, 0.06);
  // 64 kbit/s for one second: about 8 kB, not the 128 kbit/s default.
  EXPECT_LT(std::filesystem::file_size(dir_ / "out.mp3"), 12000u);
}

// The option dialogs are drawn from their field tables: the mode radios enable their
// fields, the table's check refuses under "Invalid value", Restore Defaults gives the
// document's channels back.
TEST_F(Frame, OptionDialogsFollowTheirTables) {
  QtSaveOptions options(frame_.get());
  core::ParamSet values = formats::LoadOptions(formats::kOggOptions, *settings_, 44100, 2);
  bool checked = false;
  DialogScript script("OggEncodeDlg", [&](QDialog& d) {
    auto* min = d.findChild<QComboBox*>("VBRMinBitRate");
    auto* max = d.findChild<QComboBox*>("VBRMaxBitRate");
    auto* channels = d.findChild<QComboBox*>("Channels");
    ASSERT_TRUE(min && max && channels);
    EXPECT_EQ(d.findChild<QLabel*>("note"), nullptr);  // nothing to tell
    EXPECT_FALSE(min->isEnabled());  // quality mode
    d.findChild<QRadioButton*>("Quality.off")->setChecked(true);
    EXPECT_TRUE(min->isEnabled());
    EXPECT_FALSE(d.findChild<QComboBox*>("VBRQuality")->isEnabled());
    channels->setCurrentIndex(0);
    d.findChild<QPushButton*>("restoreDefaults")->click();
    EXPECT_EQ(channels->currentText(), "Stereo");  // the document's, not mono
    d.findChild<QRadioButton*>("Quality.off")->setChecked(true);
    min->setCurrentIndex(min->findText("224 kbps"));
    max->setCurrentIndex(max->findText("32 kbps"));
    d.accept();
    EXPECT_TRUE(d.isVisible()) << "refused, the dialog stays";
    max->setCurrentIndex(max->findText("224 kbps"));
    checked = true;
  });
  ASSERT_TRUE(options.EditOptions(formats::kOggOptions, values));
  EXPECT_TRUE(checked);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "Invalid value: The minimum bit rate must not be above the maximum bit rate.");
  EXPECT_FALSE(values.Bool(formats::kOggByQuality));
  EXPECT_EQ(values.Int(formats::kOggVbrMin), 224);
  EXPECT_EQ(values.Int(formats::kOggVbrMax), 224);
  EXPECT_EQ(values.Int(formats::kOggChannels), 2);

  // A save that mixes the document down says so above the fields.
  const std::string note = formats::MixdownNote(formats::RowFor(".mp3"), 6);
  QString shownNote;
  DialogScript mp3("LMp3EncodeDlg", [&](QDialog& d) {
    if (auto* label = d.findChild<QLabel*>("note")) shownNote = label->text();
  });
  core::ParamSet mp3Values = formats::LoadOptions(formats::kMp3Options, *settings_, 44100, 6);
  ASSERT_TRUE(options.EditOptions(formats::kMp3Options, mp3Values, note));
  EXPECT_EQ(shownNote.toStdString(), note);

  // A playlist's dialog holds the root URL; its MP3 fields sit behind their own dialog.
  for (const formats::OptionRecord* record : {&formats::kPlaylistOptions, &formats::kFeedOptions}) {
    core::ParamSet list = formats::LoadOptions(*record, *settings_, 44100, 2);
    QString title;
    DialogScript inner("LMp3EncodeDlg", [&](QDialog& d) {
      auto* rate = d.findChild<QComboBox*>("CBRBitRate");
      ASSERT_TRUE(rate);
      rate->setCurrentIndex(rate->findText("64 kbps"));
    });
    DialogScript outer("LPlaylistEncodeDlg", [&](QDialog& d) {
      title = d.windowTitle();
      EXPECT_EQ(d.findChild<QComboBox*>("CBRBitRate"), nullptr);
      auto* url = d.findChild<QLineEdit*>("RootURL");
      ASSERT_TRUE(url);
      url->setText(" http://example.org/pod ");
      d.findChild<QPushButton*>("nested")->click();
    });
    ASSERT_TRUE(options.EditOptions(*record, list));
    EXPECT_EQ(inner.shown(), 1);
    EXPECT_EQ(title.toStdString(), record->table->title);
    EXPECT_EQ(list.Text(formats::kPlaylistRootUrl), "http://example.org/pod");
    EXPECT_EQ(list.Int(formats::kMp3CbrRate), 64);
  }
}

TEST_F(Frame, SaveAsWaveUsesTheFormatChosenInTheChooserAndRemembersIt) {
  DocumentWindow* w = Open(8000, 1, 800, 0.5, "in.wav");
  QtPrompter::SetFileHook([&](const platform::FileRequest&) -> std::optional<platform::FileChoice> {
    platform::FileChoice c;
    c.files = {dir_ / "eight.wav"};
    return c;
  });
  std::string chosenLine;
  DialogScript script("FormatChooser", [&](QDialog& d) {
    auto* tags = d.findChild<QComboBox*>("format");
    tags->setCurrentIndex(tags->findText("PCM"));
    auto* lines = d.findChild<QComboBox*>("attributes");
    for (int i = 0; i < lines->count(); ++i)
      if (lines->itemText(i).contains("8 Bit") && lines->itemText(i).contains("Mono"))
        lines->setCurrentIndex(i);
    chosenLine = lines->currentText().toStdString();
  });
  ASSERT_TRUE(frame_->Save(w, true));
  EXPECT_EQ(script.shown(), 1);
  EXPECT_NE(chosenLine.find("8 Bit"), std::string::npos) << chosenLine;
  const std::string bytes = testing::ReadFileBytes(dir_ / "eight.wav");
  ASSERT_GT(bytes.size(), 44u);
  EXPECT_EQ(bytes[34], 8) << "bits per sample of the saved file";
  const std::size_t data = bytes.find("data");
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(bytes.size() - data - 8, 800u) << "one byte per frame";
  // The choice is remembered for the next save without a dialog.
  EXPECT_TRUE(std::filesystem::exists(dir_ / "data" / "Orvanta" / "Quillet" / "WavCodec.wff"));
}

TEST_F(Frame, A24BitDocumentSavesAs24BitWhateverWasChosenElsewhere) {
  // Another document's choice of 16-bit is stored.
  ASSERT_TRUE(formats::WriteWavCodecFile(formats::WavCodecFilePath(), formats::MakePcmFormat(8000, 1, 16)));
  // 24-bit samples on the 20-bit grid survive the trip unchanged.
  std::string data;
  for (int i = 0; i < 800; ++i) {
    const std::int32_t v = ((i * 4099) % (1 << 20) - (1 << 19)) * 16;
    for (int b = 0; b < 3; ++b) data.push_back(char((v >> (8 * b)) & 0xFF));
  }
  platform::RecordWriter rec;
  rec.Bytes("RIFF");
  rec.U32(std::uint32_t(36 + data.size()));
  rec.Bytes("WAVEfmt ");
  rec.U32(16);
  rec.U16(1);
  rec.U16(1);
  rec.U32(8000);
  rec.U32(8000 * 3);
  rec.U16(3);
  rec.U16(24);
  rec.Bytes("data");
  rec.U32(std::uint32_t(data.size()));
  rec.Bytes(data);
  testing::WriteFileBytes(dir_ / "deep.wav", rec.bytes());

  DocumentWindow* w = frame_->OpenFile(dir_ / "deep.wav");
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(frame_->Save(w, false));
  // The writer's header may differ from ours; the depth and every sample may not.
  auto samplesOf = [](const std::filesystem::path& file) {
    const std::string b = testing::ReadFileBytes(file);
    const std::size_t at = b.find("data");
    return b.size() > 34 && at != std::string::npos ? std::to_string(int(b[34])) + b.substr(at + 8) : b;
  };
  const std::string want = "24" + data;
  EXPECT_TRUE(samplesOf(dir_ / "deep.wav") == want) << "Save keeps 24 bits";

  QtPrompter::SetFileHook([&](const platform::FileRequest&) -> std::optional<platform::FileChoice> {
    platform::FileChoice c;
    c.files = {dir_ / "copy.wav"};
    return c;
  });
  std::string proposed;
  DialogScript script("FormatChooser", [&](QDialog& d) {
    proposed = d.findChild<QComboBox*>("attributes")->currentText().toStdString();
  });
  ASSERT_TRUE(frame_->Save(w, true));
  EXPECT_EQ(script.shown(), 1);
  EXPECT_NE(proposed.find("24 Bit"), std::string::npos) << proposed;
  EXPECT_TRUE(samplesOf(dir_ / "copy.wav") == want);
  // A second round trip changes nothing.
  ASSERT_TRUE(frame_->Save(w, false));
  EXPECT_TRUE(samplesOf(dir_ / "copy.wav") == want);
}

// A plain save of a compressed file re-encodes it: the first one asks, starting from
// what the file was, never from whatever another document stored.
TEST_F(Frame, FirstSaveOfACompressedFileAsksWithTheFilesOwnOptions) {
  QUILLET_REQUIRE_PROGRAMS("lame", "oggenc");
  struct Case {
    const char* name;
    std::vector<std::string> encoder;  // then the input and output
    const char* dialog;
    const char* combo;
    const char* shown;
    std::size_t field;
    std::int64_t value;
  };
  const Case cases[] = {
      {"in.mp3", {"lame", "--quiet", "-b", "192"}, "LMp3EncodeDlg", "CBRBitRate", "192 kbps",
       formats::kMp3CbrRate, 192},
      {"in.ogg", {"oggenc", "-Q", "-q", "6", "-o", "@out"}, "OggEncodeDlg", "VBRQuality", "6",
       formats::kOggQuality, 6},
  };
  settings_->SetInt("MP3Encoder", "CBRBitRate", 64);
  settings_->SetInt("OggEncoder", "VBRQuality", 1);
  WriteSine(dir_ / "src.wav", 44100, 2, 44100, 0.5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = c.encoder;
    const std::string out = (dir_ / c.name).string();
    if (argv.back() == "@out") {
      argv.back() = out;
      argv.push_back((dir_ / "src.wav").string());
    } else {
      argv.push_back((dir_ / "src.wav").string());
      argv.push_back(out);
    }
    ASSERT_EQ(testing::RunProgram(argv), 0);
    DocumentWindow* w = nullptr;
    {
      DialogScript atOpen(c.dialog, {});
      w = frame_->OpenFile(dir_ / c.name);
      ASSERT_NE(w, nullptr);
      EXPECT_EQ(atOpen.shown(), 0) << "an encoder's options are not asked to read a file";
    }
    std::string shown;
    {
      DialogScript script(c.dialog, [&](QDialog& d) {
        shown = d.findChild<QComboBox*>(c.combo)->currentText().toStdString();
      });
      ASSERT_TRUE(frame_->Save(w, false));
      EXPECT_EQ(script.shown(), 1);
    }
    EXPECT_EQ(shown, c.shown);
    // Asked once: the next save keeps the answer without a dialog.
    DialogScript again(c.dialog, {});
    ASSERT_TRUE(frame_->Save(w, false));
    EXPECT_EQ(again.shown(), 0);
    const auto reread = formats::OptionsFromFile(dir_ / c.name, 44100, 2, *settings_);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->values->Int(c.field), c.value) << "the saved file keeps the quality";
    frame_->CloseDocument(w);
  }
}

TEST_F(Frame, CancelledFormatOptionsLeaveTheOldFileAndPath) {
  DocumentWindow* w = Open(8000, 1, 800, 0.5, "keep.wav");
  QtPrompter::SetFileHook([&](const platform::FileRequest&) -> std::optional<platform::FileChoice> {
    platform::FileChoice c;
    c.files = {dir_ / "x.raw"};
    return c;
  });
  QTimer poll;
  int rejected = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(top); d && d->isVisible() && d->objectName() == "LRawDlg") {
        ++rejected;
        d->reject();
      }
  });
  poll.start(5);
  EXPECT_FALSE(frame_->Save(w, true));
  EXPECT_EQ(rejected, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x.raw"));
  EXPECT_EQ(w->doc().file(), std::filesystem::absolute(dir_ / "keep.wav"));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(Frame, FailedOpenShowsOneMessageAndNoWindow) {
  testing::WriteFileBytes(dir_ / "bad.wav", "RIFF\x10\0\0\0WAVEjunkjunk");
  EXPECT_EQ(frame_->OpenFile(dir_ / "bad.wav"), nullptr);
  EXPECT_TRUE(frame_->documents().empty());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("bad.wav"), std::string::npos) << boxes_[0];
  // The same file twice is one document.
  DocumentWindow* a = Open(8000, 1, 800, 0.5, "same.wav");
  EXPECT_EQ(frame_->OpenFile(dir_ / "same.wav"), a);
  EXPECT_EQ(frame_->documents().size(), 1u);
}

TEST_F(Frame, PlayKeyPlaysTheSelectionAndTheCursorFollows) {
  DocumentWindow* w = Open(8000, 1, 8000, 0.5);
  w->doc().SetSelection(1000, 3000, 1000);
  sound_.SetFreeRunning(true);
  Key(Qt::Key_F9);
  ASSERT_TRUE(PumpUntil([&] { return !frame_->playback().IsPlaying(); }));
  const std::vector<std::int16_t> played = sound_.written();
  EXPECT_EQ(played, SineSamples(1000, 3000, 0.5));
  EXPECT_EQ(w->doc().cursor(), 3000) << "the cursor followed the play position";
  EXPECT_EQ(frame_->timeField(3)->text().toStdString(), "0:00:00.38");
  EXPECT_EQ(w->mainDisplay()->markerPos(), 3000);
  EXPECT_GT(frame_->levelMeter()->meter().bar(0), -20) << "the meter saw the sine";
}

TEST_F(Frame, SpacePlaysPausesAndResumesAndEscapeStops) {
  DocumentWindow* w = Open(8000, 1, 80000, 0.5);
  // Not its first button: that would take Space for itself.
  EXPECT_EQ(QApplication::focusWidget(), w) << "a new document's window holds the focus";
  Key(Qt::Key_Space);
  EXPECT_TRUE(frame_->playback().IsPlaying());
  ASSERT_TRUE(PumpUntil([&] {
    sound_.AdvanceMs(20);
    return w->doc().cursor() >= 3200;
  }));
  Key(Qt::Key_Space);
  EXPECT_TRUE(frame_->playback().paused());
  ASSERT_TRUE(PumpUntil([&] { return w->mainDisplay()->markerPos() == w->doc().cursor(); }));
  const FramePos held = w->doc().cursor();
  Key(Qt::Key_Space);
  EXPECT_FALSE(frame_->playback().paused());
  EXPECT_TRUE(frame_->playback().IsPlaying());
  ASSERT_TRUE(PumpUntil([&] {
    sound_.AdvanceMs(20);
    return w->doc().cursor() > held;
  }));
  Key(Qt::Key_Escape);
  EXPECT_FALSE(frame_->playback().IsPlaying());
  // A focused button takes Space for itself: it is pressed, nothing plays.
  frame_->activateWindow();
  QToolButton* zoomIn = w->button(84);
  zoomIn->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), zoomIn);
  const FrameCount width = w->doc().viewEnd() - w->doc().viewStart();
  QTest::keyClick(zoomIn, Qt::Key_Space);
  QApplication::processEvents();
  EXPECT_FALSE(frame_->playback().IsPlaying());
  EXPECT_EQ(w->doc().viewEnd() - w->doc().viewStart(), width / 2);
  w->setFocus();
  // Closing the played document while it plays stops the player first.
  Key(Qt::Key_Space);
  EXPECT_TRUE(frame_->playback().IsPlaying());
  EXPECT_TRUE(frame_->CloseDocument(w));
  EXPECT_FALSE(frame_->playback().IsPlaying());
}

TEST_F(Frame, SelectingWhilePlayingPlaysTheNewSelection) {
  DocumentWindow* w = Open(8000, 1, 80000, 0.5);
  WaveDisplay* d = w->mainDisplay();
  ASSERT_TRUE(d->WaitIdle(std::chrono::seconds(5)));
  frame_->Command(core::kCmdPlay);
  ASSERT_TRUE(frame_->playback().IsPlaying());
  const int x0 = d->width() / 2, x1 = d->width() * 3 / 4;
  QTest::mousePress(d, Qt::LeftButton, {}, QPoint(x0, 20));
  QTest::mouseMove(d, QPoint(x1, 20));
  QTest::mouseRelease(d, Qt::LeftButton, {}, QPoint(x1, 20));
  ASSERT_TRUE(w->doc().HasSelection());
  EXPECT_EQ(sound_.opens(), 2);
  EXPECT_TRUE(frame_->playback().IsPlaying());
  EXPECT_EQ(frame_->playback().position(), w->doc().selStart());
  // A click without a selection plays on from there.
  QTest::mouseClick(d, Qt::LeftButton, {}, QPoint(x0 / 2, 20));
  EXPECT_FALSE(w->doc().HasSelection());
  EXPECT_EQ(frame_->playback().position(), d->FrameAtPixel(x0 / 2));
  frame_->Command(core::kCmdStop);
}

TEST_F(Frame, SlowSpeedPlaysTwiceAsLongAndFastTwoThirds) {
  Open(8000, 1, 8000, 0.5);
  sound_.SetFreeRunning(true);
  Key(Qt::Key_F11);
  ASSERT_TRUE(PumpUntil([&] { return !frame_->playback().IsPlaying(); }));
  const std::size_t slow = sound_.written().size();
  EXPECT_NEAR(double(slow), 16000.0, 800.0);
  frame_->active()->FollowPosition(0);
  Key(Qt::Key_F12);
  ASSERT_TRUE(PumpUntil([&] { return !frame_->playback().IsPlaying(); }));
  EXPECT_NEAR(double(sound_.written().size() - slow), 8000.0 / 1.5, 600.0);
  // Plain Play is at normal speed again.
  frame_->active()->FollowPosition(0);
  const std::size_t before = sound_.written().size();
  Key(Qt::Key_F9);
  ASSERT_TRUE(PumpUntil([&] { return !frame_->playback().IsPlaying(); }));
  EXPECT_EQ(sound_.written().size() - before, 8000u);
}

TEST_F(Frame, HoldingRightFastForwardsAndLettingGoStopsWhereItGot) {
  DocumentWindow* w = Open(8000, 1, 800000, 0.5);
  QTest::keyPress(w->mainDisplay(), Qt::Key_Right);
  EXPECT_TRUE(frame_->playback().IsPlaying());
  ASSERT_TRUE(PumpUntil([&] {
    sound_.AdvanceMs(20);
    return w->doc().cursor() > 16000;
  }));
  QTest::keyRelease(w->mainDisplay(), Qt::Key_Right);
  QApplication::processEvents();
  EXPECT_FALSE(frame_->playback().IsPlaying()) << "it was stopped before, so it stops again";
  const FramePos reached = w->doc().cursor();
  EXPECT_GT(reached, 16000);
  // Faster than real time: more audio passed than the device played.
  EXPECT_GT(reached, sound_.playedFrames());
  // The menu's Rewind steps back five seconds.
  frame_->Command(core::kCmdRewind);
  EXPECT_EQ(w->doc().cursor(), std::max<FramePos>(reached - 40000, 0));
}

TEST_F(Frame, RefusedDeviceSaysToCheckTheOptions) {
  Open();
  sound_.SetOpenFailure("no such device");
  frame_->Command(core::kCmdPlay);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].rfind(std::string("Quillet: ") + kCheckPlayDeviceMessage, 0), 0u) << boxes_[0];
  EXPECT_NE(boxes_[0].find("no such device"), std::string::npos);
  EXPECT_FALSE(frame_->playback().IsPlaying());
}

}  // namespace
}  // namespace quillet::ui
