#include "ui/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "core/working_folder.h"
#include "devices/device_choice.h"
#include "platform/desktop_files.h"
#include "ui/dialogs.h"
#include "ui/field_rows.h"
#include "ui/key_map.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

using platform::Answer;
using platform::MessageButtons;
using platform::MessageIcon;

// The commands of a macro as the Keys list shows them.
QString MacroText(const core::CommandRegistry& commands, const platform::HotKey& key) {
  QStringList names;
  for (std::int32_t id : key.commands) names << Q(core::MacroName(commands, id));
  return names.join(", ");
}

QDialogButtonBox* OkCancel(QDialog* d) {
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QObject::connect(box, &QDialogButtonBox::accepted, d, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, d, &QDialog::reject);
  return box;
}

// Asks for a key; 0 when cancelled.
std::uint32_t AskKey(QWidget* parent) {
  PressKeyDialog d(parent);
  return d.exec() == QDialog::Accepted ? d.keyCode() : 0;
}

}  // namespace

PressKeyDialog::PressKeyDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("PressKeyDialog");
  setWindowTitle("Press Key");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Press key or key combination."));
  auto* box = new QDialogButtonBox(QDialogButtonBox::Cancel);
  // The button must not take Enter or Space: they are keys to bind.
  box->button(QDialogButtonBox::Cancel)->setFocusPolicy(Qt::NoFocus);
  box->button(QDialogButtonBox::Cancel)->setAutoDefault(false);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(box);
  setFocusPolicy(Qt::StrongFocus);
}

bool PressKeyDialog::event(QEvent* e) {
  // Tab is a key like any other here, not a focus move.
  if (e->type() == QEvent::KeyPress) {
    keyPressEvent(static_cast<QKeyEvent*>(e));
    return true;
  }
  return QDialog::event(e);
}

void PressKeyDialog::keyPressEvent(QKeyEvent* e) {
  const int key = e->key();
  if (key == Qt::Key_Escape) {
    reject();
    return;
  }
  if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt ||
      key == Qt::Key_Meta || key == Qt::Key_AltGr)
    return;
  const std::uint32_t code = KeyCodeOf(key, e->modifiers());
  if (code == 0) return;
  keyCode_ = code;
  accept();
}

KeyMacroDialog::KeyMacroDialog(QWidget* parent, const core::CommandRegistry& commands,
                               platform::HotKey key)
    : QDialog(parent), commands_(commands), key_(std::move(key)) {
  setObjectName("KeyMacroDialog");
  setWindowTitle("Select Keys/Macros");
  auto* layout = new QVBoxLayout(this);

  auto* keyGroup = new QGroupBox("Key Combination");
  auto* keyRow = new QHBoxLayout(keyGroup);
  keyName_ = new QLabel(Q(KeyCodeText(key_.keyCode)));
  keyName_->setObjectName("keyName");
  auto* change = new QPushButton("&Change");
  change->setObjectName("changeKey");
  keyRow->addWidget(keyName_, 1);
  keyRow->addWidget(change);
  layout->addWidget(keyGroup);

  auto* macroGroup = new QGroupBox("Macros");
  auto* grid = new QGridLayout(macroGroup);
  macro_ = new QListWidget;
  macro_->setObjectName("macro");
  choices_ = new QComboBox;
  choices_->setObjectName("macroChoices");
  for (const core::Command* c : core::MacroCommands(commands_))
    choices_->addItem(Q(c->macroName), int(c->id));
  auto* add = new QPushButton("&Add");
  add->setObjectName("addCommand");
  remove_ = new QPushButton("&Remove");
  remove_->setObjectName("removeCommand");
  auto* commandLabel = new QLabel("Co&mmand:");
  commandLabel->setBuddy(choices_);
  grid->addWidget(macro_, 0, 0, 1, 3);
  grid->addWidget(commandLabel, 1, 0);
  grid->addWidget(choices_, 1, 1);
  grid->addWidget(add, 1, 2);
  grid->addWidget(remove_, 2, 2);
  layout->addWidget(macroGroup);
  auto* box = OkCancel(this);
  layout->addWidget(box);

  connect(change, &QPushButton::clicked, this, [this] {
    if (const std::uint32_t code = AskKey(this)) {
      key_.keyCode = code;
      keyName_->setText(Q(KeyCodeText(code)));
    }
  });
  connect(add, &QPushButton::clicked, this, [this] {
    if (choices_->currentIndex() < 0 || key_.commands.size() >= 255) return;
    key_.commands.push_back(choices_->currentData().toInt());
    Refill();
    macro_->setCurrentRow(macro_->count() - 1);
  });
  connect(remove_, &QPushButton::clicked, this, [this] {
    const int row = macro_->currentRow();
    if (row < 0) return;
    key_.commands.erase(key_.commands.begin() + row);
    Refill();
  });
  connect(macro_, &QListWidget::currentRowChanged, this,
          [this](int row) { remove_->setEnabled(row >= 0); });
  Refill();
}

void KeyMacroDialog::Refill() {
  macro_->clear();
  for (std::int32_t id : key_.commands) macro_->addItem(Q(core::MacroName(commands_, id)));
  remove_->setEnabled(macro_->currentRow() >= 0);
}

OptionsSheet::OptionsSheet(QWidget* parent, settings::Settings& settings,
                           const core::CommandRegistry& commands, const OptionsInput& input)
    : QDialog(parent), settings_(settings), commands_(commands), start_(input.values),
      keys_(input.keys) {
  setObjectName("OptionsSheet");
  setWindowTitle("Options");
  auto* layout = new QVBoxLayout(this);
  auto* tabs = new QTabWidget;
  tabs->setObjectName("pages");
  tabs->addTab(GeneralPage(input), "General");
  tabs->addTab(AudioPage(input), "Audio Processing");
  tabs->addTab(KeysPage(), "Keys");
  layout->addWidget(tabs);
  layout->addWidget(OkCancel(this));
}

QWidget* OptionsSheet::GeneralPage(const OptionsInput& in) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);

  auto* newGroup = new QGroupBox("&When creating a new file");
  auto* newLayout = new QGridLayout(newGroup);
  prompt_ = new QRadioButton("&Prompt for Sample Rate and Channels");
  prompt_->setObjectName("promptSampleAndChannels");
  auto* useDefault = new QRadioButton("&Use Default Sample Rate and Channels ");
  useDefault->setObjectName("useDefaultSampleAndChannels");
  (in.values.promptSampleAndChannels ? prompt_ : useDefault)->setChecked(true);
  auto* setDefaults = new QPushButton("&Set Default Sample Rate and Channels");
  setDefaults->setObjectName("setDefaults");
  newLayout->addWidget(prompt_, 0, 0);
  newLayout->addWidget(useDefault, 1, 0);
  newLayout->addWidget(setDefaults, 1, 1);
  layout->addWidget(newGroup);
  connect(setDefaults, &QPushButton::clicked, this, [this] {
    core::ParamSet values(kSetDefaultsTable);
    values.Load(settings_);
    DialogCall call{this, values, nullptr, nullptr};
    if (FindDialog("new-file")(call)) values.Store(settings_);
  });

  auto* typesLabel = new QLabel("Use Quillet by &default to open these file types");
  types_ = new QListWidget;
  types_->setObjectName("fileTypes");
  typesLabel->setBuddy(types_);
  for (std::size_t i = 0; i < platform::kAssociationExtensions.size(); ++i) {
    auto* item = new QListWidgetItem(Q(platform::kAssociationExtensions[i]), types_);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    const bool on = i < in.associated.size() && in.associated[i];
    item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
  types_->setFlow(QListView::TopToBottom);
  types_->setWrapping(true);
  types_->setResizeMode(QListView::Adjust);
  types_->setMinimumHeight(120);
  layout->addWidget(typesLabel);
  layout->addWidget(types_);

  contextMenu_ = new QCheckBox("Add Quillet into the file manager's &context menu");
  contextMenu_->setObjectName("addToContextMenu");
  contextMenu_->setChecked(in.values.addToContextMenu);
  arrange_ = new QCheckBox("&Auto re-arrange file windows so that they are all visible");
  arrange_->setObjectName("autoArrangeWindows");
  arrange_->setChecked(in.values.autoArrangeWindows);
  auto* deleteRecent = new QPushButton("Delete &Recent Files List");
  deleteRecent->setObjectName("deleteRecent");
  layout->addWidget(contextMenu_);
  layout->addWidget(arrange_);
  layout->addWidget(deleteRecent, 0, Qt::AlignLeft);
  connect(deleteRecent, &QPushButton::clicked, this, [this] {
    if (ShowMessageBox(this, "Are you sure you want to delete your recent files list?",
                       "Confirm Delete", MessageIcon::Question,
                       MessageButtons::YesNoCancel) != Answer::Yes)
      return;
    core::DeleteRecentFiles(settings_);
    recentDeleted_ = true;
  });
  return page;
}

QWidget* OptionsSheet::AudioPage(const OptionsInput& in) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);

  auto* grid = new QGridLayout;
  device_ = new QComboBox;
  device_->setObjectName("device");
  // Stored by ALSA name, as the players read it.
  device_->addItem(devices::DefaultDeviceLabel(platform::StreamDirection::Playback),
                   QString::fromUtf8(platform::kDefaultSoundDevice.data(),
                                     qsizetype(platform::kDefaultSoundDevice.size())));
  for (const platform::SoundDeviceName& d : in.devices) {
    if (d.name == platform::kDefaultSoundDevice) continue;
    const std::string& text = d.description.empty() ? d.name : d.description;
    device_->addItem(Q(text.substr(0, text.find('\n'))), Q(d.name));
  }
  startDevice_ = in.currentDevice;
  device_->setCurrentIndex(std::max(0, device_->findData(Q(in.currentDevice))));
  auto* deviceLabel = new QLabel("&Device:");
  deviceLabel->setBuddy(device_);
  threshold_ = new QSpinBox;
  threshold_->setObjectName("autoTrimThreshold");
  threshold_->setRange(core::kAutoTrimThresholdMin, core::kAutoTrimThresholdMax);
  threshold_->setSuffix(" dB");
  threshold_->setValue(in.values.autoTrimThreshold);
  auto* thresholdLabel = new QLabel("AutoTrim &Threshold");
  thresholdLabel->setBuddy(threshold_);
  grid->addWidget(deviceLabel, 0, 0);
  grid->addWidget(device_, 0, 1);
  grid->addWidget(thresholdLabel, 1, 0);
  grid->addWidget(threshold_, 1, 1);
  layout->addLayout(grid);

  auto* folderGroup = new QGroupBox("Working folder");
  auto* folderLayout = new QGridLayout(folderGroup);
  defaultFolder_ = new QRadioButton("Use Default &User Data Folder");
  defaultFolder_->setObjectName("useDefaultFolder");
  ownFolder_ = new QRadioButton("Use this &specified folder");
  ownFolder_->setObjectName("useOwnFolder");
  (in.values.useDefaultWorkingDir ? defaultFolder_ : ownFolder_)->setChecked(true);
  folder_ = new QLineEdit(Q(in.values.workingFolder));
  folder_->setObjectName("workingFolder");
  browse_ = new QPushButton("...");
  browse_->setObjectName("browseFolder");
  browse_->setAccessibleName("Browse for the working folder");
  folderLayout->addWidget(defaultFolder_, 0, 0, 1, 2);
  folderLayout->addWidget(ownFolder_, 1, 0, 1, 2);
  folderLayout->addWidget(folder_, 2, 0);
  folderLayout->addWidget(browse_, 2, 1);
  layout->addWidget(folderGroup);
  auto enableFolder = [this] {
    folder_->setEnabled(ownFolder_->isChecked());
    browse_->setEnabled(ownFolder_->isChecked());
  };
  connect(ownFolder_, &QRadioButton::toggled, this, enableFolder);
  enableFolder();
  connect(browse_, &QPushButton::clicked, this, [this] {
    const QString chosen =
        QFileDialog::getExistingDirectory(this, "Locate folder:", folder_->text());
    if (!chosen.isEmpty()) folder_->setText(chosen);
  });

  auto check = [layout](const char* text, const char* name, bool on) {
    auto* box = new QCheckBox(text);
    box->setObjectName(name);
    box->setChecked(on);
    layout->addWidget(box);
    return box;
  };
  playOpen_ = check("Pla&y file automatically when opened", "playWhenOpen", in.values.playWhenOpen);
  playEdit_ = check("Automatic &playback after any edit or effect", "autoPlaybackAfterEffects",
                    in.values.autoPlaybackAfterEffects);
  playBookmark_ = check("Play file automatically after go to &bookmark", "playBookmark",
                        in.values.playBookmark);
  playRegion_ = check("Play file automatically after select re&gion", "playRegion",
                      in.values.playRegion);
  reduceVol_ = check("Reduce &volume by -8db with rewind and fast-forward", "reduceVolWhenRewind",
                     in.values.reduceVolWhenRewind);
  layout->addStretch(1);
  return page;
}

QWidget* OptionsSheet::KeysPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* label = new QLabel("User Assigned Keys / &Macros");
  keyList_ = new QTreeWidget;
  keyList_->setObjectName("keyList");
  keyList_->setColumnCount(2);
  keyList_->setHeaderLabels({"Key", "Commands"});
  keyList_->setRootIsDecorated(false);
  keyList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  keyList_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  label->setBuddy(keyList_);
  layout->addWidget(label);
  layout->addWidget(keyList_);
  auto* buttons = new QHBoxLayout;
  auto* add = new QPushButton("A&dd...");
  add->setObjectName("addKey");
  changeKey_ = new QPushButton("C&hange...");
  changeKey_->setObjectName("changeKey");
  removeKey_ = new QPushButton("R&emove");
  removeKey_->setObjectName("removeKey");
  buttons->addWidget(add);
  buttons->addWidget(changeKey_);
  buttons->addWidget(removeKey_);
  buttons->addStretch(1);
  layout->addLayout(buttons);

  connect(add, &QPushButton::clicked, this, [this] {
    const std::uint32_t code = AskKey(this);
    if (code == 0) return;
    KeyMacroDialog d(this, commands_, {code, {}});
    if (d.exec() != QDialog::Accepted) return;
    keys_.push_back(d.key());
    RefillKeys();
  });
  connect(changeKey_, &QPushButton::clicked, this, [this] {
    if (QTreeWidgetItem* item = keyList_->currentItem()) EditKey(keyList_->indexOfTopLevelItem(item));
  });
  connect(keyList_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { EditKey(keyList_->indexOfTopLevelItem(item)); });
  connect(removeKey_, &QPushButton::clicked, this, [this] {
    if (keyList_->selectedItems().isEmpty()) return;
    if (ShowMessageBox(this, "Remove selected key(s)?", "Confirm Remove", MessageIcon::Question,
                       MessageButtons::YesNoCancel) != Answer::Yes)
      return;
    std::vector<platform::HotKey> kept;
    for (int i = 0; i < keyList_->topLevelItemCount(); ++i)
      if (!keyList_->topLevelItem(i)->isSelected()) kept.push_back(keys_[std::size_t(i)]);
    keys_ = std::move(kept);
    RefillKeys();
  });
  connect(keyList_, &QTreeWidget::itemSelectionChanged, this, &OptionsSheet::UpdateKeyButtons);
  RefillKeys();
  return page;
}

void OptionsSheet::EditKey(int row) {
  if (row < 0 || row >= int(keys_.size())) return;
  KeyMacroDialog d(this, commands_, keys_[std::size_t(row)]);
  if (d.exec() != QDialog::Accepted) return;
  keys_[std::size_t(row)] = d.key();
  RefillKeys();
}

void OptionsSheet::RefillKeys() {
  keyList_->clear();
  for (const platform::HotKey& key : keys_)
    new QTreeWidgetItem(keyList_, {Q(KeyCodeText(key.keyCode)), MacroText(commands_, key)});
  UpdateKeyButtons();
}

void OptionsSheet::UpdateKeyButtons() {
  const bool selected = !keyList_->selectedItems().isEmpty();
  changeKey_->setEnabled(selected);
  removeKey_->setEnabled(selected);
}

core::OptionValues OptionsSheet::values() const {
  core::OptionValues v = start_;
  v.promptSampleAndChannels = prompt_->isChecked();
  v.addToContextMenu = contextMenu_->isChecked();
  v.autoArrangeWindows = arrange_->isChecked();
  // Untouched, the stored text stays as it is (an old list position included).
  if (const std::string chosen = device_->currentData().toString().toStdString();
      chosen != startDevice_)
    v.soundOutDevice = chosen;
  v.autoTrimThreshold = threshold_->value();
  v.useDefaultWorkingDir = defaultFolder_->isChecked();
  v.workingFolder = folder_->text().trimmed().toStdString();
  v.playWhenOpen = playOpen_->isChecked();
  v.autoPlaybackAfterEffects = playEdit_->isChecked();
  v.playBookmark = playBookmark_->isChecked();
  v.playRegion = playRegion_->isChecked();
  v.reduceVolWhenRewind = reduceVol_->isChecked();
  return v;
}

std::vector<bool> OptionsSheet::associated() const {
  std::vector<bool> out;
  for (int i = 0; i < types_->count(); ++i) out.push_back(types_->item(i)->checkState() == Qt::Checked);
  return out;
}

void OptionsSheet::accept() {
  const core::FolderProblem problem = core::CheckWorkingFolder(values());
  if (problem != core::FolderProblem::None) {
    ShowMessageBox(this, core::FolderProblemText(problem), core::kInvalidFolderCaption,
                   MessageIcon::Information, MessageButtons::Ok);
    folder_->setFocus();
    return;
  }
  QDialog::accept();
}

}  // namespace quillet::ui
