#pragma once
// The undo history: a ring of eight snapshots of a document's editable state. Each
// named entry holds the state before the edit named in it; the state after the last
// edit is kept under "Redo" from the first undo on. Two entries ahead of every push
// are emptied, so at most five undos in a row are possible, and as many redos.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/chain.h"

namespace quillet::core {

inline constexpr int kUndoEntries = 8;
inline constexpr std::size_t kMaxUndoNameLength = 259;

// What a snapshot restores: the audio (rate and channels travel with the chain), the
// selection, cursor and view, and which version of the audio it was (so that the
// modified state can be told from the saved version, not from a stored flag).
struct DocumentState {
  AudioChain chain;
  FramePos cursor = 0;
  FramePos selStart = 0, selEnd = 0;
  FramePos viewStart = 0, viewEnd = 0;
  std::uint64_t version = 0;
};

class UndoHistory {
 public:
  struct Entry {
    std::string name;  // empty: free
    DocumentState state;
  };

  // Moves one entry on, stores state under name (cut to 259 characters; an empty
  // name is stored as " " so that the entry counts as used) and empties the two
  // entries ahead.
  void Push(std::string_view name, DocumentState state);
  // The state to restore, or nullopt when there is nothing to undo. present is
  // called for the state to keep under "Redo" when that is not kept yet.
  std::optional<DocumentState> Undo(const std::function<DocumentState()>& present);
  std::optional<DocumentState> Redo();

  bool CanUndo() const { return Used(index_); }
  bool CanRedo() const { return Used(index_ + 2); }
  // "Undo %s\tCtrl+Z" with the name at the current entry; "Redo %s\tCtrl+Y" with the
  // name of the entry after it while Redo is possible, otherwise with an empty name.
  std::string UndoMenuText() const;
  std::string RedoMenuText() const;
  const std::string& UndoName() const { return entries_[index_].name; }
  std::string RedoName() const { return CanRedo() ? At(index_ + 1).name : std::string(); }

  // Frees every entry (the document is closing or starts a new history).
  void Clear();
  int index() const { return index_; }

  // The ring as it stands, for the crash journal, and the ring rebuilt from one
  // (index wraps into the ring).
  const Entry& entry(int i) const { return At(i); }
  void Load(std::array<Entry, kUndoEntries> entries, int index);

 private:
  static int Wrap(int i) { return ((i % kUndoEntries) + kUndoEntries) % kUndoEntries; }
  const Entry& At(int i) const { return entries_[static_cast<std::size_t>(Wrap(i))]; }
  Entry& At(int i) { return entries_[static_cast<std::size_t>(Wrap(i))]; }
  bool Used(int i) const { return !At(i).name.empty(); }
  void Free(int i);

  std::array<Entry, kUndoEntries> entries_;
  int index_ = 0;
};

}  // namespace quillet::core
