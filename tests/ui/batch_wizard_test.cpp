// The Batch Converter wizard as a person drives it: from the menu, three files, two
// commands with their settings, a format and a new folder; and "-batch" from the
// command line growing the open wizard's list or loading a script.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>

#include "batch/script.h"
#include "batch/types.h"
#include "formats/document_io.h"
#include "frame_fixture.h"

namespace quillet::ui::testsupport {
namespace {

namespace fs = std::filesystem;

template <class W>
W* Named(QWidget* in, const QString& text) {
  for (W* w : in->findChildren<W*>())
    if (w->text() == text && w->isVisible()) return w;
  ADD_FAILURE() << "no " << text.toStdString();
  return nullptr;
}

using BatchWizardTest = Frame;

TEST_F(BatchWizardTest, ConvertsThreeFilesWithTwoCommandsIntoANewFolder) {
  std::vector<fs::path> files;
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
    WriteSine(dir_ / name, 22050, 2, 11025, 0.25);
    files.push_back(dir_ / name);
  }
  QtPrompter::SetFileHook([&](const platform::FileRequest& r) -> std::optional<platform::FileChoice> {
    EXPECT_EQ(r.title, "Select Audio Files");
    return platform::FileChoice{files, 0};
  });
  QAction* menu = frame_->action(core::kCmdBatchConverter);
  ASSERT_NE(menu, nullptr);
  menu->trigger();
  BatchWizard* w = frame_->batchWizard();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle(), "Batch Converter");
  QPushButton* next = static_cast<QPushButton*>(w->button(QWizard::NextButton));
  EXPECT_FALSE(next->isEnabled());  // no files yet
  Named<QPushButton>(w->currentPage(), "Add")->click();
  ASSERT_EQ(w->lists().files, files);
  EXPECT_TRUE(next->isEnabled());
  next->click();

  // Amplify and Echo from "Add Command", then Amplify's own dialog sets 150 %.
  DialogScript add("Add Command", [](QDialog& d) {
    auto* names = d.findChild<QListWidget*>();
    names->item(3)->setSelected(true);
    names->item(7)->setSelected(true);
  });
  Named<QPushButton>(w->currentPage(), "Add")->click();
  ASSERT_EQ(add.shown(), 1);
  auto* list = w->currentPage()->findChild<QTreeWidget*>("Command List");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_TRUE(w->modified());
  list->setCurrentItem(list->topLevelItem(0));
  DialogScript amplify("ParamDialog", [](QDialog& d) { d.findChild<QSpinBox*>("PCT")->setValue(150); });
  Named<QPushButton>(w->currentPage(), "Set&tings")->click();
  ASSERT_EQ(amplify.shown(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), "Amplify Gain (%) = 150");
  EXPECT_EQ(list->topLevelItem(1)->text(1).toStdString(), "Echo Time (ms) = 800, Echo Gain (%) = 50");
  EXPECT_EQ(w->currentPage()->findChild<QLineEdit*>("Batch Script File")->text(), "Untitled.qlb");
  next->click();

  // AIFF into a folder that does not exist yet: created after the question.
  Named<QRadioButton>(w->currentPage(), "&Convert to file format")->setChecked(true);
  w->currentPage()->findChild<QComboBox*>("Format")->setCurrentIndex(3);
  Named<QRadioButton>(w->currentPage(), "Sa&ve to this folder")->setChecked(true);
  w->currentPage()->findChild<QLineEdit*>("Output Folder")->setText(QString::fromStdString((dir_ / "out").string()));
  answers_ = {Answer::Yes};
  w->button(QWizard::FinishButton)->click();
  ASSERT_TRUE(PumpUntil([&] { return !frame_->batchWizard() || !frame_->batchWizard()->isVisible(); }));
  ASSERT_FALSE(boxes_.empty());
  EXPECT_NE(boxes_.front().find("does not exist. Do you want to create it now?"), std::string::npos);
  EXPECT_EQ(settings_->GetInt("BatchConverter", "SaveFileFormat", 0), 3);

  for (const char* name : {"a.aiff", "b.aiff", "c.aiff"}) {
    DocumentWindow* doc = frame_->OpenFile(dir_ / "out" / name);
    ASSERT_NE(doc, nullptr) << name;
    EXPECT_EQ(doc->doc().sampleRate(), 22050u);
    EXPECT_GE(doc->doc().length(), 11025);
  }
  // The lists stay for the next run.
  EXPECT_EQ(frame_->batchLists().files.size(), 3u);
  EXPECT_EQ(frame_->batchLists().commands.size(), 2u);
}

TEST_F(BatchWizardTest, CommandLineGrowsTheOpenListOrLoadsAScript) {
  frame_->RunCommandLine({"-batch", (dir_ / "one.wav").string()});
  BatchWizard* w = frame_->batchWizard();
  ASSERT_NE(w, nullptr);
  frame_->RunCommandLine({"-batch", (dir_ / "two.wav").string(), (dir_ / "three.wav").string()});
  EXPECT_EQ(frame_->batchWizard(), w);  // the open one, grown
  EXPECT_EQ(w->lists().files, (std::vector<fs::path>{dir_ / "one.wav", dir_ / "two.wav", dir_ / "three.wav"}));
  EXPECT_EQ(w->findChild<QListWidget*>("File List")->count(), 3);

  ASSERT_TRUE(batch::SaveBatchScript(dir_ / "s.qlb", {{3, batch::BlockOf(3, {150})}, {4, {}}}));
  frame_->RunCommandLine({"-batch", (dir_ / "s.qlb").string()});
  EXPECT_EQ(w->lists().commands.size(), 2u);
  EXPECT_EQ(w->script(), dir_ / "s.qlb");
  EXPECT_EQ(w->lists().files.size(), 3u);

  // A damaged script: "File Error", and the list stays empty.
  testing::WriteFileBytes(dir_ / "bad.qlb", "\x07");
  frame_->RunCommandLine({"-batch", (dir_ / "bad.qlb").string()});
  EXPECT_TRUE(w->lists().commands.empty());
  ASSERT_FALSE(boxes_.empty());
  EXPECT_EQ(boxes_.back().substr(0, 12), "File Error: ");
}

}  // namespace
}  // namespace quillet::ui::testsupport
