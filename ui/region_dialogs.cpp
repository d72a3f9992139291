#include "ui/region_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "batch/bookmarks.h"
#include "batch/regions.h"
#include "core/edit_params.h"
#include "formats/format_table.h"
#include "ui/dialogs.h"
#include "ui/mark_windows.h"
#include "ui/playback.h"

namespace quillet::ui {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

}  // namespace

bool AskExportRegions(QWidget* parent, settings::Settings& s,
                      const std::function<formats::DispatchEnv()>& env) {
  core::ParamSet values(batch::kExportRegionsTable);
  values.Load(s);
  CheckedDialog dialog(parent, "Export Region(s)");
  dialog.setObjectName("LExportRegionsDlg");

  auto* folderRow = new QWidget(&dialog);
  auto* folder = new QLineEdit(Q(values.Text(batch::kExportFolderField)), folderRow);
  folder->setObjectName("folder");
  auto* browse = new QPushButton("Browse...", folderRow);
  auto* rowLayout = new QHBoxLayout(folderRow);
  rowLayout->setContentsMargins(0, 0, 0, 0);
  rowLayout->addWidget(folder, 1);
  rowLayout->addWidget(browse);
  QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, folder] {
    const QString chosen = QFileDialog::getExistingDirectory(&dialog, "Locate Output Folder", folder->text());
    if (!chosen.isEmpty()) folder->setText(chosen);
  });
  dialog.AddRow("Export Folder", folderRow);

  // Only what can be written; each entry keeps its index in the output format list.
  auto* format = new QComboBox(&dialog);
  format->setObjectName("format");
  for (int i : formats::WritableOutputFormats()) {
    format->addItem(Q(formats::OutputFormatList()[std::size_t(i)]), i);
    if (i == values.Int(batch::kExportFormatField)) format->setCurrentIndex(format->count() - 1);
  }
  dialog.AddRow("Export Format", format);
  auto* settingsButton = new QPushButton("Format Settings", &dialog);
  settingsButton->setObjectName("formatSettings");
  auto extension = [format] { return format->currentText().toStdString(); };
  auto follow = [settingsButton, extension] {
    settingsButton->setEnabled(batch::ExportHasFormatSettings(extension()));
  };
  QObject::connect(format, &QComboBox::currentIndexChanged, &dialog, follow);
  follow();
  QObject::connect(settingsButton, &QPushButton::clicked, &dialog, [extension, &env] {
    formats::SaveOptions(extension(), 44100, 2, env());
  });
  dialog.AddRow({}, settingsButton);

  dialog.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    values.SetText(batch::kExportFolderField, folder->text().trimmed().toStdString());
    values.SetInt(batch::kExportFormatField, format->currentData().toInt());
    const std::string why = values.Validate();
    if (why.empty()) return std::nullopt;
    return CheckedDialog::Refusal{why, "Quillet"};
  });
  dialog.Finish();
  if (dialog.exec() != QDialog::Accepted) return false;
  values.Store(s);
  return true;
}

bool AskAssembleOptions(QWidget* parent, settings::Settings& s) {
  core::ParamSet values(batch::kAssembleOptionsTable);
  values.Load(s);
  CheckedDialog dialog(parent, "Options");
  dialog.setObjectName("LAssembleOptionsDlg");
  auto* gap = new QCheckBox(Q(values.field(0).label), &dialog);
  gap->setObjectName("GAP");
  gap->setChecked(values.Bool(0));
  auto* ms = new QSpinBox(&dialog);
  ms->setObjectName("MS");
  ms->setRange(int(values.field(1).min), int(values.field(1).max));
  ms->setSuffix(" ms");
  ms->setValue(int(values.Int(1)));
  ms->setEnabled(gap->isChecked());
  QObject::connect(gap, &QCheckBox::toggled, ms, &QSpinBox::setEnabled);
  dialog.AddRow({}, gap);
  dialog.AddRow(Q(values.field(1).label), ms);
  dialog.SetValidator([&]() -> std::optional<CheckedDialog::Refusal> {
    values.SetInt(0, gap->isChecked());
    values.SetInt(1, ms->value());
    const std::string why = values.Validate();
    if (why.empty()) return std::nullopt;
    return CheckedDialog::Refusal{why, core::kInvalidValueCaption};
  });
  dialog.Finish();
  if (dialog.exec() != QDialog::Accepted) return false;
  values.Store(s);
  return true;
}

void RunAssembleDialog(QWidget* parent, batch::ProjectSession& session, settings::Settings& s,
                       RegionPlayer& player) {
  QDialog dialog(parent);
  dialog.setObjectName("LAssembleDlg");
  dialog.setWindowTitle("Assemble Region(s)");
  const std::vector<core::Region>& regions = session.marks().regions;
  std::vector<core::Region> entries;

  auto* regionList = new QListWidget(&dialog);
  regionList->setObjectName("regionList");
  regionList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  for (const core::Region& r : regions) regionList->addItem(Q(r.name));
  auto* assembling = new QListWidget(&dialog);
  assembling->setObjectName("assembleList");
  assembling->setSelectionMode(QAbstractItemView::ExtendedSelection);
  auto* play = new QPushButton("&Play", &dialog);
  play->setObjectName("play");
  auto* add = new QPushButton("&Add >>", &dialog);
  add->setObjectName("add");
  auto* remove = new QPushButton("<< &Remove", &dialog);
  remove->setObjectName("remove");
  auto* options = new QPushButton("&Options", &dialog);
  options->setObjectName("options");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);

  auto* leftLabel = new QLabel("Region &List", &dialog);
  leftLabel->setBuddy(regionList);
  auto* rightLabel = new QLabel("Assembling Re&gion List", &dialog);
  rightLabel->setBuddy(assembling);
  auto* middle = new QVBoxLayout;
  middle->addStretch();
  for (QPushButton* b : {play, add, remove, options}) middle->addWidget(b);
  middle->addStretch();
  auto* grid = new QGridLayout(&dialog);
  grid->addWidget(leftLabel, 0, 0);
  grid->addWidget(rightLabel, 0, 2);
  grid->addWidget(regionList, 1, 0);
  grid->addLayout(middle, 1, 1);
  grid->addWidget(assembling, 1, 2);
  grid->addWidget(buttons, 2, 0, 1, 3);

  auto showPlaying = [&] { play->setText(player.playing() ? "Stop" : "&Play"); };
  auto togglePlay = [&] {
    const int row = regionList->currentRow();
    player.Toggle(row >= 0 && std::size_t(row) < regions.size() ? &regions[std::size_t(row)] : nullptr);
    showPlaying();
  };
  QObject::connect(play, &QPushButton::clicked, &dialog, togglePlay);
  QObject::connect(regionList, &QListWidget::itemDoubleClicked, &dialog, togglePlay);
  QObject::connect(&player.transport(), &Transport::stopped, &dialog, showPlaying);
  QObject::connect(add, &QPushButton::clicked, &dialog, [&] {
    for (int i = 0; i < regionList->count(); ++i) {
      if (!regionList->item(i)->isSelected()) continue;
      entries.push_back(regions[std::size_t(i)]);
      assembling->addItem(Q(regions[std::size_t(i)].name));
    }
  });
  QObject::connect(remove, &QPushButton::clicked, &dialog, [&] {
    for (int i = assembling->count() - 1; i >= 0; --i) {
      if (!assembling->item(i)->isSelected()) continue;
      delete assembling->takeItem(i);
      entries.erase(entries.begin() + i);
    }
  });
  QObject::connect(options, &QPushButton::clicked, &dialog, [&] { AskAssembleOptions(&dialog, s); });
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  const bool ok = dialog.exec() == QDialog::Accepted;
  player.Stop();
  if (ok && !entries.empty()) session.Assemble(entries);
}

}  // namespace quillet::ui
