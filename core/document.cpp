#include "core/document.h"

#include <algorithm>

namespace quillet::core {
namespace {

// Never equal to a version: the document differs from its file whatever happens.
constexpr std::uint64_t kNoSavedVersion = 0;

}  // namespace

WaveDocument::WaveDocument(AudioChain chain, int untitledNumber, std::filesystem::path file)
    : chain_(std::move(chain)), untitledNumber_(untitledNumber), file_(std::move(file)) {
  viewEnd_ = length();
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
