#include "ui/cd_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "cd/cddb.h"
#include "cd/commands.h"
#include "cd/rip.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

class LoadCdDialog final : public QDialog {
 public:
  LoadCdDialog(QWidget* parent, core::EditContext& ctx, std::vector<cd::DriveEntry> drives)
      : QDialog(parent), ctx_(ctx), drives_(std::move(drives)) {
    setWindowTitle("Load Audio CD Track(s)");
    auto* layout = new QVBoxLayout(this);
    auto* driveLabel = new QLabel("&CD-ROM &Drive", this);
    combo_ = new QComboBox(this);
    driveLabel->setBuddy(combo_);
    auto* tracksLabel = new QLabel("&Select &Track(s)", this);
    tracks_ = new QTreeWidget(this);
    tracksLabel->setBuddy(tracks_);
    tracks_->setHeaderLabels({"Track", "Duration"});
    tracks_->setRootIsDecorated(false);
    tracks_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tracks_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    auto* buttons = new QDialogButtonBox(this);
    load_ = buttons->addButton("&Load", QDialogButtonBox::AcceptRole);
    auto* refresh = buttons->addButton("&Refresh", QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    for (QWidget* w : {static_cast<QWidget*>(driveLabel), static_cast<QWidget*>(combo_),
                       static_cast<QWidget*>(tracksLabel), static_cast<QWidget*>(tracks_),
                       static_cast<QWidget*>(buttons)})
      layout->addWidget(w);
    resize(420, 360);
    Fill();
    connect(combo_, &QComboBox::activated, this, [this](int i) { LoadDisc(i); });
    connect(refresh, &QPushButton::clicked, this, [this] {
      cd::CountDrivesTask count(ctx_.settings);
      count.Run(ctx_.progress);
      drives_ = count.drives();
      Fill();
      if (!drives_.empty()) LoadDisc(0);
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(tracks_, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    if (!drives_.empty()) LoadDisc(0);
  }

  const cd::CdDisc& disc() const { return disc_; }
  std::string drive() const {
    const int i = combo_->currentIndex();
    return i >= 0 && i < int(drives_.size()) ? drives_[std::size_t(i)].name : std::string();
  }
  // The chosen tracks' indexes into disc(), in list order.
  std::vector<int> Chosen() const {
    std::vector<int> out;
    for (int i = 0; i < tracks_->topLevelItemCount(); ++i)
      if (tracks_->topLevelItem(i)->isSelected())
        out.push_back(tracks_->topLevelItem(i)->data(0, Qt::UserRole).toInt());
    return out;
  }

 private:
  void Fill() {
    combo_->clear();
    cd::CdLoadModel model{drives_};
    for (const std::string& n : model.DriveNames()) combo_->addItem(Q(n));
  }

  void LoadDisc(int index) {
    tracks_->clear();
    disc_ = {};
    if (index < 0 || index >= int(drives_.size())) return;
    cd::LoadDiscTask load(drives_[std::size_t(index)].name, true, cd::CddbServer(ctx_.settings));
    load.Run(ctx_.progress);
    if (load.result != platform::kTaskDone) return;
    if (load.cddb().kind == cd::CddbOutcome::NoMatch)
      ShowMessageBox(this, cd::kNoMatchMessage, "Quillet", platform::MessageIcon::Error,
                     platform::MessageButtons::Ok);
    disc_ = load.disc();
    disc_.driveIndex = index;
    for (std::size_t i = 0; i < disc_.tracks.size(); ++i) {
      const cd::CdTrack& t = disc_.tracks[i];
      if (!t.audio) continue;  // data tracks are never ripped
      auto* item = new QTreeWidgetItem({Q(t.title), Q(cd::CdLoadModel::DurationText(t))});
      item->setData(0, Qt::UserRole, int(i));
      tracks_->addTopLevelItem(item);
    }
    if (tracks_->topLevelItemCount() > 0) tracks_->topLevelItem(0)->setSelected(true);
  }

  core::EditContext& ctx_;
  std::vector<cd::DriveEntry> drives_;
  cd::CdDisc disc_;
  QComboBox* combo_;
  QTreeWidget* tracks_;
  QPushButton* load_;
};

}  // namespace

platform::TaskResult RunLoadCdDialog(QWidget* parent, core::EditContext& ctx,
                                     core::CommandHost& host) {
  cd::CountDrivesTask count(ctx.settings);
  count.Run(ctx.progress);
  if (count.drives().empty()) {
    ShowMessageBox(parent, cd::kNoDrivesMessage, "Quillet", platform::MessageIcon::Error,
                   platform::MessageButtons::Ok);
    return platform::kTaskCancelled;
  }
  LoadCdDialog dialog(parent, ctx, count.drives());
  if (dialog.exec() != QDialog::Accepted || dialog.Chosen().empty()) return platform::kTaskCancelled;
  const cd::CdDisc disc = dialog.disc();
  return cd::ImportCdTracks(ctx, host, dialog.drive(), disc, dialog.Chosen());
}

bool AskBurnSettings(QWidget* parent, settings::Settings& s, cd::BurnSettings* out) {
  cd::BurnSettings b = cd::BurnSettings::Load(s);
  QDialog dialog(parent);
  dialog.setWindowTitle("Burn CD");
  auto* layout = new QVBoxLayout(&dialog);
  auto* internal = new QRadioButton("Burn to the CD directly using the &internal CD burner", &dialog);
  auto* external =
      new QRadioButton("Burn using an e&xternal burning program (cdrskin or wodim)", &dialog);
  (b.internal ? internal : external)->setChecked(true);
  auto* form = new QFormLayout;
  auto* drive = new QComboBox(&dialog);
  const std::vector<cd::DriveEntry> drives = cd::ListCdDrives(s);
  for (std::size_t i = 0; i < drives.size(); ++i)
    drive->addItem(Q(cd::DriveDisplayName(int(i)) + " (" + drives[i].name + ")"));
  drive->setCurrentIndex(std::min(b.drive, int(drives.size()) - 1));
  auto* speed = new QComboBox(&dialog);
  speed->addItem("Highest", cd::kHighestSpeed);
  for (int x : {1, 2, 4, 8, 12, 16, 24, 32, 40, 48, 52}) speed->addItem(QString("%1x").arg(x), x);
  const int at = speed->findData(b.speed);
  speed->setCurrentIndex(at >= 0 ? at : 0);
  form->addRow("CD-Rom &Drive", drive);
  form->addRow("CD Write &Speed", speed);
  auto* erase = new QCheckBox("&Erase CDRWs if they are not blank", &dialog);
  erase->setChecked(b.eraseCdrw);
  auto* overburn = new QCheckBox("Use &overburning (don't limit on total length of tracks)", &dialog);
  overburn->setChecked(b.overburn);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(internal);
  layout->addWidget(external);
  layout->addLayout(form);
  layout->addWidget(erase);
  layout->addWidget(overburn);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return false;
  b.internal = internal->isChecked();
  b.drive = std::max(0, drive->currentIndex());
  b.speed = speed->currentData().toInt();
  b.eraseCdrw = erase->isChecked();
  b.overburn = overburn->isChecked();
  b.Store(s);
  *out = b;
  return true;
}

platform::TaskResult QtCdFront::LoadCdTracks(core::CommandCall& call) {
  if (!call.host) return platform::kTaskFailed;
  return RunLoadCdDialog(parent_, call.ctx, *call.host);
}

bool QtCdFront::AskBurnSettings(cd::BurnSettings* out) {
  return ui::AskBurnSettings(parent_, settings_, out);
}

}  // namespace quillet::ui
