#pragma once
// The main frame: one window holding every document window, its menus, toolbars,
// command bar, transport and time panel, tabs and status line. It owns the list of
// documents, the program clipboard and the hot keys, runs every command of its
// command table (the modules' commands and its own), and asks to save changes before
// anything is closed.

#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "core/clipboard.h"
#include "core/command_table.h"
#include "core/edit_services.h"
#include "core/journal_keeper.h"
#include "core/marks.h"
#include "core/segment_store.h"
#include "formats/document_io.h"
#include "platform/hot_keys.h"
#include "platform/sound_device.h"
#include "send/send_command.h"
#include "settings/settings.h"
#include "ui/batch_wizard.h"
#include "ui/frame_model.h"

class QAction;
class QDockWidget;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QTabBar;
class QToolBar;

namespace quillet::ui {

class AnalysisWindows;
class DocumentWindow;
class ProjectFront;
class QtCdFront;
class QtPrompter;
class QtProgressFactory;
class QtSaveOptions;
class Transport;
class LevelMeterWidget;

class MainFrame : public QMainWindow {
  Q_OBJECT
 public:
  // commands: the modules' commands (app's BuildCommandRegistry); the frame adds its
  // own to its copy. sound: the device system to play on (null: ALSA).
  MainFrame(settings::Settings& settings, core::SegmentStore& store,
            core::CommandRegistry commands, std::filesystem::path keysFile = {},
            platform::SoundSystem* sound = nullptr, QWidget* parent = nullptr);
  ~MainFrame() override;

  // Runs one command ID (asking for its values first); false when it is unknown,
  // cannot run, or is disabled now.
  bool Command(int id);
  // The menu and bar action of a command that can run; null for any other ID.
  QAction* action(int id) const;
  const core::CommandRegistry& commands() const { return commands_; }

  // Opens file in a new document window under "Loading Audio File Source".
  DocumentWindow* OpenFile(const std::filesystem::path& file);
  DocumentWindow* NewDocument(std::uint32_t rate, int channels);
  // Save File (as when it has no file) or Save File As; true when it was saved.
  bool Save(DocumentWindow* w, bool askName);
  // Saves w into file; askOptions asks for the format's options first (Save As)
  // and shows a failure in its own box.
  bool SaveAs(DocumentWindow* w, const std::filesystem::path& file, bool askOptions = false);
  // With a save prompt when modified; false when the person cancelled (or the save
  // they asked for failed): the document stays open and modified.
  bool CloseDocument(DocumentWindow* w);
  // Close All: each modified document's save prompt (askDocuments), then with a
  // project open its question (askProject); false when cancelled, all still open.
  bool CloseAll(bool askDocuments = true, bool askProject = true);
  // Close all, store the placement and close the window; false when cancelled.
  bool Exit();
  // The project, its bookmarks and regions, and their windows.
  ProjectFront& project() { return *project_; }

  // Journals every document this frame holds (crash recovery); null: none.
  void SetJournals(core::JournalKeeper* journals) { journals_ = journals; }
  // Shows a document recovered from a copy that died (already journaled), with its
  // bookmarks and regions.
  DocumentWindow* AddRecoveredDocument(std::unique_ptr<class core::WaveDocument> doc, core::MarkLists marks = {});

  // The command line; returns true when it asked to exit and the frame did.
  bool RunCommandLine(const std::vector<std::string>& args);
  // A save asked for by the command line (or a command) failed.
  bool saveFailed() const { return saveFailed_; }

  std::vector<DocumentWindow*> documents() const { return docs_; }
  DocumentWindow* WindowOf(const core::WaveDocument* doc) const;
  DocumentWindow* active() const { return active_; }
  void Activate(DocumentWindow* w);
  const std::vector<platform::HotKey>& hotKeys() const { return hotKeys_; }
  void SetHotKeys(std::vector<platform::HotKey> keys) { hotKeys_ = std::move(keys); }
  core::EditContext& editContext() { return *ctx_; }
  core::ProgramClipboard& clipboard() { return clipboard_; }
  QTabBar* tabs() const { return tabs_; }
  QLabel* statusRate() const { return statusRate_; }
  QLabel* statusTimes() const { return statusTimes_; }
  QLabel* timeField(int i) const { return timeFields_[i]; }  // start, end, length, position
  QDockWidget* commandBar() const { return commandBar_; }
  QToolBar* transportBar() const { return transport_; }
  Transport& playback() { return *playback_; }
  LevelMeterWidget* levelMeter() const { return meter_; }
  QMdiArea* mdi() const { return mdi_; }
  // The frequency analysis windows, made on first use.
  AnalysisWindows& analysis();
  // Handles a key press as the frame does; true when it was used.
  bool HandleKey(int qtKey, Qt::KeyboardModifiers mods, bool autoRepeat);
  void HandleKeyRelease(int qtKey);

  void RefreshStates();

  // "Batch Converter": opens the wizard, or brings the open one forward. A non-empty
  // arg (from "-batch") is a ".qlb" script to load as the command list, or a file to
  // append to the file list.
  void BatchConverter(const std::string& arg = {});
  BatchWizard* batchWizard() const { return batchWizard_; }
  batch::BatchLists& batchLists() { return batchLists_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* obj, QEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void RegisterFrameCommands();
  void BuildMenus();
  void BuildBars();
  void AddEntries(QMenu* menu, const std::vector<struct MenuItem>& entries);
  core::CommandState State() const;
  // The command's values: stored, prepared, then its file dialogs and its dialog
  // (stored back on OK); false when the person cancelled.
  bool AskValues(const core::Command& c, core::ParamSet& values, core::WaveDocument* doc);
  void RebuildRecent();
  void LoadHotKeys(const std::filesystem::path& file);
  void RestorePlacement();
  void StorePlacement();
  void LayoutBars();
  void UpdateTabs();
  // Keeps every document window inside the document area.
  void FitSubWindows();
  void UpdateTimes();
  DocumentWindow* AddDocument(std::unique_ptr<class core::WaveDocument> doc);
  void RemoveDocument(DocumentWindow* w);
  bool AskSaveChanges(DocumentWindow* w);
  void NewFileCommand();
  void OptionsCommand();
  // "-install": the desktop file, types and actions for this user, then the end.
  void InstallForUser();
  void TileWindows(bool horizontal);
  // Lines the minimized windows up along the bottom, row above row.
  void ArrangeIcons();
  void ToneGeneratorCommand();
  // Opens the installed manual (at anchor) in the desktop's browser.
  void OpenManual(std::string_view anchor);
  void StepCommand(bool forward);
  void ToggleSetting(const char* key);
  bool PlayCommand(int id, DocumentWindow* target = nullptr);
  void RecordCommand();
  void EditTagsCommand(DocumentWindow* w);
  void OnPlayPosition(std::int64_t frame);
  void OnPlayStopped();
  void OnSeek(DocumentWindow* w, bool selection);
  // Rewind and fast forward while a key or button is held.
  void BeginWind(bool forward);
  void EndWind();
  DocumentWindow* PlayingWindow() const;
  formats::DispatchEnv Env(bool offerInstall = true);
  void ShowFailure(platform::TaskResult result);
  void ShowContextMenu(QPoint pos);
  void SetBusy(bool busy);
  friend class ProjectFront;

  // Documents made by commands (Copy To New, Split) join the frame through it; the
  // Send command finds its dialogs here.
  class Host final : public core::CommandHost, public send::SendFront {
   public:
    explicit Host(MainFrame& frame) : frame_(frame) {}
    core::WaveDocument* AdoptDocument(std::unique_ptr<core::WaveDocument> doc) override;
    int NextUntitledNumber() override { return frame_.nextUntitled_++; }
    bool RunSendDialog(send::SendFileSettings& values, send::SessionPasswords& session,
                       const SendAction& send) override;
    bool SaveDocument(core::WaveDocument& doc) override;
    send::SessionPasswords& sessionPasswords() override { return passwords_; }

   private:
    MainFrame& frame_;
    send::SessionPasswords passwords_;
  };

  settings::Settings& settings_;
  core::SegmentStore& store_;
  core::JournalKeeper* journals_ = nullptr;
  core::CommandRegistry commands_;
  Host host_{*this};
  // The CD commands' way to the load dialog and the open documents.
  std::unique_ptr<QtCdFront> cdFront_;
  std::unique_ptr<ProjectFront> project_;
  core::ProgramClipboard clipboard_;
  std::unique_ptr<QtPrompter> prompter_;
  std::unique_ptr<QtProgressFactory> progress_;
  std::unique_ptr<platform::SystemClipboard> systemClipboard_;
  std::unique_ptr<core::EditContext> ctx_;
  batch::BatchLists batchLists_;           // for the life of the program
  QPointer<BatchWizard> batchWizard_;
  formats::FormatsFileIo fileIo_;
  std::unique_ptr<QtSaveOptions> saveOptions_;
  platform::SoundSystem& sound_;
  std::unique_ptr<Transport> playback_;
  std::unique_ptr<AnalysisWindows> analysis_;
  LevelMeterWidget* meter_ = nullptr;
  RecentFiles recent_;
  QMdiArea* mdi_ = nullptr;
  QTabBar* tabs_ = nullptr;
  QMenu* fileMenu_ = nullptr;
  QAction* exitAction_ = nullptr;
  std::vector<QAction*> recentActions_;
  std::map<int, QAction*> actions_;
  QToolBar* mainBar_ = nullptr;
  QToolBar* effectsBar_ = nullptr;
  QToolBar* transport_ = nullptr;
  QDockWidget* commandBar_ = nullptr;
  QLabel* statusRate_ = nullptr;
  QLabel* statusTimes_ = nullptr;  // length, selection and cursor to the millisecond
  QLabel* timeFields_[4] = {};
  std::vector<DocumentWindow*> docs_;
  DocumentWindow* active_ = nullptr;
  std::vector<platform::HotKey> hotKeys_;
  std::filesystem::path keysFile_;  // where the Keys page saves them; empty: nowhere
  std::map<std::uint32_t, int> builtInKeys_;
  int nextUntitled_ = 1;
  bool saveFailed_ = false;
  bool exiting_ = false;
  bool busy_ = false;
  // Shift selection: held, and the frame where it began.
  enum class Wind { None, FromStop, FromPlay, FromHold };
  Wind wind_ = Wind::None;
  bool windJustEnded_ = false;
  bool shiftHeld_ = false;
  std::int64_t shiftAnchor_ = 0;
};

}  // namespace quillet::ui
