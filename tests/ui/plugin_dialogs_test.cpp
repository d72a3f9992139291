// Plug-in effects from the editor's menu as a person uses them: choose a plug-in and a
// setting in the dialog, apply, undo; a crashing plug-in leaves the editor and the
// document as they were.
#include <QLineEdit>
#include <stdlib.h>

#include "core/chain_source.h"
#include "frame_fixture.h"

namespace quillet::ui {
namespace {

using namespace testsupport;

class PluginDialogs : public Frame {
 protected:
  void SetUp() override {
    Frame::SetUp();
    setenv("QUILLET_PLUGIN_HOST", QUILLET_PLUGIN_HOST_PATH, 1);
    setenv("LADSPA_PATH", QUILLET_TEST_PLUGINS "/ladspa:/usr/lib/ladspa", 1);
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
  // Triggers the menu item and types text into the dialog's one field.
  void Apply(core::CommandId id, const char* text) {
    DialogScript script("ParamDialog", [&](QDialog& d) {
      auto* field = d.findChild<QLineEdit*>();
      ASSERT_TRUE(field);
      field->setText(text);
    });
    QAction* item = frame_->action(id);
    ASSERT_TRUE(item);
    item->trigger();
    EXPECT_EQ(script.shown(), 1);
  }
};

TEST_F(PluginDialogs, ChooseSetApplyUndoAndSurviveACrash) {
  DocumentWindow* w = Open(8000, 2, 16000, 0.5);
  const std::int32_t before = Peak(w->doc());
  Apply(core::kCmdPluginEffects, "amp_mono,Gain=0.5");
  EXPECT_EQ(w->doc().history().UndoName(), "LADSPA/LV2 Effects");
  EXPECT_NEAR(Peak(w->doc()), before / 2, 2);
  frame_->Command(core::kCmdUndo);
  EXPECT_EQ(Peak(w->doc()), before);

  const std::size_t shown = boxes_.size();
  Apply(core::kCmdPluginEffects, "q_crash");
  ASSERT_GT(boxes_.size(), shown);
  EXPECT_NE(boxes_.back().find("Applying LADSPA effect FAILED."), std::string::npos) << boxes_.back();
  EXPECT_NE(boxes_.back().find("crashed"), std::string::npos) << boxes_.back();
  EXPECT_EQ(Peak(w->doc()), before);
  EXPECT_FALSE(w->doc().history().CanUndo() && w->doc().history().UndoName() == "LADSPA/LV2 Effects");
}

}  // namespace
}  // namespace quillet::ui
