// The Options sheet through the frame: what it shows, what OK writes, the working
// folder restart, and a macro hot key made in the Keys page and then pressed.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QSplashScreen>
#include <QTreeWidget>

#include "core/command_ids.h"
#include "frame_fixture.h"
#include "platform/desktop_files.h"
#include "ui/options_dialog.h"

namespace quillet::ui {
namespace {

using namespace testsupport;

template <class W>
W* Child(QWidget& d, const char* name) {
  W* w = d.findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

TEST_F(Frame, OptionsShowTheStoredValuesAndOkWritesOnlyWhatChanged) {
  TempDir folder;
  sound_.SetDevices({{"default", "Default"}, {"hw:CARD=USB,DEV=0", "USB Audio\nCard 1"}});
  settings_->SetString("Settings", "SoundOutDevice", "1");  // an old list position
  settings_->SetBool("Settings", "PlayWhenOpen", false);
  settings_->SetInt("Settings", "AutoTrimThreshold", -300);
  settings_->SetBool("Settings", "UseDefaultWorkingDir", false);
  settings_->SetString("Settings", "WorkingFolder", folder.path().string());
  DialogScript sheet("OptionsSheet", [&](QDialog& d) {
    EXPECT_FALSE(Child<QCheckBox>(d, "playWhenOpen")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(d, "autoPlaybackAfterEffects")->isChecked());
    EXPECT_EQ(Child<QSpinBox>(d, "autoTrimThreshold")->value(), -40);  // shown clamped
    EXPECT_TRUE(Child<QRadioButton>(d, "useOwnFolder")->isChecked());
    EXPECT_TRUE(Child<QLineEdit>(d, "workingFolder")->isEnabled());
    EXPECT_EQ(Child<QLineEdit>(d, "workingFolder")->text().toStdString(), folder.path().string());
    EXPECT_EQ(Child<QListWidget>(d, "fileTypes")->count(), 31);
    auto* device = Child<QComboBox>(d, "device");
    ASSERT_EQ(device->count(), 2);
    EXPECT_EQ(device->currentText(), "USB Audio");
    Child<QCheckBox>(d, "reduceVolWhenRewind")->setChecked(true);
  });
  ASSERT_TRUE(frame_->Command(core::kCmdOptions));
  EXPECT_EQ(sheet.shown(), 1);
  EXPECT_EQ(settings_->Find("Settings", "ReduceVolWhenRewind"), "1");
  EXPECT_EQ(settings_->Find("Settings", "AutoTrimThreshold"), "-300");  // untouched
  EXPECT_EQ(settings_->Find("Settings", "SoundOutDevice"), "1");
  EXPECT_FALSE(settings_->Find("Settings", "PromptSampleAndChannels"));
  EXPECT_TRUE(frame_->isVisible());
  EXPECT_TRUE(boxes_.empty());
  // The device is stored by its ALSA name once it is chosen.
  DialogScript again("OptionsSheet", [](QDialog& d) { Child<QComboBox>(d, "device")->setCurrentIndex(0); });
  ASSERT_TRUE(frame_->Command(core::kCmdOptions));
  EXPECT_EQ(settings_->Find("Settings", "SoundOutDevice"), "default");
}

TEST_F(Frame, NewWorkingFolderIsCheckedThenClosesTheProgram) {
  TempDir folder;
  DialogScript sheet("OptionsSheet", [&](QDialog& d) {
    Child<QRadioButton>(d, "useOwnFolder")->setChecked(true);
    auto* field = Child<QLineEdit>(d, "workingFolder");
    field->setText("");
    d.accept();
    field->setText(QString::fromStdString((folder / "missing").string()));
    d.accept();
    EXPECT_TRUE(d.isVisible());  // both refused, the sheet stays
    field->setText(QString::fromStdString(folder.path().string()));
  });
  ASSERT_TRUE(frame_->Command(core::kCmdOptions));
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[0], "Invalid Folder: Please enter a valid folder.");
  EXPECT_EQ(boxes_[1],
            "Invalid Folder: The working folder that you entered does not exist. Please try again.");
  EXPECT_EQ(boxes_[2], "Shut Down Required: " + std::string(core::kShutDownMessage));
  EXPECT_EQ(settings_->Find("Settings", "WorkingFolder"), folder.path().string());
  EXPECT_FALSE(frame_->isVisible());
}

TEST_F(Frame, MacroHotKeyIsMadeSavedAndRuns) {
  MakeFrame(dir_ / "keys.dat");
  DialogScript press("PressKeyDialog", [](QDialog& d) {
    QTest::keyClick(&d, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_TRUE(d.isVisible());  // Shift alone is no key
    QTest::keyClick(&d, Qt::Key_F3, Qt::ShiftModifier);
  });
  DialogScript macro("KeyMacroDialog", [](QDialog& d) {
    EXPECT_EQ(Child<QLabel>(d, "keyName")->text(), "Shift+F3");
    auto* choices = Child<QComboBox>(d, "macroChoices");
    EXPECT_EQ(choices->itemText(0), "Select All");
    for (const char* name : {"Select All", "Normalize"}) {
      choices->setCurrentIndex(choices->findText(name));
      Child<QPushButton>(d, "addCommand")->click();
    }
  });
  DialogScript sheet("OptionsSheet", [&](QDialog& d) {
    auto* list = Child<QTreeWidget>(d, "keyList");
    EXPECT_FALSE(Child<QPushButton>(d, "removeKey")->isEnabled());
    Child<QPushButton>(d, "addKey")->click();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(1), "Select All, Normalize");
  });
  ASSERT_TRUE(frame_->Command(core::kCmdOptions));
  EXPECT_EQ(press.shown() + macro.shown() + sheet.shown(), 3);
  EXPECT_EQ(testing::ReadFileBytes(dir_ / "keys.dat"),
            std::string("\0\x72\x00\x04\x00\x02\xD7\x07\0\0\xA2\x0F\0\0", 14));

  DocumentWindow* w = Open();
  DialogScript normalize("ParamDialog", {});
  Key(Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(normalize.shown(), 1);
  EXPECT_EQ(w->doc().selStart(), 0);
  EXPECT_EQ(w->doc().selEnd(), w->doc().length());
  EXPECT_EQ(w->doc().history().UndoName(), "Normalize");
}

TEST_F(Frame, RemovingKeysAsksFirst) {
  platform::SaveHotKeys(dir_ / "keys.dat", {{0x41, {2007}}, {0x42, {3002}}});
  MakeFrame(dir_ / "keys.dat");
  answers_ = {Answer::No, Answer::Yes};
  DialogScript sheet("OptionsSheet", [&](QDialog& d) {
    auto* list = Child<QTreeWidget>(d, "keyList");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(1), "Play");
    list->topLevelItem(0)->setSelected(true);
    auto* remove = Child<QPushButton>(d, "removeKey");
    EXPECT_TRUE(remove->isEnabled());
    remove->click();
    EXPECT_EQ(list->topLevelItemCount(), 2);  // No keeps them
    remove->click();
    EXPECT_EQ(list->topLevelItemCount(), 1);
  });
  ASSERT_TRUE(frame_->Command(core::kCmdOptions));
  EXPECT_EQ(boxes_.front(), "Confirm Remove: Remove selected key(s)?");
  ASSERT_EQ(frame_->hotKeys().size(), 1u);
  EXPECT_EQ(frame_->hotKeys()[0].keyCode, 0x42u);
}

TEST_F(Frame, SplashOpensOnAPlainStartAndAClickClosesIt) {
  frame_->RunCommandLine({});
  QSplashScreen* splash = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* s = qobject_cast<QSplashScreen*>(top); s && s->isVisible()) splash = s;
  ASSERT_NE(splash, nullptr);
  QPointer<QSplashScreen> alive(splash);
  QTest::mouseClick(splash, Qt::LeftButton);
  EXPECT_TRUE(PumpUntil([&] { return alive.isNull() || !alive->isVisible(); }));

  // A file on the command line has none.
  WriteSine(dir_ / "b.wav", 8000, 1, 100, 0.5);
  frame_->RunCommandLine({(dir_ / "b.wav").string()});
  for (QWidget* top : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<QSplashScreen*>(top) && top->isVisible());
}

TEST_F(Frame, InstallRegistersTheProgramForThisUserWithoutASplashAndEnds) {
  frame_->RunCommandLine({"-install"});
  for (QWidget* top : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<QSplashScreen*>(top) && top->isVisible());
  ASSERT_TRUE(PumpUntil([&] { return !frame_->isVisible(); }));
  const std::string desktop = testing::ReadFileBytes(dir_ / "data/applications/quillet.desktop");
  EXPECT_NE(desktop.find("Actions=edit;batch;"), std::string::npos);
  EXPECT_NE(desktop.find("audio/x-wav;"), std::string::npos);
  EXPECT_TRUE(platform::OpensWithUs(".wav"));
}

TEST_F(Frame, ToneGeneratorRunsTheSetProgramOrSaysWhatToSet) {
  ASSERT_TRUE(frame_->Command(core::kCmdToneGenerator));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].rfind("Tone Generator: No tone generator program is set up.", 0), 0u);
  EXPECT_NE(boxes_[0].find("RunTonesmith="), std::string::npos);

  boxes_.clear();
  settings_->SetString("Tonesmith", "RunTonesmith", "sh -c \"exit 3\"", settings::Scope::Machine);
  ASSERT_TRUE(frame_->Command(core::kCmdToneGenerator));
  EXPECT_TRUE(boxes_.empty());
  settings_->SetString("Tonesmith", "RunTonesmith", "/nonexistent/tones", settings::Scope::Machine);
  ASSERT_TRUE(frame_->Command(core::kCmdToneGenerator));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find("could not be started"), std::string::npos);
}

TEST_F(Frame, TileHorizontalStacksTileVerticalSidesAndIconsLineUpAtTheBottom) {
  Open(8000, 1, 800, 0.5, "a.wav");
  Open(8000, 1, 800, 0.5, "b.wav");
  const QList<QMdiSubWindow*> subs = frame_->mdi()->subWindowList();
  ASSERT_EQ(subs.size(), 2);
  ASSERT_TRUE(frame_->Command(core::kCmdTileHorizontal));
  EXPECT_EQ(subs[0]->x(), subs[1]->x());
  EXPECT_NE(subs[0]->y(), subs[1]->y());
  EXPECT_EQ(subs[0]->width(), frame_->mdi()->viewport()->width());
  ASSERT_TRUE(frame_->Command(core::kCmdTileVertical));
  EXPECT_EQ(subs[0]->y(), subs[1]->y());
  EXPECT_NE(subs[0]->x(), subs[1]->x());
  EXPECT_EQ(subs[0]->height(), frame_->mdi()->viewport()->height());

  for (QMdiSubWindow* sub : subs) sub->showMinimized();
  QApplication::processEvents();
  ASSERT_TRUE(frame_->Command(core::kCmdArrangeIcons));
  const int bottom = frame_->mdi()->viewport()->height();
  EXPECT_EQ(subs[0]->geometry().bottom() + 1, bottom);
  EXPECT_EQ(subs[1]->geometry().bottom() + 1, bottom);
  EXPECT_NE(subs[0]->x(), subs[1]->x());
}

// The 29 macro commands in the editor's order, each name mapping back to its command.
TEST_F(Frame, MacroListFollowsTheFixedOrderAndNamesMapBothWays) {
  const std::vector<std::string> order = {
      "Select All", "Repeat Loop", "Auto Trim", "Silence Selected Region",
      "Insert Silence At The Start", "Insert Silence At Current Position",
      "Insert Silence At The End", "Insert File At Beginning", "Insert File At Current Position",
      "Insert File At The End", "Amplify", "Normalize", "High-Pass Filter", "Equalizer", "Echo",
      "Reverb", "Envelope", "Automatic Gain Control", "Noise Reduction",
      "Speed and Pitch Change", "Speed Change", "Pitch Change", "Dynamic Range Compressor",
      "DC Offset Correction", "Convert Sample Rate", "Convert to Mono", "Convert to Stereo",
      "Play", "Stop"};
  const core::CommandRegistry& commands = frame_->commands();
  std::vector<std::string> names;
  for (const core::Command* c : core::MacroCommands(commands)) {
    names.push_back(c->macroName);
    EXPECT_EQ(core::MacroId(commands, c->macroName), c->id);
  }
  EXPECT_EQ(names, order);
  EXPECT_EQ(core::MacroName(commands, core::kCmdNormalize), "Normalize");
  EXPECT_EQ(core::MacroName(commands, core::kCmdCut), "");
  EXPECT_EQ(core::MacroName(commands, 99999), "");
  EXPECT_EQ(core::MacroId(commands, "normalize"), core::kCmdNone);
}

}  // namespace
}  // namespace quillet::ui
