// Dynamics and noise reduction in the editor, as a user reaches them: the menus, the
// dialogs' presets and stored values, a noise sample grabbed from a quiet stretch and
// applied to the whole file, played, and undone.
#include <QComboBox>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <random>

#include "core/chain_source.h"
#include "formats/wav_writer.h"
#include "frame_fixture.h"

namespace quillet::ui {
namespace {

using namespace testsupport;

// The first menu action (searched through the submenus) whose text starts with text.
QAction* MenuItem(QWidget* menu, const QString& text) {
  for (QAction* a : menu->actions()) {
    if (a->menu())
      if (QAction* inner = MenuItem(a->menu(), text)) return inner;
    if (a->text().startsWith(text)) return a;
  }
  return nullptr;
}

// A second of hiss at 8000 Hz, then three of a tone over the same hiss.
std::vector<std::int16_t> HissThenTone() {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> hiss(-60, 60);
  std::vector<std::int16_t> v;
  for (int i = 0; i < 4 * 8000; ++i)
    v.push_back(std::int16_t(hiss(rng) + (i >= 8000 ? std::lround(6000 * std::sin(i * 0.2)) : 0)));
  return v;
}

double Rms(const std::vector<std::int16_t>& v, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += double(v[i]) * v[i];
  return std::sqrt(sum / double(to - from));
}

std::vector<std::int16_t> Audio(const core::WaveDocument& doc) {
  auto src = core::ChainOpenSource(doc.chain());
  std::vector<audio::Sample> s(static_cast<std::size_t>(doc.length()));
  src->read(s.data(), doc.length());
  std::vector<std::int16_t> out;
  for (audio::Sample x : s)
    out.push_back(std::int16_t(std::clamp((x + 8) >> 4, -32768, 32767)));  // as played
  return out;
}

class DynamicsFrame : public Frame {
 protected:
  DocumentWindow* OpenHiss() {
    const auto file = dir_ / "hiss.wav";
    const auto samples = HissThenTone();
    auto sink = formats::MakeWavePcmSink(file.string(), 8000, 0, 16, 1);
    std::vector<audio::Sample> inside(samples.begin(), samples.end());
    for (auto& s : inside) s *= 16;
    sink->write(inside.data(), audio::FrameCount(inside.size()));
    EXPECT_TRUE(sink->Finish());
    DocumentWindow* w = frame_->OpenFile(file);
    QApplication::processEvents();
    frame_->Command(core::kCmdStop);
    return w;
  }
};

TEST_F(DynamicsFrame, GrabbedNoiseSampleCleansTheWholeFilePlaysItAndUndoes) {
  DocumentWindow* w = OpenHiss();
  ASSERT_TRUE(w);
  const auto original = Audio(w->doc());
  QMenuBar* bar = frame_->menuBar();
  QAction* grab = MenuItem(bar, "Grab Noise Sample from Selected Area");
  QAction* apply = MenuItem(bar, "Apply Spectral Subtraction Based on Noise Sample");
  ASSERT_TRUE(grab && apply);
  EXPECT_FALSE(grab->isEnabled()) << "nothing selected to grab";

  // The quiet first second, selected as a drag would.
  w->doc().SetSelection(500, 7500, 500);
  QApplication::processEvents();
  ASSERT_TRUE(grab->isEnabled());
  grab->trigger();
  QApplication::processEvents();
  EXPECT_FALSE(w->doc().history().CanUndo()) << "a grab changes nothing";
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();

  // Nothing selected: the whole file, played from its start afterwards.
  sound_.SetFreeRunning(true);
  const std::size_t playedBefore = sound_.written().size();
  w->doc().SetSelection(0, 0, 0);
  apply->trigger();
  QApplication::processEvents();
  ASSERT_EQ(w->doc().history().UndoName(), "Noise Reduction");
  const auto cleaned = Audio(w->doc());
  ASSERT_EQ(cleaned.size(), original.size());
  EXPECT_LT(Rms(cleaned, 500, 7500), Rms(original, 500, 7500) / 5) << "the hiss is gone";
  EXPECT_NEAR(Rms(cleaned, 9000, 31000), Rms(original, 9000, 31000),
              Rms(original, 9000, 31000) / 20);
  ASSERT_TRUE(PumpUntil([&] { return sound_.written().size() >= playedBefore + cleaned.size(); }));
  const auto heard = sound_.written();
  const auto m =
      std::mismatch(cleaned.begin(), cleaned.end(), heard.begin() + std::ptrdiff_t(playedBefore));
  EXPECT_TRUE(m.first == cleaned.end())
      << "what plays is the cleaned audio; not from frame " << (m.first - cleaned.begin());

  frame_->Command(core::kCmdStop);
  Key(Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Audio(w->doc()), original);
}

TEST_F(DynamicsFrame, DialogsTakeTheirPresetsAndStoreWhatWasConfirmed) {
  DocumentWindow* w = OpenHiss();
  ASSERT_TRUE(w);
  settings_->SetBool("Settings", "AutoPlaybackAfterEffects", false);
  // "General Voice Level": -20 dB, "4:1", no limit.
  DialogScript compressor("ParamDialog", [](QDialog& d) {
    auto* preset = d.findChild<QComboBox*>("preset");
    ASSERT_TRUE(preset);
    const int i = preset->findText("General Voice Level");
    ASSERT_GT(i, 0);
    preset->setCurrentIndex(i);
    emit preset->activated(i);
    EXPECT_EQ(d.findChild<QSpinBox*>("THRESHOLD_DB")->value(), -20);
    EXPECT_EQ(d.findChild<QComboBox*>("RATIO_INDEX")->currentText(), "4:1");
    // The preview plays the preset as chosen; the button then stops it.
    auto* preview = d.findChild<QPushButton*>("preview");
    ASSERT_TRUE(preview);
    preview->click();
    EXPECT_EQ(preview->text(), "&Stop");
    preview->click();
    EXPECT_EQ(preview->text(), "Pre&view");
  });
  MenuItem(frame_->menuBar(), "Dynamic Range Co&mpressor")->trigger();
  EXPECT_EQ(compressor.shown(), 1);
  EXPECT_EQ(w->doc().history().UndoName(), "Dynamic Range Compressor");
  EXPECT_EQ(settings_->GetInt("StoredValues", "CompressorThreshold", 0), -20);
  EXPECT_EQ(settings_->GetInt("StoredValues", "CompressorRatio", 0), 4);

  DialogScript gate("ParamDialog", [](QDialog& d) {
    EXPECT_FALSE(d.findChild<QPushButton*>("preview")) << "the gate offers no preview";
    d.findChild<QSpinBox*>("DB")->setValue(-40);
  });
  MenuItem(frame_->menuBar(), "Apply Multi-band Noise Gating")->trigger();
  EXPECT_EQ(gate.shown(), 1);
  EXPECT_EQ(settings_->GetInt("StoredValues", "NoiseGateLevel", 0), -40);
  EXPECT_EQ(w->doc().history().UndoName(), "Noise Reduction");

  // Auto Trim asks nothing: its threshold is an option. The hiss is more than 20 dB
  // below the tone, so the first second goes.
  settings_->SetInt("Settings", "AutoTrimThreshold", -20);
  QAction* trim = MenuItem(frame_->menuBar(), "&Auto Trim");
  ASSERT_TRUE(trim);
  const core::FrameCount before = w->doc().length();
  trim->trigger();
  EXPECT_EQ(w->doc().history().UndoName(), "Auto Trim");
  EXPECT_LT(w->doc().length(), before - 7000);
  EXPECT_EQ(w->doc().cursor(), 0);
}

}  // namespace
}  // namespace quillet::ui
