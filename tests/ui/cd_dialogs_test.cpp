// The CD dialogs as a person uses them: load titled tracks from a simulated disc
// into documents, and the Burn CD settings.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "core/clipboard.h"
#include "core/document.h"
#include "fixtures/cd_image.h"
#include "fixtures/line_server.h"
#include "fixtures/temp_dir.h"
#include "frame_fixture.h"
#include "platform/scripted_progress.h"
#include "ui/cd_dialogs.h"

namespace quillet::ui {
namespace {

using namespace testsupport;

QDialog* VisibleDialog() {
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<QDialog*>(top); d && d->isVisible()) return d;
  return nullptr;
}

// Runs act on the dialog titled title once it shows (progress windows come and go
// before it).
void WhenDialog(const QString& title, std::function<void(QDialog*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, title, act] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* d = qobject_cast<QDialog*>(top);
      if (!d || !d->isVisible() || d->windowTitle() != title) continue;
      timer->stop();
      timer->deleteLater();
      act(d);
      return;
    }
  });
  timer->start();
}

class Host final : public core::CommandHost {
 public:
  core::WaveDocument* AdoptDocument(std::unique_ptr<core::WaveDocument> doc) override {
    docs.push_back(std::move(doc));
    return docs.back().get();
  }
  int NextUntitledNumber() override { return int(docs.size()) + 1; }
  std::vector<std::unique_ptr<core::WaveDocument>> docs;
};

TEST(CdDialogs, LoadTitledTracksThenBurnSettings) {
  testing::TempDir dir, storeDir;
  core::SegmentStore store(storeDir.path());
  settings::Settings settings(settings::FolderLocations(dir / "settings"));
  platform::ScriptedProgressFactory progress;
  core::ProgramClipboard clipboard(&store);
  core::EditContext ctx{store, clipboard, progress, settings};
  const auto cue = testing::WriteDiscImage(dir.path(), "disc", {{300}, {310}, {320}});
  settings.SetString("CD", "SimulatedDrive1", "sim:" + cue.string());
  testing::LineServer server("201 ready\r\n", [](const std::string& line) -> std::string {
    if (line.starts_with("cddb query")) return "200 rock 12345678 Disc\r\n";
    if (line.starts_with("cddb read"))
      return "210 rock entry\r\nDTITLE=Band / Disc\r\nTTITLE0=Opening\r\nTTITLE1=Middle\r\n"
             "TTITLE2=Closing\r\n.\r\n";
    return "200 ok\r\n";
  });
  settings.SetString("CD", "CDDBServer", "127.0.0.1:" + std::to_string(server.port()));

  // The person picks the simulated drive (the last), sees the titles, chooses
  // tracks 1 and 3 and presses Load.
  QStringList titles;
  QTimer::singleShot(0, [&] {
    QDialog* d = VisibleDialog();
    ASSERT_NE(d, nullptr);
    auto* combo = d->findChild<QComboBox*>();
    if (combo->currentIndex() != combo->count() - 1) {
      combo->setCurrentIndex(combo->count() - 1);
      emit combo->activated(combo->count() - 1);
    }
    auto* tracks = d->findChild<QTreeWidget*>();
    for (int i = 0; i < tracks->topLevelItemCount(); ++i) {
      titles << tracks->topLevelItem(i)->text(0);
      tracks->topLevelItem(i)->setSelected(i != 1);
    }
    d->accept();
  });
  Host host;
  EXPECT_EQ(RunLoadCdDialog(nullptr, ctx, host), platform::kTaskDone) << ctx.message;
  EXPECT_EQ(titles, (QStringList{"Opening", "Middle", "Closing"}));
  ASSERT_EQ(host.docs.size(), 2u);
  EXPECT_EQ(host.docs[0]->Title(), "Opening");
  EXPECT_EQ(host.docs[1]->Title(), "Closing");
  EXPECT_EQ(host.docs[1]->length(), 320 * 588);

  // Burn CD: the external program, 8x, no erasing; stored for next time.
  QTimer::singleShot(0, [] {
    QDialog* d = VisibleDialog();
    ASSERT_NE(d, nullptr);
    for (auto* r : d->findChildren<QRadioButton*>())
      if (r->text().contains("burning program")) r->setChecked(true);
    for (auto* c : d->findChildren<QComboBox*>())
      if (c->findText("8x") >= 0) c->setCurrentIndex(c->findText("8x"));
    for (auto* c : d->findChildren<QCheckBox*>())
      if (c->text().contains("Erase")) c->setChecked(false);
    d->accept();
  });
  cd::BurnSettings chosen;
  ASSERT_TRUE(AskBurnSettings(nullptr, settings, &chosen));
  EXPECT_FALSE(chosen.internal);
  EXPECT_EQ(chosen.speed, 8);
  EXPECT_FALSE(chosen.eraseCdrw);
  const cd::BurnSettings stored = cd::BurnSettings::Load(settings);
  EXPECT_FALSE(stored.internal);
  EXPECT_EQ(stored.speed, 8);
}

// As a person would: Ctrl+L loads two titled tracks from the simulated disc, one is
// shortened, and File > Copy All Open File(s) to CD > Audio burns both to a blank
// simulated disc, which then holds exactly the documents' audio.
TEST_F(Frame, CdTracksLoadEditAndBurnBack) {
  const auto cue = quillet::testing::WriteDiscImage(dir_.path(), "disc", {{300}, {400}});
  settings_->SetString("CD", "SimulatedDrive1", "sim:" + cue.string());
  settings_->SetString("CD", "SimulatedDrive2", "sim-blank:" + (dir_ / "burned.cue").string());
  quillet::testing::WriteFileBytes(dir_ / "burned.faults", "busy-polls 0\n");
  quillet::testing::LineServer server("201 ready\r\n", [](const std::string& line) -> std::string {
    if (line.starts_with("cddb query")) return "200 rock 0f000e02 Disc\r\n";
    if (line.starts_with("cddb read"))
      return "210 rock entry\r\nDTITLE=Band / Disc\r\nTTITLE0=Dawn\r\nTTITLE1=Dusk\r\n.\r\n";
    return "200 ok\r\n";
  });
  settings_->SetString("CD", "CDDBServer", "127.0.0.1:" + std::to_string(server.port()));

  WhenDialog("Load Audio CD Track(s)", [](QDialog* d) {
    auto* combo = d->findChild<QComboBox*>();
    const int image = combo->count() - 2;
    if (combo->currentIndex() != image) {
      combo->setCurrentIndex(image);
      emit combo->activated(image);
    }
    auto* tracks = d->findChild<QTreeWidget*>();
    for (int i = 0; i < tracks->topLevelItemCount(); ++i) tracks->topLevelItem(i)->setSelected(true);
    d->accept();
  });
  Key(Qt::Key_L, Qt::ControlModifier);
  ASSERT_EQ(frame_->documents().size(), 2u) << (boxes_.empty() ? "" : boxes_.back());
  EXPECT_EQ(frame_->documents()[0]->doc().Title(), "Dawn");
  EXPECT_EQ(frame_->documents()[1]->doc().Title(), "Dusk");
  core::WaveDocument& dusk = frame_->documents()[1]->doc();
  dusk.SetSelection(0, 588 * 50, 0);
  ASSERT_TRUE(frame_->Command(core::kCmdDelete));
  EXPECT_EQ(dusk.length(), 588 * 350);

  WhenDialog("Burn CD", [](QDialog* d) {
    for (auto* c : d->findChildren<QComboBox*>())
      if (c->findText("Highest") < 0) c->setCurrentIndex(c->count() - 1);  // the blank disc
    d->accept();
  });
  ASSERT_TRUE(frame_->Command(core::kCmdCopyToCdAudio));
  const std::vector<std::int16_t> burned = quillet::testing::ReadBinSamples(dir_ / "burned.bin");
  ASSERT_EQ(burned.size(), std::size_t{(300 + 350) * 1176}) << (boxes_.empty() ? "" : boxes_.back());
  for (std::size_t i = 0; i < 300 * 1176; i += 331)
    ASSERT_EQ(burned[i], quillet::testing::ImageSample(std::int64_t(i))) << i;
  for (std::size_t i = 0; i < 350 * 1176; i += 331)
    ASSERT_EQ(burned[300 * 1176 + i], quillet::testing::ImageSample((300 + 50) * 1176 + std::int64_t(i)))
        << i;
}

}  // namespace
}  // namespace quillet::ui
