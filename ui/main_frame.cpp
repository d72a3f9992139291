#include "ui/main_frame.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QStyle>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <algorithm>
#include <chrono>

#include "core/document.h"
#include "core/options.h"
#include "ui/cd_dialogs.h"
#include "core/edit_params.h"
#include "core/time_text.h"
#include "devices/record_command.h"
#include "formats/dispatch.h"
#include "formats/document_io.h"
#include "formats/messages.h"
#include "platform/paths.h"
#include "platform/frame_time.h"
#include "platform/paths.h"
#include "platform/record_file.h"
#include "ui/analysis_windows.h"
#include "ui/app_icon.h"
#include "ui/commands.h"
#include "ui/dialogs.h"
#include "ui/document_window.h"
#include "ui/format_dialogs.h"
#include "ui/key_map.h"
#include "ui/level_meter.h"
#include "ui/playback.h"
#include "ui/project_front.h"
#include "ui/progress_dialog.h"
#include "ui/qt_clipboard.h"
#include "ui/qt_prompter.h"
#include "ui/send_dialog.h"
#include "ui/splash.h"
#include "ui/record_dialog.h"
#include "ui/tags_dialog.h"
#include "ui/view_math.h"
#include "ui/wave_display.h"

namespace quillet::ui {
namespace {

using platform::Answer;
using platform::MessageButtons;
using platform::MessageIcon;

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Space is no menu command: it resumes, plays or pauses.
constexpr int kSpaceKey = -1;

// Widgets that take typed keys for themselves.
bool TakesText(QWidget* w) {
  return qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
         qobject_cast<QTextEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) ||
         (qobject_cast<QComboBox*>(w) && static_cast<QComboBox*>(w)->isEditable());
}

// Widgets that Space works: it presses a button, opens a list, ticks an item.
bool TakesSpace(QWidget* w) {
  return TakesText(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
         qobject_cast<QAbstractItemView*>(w);
}

}  // namespace

MainFrame::MainFrame(settings::Settings& settings, core::SegmentStore& store,
                     core::CommandRegistry commands, std::filesystem::path keysFile,
                     platform::SoundSystem* sound, QWidget* parent)
    : QMainWindow(parent),
      settings_(settings),
      store_(store),
      commands_(std::move(commands)),
      clipboard_(&store),
      fileIo_(settings),
      sound_(sound ? *sound : platform::AlsaSoundSystem()),
      recent_(settings) {
  setObjectName("LMMWC");
  setWindowTitle("Quillet");
  setWindowIcon(ProgramIcon());
  setAcceptDrops(true);
  prompter_ = std::make_unique<QtPrompter>(this);
  progress_ = std::make_unique<QtProgressFactory>(this, [this](bool on) { SetBusy(!on); });
  systemClipboard_ = std::make_unique<QtClipboard>();
  saveOptions_ = std::make_unique<QtSaveOptions>(this);
  playback_ = std::make_unique<Transport>(sound_, settings_);
  ctx_ = std::make_unique<core::EditContext>(
      core::EditContext{store_, clipboard_, *progress_, settings_});
  ctx_->files = &fileIo_;
  ctx_->player = playback_.get();
  ctx_->systemClipboard = systemClipboard_.get();
  ctx_->prompter = prompter_.get();
  ctx_->adaptors = formats::DefaultAdaptors();
  project_ = std::make_unique<ProjectFront>(*this, *ctx_, *playback_);

  auto* centre = new QWidget(this);
  auto* column = new QVBoxLayout(centre);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  tabs_ = new QTabBar(centre);
  tabs_->setExpanding(false);
  // Names of the same start stay told apart by their ends (numbers, extensions).
  tabs_->setElideMode(Qt::ElideMiddle);
  tabs_->hide();
  connect(tabs_, &QTabBar::tabBarClicked, this, [this](int i) {
    if (i >= 0 && i < int(docs_.size())) Activate(docs_[std::size_t(i)]);
  });
  mdi_ = new QMdiArea(centre);
  mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  column->addWidget(tabs_);
  column->addWidget(mdi_, 1);
  setCentralWidget(centre);
  connect(mdi_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* sub) {
    if (!sub) return;
    auto* w = qobject_cast<DocumentWindow*>(sub->widget());
    if (w && std::find(docs_.begin(), docs_.end(), w) != docs_.end()) {
      active_ = w;
      RefreshStates();
      UpdateTabs();
    }
  });

  RegisterFrameCommands();
  BuildMenus();
  BuildBars();
  statusRate_ = new QLabel(this);
  statusRate_->setObjectName("statusRate");
  statusBar()->addPermanentWidget(statusRate_);
  statusTimes_ = new QLabel(this);
  statusTimes_->setObjectName("statusTimes");
  statusBar()->addPermanentWidget(statusTimes_);
  connect(playback_.get(), &Transport::positionChanged, this, &MainFrame::OnPlayPosition);
  connect(playback_.get(), &Transport::stopped, this, &MainFrame::OnPlayStopped);
  connect(playback_.get(), &Transport::started, this, &MainFrame::RefreshStates);
  connect(playback_.get(), &Transport::levelsChanged, meter_, &LevelMeterWidget::Update);
  RestorePlacement();
  keysFile_ = keysFile;
  LoadHotKeys(keysFile);
  qApp->installEventFilter(this);
  RefreshStates();
}

MainFrame::~MainFrame() {
  qApp->removeEventFilter(this);
  playback_->Stop();
  disconnect(playback_.get(), nullptr, this, nullptr);
  // Documents (and their displays' threads) go before the store they read; the
  // activations their closing sets off must not reach a half-gone list.
  disconnect(mdi_, nullptr, this, nullptr);
  const std::vector<DocumentWindow*> docs = std::move(docs_);
  docs_.clear();
  active_ = nullptr;
  for (DocumentWindow* w : docs) {
    w->ApproveClose();
    delete w->parentWidget();
  }
  // Its list windows and region audio go before the transport and context they use.
  project_.reset();
}

void MainFrame::AddEntries(QMenu* menu, const std::vector<MenuItem>& entries) {
  for (const MenuItem& e : entries) {
    if (!e.submenu.empty()) {
      AddEntries(menu->addMenu(Q(e.submenu)), e.children);
    } else if (e.id == core::kCmdNone) {
      menu->addSeparator();
    } else if (QAction* a = action(e.id)) {
      menu->addAction(a);
    }
  }
}

void MainFrame::BuildMenus() {
  for (const core::Command& c : commands_.all()) {
    if (!c.run) continue;  // every item works or is absent
    auto* a = new QAction(Q(c.menuText), this);
    a->setData(int(c.id));
    a->setObjectName(QString("cmd%1").arg(int(c.id)));
    a->setCheckable(bool(c.checked));
    if (!c.description.empty()) {
      a->setStatusTip(Q(c.description));
      connect(a, &QAction::hovered, this,
              [this, d = Q(c.description)] { statusBar()->showMessage(d, 12000); });
    }
    connect(a, &QAction::triggered, this, [this, id = c.id] { Command(id); });
    actions_[c.id] = a;
    for (std::uint32_t code : BuiltInKeyCodes(c)) builtInKeys_[code] = c.id;
  }
  builtInKeys_[kVkSpace] = kSpaceKey;
  for (const MenuLayout& m : LayOutMenus(commands_)) {
    QMenu* menu = menuBar()->addMenu(Q(m.title));
    if (m.title == "&File") fileMenu_ = menu;
    AddEntries(menu, m.items);
  }
  exitAction_ = action(core::kCmdExit);
  RebuildRecent();
}

void MainFrame::BuildBars() {
  auto fill = [this](QToolBar* bar, int core::BarPlace::*place) {
    for (core::CommandId id : LayOutBar(commands_, place)) {
      if (id == core::kCmdNone) {
        bar->addSeparator();
        continue;
      }
      QAction* a = action(id);
      bar->addAction(a);
      a->setIconText(Q(core::MenuLabel(commands_.Find(id)->menuText)));
    }
  };
  mainBar_ = addToolBar("Main ToolBar");
  mainBar_->setObjectName("mainToolbar");
  fill(mainBar_, &core::BarPlace::main);
  addToolBarBreak();
  effectsBar_ = addToolBar("Effects ToolBar");
  effectsBar_->setObjectName("effectsToolbar");
  fill(effectsBar_, &core::BarPlace::effects);

  commandBar_ = new QDockWidget("Commands", this);
  commandBar_->setObjectName("commandBar");
  commandBar_->setFeatures(QDockWidget::NoDockWidgetFeatures);
  auto* cmdBar = new QToolBar(commandBar_);
  cmdBar->setOrientation(Qt::Vertical);
  cmdBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  fill(cmdBar, &core::BarPlace::command);
  commandBar_->setWidget(cmdBar);
  addDockWidget(Qt::LeftDockWidgetArea, commandBar_);

  transport_ = new QToolBar("Transport", this);
  transport_->setObjectName("transport");
  // Icons keep the panel narrow enough for the time fields and the meter.
  transport_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  const std::pair<core::CommandId, QStyle::StandardPixmap> icons[] = {
      {core::kCmdPlay, QStyle::SP_MediaPlay},         {core::kCmdPlayRepeat, QStyle::SP_BrowserReload},
      {core::kCmdStop, QStyle::SP_MediaStop},         {core::kCmdRecord, QStyle::SP_DialogNoButton},
      {core::kCmdGoToStart, QStyle::SP_MediaSkipBackward}, {core::kCmdRewind, QStyle::SP_MediaSeekBackward},
      {core::kCmdForward, QStyle::SP_MediaSeekForward},  {core::kCmdGoToEnd, QStyle::SP_MediaSkipForward}};
  for (const auto& [id, icon] : icons) {
    QAction* a = action(id);
    a->setIcon(style()->standardIcon(icon));
    a->setToolTip(Q(core::MenuLabel(commands_.Find(id)->menuText)));
    transport_->addAction(a);
  }
  for (core::CommandId id : {core::kCmdRewind, core::kCmdForward}) {
    if (auto* b = qobject_cast<QAbstractButton*>(transport_->widgetForAction(action(id)))) {
      connect(b, &QAbstractButton::pressed, this, [this, id] {
        if (!busy_) BeginWind(id == core::kCmdForward);
      });
      connect(b, &QAbstractButton::released, this, [this] { EndWind(); });
    }
  }
  transport_->addSeparator();
  const char* names[4] = {"Start:", "End:", "Length:", "Position:"};
  // Wide enough for ten hours and more, measured in the field's own font.
  const int fieldWidth = fontMetrics().horizontalAdvance("00:00:00.000") + 12;
  for (int i = 0; i < 4; ++i) {
    transport_->addWidget(new QLabel(QString(" ") + names[i] + " ", transport_));
    timeFields_[i] = new QLabel("0:00:00.00", transport_);
    timeFields_[i]->setObjectName(QString("time%1").arg(i));
    timeFields_[i]->setFrameShape(QFrame::StyledPanel);
    timeFields_[i]->setFixedWidth(fieldWidth);
    transport_->addWidget(timeFields_[i]);
  }
  transport_->addSeparator();
  meter_ = new LevelMeterWidget(transport_);
  transport_->addWidget(meter_);
  addToolBar(Qt::BottomToolBarArea, transport_);
  LayoutBars();
}

void MainFrame::LayoutBars() {
  mainBar_->setVisible(settings_.GetBool("Settings", "ShowMainToolbar", true));
  effectsBar_->setVisible(settings_.GetBool("Settings", "ShowEffectsToolbar", true));
  const bool left = settings_.GetBool("Settings", "ShowCommandBarLeft", true);
  addDockWidget(left ? Qt::LeftDockWidgetArea : Qt::RightDockWidgetArea, commandBar_);
  commandBar_->setVisible(settings_.GetBool("Settings", "ShowCommandBar", true));
}

QAction* MainFrame::action(int id) const {
  const auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void MainFrame::RebuildRecent() {
  for (QAction* a : recentActions_) {
    fileMenu_->removeAction(a);
    delete a;
  }
  recentActions_.clear();
  const std::vector<RecentEntry> entries = recent_.Entries();
  int pos = 1;
  std::vector<std::string> paths;
  for (const RecentEntry& e : entries) paths.push_back(e.path);
  for (const RecentEntry& e : entries) {
    auto* a = new QAction(Q(RecentFiles::MenuText(pos, e.path, paths)), this);
    a->setData(core::kCmdRecentFirst + e.number - 1);
    a->setStatusTip("Open the recent closed file.");
    connect(a, &QAction::triggered, this, [this, path = e.path] { OpenFile(path); });
    fileMenu_->insertAction(exitAction_, a);
    recentActions_.push_back(a);
    ++pos;
  }
  if (!entries.empty()) recentActions_.push_back(fileMenu_->insertSeparator(exitAction_));
}

void MainFrame::LoadHotKeys(const std::filesystem::path& file) {
  if (file.empty()) return;
  platform::HotKeyFile keys = platform::LoadHotKeys(file);
  if (keys.status == platform::HotKeyStatus::WrongVersion) {
    ShowMessageBox(this, platform::kFileVersionMessage, platform::kFileErrorCaption,
                   MessageIcon::Error, MessageButtons::Ok);
    return;
  }
  hotKeys_ = std::move(keys.keys);
}

void MainFrame::RestorePlacement() {
  const int w = settings_.GetInt("MainWindow", "Width", 0);
  const int h = settings_.GetInt("MainWindow", "Height", 0);
  if (w >= 200 && h >= 150) {
    QRect r(settings_.GetInt("MainWindow", "X", 0), settings_.GetInt("MainWindow", "Y", 0), w, h);
    // Keep the window reachable on the screens there are now.
    if (QScreen* s = QGuiApplication::primaryScreen()) {
      const QRect avail = s->availableGeometry();
      r.setWidth(std::min(r.width(), avail.width()));
      r.setHeight(std::min(r.height(), avail.height()));
      if (!avail.intersects(r)) r.moveTopLeft(avail.topLeft());
    }
    setGeometry(r);
  } else {
    resize(1100, 720);
  }
  if (settings_.GetBool("MainWindow", "Maximized", false)) setWindowState(Qt::WindowMaximized);
}

void MainFrame::StorePlacement() {
  const bool maximized = isMaximized();
  settings_.SetBool("MainWindow", "Maximized", maximized);
  if (maximized || isMinimized()) return;
  const QRect r = geometry();
  int width = r.width();
  if (QScreen* s = screen()) width = std::min(width, s->availableGeometry().right() - r.x() + 1);
  settings_.SetInt("MainWindow", "X", r.x());
  settings_.SetInt("MainWindow", "Y", r.y());
  settings_.SetInt("MainWindow", "Width", std::max(width, 1));
  settings_.SetInt("MainWindow", "Height", r.height());
}

DocumentWindow* MainFrame::AddDocument(std::unique_ptr<core::WaveDocument> doc) {
  // Every document the frame shows comes through here: one place to journal them.
  if (journals_ && !doc->recorder()) doc->SetRecorder(journals_->NewRecorder());
  auto* w = new DocumentWindow(std::move(doc));
  QMdiSubWindow* sub = mdi_->addSubWindow(w);
  sub->setWindowIcon(windowIcon());
  sub->setAttribute(Qt::WA_DeleteOnClose, false);
  connect(w, &DocumentWindow::closeRequested, this, [this](DocumentWindow* d) {
    // Later, so the close event that asked is over before the window goes.
    QMetaObject::invokeMethod(this, [this, d] {
      if (std::find(docs_.begin(), docs_.end(), d) != docs_.end()) CloseDocument(d);
    }, Qt::QueuedConnection);
  });
  connect(w, &DocumentWindow::activated, this, [this](DocumentWindow* d) {
    if (active_ != d) {
      active_ = d;
      RefreshStates();
    }
  });
  connect(w, &DocumentWindow::statesChanged, this, [this, w] {
    if (w == active_) RefreshStates();
    UpdateTabs();
    // Marks are kept in milliseconds: a new rate moves them.
    w->SetMarks(project_->MarksOf(w->doc()));
  });
  connect(w, &DocumentWindow::contextMenuRequested, this, &MainFrame::ShowContextMenu);
  connect(w, &DocumentWindow::seekRequested, this, &MainFrame::OnSeek);
  // Open analysis windows follow the cursor and selection.
  connect(w, &DocumentWindow::statesChanged, this, [this, w] {
    if (analysis_) analysis_->Follow(w);
  });
  connect(w, &DocumentWindow::seekRequested, this, [this, w] {
    if (analysis_) analysis_->Follow(w);
  });
  docs_.push_back(w);
  // The tab row appears with the second document: lay out first, so the new window
  // is sized for the room there really is.
  UpdateTabs();
  centralWidget()->layout()->activate();
  const QSize room = mdi_->viewport()->size();
  sub->resize(std::max(room.width() - 16 * int(docs_.size() - 1) - 4, 400),
              std::max(room.height() - 16 * int(docs_.size() - 1) - 4, 240));
  sub->move(16 * int(docs_.size() - 1) % 160, 16 * int(docs_.size() - 1) % 160);
  sub->show();
  Activate(w);
  UpdateTabs();
  return w;
}

DocumentWindow* MainFrame::WindowOf(const core::WaveDocument* doc) const {
  for (DocumentWindow* w : docs_)
    if (&w->doc() == doc) return w;
  return nullptr;
}

AnalysisWindows& MainFrame::analysis() {
  if (!analysis_) analysis_ = std::make_unique<AnalysisWindows>(*mdi_, settings_, *prompter_, *progress_);
  return *analysis_;
}

DocumentWindow* MainFrame::AddRecoveredDocument(std::unique_ptr<core::WaveDocument> doc, core::MarkLists marks) {
  // A recovered untitled document keeps its number; new ones count on from it.
  if (doc->file().empty()) nextUntitled_ = std::max(nextUntitled_, doc->untitledNumber() + 1);
  DocumentWindow* w = AddDocument(std::move(doc));
  project_->session().AdoptMarks(w->doc(), std::move(marks));
  return w;
}

void MainFrame::Activate(DocumentWindow* w) {
  active_ = w;
  if (w && w->parentWidget()) mdi_->setActiveSubWindow(static_cast<QMdiSubWindow*>(w->parentWidget()));
  RefreshStates();
}

void MainFrame::RemoveDocument(DocumentWindow* w) {
  playback_->Forget(&w->doc());
  project_->session().DocumentClosing(w->doc());
  docs_.erase(std::remove(docs_.begin(), docs_.end(), w), docs_.end());
  if (active_ == w) active_ = docs_.empty() ? nullptr : docs_.back();
  w->ApproveClose();
  QWidget* sub = w->parentWidget();
  mdi_->removeSubWindow(w);
  delete w;
  delete sub;
  if (active_) Activate(active_);
  UpdateTabs();
  RefreshStates();
}

DocumentWindow* MainFrame::NewDocument(std::uint32_t rate, int channels) {
  core::AudioChain chain(&store_);
  chain.sampleRate = rate;
  chain.channels = channels;
  return AddDocument(std::make_unique<core::WaveDocument>(std::move(chain), nextUntitled_++));
}

formats::DispatchEnv MainFrame::Env(bool offerInstall) {
  formats::DispatchEnv env(settings_);
  env.prompter = prompter_.get();
  env.owner = progress_.get();
  env.options = saveOptions_.get();
  env.offerInstall = offerInstall;
  return env;
}

DocumentWindow* MainFrame::OpenFile(const std::filesystem::path& file) {
  const std::filesystem::path path = std::filesystem::absolute(file);
  for (DocumentWindow* w : docs_) {
    if (w->doc().file() == path) {
      Activate(w);
      return w;
    }
  }
  playback_->Stop();
  bool ask = true;
  formats::LoadFileTask task(path, store_, Env(), &ask);
  task.Run(*progress_);
  if (task.result != platform::kTaskDone) {
    // The dispatcher shows its own messages and then clears the flag.
    if (task.result == platform::kTaskFailed && ask) {
      const std::string msg = task.message().empty()
                                  ? formats::OpenFailureMessage(audio::SoundStatus::CannotOpen,
                                                                file.string())
                                  : task.message();
      ShowMessageBox(this, msg, "Quillet", MessageIcon::Error, MessageButtons::Ok);
    }
    return nullptr;
  }
  const bool wasMaximized = active_ && active_->parentWidget() && active_->parentWidget()->isMaximized();
  auto doc = std::make_unique<core::WaveDocument>(std::move(task.chain()), 0, path);
  DocumentWindow* w = AddDocument(std::move(doc));
  w->sourceBits = task.sourceBits();
  if (w->sourceBits)
    w->waveFormat = formats::MakePcmFormat(w->doc().sampleRate(), w->doc().channels(), w->sourceBits);
  w->saveOptions = formats::OptionsFromFile(path, w->doc().sampleRate(), w->doc().channels(), settings_);
  formats::ReadTags(w->tags, path);
  w->doc().ZoomFull();
  project_->session().DocumentOpened(w->doc());
  if (!task.notices().empty()) statusBar()->showMessage(Q(task.notices().front()));
  if (wasMaximized) w->parentWidget()->showMaximized();
  const core::OptionValues defaults;
  if (settings_.GetBool("Settings", "AutoArrangeWindows", defaults.autoArrangeWindows)) mdi_->tileSubWindows();
  if (settings_.GetBool("Settings", "PlayWhenOpen", defaults.playWhenOpen)) PlayCommand(core::kCmdPlay);
  return w;
}

bool MainFrame::SaveAs(DocumentWindow* w, const std::filesystem::path& file, bool askOptions) {
  if (!w || w->doc().busy()) return false;
  playback_->Forget(&w->doc());
  bool ask = askOptions;
  formats::DispatchEnv env = Env();
  // The chooser works on a copy, so a failed or cancelled save keeps the document's format.
  std::optional<formats::WaveFormat> wave = w->waveFormat;
  env.documentWave = &wave;
  std::optional<formats::DocumentOptions> options = w->saveOptions;
  if (options) env.documentOptions = &*options;
  // The tags go into the file before it replaces the old one: a failed tag write fails
  // the save and keeps the old file.
  formats::SaveChainTask task(w->doc().chain(), file, env, w->sourceBits, &ask, w->tags);
  task.Run(*progress_);
  if (task.result != platform::kTaskDone) {
    if (task.result == platform::kTaskFailed) {
      saveFailed_ = true;
      // Asked saves show their failure themselves.
      if (!askOptions) {
        const std::string msg =
            task.message().empty() ? formats::SaveFailureMessage(file.string()) : task.message();
        ShowMessageBox(this, msg, "Quillet", MessageIcon::Error, MessageButtons::Ok);
      }
    }
    return false;
  }
  const std::filesystem::path oldFile = w->doc().file();
  w->doc().SetFile(std::filesystem::absolute(file));
  w->doc().MarkSaved();
  w->waveFormat = wave;
  if (options && options->Covers(formats::RowForFile(file))) options->confirmed = true;
  w->saveOptions = std::move(options);
  project_->session().DocumentSaved(w->doc(), oldFile);
  RefreshStates();
  return true;
}

bool MainFrame::Save(DocumentWindow* w, bool askName) {
  if (!w) return false;
  const std::filesystem::path current = w->doc().file();
  if (!askName && !current.empty()) {
    const std::string_view question = formats::SaveElsewhereQuestion(current);
    // The first save of a compressed file shows the options read from it: a re-encode
    // is never chosen for the person.
    if (question.empty())
      return SaveAs(w, current, w->saveOptions && w->saveOptions->AsksBeforeSave(formats::RowForFile(current)));
    if (!formats::AskSaveElsewhere(*prompter_, question)) return false;
  }
  playback_->Stop();
  const std::filesystem::path proposed =
      current.empty() ? std::filesystem::path(w->doc().Title() + ".wav") : current;
  const std::optional<std::filesystem::path> target =
      formats::ChooseSaveAsTarget(*prompter_, settings_, proposed);
  if (!target) return false;
  return SaveAs(w, *target, /*askOptions=*/true);
}

bool MainFrame::AskSaveChanges(DocumentWindow* w) {
  if (!w->doc().modified()) return true;
  Activate(w);
  const std::string text = "Save changes to \"" + w->doc().Title() + "\"?";
  const Answer a =
      ShowMessageBox(this, text, "Quillet", MessageIcon::Question, MessageButtons::YesNoCancel);
  if (a == Answer::Cancel) return false;
  if (a == Answer::No) return true;
  // A save that fails or is cancelled keeps the document: the same as Cancel.
  return Save(w, w->doc().file().empty());
}

bool MainFrame::CloseDocument(DocumentWindow* w) {
  if (!w || w->doc().busy()) return false;
  if (!AskSaveChanges(w)) return false;
  if (!w->doc().file().empty()) {
    recent_.Add(w->doc().file().string(), Now());
    RebuildRecent();
  }
  RemoveDocument(w);
  return true;
}

bool MainFrame::CloseAll(bool askDocuments, bool askProject) {
  for (DocumentWindow* w : std::vector<DocumentWindow*>(docs_)) {
    if (w->doc().busy() || (askDocuments && !AskSaveChanges(w))) return false;
  }
  if (askProject && !project_->session().AskSaveBeforeClosingAll()) return false;
  for (DocumentWindow* w : std::vector<DocumentWindow*>(docs_)) {
    if (!w->doc().file().empty()) recent_.Add(w->doc().file().string(), Now());
    RemoveDocument(w);
  }
  RebuildRecent();
  return true;
}

bool MainFrame::Exit() {
  if (!CloseAll()) return false;
  StorePlacement();
  exiting_ = true;
  setAcceptDrops(false);
  close();
  return true;
}

void MainFrame::closeEvent(QCloseEvent* e) {
  if (exiting_) {
    e->accept();
    return;
  }
  e->ignore();
  if (busy_) return;
  Exit();
}

core::CommandState MainFrame::State() const {
  return {active_ ? &active_->doc() : nullptr, &clipboard_, int(docs_.size()), busy_};
}

void MainFrame::RefreshStates() {
  if (journals_) {
    // Not a box: it would come back at every edit while the disk stays full.
    if (const std::string failure = journals_->TakeFailure(); !failure.empty())
      statusBar()->showMessage(Q(failure + " Your changes cannot be recovered after a crash."), 30000);
  }
  const core::CommandState state = State();
  for (auto& [id, a] : actions_) {
    const core::Command& c = *commands_.Find(id);
    a->setEnabled(core::IsEnabled(c, state));
    if (c.text) a->setText(Q(c.text(state)));
    if (c.checked) a->setChecked(c.checked(state));
  }
  const core::WaveDocument* doc = state.doc;
  statusRate_->setText(doc ? QString("Sample Rate: %1   %2")
                                 .arg(doc->sampleRate())
                                 .arg(doc->channels() == 2 ? "Stereo" : "Mono")
                           : QString());
  UpdateTimes();
}

void MainFrame::UpdateTimes() {
  const core::WaveDocument* doc = active_ ? &active_->doc() : nullptr;
  const std::int64_t rate = doc ? doc->sampleRate() : 1;
  auto ms = [rate](std::int64_t f) { return platform::MsFromFrames(f, rate); };
  timeFields_[0]->setText(Q(core::FormatTimeHundredths(doc ? ms(doc->selStart()) : 0)));
  timeFields_[1]->setText(Q(core::FormatTimeHundredths(doc ? ms(doc->selEnd()) : 0)));
  timeFields_[2]->setText(
      Q(FormatTimeMillis(doc ? ms(doc->selEnd()) - ms(doc->selStart()) : 0)));
  timeFields_[3]->setText(Q(core::FormatTimeHundredths(doc ? ms(doc->cursor()) : 0)));
  statusTimes_->setText(doc ? Q(StatusTimes(doc->length(), doc->selStart(), doc->selEnd(), doc->cursor(),
                                            doc->sampleRate()))
                            : QString());
}

void MainFrame::UpdateTabs() {
  const int n = std::min<int>(int(docs_.size()), 26);
  while (tabs_->count() > 0) tabs_->removeTab(0);
  if (n < 2) {
    tabs_->hide();
    return;
  }
  const int tabWidth = std::min(width() / n, 110);
  tabs_->setStyleSheet(QString("QTabBar::tab { width: %1px; height: 28px; }").arg(tabWidth - 8));
  for (int i = 0; i < n; ++i) {
    const auto& d = docs_[std::size_t(i)]->doc();
    tabs_->addTab(Q(d.Title()) + (d.modified() ? "*" : ""));
    tabs_->setTabToolTip(i, docs_[std::size_t(i)]->FullPath());
    if (docs_[std::size_t(i)] == active_) tabs_->setCurrentIndex(i);
  }
  tabs_->show();
}

void MainFrame::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  UpdateTabs();
}

void MainFrame::SetBusy(bool busy) {
  busy_ = busy;
  // Not the window itself: that would disable the progress dialog it owns too.
  menuBar()->setEnabled(!busy);
  centralWidget()->setEnabled(!busy);
  for (QToolBar* b : {mainBar_, effectsBar_, transport_}) b->setEnabled(!busy);
  commandBar_->setEnabled(!busy);
  if (!busy) RefreshStates();
}

void MainFrame::ShowFailure(platform::TaskResult result) {
  if (result == platform::kTaskFailed && !ctx_->message.empty() && !ctx_->messageShown)
    ShowMessageBox(this, ctx_->message, "Quillet", MessageIcon::Warning, MessageButtons::Ok);
  ctx_->message.clear();
  ctx_->messageShown = false;
}

bool MainFrame::Command(int id) {
  const core::Command* c = commands_.Find(id);
  if (!c || !c->run || !core::IsEnabled(*c, State())) return false;
  core::WaveDocument* doc = active_ ? &active_->doc() : nullptr;
  std::optional<core::ParamSet> values;
  if (c->params) {
    values.emplace(*c->params);
    values->Load(settings_);
    if (c->prepare) c->prepare(*values, doc);
    if (!AskValues(*c, *values, doc)) return true;
  }
  core::CommandCall call{*ctx_, doc, values ? &*values : nullptr, &host_, c};
  ShowFailure(c->run(call));
  RefreshStates();
  return true;
}

bool MainFrame::AskValues(const core::Command& c, core::ParamSet& values,
                          core::WaveDocument* doc) {
  bool fields = false;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const core::ParamInfo& f = values.field(i);
    if (f.kind != core::ParamKind::OpenPath && f.kind != core::ParamKind::SavePath) {
      fields = true;
      continue;
    }
    const auto file = core::AskPathField(*prompter_, settings_, f);
    if (!file) return false;
    values.SetText(i, file->string());
  }
  if (!fields || c.dialog == core::kNoDialog) return true;
  const DialogDrawer draw = c.dialog.empty() ? &AskParams : FindDialog(c.dialog);
  if (!draw) return false;
  DialogCall call{this, values, doc, ctx_.get(), &c};
  if (!draw(call)) return false;
  values.Store(settings_);
  return true;
}

core::WaveDocument* MainFrame::Host::AdoptDocument(std::unique_ptr<core::WaveDocument> doc) {
  DocumentWindow* w = frame_.AddDocument(std::move(doc));
  return w ? &w->doc() : nullptr;
}

bool MainFrame::Host::RunSendDialog(send::SendFileSettings& values,
                                    send::SessionPasswords& session, const SendAction& send) {
  return RunSendFileDialog(&frame_, frame_.settings_, values, session, send);
}

bool MainFrame::Host::SaveDocument(core::WaveDocument& doc) {
  for (DocumentWindow* w : frame_.docs_)
    if (&w->doc() == &doc) return frame_.Save(w, doc.file().empty());
  return false;
}

void MainFrame::RecordCommand() {
  if (!active_) {
    const std::size_t before = docs_.size();
    Command(core::kCmdNewFile);
    if (docs_.size() == before || !active_) return;  // New File was cancelled
  }
  DocumentWindow* w = active_;
  playback_->Stop();
  QtRecordSession session(this, sound_, settings_, w->doc().Title());
  const platform::TaskResult r = devices::RecordCommand(*ctx_, w->doc(), session);
  ShowFailure(r);
  RefreshStates();
  if (r == platform::kTaskDone && session.result() == devices::kRecordNextResult) {
    // Record Next: the next take follows this one.
    core::WaveDocument& doc = w->doc();
    doc.SetSelection(doc.selEnd(), doc.selEnd(), doc.selEnd());
    QTimer::singleShot(0, this, [this] { Command(core::kCmdRecord); });
  }
}

void MainFrame::EditTagsCommand(DocumentWindow* w) {
  const std::filesystem::path& file = w->doc().file();
  // An untitled document has no kind yet: its tags wait for the save.
  if (!file.empty() && !formats::CanCarryTags(file)) {
    ShowMessageBox(this, formats::kTagsRefusedMessage, "Quillet", MessageIcon::Warning, MessageButtons::Ok);
    return;
  }
  if (AskEditTags(this, w->tags)) w->doc().SetModified(true);
}

DocumentWindow* MainFrame::PlayingWindow() const {
  for (DocumentWindow* w : docs_)
    if (&w->doc() == playback_->playing()) return w;
  return nullptr;
}

bool MainFrame::PlayCommand(int id, DocumentWindow* target) {
  DocumentWindow* w = target ? target : active_;
  if (id == core::kCmdStop) {
    playback_->Stop();
    return true;
  }
  if (id == kSpaceKey) {
    if (playback_->paused()) {
      playback_->Resume();
      return true;
    }
    if (playback_->IsPlaying()) {
      playback_->Pause();
      return true;
    }
  }
  if (!w) return false;
  playback_->Stop();
  playback_->SetSpeed(id == core::kCmdPlaySlow   ? devices::PlaySpeed::Slow
                      : id == core::kCmdPlayFast ? devices::PlaySpeed::Fast
                                           : devices::PlaySpeed::Normal);
  const core::WaveDocument& doc = w->doc();
  // A selection plays alone (and over and over with repeat); else from the cursor on.
  const bool range = doc.HasSelection();
  const FramePos from = range ? doc.selStart() : doc.cursor();
  const FramePos to = range ? doc.selEnd() : -1;
  if (!playback_->Play(doc, from >= doc.length() ? 0 : from, to)) {
    std::string text = kCheckPlayDeviceMessage;
    if (!playback_->message().empty()) text += "\n\n" + playback_->message();
    ShowMessageBox(this, text, "Quillet", MessageIcon::Information, MessageButtons::Ok);
    return true;
  }
  playback_->SetRepeat(id == core::kCmdPlayRepeat && range);
  // Played, but on the default device instead of a stored one that is gone.
  if (!playback_->message().empty()) statusBar()->showMessage(Q(playback_->message()), 12000);
  return true;
}

void MainFrame::BeginWind(bool forward) {
  DocumentWindow* w = active_;
  if (!w || wind_ != Wind::None) return;
  const bool wasPlaying = PlayingWindow() == w;
  const bool scrubbing = wasPlaying && playback_->paused();
  wind_ = scrubbing ? Wind::FromHold : wasPlaying ? Wind::FromPlay : Wind::FromStop;
  // With no sound device the cursor still moves, by a step.
  const FramePos at = wasPlaying ? playback_->position() : w->doc().cursor();
  if (!playback_->PlayRamp(w->doc(), at,
                           forward ? devices::ForwardRamp(scrubbing) : devices::RewindRamp(scrubbing))) {
    const FramePos step = FramePos{5} * w->doc().sampleRate();
    w->FollowPosition(std::clamp<FramePos>(at + (forward ? step : -step), 0, w->doc().length()));
    UpdateTimes();
  }
}

void MainFrame::EndWind() {
  if (wind_ == Wind::None) return;
  const Wind was = wind_;
  wind_ = Wind::None;
  windJustEnded_ = true;
  DocumentWindow* w = PlayingWindow();
  const FramePos at = w ? playback_->position() : 0;
  playback_->Stop();
  if (!w) return;
  w->FollowPosition(at);
  // Back to what it was doing before, from where the winding got to.
  if (was == Wind::FromStop) return;
  PlayCommand(core::kCmdPlay, w);
  if (was == Wind::FromHold) playback_->Pause();
}

void MainFrame::OnPlayPosition(std::int64_t frame) {
  if (DocumentWindow* w = PlayingWindow()) {
    w->FollowPosition(frame, playback_->paused());
    if (w == active_) UpdateTimes();
  }
}

void MainFrame::OnSeek(DocumentWindow* w, bool selection) {
  if (PlayingWindow() != w) return;
  if (playback_->paused()) {
    playback_->player().Reposition(w->doc().cursor());
    return;
  }
  // A new selection plays alone (repeating when it was); else play on from the cursor.
  const bool repeat = playback_->repeat();
  PlayCommand(selection && repeat && w->doc().HasSelection() ? core::kCmdPlayRepeat : core::kCmdPlay, w);
}

void MainFrame::OnPlayStopped() {
  meter_->Idle();
  for (DocumentWindow* w : docs_) w->FollowPosition(w->doc().cursor(), false);
  RefreshStates();
}

void MainFrame::ShowContextMenu(QPoint pos) {
  QMenu menu(this);
  AddEntries(&menu, LayOutContextMenu(commands_));
  menu.exec(pos);
}

bool MainFrame::HandleKey(int qtKey, Qt::KeyboardModifiers mods, bool autoRepeat) {
  if (autoRepeat) return false;
  if (qtKey == Qt::Key_Shift) {
    if (!shiftHeld_ && active_) {
      shiftHeld_ = true;
      shiftAnchor_ = active_->doc().cursor();
    }
    return false;
  }
  const std::uint32_t code = KeyCodeOf(qtKey, mods);
  if (code == 0) return false;
  if (const platform::HotKey* hot = platform::FindHotKey(hotKeys_, code)) {
    for (std::int32_t id : hot->commands) Command(id);  // IDs from the file are checked there
    return true;
  }
  const std::uint32_t vk = code & platform::kVirtualKeyMask;
  if ((mods & Qt::ShiftModifier) && shiftHeld_ && active_ &&
      (vk == kVkHome || vk == kVkEnd || vk == kVkLeft || vk == kVkRight || vk == kVkF7 ||
       vk == kVkF8)) {
    core::WaveDocument& doc = active_->doc();
    const FramePos step = std::max<FramePos>((doc.viewEnd() - doc.viewStart()) / 50, 1);
    FramePos to = doc.cursor();
    if (vk == kVkHome) to = 0;
    else if (vk == kVkEnd) to = doc.length();
    else if (vk == kVkLeft || vk == kVkF7) to -= step;
    else to += step;
    to = std::clamp<FramePos>(to, 0, doc.length());
    doc.SetSelection(shiftAnchor_, to, to);
    active_->FollowPosition(to);
    return true;
  }
  if (!(mods & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) &&
      (vk == kVkLeft || vk == kVkRight || vk == kVkF7 || vk == kVkF8)) {
    if (!busy_ && active_) BeginWind(vk == kVkRight || vk == kVkF8);
    return true;
  }
  const auto it = builtInKeys_.find(code);
  if (it == builtInKeys_.end()) return false;
  if (it->second == kSpaceKey) {
    if (!busy_) PlayCommand(kSpaceKey);
    RefreshStates();
  } else {
    Command(it->second);
  }
  return true;
}

void MainFrame::HandleKeyRelease(int qtKey) {
  if (qtKey == Qt::Key_Shift) shiftHeld_ = false;
  if (qtKey == Qt::Key_Left || qtKey == Qt::Key_Right || qtKey == Qt::Key_F7 ||
      qtKey == Qt::Key_F8) {
    EndWind();
    windJustEnded_ = false;
  }
}

void MainFrame::FitSubWindows() {
  const QRect room = mdi_->viewport()->rect();
  for (QMdiSubWindow* sub : mdi_->subWindowList()) {
    if (sub->isMaximized() || sub->isMinimized()) continue;
    QRect r = sub->geometry();
    // Keep the bottom row of buttons in sight: shrink to the room, at least 240 high.
    if (r.bottom() > room.bottom()) {
      r.setHeight(std::max(room.bottom() - std::max(r.top(), 0) + 1, 240));
      if (r.bottom() > room.bottom()) r.moveBottom(room.bottom());
    }
    if (r.right() > room.right()) r.setWidth(std::max(room.right() - std::max(r.left(), 0) + 1, 400));
    if (r.top() < 0) r.moveTop(0);
    if (r != sub->geometry()) sub->setGeometry(r);
  }
}

bool MainFrame::eventFilter(QObject* obj, QEvent* e) {
  if (e->type() == QEvent::Resize && mdi_ && obj == mdi_->viewport()) {
    FitSubWindows();
    return false;
  }
  // Every dialog, ours or the toolkit's, shows its whole title.
  if (e->type() == QEvent::Show && obj->isWidgetType() && qobject_cast<QDialog*>(obj)) {
    WidenToTitle(*static_cast<QWidget*>(obj));
    return false;
  }
  if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease &&
      e->type() != QEvent::ShortcutOverride)
    return QMainWindow::eventFilter(obj, e);
  // Keys belong to this window only: not to dialogs, menus or typed fields.
  if (QApplication::activePopupWidget() || QApplication::activeModalWidget() || busy_)
    return false;
  auto* target = qobject_cast<QWidget*>(obj);
  if (!target || target->window() != this || TakesText(QApplication::focusWidget()))
    return false;
  auto* ke = static_cast<QKeyEvent*>(e);
  if (ke->key() == Qt::Key_Space && TakesSpace(QApplication::focusWidget())) return false;
  if (e->type() == QEvent::KeyRelease) {
    if (!ke->isAutoRepeat()) HandleKeyRelease(ke->key());
    return false;
  }
  if (e->type() == QEvent::ShortcutOverride) return false;
  // A key not used here goes on to the parents and comes back; it is not used then
  // either, and a used key is consumed, so nothing runs twice.
  return HandleKey(ke->key(), ke->modifiers(), ke->isAutoRepeat());
}

void MainFrame::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void MainFrame::dropEvent(QDropEvent* e) {
  e->acceptProposedAction();
  for (const QUrl& url : e->mimeData()->urls()) {
    if (!url.isLocalFile()) continue;
    const std::string file = url.toLocalFile().toStdString();
    if (platform::SameExtension(platform::PathExtension(file), ".qlp"))
      project_->session().OpenProjectFile(file);
    else
      OpenFile(file);
  }
}

bool MainFrame::RunCommandLine(const std::vector<std::string>& args) {
  const EditorCommandLine cl = ParseEditorCommandLine(args);
  // A command line that ends the program is a script: nobody answers its boxes.
  const bool scripted = std::any_of(cl.steps.begin(), cl.steps.end(),
                                    [](const EditorArg& s) { return s.kind == EditorArg::Exit; });
  struct Unattended {
    bool previous;
    ~Unattended() { QtPrompter::SetUnattended(previous); }
  } unattended{QtPrompter::SetUnattended(scripted)};
  if (!scripted && WantsSplash(cl)) ShowSplash();
  for (const EditorArg& step : cl.steps) {
    switch (step.kind) {
      case EditorArg::OpenFile: OpenFile(step.text); break;
      case EditorArg::OpenProject: project_->session().OpenProjectFile(step.text); break;
      case EditorArg::Save:
        if (active_ && !Save(active_, active_->doc().file().empty())) saveFailed_ = true;
        break;
      case EditorArg::SaveAs:
        if (!active_ || step.text.empty() || !SaveAs(active_, step.text)) saveFailed_ = true;
        break;
      case EditorArg::Close: CloseDocument(active_); break;
      case EditorArg::Exit: return Exit();
      case EditorArg::Minimize: showMinimized(); break;
      case EditorArg::Maximize: showMaximized(); break;
      case EditorArg::Restore: showNormal(); break;
      case EditorArg::Window: {
        // The client area: the window less its frame, menus and bars.
        if (!step.width) break;
        const QSize extra = size() - centralWidget()->size();
        resize(step.width + extra.width(),
               (step.height ? step.height : centralWidget()->height()) + extra.height());
        break;
      }
      case EditorArg::Batch: BatchConverter(step.text); break;
      case EditorArg::Install:
        // Once the window is up and the event loop runs, as the other steps expect.
        QTimer::singleShot(500, this, [this] { InstallForUser(); });
        break;
      case EditorArg::RunEdit: break;
    }
  }
  return false;
}

void MainFrame::BatchConverter(const std::string& arg) {
  const bool script = arg.size() > 4 && platform::SameExtension(platform::PathExtension(arg), ".qlb");
  if (!arg.empty() && !script) batchLists_.files.emplace_back(arg);
  if (batchWizard_) {
    batchWizard_->FilesChanged();
  } else {
    batchWizard_ = new BatchWizard(this, batchLists_, *ctx_, commands_, *prompter_);
    batchWizard_->setAttribute(Qt::WA_DeleteOnClose);
  }
  if (script) batchWizard_->OpenScript(arg);
  batchWizard_->show();
  batchWizard_->raise();
  batchWizard_->activateWindow();
}

}  // namespace quillet::ui
