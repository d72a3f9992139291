#pragma once
// The command table: each command registered once with everything a front end needs
// (menu text and place, key, quillet-cli name, undo label, progress text, when it is
// enabled, its parameters and the function that runs it). The editor builds its
// menus, bars, keys and enabled states from it; quillet-cli's apply and help and the
// batch converter look commands up in it; plug-in hosts add entries at start-up.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/command_ids.h"
#include "core/edit_services.h"
#include "core/params.h"
#include "platform/result.h"

namespace quillet::core {

class ProgramClipboard;
class WaveDocument;

// When a command can run: every bit set must hold. Nothing runs while a task does.
enum Needs : std::uint32_t {
  kNeedsNothing = 0,
  kNeedsDocument = 1u << 0,   // an active document that no task is using
  kNeedsAudio = 1u << 1,      // ... holding at least one frame
  kNeedsSelection = 1u << 2,  // ... with a selection
  kNeedsStereo = 1u << 3,     // ... of two channels
  kNeedsUndo = 1u << 4,       // ... with something to undo
  kNeedsRedo = 1u << 5,       // ... with something to redo
  kNeedsClipboard = 1u << 6,  // the program clipboard holds audio
  kNeedsOpenDocuments = 1u << 7,  // at least one document is open
};

// What enable rules look at.
struct CommandState {
  const WaveDocument* doc = nullptr;  // the active document
  const ProgramClipboard* clipboard = nullptr;
  int openDocuments = 0;
  bool busy = false;  // a task is running
};

// How quillet-cli's --from and --to reach a command.
enum class CliRange : std::uint8_t {
  Effect,  // the range, or the whole document without one
  Edit,    // the range becomes the selection (none without --from/--to)
};

// Where a command sits in the menus.
struct MenuPlace {
  std::string_view menu;     // "&Effects"; empty: in no menu
  std::string_view submenu;  // empty: directly in the menu
  // Position in the menu (or submenu); commands whose orders differ in the hundreds
  // are split by a separator.
  int order = 0;
  bool contextMenu = false;  // also in the displays' right-click menu
};

// Where a command sits on the editor's bars: its position on each (0: not there);
// positions that differ in the hundreds are split by a separator.
struct BarPlace {
  int main = 0;     // the main toolbar
  int effects = 0;  // the effects toolbar
  int command = 0;  // the command bar
};

// Command::dialog of a command whose values the editor takes as loaded (and
// prepared) without asking: they are for quillet-cli and scripts.
inline constexpr std::string_view kNoDialog = "none";

// What a front end offers commands beyond the document.
class CommandHost {
 public:
  virtual ~CommandHost() = default;
  // Takes a document a command made (Copy To New, Split, recorded or synthesized
  // audio) and returns it, now the active document; null when the host keeps no
  // documents.
  virtual WaveDocument* AdoptDocument(std::unique_ptr<WaveDocument> doc) = 0;
  // The number of the next untitled document.
  virtual int NextUntitledNumber() = 0;
};

struct Command;

// One run of a command.
struct CommandCall {
  EditContext& ctx;
  WaveDocument* doc = nullptr;  // the active document; null only for commands that need none
  const ParamSet* params = nullptr;  // the command's values; set whenever it has a table
  CommandHost* host = nullptr;
  const Command* command = nullptr;  // the entry being run (labels, texts)
};

// A task result; a refusal or failure leaves its reason in call.ctx.message.
using CommandRun = std::function<platform::TaskResult(CommandCall& call)>;
using CommandPredicate = std::function<bool(const CommandState& state)>;
using CommandText = std::function<std::string(const CommandState& state)>;
// The filter its dialog's "Pre&view" plays the selection (frames [0, L)) through,
// built from the values as typed: clamped as the effect's preview clamps, or null with
// *refusal set for values it will not play.
using CommandPreview = std::function<audio::SourceHandle(
    audio::SourceHandle selection, const ParamSet& values, std::string* refusal)>;

struct Command {
  CommandId id = kCmdNone;
  std::string menuText;     // with its & mark; a shortcut shown after '\t'
  std::string description;  // the status line's text while the item is highlighted
  // The built-in shortcuts, "Ctrl+Shift+B" or several separated by ", ", as Qt
  // writes them ("Ctrl+Num++" for the keypad); empty: none.
  std::string keys;
  std::string cliName;      // quillet-cli apply's name; empty: not offered there
  std::string undoLabel;    // the undo entry's name; empty: not undoable
  std::string progressText; // the progress window's first line; empty: no window
  std::string progressCaption;  // the window's caption; empty: the undo label
  std::uint32_t needs = kNeedsNothing;
  const ParamTable* params = nullptr;  // its dialog's fields; null: none
  // The front end's own dialog for params ("equalizer", "cross-fade"); empty: the
  // generic one drawn from the table (or none without a table); kNoDialog: none.
  // Path fields are asked with their file dialogs first, before any other field.
  std::string dialog;
  MenuPlace place;
  BarPlace bars;
  CliRange range = CliRange::Effect;
  std::string macroName;  // the name in the hot-key editor's macro list; empty: not offered
  int macroOrder = 0;     // its place in that list
  std::string icon;       // a freedesktop icon name for the toolbars
  CommandRun run;
  CommandPredicate enabled;  // a rule beyond needs; empty: none
  CommandPredicate checked;  // set: the item is checkable and shows this
  CommandText text;          // set: the menu text follows the state (Undo, Redo)
  // Fills the values the editor's dialog starts from with what depends on the
  // document (the selection's times, say), after the stored values are loaded.
  // quillet-cli and scripts do not call it: their words and stored values decide.
  std::function<void(ParamSet& values, const WaveDocument* doc)> prepare;
  // Set: its dialog offers a preview on the sound device (effects/preview.h).
  CommandPreview preview;
};

class CommandRegistry {
 public:
  // Adds c; false, adding nothing, when its ID or quillet-cli name is already taken
  // (the reason is kept in refusals()).
  bool Add(Command c);
  const std::vector<std::string>& refusals() const { return refusals_; }
  // Null for an ID or name that is no command (IDs read from files are checked here).
  const Command* Find(int id) const;
  const Command* FindCli(std::string_view name) const;
  // In the order they were added; pointers stay valid as entries are added.
  const std::deque<Command>& all() const { return commands_; }
  // A fresh ID for a command made at run time.
  CommandId NextDynamicId();

 private:
  std::deque<Command> commands_;
  std::vector<std::string> refusals_;
  std::int32_t nextDynamic_ = kCmdFirstDynamic;
};

// The menu text without '&' marks, the shortcut after '\t' and trailing blanks.
std::string MenuLabel(std::string_view menuText);

// The commands a hot key's macro may hold, in the macro list's order.
std::vector<const Command*> MacroCommands(const CommandRegistry& registry);
// A macro command's name by ID ("" for any other ID) and its ID by exact name
// (kCmdNone when none has it).
std::string MacroName(const CommandRegistry& registry, int id);
CommandId MacroId(const CommandRegistry& registry, std::string_view name);

// Whether c may run now: not while busy, and every need and its own rule hold.
bool IsEnabled(const Command& c, const CommandState& state);

}  // namespace quillet::core
