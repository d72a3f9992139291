// The Options dialogs by keyboard and on small or scaled screens: each page's mnemonics
// are distinct, the dialogs fit 1280x800, and no label or button text is cut. Also run
// with QT_SCALE_FACTOR=2 (see CMakeLists.txt).
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

#include "app/registry.h"
#include "fixtures/temp_dir.h"
#include "ui/dialogs.h"
#include "ui/options_dialog.h"

namespace quillet::ui {
namespace {

QString TextOf(QWidget* w) {
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  return {};
}

QChar Mnemonic(const QString& text) {
  for (int i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    return text[i + 1].toLower();
  }
  return {};
}

// The visible widgets of a page (or of the whole dialog): mnemonics once each, texts
// whole.
void CheckPage(QWidget& page, const std::string& where) {
  std::map<QChar, QString> seen;
  for (QWidget* w : page.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&page)) continue;
    const QString text = TextOf(w);
    if (text.isEmpty()) continue;
    if (const QChar m = Mnemonic(text); !m.isNull()) {
      const auto [it, fresh] = seen.emplace(m, text);
      EXPECT_TRUE(fresh) << where << ": '" << text.toStdString() << "' and '"
                         << it->second.toStdString() << "' share a mnemonic";
    }
    if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
      EXPECT_GE(w->width(), w->minimumSizeHint().width())
          << where << ": '" << text.toStdString() << "' is cut";
    }
  }
}

void CheckDialog(QDialog& d) {
  d.adjustSize();
  d.show();
  QApplication::processEvents();
  const std::string name = d.objectName().toStdString();
  EXPECT_LE(d.width(), 1280) << name;
  EXPECT_LE(d.height(), 800) << name;
  if (auto* tabs = d.findChild<QTabWidget*>()) {
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);
      QApplication::processEvents();
      CheckPage(*tabs->widget(i), name + "/" + tabs->tabText(i).toStdString());
    }
  } else {
    CheckPage(d, name);
  }
  d.hide();
}

TEST(DialogLayout, OptionsDialogsFitAndEveryPageHasDistinctMnemonics) {
  testing::TempDir dir;
  settings::Settings store{settings::FolderLocations(dir.path())};
  const core::CommandRegistry commands = app::BuildCommandRegistry();
  OptionsInput in;
  in.values = core::LoadOptions(store);
  in.devices = {{"hw:CARD=X,DEV=0", "A rather long sound card name from the ALSA list\nsecond"}};
  in.currentDevice = "hw:CARD=X,DEV=0";
  in.keys = {{0x40072, {2007, 4002}}};
  OptionsSheet sheet(nullptr, store, commands, in);
  CheckDialog(sheet);
  KeyMacroDialog macro(nullptr, commands, {0x20041, {2007, 4002, 4001}});
  CheckDialog(macro);
  PressKeyDialog press(nullptr);
  CheckDialog(press);
}

// Every command's own dialog, drawn with its stored values: the same checks. Drawers
// that need a document or file dialogs first are left to their own suites.
TEST(DialogLayout, EveryCommandDialogFitsAndHasDistinctMnemonics) {
  testing::TempDir dir;
  settings::Settings store{settings::FolderLocations(dir.path())};
  const core::CommandRegistry commands = app::BuildCommandRegistry();
  int checked = 0;
  for (const core::Command& c : commands.all()) {
    if (!c.params || c.dialog == core::kNoDialog) continue;
    bool needsFiles = false;
    for (const core::ParamInfo& f : c.params->fields)
      if (f.kind == core::ParamKind::OpenPath || f.kind == core::ParamKind::SavePath)
        needsFiles = true;
    if (needsFiles) continue;
    const DialogDrawer draw = c.dialog.empty() ? &AskParams : FindDialog(c.dialog);
    if (!draw) continue;
    core::ParamSet values(*c.params);
    values.Load(store);
    DialogCall call{nullptr, values, nullptr, nullptr, &c};
    bool seen = false;
    QTimer::singleShot(0, [&] {
      for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(top); d && d->isVisible()) {
          seen = true;
          d->setObjectName(QString::fromStdString(core::MenuLabel(c.menuText)));
          CheckDialog(*d);
          d->reject();
        }
    });
    draw(call);
    if (seen) ++checked;  // cross-fade and equalizer want a document first
  }
  EXPECT_GT(checked, 10);
}

}  // namespace
}  // namespace quillet::ui
