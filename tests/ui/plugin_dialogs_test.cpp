// Plug-in effects from the editor's menu as a person uses them: choose a plug-in in the
// list, set a port, apply, undo; the choice and its values come back next time; a
// crashing plug-in leaves the editor and the document as they were.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QTreeWidget>
#include <stdlib.h>

#include "core/chain_source.h"
#include "frame_fixture.h"
#include "ui/progress_dialog.h"

namespace quillet::ui {
namespace {

using namespace testsupport;

class PluginDialogs : public Frame {
 protected:
  void SetUp() override {
    Frame::SetUp();
    setenv("QUILLET_PLUGIN_HOST", QUILLET_PLUGIN_HOST_PATH, 1);
    setenv("LADSPA_PATH", QUILLET_TEST_PLUGINS "/ladspa", 1);
    setenv("LV2_PATH", QUILLET_TEST_PLUGINS "/lv2", 1);
    settings_->SetBool("Settings", "AutoPlaybackAfterEffects", false);
  }
  static std::int32_t Peak(const core::WaveDocument& doc) {
    auto src = core::ChainOpenSource(doc.chain());
    std::vector<std::int32_t> s(static_cast<std::size_t>(doc.length() * doc.channels()));
    src->read(s.data(), doc.length());
    std::int32_t peak = 0;
    for (std::int32_t v : s) peak = std::max(peak, std::abs(v));
    return peak;
  }
  // The rows of the dialog's list, by their Id column.
  static QStringList Ids(QDialog& d) {
    QStringList ids;
    auto* list = d.findChild<QTreeWidget*>("plugins");
    for (int i = 0; list && i < list->topLevelItemCount(); ++i) ids << list->topLevelItem(i)->text(2);
    return ids;
  }
  // Triggers the menu item; in the chooser picks the row whose id contains id and sets
  // port to value (a negative value leaves it and records what was shown in *shown).
  void Apply(core::CommandId command, const QString& id, const char* port, double value,
             double* shown = nullptr, const std::function<void(QDialog&)>& first = {}) {
    DialogScript script("PluginDialog", [&](QDialog& d) {
      if (first) first(d);
      const QStringList ids = Ids(d);
      const auto row = std::find_if(ids.begin(), ids.end(), [&](const QString& s) { return s.contains(id); });
      ASSERT_NE(row, ids.end()) << ids.join(", ").toStdString();
      auto* list = d.findChild<QTreeWidget*>("plugins");
      list->setCurrentItem(list->topLevelItem(int(row - ids.begin())));
      auto* field = d.findChild<QDoubleSpinBox*>(port);
      ASSERT_TRUE(field) << port;
      if (shown) *shown = field->value();
      if (value >= 0) field->setValue(value);
    });
    QAction* item = frame_->action(command);
    ASSERT_TRUE(item);
    item->trigger();
    EXPECT_EQ(script.shown(), 1);
  }
};

TEST_F(PluginDialogs, ChooseSetApplyUndoRecallAndSurviveACrash) {
  DocumentWindow* w = Open(8000, 2, 16000, 0.5);
  const std::int32_t before = Peak(w->doc());
  Apply(core::kCmdPluginEffects, "q_gain", "port:Gain", 0.5);
  EXPECT_EQ(w->doc().history().UndoName(), "LADSPA/LV2 Effects");
  EXPECT_NEAR(Peak(w->doc()), before / 2, 2);
  frame_->Command(core::kCmdUndo);
  EXPECT_EQ(Peak(w->doc()), before);

  // The plug-in's own values are kept: the next visit shows 0.5, not the default 1.
  double shown = 0;
  Apply(core::kCmdPluginEffects, "q_gain", "port:Gain", -1, &shown);
  EXPECT_DOUBLE_EQ(shown, 0.5);
  frame_->Command(core::kCmdUndo);

  const std::size_t boxes = boxes_.size();
  bool progressBehindBox = false;
  QtPrompter::SetBoxHook([&](QMessageBox& box) -> std::optional<Answer> {
    boxes_.push_back(box.text().toStdString());
    progressBehindBox = progressBehindBox || QtProgressFactory::Current() != nullptr;
    return Answer::Ok;
  });
  Apply(core::kCmdPluginEffects, "q_crash", "port:Gain", 1);
  ASSERT_GT(boxes_.size(), boxes);
  EXPECT_FALSE(progressBehindBox) << "the failed effect's progress window closes first";
  EXPECT_NE(boxes_.back().find("Applying LADSPA effect FAILED."), std::string::npos) << boxes_.back();
  EXPECT_NE(boxes_.back().find("crashed"), std::string::npos) << boxes_.back();
  EXPECT_EQ(Peak(w->doc()), before);
  EXPECT_FALSE(w->doc().history().CanUndo());
}

TEST_F(PluginDialogs, VstFolderIsChosenAndOnlyUsablePluginsListed) {
  DocumentWindow* w = Open(8000, 2, 16000, 0.5);
  const std::int32_t before = Peak(w->doc());
  Apply(core::kCmdVstPlugins, "vst_gain.so", "port:0", 0.25, nullptr, [](QDialog& d) {
    auto* folder = d.findChild<QLineEdit*>("folder");
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->text(), "");
    EXPECT_EQ(folder->placeholderText(), "/usr/lib/lxvst");
    folder->setText(QUILLET_TEST_PLUGINS "/vst");
    emit folder->editingFinished();
    // The crashing, wrong-magic and accumulating-only plug-ins are left out.
    EXPECT_EQ(Ids(d), QStringList{QUILLET_TEST_PLUGINS "/vst/vst_gain.so"});
  });
  EXPECT_EQ(w->doc().history().UndoName(), "VST Effects");
  EXPECT_NEAR(Peak(w->doc()), before / 4, 2);
  EXPECT_EQ(settings_->GetString("Settings", "VSTFolder", ""), QUILLET_TEST_PLUGINS "/vst");
}

TEST_F(PluginDialogs, SpeechFromTheVoiceList) {
  DocumentWindow* w = Open(22050, 1, 0);
  int voices = 0;
  DialogScript script("SpeechDialog", [&](QDialog& d) {
    auto* voice = d.findChild<QComboBox*>("voice");
    ASSERT_TRUE(voice);
    voices = voice->count();
    d.findChild<QLineEdit*>("text")->setText("Hello there");
  });
  frame_->action(core::kCmdTextToSpeech)->trigger();
  ASSERT_EQ(script.shown(), 1) << (boxes_.empty() ? "" : boxes_.back());
  EXPECT_GT(voices, 1);
  EXPECT_EQ(w->doc().history().UndoName(), "Text To Speech");
  EXPECT_GT(w->doc().length(), 22050 / 4);
  EXPECT_FALSE(settings_->GetString("Settings", "TextToSpeechVoice", "").empty());
}

}  // namespace
}  // namespace quillet::ui
