#include "core/command_table.h"

#include "core/clipboard.h"
#include "core/document.h"

namespace quillet::core {

bool CommandRegistry::Add(Command c) {
  if (c.id == kCmdNone || Find(c.id)) return false;
  if (!c.cliName.empty() && FindCli(c.cliName)) return false;
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

}  // namespace quillet::core
