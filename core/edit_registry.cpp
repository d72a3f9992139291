// The Edit menu's commands, each registered once with its texts, keys, places, enable
// rule, parameters and run.
#include "core/edit_commands.h"
#include "core/edit_params.h"
#include "core/edit_task.h"
#include "core/time_text.h"

namespace quillet::core {
namespace {

using platform::TaskResult;


template <TaskResult (*F)(EditContext&, WaveDocument&)>
TaskResult Plain(CommandCall& c) {
  return (F(c.ctx, *c.doc));
}

// Selection and mark commands change no audio and cannot fail.
template <void (*F)(WaveDocument&)>
TaskResult Select(CommandCall& c) {
  F(*c.doc);
  return platform::kTaskDone;
}
template <void (*F)(EditContext&, WaveDocument&)>
TaskResult Mark(CommandCall& c) {
  F(c.ctx, *c.doc);
  return platform::kTaskDone;
}

// Copy To New and Split hand their document to the front end.
template <std::unique_ptr<WaveDocument> (*F)(EditContext&, WaveDocument&, int)>
TaskResult MakeDocument(CommandCall& c) {
  if (!c.host) return (FailEdit(c.ctx, nullptr, "A new document needs the editor."));
  std::unique_ptr<WaveDocument> made = F(c.ctx, *c.doc, c.host->NextUntitledNumber());
  if (!made) return platform::kTaskFailed;
  c.host->AdoptDocument(std::move(made));
  return platform::kTaskDone;
}

template <InsertWhere W>
TaskResult InsertSilenceAt(CommandCall& c) {
  return (InsertSilence(c.ctx, *c.doc, W, c.params->Int(0)));
}
template <InsertWhere W>
TaskResult InsertFileAt(CommandCall& c) {
  return (InsertFile(c.ctx, *c.doc, W, c.params->Text(0)));
}

std::string UndoText(const CommandState& s) {
  return s.doc ? s.doc->history().UndoMenuText() : "Undo \tCtrl+Z";
}
std::string RedoText(const CommandState& s) {
  return s.doc ? s.doc->history().RedoMenuText() : "Redo \tCtrl+Y";
}

constexpr std::string_view kEdit = "&Edit";
constexpr std::string_view kSilenceMenu = "Insert &Silence";
constexpr std::string_view kFileMenu = "Insert &File";

}  // namespace

void RegisterEditCommands(CommandRegistry& r) {
  const MenuPlace edit{kEdit, {}, 0, true};
  auto at = [&](int order, std::string_view submenu = {}) {
    MenuPlace p = edit;
    p.order = order;
    p.submenu = submenu;
    return p;
  };
  // clang-format off
  const Command commands[] = {
      {.id = kCmdUndo, .menuText = "Undo \tCtrl+Z", .keys = "Ctrl+Z", .cliName = "undo",
       .needs = kNeedsUndo, .place = at(100), .bars = {.main = 300}, .range = CliRange::Edit,
       .run = &Plain<UndoEdit>, .text = &UndoText},
      {.id = kCmdRedo, .menuText = "Redo \tCtrl+Y", .keys = "Ctrl+Y", .cliName = "redo",
       .needs = kNeedsRedo, .place = at(110), .bars = {.main = 310}, .range = CliRange::Edit,
       .run = &Plain<RedoEdit>, .text = &RedoText},
      {.id = kCmdCut, .menuText = "Cu&t\tCtrl+X", .keys = "Ctrl+X", .cliName = "cut",
       .undoLabel = "Cut", .needs = kNeedsSelection, .place = at(200),
       .bars = {.main = 200, .command = 5}, .range = CliRange::Edit, .run = &Plain<Cut>},
      {.id = kCmdCopy, .menuText = "&Copy\tCtrl+C", .keys = "Ctrl+C", .cliName = "copy",
       .needs = kNeedsSelection, .place = at(210), .bars = {.main = 210, .command = 6},
       .range = CliRange::Edit, .run = &Plain<Copy>},
      {.id = kCmdPaste, .menuText = "&Paste\tCtrl+V", .keys = "Ctrl+V", .cliName = "paste",
       .undoLabel = "Paste", .needs = kNeedsDocument | kNeedsClipboard, .place = at(220),
       .bars = {.main = 220, .command = 7}, .range = CliRange::Edit, .run = &Plain<Paste>},
      {.id = kCmdPasteSystem, .menuText = "Paste From System Clipboard", .undoLabel = "Paste",
       .needs = kNeedsDocument, .place = at(230), .run = &Plain<PasteFromSystem>},
      {.id = kCmdPasteMix, .menuText = "Paste Mi&x...\tCtrl+M", .keys = "Ctrl+M",
       .cliName = "paste-mix", .undoLabel = "Paste Mix",
       .needs = kNeedsDocument | kNeedsClipboard, .params = &kPasteMixTable, .dialog = "mix",
       .place = at(240), .range = CliRange::Edit,
       .run = [](CommandCall& c) {
         return (PasteMix(c.ctx, *c.doc, MixParamsOf(*c.params, 0, *c.doc)));
       }},
      {.id = kCmdPasteMixSystem, .menuText = "Paste Mix From System Clipboard...",
       .undoLabel = "Paste Mix", .needs = kNeedsDocument, .params = &kPasteMixTable,
       .dialog = "mix", .place = at(250),
       .run = [](CommandCall& c) {
         return (PasteMixFromSystem(c.ctx, *c.doc, MixParamsOf(*c.params, 0, *c.doc)));
       }},
      {.id = kCmdDelete, .menuText = "&Delete\tDel", .keys = "Del", .cliName = "delete",
       .undoLabel = "Delete", .needs = kNeedsSelection, .place = at(260),
       .bars = {.main = 230, .command = 8}, .range = CliRange::Edit, .run = &Plain<Delete>},
      {.id = kCmdSelectAll, .menuText = "Select &All\tCtrl+A", .keys = "Ctrl+A",
       .cliName = "select-all", .needs = kNeedsDocument, .place = at(300),
       .bars = {.command = 10}, .range = CliRange::Edit, .macroName = "Select All", .macroOrder = 10,
       .run = &Select<SelectAll>},
      {.id = kCmdSelectToStart, .menuText = "Select To Start", .cliName = "select-to-start",
       .needs = kNeedsDocument, .place = at(310), .range = CliRange::Edit,
       .run = &Select<SelectToStart>},
      {.id = kCmdSelectToEnd, .menuText = "Select To &End\tCtrl+E", .keys = "Ctrl+E",
       .cliName = "select-to-end", .needs = kNeedsDocument, .place = at(320),
       .range = CliRange::Edit, .run = &Select<SelectToEnd>},
      {.id = kCmdSelectTime, .menuText = "Select Specified Time...\tCtrl+G", .keys = "Ctrl+G",
       .cliName = "select-time", .needs = kNeedsDocument, .params = &kSelectTimeTable,
       .dialog = "select-time", .place = at(330), .range = CliRange::Edit,
       .run = [](CommandCall& c) {
         SelectTime(*c.doc, ParseTimeText(c.params->Text(0)), ParseTimeText(c.params->Text(1)));
         return platform::kTaskDone;
       },
       .prepare = &PrepareSelectTime},
      {.id = kCmdMixFile, .menuText = "&Mix File...", .cliName = "mix-file",
       .undoLabel = "Mix File", .needs = kNeedsDocument, .params = &kMixFileTable,
       .dialog = "mix", .place = at(400), .range = CliRange::Edit,
       .run = [](CommandCall& c) {
         return (MixFile(c.ctx, *c.doc, c.params->Text(0), MixParamsOf(*c.params, 1, *c.doc)));
       }},
      {.id = kCmdRepeatLoop, .menuText = "&Repeat Loop...", .cliName = "repeat",
       .undoLabel = "Repeat Loop", .needs = kNeedsSelection, .params = &kRepeatLoopTable,
       .place = at(410), .range = CliRange::Edit,
       .macroName = "Repeat Loop", .macroOrder = 20,
       .run = [](CommandCall& c) {
         return (RepeatLoop(c.ctx, *c.doc, int(c.params->Int(0))));
       }},
      {.id = kCmdTrim, .menuText = "T&rim\tCtrl+T", .keys = "Ctrl+T", .cliName = "trim",
       .undoLabel = "Trim", .needs = kNeedsSelection, .place = at(420),
       .bars = {.effects = 140, .command = 9}, .range = CliRange::Edit, .run = &Plain<Trim>},
      {.id = kCmdTrimStart, .menuText = "Trim Start", .cliName = "trim-start",
       .undoLabel = "Trim Start", .needs = kNeedsDocument, .place = at(430),
       .range = CliRange::Edit, .run = &Plain<TrimStart>},
      {.id = kCmdTrimEnd, .menuText = "Trim End", .cliName = "trim-end", .undoLabel = "Trim End",
       .needs = kNeedsDocument, .place = at(440), .range = CliRange::Edit, .run = &Plain<TrimEnd>},
      {.id = kCmdSilence, .menuText = "Silence Select Region", .cliName = "silence",
       .undoLabel = "Edit Silence", .needs = kNeedsSelection, .place = at(460),
       .range = CliRange::Edit, .macroName = "Silence Selected Region", .macroOrder = 40,
       .run = &Plain<Silence>},
      {.id = kCmdInsertSilenceStart, .menuText = "Insert Silence at Begin...",
       .cliName = "insert-silence-start", .undoLabel = "Insert Silence At The Start",
       .needs = kNeedsDocument, .params = &kInsertSilenceTable, .place = at(470, kSilenceMenu),
       .range = CliRange::Edit, .macroName = "Insert Silence At The Start", .macroOrder = 50,
       .run = &InsertSilenceAt<InsertWhere::Start>},
      {.id = kCmdInsertSilenceHere, .menuText = "Insert Silence at Current...",
       .cliName = "insert-silence-here", .undoLabel = "Insert Silence At Current Position",
       .needs = kNeedsDocument, .params = &kInsertSilenceTable, .place = at(471, kSilenceMenu),
       .range = CliRange::Edit, .macroName = "Insert Silence At Current Position", .macroOrder = 60,
       .run = &InsertSilenceAt<InsertWhere::Cursor>},
      {.id = kCmdInsertSilenceEnd, .menuText = "Insert Silence at End...",
       .cliName = "insert-silence-end", .undoLabel = "Insert Silence At The End",
       .needs = kNeedsDocument, .params = &kInsertSilenceTable, .place = at(472, kSilenceMenu),
       .range = CliRange::Edit, .macroName = "Insert Silence At The End", .macroOrder = 70,
       .run = &InsertSilenceAt<InsertWhere::End>},
      {.id = kCmdInsertFileStart, .menuText = "Insert File at Begin...",
       .cliName = "insert-file-start", .undoLabel = "Insert File At Beginning",
       .needs = kNeedsDocument, .params = &kInsertFileTable, .place = at(480, kFileMenu),
       .range = CliRange::Edit, .macroName = "Insert File At Beginning", .macroOrder = 80,
       .run = &InsertFileAt<InsertWhere::Start>},
      {.id = kCmdInsertFileHere, .menuText = "Insert File at Current...",
       .cliName = "insert-file-here", .undoLabel = "Insert File At Current Position",
       .needs = kNeedsDocument, .params = &kInsertFileTable, .place = at(481, kFileMenu),
       .range = CliRange::Edit, .macroName = "Insert File At Current Position", .macroOrder = 90,
       .run = &InsertFileAt<InsertWhere::Cursor>},
      {.id = kCmdInsertFileEnd, .menuText = "Insert File at End...",
       .cliName = "insert-file-end", .undoLabel = "Insert File At The End",
       .needs = kNeedsDocument, .params = &kInsertFileTable, .place = at(482, kFileMenu),
       .range = CliRange::Edit, .macroName = "Insert File At The End", .macroOrder = 100,
       .run = &InsertFileAt<InsertWhere::End>},
      {.id = kCmdCopyToNew, .menuText = "Copy To New", .needs = kNeedsSelection,
       .place = at(500), .bars = {.effects = 150}, .run = &MakeDocument<CopyToNew>},
      {.id = kCmdSaveRegion, .menuText = "Save Select Region As...", .needs = kNeedsSelection,
       .params = &kSaveRegionTable, .place = at(510),
       .run = [](CommandCall& c) {
         return (SaveSelectionAs(c.ctx, *c.doc, c.params->Text(0)));
       }},
      {.id = kCmdSplit, .menuText = "Split into two at this point", .needs = kNeedsDocument,
       .place = at(520), .run = &MakeDocument<Split>},
      {.id = kCmdMarkFirst, .menuText = "Mark First Position", .needs = kNeedsDocument,
       .place = at(600), .run = &Mark<MarkFirst>},
      {.id = kCmdMarkSecond, .menuText = "Mark Second Position", .needs = kNeedsDocument,
       .place = at(610), .run = &Mark<MarkSecond>},
      {.id = kCmdRecallMarks, .menuText = "Recall Mark Selection", .needs = kNeedsDocument,
       .place = at(620), .run = &Mark<RecallMarks>},
  };
  // clang-format on
  for (const Command& c : commands) r.Add(c);
}

}  // namespace quillet::core
