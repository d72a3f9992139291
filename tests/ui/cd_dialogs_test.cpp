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
#include "platform/scripted_progress.h"
#include "ui/cd_dialogs.h"

namespace quillet::ui {
namespace {

QDialog* VisibleDialog() {
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<QDialog*>(top); d && d->isVisible()) return d;
  return nullptr;
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

}  // namespace
}  // namespace quillet::ui
