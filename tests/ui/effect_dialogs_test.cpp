// The filter, delay and curve dialogs as a person uses them: each opens from its menu,
// previews on the (fake) sound device, applies and is undone; the curve editor under
// the mouse; the equalizer's shapes and stored values.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include "core/chain_source.h"
#include "effects/dialogs.h"
#include "effects/equalizer.h"
#include "frame_fixture.h"
#include "ui/curve_editor.h"
#include "ui/effect_dialogs.h"
#include "ui/playback.h"

namespace quillet::ui {
namespace {

using namespace testsupport;

// Mouse events as a person makes them, at a pixel of the editor.
void Mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held) {
  QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}
void Click(QWidget* w, QPointF at, Qt::MouseButton button = Qt::LeftButton) {
  Mouse(w, QEvent::MouseButtonPress, at, button, button);
  Mouse(w, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}
void Drag(QWidget* w, QPointF from, QPointF to) {
  Mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
  Mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
  Mouse(w, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
  Mouse(w, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

class EffectDialogs : public Frame {
 protected:
  std::vector<std::int32_t> Samples(const core::WaveDocument& doc) {
    auto src = core::ChainOpenSource(doc.chain());
    std::vector<std::int32_t> out(static_cast<std::size_t>(doc.length() * doc.channels()));
    src->read(out.data(), doc.length());
    return out;
  }
};

TEST(CurveEditorWidget, ClickAddsDragMovesRightClickDeletesWithinTheLimits) {
  CurveEditor editor(effects::DefaultEnvelope(), CurveEditor::Axis::Share);
  editor.resize(600, 300);
  int edits = 0;
  QObject::connect(&editor, &CurveEditor::edited, [&] { ++edits; });
  const QPointF middle = editor.PixelOf({128, 64});
  Click(&editor, middle);
  ASSERT_EQ(editor.shape().size(), 3u);
  EXPECT_EQ(editor.shape()[1], (effects::EnvelopePoint{128, 64}));
  Drag(&editor, middle, editor.PixelOf({200, 255}));
  EXPECT_EQ(editor.shape()[1], (effects::EnvelopePoint{200, 255}));
  // The end points move only up and down; a right-click does not delete them.
  Drag(&editor, editor.PixelOf({0, 128}), editor.PixelOf({100, 0}));
  EXPECT_EQ(editor.shape()[0], (effects::EnvelopePoint{0, 0}));
  Click(&editor, editor.PixelOf({0, 0}), Qt::RightButton);
  Click(&editor, editor.PixelOf({200, 255}), Qt::RightButton);
  EXPECT_EQ(editor.shape(), (effects::EnvelopeShape{{0, 0}, {255, 128}}));
  EXPECT_EQ(edits, 4);  // add, two drags let go, one delete
  // Neighbours at other heights, so that no click lands on a point.
  for (int i = 0; i < 100; ++i)
    Click(&editor, editor.PixelOf({static_cast<std::uint8_t>(2 + i * 2), static_cast<std::uint8_t>(i % 2 ? 30 : 200)}));
  EXPECT_EQ(editor.shape().size(), effects::kMaxEnvelopePoints);
  EXPECT_TRUE(effects::IsValidEnvelope(editor.shape()));
}

// On the frequency axes the same pixel stands for other frequencies, and a point is
// found where it is drawn.
TEST(CurveEditorWidget, FrequencyAxesMapPixelsBothWays) {
  CurveEditor editor(effects::FlatCurve(), CurveEditor::Axis::EqLinear);
  editor.resize(600, 300);
  const QPointF linear = editor.PixelOf({128, 128});  // 10000 Hz
  editor.SetAxis(CurveEditor::Axis::EqLogarithmic);
  const QPointF log = editor.PixelOf({128, 128});
  EXPECT_GT(log.x(), linear.x());
  for (int x : {1, 13, 64, 200, 255}) {
    const effects::EnvelopePoint p{static_cast<std::uint8_t>(x), 90};
    EXPECT_EQ(editor.PointAt(editor.PixelOf(p)), p) << x;
  }
}

TEST_F(EffectDialogs, FilterAndDelayDialogsPreviewApplyAndUndo) {
  DocumentWindow* w = Open(8000, 1, 16000, 0.5);
  settings_->SetBool("Settings", "AutoPlaybackAfterEffects", false);
  const std::vector<std::int32_t> before = Samples(w->doc());
  struct Case {
    core::CommandId id;
    const char* undo;
    const char* field;  // a spin box to edit while the preview plays
  };
  const Case cases[] = {{core::kCmdHighPass, "High-Pass Filter", "HZ"},
                        {core::kCmdEcho, "Echo", "MS"},
                        {core::kCmdReverb, "Reverb", "LEVEL"},
                        {core::kCmdSpeed, "Speed Change", "PCT"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.undo);
    int opens = 0;
    std::string captions;
    DialogScript script("ParamDialog", [&](QDialog& d) {
      auto* preview = d.findChild<QPushButton*>("preview");
      ASSERT_TRUE(preview);
      ASSERT_TRUE(preview->isEnabled());
      const int first = sound_.opens();
      preview->click();
      captions += preview->text().toStdString() + " ";
      auto* spin = d.findChild<QSpinBox*>(c.field);
      spin->setValue(spin->value() - 1);  // restarts the preview
      preview->click();                   // stops it
      captions += preview->text().toStdString();
      opens = sound_.opens() - first;
    });
    QAction* item = frame_->action(c.id);
    ASSERT_TRUE(item);
    item->trigger();
    EXPECT_EQ(script.shown(), 1);
    EXPECT_EQ(opens, 2);
    EXPECT_EQ(captions, "&Stop Pre&view");
    EXPECT_EQ(w->doc().history().UndoName(), c.undo);
    EXPECT_NE(Samples(w->doc()), before);
    frame_->Command(core::kCmdUndo);
    EXPECT_EQ(Samples(w->doc()), before);
  }
  // A speed the preview refuses shows the dialog's message; the old preview plays on.
  DialogScript speed("ParamDialog", [&](QDialog& d) {
    d.findChild<QPushButton*>("preview")->click();
    d.findChild<QSpinBox*>("PCT")->setValue(301);
    EXPECT_EQ(d.findChild<QPushButton*>("preview")->text(), "&Stop");
    d.reject();
  });
  frame_->Command(core::kCmdPitch);
  ASSERT_FALSE(boxes_.empty());
  EXPECT_EQ(boxes_.back(), "Invalid value: Speed Change Percent must be less than 300.");
  EXPECT_FALSE(frame_->playback().IsPlaying());  // closing the dialog stopped it
}

TEST_F(EffectDialogs, EqualizerShapesPreviewAndStoredValues) {
  DocumentWindow* w = Open(44100, 1, 44100, 0.5);
  settings_->SetBool("Settings", "AutoPlaybackAfterEffects", false);
  const std::vector<std::int32_t> before = Samples(w->doc());
  bool previewed = false;
  DialogScript shape("EqShapeDialog", [](QDialog& d) {
    EXPECT_EQ(d.windowTitle(), "BandStop Settings");
    d.findChild<QPushButton*>("defaults")->click();
    d.findChild<QSpinBox*>("AMP")->setValue(0);
  });
  DialogScript eq("EqualizerDialog", [&](QDialog& d) {
    auto* preview = d.findChild<QPushButton*>("preview");
    preview->click();
    previewed = preview->text() == "&Stop";
    auto* shapes = d.findChild<QComboBox*>("preset");
    shapes->setCurrentIndex(2);
    emit shapes->activated(2);
    d.findChild<QRadioButton*>("logarithmic")->setChecked(true);
  });
  frame_->Command(core::kCmdEqualizer);
  EXPECT_EQ(eq.shown(), 1);
  EXPECT_EQ(shape.shown(), 1);
  EXPECT_TRUE(previewed);
  EXPECT_EQ(w->doc().history().UndoName(), "Equalizer");
  EXPECT_NE(Samples(w->doc()), before);
  // The shape's settings, its choice, the curve file and the view are remembered.
  const effects::EqualizerCurve want = effects::ShapeCurve(effects::EqShape::BandStop, {8000, 12000, 1000, 0});
  EXPECT_EQ(effects::LoadEqualizerCurve(dir_ / "data" / "Orvanta" / "Quillet"), want);
  EXPECT_EQ(settings_->GetInt("BandStop", "Amp", -1), 0);
  EXPECT_EQ(settings_->GetString("Settings", "EqualizerFilterName", ""), "BandStop");
  EXPECT_EQ(settings_->GetInt("StoredValues", "EQPreset", -1), 2);
  EXPECT_EQ(settings_->GetInt("StoredValues", "EQLinearView", -1), 0);
  frame_->Command(core::kCmdUndo);
  EXPECT_EQ(Samples(w->doc()), before);

  // Opened again: the logarithmic view and the stored curve, edited with the mouse.
  DialogScript again("EqualizerDialog", [&](QDialog& d) {
    EXPECT_TRUE(d.findChild<QRadioButton*>("logarithmic")->isChecked());
    auto* editor = d.findChild<CurveEditor*>("curve");
    EXPECT_EQ(editor->shape(), want);
    d.findChild<QPushButton*>("flat")->click();
    Click(editor, editor->PixelOf({128, 0}));  // a dip to silence at 10 kHz
  });
  frame_->Command(core::kCmdEqualizer);
  EXPECT_EQ((effects::LoadEqualizerCurve(dir_ / "data" / "Orvanta" / "Quillet")),
            (effects::EqualizerCurve{{0, 128}, {128, 0}, {255, 128}}));
}

TEST_F(EffectDialogs, EnvelopeIsDrawnOverTheSelectionAndApplied) {
  DocumentWindow* w = Open(8000, 1, 8000, 0.5);
  settings_->SetBool("Settings", "AutoPlaybackAfterEffects", false);
  w->doc().SetSelection(2000, 6000, 2000);
  DialogScript script("EnvelopeDialog", [](QDialog& d) {
    auto* editor = d.findChild<CurveEditor*>("curve");
    ASSERT_TRUE(editor);
    Click(editor, editor->PixelOf({128, 0}));  // silent in the middle
  });
  frame_->Command(core::kCmdEnvelope);
  EXPECT_EQ(script.shown(), 1);
  EXPECT_EQ(w->doc().history().UndoName(), "Envelope");
  const std::vector<std::int32_t> after = Samples(w->doc());
  EXPECT_EQ(after[4007], 0);          // position 128 of the selection's 4000 frames
  EXPECT_NE(after[1000], 0);          // outside it
  EXPECT_EQ(effects::LoadEnvelope(dir_ / "data" / "Orvanta" / "Quillet"),
            (effects::EnvelopeShape{{0, 128}, {128, 0}, {255, 128}}));
  // Reset brings the flat envelope back, which changes nothing.
  DialogScript reset("EnvelopeDialog", [](QDialog& d) { d.findChild<QPushButton*>("reset")->click(); });
  frame_->Command(core::kCmdEnvelope);
  EXPECT_EQ(Samples(w->doc()), after);
}

TEST_F(EffectDialogs, CrossFadeDialogDrawsItsFades) {
  DocumentWindow* w = Open(8000, 1, 16000, 0.5);
  w->doc().SetSelection(4000, 8000, 4000);
  bool drawn = false;
  DialogScript script("CrossFade", [&](QDialog& d) {
    auto* fades = d.findChild<CrossFadeView*>("fades");
    ASSERT_TRUE(fades);
    d.findChild<QSpinBox*>("IN_MS")->setValue(900);
    drawn = fades->isVisible() && !fades->grab().isNull();
    d.reject();
  });
  frame_->Command(core::kCmdCrossFade);
  EXPECT_TRUE(drawn);
}

}  // namespace
}  // namespace quillet::ui
