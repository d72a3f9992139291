#include "ui/batch_wizard.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWizardPage>
#include <atomic>

#include "batch/types.h"
#include "formats/dispatch.h"
#include "formats/format_table.h"
#include "ui/dialogs.h"
#include "ui/format_dialogs.h"

namespace quillet::ui {
namespace {

namespace fs = std::filesystem;
using platform::Answer;
using platform::MessageButtons;
using platform::MessageIcon;

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
std::string S(const QString& s) { return s.toStdString(); }

constexpr std::string_view kCaption = "Quillet";

// The file list: takes audio files dropped from outside and reorders its own rows.
class FileListWidget final : public QListWidget {
 public:
  std::function<void(const std::vector<fs::path>&)> onFiles;
  std::function<void(int from, int to)> onMove;

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override {
    if (e->mimeData()->hasUrls()) return e->acceptProposedAction();
    QListWidget::dragEnterEvent(e);
  }
  void dragMoveEvent(QDragMoveEvent* e) override {
    if (e->mimeData()->hasUrls()) return e->acceptProposedAction();
    QListWidget::dragMoveEvent(e);
  }
  void dropEvent(QDropEvent* e) override {
    if (e->source() == this) {
      const int to = DropRow(e->position().toPoint());
      if (currentRow() >= 0 && onMove) onMove(currentRow(), to);
      e->setDropAction(Qt::IgnoreAction);
      e->accept();
      return;
    }
    std::vector<fs::path> files;
    for (const QUrl& url : e->mimeData()->urls())
      if (url.isLocalFile()) files.emplace_back(S(url.toLocalFile()));
    if (onFiles && !files.empty()) onFiles(files);
    e->acceptProposedAction();
  }

 private:
  int DropRow(QPoint p) const {
    const QModelIndex at = indexAt(p);
    return at.isValid() ? at.row() : count();
  }
};

// The command list: a dragged row goes before the row it is dropped on.
class CommandListWidget final : public QTreeWidget {
 public:
  std::function<void(int from, int to)> onMove;

 protected:
  void dropEvent(QDropEvent* e) override {
    const QModelIndex at = indexAt(e->position().toPoint());
    const int to = at.isValid() ? at.row() : topLevelItemCount();
    const int from = currentIndex().row();
    e->setDropAction(Qt::IgnoreAction);
    e->accept();
    if (from >= 0 && onMove) onMove(from, to);
  }
  // "Command" takes 30 % of the width, "Settings" the rest, whatever size the page gets.
  void resizeEvent(QResizeEvent* e) override {
    QTreeWidget::resizeEvent(e);
    setColumnWidth(0, viewport()->width() * 3 / 10);
  }
};

template <class T>
void MoveItem(std::vector<T>& v, int from, int to) {
  if (from < 0 || from >= int(v.size()) || from == to) return;
  T item = std::move(v[std::size_t(from)]);
  v.erase(v.begin() + from);
  if (to > from) --to;
  v.insert(v.begin() + std::min<int>(to, int(v.size())), std::move(item));
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return QString::compare(Q(a), Q(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

class BatchFilesPage final : public QWizardPage {
 public:
  explicit BatchFilesPage(BatchWizard& w) : w_(w) {
    setTitle("Step 1:");
    setSubTitle("Select Files");
    list_ = new FileListWidget;
    list_->setObjectName("File List");
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setDragDropMode(QAbstractItemView::DragDrop);
    list_->setAcceptDrops(true);
    list_->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* add = new QPushButton("Add");
    auto* remove = new QPushButton("Remove");
    auto* removeAction = new QAction("Remove", list_);
    list_->addAction(removeAction);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    connect(add, &QPushButton::clicked, this, [this] { Add(); });
    connect(remove, &QPushButton::clicked, this, [this] { Remove(); });
    connect(removeAction, &QAction::triggered, this, [this] { Remove(); });
    list_->onFiles = [this](const std::vector<fs::path>& files) { Append(files); };
    list_->onMove = [this](int from, int to) {
      MoveItem(w_.lists_.files, from, to);
      Redraw();
    };
    Redraw();
  }

  bool isComplete() const override { return !w_.lists_.files.empty(); }

  void Redraw() {
    list_->clear();
    for (const fs::path& f : w_.lists_.files) list_->addItem(Q(f.string()));
    emit completeChanged();
  }

 private:
  void Append(const std::vector<fs::path>& files) {
    for (const fs::path& f : files) w_.lists_.files.push_back(f);
    Redraw();
  }
  void Add() {
    platform::FileRequest r;
    r.title = "Select Audio Files";
    r.filters = {{"Audio Files", formats::OpenFilterPatterns()}, {"All Files", "*"}};
    r.defaultExtension = "wav";
    r.multiSelect = true;
    Append(w_.prompter_.ChooseFiles(r).files);
  }
  void Remove() {
    std::vector<fs::path>& files = w_.lists_.files;
    for (QListWidgetItem* item : list_->selectedItems()) {
      const std::string text = S(item->text());
      const auto at = std::find_if(files.begin(), files.end(),
                                   [&](const fs::path& f) { return SameIgnoringCase(f.string(), text); });
      if (at != files.end()) files.erase(at);
    }
    Redraw();
  }

  BatchWizard& w_;
  FileListWidget* list_;
};

class BatchCommandsPage final : public QWizardPage {
 public:
  explicit BatchCommandsPage(BatchWizard& w) : w_(w) {
    setTitle("Step 2:");
    setSubTitle("Select Commands");
    name_ = new QLineEdit;
    name_->setObjectName("Batch Script File");
    name_->setReadOnly(true);
    auto* scriptLabel = new QLabel("&Batch Script File");
    scriptLabel->setBuddy(name_);
    auto* fresh = new QPushButton("&New");
    auto* open = new QPushButton("Open");
    auto* saveAs = new QPushButton("&Save As");
    list_ = new CommandListWidget;
    list_->setObjectName("Command List");
    list_->setColumnCount(2);
    list_->setHeaderLabels({"Command", "Settings"});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setDragDropMode(QAbstractItemView::InternalMove);
    list_->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* listLabel = new QLabel("&Command List");
    listLabel->setBuddy(list_);
    auto* add = new QPushButton("Add");
    auto* remove = new QPushButton("Remove");
    auto* settings = new QPushButton("Set&tings");
    auto* settingsAction = new QAction("Set&tings", list_);
    list_->addAction(settingsAction);

    auto* grid = new QGridLayout(this);
    grid->addWidget(scriptLabel, 0, 0);
    grid->addWidget(name_, 0, 1);
    auto* scriptButtons = new QHBoxLayout;
    scriptButtons->addWidget(fresh);
    scriptButtons->addWidget(open);
    scriptButtons->addWidget(saveAs);
    grid->addLayout(scriptButtons, 0, 2);
    grid->addWidget(listLabel, 1, 0, 1, 3);
    grid->addWidget(list_, 2, 0, 1, 2);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addWidget(settings);
    buttons->addStretch();
    grid->addLayout(buttons, 2, 2);

    connect(fresh, &QPushButton::clicked, this, [this] { New(); });
    connect(open, &QPushButton::clicked, this, [this] { Open(); });
    connect(saveAs, &QPushButton::clicked, this, [this] {
      w_.SaveScriptAs();
      Redraw();
    });
    connect(add, &QPushButton::clicked, this, [this] { Add(); });
    connect(remove, &QPushButton::clicked, this, [this] { Remove(); });
    connect(settings, &QPushButton::clicked, this, [this] { EditSettings(); });
    connect(settingsAction, &QAction::triggered, this, [this] { EditSettings(); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { EditSettings(); });
    list_->onMove = [this](int from, int to) {
      MoveItem(w_.lists_.commands, from, to);
      w_.modified_ = true;
      Redraw();
    };
  }

  void initializePage() override {
    if (!w_.script_.empty()) w_.OpenScript(w_.script_);
    Redraw();
  }

  void Redraw() {
    name_->setText(Q(w_.script_.empty() ? "Untitled.qlb" : w_.script_.filename().string()));
    list_->clear();
    for (const batch::BatchCommand& c : w_.lists_.commands) {
      auto* item = new QTreeWidgetItem(list_);
      item->setText(0, Q(batch::TypeOf(c.type).name));
      item->setText(1, Q(batch::SummaryOf(c, w_.ctx_.settings)));
    }
  }

  // Adds the commands of the given types, as "Add Command" does.
  void AddTypes(const std::vector<std::uint32_t>& types) {
    for (std::uint32_t t : types) w_.lists_.commands.push_back({t, {}});
    if (!types.empty()) w_.modified_ = true;
    Redraw();
  }

 private:
  void New() {
    if (!w_.AskSaveCommands()) return;
    w_.lists_.commands.clear();
    w_.script_.clear();
    w_.modified_ = false;
    Redraw();
  }
  void Open() {
    if (!w_.AskSaveCommands()) return;
    platform::FileRequest r;
    r.title = "Open Batch Script File";
    r.filters = {{"Batch Script File", "*.qlb"}};
    r.defaultExtension = "qlb";
    const platform::FileChoice choice = w_.prompter_.ChooseFiles(r);
    if (!choice.accepted()) return;
    w_.OpenScript(choice.files.front());
    Redraw();
  }
  void Add() {
    QDialog d(this);
    d.setWindowTitle("Add Command");
    d.setObjectName("Add Command");
    auto* layout = new QVBoxLayout(&d);
    layout->addWidget(new QLabel("Select command(s) to add to the Command list."));
    auto* names = new QListWidget;
    names->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (std::uint32_t t = 0; t < batch::kBatchTypeCount; ++t) names->addItem(Q(batch::TypeOf(t).name));
    layout->addWidget(names);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(box);
    connect(box, &QDialogButtonBox::accepted, &d, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &d, &QDialog::reject);
    connect(names, &QListWidget::itemDoubleClicked, &d, [&](QListWidgetItem* item) {
      names->clearSelection();
      item->setSelected(true);
      d.accept();
    });
    if (d.exec() != QDialog::Accepted) return;
    std::vector<std::uint32_t> chosen;
    for (int i = 0; i < names->count(); ++i)
      if (names->item(i)->isSelected()) chosen.push_back(std::uint32_t(i));
    AddTypes(chosen);
  }
  void Remove() {
    std::vector<int> rows;
    for (QTreeWidgetItem* item : list_->selectedItems()) rows.push_back(list_->indexOfTopLevelItem(item));
    std::sort(rows.rbegin(), rows.rend());
    for (int r : rows) w_.lists_.commands.erase(w_.lists_.commands.begin() + r);
    if (!rows.empty()) w_.modified_ = true;
    Redraw();
  }
  void EditSettings() {
    const int row = list_->currentIndex().row();
    if (row < 0 || row >= int(w_.lists_.commands.size())) return;
    batch::BatchCommand& c = w_.lists_.commands[std::size_t(row)];
    const batch::BatchType& type = batch::TypeOf(c.type);
    if (type.kind == batch::BlockKind::None) return;
    const core::Command* command = w_.registry_.Find(type.command);
    if (!command) {
      w_.prompter_.Message("The command \"" + core::MenuLabel(type.name) +
                               "\" is not available in this build.",
                           kCaption, MessageIcon::Warning, MessageButtons::Ok);
      return;
    }
    std::optional<core::ParamSet> values = batch::DialogValuesOf(c, *command, w_.ctx_.settings);
    if (!values) return;
    const bool generic = command->dialog.empty() || command->dialog == core::kNoDialog;
    const DialogDrawer draw = generic ? &AskParams : FindDialog(command->dialog);
    if (!draw) return;
    DialogCall call{this, *values, nullptr, &w_.ctx_, command};
    if (!draw(call)) return;
    c = batch::CommandFromValues(c.type, *values);
    w_.modified_ = true;
    Redraw();
  }

  BatchWizard& w_;
  QLineEdit* name_;
  CommandListWidget* list_;
};

class BatchOutputPage final : public QWizardPage {
 public:
  explicit BatchOutputPage(BatchWizard& w) : w_(w) {
    setTitle("Step 3:");
    setSubTitle("Select Output Format and Folder");
    sameFormat_ = new QRadioButton("Use the &same file format that was used to load the files");
    convert_ = new QRadioButton("&Convert to file format");
    format_ = new QComboBox;
    format_->setObjectName("Format");
    for (std::string_view ext : formats::OutputFormatList()) format_->addItem(Q(ext));
    options_ = new QPushButton("&Format Options");
    sameFolder_ = new QRadioButton(
        "Use the sa&me folder that the files were loaded from (replace files if format is the same)");
    otherFolder_ = new QRadioButton("Sa&ve to this folder");
    folder_ = new QLineEdit;
    folder_->setObjectName("Output Folder");
    browse_ = new QPushButton("...");
    auto* formats = new QButtonGroup(this);
    formats->addButton(sameFormat_);
    formats->addButton(convert_);
    auto* folders = new QButtonGroup(this);
    folders->addButton(sameFolder_);
    folders->addButton(otherFolder_);

    auto* grid = new QGridLayout(this);
    grid->addWidget(sameFormat_, 0, 0, 1, 3);
    grid->addWidget(convert_, 1, 0);
    grid->addWidget(format_, 1, 1);
    grid->addWidget(options_, 1, 2);
    grid->addWidget(sameFolder_, 2, 0, 1, 3);
    grid->addWidget(otherFolder_, 3, 0);
    grid->addWidget(folder_, 3, 1);
    grid->addWidget(browse_, 3, 2);
    grid->setRowStretch(4, 1);

    const batch::OutputRule rule = batch::LoadOutputRule(w_.ctx_.settings);
    (rule.sameFormat ? sameFormat_ : convert_)->setChecked(true);
    format_->setCurrentIndex(int(std::min(rule.formatIndex, formats::OutputFormatList().size() - 1)));
    (rule.sameFolder ? sameFolder_ : otherFolder_)->setChecked(true);
    folder_->setText(Q(rule.folder.string()));
    for (QRadioButton* b : {sameFormat_, convert_, sameFolder_, otherFolder_})
      connect(b, &QRadioButton::toggled, this, [this] { Enable(); });
    connect(format_, &QComboBox::currentIndexChanged, this, [this] { Enable(); });
    connect(options_, &QPushButton::clicked, this, [this] { FormatOptions(); });
    connect(browse_, &QPushButton::clicked, this, [this] {
      const QString dir = QFileDialog::getExistingDirectory(this, "Locate Output Folder", folder_->text());
      if (!dir.isEmpty()) folder_->setText(dir);
    });
    Enable();
  }

  batch::OutputRule Rule() const {
    return {sameFormat_->isChecked(), std::size_t(std::max(0, format_->currentIndex())),
            sameFolder_->isChecked(), S(folder_->text())};
  }

  bool validatePage() override {
    const batch::OutputRule rule = Rule();
    batch::StoreOutputRule(w_.ctx_.settings, rule);
    if (!rule.sameFolder) {
      if (rule.folder.empty()) {
        w_.prompter_.Message("Invalid output folder. Please select a folder to save to.", kCaption,
                             MessageIcon::Information, MessageButtons::Ok);
        return false;
      }
      if (!fs::is_directory(rule.folder)) {
        const Answer a = w_.prompter_.Message(
            "The folder  \"" + rule.folder.string() + "\" does not exist. Do you want to create it now?",
            kCaption, MessageIcon::Question, MessageButtons::YesNoCancel);
        if (a != Answer::Yes) return false;
        std::error_code ec;
        fs::create_directories(rule.folder, ec);
        if (!fs::is_directory(rule.folder)) {
          w_.prompter_.Message("Unable to create folder.", kCaption, MessageIcon::Warning,
                               MessageButtons::Ok);
          return false;
        }
      }
    }
    return w_.RunBatch(rule);
  }

 private:
  void Enable() {
    format_->setEnabled(convert_->isChecked());
    const std::string_view ext = formats::OutputFormatList()[std::size_t(std::max(0, format_->currentIndex()))];
    options_->setEnabled(convert_->isChecked() && ext != ".au" && ext != ".aiff" && ext != ".gsm");
    folder_->setEnabled(otherFolder_->isChecked());
    browse_->setEnabled(otherFolder_->isChecked());
  }
  void FormatOptions() {
    QtSaveOptions ui(this);
    formats::DispatchEnv env(w_.ctx_.settings);
    env.options = &ui;
    env.prompter = &w_.prompter_;
    formats::SaveOptions(formats::OutputFormatList()[std::size_t(format_->currentIndex())], 44100, 2, env);
  }

  BatchWizard& w_;
  QRadioButton *sameFormat_, *convert_, *sameFolder_, *otherFolder_;
  QComboBox* format_;
  QPushButton *options_, *browse_;
  QLineEdit* folder_;
};

BatchWizard::BatchWizard(QWidget* parent, batch::BatchLists& lists, core::EditContext& ctx,
                         const core::CommandRegistry& registry, platform::Prompter& prompter)
    : QWizard(parent), lists_(lists), ctx_(ctx), registry_(registry), prompter_(prompter) {
  setWindowTitle("Batch Converter");
  setObjectName("Batch Converter");
  setWizardStyle(QWizard::ClassicStyle);
  files_ = new BatchFilesPage(*this);
  commands_ = new BatchCommandsPage(*this);
  addPage(files_);
  addPage(commands_);
  addPage(new BatchOutputPage(*this));
  resize(640, 420);
}

void BatchWizard::FilesChanged() { files_->Redraw(); }

void BatchWizard::OpenScript(const fs::path& file) {
  batch::BatchCommandList loaded;
  const batch::ScriptLoad r = batch::LoadBatchScript(file, loaded);
  if (r == batch::ScriptLoad::Corrupt)
    prompter_.Message(batch::kScriptVersionMessage, batch::kFileErrorCaption, MessageIcon::Error,
                      MessageButtons::Ok);
  lists_.commands = std::move(loaded);
  script_ = r == batch::ScriptLoad::Loaded ? file : fs::path();
  modified_ = false;
  commands_->Redraw();
}

bool BatchWizard::AskSaveCommands() {
  const bool changed = script_.empty() ? !lists_.commands.empty() : modified_;
  if (!changed) return true;
  const Answer a = prompter_.Message("Do you want to save the command list?", kCaption,
                                     MessageIcon::Question, MessageButtons::YesNoCancel);
  if (a == Answer::Cancel) return false;
  if (a == Answer::No) return true;
  if (script_.empty()) return SaveScriptAs();
  if (!batch::SaveBatchScript(script_, lists_.commands)) {
    prompter_.Message(batch::kScriptCreateMessage, batch::kFileErrorCaption, MessageIcon::Error,
                      MessageButtons::Ok);
    return false;
  }
  modified_ = false;
  return true;
}

bool BatchWizard::SaveScriptAs() {
  for (;;) {
    platform::FileRequest r;
    r.mode = platform::FileDialogMode::Save;
    r.title = "Locate Batch Script File";
    r.filters = {{"Batch Script File", "*.qlb"}};
    r.defaultExtension = "qlb";
    r.fileName = script_.empty() ? "Untitled.qlb" : script_.filename().string();
    const platform::FileChoice choice = prompter_.ChooseFiles(r);
    if (!choice.accepted()) return false;
    const fs::path file = choice.files.front();
    if (fs::exists(file)) {
      const Answer a = prompter_.Message(
          "Another file with the same name already exists. Do you want to replace it?", kCaption,
          MessageIcon::Question, MessageButtons::YesNoCancel);
      if (a == Answer::Cancel) return false;
      if (a == Answer::No) continue;
    }
    if (!batch::SaveBatchScript(file, lists_.commands)) {
      prompter_.Message(batch::kScriptCreateMessage, batch::kFileErrorCaption, MessageIcon::Error,
                        MessageButtons::Ok);
      return false;
    }
    script_ = file;
    modified_ = false;
    return true;
  }
}

bool BatchWizard::RunBatch(const batch::OutputRule& rule) {
  if (const std::string why = batch::CheckOutputs(lists_.files, rule); !why.empty()) {
    prompter_.Message(why, "Batch Converter", MessageIcon::Warning, MessageButtons::Ok);
    return false;
  }
  QDialog progress(this);
  progress.setWindowTitle("Batch Converter");
  auto* layout = new QVBoxLayout(&progress);
  auto* rows = new QTreeWidget;
  rows->setObjectName("Batch Files");
  rows->setHeaderLabels({"File", "Progress"});
  rows->setRootIsDecorated(false);
  for (const fs::path& f : lists_.files) new QTreeWidgetItem(rows, {Q(f.filename().string()), ""});
  rows->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  auto* overall = new QProgressBar;
  overall->setRange(0, int(lists_.files.size()) * 100);
  auto* cancel = new QPushButton("Cancel");
  layout->addWidget(rows, 1);
  layout->addWidget(overall);
  layout->addWidget(cancel, 0, Qt::AlignRight);
  bool cancelled = false;
  connect(cancel, &QPushButton::clicked, &progress, [&] { cancelled = true; });
  progress.resize(520, 320);
  progress.setModal(true);
  progress.show();

  batch::RunOptions options;
  options.jobs = batch::DefaultJobs();
  options.stopOnFailure = true;
  options.tick = [&](const std::vector<batch::FileProgress>& files) {
    int total = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
      using S = batch::FileProgress::State;
      const batch::FileProgress& f = files[i];
      const int done = f.state == S::Done || f.state == S::Failed ? 100
                       : f.state == S::Running                    ? f.percent
                                                                  : 0;
      total += done;
      const char* state = f.state == S::Done ? "Done" : f.state == S::Failed ? "Failed"
                          : f.state == S::Cancelled ? "Cancelled" : nullptr;
      rows->topLevelItem(int(i))->setText(
          1, state ? QString(state)
                   : f.state == S::Running ? Q(f.text) + QString(" %1%").arg(f.percent) : QString());
    }
    overall->setValue(total);
    QApplication::processEvents();
    return !cancelled;
  };
  const platform::Outcome result =
      batch::RunBatch(lists_.files, lists_.commands, rule, registry_, ctx_.settings, ctx_.store, options);
  progress.hide();
  if (result.result == platform::kTaskFailed)
    prompter_.Message(result.message, "Batch Converter", MessageIcon::Warning, MessageButtons::Ok);
  return result.done();
}

}  // namespace quillet::ui
