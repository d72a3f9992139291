#include "ui/project_front.h"

#include "batch/bookmarks.h"
#include "cd/burn_entry.h"
#include "core/chain_source.h"
#include "platform/frame_time.h"
#include "ui/cd_dialogs.h"
#include "ui/main_frame.h"
#include "ui/qt_prompter.h"
#include "ui/region_dialogs.h"

namespace quillet::ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

ProjectFront::ProjectFront(MainFrame& frame, core::EditContext& ctx, Transport& transport)
    : frame_(frame), ctx_(ctx), session_(ctx, *this), player_(transport) {}

ProjectFront::~ProjectFront() {
  // The windows are the frame's children; they must not outlive the session they show.
  delete bookmarks_;
  delete regions_;
}

core::WaveDocument* ProjectFront::AdoptDocument(std::unique_ptr<core::WaveDocument> doc) {
  DocumentWindow* w = frame_.AddDocument(std::move(doc));
  return w ? &w->doc() : nullptr;
}

int ProjectFront::NextUntitledNumber() { return frame_.nextUntitled_++; }

std::vector<core::WaveDocument*> ProjectFront::Documents() {
  std::vector<core::WaveDocument*> out;
  for (DocumentWindow* w : frame_.docs_) out.push_back(&w->doc());
  return out;
}

core::WaveDocument* ProjectFront::ActiveDocument() {
  return frame_.active_ ? &frame_.active_->doc() : nullptr;
}

void ProjectFront::ActivateDocument(core::WaveDocument* doc) {
  for (DocumentWindow* w : frame_.docs_)
    if (&w->doc() == doc) frame_.Activate(w);
}

bool ProjectFront::CloseAllDocuments(bool ask) { return frame_.CloseAll(ask, /*askProject=*/false); }

formats::DispatchEnv ProjectFront::Env() { return frame_.Env(); }

void ProjectFront::MarksChanged() {
  if (bookmarks_) bookmarks_->Refill();
  if (regions_) regions_->Refill();
  for (DocumentWindow* w : frame_.docs_) w->SetMarks(MarksOf(w->doc()));
  frame_.setWindowTitle(Q(session_.WindowTitle()));
  frame_.RefreshStates();
}

std::vector<RulerMark> ProjectFront::MarksOf(const core::WaveDocument& doc) const {
  std::vector<RulerMark> marks;
  const std::uint32_t rate = doc.sampleRate();
  auto frames = [rate](std::uint32_t ms) { return platform::FramesFromMs(ms, rate); };
  for (const core::Bookmark& b : session_.marks().bookmarks) {
    if (b.document != &doc) continue;
    marks.push_back({frames(b.positionMs), RulerMark::Bookmark,
                     Q(b.name + "\n" + batch::BookmarkTimeText(b.positionMs))});
  }
  for (const core::Region& r : session_.marks().regions) {
    if (r.document != &doc) continue;
    marks.push_back({frames(r.startMs), RulerMark::RegionStart, Q(">" + r.name + "\n" + batch::BookmarkTimeText(r.startMs))});
    marks.push_back({frames(r.endMs), RulerMark::RegionEnd, Q("<" + r.name + "\n" + batch::BookmarkTimeText(r.endMs))});
  }
  return marks;
}

void ProjectFront::ShowBookmarkList() {
  if (!bookmarks_) bookmarks_ = new BookmarkListWindow(&frame_, session_);
  bookmarks_->Refill();
  bookmarks_->show();
  bookmarks_->raise();
}

void ProjectFront::ShowRegionList() {
  if (!regions_)
    regions_ = new RegionListWindow(
        &frame_, session_, ctx_.settings, player_, [this](const std::vector<std::size_t>& rows) { BurnRegions(rows); },
        [this] { ShowAssemble(); }, [this] { return Env(); });
  regions_->Refill();
  regions_->show();
  regions_->raise();
}

void ProjectFront::ShowAssemble() {
  QWidget* parent = regions_ && regions_->isVisible() ? static_cast<QWidget*>(regions_) : &frame_;
  RunAssembleDialog(parent, session_, ctx_.settings, player_);
}

void ProjectFront::BurnRegions(const std::vector<std::size_t>& rows) {
  cd::BurnSettings settings;
  QWidget* parent = regions_ ? static_cast<QWidget*>(regions_) : &frame_;
  if (rows.empty() || !AskBurnSettings(parent, ctx_.settings, &settings)) return;
  player_.Stop();
  std::vector<cd::BurnTrack> tracks;
  for (std::size_t i : rows) {
    const core::Region& r = session_.marks().regions[i];
    tracks.push_back({r.name, core::ChainOpenSource(r.audio)});
  }
  if (cd::BurnAudioTracks(ctx_, tracks, settings) == platform::kTaskFailed && !ctx_.messageShown &&
      !ctx_.message.empty())
    ShowMessageBox(parent, ctx_.message, "Quillet", platform::MessageIcon::Warning, platform::MessageButtons::Ok);
  ctx_.message.clear();
  ctx_.messageShown = false;
}

}  // namespace quillet::ui
