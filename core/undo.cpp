#include "core/undo.h"

namespace quillet::core {

void UndoHistory::Free(int i) {
  Entry& e = At(i);
  e.name.clear();
  e.state = DocumentState{AudioChain(e.state.chain.store())};  // drops the file references
}

void UndoHistory::Push(std::string_view name, DocumentState state) {
  index_ = Wrap(index_ + 1);
  Entry& e = At(index_);
  e.name = std::string(name.substr(0, kMaxUndoNameLength));
  if (e.name.empty()) e.name = " ";
  e.state = std::move(state);
  Free(index_ + 1);
  Free(index_ + 2);
}

std::optional<DocumentState> UndoHistory::Undo(const std::function<DocumentState()>& present) {
  if (!CanUndo()) return std::nullopt;
  if (!Used(index_ + 1)) {
    // Keep the present state for Redo, as a push would, one entry on.
    Entry& keep = At(index_ + 1);
    keep.name = "Redo";
    keep.state = present();
    Free(index_ + 2);
    Free(index_ + 3);
  }
  DocumentState restored = At(index_).state;
  index_ = Wrap(index_ - 1);
  return restored;
}

std::optional<DocumentState> UndoHistory::Redo() {
  if (!CanRedo()) return std::nullopt;
  DocumentState restored = At(index_ + 2).state;
  index_ = Wrap(index_ + 1);
  return restored;
}

std::string UndoHistory::UndoMenuText() const { return "Undo " + UndoName() + "\tCtrl+Z"; }
std::string UndoHistory::RedoMenuText() const { return "Redo " + RedoName() + "\tCtrl+Y"; }

void UndoHistory::Load(std::array<Entry, kUndoEntries> entries, int index) {
  entries_ = std::move(entries);
  index_ = Wrap(index);
}

void UndoHistory::Clear() {
  for (int i = 0; i < kUndoEntries; ++i) Free(i);
  index_ = 0;
}

}  // namespace quillet::core
