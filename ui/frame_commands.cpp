// The editor's own commands (files, playback, view, windows, bars, help), registered
// in the frame's command table beside the modules' commands, with runs that reach
// the frame.
#include <QMdiArea>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMdiSubWindow>
#include <QUrl>
#include <QMessageBox>

#include <map>

#include "core/document.h"
#include "effects/conversion.h"
#include "formats/dispatch.h"
#include "batch/project.h"
#include "cd/commands.h"
#include "ui/analysis_windows.h"
#include "ui/cd_dialogs.h"
#include "ui/dialogs.h"
#include "ui/document_window.h"
#include "core/options.h"
#include "devices/device_choice.h"
#include "platform/desktop_files.h"
#include "platform/record_file.h"
#include "platform/related_program.h"
#include "ui/main_frame.h"
#include "ui/options_dialog.h"
#include "ui/view_math.h"
#include "ui/playback.h"
#include "ui/progress_dialog.h"
#include "ui/project_front.h"
#include "ui/qt_prompter.h"

namespace quillet::ui {
namespace {

using core::Command;
using core::CommandCall;
using core::CommandState;
using core::MenuPlace;
using platform::MessageButtons;
using platform::MessageIcon;
using platform::TaskResult;

constexpr TaskResult kDone = platform::kTaskDone;

MenuPlace In(std::string_view menu, int order, std::string_view submenu = {}) {
  return {menu, submenu, order, false};
}

}  // namespace

void MainFrame::NewFileCommand() {
  playback_->Stop();
  int rate = settings_.GetInt("Settings", "DefaultSampleRate", 44100);
  int channels = settings_.GetInt("Settings", "DefaultChannels", 1);
  if (settings_.GetBool("Settings", "PromptSampleAndChannels", true)) {
    core::ParamSet values(kNewFileTable);
    values.Load(settings_);
    DialogCall call{this, values, nullptr, ctx_.get()};
    if (!FindDialog("new-file")(call)) return;
    values.Store(settings_);
    rate = int(values.Int(0));
    channels = int(values.Int(1));
  }
  // A stored rate of 0 or a wild channel count must not reach the displays.
  if (!effects::CheckSampleRate(rate).ok()) rate = 44100;
  NewDocument(std::uint32_t(rate), channels == 2 ? 2 : 1);
}

void MainFrame::InstallForUser() {
  const bool actions = settings_.GetBool("Settings", "AddToWEContext", core::OptionValues{}.addToContextMenu);
  platform::ApplyDesktopChoice(  // failures ignored, as in Options
      platform::CurrentDesktopPlaces(),
      platform::InstallChoice(QCoreApplication::applicationFilePath().toStdString(), actions));
  Exit();
}

void MainFrame::OptionsCommand() {
  OptionsInput in;
  in.values = core::LoadOptions(settings_);
  in.devices = sound_.ListDevices(platform::StreamDirection::Playback);
  in.currentDevice = devices::ResolveDevice(in.devices, in.values.soundOutDevice,
                                            platform::StreamDirection::Playback)
                         .name;
  std::map<std::string, bool> byType;  // one xdg-mime query per type
  for (std::string_view ext : platform::kAssociationExtensions) {
    const std::string type = platform::MimeTypeOfExtension(ext);
    auto it = byType.find(type);
    if (it == byType.end()) it = byType.emplace(type, platform::OpensWithUs(ext)).first;
    in.associated.push_back(it->second);
  }
  in.keys = hotKeys_;

  OptionsSheet sheet(this, settings_, commands_, in);
  const bool accepted = sheet.exec() == QDialog::Accepted;
  if (sheet.recentDeleted()) RebuildRecent();
  if (!accepted) return;

  const core::OptionValues after = sheet.values();
  const bool folderChanged = core::StoreOptions(settings_, in.values, after);
  platform::DesktopChoice choice{.program = QCoreApplication::applicationFilePath().toStdString(),
                                 .contextActions = after.addToContextMenu};
  const std::vector<bool> marked = sheet.associated();
  for (std::size_t i = 0; i < marked.size(); ++i) {
    const std::string ext(platform::kAssociationExtensions[i]);
    if (marked[i]) choice.ours.push_back(ext);
    else if (in.associated[i]) choice.notOurs.push_back(ext);
  }
  platform::ApplyDesktopChoice(platform::CurrentDesktopPlaces(), choice);  // failures ignored

  hotKeys_ = sheet.keys();
  if (!keysFile_.empty() && !platform::SaveHotKeys(keysFile_, hotKeys_))
    ShowMessageBox(this, platform::kCannotOpenFileMessage, platform::kFileErrorCaption,
                   MessageIcon::Error, MessageButtons::Ok);
  RefreshStates();

  if (folderChanged) {
    ShowMessageBox(this, core::kShutDownMessage, core::kShutDownCaption, MessageIcon::Information,
                   MessageButtons::Ok);
    // The store of the old folder is released as the program ends.
    Exit();
  }
}

void MainFrame::TileWindows(bool horizontal) {
  std::vector<QMdiSubWindow*> shown;
  for (QMdiSubWindow* sub : mdi_->subWindowList())
    if (!sub->isMinimized() && !sub->isHidden()) shown.push_back(sub);
  const QSize area = mdi_->viewport()->size();
  const std::vector<TileRect> rects =
      TileRects(area.width(), area.height(), int(shown.size()), horizontal);
  for (std::size_t i = 0; i < rects.size(); ++i) {
    if (shown[i]->isMaximized()) shown[i]->showNormal();
    shown[i]->setGeometry(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
  }
}

void MainFrame::ToneGeneratorCommand() {
  const std::vector<std::string> argv = platform::SplitCommandLine(
      settings_.GetString("Tonesmith", "RunTonesmith", "", settings::Scope::Machine));
  if (argv.empty()) {
    ShowMessageBox(this,
                   "No tone generator program is set up. Put its command line into the "
                   "machine-wide settings file " +
                       settings_.locations().machineWriteFile.string() +
                       " as\n\n[Tonesmith]\nRunTonesmith=/path/to/program\n\nand choose Tone "
                       "Generator again.",
                   "Tone Generator", MessageIcon::Information, MessageButtons::Ok);
    return;
  }
  platform::RelatedProgramTask task("Tone Generator", argv);
  task.Run(*progress_);
  if (!task.message().empty())
    ShowMessageBox(this, task.message(), "Tone Generator", MessageIcon::Error, MessageButtons::Ok);
}

void MainFrame::ArrangeIcons() {
  const QSize area = mdi_->viewport()->size();
  int x = 0, row = 0;
  for (QMdiSubWindow* sub : mdi_->subWindowList()) {
    if (!sub->isMinimized()) continue;
    const QSize s = sub->size();
    if (x > 0 && x + s.width() > area.width()) {
      x = 0;
      ++row;
    }
    sub->move(x, area.height() - (row + 1) * s.height());
    x += s.width();
  }
}

void MainFrame::OpenManual(std::string_view anchor) {
  const std::filesystem::path manual = platform::ManualFile(QCoreApplication::applicationDirPath().toStdString());
  if (manual.empty()) {
    ShowMessageBox(this,
                   "The manual is not installed: share/quillet/help/index.html was not found "
                   "next to the program. Reinstall the quillet package.",
                   "Quillet", MessageIcon::Warning, MessageButtons::Ok);
    return;
  }
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(manual.string()));
  if (!anchor.empty()) url.setFragment(QString::fromUtf8(anchor.data(), qsizetype(anchor.size())));
  if (!QDesktopServices::openUrl(url))
    ShowMessageBox(this,
                   "The manual could not be opened: no web browser is set up for this desktop "
                   "(xdg-open failed). Open " + manual.string() + " in a browser.",
                   "Quillet", MessageIcon::Warning, MessageButtons::Ok);
}

// A click (menu, or a button let go at once) steps five seconds; held keys and
// buttons wind instead.
void MainFrame::StepCommand(bool forward) {
  if (windJustEnded_) {
    windJustEnded_ = false;
    return;
  }
  DocumentWindow* w = active_;
  const FramePos step = FramePos{5} * w->doc().sampleRate();
  const FramePos to =
      std::clamp<FramePos>(w->doc().cursor() + (forward ? step : -step), 0, w->doc().length());
  if (PlayingWindow() == w) playback_->player().Reposition(to);
  w->FollowPosition(to, playback_->paused());
}

void MainFrame::ToggleSetting(const char* key) {
  settings_.SetBool("Settings", key, !settings_.GetBool("Settings", key, true));
  LayoutBars();
  RefreshStates();
}

void MainFrame::RegisterFrameCommands() {
  using namespace core;
  // Each run ends in Done: the frame shows its own messages.
  auto run = [this](auto f) {
    return [this, f](CommandCall&) {
      f(this);
      return kDone;
    };
  };
  auto onActive = [this](void (DocumentWindow::*f)()) {
    return [this, f](CommandCall&) {
      (active_->*f)();
      return kDone;
    };
  };
  auto play = [this](CommandId id) {
    return [this, id](CommandCall&) {
      PlayCommand(id);
      return kDone;
    };
  };
  auto go = [this](bool end) {
    return [this, end](CommandCall&) {
      DocumentWindow* w = active_;
      const FramePos to = end ? w->doc().length() : 0;
      if (PlayingWindow() == w) playback_->player().Reposition(to);
      w->FollowPosition(to, playback_->paused());
      return kDone;
    };
  };
  auto setting = [this](const char* key, bool otherwise = false) {
    return [this, key, otherwise](const CommandState&) {
      return settings_.GetBool("Settings", key, true) != otherwise;
    };
  };
  auto displayMode = [this](int mode) {
    return [this, mode](CommandCall&) {
      active_->SetDisplayMode(mode);
      return kDone;
    };
  };
  auto showsMode = [this](int mode) {
    return [this, mode](const CommandState&) { return active_ && active_->displayMode() == mode; };
  };
  auto barSide = [this](bool left) {
    return [this, left](CommandCall&) {
      settings_.SetBool("Settings", "ShowCommandBarLeft", left);
      LayoutBars();
      RefreshStates();
      return kDone;
    };
  };
  auto window = [this](void (QMdiArea::*f)()) {
    return [this, f](CommandCall&) {
      (mdi_->*f)();
      return kDone;
    };
  };
  constexpr std::string_view kTools = "&Tools";
  constexpr std::string_view kFile = "&File", kView = "&View", kControl = "&Control",
                             kWindow = "&Window", kHelp = "&Help";
  constexpr std::uint32_t kDoc = kNeedsDocument;
  // clang-format off
  const core::Command commands[] = {
      {.id = kCmdNewFile, .menuText = "&New File...\tCtrl+N",
       .description = "Creates a new audio file.", .keys = "Ctrl+N", .place = In(kFile, 100),
       .bars = {.main = 100, .command = 1}, .run = run([](MainFrame* f) { f->NewFileCommand(); })},
      {.id = kCmdOpenFile, .menuText = "&Open File...\tCtrl+O",
       .description = "Opens an existing file.", .keys = "Ctrl+O", .place = In(kFile, 110),
       .bars = {.main = 110, .command = 2},
       .run = run([](MainFrame* f) {
         f->playback_->Stop();
         for (const auto& file : formats::ChooseFilesToOpen(*f->prompter_, f->settings_)) f->OpenFile(file);
       })},
      {.id = kCmdCloseFile, .menuText = "Close File", .description = "Closes the current file.",
       .needs = kDoc, .place = In(kFile, 130),
       .run = run([](MainFrame* f) { f->CloseDocument(f->active_); })},
      {.id = kCmdSaveFile, .menuText = "&Save File\tCtrl+S",
       .description = "Saves the current file.", .keys = "Ctrl+S", .needs = kDoc,
       .place = In(kFile, 200), .bars = {.main = 120, .command = 3},
       .run = run([](MainFrame* f) { f->Save(f->active_, f->active_->doc().file().empty()); })},
      {.id = kCmdSaveFileAs, .menuText = "Save File &As...",
       .description = "Saves the current file with a new name or format.", .keys = "Ctrl+Alt+S",
       .needs = kDoc, .place = In(kFile, 210), .bars = {.command = 4},
       .run = run([](MainFrame* f) { f->Save(f->active_, true); })},
      {.id = kCmdEditTags, .menuText = "Edit ID3 Tags...", .needs = kDoc, .place = In(kFile, 520),
       .run = run([](MainFrame* f) { f->EditTagsCommand(f->active_); })},
      {.id = kCmdBatchConverter, .menuText = "Batch Converter",
       .description = "Applies multiple effect or edit functions on the current file at once.",
       .place = In("&Tools", 300), .run = run([](MainFrame* f) { f->BatchConverter(); })},
      {.id = kCmdExit, .menuText = "E&xit\tAlt+F4", .description = "Quit", .keys = "Alt+F4, Ctrl+Q",
       .place = In(kFile, 700), .run = run([](MainFrame* f) { f->Exit(); })},

      {.id = kCmdShowCommandBar, .menuText = "Show Command Bar\tCtrl+Shift+A",
       .keys = "Ctrl+Shift+A", .place = In(kView, 100),
       .run = run([](MainFrame* f) { f->ToggleSetting("ShowCommandBar"); }),
       .checked = setting("ShowCommandBar")},
      {.id = kCmdCommandBarLeft, .menuText = "On the Left", .place = In(kView, 110, "Command Bar"),
       .run = barSide(true), .checked = setting("ShowCommandBarLeft")},
      {.id = kCmdCommandBarRight, .menuText = "On the Right",
       .place = In(kView, 111, "Command Bar"), .run = barSide(false),
       .checked = setting("ShowCommandBarLeft", true)},
      {.id = kCmdMainToolbar, .menuText = "Main ToolBar", .place = In(kView, 120),
       .run = run([](MainFrame* f) { f->ToggleSetting("ShowMainToolbar"); }),
       .checked = setting("ShowMainToolbar")},
      {.id = kCmdEffectsToolbar, .menuText = "Effects ToolBar", .place = In(kView, 130),
       .run = run([](MainFrame* f) { f->ToggleSetting("ShowEffectsToolbar"); }),
       .checked = setting("ShowEffectsToolbar")},
      {.id = kCmdZoomIn, .menuText = "Zoom &In\tCtrl+Plus", .description = "Zoom In",
       .keys = "Ctrl+Num++, Ctrl+=, Ctrl+Shift+=", .needs = kDoc, .place = In(kView, 200),
       .bars = {.main = 500}, .run = onActive(&DocumentWindow::ZoomIn)},
      {.id = kCmdZoomOut, .menuText = "Zoom &Out\tCtrl+Minus", .description = "Zoom Out",
       .keys = "Ctrl+Num+-, Ctrl+-", .needs = kDoc, .place = In(kView, 210),
       .bars = {.main = 510}, .run = onActive(&DocumentWindow::ZoomOut)},
      {.id = kCmdZoomSelection, .menuText = "Zoom To &Selection\tCtrl+Shift+S",
       .description = "Zoom Selection", .keys = "Ctrl+Shift+S", .needs = kDoc,
       .place = In(kView, 220), .bars = {.main = 520},
       .run = onActive(&DocumentWindow::ZoomSelection)},
      {.id = kCmdZoomFull, .menuText = "Zoom &Full\tCtrl+Shift+F", .description = "Zoom Full",
       .keys = "Ctrl+Shift+F", .needs = kDoc, .place = In(kView, 230), .bars = {.main = 530},
       .run = onActive(&DocumentWindow::ZoomFull)},
      {.id = kCmdVerticalZoom, .menuText = "&Vertical Zoom\tCtrl+Shift+V",
       .description = "Vertical Zoom", .keys = "Ctrl+Shift+V", .needs = kDoc,
       .place = In(kView, 240), .run = onActive(&DocumentWindow::ToggleVerticalZoom),
       .checked = [this](const CommandState&) { return active_ && active_->verticalZoom(); }},
      {.id = kCmdDisplayPlusMinus, .menuText = "Display Wave Form in + /-",
       .description = "Wave display + up / - down", .needs = kDoc | kNeedsStereo,
       .place = In(kView, 300), .run = displayMode(0), .checked = showsMode(0)},
      {.id = kCmdDisplayLeftRight, .menuText = "Display Wave Form in L / R",
       .description = "Wave display left channel up / right channel down.",
       .needs = kDoc | kNeedsStereo, .place = In(kView, 310), .run = displayMode(1),
       .checked = showsMode(1)},

      {.id = kCmdRecord, .menuText = "&Record\tF5",
       .description = "Records at the current position (or over selection).", .keys = "F5",
       .place = In(kControl, 100), .bars = {.main = 420},
       .run = run([](MainFrame* f) { f->RecordCommand(); }),
       // Without a document it records into a new one.
       .enabled = [](const CommandState& s) { return !s.doc || !s.doc->busy(); }},
      {.id = kCmdPlay, .menuText = "&Play\tF9",
       .description = "Plays the current file from the current position.", .keys = "F9",
       .needs = kDoc, .place = In(kControl, 110), .bars = {.main = 400}, .macroName = "Play", .macroOrder = 280,
       .run = play(kCmdPlay)},
      {.id = kCmdPlaySlow, .menuText = "Play S&low Speed\tF11",
       .description = "Plays the current file from the current position at slow speed.",
       .keys = "F11", .needs = kDoc, .place = In(kControl, 120), .run = play(kCmdPlaySlow)},
      {.id = kCmdPlayNormal, .menuText = "Play &Normal Speed\tF10",
       .description = "Plays the current file from the current position at normal speed.",
       .keys = "F10", .needs = kDoc, .place = In(kControl, 130), .run = play(kCmdPlayNormal)},
      {.id = kCmdPlayFast, .menuText = "Play &Fast Speed\tF12",
       .description = "Plays the current file from the current position at fast speed.",
       .keys = "F12", .needs = kDoc, .place = In(kControl, 140), .run = play(kCmdPlayFast)},
      {.id = kCmdPlayRepeat, .menuText = "Play Repea&t\tShift+F9",
       .description = "Repeats playing the current selection.", .keys = "Shift+F9",
       .needs = kDoc, .place = In(kControl, 150), .run = play(kCmdPlayRepeat)},
      {.id = kCmdStop, .menuText = "&Stop\tEsc", .description = "Stops playback.", .keys = "Esc",
       .needs = kDoc, .place = In(kControl, 160), .bars = {.main = 410}, .macroName = "Stop", .macroOrder = 290,
       .run = play(kCmdStop)},
      {.id = kCmdGoToStart, .menuText = "&Go To Start\tHome",
       .description = "Moves to the start of the file.", .keys = "Home", .needs = kDoc,
       .place = In(kControl, 200), .run = go(false)},
      {.id = kCmdGoToEnd, .menuText = "Go To &End\tEnd",
       .description = "Moves to the end of the current file.", .keys = "End", .needs = kDoc,
       .place = In(kControl, 210), .run = go(true)},
      {.id = kCmdRewind, .menuText = "Rewind\tF7", .description = "Rewinds", .needs = kDoc,
       .place = In(kControl, 220), .run = run([](MainFrame* f) { f->StepCommand(false); })},
      {.id = kCmdForward, .menuText = "Fast Forward\tF8", .description = "Fast-forwards",
       .needs = kDoc, .place = In(kControl, 230),
       .run = run([](MainFrame* f) { f->StepCommand(true); })},

      {.id = kCmdFrequencyAnalysis, .menuText = "&Frequency Analysis (FFT)",
       .description = "Shows the level of each frequency at the cursor.", .needs = kDoc,
       .place = In("&Tools", 100),
       .run = [this](CommandCall&) {
         return analysis().ShowFrequency(active_, true) ? kDone : platform::kTaskFailed;
       }},
      {.id = kCmdTemporalAnalysis, .menuText = "T&emporal Frequency Analysis (TFFT)",
       .description = "Shows how the frequencies of the selection change over time.",
       .needs = kDoc | kNeedsSelection, .place = In("&Tools", 110),
       .run = [this](CommandCall&) { return analysis().ShowTemporal(active_); }},

      {.id = kCmdCascade, .menuText = "&Cascade", .description = "Cascade windows on the Desktop",
       .needs = kNeedsOpenDocuments, .place = In(kWindow, 100),
       .run = window(&QMdiArea::cascadeSubWindows)},
      {.id = kCmdTileHorizontal, .menuText = "Tile &Horizontal",
       .description = "Tile windows horizontally", .needs = kNeedsOpenDocuments,
       .place = In(kWindow, 110), .run = run([](MainFrame* f) { f->TileWindows(true); })},
      {.id = kCmdTileVertical, .menuText = "Tile &Vertical",
       .description = "Tile windows vertically", .needs = kNeedsOpenDocuments,
       .place = In(kWindow, 120), .run = run([](MainFrame* f) { f->TileWindows(false); })},
      {.id = kCmdArrangeIcons, .menuText = "&Arrange Icons",
       .description = "Arrange minimized windows", .needs = kNeedsOpenDocuments,
       .place = In(kWindow, 130), .run = run([](MainFrame* f) { f->ArrangeIcons(); })},
      {.id = kCmdCloseAll, .menuText = "Close Al&l", .description = "Closes all windows.",
       .needs = kNeedsOpenDocuments, .place = In(kWindow, 200),
       .run = run([](MainFrame* f) { f->CloseAll(); })},

      {.id = kCmdOptions, .menuText = "&Options...",
       .description = "Changes the program's settings, file types and hot keys.",
       .place = In(kTools, 900), .run = run([](MainFrame* f) { f->OptionsCommand(); })},

      {.id = kCmdToneGenerator, .menuText = "Tone &Generator", .description = "Creates new tones.",
       .place = In(kTools, 300), .run = run([](MainFrame* f) { f->ToneGeneratorCommand(); })},

      {.id = kCmdHelp, .menuText = "&Help Contents\tF1", .description = "Displays the manual.",
       .keys = "F1", .place = In(kHelp, 90),
       .run = run([](MainFrame* f) { f->OpenManual({}); })},
      {.id = kCmdHomePage, .menuText = "Quillet &Home Page",
       .description = "Shows where Quillet comes from and how to get new versions.",
       .place = In(kHelp, 92), .run = run([](MainFrame* f) { f->OpenManual("home"); })},
      {.id = kCmdSupport, .menuText = "Technical &Support",
       .description = "Shows how to report a problem.", .place = In(kHelp, 94),
       .run = run([](MainFrame* f) { f->OpenManual("support"); })},

      {.id = kCmdAbout, .menuText = "&About Quillet...",
       .description = "Displays program information including version number",
       .place = In(kHelp, 100), .run = run([](MainFrame* f) {
         QMessageBox::about(f, "About Quillet", "Quillet sound editor\nVersion " QT_STRINGIFY(0.1));
       })},
  };
  // clang-format on
  for (const core::Command& c : commands) commands_.Add(c);
  cdFront_ = std::make_unique<QtCdFront>(this, settings_, [this] {
    std::vector<const core::WaveDocument*> docs;
    for (DocumentWindow* w : docs_) docs.push_back(&w->doc());
    return docs;
  });
  cd::RegisterCdCommands(commands_, *cdFront_);
  batch::RegisterProjectCommands(commands_, project_->session(), *project_);
}

}  // namespace quillet::ui
