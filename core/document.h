#pragma once
// A document: its audio chain, selection, cursor, view, marks, undo history and
// whether it differs from its file. Every position kept here stays inside the audio.
// Documents live on the interface thread; a running task marks the document busy so
// that commands arriving while it pumps events leave it alone.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/chain.h"
#include "core/undo.h"
#include "platform/task.h"

namespace quillet::core {

class DocumentRecorder;

// Everything a document is, as the crash journal keeps it and recovery rebuilds it.
struct DocumentRecord {
  DocumentState present;
  FramePos mark1 = 0, mark2 = 0;
  std::uint64_t savedVersion = 0;
  std::uint64_t nextVersion = 0;
  int untitledNumber = 0;
  std::filesystem::path file;
  std::array<UndoHistory::Entry, kUndoEntries> undo;
  int undoIndex = 0;
};

class WaveDocument {
 public:
  // What changed, for the windows and menus that show the document.
  enum class Change { Selection, Audio, History, View };
  using Observer = std::function<void(Change)>;

  // A document over chain; an untitled one has number > 0 and no file.
  explicit WaveDocument(AudioChain chain, int untitledNumber = 0,
                        std::filesystem::path file = {});
  // A document as record describes it, history and versions included; positions are
  // clamped to its audio.
  static std::unique_ptr<WaveDocument> FromRecord(DocumentRecord record);
  ~WaveDocument();
  WaveDocument(const WaveDocument&) = delete;
  WaveDocument& operator=(const WaveDocument&) = delete;

  const AudioChain& chain() const { return chain_; }
  FrameCount length() const { return ChainLength(chain_); }
  std::uint32_t sampleRate() const { return chain_.sampleRate; }
  int channels() const { return chain_.channels; }
  // Replaces the audio (an edit already pushed to the history); positions are
  // clamped to the new length.
  void SetChain(AudioChain chain);
  // For edits that change the chain in place; call AudioChanged afterwards.
  AudioChain& mutableChain() { return chain_; }
  void AudioChanged();

  FramePos cursor() const { return cursor_; }
  FramePos selStart() const { return selStart_; }
  FramePos selEnd() const { return selEnd_; }
  FramePos viewStart() const { return viewStart_; }
  FramePos viewEnd() const { return viewEnd_; }
  FramePos mark1() const { return mark1_; }
  FramePos mark2() const { return mark2_; }
  bool HasSelection() const { return selStart_ < selEnd_; }

  // selStart = min(a, b), selEnd = max(a, b), each clamped to [0, length].
  void SetSelection(FramePos a, FramePos b, FramePos cursor);
  void SetCursor(FramePos cursor);
  void SetView(FramePos start, FramePos end);
  void ZoomFull() { SetView(0, length()); }
  void SetMark1(FramePos p) { mark1_ = Clamp(p); }
  void SetMark2(FramePos p) { mark2_ = Clamp(p); }

  // Snapshots the document under name before an edit; the document then counts as
  // modified.
  void PushUndo(std::string_view name);
  // False when there was nothing to undo or redo.
  bool Undo();
  bool Redo();
  const UndoHistory& history() const { return history_; }

  // Modified: the audio is not the version last saved (or opened). Undoing back to
  // that version clears it; undoing past a save sets it, because the file holds the
  // newer audio.
  bool modified() const { return version_ != savedVersion_; }
  std::uint64_t version() const { return version_; }
  std::uint64_t savedVersion() const { return savedVersion_; }
  std::uint64_t nextVersion() const { return nextVersion_; }
  void SetModified(bool modified);
  // The file now holds the present audio (after a save).
  void MarkSaved() { savedVersion_ = version_; Notify(Change::History); }

  int untitledNumber() const { return untitledNumber_; }
  const std::filesystem::path& file() const { return file_; }
  void SetFile(std::filesystem::path file);
  // The file name without its folder; without a file, the title given to new audio
  // (a CD track's), else "Untitled %d".
  std::string Title() const;
  void SetDisplayTitle(std::string title) { displayTitle_ = std::move(title); }

  platform::BusyFlag& busyFlag() { return busy_; }
  bool busy() const { return busy_.busy(); }

  void SetObserver(Observer observer) { observer_ = std::move(observer); }
  // Keeps a durable record of the document (the crash journal). It hears of the
  // present state at once and of every change after that, each only once no task
  // holds the document, so it never sees an edit half done. Null detaches it.
  void SetRecorder(std::unique_ptr<DocumentRecorder> recorder);
  DocumentRecorder* recorder() const { return recorder_.get(); }

 private:
  FramePos Clamp(FramePos p) const;
  DocumentState Snapshot() const;
  void Restore(DocumentState state);
  void Notify(Change c);
  void Record(Change c);

  AudioChain chain_;
  FramePos cursor_ = 0;
  FramePos selStart_ = 0, selEnd_ = 0;
  FramePos viewStart_ = 0, viewEnd_ = 0;
  FramePos mark1_ = 0, mark2_ = 0;
  UndoHistory history_;
  std::uint64_t version_ = 1;
  std::uint64_t savedVersion_ = 1;
  std::uint64_t nextVersion_ = 2;
  int untitledNumber_;
  std::filesystem::path file_;
  std::string displayTitle_;
  platform::BusyFlag busy_;
  Observer observer_;
  std::unique_ptr<DocumentRecorder> recorder_;
  std::optional<Change> recordPending_;  // held back while busy
};

class DocumentRecorder {
 public:
  virtual ~DocumentRecorder() = default;
  // doc is idle; c is the weightiest change since the last call (Audio or History
  // before Selection or View).
  virtual void Changed(const WaveDocument& doc, WaveDocument::Change c) = 0;
};

}  // namespace quillet::core
