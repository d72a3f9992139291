#include "core/document.h"

#include <algorithm>
#include <utility>

namespace quillet::core {
namespace {

// Never equal to a version: the document differs from its file whatever happens.
constexpr std::uint64_t kNoSavedVersion = 0;

// Positions and view first, then anything else; the recorder needs to hear of one.
bool Weightier(WaveDocument::Change a, WaveDocument::Change b) {
  auto weight = [](WaveDocument::Change c) {
    return c == WaveDocument::Change::Audio || c == WaveDocument::Change::History ? 1 : 0;
  };
  return weight(a) > weight(b);
}

}  // namespace

WaveDocument::WaveDocument(AudioChain chain, int untitledNumber, std::filesystem::path file)
    : chain_(std::move(chain)), untitledNumber_(untitledNumber), file_(std::move(file)) {
  viewEnd_ = length();
  busy_.SetIdleHandler([this] {
    if (recordPending_) Record(*std::exchange(recordPending_, std::nullopt));
  });
}

WaveDocument::~WaveDocument() = default;

std::unique_ptr<WaveDocument> WaveDocument::FromRecord(DocumentRecord r) {
  auto doc = std::make_unique<WaveDocument>(std::move(r.present.chain), r.untitledNumber,
                                            std::move(r.file));
  doc->version_ = r.present.version;
  doc->savedVersion_ = r.savedVersion;
  doc->nextVersion_ = std::max(r.nextVersion, r.present.version + 1);
  doc->history_.Load(std::move(r.undo), r.undoIndex);
  doc->SetView(r.present.viewStart, r.present.viewEnd);
  doc->SetSelection(r.present.selStart, r.present.selEnd, r.present.cursor);
  doc->SetMark1(r.mark1);
  doc->SetMark2(r.mark2);
  return doc;
}

void WaveDocument::Notify(Change c) {
  if (observer_) observer_(c);
  if (recorder_) Record(c);
}

void WaveDocument::Record(Change c) {
  if (busy()) {
    if (!recordPending_ || Weightier(c, *recordPending_)) recordPending_ = c;
    return;
  }
  recorder_->Changed(*this, c);
}

void WaveDocument::SetRecorder(std::unique_ptr<DocumentRecorder> recorder) {
  recorder_ = std::move(recorder);
  recordPending_.reset();
  if (recorder_) Record(Change::History);
}

FramePos WaveDocument::Clamp(FramePos p) const { return std::clamp<FramePos>(p, 0, length()); }

void WaveDocument::SetChain(AudioChain chain) {
  chain_ = std::move(chain);
  AudioChanged();
}

void WaveDocument::AudioChanged() {
  const FrameCount len = length();
  cursor_ = std::min(cursor_, len);
  selStart_ = std::min(selStart_, len);
  selEnd_ = std::min(selEnd_, len);
  if (viewEnd_ > len) viewEnd_ = len;
  if (viewStart_ > len) viewStart_ = 0;
  Notify(Change::Audio);
}

void WaveDocument::SetSelection(FramePos a, FramePos b, FramePos cursor) {
  selStart_ = Clamp(std::min(a, b));
  selEnd_ = Clamp(std::max(a, b));
  cursor_ = Clamp(cursor);
  Notify(Change::Selection);
}

void WaveDocument::SetCursor(FramePos cursor) {
  cursor_ = Clamp(cursor);
  Notify(Change::Selection);
}

void WaveDocument::SetView(FramePos start, FramePos end) {
  viewStart_ = Clamp(start);
  viewEnd_ = std::max(viewStart_, Clamp(end));
  Notify(Change::View);
}

DocumentState WaveDocument::Snapshot() const {
  return DocumentState{chain_, cursor_, selStart_, selEnd_, viewStart_, viewEnd_, version_};
}

void WaveDocument::Restore(DocumentState state) {
  chain_ = std::move(state.chain);
  version_ = state.version;
  cursor_ = state.cursor;
  selStart_ = state.selStart;
  selEnd_ = state.selEnd;
  viewStart_ = state.viewStart;
  viewEnd_ = state.viewEnd;
  AudioChanged();
  Notify(Change::History);
}

void WaveDocument::PushUndo(std::string_view name) {
  history_.Push(name, Snapshot());
  version_ = nextVersion_++;
  Notify(Change::History);
}

bool WaveDocument::Undo() {
  auto state = history_.Undo([this] { return Snapshot(); });
  if (!state) return false;
  Restore(std::move(*state));
  return true;
}

bool WaveDocument::Redo() {
  auto state = history_.Redo();
  if (!state) return false;
  Restore(std::move(*state));
  return true;
}

void WaveDocument::SetModified(bool modified) {
  if (!modified) {
    savedVersion_ = version_;
  } else if (version_ == savedVersion_) {
    savedVersion_ = kNoSavedVersion;
  }
  Notify(Change::History);
}

void WaveDocument::SetFile(std::filesystem::path file) {
  file_ = std::move(file);
  Notify(Change::History);
}

std::string WaveDocument::Title() const {
  if (file_.empty() && !displayTitle_.empty()) return displayTitle_;
  if (file_.empty()) return "Untitled " + std::to_string(untitledNumber_);
  return file_.filename().string();
}

}  // namespace quillet::core
