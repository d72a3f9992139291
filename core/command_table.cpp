#include "core/command_table.h"

#include <algorithm>

#include "core/clipboard.h"
#include "core/document.h"

namespace quillet::core {

bool CommandRegistry::Add(Command c) {
  std::string why;
  if (c.id == kCmdNone) why = "has no ID";
  else if (Find(c.id)) why = "has the ID of another command";
  else if (!c.cliName.empty() && FindCli(c.cliName)) why = "has the quillet-cli name of another";
  if (!why.empty()) {
    refusals_.push_back("Command " + std::to_string(c.id) + " (\"" + MenuLabel(c.menuText) +
                        "\") " + why + ".");
    return false;
  }
  commands_.push_back(std::move(c));
  return true;
}

const Command* CommandRegistry::Find(int id) const {
  for (const Command& c : commands_)
    if (c.id == id) return &c;
  return nullptr;
}

const Command* CommandRegistry::FindCli(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (const Command& c : commands_)
    if (c.cliName == name) return &c;
  return nullptr;
}

CommandId CommandRegistry::NextDynamicId() {
  while (Find(nextDynamic_)) ++nextDynamic_;
  return static_cast<CommandId>(nextDynamic_++);
}

bool IsEnabled(const Command& c, const CommandState& state) {
  if (state.busy) return false;
  const WaveDocument* doc = state.doc;
  const std::uint32_t needs = c.needs;
  const bool docNeeded = needs & (kNeedsDocument | kNeedsAudio | kNeedsSelection | kNeedsStereo |
                                  kNeedsUndo | kNeedsRedo);
  if (docNeeded && (!doc || doc->busy())) return false;
  if ((needs & kNeedsAudio) && doc->length() == 0) return false;
  if ((needs & kNeedsSelection) && !doc->HasSelection()) return false;
  if ((needs & kNeedsStereo) && doc->channels() != 2) return false;
  if ((needs & kNeedsUndo) && !doc->history().CanUndo()) return false;
  if ((needs & kNeedsRedo) && !doc->history().CanRedo()) return false;
  if ((needs & kNeedsClipboard) && (!state.clipboard || state.clipboard->Empty())) return false;
  if ((needs & kNeedsOpenDocuments) && state.openDocuments == 0) return false;
  return !c.enabled || c.enabled(state);
}


std::string MenuLabel(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, text.find('\t')))
    if (c != '&') out += c;
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::vector<const Command*> MacroCommands(const CommandRegistry& registry) {
  std::vector<const Command*> out;
  for (const Command& c : registry.all())
    if (!c.macroName.empty()) out.push_back(&c);
  std::stable_sort(out.begin(), out.end(),
                   [](const Command* a, const Command* b) { return a->macroOrder < b->macroOrder; });
  return out;
}

std::string MacroName(const CommandRegistry& registry, int id) {
  const Command* c = registry.Find(id);
  return c ? c->macroName : std::string();
}

CommandId MacroId(const CommandRegistry& registry, std::string_view name) {
  if (name.empty()) return kCmdNone;
  for (const Command& c : registry.all())
    if (c.macroName == name) return c.id;
  return kCmdNone;
}

}  // namespace quillet::core
